#pragma once
// The fakes' real work: reading what they were given and writing the copy
// that carries their route line.
#include <windows.h>
#include <objidl.h>
#include <string>

namespace fakes {

// Whole files; a failure is the HRESULT of the Win32 error.
HRESULT ReadFileBytes_nothrow(const wchar_t* path, std::string& data) noexcept;
HRESULT WriteFileBytes_nothrow(const wchar_t* path, const std::string& data) noexcept;
// From the stream's current position to its end, which moves the position.
HRESULT ReadStreamRest_nothrow(IStream* stream, std::string& data) noexcept;
// At the stream's current position.
HRESULT WriteStream_nothrow(IStream* stream, const std::string& data) noexcept;

} // namespace fakes
