// What registration writes and removes, through the exports and through
// the platform's own registration tool.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "ModuleDll.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using namespace moduletest;

namespace {

const std::wstring kProgId = L"Vembro.FileTranslateManager";
const std::wstring kProgId3 = L"Vembro.FileTranslateManager.3";
// The library is registered under its own locale, US English.
const LCID kEnglish = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_TRUE(m_dll.Loaded());
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, m_dll.Unregister());
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
        ::CoUninitialize();
    }

    const std::wstring m_classKey = L"CLSID\\" + GuidText(CLSID_TolviFTManager);
    VembroDll m_dll;
};

TEST_F(Registration, ClassKeyHoldsExactlyTheRegisteredSubkeys)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ((std::vector<std::wstring>{L"InprocServer32", L"ProgID", L"Programmable", L"TypeLib",
                                         L"VersionIndependentProgID"}),
              Subkeys(HKEY_CLASSES_ROOT, m_classKey));
    EXPECT_EQ(L"TolviFTManager Class", RegText(HKEY_CLASSES_ROOT, m_classKey).value_or(L"-"));
    EXPECT_EQ(kProgId3, RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\ProgID").value_or(L"-"));
    EXPECT_EQ(kProgId, RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\VersionIndependentProgID").value_or(L"-"));
    EXPECT_EQ(GuidText(LIBID_VEMBROLib), RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\TypeLib").value_or(L"-"));
    EXPECT_EQ(0u, ValueCount(HKEY_CLASSES_ROOT, m_classKey + L"\\Programmable"));
}

TEST_F(Registration, InprocServerIsTheUnquotedModulePathWithThreadingModelBoth)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ(m_dll.Path(), RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\InprocServer32").value_or(L"-"));
    EXPECT_EQ(L"Both", RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\InprocServer32", L"ThreadingModel").value_or(L"-"));
}

TEST_F(Registration, ProgIdsResolveThroughCurVerToTheClass)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ(kProgId3, RegText(HKEY_CLASSES_ROOT, kProgId + L"\\CurVer").value_or(L"-"));
    EXPECT_EQ(L"TolviFTManager Class", RegText(HKEY_CLASSES_ROOT, kProgId).value_or(L"-"));
    EXPECT_EQ(L"TolviFTManager Class", RegText(HKEY_CLASSES_ROOT, kProgId3).value_or(L"-"));
    CLSID independent = GUID_NULL, dependent = GUID_NULL;
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(kProgId.c_str(), &independent));
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(kProgId3.c_str(), &dependent));
    EXPECT_EQ(CLSID_TolviFTManager, independent);
    EXPECT_EQ(CLSID_TolviFTManager, dependent);
}

TEST_F(Registration, SecondRegistrationRewritesTheClassKey)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    // Leftovers that only a delete-and-rewrite removes.
    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CLASSES_ROOT, (m_classKey + L"\\Stale").c_str(), &stale));
    ::RegCloseKey(stale);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, (m_classKey + L"\\Programmable").c_str(), L"Old",
                                                REG_SZ, L"x", 4));
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ((std::vector<std::wstring>{L"InprocServer32", L"ProgID", L"Programmable", L"TypeLib",
                                         L"VersionIndependentProgID"}),
              Subkeys(HKEY_CLASSES_ROOT, m_classKey));
    EXPECT_EQ(0u, ValueCount(HKEY_CLASSES_ROOT, m_classKey + L"\\Programmable"));
}

TEST_F(Registration, UnregistrationRemovesWhatWasWrittenButNotTheClsidKey)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ(S_OK, m_dll.Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_classKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId3));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredSucceeds)
{
    ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_classKey));
    EXPECT_EQ(S_OK, m_dll.Unregister());
    EXPECT_EQ(S_OK, m_dll.Unregister());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(Registration, TypeLibraryIsRegisteredWithTheModuleFolderForHelp)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, kEnglish, &lib));
    const std::wstring version = L"TypeLib\\" + GuidText(LIBID_VEMBROLib) + L"\\1.0";
    EXPECT_EQ(FolderOf(m_dll.Path()), RegText(HKEY_CLASSES_ROOT, version + L"\\HELPDIR").value_or(L"-"));
    lib.Reset();
    EXPECT_EQ(S_OK, m_dll.Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, version));
}

namespace {
// A client sink with nothing but its interface: no marshaller of its own, so
// carrying it to another thread needs the registered library.
class PlainSink : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileTranslatorEvents> {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(PlainSink, ITolviFileTranslatorEvents),
            VEMBRO_QI_AS(PlainSink, IID_IDispatch, ITolviFileTranslatorEvents),
            VEMBRO_QI_END,
        };
        return table;
    }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
    STDMETHODIMP StateChange(LONG) noexcept override { return S_OK; }
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override { return S_OK; }
};
} // namespace

TEST_F(Registration, ClientSinksCanBeMarshalledOnceRegistered)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, LANG_NEUTRAL, &lib));
    lib.Reset();
    {
        vembro::CComObject<PlainSink>* raw = nullptr;
        ASSERT_EQ(S_OK, vembro::CComObject<PlainSink>::CreateInstance(&raw));
        ComPtr<ITolviFileTranslatorEvents> sink(raw);
        IStream* stream = reinterpret_cast<IStream*>(0xdead);
        ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_ITolviFileTranslatorEvents, sink.Get(), &stream));
        ComPtr<ITolviFileTranslatorEvents> back;
        EXPECT_EQ(S_OK, ::CoGetInterfaceAndReleaseStream(stream, IID_PPV_ARGS(&back)));
    }
    EXPECT_EQ(S_OK, m_dll.Unregister());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_VEMBROLib)));
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

TEST_F(Registration, ManagerAnswersThroughTheRegisteredTypeLibrary)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    ComPtr<IDispatch> manager;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_TolviFTManager, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)));
    LPOLESTR name = const_cast<LPOLESTR>(L"TranslateAvailableFormats");
    DISPID id = 0;
    ASSERT_EQ(S_OK, manager->GetIDsOfNames(IID_NULL, &name, 1, kEnglish, &id));
    EXPECT_EQ(8, id);
    UINT count = 0;
    EXPECT_EQ(S_OK, manager->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
}

TEST_F(Registration, Regsvr32RegistersAndUnregistersSilently)
{
    EXPECT_EQ(0, RunProcess(L"regsvr32.exe /s \"" + m_dll.Path() + L"\""));
    EXPECT_EQ(m_dll.Path(), RegText(HKEY_CLASSES_ROOT, m_classKey + L"\\InprocServer32").value_or(L"-"));
    EXPECT_EQ(0, RunProcess(L"regsvr32.exe /u /s \"" + m_dll.Path() + L"\""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_classKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
}

} // namespace
