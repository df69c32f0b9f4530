// NormalizeVariant: by-reference values dereferenced, numbers widened with the
// platform's own conversion rules, everything else copied as it is.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include "catalogue/Variant.h"
#include "vembro/com/Resource.h"

using namespace vembro;

namespace {

// The destination starts poisoned with a value that must be replaced.
struct Normalized {
    unique_variant dst;
    HRESULT hr;
    explicit Normalized(const VARIANT* src)
    {
        V_VT(&dst) = VT_I4;
        V_I4(&dst) = 0x7EADBEEF;
        hr = NormalizeVariant(src, &dst);
    }
};

VARIANT Make(VARTYPE vt)
{
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = vt;
    return v;
}

} // namespace

TEST(CatalogueNormalizeVariant, NullSourceIsEPointer)
{
    unique_variant dst;
    EXPECT_EQ(E_POINTER, NormalizeVariant(nullptr, &dst));
    EXPECT_EQ(VT_EMPTY, V_VT(&dst));
}

TEST(CatalogueNormalizeVariant, ByRefBstrBecomesAPlainCopy)
{
    unique_bstr text = MakeBstr(L"C:\\data\\in.txt");
    BSTR ref = text.get();
    VARIANT src = Make(VT_BYREF | VT_BSTR);
    V_BSTRREF(&src) = &ref;
    Normalized n(&src);
    ASSERT_EQ(S_OK, n.hr);
    ASSERT_EQ(VT_BSTR, V_VT(&n.dst));
    EXPECT_STREQ(L"C:\\data\\in.txt", V_BSTR(&n.dst));
    EXPECT_NE(text.get(), V_BSTR(&n.dst));
}

TEST(CatalogueNormalizeVariant, ByRefVariantIsCopiedAndThenWidened)
{
    VARIANT inner = Make(VT_R8);
    V_R8(&inner) = 7.0;
    VARIANT src = Make(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&src) = &inner;
    Normalized n(&src);
    ASSERT_EQ(S_OK, n.hr);
    ASSERT_EQ(VT_I4, V_VT(&n.dst));
    EXPECT_EQ(7, V_I4(&n.dst));
}

TEST(CatalogueNormalizeVariant, ByRefVariantHoldingAStringIsCopied)
{
    unique_variant inner;
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = ::SysAllocString(L"text");
    VARIANT src = Make(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&src) = &inner;
    Normalized n(&src);
    ASSERT_EQ(S_OK, n.hr);
    ASSERT_EQ(VT_BSTR, V_VT(&n.dst));
    EXPECT_STREQ(L"text", V_BSTR(&n.dst));
    EXPECT_NE(V_BSTR(&inner), V_BSTR(&n.dst));
}

TEST(CatalogueNormalizeVariant, ByRefShortBecomesItsPlainType)
{
    SHORT value = -12;
    VARIANT src = Make(VT_BYREF | VT_I2);
    V_I2REF(&src) = &value;
    Normalized n(&src);
    ASSERT_EQ(S_OK, n.hr);
    ASSERT_EQ(VT_I2, V_VT(&n.dst));
    EXPECT_EQ(-12, V_I2(&n.dst));
}

TEST(CatalogueNormalizeVariant, NullReferenceIsEPointer)
{
    VARIANT src = Make(VT_BYREF | VT_I4);
    V_I4REF(&src) = nullptr;
    EXPECT_EQ(E_POINTER, Normalized(&src).hr);
    VARIANT srcVariant = Make(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&srcVariant) = nullptr;
    EXPECT_EQ(E_POINTER, Normalized(&srcVariant).hr);
}

TEST(CatalogueNormalizeVariant, WholeDoubleBecomesLong)
{
    VARIANT src = Make(VT_R8);
    V_R8(&src) = 5.0;
    Normalized n(&src);
    ASSERT_EQ(S_OK, n.hr);
    ASSERT_EQ(VT_I4, V_VT(&n.dst));
    EXPECT_EQ(5, V_I4(&n.dst));
}

TEST(CatalogueNormalizeVariant, HalfwayValuesRoundAsThePlatformRounds)
{
    // The platform rounds halves to even.
    for (double value : {2.5, 3.5, -2.5}) {
        LONG expected = 0;
        ASSERT_EQ(S_OK, ::VarI4FromR8(value, &expected));
        VARIANT src = Make(VT_R8);
        V_R8(&src) = value;
        Normalized n(&src);
        ASSERT_EQ(S_OK, n.hr);
        EXPECT_EQ(expected, V_I4(&n.dst)) << value;
    }
    VARIANT half = Make(VT_R4);
    V_R4(&half) = 2.5f;
    Normalized n(&half);
    ASSERT_EQ(VT_I4, V_VT(&n.dst));
    EXPECT_EQ(2, V_I4(&n.dst));
}

