#include "vembro/com/Strings.h"

#include <vector>

namespace vembro {

std::string NarrowFromWide(UINT codePage, const wchar_t* text, int length)
{
    if (!text || length == 0)
        return std::string();
    int size = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text, length, result.data(), size, nullptr, nullptr);
    if (length < 0 && !result.empty() && result.back() == '\0')
        result.pop_back();
    return result;
}

std::wstring WideFromNarrow(UINT codePage, const char* text, int length)
{
    if (!text || length == 0)
        return std::wstring();
    int size = ::MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring result(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, text, length, result.data(), size);
    if (length < 0 && !result.empty() && result.back() == L'\0')
        result.pop_back();
    return result;
}

BSTR BstrFromAnsi_nothrow(const std::string& text) noexcept
{
    try {
        std::wstring wide = WideFromAnsi(text.c_str(), static_cast<int>(text.size()));
        return ::SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
    } catch (...) {
        return nullptr;
    }
}

unique_bstr BstrFromAnsi(const std::string& text)
{
    unique_bstr result(BstrFromAnsi_nothrow(text));
    if (!result)
        ThrowHr(E_OUTOFMEMORY);
    return result;
}

std::wstring GuidString(const GUID& guid)
{
    wchar_t text[40] = {};
    if (!::StringFromGUID2(guid, text, 40))
        ThrowHr(E_UNEXPECTED);
    return text;
}

std::wstring ModulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            ThrowHr(HResultFromWin32(static_cast<LONG>(::GetLastError())));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace vembro
