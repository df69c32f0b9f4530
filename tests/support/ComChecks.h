#pragma once
// What COM tests check again and again: an object's reference count, a
// poisoned output that a failing call must clear, and a test body that runs
// in an apartment and must end with every module lock given back.
#include <gtest/gtest.h>
#include <windows.h>
#include <unknwn.h>

#include "vembro/com/Module.h"

namespace comtest {

// A value no call hands out, for outputs that must be overwritten.
inline void* const kPoison = reinterpret_cast<void*>(static_cast<UINT_PTR>(0xBAADF00D));
template <class T> T* Poisoned() { return static_cast<T*>(kPoison); }

inline ULONG RefCount(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

// The base of every test that touches COM objects: the test thread joins an
// apartment, and whatever the test created must have let go of the module by
// the time its own clean-up ran (a derived TearDown runs first).
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
