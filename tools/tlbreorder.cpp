// tlbreorder in.tlb out.tlb win32|win64
//
// widl always writes a base interface ahead of the interfaces derived from
// it, but the published library of Vembro.DLL puts ITolviFileTranslator2
// before ITolviFileTranslator and ITolviFileConverter2 before
// ITolviFileConverter, and clients index it by position. This tool re-creates
// the library that widl made through the platform's ICreateTypeLib2, type by
// type, in the published order, then loads the result back and checks it.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>

#include "tools/TlbCopier.h"

namespace {

int Fail(const char* step, HRESULT hr)
{
    std::fprintf(stderr, "tlbreorder: %s failed (0x%08lX)\n", step, static_cast<unsigned long>(hr));
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4 || (std::wcscmp(argv[3], L"win32") != 0 && std::wcscmp(argv[3], L"win64") != 0)) {
        std::fprintf(stderr, "usage: tlbreorder in.tlb out.tlb win32|win64\n");
        return 2;
    }
    const SYSKIND syskind = std::wcscmp(argv[3], L"win32") == 0 ? SYS_WIN32 : SYS_WIN64;

    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return Fail("CoInitializeEx", hr);
    int rc = 0;
    {
        vembro::tools::TlbCopier copier(syskind);
        hr = copier.Copy_nothrow(argv[1], argv[2]);
        if (FAILED(hr)) {
            rc = Fail(copier.LastStep(), hr);
            ::DeleteFileW(argv[2]); // never leave a half-written library behind
        } else {
            hr = copier.Verify_nothrow(argv[2]);
            if (FAILED(hr)) {
                rc = Fail(copier.LastStep(), hr);
                ::DeleteFileW(argv[2]);
            }
        }
    }
    ::CoUninitialize();
    return rc;
}
