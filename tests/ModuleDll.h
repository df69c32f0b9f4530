#pragma once
// The built Vembro.DLL, loaded the way COM loads it, with its four exports.
#include <windows.h>
#include <objbase.h>

#include <string>

namespace moduletest {

struct VembroDll {
    static std::wstring Path() // next to the tests folder of the build tree
    {
        wchar_t exe[MAX_PATH] = {};
        std::wstring path(exe, ::GetModuleFileNameW(nullptr, exe, MAX_PATH));
        path.resize(path.find_last_of(L'\\'));
        return path.substr(0, path.find_last_of(L'\\')) + L"\\Vembro.DLL";
    }
    const std::wstring path = Path();
    const HMODULE module = ::LoadLibraryW(path.c_str());
    ~VembroDll() { ::FreeLibrary(module); }
    template <class F> F* Export(const char* name) const
    {
        return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
    }
    HRESULT CanUnloadNow() const { return Export<HRESULT STDAPICALLTYPE()>("DllCanUnloadNow")(); }
    HRESULT Register() const { return Export<HRESULT STDAPICALLTYPE()>("DllRegisterServer")(); }
    HRESULT Unregister() const { return Export<HRESULT STDAPICALLTYPE()>("DllUnregisterServer")(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const
    {
        return Export<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid, ppv);
    }
};

} // namespace moduletest
