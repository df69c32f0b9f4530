// How component classes are found: names in the catalogue (braced CLSIDs,
// ProgIDs, CurVer), registry strings, catalogue enumeration and component
// categories.
#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>
#include <wrl/client.h>

#include "RegistryTestSupport.h"
#include "catalogue/Converters.h"
#include "vembro/com/Strings.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using fakes::Behaviour;
using fakes::Format;

namespace {

const Format kA{1, "A", "a", "a"};
const Format kB{2, "B", "b", "b"};
const HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const GUID kPoison = {0xDEADBEEF, 0xDEAD, 0xBEEF, {1, 2, 3, 4, 5, 6, 7, 8}};

Behaviour Unlisted()
{
    Behaviour b;
    b.unlisted = true;
    return b;
}

class CatalogueClassNames : public RegistryTest {};

// A scratch key of the test's own for registry strings.
class CatalogueRegString : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                   key.put(), nullptr));
    }
    void TearDown() override
    {
        key.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
    }
    void Set(const char* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
    static constexpr const char* kPath = "Software\\Vembro Tests\\ReadRegString";
    unique_hkey key;
};

} // namespace

// --- names -------------------------------------------------------------------

TEST_F(CatalogueClassNames, NullNameIsEPointer)
{
    CLSID clsid;
    EXPECT_EQ(E_POINTER, ClsidFromName(nullptr, clsid));
}

TEST_F(CatalogueClassNames, BracedNamesAreReadAsClsids)
{
    CLSID clsid = kPoison;
    EXPECT_EQ(S_OK, ClsidFromName("{FA4E0042-7E57-4FA4-8000-000000000000}", clsid));
    EXPECT_EQ((GUID{0xFA4E0042, 0x7E57, 0x4FA4, {0x80, 0, 0, 0, 0, 0, 0, 0}}), clsid);
    EXPECT_EQ(CO_E_CLASSSTRING, ClsidFromName("{not a clsid}", clsid));
}

TEST_F(CatalogueClassNames, RegisteredProgIdsResolveDirectly)
{
    inst.Converter("A2B", kA, kB, Unlisted()).ProgId("Vembro.TestA2B.1", "A2B").Install();
    CLSID clsid = kPoison;
    EXPECT_EQ(S_OK, ClsidFromName("Vembro.TestA2B.1", clsid));
    EXPECT_EQ(inst.ClsidOf("A2B"), clsid);
}

TEST_F(CatalogueClassNames, UnregisteredProgIdsFollowCurVer)
{
    inst.Converter("A2B", kA, kB, Unlisted())
        .ProgId("Vembro.TestA2B.1", "A2B")
        .CurVer("Vembro.TestA2B", "Vembro.TestA2B.1")
        .Install();
    CLSID clsid = kPoison;
    EXPECT_EQ(S_OK, ClsidFromName("Vembro.TestA2B", clsid));
    EXPECT_EQ(inst.ClsidOf("A2B"), clsid);
}

TEST_F(CatalogueClassNames, WithoutCurVerTheMissingKeyIsReported)
{
    inst.Install();
    CLSID clsid;
    EXPECT_EQ(kFileNotFound, ClsidFromName("Vembro.NoSuchProgId", clsid));
}

TEST_F(CatalogueClassNames, AnEmptyOrNonStringCurVerIsEFail)
{
    const BYTE number[4] = {7, 0, 0, 0};
    const BYTE unterminated[3] = {'a', 'b', 'c'};
    inst.CurVer("Vembro.EmptyCurVer", "")
        .CurVerRaw("Vembro.NumberCurVer", REG_DWORD, std::vector<BYTE>(number, number + 4))
        .CurVerRaw("Vembro.BinaryCurVer", REG_BINARY, std::vector<BYTE>(unterminated, unterminated + 3))
        .Install();
    CLSID clsid;
    EXPECT_EQ(E_FAIL, ClsidFromName("Vembro.EmptyCurVer", clsid));
    EXPECT_EQ(E_FAIL, ClsidFromName("Vembro.NumberCurVer", clsid));
    EXPECT_EQ(E_FAIL, ClsidFromName("Vembro.BinaryCurVer", clsid));
}

TEST_F(CatalogueClassNames, ACurVerNamingAnUnknownProgIdFailsAsThatProgId)
{
    inst.CurVer("Vembro.Dangling", "Vembro.Dangling.9").Install();
    CLSID clsid;
    EXPECT_EQ(CO_E_CLASSSTRING, ClsidFromName("Vembro.Dangling", clsid));
}

// --- catalogue entries -------------------------------------------------------

