// The shared containers: the fixed enumeration order of format-keyed tables,
// the identifier lists, the pair tables and the scoped lock. No COM needed.
#include <gtest/gtest.h>

#include "CatalogueDoubles.h"

#include <vector>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatMap.h"
#include "catalogue/FormatPairs.h"
#include "catalogue/SLock.h"
#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"

using namespace vembro;
using catalogue_test::List;

namespace {

std::vector<short> Keys(const CFormatMap<int>& map)
{
    std::vector<short> keys;
    map.ForEach([&](short key, int) { keys.push_back(key); });
    return keys;
}

CFormatMap<int>& Fill(CFormatMap<int>& map, std::initializer_list<short> ids)
{
    int n = 0;
    for (short id : ids)
        map.SetAt(id, n++);
    return map;
}

const GUID kClsidA = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
const GUID kClsidB = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};

} // namespace

// --- format-keyed table ------------------------------------------------------

TEST(CatalogueFormatMap, SameBucketLaterKeyFirstThenNextBucket)
{
    CFormatMap<int> map;
    EXPECT_EQ((std::vector<short>{2, 1, 17}), Keys(Fill(map, {1, 17, 2})));
}

TEST(CatalogueFormatMap, FiveThreeTwentyEnumerateThreeFiveTwenty)
{
    CFormatMap<int> map;
    EXPECT_EQ((std::vector<short>{3, 5, 20}), Keys(Fill(map, {5, 3, 20})));
}

TEST(CatalogueFormatMap, MinusOneHashesIntoBucketFifteen)
{
    EXPECT_EQ(0x0FFFFFFFu, CFormatMap<int>::HashKey(-1));
    EXPECT_EQ(15u, CFormatMap<int>::HashKey(-1) % 17);
    // Bucket 15 holds 240..255, so -1 (added last) enumerates before 240 and
    // after every key of the lower buckets, and before bucket 16 (256).
    CFormatMap<int> map;
    EXPECT_EQ((std::vector<short>{0, -1, 240, 256}), Keys(Fill(map, {256, 240, 0, -1})));
}

TEST(CatalogueFormatMap, IdentifiersWrapAroundAfterSeventeenBuckets)
{
    // 272 >> 4 == 17, which is bucket 0 again, ahead of bucket 1 (16).
    CFormatMap<int> map;
    EXPECT_EQ((std::vector<short>{272, 0, 16}), Keys(Fill(map, {16, 0, 272})));
}

TEST(CatalogueFormatMap, ReplacingAValueKeepsTheKeyInPlace)
{
    CFormatMap<int> map;
    Fill(map, {1, 2, 3});
    map.SetAt(1, 42);
    EXPECT_EQ((std::vector<short>{3, 2, 1}), Keys(map));
    EXPECT_EQ(42, *map.Lookup(1));
    EXPECT_EQ(3, map.GetCount());
}

TEST(CatalogueFormatMap, EmptyTableHasNoBucketsAndFindsNothing)
{
    CFormatMap<int> map;
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(nullptr, map.Lookup(0));
    EXPECT_TRUE(Keys(map).empty());
}

// --- identifier lists --------------------------------------------------------

TEST(CatalogueFormatIDs, FindGivesTheFirstPositionOrMinusOne)
{
    CFormatIDs list = List({4, 7, 4});
    EXPECT_EQ(0, list.Find(4));
    EXPECT_EQ(1, list.Find(7));
    EXPECT_EQ(-1, list.Find(5));
}

TEST(CatalogueFormatIDs, GetAtOutsideTheListThrowsInvalidArg)
{
    CFormatIDs list = List({4});
    EXPECT_EQ(4, list.GetAt(0));
    for (int bad : {-1, 1}) {
        try {
            list.GetAt(bad);
            ADD_FAILURE() << "no exception for position " << bad;
        } catch (const ComError& e) {
            EXPECT_EQ(E_INVALIDARG, e.Code());
        }
    }
}

TEST(CatalogueFormatIDs, AppendSkipsPresentAndRepeatedIdentifiers)
{
    CFormatIDs list = List({1, 2});
    list.Append(List({3, 2, 3, 4}));
    EXPECT_EQ(List({1, 2, 3, 4}), list);
}

TEST(CatalogueFormatIDs, AppendToItselfOrOfNothingChangesNothing)
{
    CFormatIDs list = List({1, 1, 2});
    list.Append(list);
    EXPECT_EQ(List({1, 1, 2}), list);
    list.Append(CFormatIDs());
    EXPECT_EQ(List({1, 1, 2}), list);
}

TEST(CatalogueFormatIDs, CopyReplacesTheWholeList)
{
    CFormatIDs list = List({9, 9});
    list.Copy(List({1, 2}));
    EXPECT_EQ(List({1, 2}), list);
}