TEST(CatalogueNormalizeVariant, UnsignedAndMachineIntegersBecomeLong)
{
    VARIANT u4 = Make(VT_UI4);
    V_UI4(&u4) = 70000;
    VARIANT i = Make(VT_INT);
    V_INT(&i) = -3;
    VARIANT u = Make(VT_UINT);
    V_UINT(&u) = 4;
    for (VARIANT* src : {&u4, &i, &u}) {
        Normalized n(src);
        ASSERT_EQ(S_OK, n.hr);
        EXPECT_EQ(VT_I4, V_VT(&n.dst));
    }
    Normalized wide(&u4);
    EXPECT_EQ(70000, V_I4(&wide.dst));
}

TEST(CatalogueNormalizeVariant, SmallIntegersBecomeShort)
{
    VARIANT ui1 = Make(VT_UI1);
    V_UI1(&ui1) = 200;
    VARIANT i1 = Make(VT_I1);
    V_I1(&i1) = -5;
    VARIANT ui2 = Make(VT_UI2);
    V_UI2(&ui2) = 30000;
    Normalized a(&ui1), b(&i1), c(&ui2);
    ASSERT_EQ(S_OK, a.hr);
    ASSERT_EQ(S_OK, b.hr);
    ASSERT_EQ(S_OK, c.hr);
    EXPECT_EQ(VT_I2, V_VT(&a.dst));
    EXPECT_EQ(200, V_I2(&a.dst));
    EXPECT_EQ(-5, V_I2(&b.dst));
    EXPECT_EQ(30000, V_I2(&c.dst));
}

TEST(CatalogueNormalizeVariant, ValuesThatDoNotFitFailWithOverflow)
{
    VARIANT big = Make(VT_R8);
    V_R8(&big) = 1e10;
    EXPECT_EQ(DISP_E_OVERFLOW, Normalized(&big).hr);
    VARIANT tiny = Make(VT_R4);
    V_R4(&tiny) = -3e9f;
    EXPECT_EQ(DISP_E_OVERFLOW, Normalized(&tiny).hr);
}

TEST(CatalogueNormalizeVariant, SameWidthUnsignedValuesAreReinterpretedLikeThePlatformDoes)
{
    // VariantChangeType does not range-check a conversion between integers
    // of one width (unlike VarI2FromUI2): the bits are kept.
    VARIANT ui2 = Make(VT_UI2);
    V_UI2(&ui2) = 40000;
    Normalized n2(&ui2);
    ASSERT_EQ(S_OK, n2.hr);
    EXPECT_EQ(-25536, V_I2(&n2.dst));
    VARIANT ui4 = Make(VT_UI4);
    V_UI4(&ui4) = 0x80000000u;
    Normalized n4(&ui4);
    ASSERT_EQ(S_OK, n4.hr);
    EXPECT_EQ(static_cast<LONG>(0x80000000u), V_I4(&n4.dst));
}

TEST(CatalogueNormalizeVariant, OtherTypesAreCopiedUnchanged)
{
    VARIANT i2 = Make(VT_I2);
    V_I2(&i2) = 9;
    VARIANT i4 = Make(VT_I4);
    V_I4(&i4) = 10;
    VARIANT b = Make(VT_BOOL);
    V_BOOL(&b) = VARIANT_TRUE;
    VARIANT i8 = Make(VT_I8);
    V_I8(&i8) = 1LL << 40;
    VARIANT ui8 = Make(VT_UI8);
    V_UI8(&ui8) = 1ULL << 63;
    VARIANT missing = MissingArgument();
    for (VARIANT* src : {&i2, &i4, &b, &i8, &ui8, &missing}) {
        Normalized n(src);
        ASSERT_EQ(S_OK, n.hr);
        EXPECT_EQ(V_VT(src), V_VT(&n.dst));
        EXPECT_EQ(V_UI8(src), V_UI8(&n.dst)) << V_VT(src);
    }
}

TEST(CatalogueNormalizeVariant, ANullStringStaysNull)
{
    BSTR none = nullptr;
    VARIANT plain = Make(VT_BSTR);
    V_BSTR(&plain) = nullptr;
    VARIANT byRef = Make(VT_BYREF | VT_BSTR);
    V_BSTRREF(&byRef) = &none;
    VARIANT byRefVariant = Make(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&byRefVariant) = &plain;
    for (VARIANT* src : {&plain, &byRef, &byRefVariant}) {
        Normalized n(src);
        ASSERT_EQ(S_OK, n.hr);
        EXPECT_EQ(VT_BSTR, V_VT(&n.dst));
        EXPECT_EQ(nullptr, V_BSTR(&n.dst));
    }
}

TEST(CatalogueNormalizeVariant, ObjectsAreCopiedWithAReference)
{
    struct Counted : IUnknown {
        LONG refs = 1;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
        ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    } object;
    VARIANT src = Make(VT_UNKNOWN);
    V_UNKNOWN(&src) = &object;
    {
        Normalized n(&src);
        ASSERT_EQ(S_OK, n.hr);
        EXPECT_EQ(&object, V_UNKNOWN(&n.dst));
        EXPECT_EQ(2, object.refs);
    }
    EXPECT_EQ(1, object.refs);
}
