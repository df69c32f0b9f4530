// The module: through the exports of the built Vembro.DLL (the unload rule,
// the class factory, registration and its roll-back), its start and stop on
// the copy that this program links, and the registrar's script language on a
// private key of the current user.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ModuleDll.h"
#include "module/ComModule.h"
#include "module/VembroApp.h"
#include "support/ComChecks.h"
#include "support/Fakes.h"
#include "vembro/com/Registrar.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::GuidString;

namespace {

// A string value (null name: the default one), or nothing when the key or the value is missing.
std::optional<std::wstring> RegText(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    return ::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) ? std::nullopt : std::optional(std::wstring(data));
}
bool KeyExists(HKEY root, const std::wstring& path, std::vector<std::wstring>* subkeys = nullptr)
{
    HKEY key = nullptr;
    wchar_t name[256];
    const bool exists = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    for (DWORD i = 0; exists && subkeys && ::RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i)
        subkeys->push_back(name);
    ::RegCloseKey(key);
    return exists;
}
std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    KeyExists(root, path, &names);
    return names;
}
// Under a volatile key no lasting key can be made: a write that fails half-way.
void MakeKey(HKEY root, const std::wstring& path, DWORD options = 0)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ::RegCloseKey(key);
}

const std::wstring kProgId = L"Vembro.FileTranslateManager", kProgId3 = kProgId + L".3";
const std::wstring kClassKey = L"CLSID\\" + GuidString(CLSID_TolviFTManager);
const std::wstring kLibKey = L"TypeLib\\" + GuidString(LIBID_VEMBROLib);

class Module : public comtest::ComTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(S_OK, m_dll.Unregister()); // whatever there was, and S_OK when there was nothing
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
        ComTest::TearDown();
    }
    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_TolviFTManager, IID_PPV_ARGS(&factory)));
        return factory;
    }
    moduletest::VembroDll m_dll;
};

TEST_F(Module, EverythingAliveAndEveryServerLockKeepsTheModule)
{
    fakes::Installation inst;
    inst.Converter("A2B", {1, "Alpha", "a", "a"}, {2, "Beta", "b", "b"}).Install();
    ComPtr<ITolviFTManager> manager;
    ComPtr<ITolviFileFormats> formats;
    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, Factory()->CreateInstance(nullptr, IID_PPV_ARGS(&manager)));
    ASSERT_EQ(S_OK, manager->get_ConvertSourceFormats(&formats));
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &format));
    for (IUnknown* last : {static_cast<IUnknown*>(manager.Detach()), static_cast<IUnknown*>(formats.Detach()), static_cast<IUnknown*>(format.Detach())}) {
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
        last->Release();
    }
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    EXPECT_EQ(S_OK, Factory()->LockServer(TRUE));
    EXPECT_EQ(S_OK, Factory()->LockServer(TRUE));
    EXPECT_EQ(S_OK, Factory()->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    EXPECT_EQ(S_OK, Factory()->LockServer(FALSE));
}

// However many client references the cached factory has, they are one lock.
TEST_F(Module, OneFactoryForAllCallersCountedAsOneLock)
{
    IUnknown* got[2] = {};
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto racer = [&](int i) {
        ::WaitForSingleObject(go, INFINITE);
        EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_TolviFTManager, IID_IUnknown, reinterpret_cast<void**>(&got[i])));
    };
    std::thread a(racer, 0), b(racer, 1);
    ::SetEvent(go);
    a.join(), b.join();
    ::CloseHandle(go);
    ASSERT_NE(nullptr, got[0]);
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    got[0]->Release();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    got[1]->Release();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    EXPECT_EQ(got[0], Factory().Get()); // cached, not gone
}

