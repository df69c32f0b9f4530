// Under Wine 8 a single-threaded apartment that has handed out an object keeps
// its endpoint after it ends, and the platform's listener waits on one handle
// per endpoint and one more, 64 at most: with the 64th endpoint it stops, and
// marshalling hangs. Here short-lived apartments each hand out one object,
// unmarshalled and called.
#include <windows.h>
#include <objbase.h>
#include <cstdio>

// Never freed: one static object serves every apartment.
struct Object final : IUnknown {
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = iid == IID_IUnknown ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
} g_object;

static IStream* g_stream = nullptr;

static DWORD WINAPI Apartment(void*)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &g_object, &g_stream);
    ::CoUninitialize();
    return 0;
}

int main()
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int i = 1; i <= 200; ++i) {
        HANDLE thread = ::CreateThread(nullptr, 0, Apartment, nullptr, 0, nullptr);
        if (::WaitForSingleObject(thread, 10000) == WAIT_TIMEOUT)
            return std::printf("apartment %d: marshalling hangs\n", i), 1;
        ::CloseHandle(thread);
        IUnknown *unk = nullptr, *other = nullptr;
        const HRESULT got = ::CoGetInterfaceAndReleaseStream(g_stream, IID_IUnknown, reinterpret_cast<void**>(&unk));
        const HRESULT called = unk ? unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&other)) : E_POINTER;
        if (i == 1)
            std::printf("object of an ended apartment: unmarshalled 0x%08lX, called 0x%08lX\n",
                        static_cast<unsigned long>(got), static_cast<unsigned long>(called));
        if (unk)
            unk->Release();
    }
    return std::printf("200 ended apartments: no hang\n"), 0;
}
