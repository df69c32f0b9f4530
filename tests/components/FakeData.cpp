#include "components/FakeData.h"

#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"

namespace fakes {

HRESULT ReadFileBytes_nothrow(const wchar_t* path, std::string& data) noexcept
try {
    data.clear();
    vembro::unique_file file(::CreateFileW(path ? path : L"", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        data.append(buffer, read);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

HRESULT WriteFileBytes_nothrow(const wchar_t* path, const std::string& data) noexcept
{
    vembro::unique_file file(::CreateFileW(path ? path : L"", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
    DWORD written = 0;
    if (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
        return vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
    return written == data.size() ? S_OK : E_FAIL;
}

HRESULT ReadStreamRest_nothrow(IStream* stream, std::string& data) noexcept
try {
    data.clear();
    if (!stream)
        return E_POINTER;
    char buffer[4096];
    for (;;) {
        ULONG read = 0;
        HRESULT hr = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(hr))
            return hr;
        data.append(buffer, read);
        if (read == 0 || hr == S_FALSE)
            return S_OK;
    }
}
VEMBRO_CATCH_RETURN()

HRESULT WriteStream_nothrow(IStream* stream, const std::string& data) noexcept
{
    if (!stream)
        return E_POINTER;
    ULONG written = 0;
    HRESULT hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
    if (FAILED(hr))
        return hr;
    return written == data.size() ? S_OK : STG_E_MEDIUMFULL;
}

} // namespace fakes
