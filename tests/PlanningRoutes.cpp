// Route planning end to end: an installation of fakes, the routes planned from it, and what is handed out for a pair.
#include <algorithm>

#include "RegistryTestSupport.h"
#include "chains/Translators.h"
#include "translator/ChainFileTranslator.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;

namespace {

using Pairs = std::vector<std::pair<short, short>>;

// Converters named C<source>_<target>, translators T<source>_<target>.
void Install(fakes::Installation& inst, const Pairs& converters, const Pairs& translators)
{
    auto format = [](short id) { return fakes::Format{id, "F" + std::to_string(id), "f", "f"}; };
    for (const auto& p : converters)
        inst.Converter("C" + std::to_string(p.first) + "_" + std::to_string(p.second), format(p.first), format(p.second));
    for (const auto& p : translators)
        inst.Translator("T" + std::to_string(p.first) + "_" + std::to_string(p.second), format(p.first), format(p.second));
    inst.Install();
}

// Every planned chain, "1->3: C(1,2) T(2,3)", read back through the table.
Lines PlannedChains()
{
    Lines routes;
    CFormatIDs sources, targets;
    g_Translators.m_PairChains.GetSourceIDs(sources);
    for (short s : sources.Items()) {
        g_Translators.m_PairChains.GetTargetIDs(s, targets);
        for (short t : targets.Items()) {
            CChain chain;
            EXPECT_TRUE(g_Translators.m_PairChains.GetChain(s, t, chain));
            std::string text = std::to_string(s) + "->" + std::to_string(t) + ":";
            for (const CChainItem& item : chain.Items())
                text += (item.m_nType == CHAINITEM_CONVERTER ? " C(" : " T(") + std::to_string(item.m_nSource) + "," +
                        std::to_string(item.m_nTarget) + ")";
            routes.push_back(text);
        }
    }
    std::sort(routes.begin(), routes.end());
    return routes;
}

// Every chain planned (sorted), and the route targets of one source in order.
struct ShapeRow { const char* name; Pairs converters, translators; Lines chains; short source; Ids targets; };

const ShapeRow kShapes[] = {
    {"ConverterTranslator", {{-5, 2}}, {{2, 3}}, {"-5->3: C(-5,2) T(2,3)"}, -5, {3}}, // identifiers may be negative
    {"TranslatorConverter", {{2, 4}}, {{-5, 2}}, {"-5->4: T(-5,2) C(2,4)"}, -5, {2, 4}},
    {"ConverterTranslatorConverter", {{1, 2}, {3, 4}}, {{2, 3}},
     {"1->3: C(1,2) T(2,3)", "1->4: C(1,2) T(2,3) C(3,4)", "2->4: T(2,3) C(3,4)"}, 1, {4, 3}},
    {"DirectTranslatorWins", {{1, 2}}, {{2, 3}, {1, 3}}, {}, 1, {3}},
    {"DirectTranslatorWinsOverAConverterAfter", {{2, 3}}, {{1, 2}, {1, 3}}, {}, 1, {3, 2}},
    // 1's chains are made in the order of 2's targets, itself first, so they enumerate 5, 2.
    {"ChainsFollowTheMiddlesTargetsItselfFirst", {{1, 2}}, {{2, 2}, {2, 5}}, {"1->2: C(1,2) T(2,2)", "1->5: C(1,2) T(2,5)"}, 1, {5, 2}},
    // 1: converters to 2 then 3 arrive so, and enumerate 3, 2; 4: to 3 then
    // 16, enumerate 3, 16; 7: translators to 8 then 9, enumerate 9, 8.
    {"TiesGoToTheFirstInEnumerationOrder",
     {{1, 2}, {1, 3}, {4, 3}, {4, 16}, {8, 10}, {9, 10}},
     {{2, 5}, {3, 5}, {3, 6}, {16, 6}, {7, 8}, {7, 9}},
     {"1->5: C(1,3) T(3,5)", "1->6: C(1,3) T(3,6)", "4->5: C(4,3) T(3,5)", "4->6: C(4,3) T(3,6)", "7->10: T(7,9) C(9,10)"}, 7, {9, 8, 10}},
    // Never longer than three steps, nor two converters or translators in a row.
    {"Limits", {{1, 2}, {2, 3}, {6, 7}, {7, 8}, {9, 10}, {11, 12}, {12, 13}},
     {{3, 4}, {5, 6}, {10, 11}, {14, 15}, {15, 16}},
     {"10->12: T(10,11) C(11,12)", "2->4: C(2,3) T(3,4)", "5->7: T(5,6) C(6,7)", "9->11: C(9,10) T(10,11)",
      "9->12: C(9,10) T(10,11) C(11,12)"}, 14, {15}},
    // Round trips extend like any route; 3's own translator to itself wins.
    {"RoundTrips", {{1, 2}, {3, 4}}, {{2, 1}, {3, 3}, {4, 3}, {3, 5}},
     {"1->1: C(1,2) T(2,1)", "1->2: C(1,2) T(2,1) C(1,2)", "2->2: T(2,1) C(1,2)", "3->4: T(3,3) C(3,4)",
      "4->4: T(4,3) C(3,4)"}, 3, {3, 5, 4}},
    // 1's routes to 1 and to 2 are both chains, planned in that order: its route to itself still comes first.
    {"ARouteToItselfComesFirst", {{1, 2}}, {{2, 1}}, {"1->1: C(1,2) T(2,1)", "1->2: C(1,2) T(2,1) C(1,2)", "2->2: T(2,1) C(1,2)"}, 1, {1, 2}},
    {"WithoutConverters", {}, {{1, 2}, {1, 3}, {17, 1}}, {}, 1, {3, 2}}};

void PrintTo(const ShapeRow& row, std::ostream* os) { *os << row.name; } // names the case

class PlanningRoutes : public RegistryTest {};
class PlanningShapes : public RegistryTest, public ::testing::WithParamInterface<ShapeRow> {};

} // namespace

