#pragma once
// The one store of format records in the process, g_FormatsInfo. Records come
// from the format objects that components report; the first object that
// reports an identifier defines its record for the rest of the process.
#include <windows.h>
#include <oleauto.h>
#include <string>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatMap.h"
#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace vembro {

class CFormatInfo {
public:
    CFormatInfo() = default;
    CFormatInfo(const CFormatInfo& other);            // throws E_OUTOFMEMORY
    CFormatInfo& operator=(const CFormatInfo& other);
    CFormatInfo(CFormatInfo&&) noexcept = default;
    CFormatInfo& operator=(CFormatInfo&&) noexcept = default;

    short ID = -1;
    unique_bstr Name;                // as the format object gave it, byte for byte, null included
    std::string DefaultExtention;    // ANSI
    std::string Extentions;          // ANSI, "."-separated (htm.html)
    BOOL IsComplex = FALSE;

    HRESULT FromFormat(ITolviFileFormat* format) noexcept;
    BOOL MatchesExt(const char* ext) const;
    std::string NameAnsi() const;
};

class CFormatsInfo : private CFormatMap<CFormatInfo> {
public:
    CFormatsInfo() = default;
    HRESULT Add(ITolviFileFormat* format, CFormatInfo* out) noexcept;
    BOOL Lookup(short id, CFormatInfo* out) noexcept;
    BOOL FindByName(const char* name, CFormatInfo* out) noexcept;
    BOOL MatchExt(short id, const char* ext) noexcept;

    CriticalSection m_cs;
};

extern CFormatsInfo g_FormatsInfo;

} // namespace vembro
