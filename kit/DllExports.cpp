// The four exports of a component DLL, compiled into each DLL that
// vembro_add_component makes (a static library would drop them).
#include <windows.h>
#include <string>

#include "vembro/com/ClassFactory.h"
#include "vembro/com/Dispatch.h"
#include "vembro/com/Module.h"
#include "vembro/com/Strings.h"
#include "vembro/kit/Module.h"

namespace {
HINSTANCE g_hInstance = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstance = instance;
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: nothing of ours is referenced any more.
        vembro::TypeInfoHolder::ReleaseAll();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return vembro::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!vembro::ClearOut(ppv))
        return E_POINTER;
    auto table = vembro::kit::Components();
    for (size_t i = 0; i < table.count; ++i)
        if (::IsEqualCLSID(clsid, *table.classes[i].clsid))
            return vembro::CClassFactory::CreateAndQuery_nothrow(table.classes[i].create, riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllUnregisterServer()
{
    HRESULT result = S_OK;
    auto table = vembro::kit::Components();
    for (size_t i = 0; i < table.count; ++i) {
        HRESULT hr = vembro::kit::UnregisterComponent_nothrow(table.classes[i]);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

STDAPI DllRegisterServer()
{
    std::wstring path;
    try {
        path = vembro::ModulePath(g_hInstance);
    } catch (...) {
        return vembro::ResultFromCaughtException();
    }
    auto table = vembro::kit::Components();
    for (size_t i = 0; i < table.count; ++i) {
        HRESULT hr = vembro::kit::RegisterComponent_nothrow(table.classes[i], path.c_str());
        if (FAILED(hr)) {
            // Nothing half-registered stays behind.
            for (size_t k = 0; k <= i; ++k)
                vembro::kit::UnregisterComponent_nothrow(table.classes[k]);
            return hr;
        }
    }
    return S_OK;
}
