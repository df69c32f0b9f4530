// What regsvr32 leaves in the registry for a kit converter and translator,
// and that unregistration takes it all away again.
#include <gtest/gtest.h>
#include <comcat.h>

#include "Recorder.h"
#include "vembro/Catalogue.h"
#include "vembro/kit/Module.h"

using Microsoft::WRL::ComPtr;

namespace {

// {5B0C2B1E-3C35-4F7A-9E0B-7D2E8A51C001}, ...C002 and ...C003: used by these tests only.
const CLSID kTestConverter = {0x5b0c2b1e, 0x3c35, 0x4f7a, {0x9e, 0x0b, 0x7d, 0x2e, 0x8a, 0x51, 0xc0, 0x01}};
const CLSID kTestTranslator = {0x5b0c2b1e, 0x3c35, 0x4f7a, {0x9e, 0x0b, 0x7d, 0x2e, 0x8a, 0x51, 0xc0, 0x02}};
const CLSID kTestObject = {0x5b0c2b1e, 0x3c35, 0x4f7a, {0x9e, 0x0b, 0x7d, 0x2e, 0x8a, 0x51, 0xc0, 0x03}};

HRESULT NotCreatable(REFIID, void** ppv) noexcept
{
    *ppv = nullptr;
    return E_NOTIMPL;
}

const vembro::kit::ComponentClass kConverter{&kTestConverter, L"VembroKitTest.Converter", L"Kit test converter",
                                             vembro::kit::ComponentKind::Converter, &NotCreatable};
const vembro::kit::ComponentClass kTranslator{&kTestTranslator, L"VembroKitTest.Translator", L"Kit test translator",
                                              vembro::kit::ComponentKind::Translator, &NotCreatable};
const vembro::kit::ComponentClass kObject{&kTestObject, L"VembroKitTest.Object", L"Kit test object",
                                          vembro::kit::ComponentKind::Object, &NotCreatable};

std::wstring ReadValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer);
    if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"(absent)";
    return buffer;
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

HRESULT InTranslatorCategory(const CLSID& clsid)
{
    ComPtr<ICatInformation> cats;
    HRESULT hr = ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cats));
    if (FAILED(hr))
        return hr;
    CATID catid = IID_ITolviFileTranslator2;
    return cats->IsClassOfCategories(clsid, 1, &catid, 0, nullptr);
}

DWORD SubkeyCount(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    DWORD count = 0;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
        ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
    return count;
}

ULONG CategoryMembers()
{
    ComPtr<ICatInformation> cats;
    if (FAILED(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cats))))
        return 0;
    CATID catid = IID_ITolviFileTranslator2;
    ComPtr<IEnumCLSID> classes;
    if (FAILED(cats->EnumClassesOfCategories(1, &catid, 0, nullptr, &classes)))
        return 0;
    ULONG count = 0;
    CLSID clsid;
    while (classes->Next(1, &clsid, nullptr) == S_OK)
        ++count;
    return count;
}

const wchar_t kCategoryKey[] = L"Component Categories\\{EAB6510A-A57F-46AB-9347-0970BF4DE763}";
const wchar_t kConverterClassKey[] = L"CLSID\\{5B0C2B1E-3C35-4F7A-9E0B-7D2E8A51C001}";

} // namespace

TEST(KitRegistration, ConverterGetsClassKeysAndCatalogueEntry)
{
    ASSERT_EQ(S_OK, vembro::kit::RegisterComponent(kConverter, L"C:\\components\\conv.dll"));
    bool othersListed = SubkeyCount(HKEY_LOCAL_MACHINE, vembro::kConverterCatalogue) > 1;
    std::wstring cls = kConverterClassKey;
    EXPECT_EQ(L"C:\\components\\conv.dll", ReadValue(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Both", ReadValue(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"VembroKitTest.Converter", ReadValue(HKEY_CLASSES_ROOT, cls + L"\\ProgID", nullptr));
    EXPECT_EQ(L"{5B0C2B1E-3C35-4F7A-9E0B-7D2E8A51C001}",
              ReadValue(HKEY_CLASSES_ROOT, L"VembroKitTest.Converter\\CLSID", nullptr));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                          std::wstring(vembro::kConverterCatalogue) + L"\\VembroKitTest.Converter"));
    CLSID fromProgId{};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"VembroKitTest.Converter", &fromProgId));
    EXPECT_TRUE(::IsEqualCLSID(kTestConverter, fromProgId));

    ASSERT_EQ(S_OK, vembro::kit::UnregisterComponent(kConverter));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VembroKitTest.Converter"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                           std::wstring(vembro::kConverterCatalogue) + L"\\VembroKitTest.Converter"));
    // An emptied catalogue goes with its last converter.
    EXPECT_EQ(othersListed, KeyExists(HKEY_LOCAL_MACHINE, vembro::kConverterCatalogue));
}

TEST(KitRegistration, TranslatorJoinsTheTranslatorCategory)
{
    ASSERT_EQ(S_OK, vembro::kit::RegisterComponent(kTranslator, L"C:\\components\\tr.dll"));
    bool othersInCategory = CategoryMembers() > 1;
    EXPECT_EQ(S_OK, InTranslatorCategory(kTestTranslator));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                           std::wstring(vembro::kConverterCatalogue) + L"\\VembroKitTest.Translator"));

    ASSERT_EQ(S_OK, vembro::kit::UnregisterComponent(kTranslator));
    EXPECT_NE(S_OK, InTranslatorCategory(kTestTranslator));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VembroKitTest.Translator"));
    // So does the category with its last translator.
    EXPECT_EQ(othersInCategory, KeyExists(HKEY_CLASSES_ROOT, kCategoryKey));
}

TEST(KitRegistration, PlainObjectGetsItsProgIdOnly)
{
    ASSERT_EQ(S_OK, vembro::kit::RegisterComponent(kObject, L"C:\\components\\obj.dll"));
    CLSID fromProgId{};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"VembroKitTest.Object", &fromProgId));
    EXPECT_TRUE(::IsEqualCLSID(kTestObject, fromProgId));
    EXPECT_NE(S_OK, InTranslatorCategory(kTestObject));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(vembro::kConverterCatalogue) + L"\\VembroKitTest.Object"));

    ASSERT_EQ(S_OK, vembro::kit::UnregisterComponent(kObject));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VembroKitTest.Object"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{5B0C2B1E-3C35-4F7A-9E0B-7D2E8A51C003}"));
}

TEST(KitRegistration, UnregisteringWhatWasNeverThereSucceeds)
{
    EXPECT_EQ(S_OK, vembro::kit::UnregisterComponent(kConverter));
}
