#include "chains/Chain.h"

#include "vembro/com/Error.h"

namespace vembro {

HRESULT CTgtChains::SetChain(short tgt, const CChain& chain) noexcept
try {
    SetAt(tgt, chain);
    return S_OK;
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

HRESULT CPairChains::SetChain(short src, short tgt, const CChain& chain) noexcept
{
    std::unique_ptr<CTgtChains>* slot = Lookup(src);
    if (!slot || !*slot) {
        try {
            slot = &SetAt(src, std::make_unique<CTgtChains>());
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    return (*slot)->SetChain(tgt, chain);
}

BOOL CPairChains::GetChain(short src, short tgt, CChain& out) const
{
    out.RemoveAll();
    const std::unique_ptr<CTgtChains>* targets = Lookup(src);
    if (!targets || !*targets)
        return FALSE;
    const CChain* chain = (*targets)->Lookup(tgt);
    if (!chain)
        return FALSE;
    out = *chain;
    return TRUE;
}

// Planning asks this for every candidate pair: a lookup, no copy.
BOOL CPairChains::HasChain(short src, short tgt) const
{
    const std::unique_ptr<CTgtChains>* targets = Lookup(src);
    return targets && *targets && (*targets)->Lookup(tgt) != nullptr;
}

void CPairChains::GetSourceIDs(CFormatIDs& out) const
{
    CFormatIDs ids;
    ForEach([&](short key, const std::unique_ptr<CTgtChains>& targets) {
        if (targets)
            ids.Add(key);
    });
    out.Copy(ids);
}

void CPairChains::GetTargetIDs(short src, CFormatIDs& out) const
{
    CFormatIDs ids;
    const std::unique_ptr<CTgtChains>* targets = Lookup(src);
    if (targets && *targets)
        (*targets)->ForEach([&](short key, const CChain&) { ids.Add(key); });
    out.Copy(ids);
}

} // namespace vembro
