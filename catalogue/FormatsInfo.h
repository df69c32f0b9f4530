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

// A copyable BSTR that may be null.
class CBstr {
public:
    CBstr() noexcept = default;
    explicit CBstr(BSTR adopt) noexcept : m_str(adopt) {}
    CBstr(const CBstr& other);                  // throws std::bad_alloc
    CBstr& operator=(const CBstr& other);
    CBstr(CBstr&& other) noexcept : m_str(other.Detach()) {}
    CBstr& operator=(CBstr&& other) noexcept;
    ~CBstr() { ::SysFreeString(m_str); }
    BSTR Get() const noexcept { return m_str; }
    BSTR* Put() noexcept;                        // frees, then hands out the slot
    BSTR Detach() noexcept;
    BSTR Copy_nothrow() const noexcept;          // new copy; null when null or out of memory

private:
    BSTR m_str = nullptr;
};

class CFormatInfo {
public:
    short ID = -1;
    CBstr Name;                      // as the format object gave it, null included
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
