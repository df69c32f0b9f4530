// The client connection point: cookies and slots, exact HRESULTs, references of sinks and owner, enumeration, firing
// order and arguments, and sinks that cannot be reached any more.
#include <gtest/gtest.h>
#include <olectl.h>
#include <wrl/client.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ModuleDll.h"
#include "events/ConnectionPoint.h"
#include "vembro/com/Object.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;
using Events = std::vector<std::string>;
using Cookies = std::vector<DWORD>;
using namespace vembro;

namespace {

struct Owner : CComObjectRootEx, IConnectionPointContainer {
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(Owner, IConnectionPointContainer), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) noexcept override { return EnumSingleConnectionPoint_nothrow(&m_cp, pp); }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) noexcept override { return FindSingleConnectionPoint_nothrow(&m_cp, riid, pp); }
    CProxyITolviFileTranslatorEvents m_cp{this};
};

// Records each event as "StateChange(2)", and whether the last came as events are sent (IID_NULL, the user's locale,
// a method, nothing else); answers m_hr or throws, may unadvise itself, and counts the strong connections that the
// marshaller reports to it.
class Sink : public CComObjectRootEx, public ITolviFileTranslatorEvents, public IExternalConnection {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(Sink, ITolviFileTranslatorEvents), VEMBRO_QI_AS(Sink, IID_IDispatch, ITolviFileTranslatorEvents),
                                        VEMBRO_QI(Sink, IExternalConnection), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO* excep, UINT* argErr) override
    {
        std::string text = id == 2 ? "StateChange(" : id == 3 ? "ProgressChange(" : "?(";
        for (UINT i = p->cArgs; i-- > 0;) // the last argument comes first
            text += (V_VT(&p->rgvarg[i]) == VT_I4 ? std::to_string(V_I4(&p->rgvarg[i])) : "?") + (i ? "," : ")");
        m_events.push_back(text);
        m_exact = ::IsEqualIID(riid, IID_NULL) && lcid == LOCALE_USER_DEFAULT && flags == DISPATCH_METHOD && !p->cNamedArgs && !result &&
                  !excep && !argErr;
        if (m_cp)
            m_hrUnadvise = m_cp->Unadvise(m_cookie);
        if (m_throw)
            throw std::runtime_error("sink failure");
        return m_hr;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP StateChange(LONG) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP_(DWORD) AddConnection(DWORD type, DWORD) noexcept override { return m_strong += type & EXTCONN_STRONG; }
    STDMETHODIMP_(DWORD) ReleaseConnection(DWORD type, DWORD, BOOL) noexcept override { return m_strong -= type & EXTCONN_STRONG; }

    Events m_events;
    bool m_exact = false, m_throw = false;
    DWORD m_strong = 0, m_cookie = 0;
    HRESULT m_hr = S_OK, m_hrUnadvise = E_FAIL;
    IConnectionPoint* m_cp = nullptr; // unadvise m_cookie from inside the event
};

struct NewSink : ComPtr<CComObject<Sink>> {
    NewSink()
    {
        EXPECT_EQ(S_OK, CComObject<Sink>::CreateInstance(ReleaseAndGetAddressOf()));
        Get()->AddRef();
    }
    IUnknown* Unk() const { return static_cast<ITolviFileTranslatorEvents*>(Get()); }
};

// A worker firing under the point's lock may wait for a single-threaded apartment whose thread waits for the lock: that
// thread must keep serving calls. Asked for an interface under the lock, this sink has such a thread unadvise m_cookie.
struct Probe final : Sink {
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (IConnectionPoint* target = std::exchange(m_cp, nullptr)) { // once, before the event
            m_sta = std::thread([this, target] {
                ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                m_window = ::CreateWindowW(L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
                m_hrUnadvise = target->Unadvise(m_cookie);
                ::CoUninitialize();
            });
            while (!m_window)
                ::Sleep(1);
            m_gotThrough = ::SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, nullptr) != 0;
        }
        return QueryInterfaceFromTable(this, QITable(), riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; } // on the stack
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }

    std::atomic<HWND> m_window{nullptr};
    bool m_gotThrough = false;
    std::thread m_sta;
};

