// The format store: records read from format objects, the first reporter of
// an identifier wins, extension matching, and the store-backed list
// operations. Format objects are small in-test doubles; no registry involved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CatalogueDoubles.h"
#include "catalogue/FormatIDs.h"
#include "catalogue/FormatsInfo.h"
#include "vembro/com/Strings.h"

using namespace vembro;
using catalogue_test::List;
using catalogue_test::TestFormat;

namespace {

std::wstring NameOf(const CFormatInfo& info)
{
    return info.Name.get() ? std::wstring(info.Name.get()) : std::wstring(L"<null>");
}

void AddToGlobalStore(std::initializer_list<TestFormat*> formats)
{
    for (TestFormat* format : formats)
        ASSERT_EQ(S_OK, g_FormatsInfo.Add(format, nullptr));
}

CFormatInfo Record(const char* defaultExt, const char* exts)
{
    CFormatInfo info;
    info.DefaultExtention = defaultExt;
    info.Extentions = exts;
    return info;
}

} // namespace

// --- reading a format object -------------------------------------------------

TEST(CatalogueFormatRecord, FromFormatReadsEveryPropertyInOrder)
{
    TestFormat format(12, L"Twelve", L"tw", L"tw.twelve", true);
    CFormatInfo info;
    ASSERT_EQ(S_OK, info.FromFormat(&format));
    EXPECT_EQ((std::vector<std::string>{"Name", "IsComplex", "DefaultExtention", "Extentions", "ID"}),
              format.calls);
    EXPECT_EQ(12, info.ID);
    EXPECT_EQ(L"Twelve", NameOf(info));
    EXPECT_EQ("tw", info.DefaultExtention);
    EXPECT_EQ("tw.twelve", info.Extentions);
    EXPECT_TRUE(info.IsComplex);
    EXPECT_EQ(1, format.refs);
}

TEST(CatalogueFormatRecord, FromFormatStopsAtTheFirstFailureKeepingWhatItRead)
{
    TestFormat format(12, L"Twelve", L"tw", L"tw.twelve", true);
    format.failOn = "DefaultExtention";
    format.failure = 0x80041234;
    CFormatInfo info;
    EXPECT_EQ(static_cast<HRESULT>(0x80041234), info.FromFormat(&format));
    EXPECT_EQ((std::vector<std::string>{"Name", "IsComplex", "DefaultExtention"}), format.calls);
    EXPECT_EQ(L"Twelve", NameOf(info));
    EXPECT_TRUE(info.IsComplex);
    EXPECT_EQ("", info.DefaultExtention);
    EXPECT_EQ(-1, info.ID);
}

TEST(CatalogueFormatRecord, FromFormatOfNullIsEPointer)
{
    CFormatInfo info;
    EXPECT_EQ(E_POINTER, info.FromFormat(nullptr));
}

TEST(CatalogueFormatRecord, NullStringsGiveANullNameAndEmptyExtensions)
{
    TestFormat format(13, nullptr, nullptr, nullptr);
    CFormatInfo info;
    ASSERT_EQ(S_OK, info.FromFormat(&format));
    EXPECT_EQ(nullptr, info.Name.get());
    EXPECT_EQ("", info.DefaultExtention);
    EXPECT_EQ("", info.Extentions);
}

TEST(CatalogueFormatRecord, CopiesOwnTheirName)
{
    TestFormat format(14, L"Fourteen");
    CFormatInfo copy;
    {
        CFormatInfo info;
        ASSERT_EQ(S_OK, info.FromFormat(&format));
        copy = info;
        EXPECT_NE(info.Name.get(), copy.Name.get());
    }
    EXPECT_EQ(L"Fourteen", NameOf(copy));
}

// --- extension matching ------------------------------------------------------

TEST(CatalogueFormatRecord, DefaultExtensionMatchesIgnoringCase)
{
    EXPECT_TRUE(Record("doc", "rtf").MatchesExt("DOC"));
}

