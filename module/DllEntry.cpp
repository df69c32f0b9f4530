// The library entry and the four exports (ordinals in Vembro.def).
#include <windows.h>
#include <objbase.h>

#include "module/ComModule.h"
#include "module/Registration.h"
#include "module/VembroApp.h"

namespace {
vembro::CVembroApp theApp;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ::DisableThreadLibraryCalls(instance);
        theApp.SetInstanceHandle(instance);
        return theApp.InitInstance();
    case DLL_PROCESS_DETACH:
        theApp.ExitInstance();
        return TRUE;
    default:
        return TRUE;
    }
}

STDAPI DllCanUnloadNow()
{
    return vembro::g_Module.CanUnloadNow_nothrow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return vembro::g_Module.GetClassObject_nothrow(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return vembro::RegisterServer_nothrow(vembro::g_Module.GetModuleInstance());
}

STDAPI DllUnregisterServer()
{
    return vembro::UnregisterServer_nothrow(vembro::g_Module.GetModuleInstance());
}
