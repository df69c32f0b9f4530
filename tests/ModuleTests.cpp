// The module through its own exports: the unload rule, the class factory
// and what the factory makes.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <atomic>
#include <thread>

#include "ModuleDll.h"
#include "support/Fakes.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using moduletest::VembroDll;

namespace {

template <class T>
T* Poison() { return reinterpret_cast<T*>(static_cast<uintptr_t>(0xBAADF00D)); }

class Module : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_TRUE(m_dll.Loaded());
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
        if (m_registered)
            m_dll.Unregister();
        ::CoUninitialize();
    }

    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, m_dll.GetClassObject(CLSID_TolviFTManager, IID_PPV_ARGS(&factory)));
        return factory;
    }

    ComPtr<ITolviFTManager> CreateRegistered()
    {
        if (!m_registered) {
            EXPECT_EQ(S_OK, m_dll.Register());
            m_registered = true;
        }
        ComPtr<ITolviFTManager> manager;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_TolviFTManager, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&manager)));
        return manager;
    }

    VembroDll m_dll;
    bool m_registered = false;
};

TEST_F(Module, NothingAliveMayUnload)
{
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(Module, LiveManagerKeepsTheModule)
{
    ComPtr<ITolviFTManager> manager = CreateRegistered();
    ASSERT_TRUE(manager);
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    manager.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(Module, CollectionAndFormatObjectKeepTheModule)
{
    fakes::Installation inst;
    inst.Converter("A2B", {1, "Alpha", "a", "a"}, {2, "Beta", "b", "b"}).Install();
    ComPtr<ITolviFTManager> manager = CreateRegistered();
    ASSERT_TRUE(manager);
    ComPtr<ITolviFileFormats> formats;
    ASSERT_EQ(S_OK, manager->get_ConvertSourceFormats(&formats));
    manager.Reset();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());

    ComPtr<ITolviFileFormat> format;
    ASSERT_EQ(S_OK, formats->get_FileFormat(0, &format));
    formats.Reset();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    format.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(Module, LockServerHoldsUntilMatched)
{
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(Module, ClientReferencesToTheFactoryCountAsOneLock)
{
    ComPtr<IClassFactory> first = Factory();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    ComPtr<IClassFactory> second = Factory();
    EXPECT_EQ(first.Get(), second.Get());
    ComPtr<IUnknown> third;
    ASSERT_EQ(S_OK, first.As(&third));
    first.Reset();
    second.Reset();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    third.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    // The factory is cached, not gone: the next request gets it again.
    ComPtr<IClassFactory> again = Factory();
    EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
}

TEST_F(Module, RacingThreadsGetOneFactory)
{
    std::atomic<int> ready{0};
    IUnknown* got[2] = {};
    HRESULT hr[2] = {E_FAIL, E_FAIL};
    auto worker = [&](int i) {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        hr[i] = m_dll.GetClassObject(CLSID_TolviFTManager, IID_IUnknown, reinterpret_cast<void**>(&got[i]));
        ::CoUninitialize();
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(S_OK, hr[0]);
    EXPECT_EQ(S_OK, hr[1]);
    EXPECT_NE(nullptr, got[0]);
    EXPECT_EQ(got[0], got[1]);
    for (IUnknown* p : got)
        if (p)
            p->Release();
}

TEST_F(Module, OtherClassesAreNotAvailable)
{
    void* p = Poison<void>();
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_dll.GetClassObject(IID_ITolviFTManager, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(Module, GetClassObjectChecksItsArguments)
{
    EXPECT_EQ(E_POINTER, m_dll.GetClassObject(CLSID_TolviFTManager, IID_IClassFactory, nullptr));
    void* p = Poison<void>();
    EXPECT_EQ(E_NOINTERFACE, m_dll.GetClassObject(CLSID_TolviFTManager, IID_IClassFactory2, &p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(Module, AggregationIsRefusedEvenForIUnknown)
{
    ComPtr<IClassFactory> factory = Factory();
    void* p = Poison<void>();
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    factory.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(Module, CreateInstanceChecksItsArguments)
{
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    void* p = Poison<void>();
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_ITolviFileFormats, &p));
    EXPECT_EQ(nullptr, p);
    factory.Reset();
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow()); // the refused object is gone
}

TEST_F(Module, FactoryMakesANewManagerEachTime)
{
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&first)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&second)));
    EXPECT_NE(first.Get(), second.Get());
    ComPtr<ITolviFTManager> manager;
    EXPECT_EQ(S_OK, first.As(&manager));
    ComPtr<IClassFactory> notAFactory;
    EXPECT_EQ(E_NOINTERFACE, first.As(&notAFactory));
}

TEST_F(Module, ManagerHasNoConnectionPoints)
{
    ComPtr<ITolviFTManager> manager = CreateRegistered();
    ASSERT_TRUE(manager);
    IConnectionPointContainer* container = Poison<IConnectionPointContainer>();
    EXPECT_EQ(E_NOINTERFACE,
              manager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    EXPECT_EQ(nullptr, container);
}

TEST_F(Module, FactoryAnswersOnlyItsInterfaces)
{
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, factory.As(&unknown));
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(E_NOINTERFACE, factory.As(&dispatch));
}

} // namespace