TEST(CatalogueFormatRecord, ListedExtensionMatchesAsAWholeItemIgnoringCase)
{
    CFormatInfo info = Record("htm", "htm.html");
    EXPECT_TRUE(info.MatchesExt("html"));
    EXPECT_TRUE(info.MatchesExt("HTML"));
    EXPECT_FALSE(info.MatchesExt("tm"));
    EXPECT_FALSE(info.MatchesExt(".html"));
    EXPECT_FALSE(info.MatchesExt("htm.h"));
}

TEST(CatalogueFormatRecord, EmptyExtensionMatchesOnlyAnEmptyField)
{
    EXPECT_TRUE(Record("txt", "").MatchesExt(""));
    EXPECT_TRUE(Record("", "txt").MatchesExt(""));
    EXPECT_FALSE(Record("txt", "txt.text").MatchesExt(""));
}

TEST(CatalogueFormatRecord, NullExtentionsLeaveOnlyTheDefaultExtension)
{
    TestFormat format(15, L"Fifteen", L"ff", nullptr);
    CFormatInfo info;
    ASSERT_EQ(S_OK, info.FromFormat(&format));
    EXPECT_TRUE(info.MatchesExt("ff"));
    EXPECT_FALSE(info.MatchesExt("fifteen"));
}

// --- the store ---------------------------------------------------------------

TEST(CatalogueFormatStore, FirstReporterOfAnIdentifierWins)
{
    CFormatsInfo store;
    TestFormat first(40, L"First", L"one");
    TestFormat second(40, L"Second", L"two", L"", true);
    ASSERT_EQ(S_OK, store.Add(&first, nullptr));
    CFormatInfo out;
    ASSERT_EQ(S_OK, store.Add(&second, &out));
    // The caller gets what its own object reported ...
    EXPECT_EQ(L"Second", NameOf(out));
    EXPECT_TRUE(out.IsComplex);
    // ... while the store keeps the first record.
    CFormatInfo stored;
    ASSERT_TRUE(store.Lookup(40, &stored));
    EXPECT_EQ(L"First", NameOf(stored));
    EXPECT_FALSE(stored.IsComplex);
    EXPECT_FALSE(store.FindByName("Second", nullptr));
    EXPECT_TRUE(store.FindByName("First", nullptr));
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, second.refs);
}

TEST(CatalogueFormatStore, AFormatThatCannotBeReadIsNotAdded)
{
    CFormatsInfo store;
    TestFormat format(41, L"Broken");
    format.failOn = "ID";
    CFormatInfo out;
    out.ID = 7;
    EXPECT_EQ(E_FAIL, store.Add(&format, &out));
    EXPECT_EQ(7, out.ID);
    EXPECT_FALSE(store.Lookup(-1, nullptr));
    EXPECT_FALSE(store.Lookup(41, nullptr));
    EXPECT_EQ(E_POINTER, store.Add(nullptr, &out));
}

TEST(CatalogueFormatStore, FindByNameTakesTheFirstRecordInEnumerationOrder)
{
    CFormatsInfo store;
    TestFormat late(20, L"Shared", L"late");  // bucket 1
    TestFormat early(3, L"Shared", L"early"); // bucket 0, enumerated first
    ASSERT_EQ(S_OK, store.Add(&late, nullptr));
    ASSERT_EQ(S_OK, store.Add(&early, nullptr));
    CFormatInfo found;
    ASSERT_TRUE(store.FindByName("Shared", &found));
    EXPECT_EQ(3, found.ID);
}

TEST(CatalogueFormatStore, FindByNameIsCaseSensitive)
{
    CFormatsInfo store;
    TestFormat format(42, L"Plain Text");
    ASSERT_EQ(S_OK, store.Add(&format, nullptr));
    EXPECT_FALSE(store.FindByName("plain text", nullptr));
    EXPECT_FALSE(store.FindByName(nullptr, nullptr));
}

TEST(CatalogueFormatStore, MatchExtOfAnUnknownIdentifierIsFalse)
{
    CFormatsInfo store;
    TestFormat format(43, L"Doc", L"doc");
    ASSERT_EQ(S_OK, store.Add(&format, nullptr));
    EXPECT_TRUE(store.MatchExt(43, "DOC"));
    EXPECT_FALSE(store.MatchExt(44, "doc"));
}

// --- store-backed list operations (on g_FormatsInfo) -------------------------

