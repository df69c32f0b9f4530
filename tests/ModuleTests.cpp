// The module: through the exports of the built Vembro.DLL (the unload rule, the class factory, registration and its
// roll-back), its start and stop on the copy that this program links, and the registrar's script language on a
// private key of the current user.
#include "ModuleDll.h"
#include "module/ComModule.h"
#include "module/VembroApp.h"
#include "support/ComChecks.h"
#include "vembro/com/Registrar.h"
#include "vembro/com/Strings.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::GuidString;
using namespace comtest; // registry readers

namespace {

// Under a volatile key no lasting key can be made: a write that fails half-way.
void MakeKey(HKEY root, const std::wstring& path, DWORD options = 0)
{
    vembro::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
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

// Callers racing for the factory get the one cached factory, whose client references are one lock; a manager alive
// and every server lock keep the module; refusals give exact codes and clear the result.
TEST_F(Module, OneFactoryAManagerAndEveryServerLockKeepTheModule)
{
    ComPtr<IClassFactory> got[2];
    comtest::RunTogether(2, [&](int i) { EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_TolviFTManager, IID_PPV_ARGS(&got[i]))); });
    IClassFactory* const factory = got[0].Get();
    EXPECT_EQ(factory, got[1].Get());
    ComPtr<IUnknown> manager;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&manager)));
    for (IUnknown* last : {static_cast<IUnknown*>(got[0].Detach()), static_cast<IUnknown*>(got[1].Detach()), manager.Detach()}) {
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
        last->Release();
    }
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    EXPECT_EQ(factory, Factory().Get()); // cached, not gone
    EXPECT_EQ(S_OK, Factory()->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    EXPECT_EQ(S_OK, Factory()->LockServer(FALSE));
    void* p = comtest::kPoison;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_dll.GetClassObject(IID_ITolviFTManager, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    p = comtest::kPoison;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, Factory()->CreateInstance(Factory().Get(), IID_IUnknown, &p)); // even for IUnknown
    EXPECT_EQ(nullptr, p);
}

using Registration = Module;

TEST_F(Registration, WritesTheScriptAndLibraryRewritesThemAndTakesBackAFailureHalfWay)
{
    auto expectNoKeysLeft = [] {
        for (const std::wstring& key : {kClassKey, kProgId, kProgId3, kLibKey})
            EXPECT_EQ(kMissing, Subkeys(HKEY_CLASSES_ROOT, key)) << key;
    };
    ASSERT_EQ(S_OK, m_dll.Register());
    MakeKey(HKEY_CLASSES_ROOT, kClassKey + L"\\Stale"); // a leftover that only a delete-and-rewrite removes
    ASSERT_EQ(S_OK, m_dll.Register());
    EXPECT_EQ((Names{L"InprocServer32", L"ProgID", L"Programmable", L"TypeLib", L"VersionIndependentProgID"}),
              Subkeys(HKEY_CLASSES_ROOT, kClassKey));
    const struct { std::wstring key; const wchar_t* name; std::wstring value; } values[] = {
        {kClassKey, nullptr, L"TolviFTManager Class"}, {kClassKey + L"\\ProgID", nullptr, kProgId3},
        {kClassKey + L"\\VersionIndependentProgID", nullptr, kProgId}, {kClassKey + L"\\TypeLib", nullptr, GuidString(LIBID_VEMBROLib)},
        {kClassKey + L"\\InprocServer32", nullptr, m_dll.path}, // unquoted
        {kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {kProgId, nullptr, L"TolviFTManager Class"}, {kProgId + L"\\CurVer", nullptr, kProgId3},
        {kProgId3, nullptr, L"TolviFTManager Class"}, {kProgId + L"\\CLSID", nullptr, GuidString(CLSID_TolviFTManager)},
        {kProgId3 + L"\\CLSID", nullptr, GuidString(CLSID_TolviFTManager)},
        {kLibKey + L"\\1.0\\HELPDIR", nullptr, m_dll.path.substr(0, m_dll.path.find_last_of(L'\\'))}};
    for (const auto& v : values)
        EXPECT_EQ(v.value, RegValue(HKEY_CLASSES_ROOT, v.key, v.name)) << v.key;
    ComPtr<ITypeLib> lib; // also under the neutral locale, which the marshaller of client sinks asks for
    EXPECT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, LANG_NEUTRAL, &lib));
    lib.Reset();
    EXPECT_EQ(S_OK, m_dll.Unregister());
    expectNoKeysLeft();
    // A registration that fails half-way leaves none of its keys and reports the failure as it came.
    const struct { std::wstring blocked; HRESULT expected; } rows[] = {
        {kProgId, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE)}, // the script's second key
        {kLibKey, E_FAIL},                                            // the type library, after the script
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.blocked));
        MakeKey(HKEY_CLASSES_ROOT, row.blocked, REG_OPTION_VOLATILE);
        EXPECT_EQ(row.expected, m_dll.Register());
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, row.blocked.c_str());
        expectNoKeysLeft();
    }
}

