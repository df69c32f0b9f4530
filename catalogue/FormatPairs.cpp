#include "catalogue/FormatPairs.h"

#include "vembro/com/Error.h"

namespace vembro {

HRESULT CTgtFormats::Add(short tgt, const GUID& clsid) noexcept
try {
    m_map.SetAt(tgt, clsid);
    return S_OK;
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

BOOL CTgtFormats::Lookup(short tgt, GUID& clsid) const noexcept
{
    const GUID* found = m_map.Lookup(tgt);
    if (!found)
        return FALSE;
    clsid = *found;
    return TRUE;
}

CFormatIDs CTgtFormats::GetIDs() const
{
    CFormatIDs ids;
    m_map.ForEach([&](short key, const GUID&) { ids.Add(key); });
    return ids;
}

HRESULT CFormatPairs::AddPair(short src, short tgt, const GUID& clsid) noexcept
try {
    std::unique_ptr<CTgtFormats>* slot = m_pairs.Lookup(src);
    if (!slot || !*slot)
        slot = &m_pairs.SetAt(src, std::make_unique<CTgtFormats>());
    return (*slot)->Add(tgt, clsid);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

BOOL CFormatPairs::FindPair(short src, short tgt, GUID& clsid) const noexcept
{
    clsid = GUID{};
    const std::unique_ptr<CTgtFormats>* targets = m_pairs.Lookup(src);
    return targets && *targets && (*targets)->Lookup(tgt, clsid);
}

CFormatIDs CFormatPairs::GetSourceIDs() const
{
    CFormatIDs ids;
    m_pairs.ForEach([&](short key, const std::unique_ptr<CTgtFormats>& targets) {
        if (targets)
            ids.Add(key);
    });
    return ids;
}

CFormatIDs CFormatPairs::GetTargetIDs(short src) const
{
    const std::unique_ptr<CTgtFormats>* targets = m_pairs.Lookup(src);
    return targets && *targets ? (*targets)->GetIDs() : CFormatIDs();
}

CFormatIDs CFormatPairs::GetTargetIDsSourceFirst(short src) const
{
    CFormatIDs ids = GetTargetIDs(src);
    ids.MoveToFront(src);
    return ids;
}

} // namespace vembro