TEST_F(CatalogueClassNames, CheckConverterKeyNeedsANameThatResolvesAndAnOpenableSubkey)
{
    Behaviour byProgId;
    byProgId.progId = "Vembro.TestA2B";
    inst.Converter("A2B", kA, kB, byProgId).ProgId("Vembro.NotListed", "A2B").Install();
    CLSID clsid = kPoison;
    EXPECT_TRUE(CheckConverterKey(kConvertersKeyPath, "Vembro.TestA2B", clsid));
    EXPECT_EQ(inst.ClsidOf("A2B"), clsid);
    EXPECT_FALSE(CheckConverterKey(kConvertersKeyPath, "Vembro.NotListed", clsid)); // no subkey
    EXPECT_FALSE(CheckConverterKey(kConvertersKeyPath, "Vembro.Unknown", clsid));   // no class
    EXPECT_FALSE(CheckConverterKey(kConvertersKeyPath, nullptr, clsid));
}

TEST_F(CatalogueClassNames, EnumerationAppendsEveryValidEntryInOrderDuplicatesIncluded)
{
    Behaviour byProgId;
    byProgId.progId = "Vembro.TestB2A";
    // B2A is listed under its ProgID and under its braced CLSID.
    inst.Converter("A2B", kA, kB).Converter("B2A", kB, kA, byProgId);
    inst.CatalogueEntry(inst.ClsidStringOf("B2A")).CatalogueEntry("Vembro.Unknown").Install();
    std::vector<CLSID> clsids{kPoison};
    ASSERT_EQ(S_OK, EnumConverterClsids(clsids));
    // Names enumerate alphabetically: the ProgIDs before the braced CLSIDs.
    EXPECT_EQ((std::vector<CLSID>{kPoison, inst.ClsidOf("B2A"), inst.ClsidOf("A2B"), inst.ClsidOf("B2A")}), clsids);
}

TEST_F(CatalogueClassNames, EnumerationOfAMissingCatalogueFailsWithTheRegistryError)
{
    inst.Converter("A2B", kA, kB).WithoutCatalogueKey().Install();
    std::vector<CLSID> clsids;
    EXPECT_EQ(kFileNotFound, EnumConverterClsids(clsids));
    EXPECT_TRUE(clsids.empty());
}

// --- categories --------------------------------------------------------------

TEST_F(CatalogueClassNames, CategoryEnumerationListsTheTranslatorsAndMakesTheManager)
{
    inst.Translator("A2B", kA, kB).Translator("B2A", kB, kA).Install();
    ComPtr<ICatInformation> manager;
    std::vector<CLSID> clsids{kPoison};
    EXPECT_EQ(S_OK, EnumCategoryClasses(manager, clsids, &IID_ITolviFileTranslator2, 1, static_cast<ULONG>(-1)));
    EXPECT_NE(nullptr, manager.Get());
    std::sort(clsids.begin(), clsids.end(), [](const CLSID& a, const CLSID& b) { return memcmp(&a, &b, sizeof a) < 0; });
    EXPECT_EQ((std::vector<CLSID>{inst.ClsidOf("A2B"), inst.ClsidOf("B2A")}), clsids);
}

TEST_F(CatalogueClassNames, AnEmptyCategoryIsSFalseWithAnEmptyList)
{
    inst.Translator("A2B", kA, kB).Install();
    ComPtr<ICatInformation> manager;
    std::vector<CLSID> clsids{kPoison};
    EXPECT_EQ(S_FALSE, EnumCategoryClasses(manager, clsids, &kPoison, 1, static_cast<ULONG>(-1)));
    EXPECT_TRUE(clsids.empty());
}

// --- registry strings --------------------------------------------------------

TEST_F(CatalogueRegString, TerminatedStringsAreRead)
{
    Set("sz", REG_SZ, "text", 5);
    Set("expand", REG_EXPAND_SZ, "%TEMP%", 7);
    Set("multi", REG_MULTI_SZ, "one\0two\0", 9);
    EXPECT_EQ("text", ReadRegString(key.get(), "sz", "dflt"));
    EXPECT_EQ("%TEMP%", ReadRegString(key.get(), "expand", "dflt"));
    EXPECT_EQ("one", ReadRegString(key.get(), "multi", "dflt"));
}

TEST_F(CatalogueRegString, MissingEmptyAndNonStringValuesGiveTheDefault)
{
    DWORD number = 42;
    Set("number", REG_DWORD, &number, sizeof number);
    Set("empty", REG_SZ, "", 0);
    Set("binary", REG_BINARY, "abc", 3);
    EXPECT_EQ("dflt", ReadRegString(key.get(), "missing", "dflt"));
    EXPECT_EQ("dflt", ReadRegString(key.get(), "number", "dflt"));
    EXPECT_EQ("dflt", ReadRegString(key.get(), "empty", "dflt"));
    EXPECT_EQ("dflt", ReadRegString(key.get(), "binary", "dflt"));
    EXPECT_EQ("", ReadRegString(key.get(), "missing", nullptr));
    EXPECT_EQ("", ReadRegString(key.get(), "missing"));
}
