#pragma once
// What COM tests check again and again: an object's reference count, a poisoned output that a failing call must
// clear, registry contents, threads racing, and a test body that runs in an apartment and must end with every module lock given back.
#include <gtest/gtest.h>
#include <windows.h>
#include <wrl/client.h>
#include <string>
#include <thread>
#include <vector>

#include "vembro/com/Module.h"
#include "vembro/com/Resource.h"

namespace comtest {

// A value no call hands out, for outputs that must be overwritten.
inline void* const kPoison = reinterpret_cast<void*>(static_cast<UINT_PTR>(0xBAADF00D));
template <class T> T* Poisoned() { return static_cast<T*>(kPoison); }

inline ULONG RefCount(IUnknown* p) { return p->AddRef(), p->Release(); }

// A value (null name: the default one) as text: "#16" for a number,
// "expand:%TEMP%" for a string kept unexpanded, "-" when it is missing.
inline std::wstring RegValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t data[512] = {};
    DWORD type = 0, size = sizeof data - sizeof *data;
    if (::RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size))
        return L"-";
    return type == REG_DWORD ? L"#" + std::to_wstring(data[0] | data[1] << 16) // little-endian
                             : (type == REG_EXPAND_SZ ? L"expand:" : L"") + std::wstring(data);
}
using Names = std::vector<std::wstring>;
inline const Names kMissing{L"<missing>"};
// The names of a key's subkeys, or kMissing when there is no such key.
inline Names Subkeys(HKEY root, const std::wstring& path)
{
    vembro::unique_hkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()))
        return kMissing;
    Names names;
    wchar_t name[256];
    for (DWORD i = 0; ::RegEnumKeyW(key.get(), i, name, 256) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    return names;
}
// Runs body(0) to body(n - 1) on threads of their own, all released at once, each in the multithreaded apartment.
template <class Body> void RunTogether(int n, Body body)
{
    vembro::unique_handle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ::WaitForSingleObject(go.get(), INFINITE);
            body(i);
            ::CoUninitialize();
        });
    ::SetEvent(go.get());
    for (auto& t : threads)
        t.join();
}
// The base of every test that touches COM objects: the test thread joins an apartment, and whatever the test created
// must have let go of the module by the time its own clean-up ran (a derived TearDown runs first).
class ComTest : public ::testing::Test {
protected:
    explicit ComTest(DWORD apartment = COINIT_MULTITHREADED) : m_apartment(apartment) {}
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, m_apartment)); }
    void TearDown() override
    {
        EXPECT_EQ(0, vembro::ModuleLockCount());
        ::CoUninitialize();
    }

private:
    DWORD m_apartment;
};

} // namespace comtest
