// The chain translator's property store and its progress scaling, without
// any component.
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

#include "vembro/com/Resource.h"
#include "events/ItemSinks.h"
#include "translator/PropertyArray.h"

using vembro::CPropertyArray;
using vembro::unique_variant;

namespace {

struct Var : unique_variant {
    static Var I2(short v) { Var r; V_VT(&r) = VT_I2; V_I2(&r) = v; return r; }
    static Var UI2(USHORT v) { Var r; V_VT(&r) = VT_UI2; V_UI2(&r) = v; return r; }
    static Var I4(LONG v) { Var r; V_VT(&r) = VT_I4; V_I4(&r) = v; return r; }
    static Var I8(LONGLONG v) { Var r; V_VT(&r) = VT_I8; V_I8(&r) = v; return r; }
    static Var R8(double v) { Var r; V_VT(&r) = VT_R8; V_R8(&r) = v; return r; }
    static Var Str(const wchar_t* s) { Var r; V_VT(&r) = VT_BSTR; V_BSTR(&r) = ::SysAllocString(s); return r; }
    static Var StrLen(const wchar_t* s, UINT n) { Var r; V_VT(&r) = VT_BSTR; V_BSTR(&r) = ::SysAllocStringLen(s, n); return r; }
    static Var Null() { Var r; V_VT(&r) = VT_NULL; return r; }
    Var() = default;
    Var(Var&& o) noexcept { *static_cast<VARIANT*>(this) = o.Detach(); }
};

LONG StoredI4(const CPropertyArray& store, const VARIANT& name)
{
    unique_variant out;
    EXPECT_EQ(S_OK, store.GetValue(name, &out));
    EXPECT_EQ(VT_I4, V_VT(&out));
    return V_I4(&out);
}

TEST(ChainTranslatorStore, NamesCompareCaseSensitively)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(Var::Str(L"Mode"), Var::I4(5)));
    EXPECT_EQ(0, store.FindProperty(Var::Str(L"Mode")));
    EXPECT_EQ(-1, store.FindProperty(Var::Str(L"mode")));
    EXPECT_EQ(-1, store.FindProperty(Var::Str(L"Mod")));
}

TEST(ChainTranslatorStore, StringsCompareByTheirWholeLength)
{
    CPropertyArray store;
    const wchar_t embedded[] = L"ab\0c";
    ASSERT_EQ(S_OK, store.SetValue(Var::StrLen(embedded, 4), Var::I4(1)));
    EXPECT_EQ(-1, store.FindProperty(Var::Str(L"ab")));
    EXPECT_EQ(0, store.FindProperty(Var::StrLen(embedded, 4)));
}

TEST(ChainTranslatorStore, SameNameTwiceKeepsOneElementWithTheSecondValue)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(Var::Str(L"Mode"), Var::I4(1)));
    ASSERT_EQ(S_OK, store.SetValue(Var::Str(L"Other"), Var::I4(2)));
    ASSERT_EQ(S_OK, store.SetValue(Var::Str(L"Mode"), Var::Str(L"two")));
    ASSERT_EQ(2, store.GetSize());
    EXPECT_EQ(0, store.FindProperty(Var::Str(L"Mode")));
    unique_variant out;
    ASSERT_EQ(S_OK, store.GetValue(Var::Str(L"Mode"), &out));
    ASSERT_EQ(VT_BSTR, V_VT(&out));
    EXPECT_STREQ(L"two", V_BSTR(&out));
    EXPECT_EQ(2, StoredI4(store, Var::Str(L"Other")));
}

TEST(ChainTranslatorStore, ValuesOfDifferentTypesAreUnequal)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(Var::I2(7), Var::I4(70)));
    EXPECT_EQ(0, store.FindProperty(Var::I2(7)));
    EXPECT_EQ(-1, store.FindProperty(Var::I4(7)));
    EXPECT_EQ(-1, store.FindProperty(Var::UI2(7)));
    EXPECT_EQ(-1, store.FindProperty(Var::I2(8)));
}

TEST(ChainTranslatorStore, UnknownNameGivesInvalidArgAndLeavesOutputAlone)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(Var::Str(L"Mode"), Var::I4(5)));
    unique_variant out;
    V_VT(&out) = VT_I4;
    V_I4(&out) = 0x5EED;
    EXPECT_EQ(E_INVALIDARG, store.GetValue(Var::Str(L"mode"), &out));
    EXPECT_EQ(VT_I4, V_VT(&out));
    EXPECT_EQ(0x5EED, V_I4(&out));
}

