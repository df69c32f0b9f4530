// Route planning end to end: the fakes installed, g_Translators planned from
// the converter and translator registries, and every route checked through
// the chain table. The planner's ties are built so that the enumeration
// order of the tables differs from the order in which components arrive.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <map>
#include <thread>
#include <utility>

#include "RegistryTestSupport.h"
#include "catalogue/Converters.h"
#include "chains/RealTranslators.h"
#include "chains/Translators.h"
#include "translator/ChainFactory.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using fakes::Behaviour;
using fakes::Format;

namespace {

using Routes = std::map<std::pair<short, short>, CChain>;

Format F(short id)
{
    std::string name = "F" + std::to_string(id);
    return Format{id, name, name, name};
}

CChainItem C(short s, short t) { return CChainItem(s, t, CHAINITEM_CONVERTER); }
CChainItem T(short s, short t) { return CChainItem(s, t, CHAINITEM_TRANSLATOR); }

// Every planned chain, read back through the table's own operations.
Routes PlannedChains()
{
    Routes routes;
    CFormatIDs sources;
    g_Translators.m_PairChains.GetSourceIDs(sources);
    for (short s : sources.Items()) {
        CFormatIDs targets;
        g_Translators.m_PairChains.GetTargetIDs(s, targets);
        for (short t : targets.Items()) {
            CChain chain;
            EXPECT_TRUE(g_Translators.m_PairChains.GetChain(s, t, chain));
            routes[{s, t}] = chain;
        }
    }
    return routes;
}

std::string Describe(const Routes& routes)
{
    std::string text;
    for (const auto& r : routes) {
        text += std::to_string(r.first.first) + "->" + std::to_string(r.first.second) + ":";
        for (const CChainItem& item : r.second.Items())
            text += (item.m_nType == CHAINITEM_CONVERTER ? " C(" : " T(") + std::to_string(item.m_nSource) + "," +
                    std::to_string(item.m_nTarget) + ")";
        text += "\n";
    }
    return text;
}

// What the chain translator factory answers for a chain; until the chain
// translator is merged that is E_NOTIMPL, afterwards S_OK.
HRESULT FactoryResultFor(const CChain& chain)
{
    ComPtr<ITolviFileTranslator> translator;
    return CreateChainTranslator(chain, &translator);
}

class PlanningRoutes : public RegistryTest {
protected:
    using RegistryTest::RegistryTest;
    void ExpectRoutes(const Routes& expected)
    {
        Routes planned = PlannedChains();
        EXPECT_EQ(Describe(expected), Describe(planned));
    }
};

// For the case in which a thread without COM plans: no MTA may exist, so the
// test thread is a single-threaded apartment.
class PlanningRoutesWithoutCom : public PlanningRoutes {
protected:
    PlanningRoutesWithoutCom() : PlanningRoutes(COINIT_APARTMENTTHREADED) {}
};

template <class F>
void OnThreadWithoutCom(F&& f)
{
    std::thread(std::forward<F>(f)).join();
}

} // namespace

// --- the three shapes --------------------------------------------------------

TEST_F(PlanningRoutes, ConverterThenTranslator)
{
    inst.Converter("A2B", F(1), F(2)).Translator("B2C", F(2), F(3)).Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    CChain expected = Chain({C(1, 2), T(2, 3)});
    ExpectRoutes({{{1, 3}, expected}});
    EXPECT_TRUE(g_Translators.HasRoute(1, 3));
    EXPECT_FALSE(g_Translators.HasRoute(3, 1));

    inst.ClearJournal();
    ComPtr<ITolviFileTranslator> translator;
    HRESULT hr = g_Translators.CreateTranslator(1, 3, &translator);
    EXPECT_EQ(FactoryResultFor(expected), hr);
    EXPECT_EQ(SUCCEEDED(hr), translator != nullptr);
    translator.Reset();
    // A chain is handed out as a chain translator, not as a component.
    EXPECT_TRUE(inst.Journal().empty());
}

