// The chain tables: one chain per pair, copies in and out, and the fixed
// enumeration order of sources and targets. No COM needed.
#include <gtest/gtest.h>

#include "CatalogueDoubles.h"

#include "chains/Chain.h"

using namespace vembro;
using catalogue_test::Chain;
using catalogue_test::List;

namespace {

const CChain kConvertThenTranslate = Chain({{1, 2, CHAINITEM_CONVERTER}, {2, 3, CHAINITEM_TRANSLATOR}});
const CChain kTranslateThenConvert = Chain({{1, 4, CHAINITEM_TRANSLATOR}, {4, 3, CHAINITEM_CONVERTER}});

} // namespace

TEST(PlanningChainItem, DefaultItemIsAllMinusOne)
{
    CChainItem item;
    EXPECT_EQ(-1, item.m_nSource);
    EXPECT_EQ(-1, item.m_nTarget);
    EXPECT_EQ(-1, item.m_nType);
}

TEST(PlanningChain, AssignmentReplacesAndSelfAssignmentKeeps)
{
    CChain chain = kTranslateThenConvert;
    chain = kConvertThenTranslate;
    EXPECT_EQ(kConvertThenTranslate, chain);
    const CChain& self = chain;
    chain = self;
    EXPECT_EQ(kConvertThenTranslate, chain);
}

TEST(PlanningPairChains, SetChainStoresACopyThatGetChainHandsBack)
{
    CPairChains chains;
    CChain chain = kConvertThenTranslate;
    ASSERT_EQ(S_OK, chains.SetChain(1, 3, chain));
    chain.RemoveAll();
    CChain out;
    ASSERT_TRUE(chains.GetChain(1, 3, out));
    EXPECT_EQ(kConvertThenTranslate, out);
    EXPECT_TRUE(chains.HasChain(1, 3));
}

TEST(PlanningPairChains, GetChainOfAMissingPairEmptiesTheOutput)
{
    CPairChains chains;
    ASSERT_EQ(S_OK, chains.SetChain(1, 3, kConvertThenTranslate));
    CChain out = kTranslateThenConvert;
    EXPECT_FALSE(chains.GetChain(1, 4, out));
    EXPECT_TRUE(out.IsEmpty());
    out = kTranslateThenConvert;
    EXPECT_FALSE(chains.GetChain(2, 3, out));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(chains.HasChain(3, 1));
}

TEST(PlanningPairChains, SetChainAgainReplacesTheChainInPlace)
{
    CPairChains chains;
    ASSERT_EQ(S_OK, chains.SetChain(1, 3, kConvertThenTranslate));
    ASSERT_EQ(S_OK, chains.SetChain(1, 4, kConvertThenTranslate));
    ASSERT_EQ(S_OK, chains.SetChain(1, 3, kTranslateThenConvert));
    CChain out;
    ASSERT_TRUE(chains.GetChain(1, 3, out));
    EXPECT_EQ(kTranslateThenConvert, out);
    CFormatIDs targets;
    chains.GetTargetIDs(1, targets);
    EXPECT_EQ(List({4, 3}), targets);
}

TEST(PlanningPairChains, SourcesAndTargetsComeInEnumerationOrder)
{
    CPairChains chains;
    for (short src : {1, 17, 2})
        for (short tgt : {5, 3, 20})
            ASSERT_EQ(S_OK, chains.SetChain(src, tgt, kConvertThenTranslate));
    CFormatIDs sources = List({99});
    chains.GetSourceIDs(sources);
    EXPECT_EQ(List({2, 1, 17}), sources);
    CFormatIDs targets = List({99});
    chains.GetTargetIDs(17, targets);
    EXPECT_EQ(List({3, 5, 20}), targets);
    chains.GetTargetIDs(4, targets);
    EXPECT_EQ(CFormatIDs(), targets);
}
