// Route planning at scale: a few hundred formats with random converters and
// translators, planned from in-memory pair tables by the planner that the
// route registry uses, and checked pair by pair against a model of the rules
// written here from scratch (its own model of the tables' enumeration order,
// and each pair's winner stated directly instead of by running the loops).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "catalogue/FormatPairs.h"
#include "chains/Chain.h"
#include "chains/RoutePlanner.h"

using namespace vembro;

namespace {

using Ids = std::vector<short>;
using PairKey = std::pair<short, short>;

// The enumeration order of a format-keyed table that received `inserted`
// (first insertion counts): buckets by (unsigned)(int)id >> 4 modulo 17 in
// ascending order, the latest key of a bucket first.
Ids Enumerate(const Ids& inserted)
{
    Ids keys;
    for (short id : inserted)
        if (std::find(keys.begin(), keys.end(), id) == keys.end())
            keys.push_back(id);
    std::vector<std::pair<std::pair<unsigned, size_t>, short>> order;
    for (size_t i = 0; i < keys.size(); ++i) {
        unsigned bucket = (static_cast<std::uint32_t>(static_cast<std::int32_t>(keys[i])) >> 4) % 17u;
        order.push_back({{bucket, keys.size() - i}, keys[i]});
    }
    std::sort(order.begin(), order.end());
    Ids result;
    for (const auto& entry : order)
        result.push_back(entry.second);
    return result;
}

Ids SourceFirst(Ids ids, short source)
{
    auto it = std::find(ids.begin(), ids.end(), source);
    if (ids.size() >= 2 && it != ids.end() && it != ids.begin())
        std::rotate(ids.begin(), it, it + 1);
    return ids;
}

// Appends the ids of `more` that `base` lacks.
Ids Union(Ids base, const Ids& more)
{
    for (short id : more)
        if (std::find(base.begin(), base.end(), id) == base.end())
            base.push_back(id);
    return base;
}

size_t IndexOf(const Ids& ids, short id)
{
    return static_cast<size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
}

// One kind of component: pairs in insertion order, as the registry saw them.
struct Components {
    std::set<PairKey> pairs;
    Ids sources;                  // insertion order of sources
    std::map<short, Ids> targets; // insertion order of each source's targets

    void Add(short s, short t)
    {
        pairs.insert({s, t});
        sources.push_back(s);
        targets[s].push_back(t);
    }
    bool Has(short s, short t) const { return pairs.count({s, t}) != 0; }
    Ids TargetsSourceFirst(short s) const
    {
        auto it = targets.find(s);
        return it == targets.end() ? Ids() : SourceFirst(Enumerate(it->second), s);
    }
};

CChainItem C(short s, short t) { return CChainItem(s, t, CHAINITEM_CONVERTER); }
CChainItem T(short s, short t) { return CChainItem(s, t, CHAINITEM_TRANSLATOR); }

struct Expected {
    std::map<PairKey, CChain> chains;
    Ids routeSources;
    std::map<short, Ids> routeTargets;
};

// The rules, pair by pair:
//  - a pair with a real translator has no chain;
//  - else C(S->X),T(X->U) with X the first of S's converter targets (S
//    first) that has a translator to U;
//  - else base(S->X) + C(X->V) with X the first of S's route targets after
//    the converter-translator chains (S first) that has a converter to V;
//    base is S's chain to X if there is one, else T(S->X).
Expected Model(const Components& conv, const Components& tr, const Ids& formats)
{
    Expected e;
    std::map<short, Ids> chainTargetsInserted;
    Ids chainSourcesInserted;
    auto addChains = [&](short s, std::vector<std::pair<std::pair<size_t, size_t>, std::pair<short, CChain>>> found) {
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        if (!found.empty() && chainTargetsInserted[s].empty())
            chainSourcesInserted.push_back(s);
        for (auto& f : found) {
            chainTargetsInserted[s].push_back(f.second.first);
            e.chains[{s, f.second.first}] = f.second.second;
        }
    };

    // Converter then translator.
    Ids convSources = Enumerate(conv.sources);
    for (short s : convSources) {
        Ids middles = conv.TargetsSourceFirst(s);
        std::vector<std::pair<std::pair<size_t, size_t>, std::pair<short, CChain>>> found;
        for (short u : formats) {
            if (tr.Has(s, u))
                continue;
            for (size_t xi = 0; xi < middles.size(); ++xi) {
                short x = middles[xi];
                if (!tr.Has(x, u))
                    continue;
                CChain chain;
                chain.Add(C(s, x));
                chain.Add(T(x, u));
                found.push_back({{xi, IndexOf(tr.TargetsSourceFirst(x), u)}, {u, chain}});
                break;
            }
        }
        addChains(s, found);
    }

    // A converter after the routes known at that point.
    Ids sources = Union(Enumerate(tr.sources), Enumerate(chainSourcesInserted));
    for (short s : sources) {
        Ids reached = SourceFirst(Union(tr.TargetsSourceFirst(s), Enumerate(chainTargetsInserted[s])), s);
        std::vector<std::pair<std::pair<size_t, size_t>, std::pair<short, CChain>>> found;
        for (short v : formats) {
            if (tr.Has(s, v) || e.chains.count({s, v}))
                continue;
            for (size_t xi = 0; xi < reached.size(); ++xi) {
                short x = reached[xi];
                if (!conv.Has(x, v))
                    continue;
                auto base = e.chains.find({s, x});
                CChain chain;
                if (base != e.chains.end())
                    chain = base->second;
                else
                    chain.Add(T(s, x));
                chain.Add(C(x, v));
                found.push_back({{xi, IndexOf(conv.TargetsSourceFirst(x), v)}, {v, chain}});
                break;
            }
        }
        addChains(s, found);
    }

    e.routeSources = Union(Enumerate(tr.sources), Enumerate(chainSourcesInserted));
    for (short s : formats)
        e.routeTargets[s] = SourceFirst(Union(tr.TargetsSourceFirst(s), Enumerate(chainTargetsInserted[s])), s);
    return e;
}

Ids ToIds(const CFormatIDs& list) { return list.Items(); }

class PlanningScale : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(20261205u);
        std::set<short> ids;
        std::uniform_int_distribution<int> anyId(-700, 4000);
        while (ids.size() < 300)
            ids.insert(static_cast<short>(anyId(rng)));
        formats.assign(ids.begin(), ids.end());
        std::shuffle(formats.begin(), formats.end(), rng);

