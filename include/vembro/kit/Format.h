#pragma once
// Format objects: what a component reports through SourceFormat and
// TargetFormat. The catalogue keys everything on the ID, so an author picks
// one that no other installed component uses for a different format.
#include <windows.h>

#include "vembro/Vembro.h"

namespace vembro::kit {

struct FormatSpec {
    short id;
    const wchar_t* name;
    const wchar_t* defaultExtension; // without the dot: L"htm"
    const wchar_t* extensions;       // dot-separated list: L"htm.html"
    bool complex;
};

// A new immutable ITolviFileFormat (one reference for the caller).
HRESULT CreateFormatObject(const FormatSpec& format, ITolviFileFormat** out) noexcept;

} // namespace vembro::kit
