#pragma once
// Shared ground of the registry and planning tests that run against the fake
// components: COM for the test thread, one installation per test, and the
// checks that every such test ends with (no fake left alive, no module lock).
// Each test case runs in a process of its own, so the registries load from
// exactly the installation that the case declares.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <thread>
#include <vector>

#include "CatalogueDoubles.h"
#include "vembro/com/Module.h"
#include "vembro/com/Resource.h"
#include "support/Fakes.h"

namespace catalogue_test {

using Lines = std::vector<std::string>;

class RegistryTest : public ::testing::Test {
protected:
    explicit RegistryTest(DWORD apartment = COINIT_MULTITHREADED) : m_apartment(apartment) {}
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, m_apartment)); }
    void TearDown() override
    {
        EXPECT_EQ(0, inst.LiveObjects());
        EXPECT_EQ(0, vembro::ModuleLockCount());
        ::CoUninitialize();
    }

    // A detection on `registry` with the output poisoned first, so that a
    // result left over is caught.
    template <class Registry>
    HRESULT Detect(Registry& registry, const VARIANT& data, tagFILEDATATYPE type)
    {
        found = List({77});
        return registry.GetAvailableFormats(data, type, found);
    }

    fakes::Installation inst;
    vembro::CFormatIDs found;

private:
    DWORD m_apartment;
};

// A fake whose every probe answers `answer`.
inline fakes::Behaviour Detects(HRESULT answer)
{
    fakes::Behaviour b;
    b.detect = answer;
    return b;
}

// A VARIANT holding a string, for the detection calls.
class StringArg : public vembro::unique_variant {
public:
    explicit StringArg(const wchar_t* text)
    {
        V_VT(this) = VT_BSTR;
        V_BSTR(this) = text ? vembro::MakeBstr(text).release() : nullptr;
    }
};

// A VARIANT holding an object.
class ObjectArg : public vembro::unique_variant {
public:
    explicit ObjectArg(IUnknown* object)
    {
        V_VT(this) = VT_UNKNOWN;
        V_UNKNOWN(this) = object;
        if (object)
            object->AddRef();
    }
};

} // namespace catalogue_test

namespace catalogue_test {

// Runs f on `count` threads at once, each in the multithreaded apartment.
template <class F>
void OnThreadsAtOnce(int count, F f)
{
    HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ::WaitForSingleObject(start, INFINITE);
            f();
            ::CoUninitialize();
        });
    ::SetEvent(start);
    for (auto& t : threads)
        t.join();
    ::CloseHandle(start);
}

} // namespace catalogue_test
