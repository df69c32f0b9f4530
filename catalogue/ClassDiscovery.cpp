// How component classes are found: the converter catalogue in the registry
// (names resolved as ProgIDs, braced CLSIDs or through CurVer) and the
// component categories for translators.
#include <windows.h>
#include <comcat.h>

#include <vector>

#include "catalogue/Converters.h"
#include "vembro/Catalogue.h"
#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "vembro/com/Strings.h"

namespace vembro {

const char kConvertersKeyPath[] = VEMBRO_CONVERTER_CATALOGUE;

namespace {

// Catalogue names are fetched into a buffer of this many characters; a
// longer name is unreadable and its entry is skipped.
constexpr DWORD kNameBufferChars = 261;

bool IsTerminatedString(DWORD type, const std::vector<char>& data, DWORD size) noexcept
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return size >= 1 && data[size - 1] == '\0';
    case REG_MULTI_SZ:
        return size >= 2 && data[size - 1] == '\0' && data[size - 2] == '\0';
    default:
        return false;
    }
}

} // namespace

std::string ReadRegString(HKEY key, const char* valueName, const char* defaultText)
{
    std::string fallback = defaultText ? defaultText : "";
    DWORD size = 0;
    if (::RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return fallback;
    // One spare byte so that the buffer is terminated whatever was stored.
    std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
    DWORD type = REG_NONE;
    if (::RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size)
            != ERROR_SUCCESS
        || size > data.size() - 1 || !IsTerminatedString(type, data, size))
        return fallback;
    return std::string(data.data());
}

HRESULT ClsidFromName(const char* name, CLSID& clsid) noexcept
try {
    if (!name)
        return E_POINTER;
    std::wstring wide = WideFromAnsi(name);
    if (name[0] == '{')
        return ::CLSIDFromString(wide.c_str(), &clsid);
    HRESULT hr = ::CLSIDFromProgID(wide.c_str(), &clsid);
    if (SUCCEEDED(hr))
        return hr;

    // A version-independent ProgID that is not registered by itself may
    // still name its current version.
    unique_hkey curVer;
    std::string path = std::string(name) + "\\CurVer";
    LONG error = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, curVer.put());
    if (error != ERROR_SUCCESS)
        return HResultFromWin32(error);
    std::string current = ReadRegString(curVer.get(), nullptr, "");
    if (current.empty())
        return E_FAIL;
    return ::CLSIDFromProgID(WideFromAnsi(current.c_str()).c_str(), &clsid);
}
VEMBRO_CATCH_RETURN()

bool CheckConverterKey(const char* keyPath, const char* name, CLSID& clsid) noexcept
try {
    if (FAILED(ClsidFromName(name, clsid)))
        return false;
    std::string path = std::string(keyPath ? keyPath : "") + "\\" + name;
    unique_hkey entry;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, entry.put()) == ERROR_SUCCESS;
} catch (...) {
    return false;
}

HRESULT EnumConverterClsids(std::vector<CLSID>& clsids) noexcept
try {
    unique_hkey catalogue;
    LONG error = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConvertersKeyPath, 0, KEY_READ, catalogue.put());
    if (error != ERROR_SUCCESS)
        return HResultFromWin32(error);

    for (DWORD index = 0;; ++index) {
        char name[kNameBufferChars] = {};
        error = ::RegEnumKeyA(catalogue.get(), index, name, kNameBufferChars);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        if (error != ERROR_SUCCESS)
            name[0] = '\0'; // unreadable: an empty name, which never resolves
        CLSID clsid = GUID{};
        if (CheckConverterKey(kConvertersKeyPath, name, clsid))
            clsids.push_back(clsid);
    }
    return S_OK;
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

HRESULT EnumCategoryClasses(Microsoft::WRL::ComPtr<ICatInformation>& manager, std::vector<CLSID>& clsids,
                            const CATID* implemented, ULONG implementedCount, ULONG requiredCount) noexcept
try {
    clsids.clear();
    if (!manager) {
        HRESULT hr = ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_ICatInformation, reinterpret_cast<void**>(manager.ReleaseAndGetAddressOf()));
        if (FAILED(hr))
            return hr;
        if (!manager)
            return E_UNEXPECTED;
    }
    Microsoft::WRL::ComPtr<IEnumCLSID> classes;
    HRESULT hr = manager->EnumClassesOfCategories(implementedCount, const_cast<CATID*>(implemented), requiredCount,
                                                  nullptr, classes.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (!classes)
        return E_UNEXPECTED;
    for (;;) {
        CLSID clsid = GUID{};
        ULONG fetched = 0;
        if (classes->Next(1, &clsid, &fetched) != S_OK)
            break;
        clsids.push_back(clsid);
    }
    return clsids.empty() ? S_FALSE : S_OK;
}
VEMBRO_CATCH_RETURN_OR(E_UNEXPECTED)

} // namespace vembro