TEST_F(PlanningRoutes, ConcurrentCallersPlanOnce)
{
    inst.Converter("A2B", F(1), F(2)).Translator("B2C", F(2), F(3)).Install();
    LONG failures = 0;
    OnThreadsAtOnce(4, [&] {
        if (FAILED(g_Translators.Build()) || !g_Translators.HasRoute(1, 3))
            ::InterlockedIncrement(&failures);
    });
    EXPECT_EQ(0, failures);
    EXPECT_EQ((Lines{"A2B.SourceFormat", "B2C.SourceFormat"}), inst.Journal(".SourceFormat"));
    ExpectRoutes({{{1, 3}, Chain({C(1, 2), T(2, 3)})}});
}

TEST_F(PlanningRoutes, TranslatorThenConverter)
{
    inst.Converter("B2D", F(2), F(4)).Translator("A2B", F(1), F(2)).Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({{{1, 4}, Chain({T(1, 2), C(2, 4)})}});
}

TEST_F(PlanningRoutes, ConverterTranslatorConverter)
{
    inst.Converter("A2B", F(1), F(2)).Converter("C2D", F(3), F(4)).Translator("B2C", F(2), F(3)).Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({{{1, 3}, Chain({C(1, 2), T(2, 3)})},
                  {{1, 4}, Chain({C(1, 2), T(2, 3), C(3, 4)})},
                  {{2, 4}, Chain({T(2, 3), C(3, 4)})}});
}

TEST_F(PlanningRoutes, ADirectTranslatorWinsOverAnyChain)
{
    inst.Converter("A2B", F(1), F(2)).Translator("B2C", F(2), F(3)).Translator("A2C", F(1), F(3)).Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({});
    EXPECT_TRUE(g_Translators.HasRoute(1, 3));
    inst.ClearJournal();
    ComPtr<ITolviFileTranslator> translator;
    ASSERT_EQ(S_OK, g_Translators.CreateTranslator(1, 3, &translator));
    EXPECT_NE(nullptr, translator.Get());
    translator.Reset();
    EXPECT_EQ((Lines{"A2C.Create", "A2C.Destroy"}), inst.Journal());
}

// --- ties ----------------------------------------------------------------------

TEST_F(PlanningRoutes, TiesGoToTheFirstIntermediateInEnumerationOrder)
{
    // 1: converters to 2 then 3 arrive in that order, and enumerate 3, 2.
    // 4: converters to 3 then 16 arrive in that order, and enumerate 3, 16.
    // 7: translators to 8 then 9 arrive in that order, and enumerate 9, 8.
    // So neither "first arrived" nor "last arrived" gets all three right.
    inst.Converter("1to2", F(1), F(2))
        .Converter("1to3", F(1), F(3))
        .Converter("4to3", F(4), F(3))
        .Converter("4to16", F(4), F(16))
        .Converter("8to10", F(8), F(10))
        .Converter("9to10", F(9), F(10))
        .Translator("2to5", F(2), F(5))
        .Translator("3to5", F(3), F(5))
        .Translator("3to6", F(3), F(6))
        .Translator("16to6", F(16), F(6))
        .Translator("7to8", F(7), F(8))
        .Translator("7to9", F(7), F(9))
        .Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    CChain chain;
    ASSERT_TRUE(g_Translators.m_PairChains.GetChain(1, 5, chain));
    EXPECT_EQ(Chain({C(1, 3), T(3, 5)}), chain);
    ASSERT_TRUE(g_Translators.m_PairChains.GetChain(4, 6, chain));
    EXPECT_EQ(Chain({C(4, 3), T(3, 6)}), chain);
    ASSERT_TRUE(g_Translators.m_PairChains.GetChain(7, 10, chain));
    EXPECT_EQ(Chain({T(7, 9), C(9, 10)}), chain);
}

// --- limits ----------------------------------------------------------------------

