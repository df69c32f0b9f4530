// The manager over the fake components: preparation order, format
// arguments given every way a client can give them, and what is handed out.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <vector>

#include "catalogue/Converters.h"
#include "chains/Translators.h"
#include "vembro/com/Module.h"
#include "manager/Manager.h"
#include "support/Fakes.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;

namespace {

template <class T>
T* Poison() { return reinterpret_cast<T*>(static_cast<uintptr_t>(0xBAADF00D)); }

struct Arg : unique_variant {
    static Arg I2(short v) { Arg a; V_VT(&a) = VT_I2; V_I2(&a) = v; return a; }
    static Arg I4(LONG v) { Arg a; V_VT(&a) = VT_I4; V_I4(&a) = v; return a; }
    static Arg R8(double v) { Arg a; V_VT(&a) = VT_R8; V_R8(&a) = v; return a; }
    static Arg Bool(bool v) { Arg a; V_VT(&a) = VT_BOOL; V_BOOL(&a) = v ? VARIANT_TRUE : VARIANT_FALSE; return a; }
    static Arg Str(const wchar_t* v) { Arg a; V_VT(&a) = VT_BSTR; V_BSTR(&a) = ::SysAllocString(v); return a; }
    Arg() = default;
    Arg(Arg&& other) noexcept { *static_cast<VARIANT*>(this) = other.Detach(); }
};

std::vector<short> IdsOf(ITolviFileFormats* formats)
{
    std::vector<short> ids;
    short count = 0;
    EXPECT_EQ(S_OK, formats->get_Count(&count));
    for (short i = 0; i < count; ++i) {
        ComPtr<ITolviFileFormat> format;
        EXPECT_EQ(S_OK, formats->get_FileFormat(i, &format));
        short id = 0;
        if (format) {
            EXPECT_EQ(S_OK, format->get_ID(&id));
        }
        ids.push_back(id);
    }
    return ids;
}

const fakes::Format kAlpha{1, "Alpha", "a", "a"};
const fakes::Format kBeta{2, "Beta", "b", "b"};
const fakes::Format kGamma{3, "Gamma", "c", "c"};
const fakes::Format kFive{5, "Five", "f5", "f5"};
const fakes::Format kSix{6, "Six", "f6", "f6"};

class Manager : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override
    {
        m_manager.Reset();
        EXPECT_EQ(0, ModuleLockCount());
        // Every component and format object the system asked was released.
        EXPECT_EQ(0, m_inst.LiveObjects());
        ::CoUninitialize();
    }

    void InstallCatalogue()
    {
        m_inst.Converter("A2B", kAlpha, kBeta)
            .Converter("A2A", kAlpha, kAlpha)
            .Converter("A2C", kAlpha, kGamma)
            .Converter("E2F", kFive, kSix)
            .Translator("B2C", kBeta, kGamma)
            .Install();
    }

    ITolviFTManager* Mgr()
    {
        if (!m_manager) {
            EXPECT_EQ(S_OK, CreateManager(IID_ITolviFTManager, reinterpret_cast<void**>(m_manager.GetAddressOf())));
        }
        return m_manager.Get();
    }

    std::vector<short> ConvertTargets(const VARIANT& source)
    {
        ComPtr<ITolviFileFormats> formats;
        EXPECT_EQ(S_OK, Mgr()->get_ConvertTargetFormats(source, &formats));
        return formats ? IdsOf(formats.Get()) : std::vector<short>{99};
    }

    fakes::Installation m_inst;
    ComPtr<ITolviFTManager> m_manager;
};

TEST_F(Manager, ConvertSourceFormatsFollowsTheRegistryOrder)
{
    InstallCatalogue();
    ComPtr<ITolviFileFormats> formats;
    ASSERT_EQ(S_OK, Mgr()->get_ConvertSourceFormats(&formats));
    EXPECT_EQ(g_Converters.GetSourceIDs().Items(), IdsOf(formats.Get()));
    EXPECT_EQ(2u, IdsOf(formats.Get()).size());
}

