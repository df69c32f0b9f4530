#include "chains/Translators.h"

#include <utility>

#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "chains/RealTranslators.h"
#include "chains/RoutePlanner.h"
#include "vembro/com/Error.h"

namespace vembro {

HRESULT CTranslators::Build()
{
    // Lock order: this registry, then the converters or the translators,
    // then the format store (taken inside their loads).
    CSLock<CTranslators> lock(this);
    if (m_bBuilt)
        return S_OK;
    HRESULT hrConverters = g_Converters.Load();
    HRESULT hrTranslators = g_RealTranslators.Load();
    if (FAILED(hrTranslators))
        return hrTranslators; // not built: the next call tries again
    if (FAILED(hrConverters)) {
        // Without converters only the direct translations exist, for the
        // rest of the process.
        m_bBuilt = TRUE;
        return S_FALSE;
    }
    PlanRoutes(g_Converters, g_RealTranslators, m_PairChains);
    m_bBuilt = TRUE;
    return S_OK;
}

void CTranslators::GetSourceIDs(CFormatIDs& out) const
{
    GetRouteSourceIDs(g_RealTranslators, m_PairChains, out);
}

void CTranslators::GetTargetIDs(short src, CFormatIDs& out) const
{
    GetRouteTargetIDs(g_RealTranslators, m_PairChains, src, out);
}

BOOL CTranslators::HasRoute(short src, short tgt)
{
    if (g_RealTranslators.HasTranslator(src, tgt))
        return TRUE;
    return m_PairChains.HasChain(src, tgt);
}

HRESULT CTranslators::CreateTranslator(short src, short tgt, ITolviFileTranslator** out) noexcept
try {
    if (!out)
        return E_POINTER;
    if (ITolviFileTranslator* held = std::exchange(*out, nullptr))
        held->Release();
    HRESULT hr = Build(); // holds the lock only while it plans
    if (FAILED(hr))
        return hr;
    // A pair that one component handles gets that component itself.
    if (g_RealTranslators.HasTranslator(src, tgt))
        return g_RealTranslators.CreateTranslator(src, tgt, out);
    CChain chain;
    if (!m_PairChains.GetChain(src, tgt, chain))
        return E_INVALIDARG;
    return m_pfnMakeChain(chain, out);
}
VEMBRO_CATCH_RETURN()

HRESULT CTranslators::GetAvailableFormats(const VARIANT& data, tagFILEDATATYPE type, CFormatIDs& out)
{
    out.RemoveAll();
    CSLock<CTranslators> lock(this);
    HRESULT hr = Build();
    if (FAILED(hr))
        return hr;
    CFormatIDs sources;
    GetSourceIDs(sources);
    if (sources.IsEmpty())
        return S_FALSE;
    // Both registries are always asked, converters first; a detection that
    // fails counts as finding nothing.
    CFormatIDs byConverters, byTranslators;
    if (FAILED(g_Converters.GetAvailableFormats(data, type, byConverters)))
        byConverters.RemoveAll();
    if (FAILED(g_RealTranslators.GetAvailableFormats(data, type, byTranslators)))
        byTranslators.RemoveAll();
    if (byConverters.IsEmpty() && byTranslators.IsEmpty())
        return S_FALSE;
    // Only formats from which some route starts are listed, in route order.
    CFormatIDs found;
    for (short source : sources.Items())
        if (byConverters.Find(source) >= 0 || byTranslators.Find(source) >= 0)
            found.Add(source);
    out.Copy(found.SortComplexFirst());
    return S_OK;
}

} // namespace vembro
