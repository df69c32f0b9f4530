#include "catalogue/FormatsInfo.h"

#include <new>
#include <utility>

#include "catalogue/SLock.h"
#include "vembro/com/Error.h"
#include "vembro/com/Strings.h"

namespace vembro {

CFormatInfo::CFormatInfo(const CFormatInfo& other)
    : ID(other.ID), Name(CopyBstr(other.Name.get())), DefaultExtention(other.DefaultExtention),
      Extentions(other.Extentions), IsComplex(other.IsComplex)
{
}

CFormatInfo& CFormatInfo::operator=(const CFormatInfo& other)
{
    if (this != &other)
        *this = CFormatInfo(other);
    return *this;
}

HRESULT CFormatInfo::FromFormat(ITolviFileFormat* format) noexcept
try {
    if (!format)
        return E_POINTER;
    // The order of the reads is observable by the component; the first
    // failure ends the record where it is.
    unique_bstr name;
    ThrowIfFailed(format->get_Name(name.put()));
    Name = std::move(name);

    VARIANT_BOOL complex = VARIANT_FALSE;
    ThrowIfFailed(format->get_IsComplex(&complex));
    IsComplex = complex != VARIANT_FALSE;

    unique_bstr defaultExt;
    ThrowIfFailed(format->get_DefaultExtention(defaultExt.put()));
    DefaultExtention = AnsiFromBstr(defaultExt.get());

    unique_bstr exts;
    ThrowIfFailed(format->get_Extentions(exts.put()));
    Extentions = AnsiFromBstr(exts.get());

    short id = -1;
    ThrowIfFailed(format->get_ID(&id));
    ID = id;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

namespace {
std::string LowerAnsi(std::string text)
{
    if (!text.empty())
        ::CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}
} // namespace

BOOL CFormatInfo::MatchesExt(const char* ext) const
{
    if (!ext)
        return FALSE;
    if (::lstrcmpiA(ext, DefaultExtention.c_str()) == 0)
        return TRUE;
    // Whole items of the "."-separated list only: "tm" must not match
    // "htm.html", nor ".html" (given with its dot).
    std::string needle = LowerAnsi("." + std::string(ext) + ".");
    std::string haystack = LowerAnsi("." + Extentions + ".");
    return haystack.find(needle) != std::string::npos;
}

std::string CFormatInfo::NameAnsi() const
{
    return AnsiFromBstr(Name.get());
}

namespace {
// Records leave the store only as copies.
BOOL CopyRecord(const CFormatInfo* found, CFormatInfo* out)
{
    if (!found)
        return FALSE;
    if (out)
        *out = *found;
    return TRUE;
}
} // namespace

HRESULT CFormatsInfo::Add(ITolviFileFormat* format, CFormatInfo* out) noexcept
try {
    // The component is asked before the lock is taken: nothing calls out of
    // the store while it is locked.
    CFormatInfo record;
    HRESULT hr = record.FromFormat(format);
    if (FAILED(hr))
        return hr;

    CSLock<CFormatsInfo> lock(this);
    // The first format object that reports an identifier defines it.
    if (!CFormatMap<CFormatInfo>::Lookup(record.ID))
        SetAt(record.ID, record);
    if (out)
        *out = record;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

BOOL CFormatsInfo::Lookup(short id, CFormatInfo* out) noexcept
try {
    CSLock<CFormatsInfo> lock(this);
    const CFormatInfo* found = CFormatMap<CFormatInfo>::Lookup(id);
    return CopyRecord(found, out);
} catch (...) {
    return FALSE;
}

BOOL CFormatsInfo::FindByName(const char* name, CFormatInfo* out) noexcept
try {
    if (!name)
        return FALSE;
    CSLock<CFormatsInfo> lock(this);
    const CFormatInfo* found = nullptr;
    ForEach([&](short, const CFormatInfo& info) {
        if (!found && ::lstrcmpA(info.NameAnsi().c_str(), name) == 0)
            found = &info;
    });
    return CopyRecord(found, out);
} catch (...) {
    return FALSE;
}

BOOL CFormatsInfo::MatchExt(short id, const char* ext) noexcept
try {
    CFormatInfo info;
    return Lookup(id, &info) && info.MatchesExt(ext);
} catch (...) {
    return FALSE;
}

// The CFormatIDs operations that need a format store: lookups by name,
// position and extension, and the order of detection results.

short CFormatIDs::IndexOfName(const char* name, CFormatsInfo& store) const
{
    if (!name)
        return -1;
    // The name is resolved store-wide first: only the store's first record
    // of that name counts, even if a later one of the same name is listed.
    CFormatInfo info;
    if (!store.FindByName(name, &info))
        return -1;
    return Find(info.ID);
}

BOOL CFormatIDs::GetInfo(short index, CFormatInfo* out, CFormatsInfo& store) const
{
    if (index < 0 || index >= GetCount())
        return FALSE;
    return store.Lookup(m_ids[static_cast<size_t>(index)], out);
}

HRESULT CFormatIDs::FilterByExt(const char* ext, CFormatIDs& out, CFormatsInfo& store) const
{
    if (!ext)
        return E_POINTER;
    CFormatIDs matching;
    for (short id : m_ids)
        if (store.MatchExt(id, ext))
            matching.Add(id);
    out.m_ids.swap(matching.m_ids);
    return S_OK;
}

CFormatIDs& CFormatIDs::SortComplexFirst(CFormatsInfo& store)
{
    if (m_ids.size() < 2)
        return *this;
    // Walking down from the end and moving every simple (or unknown) format
    // to the back keeps the complex ones in their order and reverses the rest.
    for (size_t pos = m_ids.size(); pos-- > 0;) {
        short id = m_ids[pos];
        CFormatInfo info;
        if (!store.Lookup(id, &info) || !info.IsComplex) {
            m_ids.erase(m_ids.begin() + static_cast<std::ptrdiff_t>(pos));
            m_ids.push_back(id);
        }
    }
    return *this;
}

} // namespace vembro
