#pragma once
// A fake's configuration: one text value per CLSID under HKCU, written by fakes::Installation and read by the fake
// module in whichever process COM loads it. Writer and reader both walk Fields(), so they cannot drift apart.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "vembro/com/Strings.h"
#include "support/Fakes.h"

namespace fakes {

enum class Kind { Converter, Translator };

struct Config { Kind kind = Kind::Converter; std::string name; Format source, target; Behaviour behaviour; };

inline constexpr wchar_t kTestsRoot[] = L"Software\\Vembro Tests";
inline constexpr wchar_t kConfigRoot[] = L"Software\\Vembro Tests\\Fakes";

template <class C, class Visit>
void Fields(C& c, Visit&& v)
{
    v("kind", c.kind), v("name", c.name);
    for (auto* f : {&c.source, &c.target}) {
        const std::string side = f == &c.source ? "source." : "target.";
        v(side + "id", f->id), v(side + "name", f->name), v(side + "defaultExt", f->defaultExt);
        v(side + "exts", f->exts), v(side + "complex", f->complex);
    }
    auto& b = c.behaviour;
    v("detect", b.detect), v("createResult", b.createResult);
    v("sourceFormatResult", b.sourceFormatResult), v("targetFormatResult", b.targetFormatResult);
    v("nullSourceFormat", b.nullSourceFormat), v("startResult", b.startResult), v("syncResult", b.syncResult);
    v("stopResult", b.stopResult), v("finish", b.finish), v("errorCode", b.errorCode), v("worker", b.worker);
    v("progress", b.progress), v("noSync", b.noSync), v("noEvents", b.noEvents), v("progId", b.progId);
    v("dispatchEvents", b.dispatchEvents), v("propertyResult", b.propertyResult);
    v("propertyEvents", b.propertyEvents), v("unlisted", b.unlisted), v("stopReport", b.stopReport);
    v("gate", b.gate);
}

using Progress = std::vector<std::pair<long, long>>;

// "name=value" lines; strings as they are (they hold no line breaks),
// progress as "1/4 2/4 ", everything else as a number.
inline std::string ConfigText(const Config& c)
{
    std::string text;
    Fields(c, [&](const std::string& name, const auto& value) {
        using T = std::decay_t<decltype(value)>;
        text += name + "=";
        if constexpr (std::is_same_v<T, std::string>)
            text += value;
        else if constexpr (std::is_same_v<T, Progress>)
            for (const auto& p : value)
                text += std::to_string(p.first) + "/" + std::to_string(p.second) + " ";
        else
            text += std::to_string(static_cast<long long>(value));
        text += "\n";
    });
    return text;
}

inline Config ConfigFromText(const std::string& text)
{
    std::map<std::string, std::string> values;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        size_t eq = text.find('=', at);
        values[text.substr(at, eq - at)] = text.substr(eq + 1, end - eq - 1);
    }
    Config c;
    Fields(c, [&](const std::string& name, auto& value) {
        using T = std::decay_t<decltype(value)>;
        auto found = values.find(name);
        if (found == values.end())
            return;
        const std::string& s = found->second;
        long a = 0, b = 0;
        int used = 0;
        if constexpr (std::is_same_v<T, std::string>)
            value = s;
        else if constexpr (std::is_same_v<T, Progress>)
            for (const char* p = s.c_str(); std::sscanf(p, "%ld/%ld %n", &a, &b, &used) == 2; p += used)
                value.emplace_back(a, b);
        else
            value = static_cast<T>(std::strtoll(s.c_str(), nullptr, 10));
    });
    return c;
}

inline std::wstring ConfigPath(const std::wstring& clsid) { return std::wstring(kConfigRoot) + L"\\" + clsid; }

// The Win32 error of writing, or 0.
inline LONG WriteConfig(const std::wstring& clsid, const Config& c)
{
    std::wstring text = vembro::WideFromAnsi(ConfigText(c).c_str());
    return ::RegSetKeyValueW(HKEY_CURRENT_USER, ConfigPath(clsid).c_str(), nullptr, REG_SZ, text.c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// False when the test declared no fake of that CLSID.
inline bool ReadConfig(const std::wstring& clsid, Config& c)
{
    DWORD size = 0;
    const std::wstring path = ConfigPath(clsid);
    if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size))
        return false;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, &text[0], &size))
        return false;
    c = ConfigFromText(vembro::AnsiFromWide(text.c_str()));
    return true;
}

// The fake module's side in the test's own process (its export FakeModule).
class ModuleApi {
public:
    virtual std::vector<std::string> Journal() = 0;
    virtual void ClearJournal() = 0;
    virtual bool WaitIdle(DWORD timeoutMs) = 0;
    virtual long LiveObjects() = 0;
    // Every live component of that name reports on this thread: kind 0
    // StateChange(a), 1 ProgressChange(a, b). Answers how many.
    virtual long Fire(const std::string& name, long kind, long a, long b) = 0;

protected:
    ~ModuleApi() = default;
};

} // namespace fakes
