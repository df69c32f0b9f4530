#include "chains/RoutePlanner.h"

namespace vembro {

namespace {

CChain MakeChain(std::initializer_list<CChainItem> items)
{
    CChain chain;
    for (const CChainItem& item : items)
        chain.Add(item);
    return chain;
}

// Phase 1: a converter before a translator.
void PlanConverterThenTranslator(const CFormatPairs& converters, const CFormatPairs& translators,
                                 CPairChains& chains, const CFormatIDs& converterSources)
{
    for (short s : converterSources.Items()) {
        CFormatIDs middles = converters.GetTargetIDsSourceFirst(s);
        for (short x : middles.Items()) {
            CFormatIDs targets = translators.GetTargetIDsSourceFirst(x);
            for (short u : targets.Items()) {
                if (!HasPlannedRoute(translators, chains, s, u))
                    chains.SetChain(s, u, MakeChain({{s, x, CHAINITEM_CONVERTER}, {x, u, CHAINITEM_TRANSLATOR}}));
            }
        }
    }
}

// Phase 2: a converter after the routes that exist when their source is
// reached; each is extended once, so no chain gets longer than three steps
// or two converters in a row.
void PlanConverterAfterRoutes(const CFormatPairs& converters, const CFormatPairs& translators, CPairChains& chains)
{
    CFormatIDs sources;
    GetRouteSourceIDs(translators, chains, sources);
    for (short s : sources.Items()) {
        CFormatIDs reached;
        GetRouteTargetIDs(translators, chains, s, reached);
        for (short x : reached.Items()) {
            CChain base;
            if (!chains.GetChain(s, x, base))
                base = MakeChain({{s, x, CHAINITEM_TRANSLATOR}});
            CFormatIDs targets = converters.GetTargetIDsSourceFirst(x);
            for (short v : targets.Items()) {
                if (HasPlannedRoute(translators, chains, s, v))
                    continue;
                CChain extended = base;
                extended.Add(CChainItem(x, v, CHAINITEM_CONVERTER));
                chains.SetChain(s, v, extended);
            }
        }
    }
}

} // namespace

BOOL HasPlannedRoute(const CFormatPairs& translators, const CPairChains& chains, short src, short tgt)
{
    CLSID clsid;
    if (translators.FindPair(src, tgt, clsid))
        return TRUE;
    return chains.HasChain(src, tgt);
}

void GetRouteSourceIDs(const CFormatPairs& translators, const CPairChains& chains, CFormatIDs& out)
{
    CFormatIDs sources = translators.GetSourceIDs();
    CFormatIDs chainSources;
    chains.GetSourceIDs(chainSources);
    sources.Append(chainSources);
    out.Copy(sources);
}

void GetRouteTargetIDs(const CFormatPairs& translators, const CPairChains& chains, short src, CFormatIDs& out)
{
    CFormatIDs targets = translators.GetTargetIDsSourceFirst(src);
    CFormatIDs chainTargets;
    chains.GetTargetIDs(src, chainTargets);
    targets.Append(chainTargets).MoveToFront(src);
    out.Copy(targets);
}

void PlanRoutes(const CFormatPairs& converters, const CFormatPairs& translators, CPairChains& chains)
{
    CFormatIDs converterSources = converters.GetSourceIDs();
    if (converterSources.IsEmpty())
        return;
    PlanConverterThenTranslator(converters, translators, chains, converterSources);
    PlanConverterAfterRoutes(converters, translators, chains);
}

} // namespace vembro