TEST_F(Manager, TranslateListsFollowTheRouteRegistry)
{
    InstallCatalogue();
    ComPtr<ITolviFileFormats> sources, targets;
    ASSERT_EQ(S_OK, Mgr()->get_TranslateSourceFormats(&sources));
    ASSERT_EQ(S_OK, Mgr()->get_TranslateTargetFormats(Arg::I2(1), &targets));
    CFormatIDs expectedSources, expectedTargets;
    g_Translators.GetSourceIDs(expectedSources);
    g_Translators.GetTargetIDs(1, expectedTargets);
    EXPECT_EQ(expectedSources.Items(), IdsOf(sources.Get()));
    EXPECT_EQ(expectedTargets.Items(), IdsOf(targets.Get()));
    EXPECT_FALSE(IdsOf(targets.Get()).empty()); // A -> B -> C is a route
}

TEST_F(Manager, ConvertTargetFormatsPutsTheSourceItselfFirst)
{
    InstallCatalogue();
    std::vector<short> ids = ConvertTargets(Arg::I2(1));
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ(1, ids[0]);
}

TEST_F(Manager, SourceGivenThreeWaysGivesTheSameCollection)
{
    InstallCatalogue();
    std::vector<short> byI2 = ConvertTargets(Arg::I2(1));
    EXPECT_EQ(byI2, ConvertTargets(Arg::I4(1)));
    EXPECT_EQ(byI2, ConvertTargets(Arg::Str(L"Alpha")));
}

TEST_F(Manager, SourceWithoutConverterGivesAnEmptyCollection)
{
    InstallCatalogue();
    EXPECT_TRUE(ConvertTargets(Arg::I2(42)).empty());
    EXPECT_TRUE(ConvertTargets(Arg::I4(65535)).empty()); // ID -1
}

TEST_F(Manager, RealNumberIsRoundedToAnId)
{
    InstallCatalogue();
    EXPECT_EQ(std::vector<short>{6}, ConvertTargets(Arg::R8(5.0)));
}

TEST_F(Manager, OutOfRangeI4AndWrongCaseNameAreInvalid)
{
    InstallCatalogue();
    std::vector<Arg> bad;
    bad.push_back(Arg::I4(65536));
    bad.push_back(Arg::I4(-1));
    bad.push_back(Arg::Str(L"alpha"));
    bad.push_back(Arg::Bool(true));
    bad.push_back(Arg());
    for (const Arg& arg : bad) {
        ITolviFileFormats* formats = Poison<ITolviFileFormats>();
        EXPECT_EQ(E_INVALIDARG, Mgr()->get_ConvertTargetFormats(arg, &formats)) << V_VT(&arg);
        EXPECT_EQ(nullptr, formats);
    }
}

