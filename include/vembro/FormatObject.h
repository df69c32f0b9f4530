#pragma once
// The one format object, handed out by the system's collections and by every
// component built on the kit: an immutable ITolviFileFormat. The name is kept
// byte for byte as given, and a null name answers get_Name with
// E_OUTOFMEMORY, as a failed copy would.
#include <windows.h>
#include <string>

#include "vembro/Vembro.h"

namespace vembro {

struct FormatFields {
    short id = -1;
    BSTR name = nullptr; // borrowed: the object keeps its own copy
    std::wstring defaultExtension;
    std::wstring extensions;
    bool complex = false;
};

// A new format object (one reference for the caller); *out is null on failure.
HRESULT CreateFormatObject_nothrow(const FormatFields& fields, ITolviFileFormat** out) noexcept;

} // namespace vembro