TEST(CatalogueFormatList, SortComplexFirstKeepsComplexOrderAndReversesTheRest)
{
    TestFormat a(101, L"A", L"a", L"", true), b(102, L"b"), c(103, L"C", L"c", L"", true), d(104, L"d");
    AddToGlobalStore({&a, &b, &c, &d});
    CFormatIDs list = List({101, 102, 103, 104});
    EXPECT_EQ(List({101, 103, 104, 102}), list.SortComplexFirst());
}

TEST(CatalogueFormatList, SortComplexFirstReversesAListWithoutComplexFormats)
{
    TestFormat a(111, L"a"), b(112, L"b"), c(113, L"c");
    AddToGlobalStore({&a, &b, &c});
    EXPECT_EQ(List({113, 112, 111}), List({111, 112, 113}).SortComplexFirst());
}

TEST(CatalogueFormatList, SortComplexFirstTreatsUnknownIdentifiersAsSimple)
{
    TestFormat a(121, L"A", L"a", L"", true);
    AddToGlobalStore({&a});
    // 999 is not in the store.
    EXPECT_EQ(List({121, 999}), List({999, 121}).SortComplexFirst());
    EXPECT_EQ(List({999}), List({999}).SortComplexFirst());
}

TEST(CatalogueFormatList, IndexOfNameGivesThePositionInTheList)
{
    TestFormat a(131, L"Alpha"), b(132, L"Beta");
    AddToGlobalStore({&a, &b});
    CFormatIDs list = List({132, 131, 131});
    EXPECT_EQ(1, list.IndexOfName("Alpha"));
    EXPECT_EQ(0, list.IndexOfName("Beta"));
    EXPECT_EQ(-1, list.IndexOfName("Gamma"));
    EXPECT_EQ(-1, list.IndexOfName(nullptr));
}

TEST(CatalogueFormatList, IndexOfNameOfAStoredFormatOutsideTheListIsMinusOne)
{
    TestFormat a(141, L"Outside");
    AddToGlobalStore({&a});
    EXPECT_EQ(-1, List({142}).IndexOfName("Outside"));
}

TEST(CatalogueFormatList, IndexOfNameResolvesTheNameStoreWideFirst)
{
    // Two identifiers share a name; the store's first (in enumeration order,
    // 144 in bucket 9 before 160 in bucket 10) is not in the list, so the
    // list's own 160 is not found.
    TestFormat listed(160, L"Twin"), first(144, L"Twin");
    AddToGlobalStore({&listed, &first});
    EXPECT_EQ(-1, List({160}).IndexOfName("Twin"));
    EXPECT_EQ(1, List({160, 144}).IndexOfName("Twin"));
}

TEST(CatalogueFormatList, GetInfoChecksThePosition)
{
    TestFormat a(151, L"Info", L"inf");
    AddToGlobalStore({&a});
    CFormatIDs list = List({151, 998});
    CFormatInfo info;
    ASSERT_TRUE(list.GetInfo(0, &info));
    EXPECT_EQ("inf", info.DefaultExtention);
    EXPECT_FALSE(list.GetInfo(1, &info)); // 998 is not stored
    EXPECT_FALSE(list.GetInfo(-1, &info));
    EXPECT_FALSE(list.GetInfo(2, &info));
}

TEST(CatalogueFormatList, FilterByExtKeepsListOrderAndReplacesTheOutput)
{
    TestFormat a(171, L"Web", L"htm", L"htm.html"), b(172, L"Text", L"txt"), c(173, L"Page", L"html");
    AddToGlobalStore({&a, &b, &c});
    CFormatIDs out = List({1, 2, 3});
    ASSERT_EQ(S_OK, List({173, 172, 171, 997}).FilterByExt("HTML", out));
    EXPECT_EQ(List({173, 171}), out);
}

TEST(CatalogueFormatList, FilterByExtOfNullIsEPointerAndLeavesTheOutput)
{
    CFormatIDs out = List({1, 2});
    EXPECT_EQ(E_POINTER, List({171}).FilterByExt(nullptr, out));
    EXPECT_EQ(List({1, 2}), out);
}