class ConnectionPointTest : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, m_dll.Register()); // the type library gives the sinks their marshaller
        CComObject<Owner>* owner = nullptr;
        ASSERT_EQ(S_OK, CComObject<Owner>::CreateInstance(&owner));
        m_owner = owner;
        m_cp = &owner->m_cp;
    }
    void TearDown() override
    {
        m_owner.Reset();
        EXPECT_EQ(S_OK, m_dll.Unregister());
        ComTest::TearDown();
    }
    DWORD Advise(const NewSink& sink)
    {
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, m_cp->Advise(sink.Unk(), &cookie));
        return cookie;
    }
    Cookies Live() // the cookies of the live connections, in slot order
    {
        Cookies cookies;
        ComPtr<IEnumConnections> e;
        EXPECT_EQ(S_OK, m_cp->EnumConnections(&e));
        for (CONNECTDATA cd{}; e && e->Next(1, &cd, nullptr) == S_OK; cd.pUnk->Release())
            cookies.push_back(cd.dwCookie);
        return cookies;
    }

    moduletest::VembroDll m_dll;
    ComPtr<Owner> m_owner;
    CProxyITolviFileTranslatorEvents* m_cp = nullptr;
};

TEST_F(ConnectionPointTest, CookiesAreSlotIndicesFreeSlotsAreReusedAndTheSlotsGrow)
{
    NewSink a;
    ComPtr<IStream> notASink; // refused, holding nothing: the first step below finds no slot
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &notASink));
    DWORD cookie = 0xDEAD;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, m_cp->Advise(notASink.Get(), &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1u, RefCount(notASink.Get()));
    // 'a': advise, giving that cookie; 'u': unadvise that cookie.
    const struct { char op; DWORD cookie; HRESULT hr; } calls[] = {
        {'u', 1, CONNECT_E_NOCONNECTION}, {'a', 1, S_OK}, {'u', 0, CONNECT_E_NOCONNECTION},
        {'u', 0xFFFFFFFF, CONNECT_E_NOCONNECTION}, {'u', 2, CONNECT_E_NOCONNECTION}, // one inline slot
        {'u', 1, S_OK}, {'u', 1, CONNECT_E_NOCONNECTION},                           // the single slot went with it
        {'a', 1, S_OK}, {'a', 2, S_OK}, {'a', 3, S_OK}, {'u', 1, S_OK}, {'a', 1, S_OK}, // four, the first free reused
        {'u', 4, S_OK}, {'u', 5, CONNECT_E_NOCONNECTION},                           // a free slot in range
        {'a', 4, S_OK}, {'a', 5, S_OK}, {'u', 8, S_OK}, {'u', 9, CONNECT_E_NOCONNECTION}, // then eight
        {'u', 1, S_OK}, {'u', 2, S_OK}, {'u', 3, S_OK}, {'u', 4, S_OK}, {'u', 5, S_OK}};
    for (size_t step = 0; step < std::size(calls); ++step) {
        DWORD cookie = calls[step].cookie;
        EXPECT_EQ(calls[step].hr, calls[step].op == 'u' ? m_cp->Unadvise(cookie) : m_cp->Advise(a.Unk(), &cookie)) << step;
        EXPECT_EQ(calls[step].cookie, cookie) << step;
    }
    EXPECT_EQ(1u, RefCount(a.Unk()));
}