TEST_F(Module, RefusalsGiveExactCodesAndClearTheResult)
{
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&first)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&second)));
    EXPECT_NE(first.Get(), second.Get()); // a new manager each time
    const struct { const char* what; HRESULT expected; std::function<HRESULT(void**)> call; } rows[] = {
        {"another class", CLASS_E_CLASSNOTAVAILABLE, [&](void** p) { return m_dll.GetClassObject(IID_ITolviFTManager, IID_IClassFactory, p); }},
        {"factory as IClassFactory2", E_NOINTERFACE, [&](void** p) { return m_dll.GetClassObject(CLSID_TolviFTManager, IID_IClassFactory2, p); }},
        {"factory as IDispatch", E_NOINTERFACE, [&](void** p) { return factory->QueryInterface(IID_IDispatch, p); }},
        {"aggregation, even for IUnknown", CLASS_E_NOAGGREGATION, [&](void** p) { return factory->CreateInstance(factory.Get(), IID_IUnknown, p); }},
        {"a manager as a collection", E_NOINTERFACE, [&](void** p) { return factory->CreateInstance(nullptr, IID_ITolviFileFormats, p); }},
        {"a manager's events", E_NOINTERFACE, [&](void** p) { return first->QueryInterface(IID_IConnectionPointContainer, p); }},
        {"a manager as a factory", E_NOINTERFACE, [&](void** p) { return first->QueryInterface(IID_IClassFactory, p); }},
    };
    for (const auto& row : rows) {
        void* p = comtest::kPoison;
        EXPECT_EQ(row.expected, row.call(&p)) << row.what;
        EXPECT_EQ(nullptr, p) << row.what;
    }
    EXPECT_EQ(E_POINTER, m_dll.GetClassObject(CLSID_TolviFTManager, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

using Registration = Module;

TEST_F(Registration, WritesTheScriptAndTheLibraryAndRewritesThemOnTheSecondRun)
{
    ASSERT_EQ(S_OK, m_dll.Register());
    MakeKey(HKEY_CLASSES_ROOT, kClassKey + L"\\Stale"); // leftovers that only a delete-and-rewrite removes
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Programmable").c_str(), L"Old", REG_SZ, L"x", 4));
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ((std::vector<std::wstring>{L"InprocServer32", L"ProgID", L"Programmable", L"TypeLib", L"VersionIndependentProgID"}),
              Subkeys(HKEY_CLASSES_ROOT, kClassKey));
    const struct { std::wstring key; const wchar_t* name; std::wstring value; } values[] = {
        {kClassKey, nullptr, L"TolviFTManager Class"}, {kClassKey + L"\\ProgID", nullptr, kProgId3},
        {kClassKey + L"\\VersionIndependentProgID", nullptr, kProgId},
        {kClassKey + L"\\TypeLib", nullptr, GuidString(LIBID_VEMBROLib)},
        {kClassKey + L"\\InprocServer32", nullptr, m_dll.path}, // unquoted
        {kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {kProgId, nullptr, L"TolviFTManager Class"}, {kProgId + L"\\CurVer", nullptr, kProgId3},
        {kProgId3, nullptr, L"TolviFTManager Class"}, {kProgId + L"\\CLSID", nullptr, GuidString(CLSID_TolviFTManager)},
        {kProgId3 + L"\\CLSID", nullptr, GuidString(CLSID_TolviFTManager)},
        {kLibKey + L"\\1.0\\HELPDIR", nullptr, m_dll.path.substr(0, m_dll.path.find_last_of(L'\\'))},
    };
    for (const auto& v : values)
        EXPECT_EQ(v.value, RegText(HKEY_CLASSES_ROOT, v.key, v.name).value_or(L"-")) << v.key;
    EXPECT_FALSE(RegText(HKEY_CLASSES_ROOT, kClassKey + L"\\Programmable", L"Old"));
    ComPtr<ITypeLib> lib; // also under the neutral locale, which the marshaller of client sinks asks for
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, LANG_NEUTRAL, &lib));
    lib.Reset();
    EXPECT_EQ(S_OK, m_dll.Unregister());
    for (const std::wstring& key : {kClassKey, kProgId, kProgId3, kLibKey})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

// A registration that fails half-way leaves none of its keys and reports the failure as it came.
TEST_F(Registration, AFailureHalfWayTakesBackWhatWasWritten)
{
    const struct { std::wstring blocked; HRESULT expected; } rows[] = {
        {kProgId, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE)}, // the script's second key
        {kLibKey, E_FAIL},                                            // the type library, after the script
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.blocked));
        MakeKey(HKEY_CLASSES_ROOT, row.blocked, REG_OPTION_VOLATILE);
        EXPECT_EQ(row.expected, m_dll.Register());
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, row.blocked.c_str());
        for (const std::wstring& key : {kClassKey, kProgId, kProgId3, kLibKey})
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
}