TEST_F(PlanningRoutes, NoChainIsLongerThanThreeOrHasTwoConvertersInARow)
{
    inst.Converter("1to2", F(1), F(2))
        .Converter("2to3", F(2), F(3))
        .Converter("6to7", F(6), F(7))
        .Converter("7to8", F(7), F(8))
        .Converter("9to10", F(9), F(10))
        .Converter("11to12", F(11), F(12))
        .Converter("12to13", F(12), F(13))
        .Translator("3to4", F(3), F(4))
        .Translator("5to6", F(5), F(6))
        .Translator("10to11", F(10), F(11))
        .Translator("14to15", F(14), F(15))
        .Translator("15to16", F(15), F(16))
        .Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({{{2, 4}, Chain({C(2, 3), T(3, 4)})},
                  {{5, 7}, Chain({T(5, 6), C(6, 7)})},
                  {{9, 11}, Chain({C(9, 10), T(10, 11)})},
                  {{9, 12}, Chain({C(9, 10), T(10, 11), C(11, 12)})},
                  {{10, 12}, Chain({T(10, 11), C(11, 12)})}});
    EXPECT_FALSE(g_Translators.HasRoute(1, 4));   // C C T
    EXPECT_FALSE(g_Translators.HasRoute(5, 8));   // T C C
    EXPECT_FALSE(g_Translators.HasRoute(9, 13));  // C T C C
    EXPECT_FALSE(g_Translators.HasRoute(14, 16)); // T T
}

TEST_F(PlanningRoutes, ARoundTripIsPlannedLikeAnyOtherPair)
{
    // 1 -> 2 -> 1 by converter and translator; 3 has its own translator to
    // itself, which wins over the round trip through 4.
    inst.Converter("1to2", F(1), F(2))
        .Converter("3to4", F(3), F(4))
        .Translator("2to1", F(2), F(1))
        .Translator("3to3", F(3), F(3))
        .Translator("4to3", F(4), F(3))
        .Translator("3to5", F(3), F(5))
        .Install();
    ASSERT_EQ(S_OK, g_Translators.Build());
    // The round trips themselves extend like any other route.
    ExpectRoutes({{{1, 1}, Chain({C(1, 2), T(2, 1)})},
                  {{1, 2}, Chain({C(1, 2), T(2, 1), C(1, 2)})},
                  {{2, 2}, Chain({T(2, 1), C(1, 2)})},
                  {{3, 4}, Chain({T(3, 3), C(3, 4)})},
                  {{4, 4}, Chain({T(4, 3), C(3, 4)})}});
    CFormatIDs targets;
    g_Translators.GetTargetIDs(3, targets);
    EXPECT_EQ(List({3, 5, 4}), targets); // 3 first; then 5, 3 of the table and the chain to 4
    g_Translators.GetTargetIDs(1, targets);
    EXPECT_EQ(List({1, 2}), targets);
}

// --- what the registries give ------------------------------------------------------

TEST_F(PlanningRoutes, WithoutConvertersTheRoutesAreTheTranslatorsPairs)
{
    inst.Translator("1to2", F(1), F(2)).Translator("1to3", F(1), F(3)).Translator("17to1", F(17), F(1)).Install();
    EXPECT_EQ(S_OK, g_Translators.Build());
    EXPECT_TRUE(g_Translators.m_bBuilt);
    ExpectRoutes({});
    CFormatIDs ids;
    g_Translators.GetSourceIDs(ids);
    EXPECT_EQ(List({1, 17}), ids);
    g_Translators.GetTargetIDs(1, ids);
    EXPECT_EQ(List({3, 2}), ids);
}

TEST_F(PlanningRoutes, WithoutTheCatalogueOnlyDirectTranslationsExist)
{
    inst.Converter("2to3", F(2), F(3)).Translator("1to2", F(1), F(2)).WithoutCatalogueKey().Install();
    EXPECT_EQ(S_FALSE, g_Translators.Build());
    EXPECT_TRUE(g_Translators.m_bBuilt);
    EXPECT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({});
    ComPtr<ITolviFileTranslator> translator;
    EXPECT_EQ(S_OK, g_Translators.CreateTranslator(1, 2, &translator));
    EXPECT_EQ(E_INVALIDARG, g_Translators.CreateTranslator(1, 3, &translator));
    EXPECT_EQ(nullptr, translator.Get());
}

