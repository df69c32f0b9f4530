#include "vembro/com/Registrar.h"

#include <cwctype>
#include <vector>

#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"

namespace vembro {
namespace {

enum class KeyFlag { None, NoRemove, ForceRemove, Delete };

struct RegValue {
    std::wstring name; // empty for the default value
    DWORD type = REG_SZ;
    std::wstring text;
    DWORD number = 0;
};

struct RegKey {
    std::wstring name;
    KeyFlag flag = KeyFlag::None;
    std::vector<RegValue> values; // the default value, when written, comes first
    std::vector<RegKey> children;
};

struct RegRoot {
    HKEY root = nullptr;
    std::vector<RegKey> keys;
};

struct Token {
    enum Kind { End, Bare, Quoted, Open, Close, Equals } kind = End;
    std::wstring text;
};

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) noexcept { return ::lstrcmpiW(a.c_str(), b) == 0; }

class ScriptParser {
public:
    ScriptParser(const std::wstring& script, const std::map<std::wstring, std::wstring>& replacements)
        : m_text(script), m_replacements(replacements)
    {
    }

    std::vector<RegRoot> Parse()
    {
        std::vector<RegRoot> roots;
        for (Token t = Next(); t.kind != Token::End; t = Next()) {
            if (t.kind != Token::Bare)
                ThrowHr(kBadRegistrationScript);
            RegRoot root;
            root.root = RootFromName(t.text);
            Expect(Token::Open);
            for (Token k = Next(); k.kind != Token::Close; k = Next())
                root.keys.push_back(ParseKey(k));
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    static HKEY RootFromName(const std::wstring& name)
    {
        static const struct { const wchar_t* name; HKEY key; } roots[] = {
            {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
            {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
            {L"HKCU", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
            {L"HKU", HKEY_USERS}, {L"HKEY_USERS", HKEY_USERS},
        };
        for (const auto& r : roots)
            if (EqualsNoCase(name, r.name))
                return r.key;
        ThrowHr(kBadRegistrationScript);
    }

    RegKey ParseKey(Token t)
    {
        RegKey key;
        if (t.kind == Token::Bare) {
            if (EqualsNoCase(t.text, L"NoRemove"))
                key.flag = KeyFlag::NoRemove;
            else if (EqualsNoCase(t.text, L"ForceRemove"))
                key.flag = KeyFlag::ForceRemove;
            else if (EqualsNoCase(t.text, L"Delete"))
                key.flag = KeyFlag::Delete;
            if (key.flag != KeyFlag::None)
                t = Next();
        }
        key.name = Name(t);
        t = Next();
        if (t.kind == Token::Equals) {
            key.values.push_back(ParseValueData(std::wstring()));
            t = Next();
        }
        if (t.kind != Token::Open) {
            Back(t);
            return key;
        }
        for (t = Next(); t.kind != Token::Close; t = Next()) {
            if (t.kind == Token::Bare && EqualsNoCase(t.text, L"val")) {
                std::wstring name = Name(Next());
                Expect(Token::Equals);
                key.values.push_back(ParseValueData(name));
            } else {
                key.children.push_back(ParseKey(t));
            }
        }
        return key;
    }

    RegValue ParseValueData(const std::wstring& name)
    {
        RegValue value;
        value.name = name;
        Token type = Next();
        Token data = Next();
        if (type.kind != Token::Bare || data.kind != Token::Quoted)
            ThrowHr(kBadRegistrationScript);
        if (EqualsNoCase(type.text, L"s")) {
            value.type = REG_SZ;
        } else if (EqualsNoCase(type.text, L"e")) {
            value.type = REG_EXPAND_SZ;
        } else if (EqualsNoCase(type.text, L"d")) {
            value.type = REG_DWORD;
            wchar_t* end = nullptr;
            value.number = static_cast<DWORD>(std::wcstoul(data.text.c_str(), &end, 0));
            if (data.text.empty() || *end)
                ThrowHr(kBadRegistrationScript);
        } else {
            ThrowHr(kBadRegistrationScript);
        }
        value.text = data.text;
        return value;
    }

    static std::wstring Name(const Token& t)
    {
        if ((t.kind != Token::Bare && t.kind != Token::Quoted) || t.text.empty())
            ThrowHr(kBadRegistrationScript);
        return t.text;
    }

    void Expect(Token::Kind kind)
    {
        if (Next().kind != kind)
            ThrowHr(kBadRegistrationScript);
    }

    void Back(Token t) { m_pushed.push_back(std::move(t)); }

    Token Next()
    {
        if (!m_pushed.empty()) {
            Token t = std::move(m_pushed.back());
            m_pushed.pop_back();
            return t;
        }
        while (m_pos < m_text.size() && std::iswspace(m_text[m_pos]))
            ++m_pos;
        Token t;
        if (m_pos >= m_text.size())
            return t;
        const wchar_t c = m_text[m_pos];
        const bool alone = m_pos + 1 >= m_text.size() || std::iswspace(m_text[m_pos + 1]);
        if (c == L'=' || ((c == L'{' || c == L'}') && alone)) {
            ++m_pos;
            t.kind = c == L'=' ? Token::Equals : c == L'{' ? Token::Open : Token::Close;
            return t;
        }
        std::wstring raw;
        if (c == L'\'') {
            // Quoted text; '' stands for one quote.
            t.kind = Token::Quoted;
            for (++m_pos;; ++m_pos) {
                if (m_pos >= m_text.size())
                    ThrowHr(kBadRegistrationScript);
                if (m_text[m_pos] == L'\'') {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == L'\'') {
                        raw += L'\'';
                        ++m_pos;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                raw += m_text[m_pos];
            }
        } else {
            // A bare word, a braced GUID included, ends at blank, = or quote.
            t.kind = Token::Bare;
            while (m_pos < m_text.size() && !std::iswspace(m_text[m_pos]) && m_text[m_pos] != L'=' &&
                   m_text[m_pos] != L'\'')
                raw += m_text[m_pos++];
        }
        t.text = Substitute(raw);
        return t;
    }

    std::wstring Substitute(const std::wstring& raw) const
    {
        std::wstring out;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out += raw[i];
                continue;
            }
            const size_t close = raw.find(L'%', i + 1);
            if (close == std::wstring::npos)
                ThrowHr(kBadRegistrationScript);
            const std::wstring name = raw.substr(i + 1, close - i - 1);
            if (name.empty()) {
                out += L'%';
            } else {
                auto it = m_replacements.find(name);
                if (it == m_replacements.end())
                    ThrowHr(kBadRegistrationScript);
                out += it->second;
            }
            i = close;
        }
        return out;
    }

    const std::wstring& m_text;
    const std::map<std::wstring, std::wstring>& m_replacements;
    size_t m_pos = 0;
    std::vector<Token> m_pushed;
};

// Deleting something that is not there is not a failure. Given a subkey
// name, RegDeleteTree removes that key itself along with its subtree.
void DeleteTree(HKEY parent, const std::wstring& name)
{
    const LONG error = ::RegDeleteTreeW(parent, name.c_str());
    if (error != ERROR_FILE_NOT_FOUND)
        ThrowIfWin32Failed(error);
}

void WriteValue(HKEY key, const RegValue& value)
{
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    if (value.type == REG_DWORD) {
        ThrowIfWin32Failed(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                                            sizeof(value.number)));
        return;
    }
    const DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
    ThrowIfWin32Failed(
        ::RegSetValueExW(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()), bytes));
}

void WriteKey(HKEY parent, const RegKey& key)
{
    if (key.flag == KeyFlag::Delete) {
        DeleteTree(parent, key.name);
        return;
    }
    if (key.flag == KeyFlag::ForceRemove)
        DeleteTree(parent, key.name);
    unique_hkey hkey;
    ThrowIfWin32Failed(::RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                         hkey.put(), nullptr));
    for (const RegValue& value : key.values)
        WriteValue(hkey.get(), value);
    for (const RegKey& child : key.children)
        WriteKey(hkey.get(), child);
}

// Removes what WriteKey wrote; remembers the first failure in `first` and
// goes on with the rest.
void RemoveKey(HKEY parent, const RegKey& key, HRESULT& first) noexcept
{
    auto note = [&first](LONG error) {
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && SUCCEEDED(first))
            first = HResultFromWin32(error);
    };
    if (key.flag == KeyFlag::ForceRemove || key.flag == KeyFlag::Delete) {
        note(::RegDeleteTreeW(parent, key.name.c_str()));
        return;
    }
    unique_hkey hkey;
    const LONG opened = ::RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, hkey.put());
    if (opened != ERROR_SUCCESS) {
        note(opened);
        return;
    }
    for (const RegKey& child : key.children)
        RemoveKey(hkey.get(), child, first);
    if (key.flag == KeyFlag::NoRemove)
        return;
    for (const RegValue& value : key.values)
        if (!value.name.empty())
            note(::RegDeleteValueW(hkey.get(), value.name.c_str()));
    // A key that still has subkeys that the script did not write is kept.
    DWORD subkeys = 0;
    note(::RegQueryInfoKeyW(hkey.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr));
    hkey.reset();
    if (subkeys == 0)
        note(::RegDeleteKeyW(parent, key.name.c_str()));
}

