// The client connection point: cookies and slots, exact HRESULTs, references
// of sinks and owner, enumeration, firing order and arguments, and sinks in
// other apartments, live and gone.
#include <gtest/gtest.h>
#include <olectl.h>
#include <wrl/client.h>

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

// Records each event as "StateChange(2)" and whether it came as events are
// sent (IID_NULL, the user's locale, a method, nothing else); answers m_hr or
// throws, may unadvise itself, and counts the strong connections that the
// marshaller reports to it.
class Sink : public CComObjectRootEx, public ITolviFileTranslatorEvents, public IExternalConnection {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(Sink, ITolviFileTranslatorEvents),
                                        VEMBRO_QI_AS(Sink, IID_IDispatch, ITolviFileTranslatorEvents),
                                        VEMBRO_QI(Sink, IExternalConnection), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO* excep,
                        UINT* argErr) override
    {
        std::string text = id == 2 ? "StateChange(" : id == 3 ? "ProgressChange(" : std::to_string(id) + "(";
        for (UINT i = p->cArgs; i-- > 0;) // the last argument comes first
            text += (V_VT(&p->rgvarg[i]) == VT_I4 ? std::to_string(V_I4(&p->rgvarg[i])) : "?") + (i ? "," : ")");
        auto lock = m_cs.Lock();
        m_events.push_back(text);
        m_exact = ::IsEqualIID(riid, IID_NULL) && lcid == LOCALE_USER_DEFAULT && flags == DISPATCH_METHOD &&
                  !p->cNamedArgs && !result && !excep && !argErr;
        m_thread = ::GetCurrentThreadId();
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
    Events Heard()
    {
        auto lock = m_cs.Lock();
        return m_events;
    }

    Events m_events;
    bool m_exact = false, m_throw = false;
    DWORD m_thread = 0, m_strong = 0, m_cookie = 0;
    HRESULT m_hr = S_OK, m_hrUnadvise = E_FAIL;
    IConnectionPoint* m_cp = nullptr; // unadvise m_cookie from inside the event
};

struct NewSink : ComPtr<CComObject<Sink>> {
    NewSink()
    {
        CComObject<Sink>* p = nullptr;
        EXPECT_EQ(S_OK, CComObject<Sink>::CreateInstance(&p));
        static_cast<ComPtr<CComObject<Sink>>&>(*this) = p;
    }
    IUnknown* Unk() const { return static_cast<ITolviFileTranslatorEvents*>(Get()); }
};

// The type library registered as the module registers it gives the sinks
// their marshaller.
class ConnectionPointTest : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, m_dll.Register());
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
    // The cookies of the live connections, each checked against its sink when given.
    std::vector<DWORD> Cookies(const std::vector<IUnknown*>& sinks = {})
    {
        std::vector<DWORD> cookies;
        ComPtr<IEnumConnections> e;
        EXPECT_EQ(S_OK, m_cp->EnumConnections(&e));
        for (CONNECTDATA cd{}; e && e->Next(1, &cd, nullptr) == S_OK; cd.pUnk->Release()) {
            EXPECT_TRUE(cookies.size() >= sinks.size() || sinks[cookies.size()] == cd.pUnk) << cookies.size();
            cookies.push_back(cd.dwCookie);
        }
        return cookies;
    }

    moduletest::VembroDll m_dll;
    ComPtr<Owner> m_owner;
    CProxyITolviFileTranslatorEvents* m_cp = nullptr;
};

TEST_F(ConnectionPointTest, CookiesAreSlotIndicesFreeSlotsAreReusedAndTheSlotsGrow)
{
    NewSink a;
    // Refusals leave the cookie at 0 and store nothing: the first step below finds no slot.
    ComPtr<IStream> notASink;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &notASink));
    DWORD cookie = 0xDEAD;
    EXPECT_EQ(E_POINTER, m_cp->Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, m_cp->Advise(a.Unk(), nullptr));
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

