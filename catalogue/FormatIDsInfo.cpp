// The CFormatIDs operations that need a format store: lookups by name,
// position and extension, and the order of detection results.
#include "catalogue/FormatIDs.h"
#include "catalogue/FormatsInfo.h"

namespace vembro {

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
