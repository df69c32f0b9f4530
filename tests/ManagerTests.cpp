// The manager and its format collections over the fake components: format
// arguments given every way a client can give them, and what is handed out.
#include "RegistryTestSupport.h"
#include "catalogue/Converters.h"
#include "manager/FileFormats.h"
#include "manager/Manager.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using comtest::Poisoned;
using comtest::Var;

namespace {

class Manager : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ASSERT_EQ(S_OK, CreateManager_nothrow(IID_ITolviFTManager, reinterpret_cast<void**>(manager.GetAddressOf())));
        const fakes::Format alpha{1, "Alpha", "a", "a.shared"}, beta{2, "Beta", "b", "b"},
            gamma{3, "Gamma", "c", "c.SHARED", true}, five{5, "Five", "f5", "f5"}, six{6, "Six", "f6", "f6"};
        inst.Converter("A2B", alpha, beta).Converter("A2A", alpha, alpha).Converter("A2C", alpha, gamma);
        inst.Converter("E2F", five, six).Translator("B2C", beta, gamma).Install();
    }
    void TearDown() override
    {
        manager.Reset();
        RegistryTest::TearDown();
    }
    static Ids IdsOf(ITolviFileFormats* formats)
    {
        short count = -1, id = -2;
        EXPECT_EQ(S_OK, formats->get_Count(&count));
        Ids ids;
        for (short i = 0; i < count; ++i) {
            ComPtr<ITolviFileFormat> format;
            EXPECT_EQ(S_OK, formats->get_FileFormat(i, &format));
            EXPECT_EQ(S_OK, format->get_ID(&id));
            ids.push_back(id);
        }
        return ids;
    }
    ComPtr<ITolviFTManager> manager;
};

} // namespace

TEST_F(Manager, AFormatIsGivenByIdentifierOrByNameTheSourceFirstAndFailuresLeaveNull)
{
    LONG one = 1;
    const struct { Var format; HRESULT hr; Ids targets; } rows[] = {
        {Var::I2(1), S_OK, {1, 3, 2}}, // the source itself first
        {Var::I4(1), S_OK, {1, 3, 2}}, {Var::Str("Alpha"), S_OK, {1, 3, 2}}, {ByRef(VT_I4, &one), S_OK, {1, 3, 2}},
        {Var::Of(VT_R8, 5.0), S_OK, {6}}, {Var::Of(VT_UI1, 5), S_OK, {6}}, {Var::I2(42), S_OK, {}},
        {Var::I4(65535), S_OK, {}}, // the low 16 bits: -1
        {Var::I4(65536), E_INVALIDARG, {}}, {Var::I4(-1), E_INVALIDARG, {}}, {Var::Str("alpha"), E_INVALIDARG, {}},
        {Var::Of(VT_BOOL, VARIANT_TRUE), E_INVALIDARG, {}}, {Var::Of(VT_I8, 1), E_INVALIDARG, {}}, {Var(), E_INVALIDARG, {}},
        {Var::Of(VT_R8, 3e9), DISP_E_OVERFLOW, {}}};
    for (const auto& row : rows) {
        ITolviFileFormats* formats = Poisoned<ITolviFileFormats>();
        const HRESULT hr = manager->get_ConvertTargetFormats(row.format, &formats);
        EXPECT_EQ(row.hr, hr) << comtest::VariantText(row.format);
        if (FAILED(hr)) {
            EXPECT_EQ(nullptr, formats);
            continue;
        }
        EXPECT_EQ(row.targets, IdsOf(formats)) << comtest::VariantText(row.format);
        formats->Release();
    }
    // The source is looked at before the target; failures leave null.
    ITolviFileConverter* converter = Poisoned<ITolviFileConverter>();
    EXPECT_EQ(DISP_E_OVERFLOW, manager->get_Converter(Var::Of(VT_R8, 1e12), Var::Str("nope"), &converter));
    EXPECT_EQ(nullptr, converter);
    ITolviFileTranslator* translator = Poisoned<ITolviFileTranslator>();
    EXPECT_EQ(E_INVALIDARG, manager->get_Translator(Var::Str("nope"), Var::Of(VT_R8, 1e12), &translator));
    EXPECT_EQ(DISP_E_OVERFLOW, manager->get_Translator(Var::I2(2), Var::Of(VT_R8, 1e12), &translator));
    EXPECT_EQ(nullptr, translator);
    ITolviFileFormats* formats = Poisoned<ITolviFileFormats>();
    const auto badType = static_cast<tagFILEDATATYPE>(7);
    EXPECT_EQ(E_INVALIDARG, manager->get_ConvertAvailableFormats(Var::I4(7), badType, &formats));
    EXPECT_EQ(nullptr, formats);
    // The route registry answers a failed detection with an empty list.
    ASSERT_EQ(S_OK, manager->get_TranslateAvailableFormats(Var::I4(7), badType, &formats));
    EXPECT_EQ(Ids{}, IdsOf(formats));
    formats->Release();
}

TEST_F(Manager, CollectionsFindFormatsByPositionIdentifierNameAndExtension)
{
    ASSERT_EQ(S_OK, g_Converters.Load());
    ComPtr<ITolviFileFormats> formats, subset;
    ASSERT_EQ(S_OK, CreateFileFormats(List({3, 2, 99, 1, 3}), &formats));
    auto idOf = [](ITolviFileFormat* format) {
        short id = -2;
        EXPECT_EQ(S_OK, format->get_ID(&id));
        format->Release();
        return id;
    };
    ITolviFileFormat* format = Poisoned<ITolviFileFormat>();
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormat(5, &format));
    EXPECT_EQ(nullptr, format);
    EXPECT_EQ(E_UNEXPECTED, formats->get_FileFormat(2, &format)); // 99 was never recorded
    EXPECT_EQ(nullptr, format);
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormatFromID(6, &format));
    ASSERT_EQ(S_OK, formats->get_FileFormatFromID(1, &format));
    EXPECT_EQ(1, idOf(format));
    EXPECT_EQ(E_INVALIDARG, formats->get_FileFormatFromName(comtest::Bstr("beta").get(), &format));
    ASSERT_EQ(S_OK, formats->get_FileFormatFromName(comtest::Bstr("Beta").get(), &format));
    EXPECT_EQ(2, idOf(format));
    // Whole items of either extension field, in any case, in collection order.
    const std::pair<const char*, Ids> byExt[] = {{"Shared", {3, 1, 3}}, {"B", {2}}, {".shared", {}}, {"hare", {}}};
    for (const auto& ext : byExt) {
        ASSERT_EQ(S_OK, formats->get_FileFormatFromExt(comtest::Bstr(ext.first).get(), subset.ReleaseAndGetAddressOf()));
        EXPECT_EQ(ext.second, IdsOf(subset.Get())) << ext.first;
    }
}
