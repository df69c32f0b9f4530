#include <comcat.h>
#include <wrl/client.h>
#include <string>

#include "com/Resource.h"
#include "vembro/Vembro.h"
#include "vembro/kit/Module.h"

namespace vembro::kit {

const wchar_t kConverterCatalogue[] = L"Software\\Tolvi Labs\\Devevi9\\FTM\\Converters";

namespace {

using Microsoft::WRL::ComPtr;

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    if (!::StringFromGUID2(guid, text, 40))
        ThrowHr(E_UNEXPECTED);
    return text;
}

void SetValue(HKEY root, const std::wstring& path, const wchar_t* name, const wchar_t* value)
{
    unique_hkey key;
    ThrowIfWin32Failed(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                         nullptr, key.put(), nullptr));
    if (value) {
        DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
        ThrowIfWin32Failed(::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes));
    }
}

void DeleteTree(HKEY root, const std::wstring& path)
{
    LONG error = ::RegDeleteTreeW(root, path.c_str());
    if (error != ERROR_FILE_NOT_FOUND)
        ThrowIfWin32Failed(error);
    // RegDeleteTree empties the key; the key itself goes separately.
    error = ::RegDeleteKeyW(root, path.c_str());
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_SUCCESS)
        ThrowIfWin32Failed(error);
}

ComPtr<ICatRegister> CategoryManager()
{
    ComPtr<ICatRegister> cats;
    ThrowIfFailed(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&cats)));
    return cats;
}

// Removes the catalogue key and its parents as far as they are empty, so
// that uninstalling the last converter leaves the registry as it was found.
void PruneEmptyCatalogue()
{
    std::wstring path = kConverterCatalogue;
    for (int level = 0; level < 4; ++level) {
        if (::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS)
            return; // not empty (or not there): its parents are not empty either
        path = path.substr(0, path.rfind(L'\\'));
    }
}

// Drops the translator category once no class implements it any more.
void PruneEmptyCategory(ICatRegister* cats)
{
    ComPtr<ICatInformation> info;
    if (FAILED(cats->QueryInterface(IID_PPV_ARGS(&info))))
        return;
    CATID catid = IID_ITolviFileTranslator2;
    ComPtr<IEnumCLSID> classes;
    if (FAILED(info->EnumClassesOfCategories(1, &catid, 0, nullptr, &classes)))
        return;
    CLSID clsid;
    ULONG fetched = 0;
    if (classes->Next(1, &clsid, &fetched) != S_OK)
        cats->UnRegisterCategories(1, &catid);
}

// Registration may run from regsvr32 (COM already up) or from a test.
class ComScope {
public:
    ComScope() noexcept : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }

private:
    HRESULT m_hr;
};

} // namespace

HRESULT RegisterComponent(const ComponentClass& cls, const wchar_t* modulePath) noexcept
try {
    ComScope com;
    std::wstring clsid = GuidText(*cls.clsid);
    std::wstring classKey = L"CLSID\\" + clsid;
    SetValue(HKEY_CLASSES_ROOT, classKey, nullptr, cls.description);
    SetValue(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr, modulePath);
    SetValue(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    SetValue(HKEY_CLASSES_ROOT, classKey + L"\\ProgID", nullptr, cls.progId);
    SetValue(HKEY_CLASSES_ROOT, cls.progId, nullptr, cls.description);
    SetValue(HKEY_CLASSES_ROOT, std::wstring(cls.progId) + L"\\CLSID", nullptr, clsid.c_str());

    if (cls.kind == ComponentKind::Object)
        return S_OK;
    if (cls.kind == ComponentKind::Converter) {
        SetValue(HKEY_LOCAL_MACHINE, std::wstring(kConverterCatalogue) + L"\\" + cls.progId, nullptr, nullptr);
        return S_OK;
    }
    auto cats = CategoryManager();
    CATEGORYINFO info{};
    info.catid = IID_ITolviFileTranslator2;
    info.lcid = 0x0409;
    wcscpy_s(info.szDescription, L"Tolvi file translators");
    ThrowIfFailed(cats->RegisterCategories(1, &info));
    CATID catid = IID_ITolviFileTranslator2;
    ThrowIfFailed(cats->RegisterClassImplCategories(*cls.clsid, 1, &catid));
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT UnregisterComponent(const ComponentClass& cls) noexcept
try {
    ComScope com;
    if (cls.kind == ComponentKind::Converter) {
        DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kConverterCatalogue) + L"\\" + cls.progId);
        PruneEmptyCatalogue();
    } else if (cls.kind == ComponentKind::Translator) {
        CATID catid = IID_ITolviFileTranslator2;
        auto cats = CategoryManager();
        // A class that was never registered has nothing to remove here.
        cats->UnRegisterClassImplCategories(*cls.clsid, 1, &catid);
        PruneEmptyCategory(cats.Get());
    }
    DeleteTree(HKEY_CLASSES_ROOT, cls.progId);
    DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*cls.clsid));
    return S_OK;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro::kit