// Enumerating and firing take every sink out of its stream and put it back; its hold and its strong connection must
// not lapse in between, or the marshaller tears the sink's stub down and rebuilds it on every single event.
TEST_F(ConnectionPointTest, ConnectionsHoldTheirSinksUntilUnadviseOrTheOwnersEnd)
{
    NewSink a, b;
    EXPECT_EQ(1u, Advise(a));
    const DWORD strong = a->m_strong;
    const ULONG advised = RefCount(a.Unk());
    EXPECT_GT(advised, 1u);
    EXPECT_GT(strong, 0u);
    EXPECT_EQ(1u, RefCount(m_owner.Get())); // a connection does not hold the owner
    Live();
    for (long i = 1; i <= 3; ++i)
        m_cp->Fire_ProgressChange(i, 3);
    EXPECT_EQ(strong, a->m_strong);
    EXPECT_EQ(advised, RefCount(a.Unk()));
    EXPECT_EQ(2u, Advise(a)); // each stream holds the sink until its own Unadvise
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    EXPECT_EQ(advised, RefCount(a.Unk()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(0u, a->m_strong);
    EXPECT_EQ(1u, RefCount(a.Unk()));
    Advise(a), Advise(b), Advise(a);
    m_owner.Reset(); // destroying the owner releases every sink
    EXPECT_EQ(1u, RefCount(a.Unk()));
    EXPECT_EQ(1u, RefCount(b.Unk()));
}

TEST_F(ConnectionPointTest, IdentityIsItsOwnReferencesAreTheOwnersAndEnumeratorsHoldWhatTheyGive)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> found;
    EXPECT_EQ(S_OK, m_cp->GetConnectionPointContainer(&container));
    EXPECT_EQ(static_cast<IConnectionPointContainer*>(m_owner.Get()), container.Get());
    EXPECT_EQ(S_OK, m_owner->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &found));
    EXPECT_EQ(static_cast<IConnectionPoint*>(m_cp), found.Get());
    EXPECT_EQ(3u, RefCount(m_owner.Get())); // ours and one for each of the two above
    NewSink a, b, c;
    Advise(a), Advise(b), Advise(c);
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    ComPtr<IEnumConnections> e;
    ASSERT_EQ(S_OK, m_cp->EnumConnections(&e));
    EXPECT_EQ(5, ModuleLockCount()); // the owner, three sinks and the enumerator
    const ULONG held = RefCount(a.Unk());
    CONNECTDATA cd[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(3, cd, &fetched));
    EXPECT_EQ(2u, fetched); // the live sinks in slot order
    EXPECT_EQ((std::vector<void*>{a.Unk(), c.Unk()}), (std::vector<void*>{cd[0].pUnk, cd[1].pUnk}));
    EXPECT_EQ((Cookies{1, 3}), (Cookies{cd[0].dwCookie, cd[1].dwCookie}));
    EXPECT_EQ(held + 1, RefCount(a.Unk()));
    cd[0].pUnk->Release(), cd[1].pUnk->Release();
    e.Reset();
    EXPECT_EQ(4, ModuleLockCount());
    EXPECT_EQ(held - 1, RefCount(a.Unk())); // the enumerator's own hold went with it
}

TEST_F(ConnectionPointTest, EveryLiveSinkHearsEveryEventInOrderWhateverTheOthersDo)
{
    NewSink failing, throwing, gone, leaving, last;
    failing->m_hr = E_FAIL;
    throwing->m_throw = true;
    Advise(failing), Advise(throwing), Advise(gone);
    ::CoDisconnectObject(gone.Unk(), 0); // cannot be reached any more: dropped, hiding none after it
    leaving->m_cookie = Advise(leaving);
    Advise(last);
    m_cp->Fire_StateChange(2);
    leaving->m_cp = m_cp; // unadvises itself from inside its next event: no lock is held
    m_cp->Fire_ProgressChange(5, 10);
    m_cp->Fire_StateChange(6);
    const Events all = {"StateChange(2)", "ProgressChange(5,10)", "StateChange(6)"};
    EXPECT_EQ(all, failing->m_events);
    EXPECT_EQ(all, throwing->m_events);
    EXPECT_EQ(all, last->m_events);
    EXPECT_EQ((Events{"StateChange(2)", "ProgressChange(5,10)"}), leaving->m_events);
    EXPECT_TRUE(gone->m_events.empty());
    EXPECT_EQ(S_OK, leaving->m_hrUnadvise);
    EXPECT_TRUE(last->m_exact);
    EXPECT_EQ((Cookies{1, 2, 5}), Live());
    for (DWORD cookie : {1, 2, 3, 5})
        EXPECT_EQ(S_OK, m_cp->Unadvise(cookie)) << cookie; // a dropped sink's slot is free, and in range
    for (IUnknown* sink : {throwing.Unk(), gone.Unk(), leaving.Unk()}) // nothing stayed referenced
        EXPECT_EQ(1u, RefCount(sink));
}

TEST_F(ConnectionPointTest, AnApartmentWaitingForThePointServesCalls)
{
    NewSink victim;
    Probe probe;
    probe.m_cookie = Advise(victim);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, m_cp->Advise(static_cast<ITolviFileTranslatorEvents*>(&probe), &cookie));
    probe.m_cp = m_cp;
    m_cp->Fire_StateChange(2);
    probe.m_sta.join();
    EXPECT_TRUE(probe.m_gotThrough);
    EXPECT_EQ(S_OK, probe.m_hrUnadvise);
    EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
}

} // namespace