// Module stop drops the cached class factory: a client's reference no longer
// counts, and the next request makes a new one.
using ModuleApp = comtest::ComTest;

TEST_F(ModuleApp, ExitInstanceDropsTheCachedFactory)
{
    vembro::CVembroApp app;
    app.SetInstanceHandle(::GetModuleHandleW(nullptr));
    ASSERT_TRUE(app.InitInstance());
    ComPtr<IClassFactory> first, second;
    ASSERT_EQ(S_OK, vembro::g_Module.GetClassObject_nothrow(CLSID_TolviFTManager, IID_PPV_ARGS(&first)));
    EXPECT_EQ(S_FALSE, vembro::g_Module.CanUnloadNow_nothrow());
    app.ExitInstance();
    EXPECT_EQ(S_OK, vembro::g_Module.CanUnloadNow_nothrow());
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(S_OK, vembro::g_Module.GetClassObject_nothrow(CLSID_TolviFTManager, IID_PPV_ARGS(&second)));
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_EQ(1, vembro::ModuleLockCount()); // the new factory's client only
    first.Reset(), second.Reset();
    app.ExitInstance();
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

// Bad scripts write nothing; a good one writes exactly its keys and values, and takes back only those.
TEST(Registrar, BadScriptsWriteNothingAndAGoodOneWritesAndRemovesExactlyItsKeysAndValues)
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
    vembro::CRegistrar registrar;
    registrar.AddReplacement(L"NAME", L"child value");
    for (const wchar_t* bad : {L"HKCU { NoRemove Software { VembroRegistrarTest = s '%NOPE%' } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest = s 'open } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { A = s 'x' }",
                               L"HKXX { VembroRegistrarTest }", L"HKCU { NoRemove Software { VembroRegistrarTest = q 'x' } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { val N = d 'ten' } } }"}) {
        EXPECT_EQ(vembro::kBadRegistrationScript, registrar.Register_nothrow(bad)) << bad;
        EXPECT_EQ(kMissing, Subkeys(HKEY_CURRENT_USER, kTestKey)) << bad;
    }
    EXPECT_EQ(S_OK, registrar.Unregister_nothrow(kScript)); // nothing there yet is no failure
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Forced\\Stale");
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Child\\Kept");
    ASSERT_EQ(S_OK, registrar.Register_nothrow(kScript));
    EXPECT_EQ(L"it's 100%", RegValue(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(L"#16", RegValue(HKEY_CURRENT_USER, kTestKey, L"Count"));
    EXPECT_EQ(L"expand:%TEMP%", RegValue(HKEY_CURRENT_USER, kTestKey, L"Path"));
    EXPECT_EQ(L"child value", RegValue(HKEY_CURRENT_USER, kTestKey + L"\\Child"));
    EXPECT_EQ(L"x", RegValue(HKEY_CURRENT_USER, kTestKey + L"\\Forced\\Inner"));
    EXPECT_EQ((Names{L"Child", L"Forced", L"Quoted Name"}), Subkeys(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(Names{L"Inner"}, Subkeys(HKEY_CURRENT_USER, kTestKey + L"\\Forced")); // ForceRemove
    EXPECT_EQ(S_OK, registrar.Unregister_nothrow(kScript));
    EXPECT_EQ(Names{L"Child"}, Subkeys(HKEY_CURRENT_USER, kTestKey));   // kept for its foreign subkey
    EXPECT_EQ(L"-", RegValue(HKEY_CURRENT_USER, kTestKey, L"Count")); // but its values went
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, (kTestKey + L"\\Child").c_str()));
    EXPECT_EQ(S_OK, registrar.Unregister_nothrow(kScript));
    EXPECT_EQ(kMissing, Subkeys(HKEY_CURRENT_USER, kTestKey));
    EXPECT_NE(kMissing, Subkeys(HKEY_CURRENT_USER, L"Software")); // NoRemove
    MakeKey(HKEY_CURRENT_USER, kTestKey + L"\\Old\\Deep");
    ASSERT_EQ(S_OK, registrar.Register_nothrow(L"HKCU { NoRemove Software { NoRemove VembroRegistrarTest { Delete Old } } }"));
    EXPECT_TRUE(Subkeys(HKEY_CURRENT_USER, kTestKey).empty());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
}

} // namespace