TEST_F(Manager, NullResultPointerComesBeforeEverythingElse)
{
    // A missing catalogue would fail the load: E_POINTER must come first.
    m_inst.WithoutCatalogueKey().Install();
    Arg a = Arg::I2(1);
    EXPECT_EQ(E_POINTER, Mgr()->get_ConvertSourceFormats(nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_TranslateSourceFormats(nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_ConvertTargetFormats(a, nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_TranslateTargetFormats(a, nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_Converter(a, a, nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_Translator(a, a, nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_ConvertAvailableFormats(a, FILEDATATYPE_FILENAME, nullptr));
    EXPECT_EQ(E_POINTER, Mgr()->get_TranslateAvailableFormats(a, FILEDATATYPE_FILENAME, nullptr));
    EXPECT_FALSE(g_Converters.m_bLoaded);
}

TEST_F(Manager, CatalogueIsLoadedBeforeABadArgumentIsSeen)
{
    m_inst.WithoutCatalogueKey().Install();
    const HRESULT missing = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    ITolviFileFormats* formats = Poison<ITolviFileFormats>();
    EXPECT_EQ(missing, Mgr()->get_ConvertTargetFormats(Arg::Bool(true), &formats));
    EXPECT_EQ(nullptr, formats);
    ITolviFileConverter* converter = Poison<ITolviFileConverter>();
    EXPECT_EQ(missing, Mgr()->get_Converter(Arg::Bool(true), Arg::Bool(true), &converter));
    EXPECT_EQ(nullptr, converter);
}

TEST_F(Manager, SourceIsLookedAtBeforeTarget)
{
    InstallCatalogue();
    // An overflowing real fails with the conversion's own code, which tells
    // the two arguments' failures apart.
    ITolviFileConverter* converter = Poison<ITolviFileConverter>();
    EXPECT_EQ(DISP_E_OVERFLOW, Mgr()->get_Converter(Arg::R8(1e12), Arg::Str(L"nope"), &converter));
    EXPECT_EQ(nullptr, converter);
    ITolviFileTranslator* translator = Poison<ITolviFileTranslator>();
    EXPECT_EQ(E_INVALIDARG, Mgr()->get_Translator(Arg::Str(L"nope"), Arg::R8(1e12), &translator));
    EXPECT_EQ(nullptr, translator);
    EXPECT_EQ(DISP_E_OVERFLOW, Mgr()->get_Translator(Arg::I2(2), Arg::R8(1e12), &translator));
    EXPECT_EQ(nullptr, translator);
}

TEST_F(Manager, ConverterForAPairWithoutConverterIsInvalid)
{
    InstallCatalogue();
    ITolviFileConverter* converter = Poison<ITolviFileConverter>();
    EXPECT_EQ(E_INVALIDARG, Mgr()->get_Converter(Arg::I2(2), Arg::I2(1), &converter));
    EXPECT_EQ(nullptr, converter);
}

TEST_F(Manager, ConverterIsTheComponentNewEachCall)
{
    InstallCatalogue();
    ComPtr<ITolviFileConverter> first, second;
    ASSERT_EQ(S_OK, Mgr()->get_Converter(Arg::Str(L"Alpha"), Arg::I4(2), &first));
    ASSERT_EQ(S_OK, Mgr()->get_Converter(Arg::I2(1), Arg::I2(2), &second));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(2, m_inst.LiveInstances("A2B"));
    // The component lives in its own module: only the manager holds ours.
    EXPECT_EQ(1, ModuleLockCount());
}

TEST_F(Manager, DirectTranslatorIsHandedOutAsItself)
{
    InstallCatalogue();
    ComPtr<ITolviFileTranslator> first, second;
    ASSERT_EQ(S_OK, Mgr()->get_Translator(Arg::I2(2), Arg::I2(3), &first));
    ASSERT_EQ(S_OK, Mgr()->get_Translator(Arg::Str(L"Beta"), Arg::Str(L"Gamma"), &second));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(2, m_inst.LiveInstances("B2C"));
    // A chain translator would be an object of this module.
    EXPECT_EQ(1, ModuleLockCount());
}

TEST_F(Manager, TranslatorForAPairWithoutRouteIsInvalid)
{
    InstallCatalogue();
    ITolviFileTranslator* translator = Poison<ITolviFileTranslator>();
    EXPECT_EQ(E_INVALIDARG, Mgr()->get_Translator(Arg::I2(3), Arg::I2(1), &translator));
    EXPECT_EQ(nullptr, translator);
}

TEST_F(Manager, TranslateAvailableFormatsTakesAFailedDetectionAsNone)
{
    InstallCatalogue();
    ComPtr<ITolviFileFormats> formats;
    ASSERT_EQ(S_OK, Mgr()->get_TranslateAvailableFormats(Arg::I4(7), static_cast<tagFILEDATATYPE>(7), &formats));
    EXPECT_TRUE(IdsOf(formats.Get()).empty());
}

TEST_F(Manager, ConvertAvailableFormatsPassesADetectionFailureOn)
{
    InstallCatalogue();
    ITolviFileFormats* formats = Poison<ITolviFileFormats>();
    EXPECT_EQ(E_INVALIDARG,
              Mgr()->get_ConvertAvailableFormats(Arg::I4(7), static_cast<tagFILEDATATYPE>(7), &formats));
    EXPECT_EQ(nullptr, formats);
}

TEST_F(Manager, AnswersExactlyItsInterfaces)
{
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, Mgr()->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(S_OK, Mgr()->QueryInterface(IID_PPV_ARGS(&dispatch)));
    EXPECT_EQ(static_cast<IUnknown*>(Mgr()), unknown.Get());
    IConnectionPointContainer* container = Poison<IConnectionPointContainer>();
    EXPECT_EQ(E_NOINTERFACE, Mgr()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    EXPECT_EQ(nullptr, container);
    ComPtr<ITolviFileFormats> formats;
    EXPECT_EQ(E_NOINTERFACE, Mgr()->QueryInterface(IID_PPV_ARGS(&formats)));
    EXPECT_EQ(1, ModuleLockCount());
}

TEST_F(Manager, CreationAskingForAForeignInterfaceLeavesNothingBehind)
{
    void* p = Poison<void>();
    EXPECT_EQ(E_NOINTERFACE, CreateManager(IID_ITolviFileFormats, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(0, ModuleLockCount());
}

// The conversion of a format argument on its own.
class FormatIDFromVariant : public ::testing::Test {
protected:
    static HRESULT Id(const VARIANT& v, short& id)
    {
        id = 1234;
        return CTolviFTManager::FormatIDFromVariant(v, id);
    }
};

TEST_F(FormatIDFromVariant, I4TakesTheLow16BitsAsSigned)
{
    short id;
    EXPECT_EQ(S_OK, Id(Arg::I4(65535), id));
    EXPECT_EQ(-1, id);
    EXPECT_EQ(S_OK, Id(Arg::I4(40000), id));
    EXPECT_EQ(-25536, id);
    EXPECT_EQ(S_OK, Id(Arg::I4(0), id));
    EXPECT_EQ(0, id);
}

TEST_F(FormatIDFromVariant, I4OutsideSixteenBitsIsInvalidAndGivesMinusOne)
{
    short id;
    EXPECT_EQ(E_INVALIDARG, Id(Arg::I4(65536), id));
    EXPECT_EQ(-1, id);
    EXPECT_EQ(E_INVALIDARG, Id(Arg::I4(-1), id));
    EXPECT_EQ(-1, id);
}

TEST_F(FormatIDFromVariant, I2IsTakenAsItIs)
{
    short id;
    EXPECT_EQ(S_OK, Id(Arg::I2(-300), id));
    EXPECT_EQ(-300, id);
}

TEST_F(FormatIDFromVariant, NarrowAndByReferenceValuesAreNormalisedFirst)
{
    short id;
    Arg byte;
    V_VT(&byte) = VT_UI1;
    V_UI1(&byte) = 200;
    EXPECT_EQ(S_OK, Id(byte, id));
    EXPECT_EQ(200, id);

    LONG target = 7;
    Arg ref;
    V_VT(&ref) = VT_I4 | VT_BYREF;
    V_I4REF(&ref) = &target;
    EXPECT_EQ(S_OK, Id(ref, id));
    EXPECT_EQ(7, id);
    V_VT(&ref) = VT_EMPTY; // the referenced value is not ours to clear
}

TEST_F(FormatIDFromVariant, OtherTypesAreInvalid)
{
    short id;
    Arg wide;
    V_VT(&wide) = VT_I8;
    V_I8(&wide) = 1;
    EXPECT_EQ(E_INVALIDARG, Id(wide, id));
    EXPECT_EQ(E_INVALIDARG, Id(Arg(), id));
    EXPECT_EQ(E_INVALIDARG, Id(Arg::Bool(false), id));
    EXPECT_EQ(-1, id);
}

TEST_F(FormatIDFromVariant, NameOfNoStoredFormatIsInvalid)
{
    short id;
    EXPECT_EQ(E_INVALIDARG, Id(Arg::Str(L"Nothing"), id));
    EXPECT_EQ(-1, id);
}

TEST_F(FormatIDFromVariant, OverflowingRealFailsWithTheConversionCode)
{
    short id;
    EXPECT_EQ(DISP_E_OVERFLOW, Id(Arg::R8(3e9), id));
    EXPECT_EQ(-1, id);
}

} // namespace
