// The object wrappers and the QueryInterface table: who holds the module,
// when an object dies, and that a failed creation leaves nothing behind.
#include <windows.h>
#include <oleidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "vembro/com/Error.h"
#include "vembro/com/Module.h"
#include "vembro/com/Object.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;
using comtest::kPoison;

namespace {


struct Lifecycle {
    int constructed = 0;
    int finalConstructs = 0;
    int finalReleases = 0;
    int destroyed = 0;
    HRESULT finalConstructResult = S_OK;
};
Lifecycle g_life;

// Two faces at different offsets, so that the table's pointer adjustment
// shows.
class Probe : public vembro::CComObjectRootEx, public IPersist, public IOleWindow {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(Probe, IPersist),
            VEMBRO_QI(Probe, IOleWindow),
            VEMBRO_QI_END,
        };
        return table;
    }

    Probe() noexcept { ++g_life.constructed; }
    ~Probe() override { ++g_life.destroyed; }
    HRESULT FinalConstruct() noexcept
    {
        ++g_life.finalConstructs;
        return g_life.finalConstructResult;
    }
    void FinalRelease() noexcept { ++g_life.finalReleases; }

    // The faces only need to exist; their methods are never the subject.
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
};

using LockedProbe = vembro::CComObject<Probe>;
using UnlockedProbe = vembro::CComObjectNoLock<Probe>;

class ComSupport : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_life = Lifecycle{};
        ASSERT_EQ(0, vembro::ModuleLockCount());
    }
    void TearDown() override
    {
        EXPECT_EQ(g_life.constructed, g_life.destroyed);
        EXPECT_EQ(0, vembro::ModuleLockCount());
    }
};

// --- QueryInterfaceFromTable -------------------------------------------

TEST_F(ComSupport, TableLookupNeedsAnOutPointer)
{
    UnlockedProbe* probe = nullptr;
    ASSERT_EQ(S_OK, UnlockedProbe::CreateInstance(&probe));
    probe->AddRef();
    EXPECT_EQ(E_POINTER, vembro::QueryInterfaceFromTable(static_cast<Probe*>(probe), Probe::QITable(),
                                                         IID_IPersist, nullptr));
    EXPECT_EQ(1u, RefCount(static_cast<IPersist*>(probe)));
    probe->Release();
}

TEST_F(ComSupport, MissingOrEmptyTableAnswersNothing)
{
    UnlockedProbe* probe = nullptr;
    ASSERT_EQ(S_OK, UnlockedProbe::CreateInstance(&probe));
    probe->AddRef();
    const vembro::QIEntry empty[] = { VEMBRO_QI_END };
    for (const vembro::QIEntry* table : { static_cast<const vembro::QIEntry*>(nullptr), empty }) {
        void* pv = kPoison;
        EXPECT_EQ(E_NOINTERFACE, vembro::QueryInterfaceFromTable(probe, table, IID_IUnknown, &pv));
        EXPECT_EQ(nullptr, pv);
    }
    EXPECT_EQ(1u, RefCount(static_cast<IPersist*>(probe)));
    probe->Release();
}