TEST_P(PlanningShapes, EachPairGetsTheRouteTheRulesPick)
{
    const ShapeRow& row = GetParam();
    Install(inst, row.converters, row.translators);
    ASSERT_EQ(S_OK, g_Translators.Build());
    EXPECT_EQ(row.chains, PlannedChains());
    CFormatIDs targets;
    g_Translators.GetTargetIDs(row.source, targets);
    EXPECT_EQ(row.targets, targets.Items());
}

INSTANTIATE_TEST_SUITE_P(Planning, PlanningShapes, ::testing::ValuesIn(kShapes));

TEST_F(PlanningRoutes, APairGetsItsTranslatorOrAChainTranslatorOrNothing)
{
    Install(inst, {{1, 2}}, {{2, 3}, {4, 5}});
    CChain chain;
    chain.Add({1, 2, CHAINITEM_CONVERTER});
    chain.Add({2, 3, CHAINITEM_TRANSLATOR});
    ComPtr<ITolviFileTranslator> translator;
    const HRESULT chainResult = CreateChainTranslator_nothrow(chain, &translator);
    translator.Reset();
    ASSERT_EQ(S_OK, g_Translators.Build());
    inst.ClearJournal();
    EXPECT_EQ(chainResult, g_Translators.CreateTranslator(1, 3, &translator));
    EXPECT_EQ(SUCCEEDED(chainResult), translator != nullptr);
    translator.Reset();
    EXPECT_EQ(Lines{}, inst.Journal()); // a chain translator, no component
    ASSERT_EQ(S_OK, g_Translators.CreateTranslator(4, 5, &translator));
    EXPECT_EQ(Lines{"T4_5.Create"}, inst.Journal());
    inst.ClearJournal();
    ITolviFileTranslator* held = translator.Detach();
    EXPECT_EQ(E_INVALIDARG, g_Translators.CreateTranslator(3, 1, &held));
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ(Lines{"T4_5.Destroy"}, inst.Journal());
    EXPECT_EQ(E_POINTER, g_Translators.CreateTranslator(1, 3, nullptr));
}
