#include "module/Registration.h"

#include <oleauto.h>
#include <wrl/client.h>
#include <string>

#include "vembro/com/Error.h"
#include "vembro/com/Strings.h"
#include "vembro/com/Registrar.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;

namespace vembro {
namespace {

// The script with its %MODULE%, %CLSID% and %LIBID% filled in.
void PrepareRegistrar(HMODULE module, CRegistrar& registrar, std::wstring& script)
{
    ThrowIfFailed(CRegistrar::LoadScript_nothrow(module, kRegistrationScriptId, L"REGISTRY", script));
    registrar.AddReplacement(L"MODULE", ModulePath(module));
    registrar.AddReplacement(L"CLSID", GuidString(CLSID_TolviFTManager));
    registrar.AddReplacement(L"LIBID", GuidString(LIBID_VEMBROLib));
}

// The type library resource 1 of the module's own file; failing that, the
// file of the same path with the extension ".tlb".
ComPtr<ITypeLib> LoadModuleTypeLib(const std::wstring& modulePath, std::wstring& loadedFrom)
{
    ComPtr<ITypeLib> lib;
    loadedFrom = modulePath;
    if (SUCCEEDED(::LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, &lib)))
        return lib;
    const size_t slash = modulePath.find_last_of(L"\\/");
    const size_t dot = modulePath.find_last_of(L'.');
    loadedFrom = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
                     ? modulePath.substr(0, dot)
                     : modulePath;
    loadedFrom += L".tlb";
    ThrowIfFailed(::LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, &lib));
    return lib;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

TLIBATTR LibraryAttributes(ITypeLib* lib)
{
    TLIBATTR* attr = nullptr;
    ThrowIfFailed(lib->GetLibAttr(&attr));
    const TLIBATTR copy = *attr;
    lib->ReleaseTLibAttr(attr);
    return copy;
}

// The library is published for US English. Lookups that ask for the
// language-neutral locale -- the automation marshaller that carries client
// sinks between threads does -- would not find it there, and Advise on a
// chain translator would fail for every client sink without a marshaller of
// its own. So the same file is also announced under the neutral locale.
std::wstring NeutralLocaleKey(const TLIBATTR& attr)
{
    return L"TypeLib\\" + GuidString(attr.guid) + L"\\" + std::to_wstring(attr.wMajorVerNum) + L"." +
           std::to_wstring(attr.wMinorVerNum) + L"\\0";
}

const wchar_t* SysKindName(SYSKIND kind) noexcept { return kind == SYS_WIN64 ? L"win64" : L"win32"; }

void RegisterModuleTypeLib(HMODULE module)
{
    const std::wstring path = ModulePath(module);
    std::wstring loadedFrom;
    ComPtr<ITypeLib> lib = LoadModuleTypeLib(path, loadedFrom);
    std::wstring helpDir = FolderOf(path);
    ThrowIfFailed(::RegisterTypeLib(lib.Get(), loadedFrom.data(), helpDir.data()));
    const TLIBATTR attr = LibraryAttributes(lib.Get());
    if (attr.lcid != LANG_NEUTRAL) {
        const std::wstring key = NeutralLocaleKey(attr) + L"\\" + SysKindName(attr.syskind);
        ThrowIfWin32Failed(::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, loadedFrom.c_str(),
                                             static_cast<DWORD>((loadedFrom.size() + 1) * sizeof(wchar_t))));
    }
}

void UnregisterModuleTypeLib(HMODULE module)
{
    std::wstring loadedFrom;
    ComPtr<ITypeLib> lib = LoadModuleTypeLib(ModulePath(module), loadedFrom);
    const TLIBATTR copy = LibraryAttributes(lib.Get());
    if (copy.lcid != LANG_NEUTRAL) {
        // Gone first, so that the platform can remove the emptied version key.
        const std::wstring neutral = NeutralLocaleKey(copy);
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (neutral + L"\\" + SysKindName(copy.syskind)).c_str());
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, neutral.c_str());
    }
    ThrowIfFailed(::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind));
}

} // namespace

HRESULT RegisterServer_nothrow(HMODULE module) noexcept
try {
    CRegistrar registrar;
    std::wstring script;
    PrepareRegistrar(module, registrar, script);
    ThrowIfFailed(registrar.Register_nothrow(script));
    try {
        RegisterModuleTypeLib(module);
    } catch (...) {
        // A class registered without its library, or with part of it, would
        // be half a registration: both go again.
        try {
            UnregisterModuleTypeLib(module);
        } catch (...) {
        }
        (void)registrar.Unregister_nothrow(script);
        throw;
    }
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT UnregisterServer_nothrow(HMODULE module) noexcept
{
    try {
        CRegistrar registrar;
        std::wstring script;
        PrepareRegistrar(module, registrar, script);
        // Keys that are already gone are no reason to keep the type library.
        (void)registrar.Unregister_nothrow(script);
    } catch (...) {
    }
    try {
        UnregisterModuleTypeLib(module);
    } catch (...) {
    }
    return S_OK;
}

} // namespace vembro
