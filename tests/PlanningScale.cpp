// Route planning at scale: random converters and translators among a few hundred formats, planned by the registry's
// own planner and checked pair by pair against a model of the rules and of the tables' order written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "RegistryTestSupport.h"
#include "catalogue/FormatPairs.h"
#include "chains/RoutePlanner.h"

using namespace vembro;
using catalogue_test::Ids;

namespace {

// A format-keyed table's order for keys inserted so (repeats ignored):
// buckets (unsigned)(int)id >> 4 modulo 17 ascending, the latest key first.
Ids Enumerate(const Ids& inserted)
{
    std::set<short> seen;
    std::vector<std::tuple<unsigned, size_t, short>> order;
    for (size_t i = 0; i < inserted.size(); ++i)
        if (seen.insert(inserted[i]).second)
            order.emplace_back((static_cast<std::uint32_t>(static_cast<std::int32_t>(inserted[i])) >> 4) % 17u,
                               inserted.size() - i, inserted[i]);
    std::sort(order.begin(), order.end());
    Ids result;
    for (const auto& entry : order)
        result.push_back(std::get<2>(entry));
    return result;
}

// ids and then the ids of more that it lacks, source (if given) moved first.
Ids Union(Ids ids, const Ids& more, short source = 5000)
{
    for (short id : more)
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    auto it = std::find(ids.begin(), ids.end(), source);
    if (it != ids.end())
        std::rotate(ids.begin(), it, it + 1);
    return ids;
}

// One kind of component: pairs in the order the registry saw them.
struct Components {
    std::set<std::pair<short, short>> pairs;
    Ids sources;
    std::map<short, Ids> targets;
    void Add(short s, short t)
    {
        pairs.insert({s, t});
        sources.push_back(s);
        targets[s].push_back(t);
    }
    bool Has(short s, short t) const { return pairs.count({s, t}) != 0; }
    Ids Targets(short s) const { return targets.count(s) ? Union(Enumerate(targets.at(s)), {}, s) : Ids(); }
};

std::string Item(bool converter, short a, short b)
{
    return (converter ? "C(" : "T(") + std::to_string(a) + "," + std::to_string(b) + ")";
}

// The rules: a pair with a real translator has no chain; else C(S,X) T(X,U) with X the first of S's converter targets
// that has a translator to U; else base(S,X) C(X,V) with X the first of S's route targets (after the first kind of
// chain) that has a converter to V, base being S's chain to X or else T(S,X). A source's chains are inserted ordered
// by X's position, then by the target's position among X's targets.
struct Model {
    std::map<std::pair<short, short>, std::string> chains;
    std::map<short, Ids> chainTargets;
    Ids chainSources;

    Model(const Components& conv, const Components& tr, const Ids& formats)
    {
        auto plan = [&](short s, const Ids& middles, const Components& second, bool convFirst) {
            std::vector<std::tuple<size_t, size_t, short, std::string>> found;
            for (short u : formats) {
                if (tr.Has(s, u) || chains.count({s, u}))
                    continue;
                for (size_t xi = 0; xi < middles.size(); ++xi) {
                    const short x = middles[xi];
                    if (!second.Has(x, u))
                        continue;
                    const Ids order = second.Targets(x);
                    const auto base = chains.find({s, x});
                    found.emplace_back(xi, std::find(order.begin(), order.end(), u) - order.begin(), u,
                                       (base != chains.end() ? base->second : Item(convFirst, s, x)) + " " + Item(!convFirst, x, u));
                    break;
                }
            }
            std::sort(found.begin(), found.end());
            if (!found.empty() && chainTargets[s].empty())
                chainSources.push_back(s);
            for (const auto& f : found) {
                chainTargets[s].push_back(std::get<2>(f));
                chains[{s, std::get<2>(f)}] = std::get<3>(f);
            }
        };
        for (short s : Enumerate(conv.sources))
            plan(s, conv.Targets(s), tr, true);
        for (short s : RouteSources(tr))
            plan(s, RouteTargets(tr, s), conv, false);
    }
    Ids RouteSources(const Components& tr) { return Union(Enumerate(tr.sources), Enumerate(chainSources)); }
    Ids RouteTargets(const Components& tr, short s) { return Union(tr.Targets(s), Enumerate(chainTargets[s]), s); }
};

} // namespace

TEST(PlanningScale, EveryPairGetsTheChainAndEverySourceTheTargetsTheRulesPick)
{
    std::mt19937 rng(20261205u);
    std::set<short> ids;
    std::uniform_int_distribution<int> anyId(-700, 4000);
    while (ids.size() < 300)
        ids.insert(static_cast<short>(anyId(rng)));
    Ids formats(ids.begin(), ids.end());
    std::shuffle(formats.begin(), formats.end(), rng);
    std::uniform_int_distribution<size_t> pick(0, formats.size() - 1), pickHub(0, 19);
    std::bernoulli_distribution toItself(0.05);
    Components conv, tr;
    CFormatPairs converters, translators;
    // Many translators lead into a few popular formats, so that one pair is
    // often reachable through several intermediate formats.
    auto add = [&](Components& model, CFormatPairs& table, int count, double toHub) {
        std::bernoulli_distribution hub(toHub);
        for (int i = 0; i < count; ++i) {
            const short s = formats[pick(rng)];
            const short t = toItself(rng) ? s : formats[hub(rng) ? pickHub(rng) : pick(rng)];
            ASSERT_EQ(S_OK, table.AddPair(s, t, GUID{static_cast<unsigned long>(i)}));
            model.Add(s, t);
        }
    };
    add(conv, converters, 900, 0.0);
    add(tr, translators, 600, 0.7);

    CPairChains chains;
    PlanRoutes(converters, translators, chains);
    Model model(conv, tr, formats);
    int mismatches = 0, shapes[3] = {};
    Ids probes = formats;
    probes.push_back(5000); // no format at all
    for (short s : probes)
        for (short v : probes) {
            CChain planned;
            const std::string got = chains.GetChain(s, v, planned) ? catalogue_test::Describe(planned) : "none";
            const std::string want = model.chains.count({s, v}) ? model.chains.at({s, v}) : "none";
            if (got != want && ++mismatches <= 10)
                ADD_FAILURE() << s << "->" << v << ": planned " << got << ", expected " << want;
            if (got == want && want != "none")
                ++shapes[planned.GetSize() == 3 ? 2 : planned[0].m_nType];
        }
    CFormatIDs sources, targets;
    GetRouteSourceIDs(translators, chains, sources);
    EXPECT_EQ(model.RouteSources(tr), sources.Items());
    for (short s : formats) {
        GetRouteTargetIDs(translators, chains, s, targets);
        if (model.RouteTargets(tr, s) != targets.Items() && ++mismatches <= 15)
            ADD_FAILURE() << "route targets of " << s << " differ";
    }
    EXPECT_EQ(0, mismatches);
    // Data too thin would prove nothing: all three shapes occur many times.
    EXPECT_TRUE(shapes[CHAINITEM_CONVERTER] > 50 && shapes[CHAINITEM_TRANSLATOR] > 50 && shapes[2] > 50)
        << shapes[CHAINITEM_CONVERTER] << " C-T, " << shapes[CHAINITEM_TRANSLATOR] << " T-C, " << shapes[2] << " C-T-C";
}
