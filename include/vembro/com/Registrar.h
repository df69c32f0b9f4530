#pragma once
// A small registrar for registration scripts: a tree of keys
// under a root, each optionally marked NoRemove (never deleted),
// ForceRemove (deleted with its subtree before it is written, and wholly on
// removal) or Delete (only deleted), with a default value, named values
// ("val Name = s 'text'") and subkeys. %NAME% in names and texts is
// replaced from the table given to the registrar; %% is a literal %.
#include <windows.h>
#include <map>
#include <string>

namespace vembro {

class CRegistrar {
public:
    void AddReplacement(const std::wstring& name, const std::wstring& value) { m_replacements[name] = value; }

    // Writing mode: stops at the first failure, removes what was written
    // before it (as the removing mode does) and returns it unchanged.
    HRESULT Register_nothrow(const std::wstring& script) noexcept;
    // Removing mode: keys that are already missing are not a failure; the
    // first real failure is returned after everything else was tried.
    HRESULT Unregister_nothrow(const std::wstring& script) noexcept;
    // The script stored as a resource of the module, read as system ANSI text.
    static HRESULT LoadScript_nothrow(HMODULE module, UINT id, const wchar_t* type, std::wstring& script) noexcept;

private:
    std::map<std::wstring, std::wstring> m_replacements;
};

// Syntax errors and unknown %NAME%s in a script.
constexpr HRESULT kBadRegistrationScript = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

} // namespace vembro