// Removes every key of the script that may go; the first real failure.
HRESULT RemoveAll(const std::vector<RegRoot>& roots) noexcept
{
    HRESULT first = S_OK;
    for (const RegRoot& root : roots)
        for (const RegKey& key : root.keys)
            RemoveKey(root.root, key, first);
    return first;
}

} // namespace

HRESULT CRegistrar::Register_nothrow(const std::wstring& script) noexcept
try {
    const std::vector<RegRoot> roots = ScriptParser(script, m_replacements).Parse();
    try {
        for (const RegRoot& root : roots)
            for (const RegKey& key : root.keys)
                WriteKey(root.root, key);
    } catch (...) {
        // Half a registration is worse than none: what the script wrote
        // before the failure goes again, and the failure is what is reported.
        (void)RemoveAll(roots);
        throw;
    }
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT CRegistrar::Unregister_nothrow(const std::wstring& script) noexcept
try {
    return RemoveAll(ScriptParser(script, m_replacements).Parse());
}
VEMBRO_CATCH_RETURN()

HRESULT CRegistrar::LoadScript_nothrow(HMODULE module, UINT id, const wchar_t* type, std::wstring& script) noexcept
try {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return HResultFromWin32(static_cast<LONG>(::GetLastError()));
    HGLOBAL loaded = ::LoadResource(module, found);
    const char* text = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    if (!text)
        return HResultFromWin32(static_cast<LONG>(::GetLastError()));
    script = WideFromAnsi(text, static_cast<int>(::SizeofResource(module, found)));
    return S_OK;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