TEST_F(ConnectionPointTest, ConnectionsHoldTheirSinksUntilUnadviseOrTheOwnersEnd)
{
    NewSink a, b;
    EXPECT_EQ(1u, Advise(a));
    const ULONG advised = RefCount(a.Unk());
    EXPECT_GT(advised, 1u);
    EXPECT_EQ(1u, RefCount(m_owner.Get())); // a connection does not hold the owner
    Cookies();                              // an enumeration swaps each stream for a fresh one with the same hold
    EXPECT_EQ(advised, RefCount(a.Unk()));
    EXPECT_EQ(2u, Advise(a)); // each stream holds the sink until its own Unadvise
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    EXPECT_EQ(advised, RefCount(a.Unk()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
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
    IConnectionPoint* none = comtest::Poisoned<IConnectionPoint>();
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_owner->FindConnectionPoint(IID_ITolviFileConverterEvents, &none));
    EXPECT_EQ(nullptr, none);
    container.Reset(), found.Reset();
    EXPECT_EQ(1u, RefCount(m_owner.Get()));
    NewSink a, b, c;
    Advise(a), Advise(b), Advise(c);
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    EXPECT_EQ((std::vector<DWORD>{1, 3}), Cookies({a.Unk(), c.Unk()})); // live sinks in slot order
    ComPtr<IEnumConnections> e, clone;
    ASSERT_EQ(S_OK, m_cp->EnumConnections(&e));
    EXPECT_EQ(5, ModuleLockCount()); // the owner, three sinks and the enumerator
    const ULONG held = RefCount(a.Unk());
    CONNECTDATA cd[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(E_POINTER, e->Next(2, cd, nullptr));
    EXPECT_EQ(S_FALSE, e->Next(3, cd, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(held + 1, RefCount(a.Unk()));
    cd[0].pUnk->Release(), cd[1].pUnk->Release();
    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_OK, e->Skip(1));
    ASSERT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(S_FALSE, e->Skip(2));
    EXPECT_EQ(S_OK, clone->Next(1, cd, nullptr)); // the clone goes on from where its source was
    EXPECT_EQ(3u, cd[0].dwCookie);
    cd[0].pUnk->Release();
    e.Reset(), clone.Reset();
    EXPECT_EQ(4, ModuleLockCount());
    EXPECT_EQ(held - 1, RefCount(a.Unk())); // the enumerator's own hold went with it
}

TEST_F(ConnectionPointTest, EveryLiveSinkHearsEveryEventInOrderWhateverTheOthersDo)
{
    NewSink failing, throwing, leaving, last;
    failing->m_hr = E_FAIL;
    throwing->m_throw = true;
    Advise(failing), Advise(throwing);
    leaving->m_cookie = Advise(leaving);
    Advise(last);
    m_cp->Fire_StateChange(2);
    leaving->m_cp = m_cp; // unadvises itself from inside its next event: no lock is held
    m_cp->Fire_ProgressChange(5, 10);
    m_cp->Fire_StateChange(6);
    const Events all = {"StateChange(2)", "ProgressChange(5,10)", "StateChange(6)"};
    EXPECT_EQ(all, failing->Heard());
    EXPECT_EQ(all, throwing->Heard());
    EXPECT_EQ(all, last->Heard());
    EXPECT_EQ((Events{"StateChange(2)", "ProgressChange(5,10)"}), leaving->Heard());
    EXPECT_EQ(S_OK, leaving->m_hrUnadvise);
    EXPECT_TRUE(last->m_exact);
    EXPECT_EQ(::GetCurrentThreadId(), last->m_thread); // same apartment: called directly
    EXPECT_EQ(1u, RefCount(leaving.Unk()));
    for (DWORD cookie : {1, 2, 4})
        EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
    EXPECT_EQ(1u, RefCount(throwing.Unk())); // nothing stayed referenced by the aborted call
}

// Firing takes every sink out of its stream and puts it back; the sink's
// connection must not lapse in between, or the marshaller tears the sink's
// stub down and rebuilds it on every single event.
TEST_F(ConnectionPointTest, SinkStaysConnectedAcrossFirings)
{
    NewSink sink;
    const DWORD cookie = Advise(sink);
    const DWORD strong = sink->m_strong;
    EXPECT_GT(strong, 0u);
    const ULONG advised = RefCount(sink.Unk());
    for (long i = 1; i <= 3; ++i)
        m_cp->Fire_ProgressChange(i, 3);
    EXPECT_EQ(3u, sink->Heard().size());
    EXPECT_EQ(strong, sink->m_strong);
    EXPECT_EQ(advised, RefCount(sink.Unk()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
    EXPECT_EQ(0u, sink->m_strong);
    EXPECT_EQ(1u, RefCount(sink.Unk()));
}

// A client thread in a single-threaded apartment: advises its own sink, pumps
// messages until told to stop, then unadvises, unless it stays connected or
// cuts its sink off from its stubs right after advising.
struct StaClient {
    enum Mode { Unadvises, StaysConnected, Disconnects } mode = Unadvises;
    HANDLE advised = ::CreateEventW(nullptr, TRUE, FALSE, nullptr), stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD cookie = 0, thread = 0, eventThread = 0;
    HRESULT hrAdvise = E_FAIL, hrUnadvise = E_FAIL;
    Events events;
    std::thread worker;

    void Start(IConnectionPoint* cp)
    {
        worker = std::thread([this, cp] {
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            thread = ::GetCurrentThreadId();
            {
                NewSink sink;
                hrAdvise = cp->Advise(sink.Unk(), &cookie);
                if (mode == Disconnects)
                    ::CoDisconnectObject(sink.Unk(), 0);
                ::SetEvent(advised);
                for (MSG msg; ::MsgWaitForMultipleObjects(1, &stop, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1;)
                    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                        ::DispatchMessageW(&msg);
                if (mode != StaysConnected)
                    hrUnadvise = cp->Unadvise(cookie);
                events = sink->Heard();
                eventThread = sink->m_thread;
            }
            ::CoUninitialize();
        });
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(advised, 10000));
        ASSERT_EQ(S_OK, hrAdvise);
    }
    void Join()
    {
        ::SetEvent(stop);
        if (worker.joinable())
            worker.join();
    }
    ~StaClient() { Join(), ::CloseHandle(advised), ::CloseHandle(stop); }
};

// A sink in a single-threaded apartment hears events fired here on its own
// thread, through the library's marshaller; once it cannot be reached it goes.
TEST_F(ConnectionPointTest, SinksInOtherApartmentsAreCalledThereAndDroppedForGoodOnceUnreachable)
{
    {
        StaClient client;
        client.Start(m_cp);
        m_cp->Fire_StateChange(2);
        m_cp->Fire_ProgressChange(40, 100);
        client.Join();
        EXPECT_EQ(S_OK, client.hrUnadvise);
        EXPECT_EQ((Events{"StateChange(2)", "ProgressChange(40,100)"}), client.events);
        EXPECT_EQ(client.thread, client.eventThread);
    }
    for (auto mode : {StaClient::Disconnects, StaClient::StaysConnected}) {
        SCOPED_TRACE(mode);
        NewSink local;
        StaClient client;
        client.mode = mode;
        client.Start(m_cp);
        const DWORD localCookie = Advise(local);
        if (mode == StaClient::StaysConnected)
            client.Join(); // the apartment ends with the connection still in its slot
        // Windows refuses to unmarshal a sink of an apartment that has gone;
        // this Wine still unmarshals a proxy that fails every call, until
        // marshalling it afresh fails. Either way the sink goes within a few
        // firings, without disturbing the live sink, and stays gone.
        int firings = 0;
        std::vector<DWORD> live = Cookies();
        for (; live.size() > 1 && firings < 8; live = Cookies())
            m_cp->Fire_StateChange(firings++);
        EXPECT_EQ(std::vector<DWORD>{localCookie}, live); // and the live sink was there all along
        m_cp->Fire_StateChange(99);
        EXPECT_EQ(static_cast<size_t>(firings + 1), local->Heard().size());
        EXPECT_EQ(std::vector<DWORD>{localCookie}, Cookies());
        client.Join();
        EXPECT_TRUE(client.events.empty());
        EXPECT_EQ(S_OK, m_cp->Unadvise(client.cookie)); // its slot is free, and in range
        EXPECT_EQ(S_OK, m_cp->Unadvise(localCookie));
        EXPECT_EQ(1u, RefCount(local.Unk()));
    }
}

} // namespace