        std::uniform_int_distribution<size_t> pick(0, formats.size() - 1);
        std::uniform_int_distribution<size_t> pickHub(0, 19);
        std::bernoulli_distribution toItself(0.05);
        // Many translators lead into a few popular formats, so that one pair
        // is often reachable through several intermediate formats.
        auto add = [&](Components& model, CFormatPairs& table, int count, double toHub) {
            std::bernoulli_distribution hub(toHub);
            for (int i = 0; i < count; ++i) {
                short s = formats[pick(rng)];
                short t = toItself(rng) ? s : formats[hub(rng) ? pickHub(rng) : pick(rng)];
                GUID clsid = {static_cast<unsigned long>(i), 0, 0, {0}};
                ASSERT_EQ(S_OK, table.AddPair(s, t, clsid));
                model.Add(s, t);
            }
        };
        // Components arrive interleaved with repeats of known pairs.
        add(conv, converters, 900, 0.0);
        add(tr, translators, 600, 0.7);
        std::vector<PairKey> repeated(conv.pairs.begin(), conv.pairs.end());
        std::shuffle(repeated.begin(), repeated.end(), rng);
        for (size_t i = 0; i < 40; ++i) {
            ASSERT_EQ(S_OK, converters.AddPair(repeated[i].first, repeated[i].second, GUID{0xFFFF}));
            conv.Add(repeated[i].first, repeated[i].second);
        }
    }

    Ids formats;
    Components conv, tr;
    CFormatPairs converters, translators;
};

} // namespace

TEST_F(PlanningScale, EveryPairGetsTheChainTheRulesPick)
{
    CPairChains chains;
    PlanRoutes(converters, translators, chains);
    Expected e = Model(conv, tr, formats);

    int mismatches = 0;
    Ids probes = formats;
    probes.push_back(-1);
    probes.push_back(5000); // not a format at all
    for (short s : probes) {
        for (short v : probes) {
            CChain planned;
            BOOL has = chains.GetChain(s, v, planned);
            auto it = e.chains.find({s, v});
            bool expected = it != e.chains.end();
            if (has != (expected ? TRUE : FALSE) || (expected && !(planned == it->second))) {
                if (++mismatches <= 10)
                    ADD_FAILURE() << "pair " << s << "->" << v << (has ? " planned" : " not planned")
                                  << (expected ? ", expected a chain" : ", expected none");
            }
        }
    }
    EXPECT_EQ(0, mismatches);
}

TEST_F(PlanningScale, RouteSourcesAndTargetsFollowEnumerationOrder)
{
    CPairChains chains;
    PlanRoutes(converters, translators, chains);
    Expected e = Model(conv, tr, formats);

    CFormatIDs sources;
    GetRouteSourceIDs(translators, chains, sources);
    EXPECT_EQ(e.routeSources, ToIds(sources));
    int mismatches = 0;
    for (short s : formats) {
        CFormatIDs targets;
        GetRouteTargetIDs(translators, chains, s, targets);
        if (e.routeTargets[s] != ToIds(targets) && ++mismatches <= 5)
            ADD_FAILURE() << "targets of " << s << " differ";
    }
    EXPECT_EQ(0, mismatches);
}

TEST_F(PlanningScale, TheDataExerciseEveryShapeAndRealTies)
{
    // Guards the two tests above against data too thin to prove anything:
    // all three shapes occur, and many pairs had several candidates of which
    // the enumeration order (not the order of arrival) picked the winner.
    Expected e = Model(conv, tr, formats);
    int convertTranslate = 0, translateConvert = 0, threeSteps = 0;
    for (const auto& entry : e.chains) {
        const CChain& chain = entry.second;
        if (chain.GetSize() == 3)
            ++threeSteps;
        else if (chain[0].m_nType == CHAINITEM_CONVERTER)
            ++convertTranslate;
        else
            ++translateConvert;
    }
    EXPECT_GT(convertTranslate, 50);
    EXPECT_GT(translateConvert, 50);
    EXPECT_GT(threeSteps, 50);

    int tiesDecidedByEnumeration = 0;
    for (short s : Enumerate(conv.sources)) {
        Ids byArrival;
        for (short x : conv.targets[s])
            if (std::find(byArrival.begin(), byArrival.end(), x) == byArrival.end())
                byArrival.push_back(x);
        Ids byEnumeration = conv.TargetsSourceFirst(s);
        for (short u : formats) {
            auto first = [&](const Ids& order) {
                for (short x : order)
                    if (tr.Has(x, u))
                        return x;
                return static_cast<short>(-32768);
            };
            if (!tr.Has(s, u) && first(byArrival) != first(byEnumeration))
                ++tiesDecidedByEnumeration;
        }
    }
    EXPECT_GT(tiesDecidedByEnumeration, 5);
    std::printf("chains: %d C-T, %d T-C, %d C-T-C; %d ties decided by enumeration order\n", convertTranslate,
                translateConvert, threeSteps, tiesDecidedByEnumeration);
}