TEST(ChainTranslatorStore, IncomparableNamesFailTheSearch)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(Var::I8(1), Var::I4(1)));
    // Storing the same 64-bit name again has to compare with it.
    EXPECT_EQ(E_INVALIDARG, store.SetValue(Var::I8(1), Var::I4(2)));
    unique_variant out;
    EXPECT_EQ(E_INVALIDARG, store.GetValue(Var::I8(1), &out));
    EXPECT_EQ(VT_EMPTY, V_VT(&out));
    EXPECT_THROW(store.FindProperty(Var::I8(1)), vembro::ComError);
    // Another type is simply unequal, so a 64-bit element does not stop it.
    EXPECT_EQ(S_OK, store.SetValue(Var::I4(1), Var::I4(3)));
    EXPECT_EQ(2, store.GetSize());
}

TEST(ChainTranslatorStore, RealNamesCompareNumerically)
{
    CPropertyArray store;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(S_OK, store.SetValue(Var::R8(nan), Var::I4(1)));
    ASSERT_EQ(S_OK, store.SetValue(Var::R8(nan), Var::I4(2)));
    EXPECT_EQ(2, store.GetSize()); // a NaN equals nothing, not even itself
    ASSERT_EQ(S_OK, store.SetValue(Var::R8(0.0), Var::I4(3)));
    EXPECT_EQ(2, store.FindProperty(Var::R8(-0.0)));
}

TEST(ChainTranslatorStore, EmptyAndNullNamesAlwaysMatchTheirKind)
{
    CPropertyArray store;
    ASSERT_EQ(S_OK, store.SetValue(unique_variant(), Var::I4(1)));
    ASSERT_EQ(S_OK, store.SetValue(Var::Null(), Var::I4(2)));
    EXPECT_EQ(1, StoredI4(store, unique_variant()));
    EXPECT_EQ(2, StoredI4(store, Var::Null()));
    EXPECT_EQ(2, store.GetSize());
}

TEST(ChainTranslatorStore, CopiesAreIndependentOfTheCallersValues)
{
    CPropertyArray store;
    {
        Var name = Var::Str(L"Mode");
        Var value = Var::Str(L"fast");
        ASSERT_EQ(S_OK, store.SetValue(name, value));
    }
    CPropertyArray copy(store);
    unique_variant out;
    ASSERT_EQ(S_OK, copy.GetValue(Var::Str(L"Mode"), &out));
    ASSERT_EQ(VT_BSTR, V_VT(&out));
    EXPECT_STREQ(L"fast", V_BSTR(&out));
    EXPECT_NE(V_BSTR(&store.GetAt(0).m_vValue), V_BSTR(&copy.GetAt(0).m_vValue));
}

struct Scaled {
    bool fired;
    LONG progress;
    LONG max;
    bool operator==(const Scaled& o) const
    {
        return fired == o.fired && (!fired || (progress == o.progress && max == o.max));
    }
};
std::ostream& operator<<(std::ostream& os, const Scaled& s)
{
    return s.fired ? os << "(" << s.progress << ", " << s.max << ")" : os << "(nothing)";
}
Scaled Scale(LONG item, LONG items, LONG p, LONG max)
{
    Scaled s{false, 0x5EED, 0x5EED};
    s.fired = vembro::ScaleChainProgress(item, items, p, max, s.progress, s.max);
    return s;
}

TEST(ChainTranslatorStore, ProgressIsScaledIntoTheStepsBand)
{
    EXPECT_EQ((Scaled{true, 125, 300}), Scale(1, 3, 50, 200));
    EXPECT_EQ((Scaled{true, 50, 200}), Scale(0, 2, 30, 60));
    EXPECT_EQ((Scaled{true, 150, 200}), Scale(1, 2, 30, 60));
    EXPECT_EQ((Scaled{true, 233, 300}), Scale(2, 3, 1, 3));   // 33.3 truncated
    EXPECT_EQ((Scaled{true, 100, 300}), Scale(1, 3, -1, 200)); // -0.5 toward zero
    EXPECT_EQ((Scaled{true, 300, 300}), Scale(2, 3, 7, 7));
}

TEST(ChainTranslatorStore, ProgressWithoutAPositiveMaximumFiresNothing)
{
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(1, 3, 0, 0));
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(1, 3, 5, 0));
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(1, 3, 5, -10));
}

TEST(ChainTranslatorStore, ProgressThatOverflowsFiresNothing)
{
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(0, 3, 21474837, 100000000)); // p * 100 overflows
    EXPECT_EQ((Scaled{true, 21474836, 300}), Scale(0, 3, 21474836, 100)); // the largest that fits
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(2, 3, 21474836, 1)); // the band offset overflows
    EXPECT_EQ((Scaled{false, 0, 0}), Scale(0, 3, std::numeric_limits<LONG>::min(), 1));
}

} // namespace
