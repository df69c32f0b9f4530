// The format table's fixed order, the format store and NormalizeVariant: no registry, no fake components.
#include "RegistryTestSupport.h"
#include "catalogue/FormatMap.h"
#include "catalogue/FormatsInfo.h"
#include "vembro/com/Variant.h"

using namespace vembro;
using namespace catalogue_test;
using comtest::Var;

namespace {

// Reads as format 41 "Broken" but fails on its ID. Owned by the test, never deleted.
struct BrokenFormat : ITolviFileFormat {
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    VEMBRO_TEST_STUBS_IDISPATCH
    STDMETHODIMP get_Name(BSTR* p) override { return *p = ::SysAllocString(L"Broken"), S_OK; }
    STDMETHODIMP get_DefaultExtention(BSTR* p) override { return *p = ::SysAllocString(L"x"), S_OK; }
    STDMETHODIMP get_Extentions(BSTR* p) override { return *p = ::SysAllocString(L"x"), S_OK; }
    STDMETHODIMP get_ID(short* p) override { return *p = 41, E_FAIL; }
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* p) override { return *p = VARIANT_FALSE, S_OK; }
};

} // namespace

TEST(CatalogueFormatStore, TheFormatTableEnumeratesBucketByBucketLatestKeyFirst)
{
    // Bucket (unsigned)(int)id >> 4 modulo 17; a new key heads its bucket,
    // a replaced value keeps its place. Every list a client sees follows it.
    const std::pair<Ids, Ids> rows[] = {
        {{1, 17, 2}, {2, 1, 17}},
        {{5, 3, 20}, {3, 5, 20}},
        {{256, 240, 0, -1}, {0, -1, 240, 256}}, // -1 hashes to 0x0FFFFFFF: bucket 15
        {{16, 0, 272}, {272, 0, 16}},           // 272 >> 4 is 17: bucket 0 again
        {{1, 2, 3, 1}, {3, 2, 1}}};
    for (const auto& row : rows) {
        CFormatMap<int> map;
        for (short id : row.first)
            map.SetAt(id, id);
        Ids keys;
        map.ForEach([&](short key, int) { keys.push_back(key); });
        EXPECT_EQ(row.second, keys) << ::testing::PrintToString(row.first);
    }
}

TEST(CatalogueFormatStore, AFormatThatCannotBeReadIsNotAdded)
{
    // Only this test's own store and format object: nothing here depends on
    // another process, the registry or the clock.
    CFormatsInfo store;
    BrokenFormat format;
    CFormatInfo out;
    out.ID = 7;
    EXPECT_EQ(E_FAIL, store.Add(&format, &out));
    EXPECT_EQ(7, out.ID);
    EXPECT_FALSE(store.Lookup(-1, nullptr));
    EXPECT_FALSE(store.Lookup(41, nullptr));
    EXPECT_FALSE(store.FindByName("Broken", nullptr));
    EXPECT_EQ(E_POINTER, store.Add(nullptr, &out));
    EXPECT_EQ(1, format.refs);
}

TEST(CatalogueVariant, NormalizeVariantGivesEachTypeItsPlainForm)
{
    SHORT i2 = -12;
    BSTR path = ::SysAllocString(L"C:\\in.txt"), none = nullptr;
    Var real = Var::Of(VT_R8, 7.0), text = Var::Str("text"), nullText = NullOf(VT_BSTR);
    const struct { Var in; HRESULT hr; const char* out; } rows[] = {
        {Var::Of(VT_R8, 5.0), S_OK, "VT_I4:5"},       {Var::Of(VT_UI4, 70000), S_OK, "VT_I4:70000"},
        {Var::Of(VT_INT, -3), S_OK, "VT_I4:-3"},      {Var::Of(VT_UINT, 4), S_OK, "VT_I4:4"},
        {Var::Of(VT_UI1, 200), S_OK, "VT_I2:200"},    {Var::Of(VT_I1, -5), S_OK, "VT_I2:-5"},
        {Var::Of(VT_UI2, 30000), S_OK, "VT_I2:30000"}, {Var::Of(VT_R8, 1e10), DISP_E_OVERFLOW, nullptr},
        {Var::Of(VT_R4, -3e9), DISP_E_OVERFLOW, nullptr}, {Var::I2(9), S_OK, "VT_I2:9"},
        {Var::Missing(), S_OK, "VT_ERROR:80020004"}, {ByRef(VT_I2, &i2), S_OK, "VT_I2:-12"},
        {ByRef(VT_BSTR, &path), S_OK, "VT_BSTR:C:\\in.txt"},
        {ByRef(VT_VARIANT, static_cast<VARIANT*>(&real)), S_OK, "VT_I4:7"},
        {ByRef(VT_VARIANT, static_cast<VARIANT*>(&text)), S_OK, "VT_BSTR:text"},
        {NullOf(VT_BYREF | VT_I4), E_POINTER, nullptr}, {NullOf(VT_BYREF | VT_VARIANT), E_POINTER, nullptr},
        // A NULL string must stay recognisable as "no string", not "".
        {ByRef(VT_BSTR, &none), S_OK, "VT_BSTR:<null>"},
        {ByRef(VT_VARIANT, static_cast<VARIANT*>(&nullText)), S_OK, "VT_BSTR:<null>"},
        {NullOf(VT_BSTR), S_OK, "VT_BSTR:<null>"}};
    for (const auto& row : rows) {
        Var out = Var::I4(0x7EADBEEF);
        EXPECT_EQ(row.hr, NormalizeVariant(&row.in, &out)) << (row.out ? row.out : "failure");
        if (row.out) {
            EXPECT_EQ(row.out, comtest::VariantText(out));
        }
    }
    ::SysFreeString(path);
}
