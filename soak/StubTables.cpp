// Under Wine 8, the stubs that rpcrt4 builds from a type library for interfaces
// derived from IDispatch share a 256-entry vtable; a stub's release lowers the
// table's size instead of its count, so the next stub gets a new table and the
// old one is never freed. An object goes through the connection points' round
// trip (marshalled, unmarshalled, released) as IDispatch and as the events
// interface of Vembro's type library; Vembro.DLL itself is not loaded.
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cwchar>

#include "vembro/Vembro.h"

// Answers the two interfaces with IUnknown alone: a stub holds it, never calls it.
struct Object final : IUnknown {
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ITolviFileTranslatorEvents;
        return *out = known ? this : nullptr, known ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

static double PerRoundTrip(REFIID iid, IUnknown* object, int count)
{
    PROCESS_MEMORY_COUNTERS before{}, after{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &before, sizeof before);
    for (int i = 0; i < count; ++i) {
        IStream* stream = nullptr;
        IUnknown* back = nullptr;
        if (FAILED(::CoMarshalInterThreadInterfaceInStream(iid, object, &stream)) ||
            FAILED(::CoGetInterfaceAndReleaseStream(stream, iid, reinterpret_cast<void**>(&back))))
            return -1;
        back->Release();
    }
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &after, sizeof after);
    return (static_cast<double>(after.PagefileUsage) - static_cast<double>(before.PagefileUsage)) / count;
}

int main()
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Registered as Vembro.DLL registers it: the marshaller looks under the neutral locale.
    ITypeLib* lib = nullptr;
    if (FAILED(::LoadTypeLibEx(L"" VEMBRO_TLB_PATH, REGKIND_REGISTER, &lib)))
        return std::printf("the type library does not load\n"), 2;
    wchar_t libid[40], key[80];
    ::StringFromGUID2(LIBID_VEMBROLib, libid, 40);
    std::swprintf(key, 80, L"TypeLib\\%ls\\1.0\\0\\win%d", libid, static_cast<int>(sizeof(void*) * 8));
    ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, L"" VEMBRO_TLB_PATH, sizeof(L"" VEMBRO_TLB_PATH));
    Object object;
    PerRoundTrip(IID_IDispatch, &object, 1), PerRoundTrip(IID_ITolviFileTranslatorEvents, &object, 1); // set-up
    const double dispatch = PerRoundTrip(IID_IDispatch, &object, 10000);
    std::printf("private bytes per round trip (10,000): as IDispatch %+.0f, as ITolviFileTranslatorEvents %+.0f\n",
                dispatch, PerRoundTrip(IID_ITolviFileTranslatorEvents, &object, 10000));
    lib->Release();
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
    key[std::wcslen(key) - 6] = 0; // and the neutral locale's key, "\\win64" off
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
    ::UnRegisterTypeLib(LIBID_VEMBROLib, 1, 0, 0x0409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    return 0;
}
