#pragma once
// The only ways in which format collections and format objects are made.
#include <windows.h>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatsInfo.h"
#include "vembro/Vembro.h"

namespace vembro {

HRESULT CreateFileFormats(const CFormatIDs& ids, ITolviFileFormats** out) noexcept;
HRESULT CreateFileFormat(const CFormatInfo& info, ITolviFileFormat** out) noexcept;

} // namespace vembro
