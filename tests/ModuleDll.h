#pragma once
// The built Vembro.DLL loaded the way COM loads it, with its four exports,
// and small registry readers for what its registration writes.
#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

namespace moduletest {

// The DLL next to the tests folder of the build tree.
inline std::wstring DllPath()
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    path.resize(path.find_last_of(L'\\')); // ...\tests
    path.resize(path.find_last_of(L'\\')); // the build folder
    return path + L"\\Vembro.DLL";
}

inline std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

class VembroDll {
public:
    VembroDll() : m_path(DllPath()), m_module(::LoadLibraryW(m_path.c_str()))
    {
        if (!m_module)
            return;
        m_canUnloadNow = Export<decltype(m_canUnloadNow)>("DllCanUnloadNow");
        m_getClassObject =
            Export<decltype(m_getClassObject)>("DllGetClassObject");
        m_register = Export<decltype(m_register)>("DllRegisterServer");
        m_unregister = Export<decltype(m_unregister)>("DllUnregisterServer");
    }
    ~VembroDll()
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }
    VembroDll(const VembroDll&) = delete;
    VembroDll& operator=(const VembroDll&) = delete;

    bool Loaded() const { return m_module && m_canUnloadNow && m_getClassObject && m_register && m_unregister; }
    const std::wstring& Path() const { return m_path; }

    HRESULT CanUnloadNow() const { return m_canUnloadNow(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const { return m_getClassObject(clsid, iid, ppv); }
    HRESULT Register() const { return m_register(); }
    HRESULT Unregister() const { return m_unregister(); }

private:
    // void(*)() is the one function type that converts to any other quietly.
    template <class F>
    F Export(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(m_module, name)));
    }

    std::wstring m_path;
    HMODULE m_module;
    HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* m_register)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_unregister)() = nullptr;
};

inline std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// A string value (null name: the default value), or nothing when the key or
// the value is missing.
inline std::optional<std::wstring> RegText(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    LONG error = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return std::wstring(data);
}

inline bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

inline std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0; ::RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    ::RegCloseKey(key);
    return names;
}

inline DWORD ValueCount(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    DWORD values = 0;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr);
    ::RegCloseKey(key);
    return values;
}

// Runs a Windows command line in the same Wine prefix and waits up to 60 s;
// its exit code, or -1 if it could not start or did not finish. Standard
// output and error go through a temporary file (a pipe's end may be
// inherited by helper processes that outlive the child), collected into
// *output.
inline long RunProcess(const std::wstring& commandLine, std::string* output = nullptr)
{
    wchar_t dir[MAX_PATH] = {}, file[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    if (!::GetTempFileNameW(dir, L"vmt", 0, file))
        return -1;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE out = ::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return -1;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(out);
    DWORD code = static_cast<DWORD>(-1);
    if (started) {
        if (::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(pi.hProcess, &code);
        else
            ::TerminateProcess(pi.hProcess, code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    std::string text;
    HANDLE in = ::CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got)
            text.append(buffer, got);
        ::CloseHandle(in);
    }
    ::DeleteFileW(file);
    if (output)
        *output = text;
    return static_cast<long>(code);
}

} // namespace moduletest