TEST_F(ComSupport, TableHandsOutAdjustedFacesWithOneReferenceEach)
{
    UnlockedProbe* probe = nullptr;
    ASSERT_EQ(S_OK, UnlockedProbe::CreateInstance(&probe));
    ComPtr<IPersist> persist(static_cast<IPersist*>(probe)); // the first reference
    EXPECT_EQ(1u, RefCount(persist.Get()));

    ComPtr<IOleWindow> window;
    ASSERT_EQ(S_OK, persist.As(&window));
    EXPECT_EQ(static_cast<IOleWindow*>(probe), window.Get());
    EXPECT_NE(static_cast<void*>(persist.Get()), static_cast<void*>(window.Get()));
    EXPECT_EQ(2u, RefCount(persist.Get()));

    // IUnknown is the first entry's face, asked from either face.
    ComPtr<IUnknown> fromPersist;
    ComPtr<IUnknown> fromWindow;
    ASSERT_EQ(S_OK, persist.As(&fromPersist));
    ASSERT_EQ(S_OK, window.As(&fromWindow));
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<IPersist*>(probe)), fromPersist.Get());
    EXPECT_EQ(fromPersist.Get(), fromWindow.Get());
    EXPECT_EQ(4u, RefCount(persist.Get()));

    void* pv = kPoison;
    EXPECT_EQ(E_NOINTERFACE, window->QueryInterface(IID_IDispatch, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(4u, RefCount(persist.Get()));

    fromPersist.Reset();
    fromWindow.Reset();
    window.Reset();
    EXPECT_EQ(0, g_life.destroyed);
    persist.Reset();
    EXPECT_EQ(1, g_life.destroyed);
}

// --- Wrappers and the module lock ---------------------------------------

TEST_F(ComSupport, LockedObjectHoldsTheModuleFromBirthToDeath)
{
    LockedProbe* probe = nullptr;
    ASSERT_EQ(S_OK, LockedProbe::CreateInstance(&probe));
    ASSERT_NE(nullptr, probe);
    EXPECT_EQ(1, vembro::ModuleLockCount());
    EXPECT_EQ(1, g_life.finalConstructs);
    // Created with no reference: the first AddRef takes it.
    EXPECT_EQ(1u, probe->AddRef());
    EXPECT_EQ(2u, probe->AddRef());
    EXPECT_EQ(1u, probe->Release());
    EXPECT_EQ(1, vembro::ModuleLockCount());
    EXPECT_EQ(0u, probe->Release());
    EXPECT_EQ(1, g_life.destroyed);
    EXPECT_EQ(1, g_life.finalReleases);
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

TEST_F(ComSupport, UnlockedObjectNeverTakesTheModule)
{
    UnlockedProbe* probe = nullptr;
    ASSERT_EQ(S_OK, UnlockedProbe::CreateInstance(&probe));
    probe->AddRef();
    EXPECT_EQ(0, vembro::ModuleLockCount());
    EXPECT_EQ(0u, probe->Release());
    EXPECT_EQ(1, g_life.destroyed);
    EXPECT_EQ(1, g_life.finalReleases);
}

TEST_F(ComSupport, EachLiveObjectCountsOnce)
{
    LockedProbe* first = nullptr;
    LockedProbe* second = nullptr;
    UnlockedProbe* inner = nullptr;
    ASSERT_EQ(S_OK, LockedProbe::CreateInstance(&first));
    ASSERT_EQ(S_OK, LockedProbe::CreateInstance(&second));
    ASSERT_EQ(S_OK, UnlockedProbe::CreateInstance(&inner));
    first->AddRef();
    second->AddRef();
    inner->AddRef();
    EXPECT_EQ(2, vembro::ModuleLockCount());
    first->Release();
    EXPECT_EQ(1, vembro::ModuleLockCount());
    inner->Release();
    EXPECT_EQ(1, vembro::ModuleLockCount());
    second->Release();
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

TEST_F(ComSupport, CreateInstanceNeedsAnOutPointer)
{
    EXPECT_EQ(E_POINTER, LockedProbe::CreateInstance(nullptr));
    EXPECT_EQ(0, g_life.constructed);
}

TEST_F(ComSupport, FailedFinalConstructDestroysTheObjectAndGivesTheLockBack)
{
    g_life.finalConstructResult = E_ACCESSDENIED;
    LockedProbe* probe = reinterpret_cast<LockedProbe*>(kPoison);
    EXPECT_EQ(E_ACCESSDENIED, LockedProbe::CreateInstance(&probe));
    EXPECT_EQ(nullptr, probe);
    EXPECT_EQ(1, g_life.constructed);
    EXPECT_EQ(1, g_life.destroyed);
    EXPECT_EQ(1, g_life.finalReleases);
}

// --- CreateAndQuery_nothrow ---------------------------------------------

TEST_F(ComSupport, CreateAndQueryHandsOutOneReference)
{
    int initCalls = 0;
    ComPtr<IOleWindow> window;
    ASSERT_EQ(S_OK, (vembro::CreateAndQuery_nothrow<LockedProbe>(
                        IID_IOleWindow, reinterpret_cast<void**>(window.GetAddressOf()), [&](Probe& p) {
                            ++initCalls;
                            // The object is kept alive across the initialiser.
                            EXPECT_EQ(1u, RefCount(static_cast<IPersist*>(&p)));
                            return S_OK;
                        })));
    EXPECT_EQ(1, initCalls);
    EXPECT_EQ(1u, RefCount(window.Get()));
    EXPECT_EQ(1, vembro::ModuleLockCount());
    window.Reset();
    EXPECT_EQ(1, g_life.destroyed);
}

TEST_F(ComSupport, CreateAndQueryNeedsAnOutPointer)
{
    EXPECT_EQ(E_POINTER, (vembro::CreateAndQuery_nothrow<LockedProbe>(IID_IPersist, nullptr,
                                                                      [](Probe&) { return S_OK; })));
    EXPECT_EQ(0, g_life.constructed);
}

TEST_F(ComSupport, CreateAndQueryFailureDestroysTheObject)
{
    struct Case {
        const char* what;
        HRESULT expected;
        IID iid;
        HRESULT (*init)(Probe&);
    };
    const Case cases[] = {
        { "initialiser fails", E_INVALIDARG, IID_IPersist, [](Probe&) -> HRESULT { return E_INVALIDARG; } },
        { "initialiser throws a code", E_ABORT, IID_IPersist, [](Probe&) -> HRESULT { vembro::ThrowHr(E_ABORT); } },
        { "initialiser runs out of memory", E_OUTOFMEMORY, IID_IPersist,
          [](Probe&) -> HRESULT { throw std::bad_alloc(); } },
        { "initialiser throws anything else", E_FAIL, IID_IPersist,
          [](Probe&) -> HRESULT { throw std::runtime_error("boom"); } },
        { "interface not offered", E_NOINTERFACE, IID_IDispatch, [](Probe&) -> HRESULT { return S_OK; } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_life = Lifecycle{};
        void* pv = kPoison;
        EXPECT_EQ(c.expected, vembro::CreateAndQuery_nothrow<LockedProbe>(c.iid, &pv, c.init));
        EXPECT_EQ(nullptr, pv);
        EXPECT_EQ(1, g_life.constructed);
        EXPECT_EQ(1, g_life.destroyed);
        EXPECT_EQ(0, vembro::ModuleLockCount());
    }
}

TEST_F(ComSupport, CreateAndQuerySkipsTheInitialiserWhenConstructionFails)
{
    g_life.finalConstructResult = E_OUTOFMEMORY;
    bool initCalled = false;
    void* pv = kPoison;
    EXPECT_EQ(E_OUTOFMEMORY, (vembro::CreateAndQuery_nothrow<LockedProbe>(IID_IPersist, &pv, [&](Probe&) {
                  initCalled = true;
                  return S_OK;
              })));
    EXPECT_FALSE(initCalled);
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(1, g_life.destroyed);
}

} // namespace
