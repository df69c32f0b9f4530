#include "chains/RoutePlanner.h"

#include <algorithm>
#include <map>
#include <vector>

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

// Pairs from one source known to have a route. A pair once routed stays
// routed, so a set bit is final; a clear bit only means "not known yet".
class CRoutedTargets {
public:
    CRoutedTargets() : m_bits(kKeys, false) {}
    void Reset() { std::fill(m_bits.begin(), m_bits.end(), false); }
    bool Known(short id) const { return m_bits[Index(id)]; }
    void Mark(short id) { m_bits[Index(id)] = true; }

private:
    static constexpr size_t kKeys = 1u << 16;
    static size_t Index(short id) { return static_cast<unsigned short>(id); }
    std::vector<bool> m_bits;
};

// Phase 2: a converter after the routes that exist when their source is
// reached; each is extended once, so no chain gets longer than three steps
// or two converters in a row. Every source meets most converter targets
// many times over; the routed set answers those repeats without a table
// lookup, and each converter's target list is made once.
void PlanConverterAfterRoutes(const CFormatPairs& converters, const CFormatPairs& translators, CPairChains& chains)
{
    std::map<short, CFormatIDs> converterTargets;
    auto targetsOf = [&](short x) -> const CFormatIDs& {
        auto it = converterTargets.find(x);
        if (it == converterTargets.end())
            it = converterTargets.emplace(x, converters.GetTargetIDsSourceFirst(x)).first;
        return it->second;
    };
    CRoutedTargets routed;
    CChain extended; // reused: assigning keeps its storage
    CFormatIDs sources;
    GetRouteSourceIDs(translators, chains, sources);
    for (short s : sources.Items()) {
        routed.Reset();
        CFormatIDs reached;
        GetRouteTargetIDs(translators, chains, s, reached);
        for (short x : reached.Items()) {
            const CFormatIDs& targets = targetsOf(x);
            if (targets.IsEmpty())
                continue;
            CChain base;
            if (!chains.GetChain(s, x, base))
                base = MakeChain({{s, x, CHAINITEM_TRANSLATOR}});
            for (short v : targets.Items()) {
                if (routed.Known(v))
                    continue;
                if (!HasPlannedRoute(translators, chains, s, v)) {
                    extended = base;
                    extended.Add(CChainItem(x, v, CHAINITEM_CONVERTER));
                    if (FAILED(chains.SetChain(s, v, extended)))
                        continue; // not stored: the pair has no route yet
                }
                routed.Mark(v);
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