TEST(CatalogueFormatIDs, MoveToFrontMovesTheFirstOccurrenceOnly)
{
    EXPECT_EQ(List({5, 3, 20}), List({3, 5, 20}).MoveToFront(5));
    EXPECT_EQ(List({5, 3, 20, 5}), List({3, 5, 20, 5}).MoveToFront(5));
}

TEST(CatalogueFormatIDs, MoveToFrontLeavesShortOrUnaffectedListsAlone)
{
    EXPECT_EQ(List({5}), List({5}).MoveToFront(5));
    EXPECT_EQ(List({5, 3}), List({5, 3}).MoveToFront(5));
    EXPECT_EQ(List({3, 20}), List({3, 20}).MoveToFront(5));
    EXPECT_EQ(CFormatIDs(), CFormatIDs().MoveToFront(5));
}

// --- pair tables -------------------------------------------------------------

TEST(CatalogueFormatPairs, AddPairTwiceKeepsTheSecondClsidAndTheFirstPosition)
{
    CFormatPairs pairs;
    ASSERT_EQ(S_OK, pairs.AddPair(1, 2, kClsidA));
    ASSERT_EQ(S_OK, pairs.AddPair(1, 3, kClsidA));
    ASSERT_EQ(S_OK, pairs.AddPair(1, 2, kClsidB));
    GUID clsid;
    EXPECT_TRUE(pairs.FindPair(1, 2, clsid));
    EXPECT_EQ(kClsidB, clsid);
    EXPECT_EQ(List({3, 2}), pairs.GetTargetIDs(1));
}

TEST(CatalogueFormatPairs, FindPairOfAnUnknownSourceOrTargetZeroesTheClsid)
{
    CFormatPairs pairs;
    ASSERT_EQ(S_OK, pairs.AddPair(1, 2, kClsidA));
    GUID clsid = kClsidB;
    EXPECT_FALSE(pairs.FindPair(7, 2, clsid));
    EXPECT_EQ(GUID{}, clsid);
    clsid = kClsidB;
    EXPECT_FALSE(pairs.FindPair(1, 7, clsid));
    EXPECT_EQ(GUID{}, clsid);
}

TEST(CatalogueFormatPairs, SourcesAndTargetsComeInEnumerationOrder)
{
    CFormatPairs pairs;
    for (short src : {17, 1, 2})
        for (short tgt : {5, 3, 20})
            ASSERT_EQ(S_OK, pairs.AddPair(src, tgt, kClsidA));
    EXPECT_EQ(List({2, 1, 17}), pairs.GetSourceIDs());
    EXPECT_EQ(List({3, 5, 20}), pairs.GetTargetIDs(17));
    EXPECT_EQ(CFormatIDs(), pairs.GetTargetIDs(4));
}

TEST(CatalogueFormatPairs, GetTargetIDsSourceFirstPutsThePairToItselfFirst)
{
    CFormatPairs pairs;
    for (short tgt : {5, 3, 20})
        ASSERT_EQ(S_OK, pairs.AddPair(5, tgt, kClsidA));
    for (short tgt : {5, 3, 20})
        ASSERT_EQ(S_OK, pairs.AddPair(6, tgt, kClsidA));
    EXPECT_EQ(List({5, 3, 20}), pairs.GetTargetIDsSourceFirst(5));
    EXPECT_EQ(List({3, 5, 20}), pairs.GetTargetIDsSourceFirst(6));
}

// --- scoped lock -------------------------------------------------------------

namespace {

// A section that counts what the lock does to it.
struct CountingSection {
    int entered = 0;
    int left = 0;
    void Enter() noexcept { ++entered; }
    void Leave() noexcept { ++left; }
};

struct Guarded {
    CountingSection m_cs;
};

} // namespace

TEST(CatalogueSLock, NotLockedNowNeverEntersTheSection)
{
    Guarded object;
    { CSLock<Guarded> lock(&object, false); }
    EXPECT_EQ(0, object.m_cs.entered);
    EXPECT_EQ(0, object.m_cs.left);
}

TEST(CatalogueSLock, LockAndUnlockAreIdempotent)
{
    Guarded object;
    {
        CSLock<Guarded> lock(&object, true);
        lock.Lock();
        EXPECT_EQ(1, object.m_cs.entered);
        lock.Unlock();
        lock.Unlock();
        EXPECT_EQ(1, object.m_cs.left);
        lock.Lock();
        EXPECT_EQ(2, object.m_cs.entered);
    }
    EXPECT_EQ(2, object.m_cs.left);
}

TEST(CatalogueSLock, AThrownFailureLeavesTheSection)
{
    Guarded object;
    try {
        CSLock<Guarded> lock(&object);
        ThrowHr(E_FAIL);
    } catch (const ComError&) {
    }
    EXPECT_EQ(1, object.m_cs.entered);
    EXPECT_EQ(1, object.m_cs.left);
}
