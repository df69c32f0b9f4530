// The registration script language on a private key of the current user.
#include <gtest/gtest.h>

#include "ModuleDll.h"
#include "vembro/com/Registrar.h"

using namespace moduletest;
using vembro::CRegistrar;
using vembro::kBadRegistrationScript;

namespace {

const std::wstring kTestKey = L"Software\\VembroRegistrarTest";

DWORD RegNumber(const std::wstring& path, const wchar_t* name)
{
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

void MakeKey(const std::wstring& path)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key));
    ::RegCloseKey(key);
}

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
        m_registrar.AddReplacement(L"NAME", L"child value");
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str()); }

    CRegistrar m_registrar;
};

const wchar_t kScript[] = LR"(
HKCU
{
    NoRemove Software
    {
        VembroRegistrarTest = s 'it''s 100%%'
        {
            val Count = d '0x10'
            val Path = e '%%TEMP%%'
            Child = s '%NAME%'
            ForceRemove Forced
            {
                Inner = s 'x'
            }
            'Quoted Name'
        }
    }
}
)";

TEST_F(Registrar, WritesKeysValuesAndReplacements)
{
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(kScript));
    EXPECT_EQ(L"it's 100%", RegText(HKEY_CURRENT_USER, kTestKey).value_or(L"-"));
    EXPECT_EQ(16u, RegNumber(kTestKey, L"Count"));
    DWORD type = 0;
    wchar_t path[64] = {};
    DWORD size = sizeof(path);
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_CURRENT_USER, kTestKey.c_str(), L"Path",
                                            RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, path, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_STREQ(L"%TEMP%", path);
    EXPECT_EQ(L"child value", RegText(HKEY_CURRENT_USER, kTestKey + L"\\Child").value_or(L"-"));
    EXPECT_EQ(L"x", RegText(HKEY_CURRENT_USER, kTestKey + L"\\Forced\\Inner").value_or(L"-"));
    EXPECT_EQ((std::vector<std::wstring>{L"Child", L"Forced", L"Quoted Name"}), Subkeys(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(Registrar, ForceRemoveDropsWhatWasThereBefore)
{
    MakeKey(kTestKey + L"\\Forced\\Stale");
    MakeKey(kTestKey + L"\\Child\\Kept");
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(kScript));
    EXPECT_EQ(std::vector<std::wstring>{L"Inner"}, Subkeys(HKEY_CURRENT_USER, kTestKey + L"\\Forced"));
    EXPECT_EQ(std::vector<std::wstring>{L"Kept"}, Subkeys(HKEY_CURRENT_USER, kTestKey + L"\\Child"));
}

TEST_F(Registrar, UnregisterRemovesTheScriptsKeysButNotNoRemoveOnes)
{
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(kScript));
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(Registrar, UnregisterKeepsAKeyThatHoldsForeignSubkeys)
{
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(kScript));
    MakeKey(kTestKey + L"\\Foreign");
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript));
    EXPECT_EQ(std::vector<std::wstring>{L"Foreign"}, Subkeys(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(0xFFFFFFFFu, RegNumber(kTestKey, L"Count")); // its named values went
}

TEST_F(Registrar, UnregisterOfMissingKeysSucceeds)
{
    EXPECT_EQ(S_OK, m_registrar.Unregister_nothrow(kScript));
}

TEST_F(Registrar, DeleteOnlyDeletes)
{
    MakeKey(kTestKey + L"\\Old\\Deep");
    ASSERT_EQ(S_OK, m_registrar.Register_nothrow(L"HKCU { NoRemove Software { NoRemove VembroRegistrarTest { Delete Old } } }"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTestKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey + L"\\Old"));
}

TEST_F(Registrar, UnknownReplacementWritesNothing)
{
    EXPECT_EQ(kBadRegistrationScript,
              m_registrar.Register_nothrow(L"HKCU { NoRemove Software { VembroRegistrarTest = s '%NOPE%' } }"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(Registrar, SyntaxErrorsWriteNothing)
{
    for (const wchar_t* bad : {L"HKCU { NoRemove Software { VembroRegistrarTest = s 'open } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { A = s 'x' }",
                               L"HKXX { VembroRegistrarTest }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest = q 'x' } }",
                               L"HKCU { NoRemove Software { VembroRegistrarTest { val N = d 'ten' } } }"}) {
        EXPECT_EQ(kBadRegistrationScript, m_registrar.Register_nothrow(bad)) << bad;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTestKey)) << bad;
    }
}

TEST_F(Registrar, ReadsTheScriptFromTheModulesResources)
{
    HMODULE dll = ::LoadLibraryExW(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dll);
    std::wstring script;
    EXPECT_EQ(S_OK, CRegistrar::LoadScript_nothrow(dll, 102, L"REGISTRY", script));
    EXPECT_NE(std::wstring::npos, script.find(L"Vembro.FileTranslateManager.3"));
    EXPECT_TRUE(FAILED(CRegistrar::LoadScript_nothrow(dll, 103, L"REGISTRY", script)));
    ::FreeLibrary(dll);
}

} // namespace
