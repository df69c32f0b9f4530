#include <comcat.h>
#include <wrl/client.h>
#include <string>

#include "vembro/Catalogue.h"
#include "vembro/Vembro.h"
#include "vembro/com/Registrar.h"
#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "vembro/kit/Module.h"

namespace vembro::kit {
namespace {

using Microsoft::WRL::ComPtr;

// Every component's class and ProgID. Removal takes both subtrees whole.
const wchar_t kClassScript[] = LR"(HKCR
{
    ForceRemove '%PROGID%' = s '%DESCRIPTION%'
    {
        CLSID = s '%CLSID%'
    }
    NoRemove CLSID
    {
        ForceRemove %CLSID% = s '%DESCRIPTION%'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Both'
            }
            ProgID = s '%PROGID%'
        }
    }
})";

// A converter's catalogue entry: HKLM\<catalogue>\<ProgID>, written as nested
// keys so that removing the last entry also removes the levels it emptied
// (Software itself is never removed).
std::wstring CatalogueScript()
{
    std::wstring path = kConverterCatalogue;
    std::wstring open, close;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring level = path.substr(start, end - start);
        open += (start == 0 ? L"NoRemove '" : L"'") + level + L"' { ";
        close += L"} ";
        start = end + 1;
    }
    return L"HKLM { " + open + L"ForceRemove '%PROGID%' " + close + L"}";
}

CRegistrar RegistrarFor(const ComponentClass& cls, const std::wstring& modulePath)
{
    CRegistrar registrar;
    registrar.AddReplacement(L"CLSID", GuidString(*cls.clsid));
    registrar.AddReplacement(L"PROGID", cls.progId);
    registrar.AddReplacement(L"DESCRIPTION", cls.description);
    registrar.AddReplacement(L"MODULE", modulePath);
    return registrar;
}

std::wstring ScriptFor(const ComponentClass& cls)
{
    return cls.kind == ComponentKind::Converter ? std::wstring(kClassScript) + L"\n" + CatalogueScript()
                                                : std::wstring(kClassScript);
}

ComPtr<ICatRegister> CategoryManager()
{
    ComPtr<ICatRegister> cats;
    ThrowIfFailed(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&cats)));
    return cats;
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

HRESULT RegisterComponent_nothrow(const ComponentClass& cls, const wchar_t* modulePath) noexcept
try {
    ComScope com;
    ThrowIfFailed(RegistrarFor(cls, modulePath).Register_nothrow(ScriptFor(cls)));
    if (cls.kind != ComponentKind::Translator)
        return S_OK;
    auto cats = CategoryManager();
    CATEGORYINFO info{};
    info.catid = IID_ITolviFileTranslator2;
    info.lcid = 0x0409;
    wcscpy_s(info.szDescription, L"Tolvi file translators");
    ThrowIfFailed(cats->RegisterCategories(1, &info));
    ThrowIfFailed(cats->RegisterClassImplCategories(*cls.clsid, 1, &info.catid));
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT UnregisterComponent_nothrow(const ComponentClass& cls) noexcept
try {
    ComScope com;
    if (cls.kind == ComponentKind::Translator) {
        CATID catid = IID_ITolviFileTranslator2;
        auto cats = CategoryManager();
        // A class that was never registered has nothing to remove here.
        cats->UnRegisterClassImplCategories(*cls.clsid, 1, &catid);
        PruneEmptyCategory(cats.Get());
    }
    return RegistrarFor(cls, std::wstring()).Unregister_nothrow(ScriptFor(cls));
}
VEMBRO_CATCH_RETURN()

} // namespace vembro::kit