TEST_F(PlanningRoutes, CreateTranslatorForAPairWithoutRouteIsEInvalidArg)
{
    inst.Translator("1to2", F(1), F(2)).Install();
    ComPtr<ITolviFileTranslator> translator;
    ASSERT_EQ(S_OK, g_Translators.CreateTranslator(1, 2, &translator));
    inst.ClearJournal();
    ITolviFileTranslator* held = translator.Detach();
    EXPECT_EQ(E_INVALIDARG, g_Translators.CreateTranslator(2, 1, &held));
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ((Lines{"1to2.Destroy"}), inst.Journal());
    EXPECT_EQ(E_POINTER, g_Translators.CreateTranslator(1, 2, nullptr));
}

TEST_F(PlanningRoutesWithoutCom, ATranslatorRegistryThatCannotLoadFailsPlanningUntilItCan)
{
    inst.Converter("1to2", F(1), F(2)).Translator("2to3", F(2), F(3)).Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    // A thread without COM cannot create the component categories manager.
    HRESULT built = E_UNEXPECTED, created = E_UNEXPECTED;
    ITolviFileTranslator* translator = nullptr;
    OnThreadWithoutCom([&] {
        built = g_Translators.Build();
        created = g_Translators.CreateTranslator(1, 3, &translator);
    });
    EXPECT_EQ(CO_E_NOTINITIALIZED, built);
    EXPECT_EQ(CO_E_NOTINITIALIZED, created);
    EXPECT_EQ(nullptr, translator);
    EXPECT_FALSE(g_Translators.m_bBuilt);
    EXPECT_FALSE(g_RealTranslators.m_bLoaded);

    EXPECT_EQ(S_OK, g_Translators.Build());
    ExpectRoutes({{{1, 3}, Chain({C(1, 2), T(2, 3)})}});
}

// --- detection -------------------------------------------------------------------

TEST_F(PlanningRoutes, AFormatOnlyAConverterRecognisesIsListedWhenARouteStartsThere)
{
    inst.Converter("1to2", F(1), F(2), Detects(S_OK)).Translator("2to3", F(2), F(3)).Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(List({1}), found);
    // Converters are asked before translators.
    EXPECT_EQ((Lines{"1to2.IsFormatAvailableMemory(text=t)", "2to3.IsFormatAvailable(data=VT_BSTR:t, type=2)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(PlanningRoutes, DetectedFormatsComeInRouteOrderComplexFirst)
{
    inst.Converter("1to2", F(1), F(2), Detects(S_OK))
        .Translator("2to3", F(2), F(3), Detects(S_OK))
        .Translator("4to3", Format{4, "F4", "f4", "f4", true}, F(3), Detects(S_OK))
        .Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    // Route sources 4, 2, 1: 4 is complex, the rest reversed.
    EXPECT_EQ(List({4, 1, 2}), found);
}

TEST_F(PlanningRoutes, ADetectedFormatWithoutRouteIsNotListed)
{
    inst.Converter("5to6", F(5), F(6), Detects(S_OK)).Translator("2to3", F(2), F(3)).Install();
    StringArg text(L"t");
    EXPECT_EQ(S_OK, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
}

TEST_F(PlanningRoutes, NothingDetectedIsSFalse)
{
    inst.Converter("1to2", F(1), F(2)).Translator("2to3", F(2), F(3)).Install();
    StringArg text(L"t");
    EXPECT_EQ(S_FALSE, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ(S_FALSE, Detect(g_Translators, text, static_cast<tagFILEDATATYPE>(3)));
}

TEST_F(PlanningRoutes, WithoutAnyRouteNobodyIsAsked)
{
    inst.Converter("1to2", F(1), F(2), Detects(S_OK)).Install();
    StringArg text(L"t");
    EXPECT_EQ(S_FALSE, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal(".IsFormat").empty());
}

TEST_F(PlanningRoutes, AFailingConverterDetectionCountsAsEmpty)
{
    inst.Converter("1to2", F(1), F(2), Detects(S_OK))
        .Translator("2to3", F(2), F(3), Detects(S_OK))
        .WithoutCatalogueKey()
        .Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(List({2}), found);
}
