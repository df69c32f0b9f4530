#pragma once
// How a test tells the fake components what to be: one registry key per
// CLSID under HKCU, written by fakes::Installation and read by the fake
// module each time a class object is asked for. Both sides include this
// header, so the value names cannot drift apart.
#include <windows.h>
#include <string>
#include <vector>

#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"
#include "support/Fakes.h"

namespace fakes {

enum class Kind : DWORD { Converter = 0, Translator = 1 };

struct Config {
    Kind kind = Kind::Converter;
    std::string name;
    Format source;
    Format target;
    Behaviour behaviour;
};

inline constexpr wchar_t kTestsRoot[] = L"Software\\Vembro Tests";
inline constexpr wchar_t kConfigRoot[] = L"Software\\Vembro Tests\\Fakes";

namespace config {

inline LONG SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

inline LONG SetString(HKEY key, const wchar_t* name, const std::string& value)
{
    std::wstring wide = vembro::WideFromAnsi(value.c_str());
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

inline DWORD GetDword(HKEY key, const wchar_t* name, DWORD fallback)
{
    DWORD value = 0, size = sizeof value, type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

inline std::vector<BYTE> GetBytes(HKEY key, const wchar_t* name)
{
    DWORD size = 0, type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return {};
    std::vector<BYTE> data(size);
    if (::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

inline std::string GetString(HKEY key, const wchar_t* name)
{
    std::vector<BYTE> data = GetBytes(key, name);
    std::wstring wide(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!wide.empty() && wide.back() == L'\0')
        wide.pop_back();
    return vembro::AnsiFromWide(wide.c_str());
}

inline LONG WriteFormat(HKEY key, const std::wstring& prefix, const Format& f)
{
    LONG e = SetDword(key, (prefix + L"Id").c_str(), static_cast<DWORD>(static_cast<LONG>(f.id)));
    if (e == ERROR_SUCCESS)
        e = SetString(key, (prefix + L"Name").c_str(), f.name);
    if (e == ERROR_SUCCESS)
        e = SetString(key, (prefix + L"DefaultExt").c_str(), f.defaultExt);
    if (e == ERROR_SUCCESS)
        e = SetString(key, (prefix + L"Exts").c_str(), f.exts);
    if (e == ERROR_SUCCESS)
        e = SetDword(key, (prefix + L"Complex").c_str(), f.complex ? 1 : 0);
    return e;
}

inline Format ReadFormat(HKEY key, const std::wstring& prefix)
{
    Format f;
    f.id = static_cast<short>(GetDword(key, (prefix + L"Id").c_str(), static_cast<DWORD>(-1)));
    f.name = GetString(key, (prefix + L"Name").c_str());
    f.defaultExt = GetString(key, (prefix + L"DefaultExt").c_str());
    f.exts = GetString(key, (prefix + L"Exts").c_str());
    f.complex = GetDword(key, (prefix + L"Complex").c_str(), 0) != 0;
    return f;
}

} // namespace config

// Writes `c` as values of `key`; the first failing Win32 code, or 0.
inline LONG WriteConfig(HKEY key, const Config& c)
{
    using namespace config;
    const Behaviour& b = c.behaviour;
    std::vector<LONG> progress;
    for (const auto& p : b.progress) {
        progress.push_back(p.first);
        progress.push_back(p.second);
    }
    LONG results[] = {
        SetDword(key, L"Kind", static_cast<DWORD>(c.kind)),
        SetString(key, L"Name", c.name),
        WriteFormat(key, L"Source", c.source),
        WriteFormat(key, L"Target", c.target),
        SetDword(key, L"Detect", static_cast<DWORD>(b.detect)),
        SetString(key, L"DetectIfContains", b.detectIfContains),
        SetDword(key, L"CreateResult", static_cast<DWORD>(b.createResult)),
        SetDword(key, L"SourceFormatResult", static_cast<DWORD>(b.sourceFormatResult)),
        SetDword(key, L"TargetFormatResult", static_cast<DWORD>(b.targetFormatResult)),
        SetDword(key, L"NullSourceFormat", b.nullSourceFormat ? 1 : 0),
        SetDword(key, L"StartResult", static_cast<DWORD>(b.startResult)),
        SetDword(key, L"SyncResult", static_cast<DWORD>(b.syncResult)),
        SetDword(key, L"StopResult", static_cast<DWORD>(b.stopResult)),
        SetDword(key, L"Finish", static_cast<DWORD>(b.finish)),
        SetDword(key, L"ErrorCode", static_cast<DWORD>(b.errorCode)),
        SetDword(key, L"Worker", b.worker ? 1 : 0),
        ::RegSetValueExW(key, L"Progress", 0, REG_BINARY, reinterpret_cast<const BYTE*>(progress.data()),
                         static_cast<DWORD>(progress.size() * sizeof(LONG))),
        SetDword(key, L"NoSync", b.noSync ? 1 : 0),
        SetDword(key, L"NoEvents", b.noEvents ? 1 : 0),
        SetDword(key, L"DispatchEvents", b.dispatchEvents ? 1 : 0),
        SetDword(key, L"PropertyResult", static_cast<DWORD>(b.propertyResult)),
        SetDword(key, L"PropertyEvents", b.propertyEvents ? 1 : 0),
        SetDword(key, L"StopReport", static_cast<DWORD>(b.stopReport)),
        SetDword(key, L"Gate", static_cast<DWORD>(b.gate)),
    };
    for (LONG e : results) {
        if (e != ERROR_SUCCESS)
            return e;
    }
    return ERROR_SUCCESS;
}

// Reads the configuration of `clsid`; false when the test declared none.
inline bool ReadConfig(const std::wstring& clsid, Config& c)
{
    using namespace config;
    vembro::unique_hkey key;
    std::wstring path = std::wstring(kConfigRoot) + L"\\" + clsid;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    HKEY k = key.get();
    c.kind = static_cast<Kind>(GetDword(k, L"Kind", 0));
    c.name = GetString(k, L"Name");
    c.source = ReadFormat(k, L"Source");
    c.target = ReadFormat(k, L"Target");
    Behaviour& b = c.behaviour;
    b.detect = static_cast<HRESULT>(GetDword(k, L"Detect", S_FALSE));
    b.detectIfContains = GetString(k, L"DetectIfContains");
    b.createResult = static_cast<HRESULT>(GetDword(k, L"CreateResult", S_OK));
    b.sourceFormatResult = static_cast<HRESULT>(GetDword(k, L"SourceFormatResult", S_OK));
    b.targetFormatResult = static_cast<HRESULT>(GetDword(k, L"TargetFormatResult", S_OK));
    b.nullSourceFormat = GetDword(k, L"NullSourceFormat", 0) != 0;
    b.startResult = static_cast<HRESULT>(GetDword(k, L"StartResult", S_OK));
    b.syncResult = static_cast<HRESULT>(GetDword(k, L"SyncResult", S_OK));
    b.stopResult = static_cast<HRESULT>(GetDword(k, L"StopResult", S_OK));
    b.finish = static_cast<Finish>(GetDword(k, L"Finish", 0));
    b.errorCode = static_cast<HRESULT>(GetDword(k, L"ErrorCode", static_cast<DWORD>(E_FAIL)));
    b.worker = GetDword(k, L"Worker", 0) != 0;
    std::vector<BYTE> progress = GetBytes(k, L"Progress");
    for (size_t i = 0; i + 2 * sizeof(LONG) <= progress.size(); i += 2 * sizeof(LONG)) {
        LONG pair[2];
        ::CopyMemory(pair, progress.data() + i, sizeof pair);
        b.progress.emplace_back(pair[0], pair[1]);
    }
    b.noSync = GetDword(k, L"NoSync", 0) != 0;
    b.noEvents = GetDword(k, L"NoEvents", 0) != 0;
    b.dispatchEvents = GetDword(k, L"DispatchEvents", 0) != 0;
    b.propertyResult = static_cast<HRESULT>(GetDword(k, L"PropertyResult", S_OK));
    b.propertyEvents = GetDword(k, L"PropertyEvents", 0) != 0;
    b.stopReport = static_cast<long>(GetDword(k, L"StopReport", 4));
    b.gate = static_cast<Gate>(GetDword(k, L"Gate", 0));
    return true;
}

} // namespace fakes
