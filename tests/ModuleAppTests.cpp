// Start and stop of the COM module by the application object, on the copy
// of the module that this test program links.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "vembro/com/Module.h"
#include "module/ComModule.h"
#include "module/VembroApp.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;

namespace {

class ModuleApp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        m_app.SetInstanceHandle(::GetModuleHandleW(nullptr));
        ASSERT_TRUE(m_app.InitInstance());
    }
    void TearDown() override
    {
        m_app.ExitInstance();
        EXPECT_EQ(0, ModuleLockCount());
        ::CoUninitialize();
    }

    static ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, g_Module.GetClassObject(CLSID_TolviFTManager, IID_PPV_ARGS(&factory)));
        return factory;
    }

    CVembroApp m_app;
};

TEST_F(ModuleApp, InitInstanceGivesTheModuleItsHandle)
{
    EXPECT_EQ(::GetModuleHandleW(nullptr), g_Module.GetModuleInstance());
}

TEST_F(ModuleApp, FactoryIsCachedUntilExitInstance)
{
    ComPtr<IClassFactory> first = Factory();
    EXPECT_EQ(first.Get(), Factory().Get());
    EXPECT_EQ(1, ModuleLockCount());

    // Stopping drops the module's own reference: the client's reference no
    // longer counts, and the next request makes a new factory.
    m_app.ExitInstance();
    EXPECT_EQ(0, ModuleLockCount());
    ASSERT_TRUE(m_app.InitInstance());
    ComPtr<IClassFactory> second = Factory();
    EXPECT_NE(first.Get(), second.Get());

    // The old factory still works for the client that holds it.
    ComPtr<ITolviFTManager> manager;
    EXPECT_EQ(S_OK, first->CreateInstance(nullptr, IID_PPV_ARGS(&manager)));
    EXPECT_EQ(2, ModuleLockCount()); // the manager and the new factory's client
}

TEST_F(ModuleApp, CanUnloadNowFollowsTheLockCount)
{
    EXPECT_EQ(S_OK, g_Module.CanUnloadNow());
    ModuleLock();
    EXPECT_EQ(S_FALSE, g_Module.CanUnloadNow());
    ModuleUnlock();
    EXPECT_EQ(S_OK, g_Module.CanUnloadNow());
}

} // namespace
