#pragma once
// Conversions between the UTF-16 of the COM boundary and the ANSI strings of
// the catalogue, always through the system ANSI code page (and the kit's
// UTF-8 documents).
#include <windows.h>
#include <oleauto.h>
#include <string>

#include "vembro/com/Resource.h"

namespace vembro {

// `length` -1 takes the text up to its terminator, which is not kept; text
// that cannot be converted gives an empty string.
std::string NarrowFromWide(UINT codePage, const wchar_t* text, int length);
std::wstring WideFromNarrow(UINT codePage, const char* text, int length);
inline std::string AnsiFromWide(const wchar_t* text, int length = -1) { return NarrowFromWide(CP_ACP, text, length); }
inline std::wstring WideFromAnsi(const char* text, int length = -1) { return WideFromNarrow(CP_ACP, text, length); }
// A new BSTR, or E_OUTOFMEMORY thrown.
unique_bstr BstrFromAnsi(const std::string& text);
// The same without throwing: null on failure.
BSTR BstrFromAnsi_nothrow(const std::string& text) noexcept;

// The braced text of a GUID, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
std::wstring GuidString(const GUID& guid);
// The full path of a loaded module, however long it is.
std::wstring ModulePath(HMODULE module);

inline std::string AnsiFromBstr(BSTR text)
{
    return text ? AnsiFromWide(text, static_cast<int>(::SysStringLen(text))) : std::string();
}

} // namespace vembro
