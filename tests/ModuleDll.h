#pragma once
// A built server DLL (Vembro.DLL unless named), loaded the way COM loads it, with its four exports.
#include <windows.h>
#include <objbase.h>

#include <string>

namespace moduletest {

struct VembroDll {
    static std::wstring Built() // next to the tests folder of the build tree
    {
        wchar_t exe[MAX_PATH] = {};
        std::wstring dir(exe, ::GetModuleFileNameW(nullptr, exe, MAX_PATH));
        dir.resize(dir.find_last_of(L'\\'));
        return dir.substr(0, dir.find_last_of(L'\\')) + L"\\Vembro.DLL";
    }
    explicit VembroDll(std::wstring dll = Built()) : path(std::move(dll)) {}
    const std::wstring path;
    const HMODULE module = ::LoadLibraryW(path.c_str());
    ~VembroDll() { ::FreeLibrary(module); }
    template <class... Args> HRESULT Call(const char* name, Args... args) const
    {
        return reinterpret_cast<HRESULT(STDAPICALLTYPE*)(Args...)>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)))(args...);
    }
    HRESULT CanUnloadNow() const { return Call("DllCanUnloadNow"); }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const { return Call<REFCLSID, REFIID, void**>("DllGetClassObject", clsid, iid, ppv); }
};

} // namespace moduletest