// Module stop drops the cached class factory: a client's reference no longer
// counts, and the next request makes a new one.
TEST(ModuleApp, ExitInstanceDropsTheCachedFactory)
{
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    vembro::CVembroApp app;
    app.SetInstanceHandle(::GetModuleHandleW(nullptr));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(::GetModuleHandleW(nullptr), vembro::g_Module.GetModuleInstance());
    ComPtr<IClassFactory> first, again, second;
    ASSERT_EQ(S_OK, vembro::g_Module.GetClassObject_nothrow(CLSID_TolviFTManager, IID_PPV_ARGS(&first)));
    ASSERT_EQ(S_OK, vembro::g_Module.GetClassObject_nothrow(CLSID_TolviFTManager, IID_PPV_ARGS(&again)));
    EXPECT_EQ(first.Get(), again.Get());
    again.Reset();
    EXPECT_EQ(S_FALSE, vembro::g_Module.CanUnloadNow_nothrow());
    app.ExitInstance();
    EXPECT_EQ(S_OK, vembro::g_Module.CanUnloadNow_nothrow());
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(S_OK, vembro::g_Module.GetClassObject_nothrow(CLSID_TolviFTManager, IID_PPV_ARGS(&second)));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(1, vembro::ModuleLockCount()); // the new factory's client only
    first.Reset(), second.Reset();
    app.ExitInstance();
    EXPECT_EQ(0, vembro::ModuleLockCount());
    ::CoUninitialize();
}

const std::wstring kTestKey = L"Software\\VembroRegistrarTest";
const wchar_t kScript[] = LR"(HKCU { NoRemove Software { VembroRegistrarTest = s 'it''s 100%%'
{
    val Count = d '0x10'
    val Path = e '%%TEMP%%'
    Child = s '%NAME%'
    ForceRemove Forced { Inner = s 'x' }
    'Quoted Name'
} } })";

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
        m_registrar.AddReplacement(L"NAME", L"child value");
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str()); }
    DWORD Number(const wchar_t* name)
    {
        DWORD value = 0, size = sizeof value;
        return ::RegGetValueW(HKEY_CURRENT_USER, kTestKey.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) ? ~0u : value;
    }
    vembro::CRegistrar m_registrar;
};

TEST_F(Registrar, WritesAndRemovesExactlyTheScriptsKeysAndValues)
{
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript)); // nothing there yet is no failure
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Forced\\Stale");
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Child\\Kept");
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(kScript));
    EXPECT_EQ(L"it's 100%", RegText(HKEY_CURRENT_USER, kTestKey).value_or(L"-"));
    EXPECT_EQ(16u, Number(L"Count"));
    wchar_t path[64] = {};
    DWORD type = 0, size = sizeof path;
    EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CURRENT_USER, kTestKey.c_str(), L"Path", RRF_RT_ANY | RRF_NOEXPAND, &type, path, &size));
    EXPECT_EQ(std::to_wstring(REG_EXPAND_SZ) + L"%TEMP%", std::to_wstring(type) + path);
    EXPECT_EQ(L"child value", RegText(HKEY_CURRENT_USER, kTestKey + L"\\Child").value_or(L"-"));
    EXPECT_EQ(L"x", RegText(HKEY_CURRENT_USER, kTestKey + L"\\Forced\\Inner").value_or(L"-"));
    EXPECT_EQ((std::vector<std::wstring>{L"Child", L"Forced", L"Quoted Name"}), Subkeys(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(std::vector<std::wstring>{L"Inner"}, Subkeys(HKEY_CURRENT_USER, kTestKey + L"\\Forced")); // ForceRemove
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript));
    EXPECT_EQ(std::vector<std::wstring>{L"Child"}, Subkeys(HKEY_CURRENT_USER, kTestKey)); // kept for its foreign subkey
    EXPECT_EQ(~0u, Number(L"Count"));                                                     // but its values went
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, (kTestKey + L"\\Child").c_str()));
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software")); // NoRemove
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Old\\Deep");
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(L"HKCU { NoRemove Software { NoRemove VembroRegistrarTest { Delete Old } } }"));
    EXPECT_TRUE(Subkeys(HKEY_CURRENT_USER, kTestKey).empty());
}

TEST_F(Registrar, BadScriptsWriteNothing)
{
    for (const wchar_t* bad : {L"HKCU { NoRemove Software { VembroRegistrarTest = s '%NOPE%' } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest = s 'open } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { A = s 'x' }",
                               L"HKXX { VembroRegistrarTest }", L"HKCU { NoRemove Software { VembroRegistrarTest = q 'x' } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { val N = d 'ten' } } }"}) {
        EXPECT_EQ(vembro::kBadRegistrationScript, m_registrar.Register_nothrow(bad)) << bad;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey)) << bad;
    }
}

} // namespace
