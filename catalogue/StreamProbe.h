#pragma once
#include <windows.h>
#include <objidl.h>

#include "vembro/Vembro.h"

namespace vembro {

// Asks a converter whether the stream behind `data` is in its source format
// and puts the stream back where it was, also when the converter fails or
// throws. An object without IStream, a stream whose position cannot be read,
// and a probe that throws all count as "cannot tell" (a failure code), so
// that the next converter of the format is asked.
HRESULT ProbeStream_nothrow(ITolviFileConverter* converter, IUnknown* data) noexcept;

} // namespace vembro
