// The client connection point: cookies and slots, argument checks, reference
// counts of sinks and owner, enumeration, firing order and arguments, and
// sinks in other apartments (live and gone).
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>
#include <process.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Module.h"
#include "vembro/com/Object.h"
#include "events/ConnectionPoint.h"
#include "events/SinkList.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;
using comtest::kPoison;
using namespace vembro;

namespace {


// The owner as the chain translator will be: a container whose one
// connection point is a member.
class TestOwner : public CComObjectRootEx, public IConnectionPointContainer {
public:
    using Base = TestOwner;
    TestOwner() : m_cp(this) {}
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(TestOwner, IConnectionPointContainer), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override
    {
        return EnumSingleConnectionPoint_nothrow(&m_cp, ppEnum);
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override
    {
        return FindSingleConnectionPoint_nothrow(&m_cp, riid, ppCP);
    }

    CProxyITolviFileTranslatorEvents m_cp;
};

// A sink dispatched through the registered type library; records every event
// with the thread that received it.
class RecordingSink : public CComObjectRootEx, public VembroDispatch<ITolviFileTranslatorEvents> {
public:
    using Base = RecordingSink;
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(RecordingSink, ITolviFileTranslatorEvents),
                                        VEMBRO_QI_AS(RecordingSink, IID_IDispatch, ITolviFileTranslatorEvents),
                                        VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override
    {
        Record("PropertyChange");
        return m_hrResult;
    }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        Record("StateChange(" + std::to_string(state) + ")");
        return m_hrResult;
    }
    STDMETHODIMP ProgressChange(LONG progress, LONG maxProgress) noexcept override
    {
        Record("ProgressChange(" + std::to_string(progress) + "," + std::to_string(maxProgress) + ")");
        return m_hrResult;
    }

    std::vector<std::string> Events()
    {
        auto lock = m_cs.Lock();
        return m_events;
    }
    DWORD LastThread()
    {
        auto lock = m_cs.Lock();
        return m_dwThread;
    }
    HRESULT m_hrResult = S_OK;
    HANDLE m_hEvent = nullptr; // signalled on every event when set

private:
    void Record(std::string text)
    {
        {
            auto lock = m_cs.Lock();
            m_events.push_back(std::move(text));
            m_dwThread = ::GetCurrentThreadId();
        }
        if (m_hEvent)
            ::SetEvent(m_hEvent);
    }
    std::vector<std::string> m_events;
    DWORD m_dwThread = 0;
};

// A sink that implements Invoke itself: records exactly how it was called,
// and can fail or throw.
class RawSink : public CComObjectRootEx, public ITolviFileTranslatorEvents {
public:
    using Base = RawSink;
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(RawSink, ITolviFileTranslatorEvents), VEMBRO_QI_END};
        return table;
    }
    struct Call {
        DISPID dispid;
        bool iidNull;
        LCID lcid;
        WORD flags;
        std::vector<VARTYPE> types;
        std::vector<LONG> values; // rgvarg order
        UINT namedArgs;
        bool result, excep, argErr;
    };
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override
    {
        Call call{id, ::IsEqualIID(riid, IID_NULL) != FALSE, lcid, flags, {}, {}, params->cNamedArgs,
                  result != nullptr, excep != nullptr, argErr != nullptr};
        for (UINT i = 0; i < params->cArgs; ++i) {
            call.types.push_back(V_VT(&params->rgvarg[i]));
            call.values.push_back(V_I4(&params->rgvarg[i]));
        }
        m_calls.push_back(call);
        if (m_bThrow)
            throw std::runtime_error("sink failure");
        return m_hrResult;
    }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP StateChange(LONG) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override { return E_NOTIMPL; }

    std::vector<Call> m_calls;
    HRESULT m_hrResult = S_OK;
    bool m_bThrow = false;
};

// A sink with configurable answers to QueryInterface for the event interface
// and to marshalling (through its own IMarshal).
class AwkwardSink : public IMarshal {
public:
    HRESULT m_hrQI = S_OK;
    HRESULT m_hrMarshal = S_OK;
    LONG m_nRef = 1;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = nullptr;
        if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IMarshal)) {
            *ppv = static_cast<IMarshal*>(this);
        } else if (::IsEqualIID(riid, IID_ITolviFileTranslatorEvents)) {
            if (FAILED(m_hrQI))
                return m_hrQI;
            *ppv = static_cast<IMarshal*>(this); // never called through: marshalling fails first
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return static_cast<ULONG>(::InterlockedDecrement(&m_nRef)); }
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) noexcept override
    {
        return m_hrMarshal;
    }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) noexcept override
    {
        return m_hrMarshal;
    }
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) noexcept override
    {
        return m_hrMarshal;
    }
    STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseMarshalData(IStream*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DisconnectObject(DWORD) noexcept override { return E_NOTIMPL; }
};

template <class T>
ComPtr<T> MakeObject(CComObject<T>** raw = nullptr)
{
    CComObject<T>* p = nullptr;
    EXPECT_EQ(S_OK, CComObject<T>::CreateInstance(&p));
    ComPtr<T> sp(p);
    if (raw)
        *raw = p;
    return sp;
}

std::wstring DosPath(const char* path)
{
    std::wstring w;
    if (path[0] == '/')
        w = L"Z:";
    for (const char* c = path; *c; ++c)
        w += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return w;
}

// The type library registered as the module registers it (which also writes
// the universal marshaller's Interface keys), and removed again. The library's
// locale is 0x0409, but this Wine's marshaller looks for the library file only
// under locale 0, so that entry is added as well.
class TypeLibRegistration {
public:
    ~TypeLibRegistration() { Unregister(); }
    HRESULT Register()
    {
        m_path = DosPath(VEMBRO_TLB_PATH);
        ComPtr<ITypeLib> lib;
        HRESULT hr = ::LoadTypeLibEx(m_path.c_str(), REGKIND_NONE, &lib);
        if (FAILED(hr))
            return hr;
        TLIBATTR* attr = nullptr;
        if (FAILED(hr = lib->GetLibAttr(&attr)))
            return hr;
        m_attr = *attr;
        lib->ReleaseTLibAttr(attr);
        if (FAILED(hr = ::RegisterTypeLib(lib.Get(), &m_path[0], nullptr)))
            return hr;
        m_bRegistered = true;
        const DWORD bytes = static_cast<DWORD>((m_path.size() + 1) * sizeof(wchar_t));
        return HRESULT_FROM_WIN32(::RegSetKeyValueW(HKEY_CLASSES_ROOT, NeutralKey().c_str(), nullptr, REG_SZ,
                                                    m_path.c_str(), bytes));
    }
    void Unregister()
    {
        if (!std::exchange(m_bRegistered, false))
            return;
        std::wstring neutral = NeutralKey();
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, neutral.c_str());
        neutral.resize(neutral.rfind(L'\\'));
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, neutral.c_str());
        EXPECT_EQ(S_OK, ::UnRegisterTypeLib(m_attr.guid, m_attr.wMajorVerNum, m_attr.wMinorVerNum, m_attr.lcid,
                                           m_attr.syskind));
    }

private:
    std::wstring NeutralKey() const
    {
        wchar_t guid[40] = {};
        ::StringFromGUID2(m_attr.guid, guid, 40);
        return std::wstring(L"TypeLib\\") + guid + L"\\" + std::to_wstring(m_attr.wMajorVerNum) + L"." +
               std::to_wstring(m_attr.wMinorVerNum) + L"\\0\\" + (m_attr.syskind == SYS_WIN64 ? L"win64" : L"win32");
    }
    std::wstring m_path;
    TLIBATTR m_attr = {};
    bool m_bRegistered = false;
};

// COM in the test thread, the type library registered (which also writes the
// universal marshaller's Interface keys) and removed again afterwards.
class ConnectionPointTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, m_typeLib.Register());
        m_owner = MakeObject<TestOwner>();
        m_cp = &m_owner->m_cp;
    }
    void TearDown() override
    {
        m_cp = nullptr;
        m_owner.Reset();
        EXPECT_EQ(0, ModuleLockCount());
        TypeInfoHolder::ReleaseAll();
        m_typeLib.Unregister();
        ::CoUninitialize();
    }

    DWORD AdviseOk(IUnknown* sink)
    {
        DWORD cookie = 0xDEAD;
        EXPECT_EQ(S_OK, m_cp->Advise(sink, &cookie));
        return cookie;
    }

    std::vector<CONNECTDATA> Connections()
    {
        std::vector<CONNECTDATA> out;
        ComPtr<IEnumConnections> e;
        EXPECT_EQ(S_OK, m_cp->EnumConnections(&e));
        if (!e)
            return out;
        CONNECTDATA cd{};
        while (e->Next(1, &cd, nullptr) == S_OK) {
            out.push_back(cd);
            if (cd.pUnk)
                cd.pUnk->Release(); // identity checks only; the sinks are held elsewhere
        }
        return out;
    }

    TypeLibRegistration m_typeLib;
    ComPtr<TestOwner> m_owner;
    CProxyITolviFileTranslatorEvents* m_cp = nullptr;
};

// ---- cookies and slots ------------------------------------------------------

TEST_F(ConnectionPointTest, CookiesAreSlotIndicesAndFreeSlotsAreReused)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    auto c = MakeObject<RecordingSink>();
    EXPECT_EQ(1u, AdviseOk(a.Get()));
    EXPECT_EQ(2u, AdviseOk(b.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(1u, AdviseOk(c.Get()));
    EXPECT_EQ(3u, AdviseOk(a.Get()));
}

TEST_F(ConnectionPointTest, UnadviseOutsideTheSlotsFails)
{
    auto a = MakeObject<RecordingSink>();
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(1)); // no slot at all
    EXPECT_EQ(1u, AdviseOk(a.Get()));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(2)); // one inline slot
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(1)); // the single slot is gone with it
}

TEST_F(ConnectionPointTest, SecondAdviseMakesFourSlotsThenTheyDouble)
{
    auto a = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    AdviseOk(a.Get());
    EXPECT_EQ(S_OK, m_cp->Unadvise(3));
    EXPECT_EQ(S_OK, m_cp->Unadvise(4));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(5));
    EXPECT_EQ(3u, AdviseOk(a.Get()));
    EXPECT_EQ(4u, AdviseOk(a.Get()));
    EXPECT_EQ(5u, AdviseOk(a.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(8));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(9));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(0xFFFFFFFFu));
    for (DWORD cookie = 1; cookie <= 5; ++cookie)
        EXPECT_EQ(S_OK, m_cp->Unadvise(cookie)) << cookie;
    EXPECT_EQ(1u, RefCount(a.Get())); // only our own reference is left
}

TEST_F(ConnectionPointTest, SinkListCookiesGrowthAndRelease)
{
    auto sink = MakeObject<RecordingSink>();
    auto stream = [&] {
        IStream* s = nullptr;
        EXPECT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(
                            IID_ITolviFileTranslatorEvents, static_cast<ITolviFileTranslatorEvents*>(sink.Get()), &s));
        return s;
    };
    {
        CComDynamicUnkArrayEx list;
        EXPECT_EQ(0, list.GetSize());
        EXPECT_EQ(1u, list.Add(stream()));
        EXPECT_EQ(1, list.GetSize());
        EXPECT_EQ(2u, list.Add(stream()));
        EXPECT_EQ(4, list.GetSize());
        IStream* taken = reinterpret_cast<IStream*>(kPoison);
        EXPECT_TRUE(list.Remove(1, &taken));
        ASSERT_NE(nullptr, taken);
        CComDynamicUnkArrayEx::ReleaseSlot(taken);
        taken = reinterpret_cast<IStream*>(kPoison);
        EXPECT_TRUE(list.Remove(1, &taken)); // a free slot in range
        EXPECT_EQ(nullptr, taken);
        taken = reinterpret_cast<IStream*>(kPoison);
        EXPECT_FALSE(list.Remove(5, &taken));
        EXPECT_EQ(nullptr, taken);
        EXPECT_EQ(1u, list.Add(stream()));
        EXPECT_EQ(3u, list.Add(stream()));
        EXPECT_EQ(4u, list.Add(stream()));
        EXPECT_EQ(5u, list.Add(stream()));
        EXPECT_EQ(8, list.GetSize());
        std::vector<bool> used;
        for (IStream* s : list)
            used.push_back(s != nullptr);
        EXPECT_EQ((std::vector<bool>{true, true, true, true, true, false, false, false}), used);
        EXPECT_GT(RefCount(sink.Get()), 1u);
    }
    // The list's destruction released every stream it held.
    EXPECT_EQ(1u, RefCount(sink.Get()));
}

// ---- argument checks ---------------------------------------------------------

TEST_F(ConnectionPointTest, NullArgumentsGiveEPointer)
{
    auto a = MakeObject<RecordingSink>();
    DWORD cookie = 0xDEAD;
    EXPECT_EQ(E_POINTER, m_cp->Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, m_cp->Advise(a.Get(), nullptr));
    EXPECT_EQ(E_POINTER, m_cp->GetConnectionInterface(nullptr));
    EXPECT_EQ(E_POINTER, m_cp->GetConnectionPointContainer(nullptr));
    EXPECT_EQ(E_POINTER, m_cp->EnumConnections(nullptr));
    EXPECT_EQ(E_POINTER, m_owner->FindConnectionPoint(IID_ITolviFileTranslatorEvents, nullptr));
    EXPECT_EQ(E_POINTER, m_owner->EnumConnectionPoints(nullptr));
    EXPECT_EQ(1u, RefCount(a.Get()));
}

TEST_F(ConnectionPointTest, SinkWithoutTheEventInterfaceCannotConnect)
{
    ComPtr<IStream> notASink;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &notASink));
    DWORD cookie = 0xDEAD;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, m_cp->Advise(notASink.Get(), &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1u, RefCount(notASink.Get()));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(1));
}

TEST_F(ConnectionPointTest, QueryAndMarshallingFailures)
{
    struct Case {
        HRESULT qi, marshal, expected;
    };
    const Case cases[] = {
        {E_UNEXPECTED, S_OK, E_UNEXPECTED},              // other query failures pass through
        {S_OK, E_NOINTERFACE, CONNECT_E_CANNOTCONNECT},  // not marshallable for lack of an interface
        {S_OK, E_ACCESSDENIED, E_ACCESSDENIED},          // other marshalling failures pass through
    };
    for (const Case& c : cases) {
        AwkwardSink sink;
        sink.m_hrQI = c.qi;
        sink.m_hrMarshal = c.marshal;
        DWORD cookie = 0xDEAD;
        EXPECT_EQ(c.expected, m_cp->Advise(&sink, &cookie)) << std::hex << c.qi << " " << c.marshal;
        EXPECT_EQ(0u, cookie);
        EXPECT_EQ(1, sink.m_nRef);
    }
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_cp->Unadvise(1)); // nothing was stored
}

// ---- identity and reference counts --------------------------------------------

TEST_F(ConnectionPointTest, ConnectionInterfaceAndContainer)
{
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, m_cp->GetConnectionInterface(&iid));
    EXPECT_TRUE(::IsEqualIID(IID_ITolviFileTranslatorEvents, iid));

    const ULONG before = RefCount(m_owner.Get());
    IConnectionPointContainer* container = reinterpret_cast<IConnectionPointContainer*>(kPoison);
    EXPECT_EQ(S_OK, m_cp->GetConnectionPointContainer(&container));
    EXPECT_EQ(static_cast<IConnectionPointContainer*>(m_owner.Get()), container);
    EXPECT_EQ(before + 1, RefCount(m_owner.Get()));
    container->Release();
    EXPECT_EQ(before, RefCount(m_owner.Get()));
}

TEST_F(ConnectionPointTest, QueryInterfaceIsItsOwnButTheCountIsTheOwners)
{
    const ULONG before = RefCount(m_owner.Get());
    ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(S_OK, m_cp->QueryInterface(IID_PPV_ARGS(&cp)));
    EXPECT_EQ(static_cast<IConnectionPoint*>(m_cp), cp.Get());
    EXPECT_EQ(before + 1, RefCount(m_owner.Get()));

    ComPtr<IUnknown> unk;
    EXPECT_EQ(S_OK, m_cp->QueryInterface(IID_PPV_ARGS(&unk)));
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<IConnectionPoint*>(m_cp)), unk.Get());
    EXPECT_EQ(before + 2, RefCount(m_owner.Get()));

    void* other = kPoison;
    EXPECT_EQ(E_NOINTERFACE, m_cp->QueryInterface(IID_IConnectionPointContainer, &other));
    EXPECT_EQ(nullptr, other);
    other = kPoison;
    EXPECT_EQ(E_NOINTERFACE, m_cp->QueryInterface(IID_ITolviFileTranslatorEvents, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, m_cp->QueryInterface(IID_IUnknown, nullptr));

    unk.Reset();
    cp.Reset();
    EXPECT_EQ(before, RefCount(m_owner.Get()));
}

TEST_F(ConnectionPointTest, ContainerFindsOnlyItsOneConnectionPoint)
{
    const ULONG before = RefCount(m_owner.Get());
    IConnectionPoint* found = reinterpret_cast<IConnectionPoint*>(kPoison);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_owner->FindConnectionPoint(IID_ITolviFileConverterEvents, &found));
    EXPECT_EQ(nullptr, found);
    found = reinterpret_cast<IConnectionPoint*>(kPoison);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_owner->FindConnectionPoint(IID_IDispatch, &found));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(S_OK, m_owner->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &found));
    EXPECT_EQ(static_cast<IConnectionPoint*>(m_cp), found);
    EXPECT_EQ(before + 1, RefCount(m_owner.Get()));
    found->Release();
    EXPECT_EQ(before, RefCount(m_owner.Get()));
}

TEST_F(ConnectionPointTest, ContainerEnumeratesItsOneConnectionPoint)
{
    ComPtr<IEnumConnectionPoints> e;
    EXPECT_EQ(S_OK, m_owner->EnumConnectionPoints(&e));
    ASSERT_TRUE(e);
    IConnectionPoint* points[2] = {reinterpret_cast<IConnectionPoint*>(kPoison), reinterpret_cast<IConnectionPoint*>(kPoison)};
    ULONG fetched = 99;
    EXPECT_EQ(S_FALSE, e->Next(2, points, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(static_cast<IConnectionPoint*>(m_cp), points[0]);
    points[0]->Release();
    EXPECT_EQ(S_OK, e->Reset());
    ComPtr<IEnumConnectionPoints> clone;
    EXPECT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(S_OK, clone->Next(1, points, nullptr));
    EXPECT_EQ(static_cast<IConnectionPoint*>(m_cp), points[0]);
    points[0]->Release();
    e.Reset();
    clone.Reset();
    EXPECT_EQ(1u, RefCount(m_owner.Get())); // the enumerators kept the owner alive, now released
}

TEST_F(ConnectionPointTest, TheStreamHoldsTheSinkUntilUnadvise)
{
    auto a = MakeObject<RecordingSink>();
    ASSERT_EQ(1u, RefCount(a.Get()));
    const ULONG owner = RefCount(m_owner.Get());
    DWORD cookie = AdviseOk(a.Get());
    const ULONG advised = RefCount(a.Get());
    EXPECT_GT(advised, 1u);
    EXPECT_EQ(owner, RefCount(m_owner.Get())); // a connection does not hold the owner
    // An enumeration swaps the stream for a fresh one with the same hold.
    Connections();
    EXPECT_EQ(advised, RefCount(a.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
    EXPECT_EQ(1u, RefCount(a.Get()));
    // Two connections of one sink: each stream holds it until its own
    // Unadvise (the marshaller keeps one hold per object, not per stream).
    EXPECT_EQ(1u, AdviseOk(a.Get()));
    EXPECT_EQ(2u, AdviseOk(a.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    EXPECT_EQ(advised, RefCount(a.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(2)); // already free, still in range
    EXPECT_EQ(advised, RefCount(a.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(1u, RefCount(a.Get()));
}

TEST_F(ConnectionPointTest, DestroyingTheOwnerReleasesEverySink)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    AdviseOk(b.Get());
    AdviseOk(a.Get());
    EXPECT_GT(RefCount(a.Get()), 1u);
    m_cp = nullptr;
    m_owner.Reset();
    EXPECT_EQ(1u, RefCount(a.Get()));
    EXPECT_EQ(1u, RefCount(b.Get()));
}

// ---- enumeration ---------------------------------------------------------------

TEST_F(ConnectionPointTest, EnumerationGivesSinksWithTheirCookiesInSlotOrder)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    auto c = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    AdviseOk(b.Get());
    AdviseOk(c.Get());
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    auto list = Connections();
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<ITolviFileTranslatorEvents*>(a.Get())), list[0].pUnk);
    EXPECT_EQ(1u, list[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(static_cast<ITolviFileTranslatorEvents*>(c.Get())), list[1].pUnk);
    EXPECT_EQ(3u, list[1].dwCookie);
    // Enumerating again finds the same connections in the fresh streams.
    EXPECT_EQ(2u, Connections().size());
}

TEST_F(ConnectionPointTest, EnumeratorNextSkipResetClone)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    AdviseOk(b.Get());
    IEnumConnections* poisoned = reinterpret_cast<IEnumConnections*>(kPoison);
    ASSERT_EQ(S_OK, m_cp->EnumConnections(&poisoned));
    ComPtr<IEnumConnections> e = TakeOver(poisoned);
    const ULONG held = RefCount(a.Get());

    CONNECTDATA cd[3] = {};
    EXPECT_EQ(E_POINTER, e->Next(2, cd, nullptr));
    EXPECT_EQ(E_POINTER, e->Next(1, nullptr, nullptr));
    ULONG fetched = 99;
    EXPECT_EQ(S_FALSE, e->Next(3, cd, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(1u, cd[0].dwCookie);
    EXPECT_EQ(2u, cd[1].dwCookie);
    EXPECT_EQ(held + 1, RefCount(a.Get())); // Next hands out a reference
    cd[0].pUnk->Release();
    cd[1].pUnk->Release();
    EXPECT_EQ(held, RefCount(a.Get()));

    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_OK, e->Skip(1));
    ComPtr<IEnumConnections> clone;
    EXPECT_EQ(E_POINTER, e->Clone(nullptr));
    EXPECT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(S_FALSE, e->Skip(2));
    EXPECT_EQ(S_FALSE, e->Next(1, cd, nullptr));
    // The clone continues from where its source was.
    EXPECT_EQ(S_OK, clone->Next(1, cd, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(2u, cd[0].dwCookie);
    cd[0].pUnk->Release();
    EXPECT_EQ(S_FALSE, clone->Next(1, cd, nullptr));

    e.Reset();
    clone.Reset();
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(S_OK, m_cp->Unadvise(2));
    EXPECT_EQ(1u, RefCount(a.Get()));
    EXPECT_EQ(1u, RefCount(b.Get()));
}

TEST_F(ConnectionPointTest, EnumeratorsHoldTheModule)
{
    ComPtr<IEnumConnections> e;
    ASSERT_EQ(S_OK, m_cp->EnumConnections(&e));
    CONNECTDATA cd{};
    EXPECT_EQ(S_FALSE, e->Next(1, &cd, nullptr)); // nobody connected
    EXPECT_EQ(2, ModuleLockCount());               // the owner and the enumerator
    e.Reset();
    EXPECT_EQ(1, ModuleLockCount());
}

// ---- firing --------------------------------------------------------------------

TEST_F(ConnectionPointTest, EverySinkHearsEveryEventInOrder)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    AdviseOk(b.Get());
    m_cp->Fire_StateChange(2);
    m_cp->Fire_ProgressChange(5, 10);
    m_cp->Fire_StateChange(5);
    const std::vector<std::string> expected = {"StateChange(2)", "ProgressChange(5,10)", "StateChange(5)"};
    EXPECT_EQ(expected, a->Events());
    EXPECT_EQ(expected, b->Events());
    EXPECT_EQ(::GetCurrentThreadId(), a->LastThread()); // same apartment: called directly
}

TEST_F(ConnectionPointTest, UnadvisedSinksHearNothing)
{
    auto a = MakeObject<RecordingSink>();
    auto b = MakeObject<RecordingSink>();
    AdviseOk(a.Get());
    DWORD cookie = AdviseOk(b.Get());
    m_cp->Fire_StateChange(1);
    EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
    m_cp->Fire_StateChange(2);
    EXPECT_EQ((std::vector<std::string>{"StateChange(1)", "StateChange(2)"}), a->Events());
    EXPECT_EQ((std::vector<std::string>{"StateChange(1)"}), b->Events());
}

// A recording sink that also counts the strong external connections the
// marshaller reports to it.
class ConnectionCountingSink : public RecordingSink, public IExternalConnection {
public:
    using Base = ConnectionCountingSink;
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(ConnectionCountingSink, ITolviFileTranslatorEvents),
                                        VEMBRO_QI_AS(ConnectionCountingSink, IID_IDispatch, ITolviFileTranslatorEvents),
                                        VEMBRO_QI(ConnectionCountingSink, IExternalConnection), VEMBRO_QI_END};
        return table;
    }
    STDMETHODIMP_(DWORD) AddConnection(DWORD type, DWORD) noexcept override
    {
        if (type & EXTCONN_STRONG)
            ++m_nAdded;
        return static_cast<DWORD>(m_nAdded - m_nReleased);
    }
    STDMETHODIMP_(DWORD) ReleaseConnection(DWORD type, DWORD, BOOL) noexcept override
    {
        if (type & EXTCONN_STRONG)
            ++m_nReleased;
        return static_cast<DWORD>(m_nAdded - m_nReleased);
    }
    LONG m_nAdded = 0;
    LONG m_nReleased = 0;
};

// Firing takes every sink out of its stream and puts it back; the sink's
// connection must not lapse in between, or the marshaller tears the sink's
// stub down and rebuilds it on every single event.
TEST_F(ConnectionPointTest, SinkStaysConnectedAcrossFirings)
{
    CComObject<ConnectionCountingSink>* raw = nullptr;
    ASSERT_EQ(S_OK, CComObject<ConnectionCountingSink>::CreateInstance(&raw));
    ComPtr<ITolviFileTranslatorEvents> sink(static_cast<ITolviFileTranslatorEvents*>(raw));
    DWORD cookie = AdviseOk(sink.Get());
    const LONG added = raw->m_nAdded;
    EXPECT_GT(added, raw->m_nReleased);
    const ULONG advised = RefCount(sink.Get());
    for (long i = 1; i <= 3; ++i)
        m_cp->Fire_ProgressChange(i, 3);
    EXPECT_EQ(3u, raw->Events().size());
    EXPECT_EQ(added, raw->m_nAdded);
    EXPECT_EQ(advised, RefCount(sink.Get()));
    EXPECT_EQ(S_OK, m_cp->Unadvise(cookie));
    EXPECT_EQ(raw->m_nAdded, raw->m_nReleased);
    EXPECT_EQ(1u, RefCount(sink.Get()));
}

TEST_F(ConnectionPointTest, InvokeArgumentsAreExact)
{
    CComObject<RawSink>* raw = nullptr;
    auto sink = MakeObject<RawSink>(&raw);
    AdviseOk(sink.Get());
    m_cp->Fire_StateChange(6);
    m_cp->Fire_ProgressChange(7, 300);
    ASSERT_EQ(2u, raw->m_calls.size());
    for (const auto& call : raw->m_calls) {
        EXPECT_TRUE(call.iidNull);
        EXPECT_EQ(static_cast<LCID>(0x0400), call.lcid);
        EXPECT_EQ(DISPATCH_METHOD, call.flags);
        EXPECT_EQ(0u, call.namedArgs);
        EXPECT_FALSE(call.result);
        EXPECT_FALSE(call.excep);
        EXPECT_FALSE(call.argErr);
    }
    EXPECT_EQ(2, raw->m_calls[0].dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4}), raw->m_calls[0].types);
    EXPECT_EQ((std::vector<LONG>{6}), raw->m_calls[0].values);
    EXPECT_EQ(3, raw->m_calls[1].dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4, VT_I4}), raw->m_calls[1].types);
    EXPECT_EQ((std::vector<LONG>{300, 7}), raw->m_calls[1].values); // last argument first
}

TEST_F(ConnectionPointTest, FailingSinkDoesNotStopTheNext)
{
    CComObject<RawSink>* raw = nullptr;
    auto failing = MakeObject<RawSink>(&raw);
    raw->m_hrResult = E_FAIL;
    auto dispatched = MakeObject<RecordingSink>();
    dispatched->m_hrResult = E_UNEXPECTED; // fails through the type library as well
    auto last = MakeObject<RecordingSink>();
    AdviseOk(failing.Get());
    AdviseOk(dispatched.Get());
    AdviseOk(last.Get());
    m_cp->Fire_StateChange(3);
    m_cp->Fire_ProgressChange(1, 2);
    EXPECT_EQ(2u, raw->m_calls.size());
    EXPECT_EQ((std::vector<std::string>{"StateChange(3)", "ProgressChange(1,2)"}), dispatched->Events());
    EXPECT_EQ((std::vector<std::string>{"StateChange(3)", "ProgressChange(1,2)"}), last->Events());
}

TEST_F(ConnectionPointTest, ThrowingSinkDoesNotStopTheNext)
{
    CComObject<RawSink>* raw = nullptr;
    auto throwing = MakeObject<RawSink>(&raw);
    raw->m_bThrow = true;
    auto last = MakeObject<RecordingSink>();
    AdviseOk(throwing.Get());
    AdviseOk(last.Get());
    m_cp->Fire_StateChange(4);
    EXPECT_EQ(1u, raw->m_calls.size());
    EXPECT_EQ((std::vector<std::string>{"StateChange(4)"}), last->Events());
    // Nothing stayed referenced by the aborted call.
    EXPECT_GT(RefCount(throwing.Get()), 1u);
    EXPECT_EQ(S_OK, m_cp->Unadvise(1));
    EXPECT_EQ(1u, RefCount(throwing.Get()));
}

TEST_F(ConnectionPointTest, SinkMayUnadviseItselfWhileBeingCalled)
{
    // No lock is held while a sink runs: a sink that calls back into the
    // connection point from its event does not deadlock or disturb firing.
    class SelfUnadvisingSink : public RecordingSink {
    public:
        STDMETHODIMP StateChange(LONG state) noexcept override
        {
            HRESULT hr = RecordingSink::StateChange(state);
            m_hrUnadvise = m_pCP->Unadvise(m_dwCookie);
            return hr;
        }
        IConnectionPoint* m_pCP = nullptr;
        DWORD m_dwCookie = 0;
        HRESULT m_hrUnadvise = E_FAIL;
    };
    auto self = MakeObject<SelfUnadvisingSink>();
    auto other = MakeObject<RecordingSink>();
    self->m_pCP = m_cp;
    self->m_dwCookie = AdviseOk(self.Get());
    AdviseOk(other.Get());
    m_cp->Fire_StateChange(2);
    m_cp->Fire_StateChange(5);
    EXPECT_EQ(S_OK, self->m_hrUnadvise);
    EXPECT_EQ((std::vector<std::string>{"StateChange(2)"}), self->Events());
    EXPECT_EQ((std::vector<std::string>{"StateChange(2)", "StateChange(5)"}), other->Events());
    EXPECT_EQ(1u, RefCount(self.Get()));
}

// ---- sinks in another apartment ------------------------------------------------

// A client thread with a single-threaded apartment: it advises its own sink,
// then pumps messages until told to stop, and unadvises on its way out.
struct StaClient {
    CProxyITolviFileTranslatorEvents* cp = nullptr;
    bool stayConnected = false; // leave the connection behind when the apartment ends
    bool disconnect = false;    // cut the sink off from its stubs right after advising
    HANDLE hAdvised = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hHeard = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE hStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hThread = nullptr;
    DWORD dwThread = 0;
    DWORD dwCookie = 0;
    HRESULT hrAdvise = E_FAIL;
    HRESULT hrUnadvise = E_FAIL;
    std::vector<std::string> events;
    DWORD eventThread = 0;

    ~StaClient()
    {
        ::SetEvent(hStop);
        if (hThread) {
            ::WaitForSingleObject(hThread, 10000);
            ::CloseHandle(hThread);
        }
        ::CloseHandle(hAdvised);
        ::CloseHandle(hHeard);
        ::CloseHandle(hStop);
    }

    void Start()
    {
        hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &StaClient::Run, this, 0, nullptr));
        ASSERT_NE(nullptr, hThread);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hAdvised, 10000));
    }
    void Join()
    {
        ::SetEvent(hStop);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 10000));
    }

    static unsigned __stdcall Run(void* arg)
    {
        auto* self = static_cast<StaClient*>(arg);
        self->dwThread = ::GetCurrentThreadId();
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            auto sink = MakeObject<RecordingSink>();
            sink->m_hEvent = self->hHeard;
            self->hrAdvise = self->cp->Advise(sink.Get(), &self->dwCookie);
            if (self->disconnect)
                ::CoDisconnectObject(static_cast<ITolviFileTranslatorEvents*>(sink.Get()), 0);
            ::SetEvent(self->hAdvised);
            for (;;) {
                DWORD w = ::MsgWaitForMultipleObjects(1, &self->hStop, FALSE, 10000, QS_ALLINPUT);
                if (w != WAIT_OBJECT_0 + 1)
                    break;
                MSG msg;
                while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    ::DispatchMessageW(&msg);
            }
            if (!self->stayConnected)
                self->hrUnadvise = self->cp->Unadvise(self->dwCookie);
            self->events = sink->Events();
            self->eventThread = sink->LastThread();
        }
        ::CoUninitialize();
        return 0;
    }
};

TEST_F(ConnectionPointTest, SinkInASingleThreadedApartmentIsCalledOnItsOwnThread)
{
    StaClient client;
    client.cp = m_cp;
    client.Start();
    ASSERT_EQ(S_OK, client.hrAdvise);
    EXPECT_EQ(1u, client.dwCookie);

    // Fired from this multithreaded apartment: through the proxy, which the
    // type-library marshaller builds, into the client's thread.
    m_cp->Fire_StateChange(2);
    m_cp->Fire_ProgressChange(40, 100);
    client.Join();

    EXPECT_EQ(S_OK, client.hrUnadvise);
    EXPECT_EQ((std::vector<std::string>{"StateChange(2)", "ProgressChange(40,100)"}), client.events);
    EXPECT_EQ(client.dwThread, client.eventThread);
    EXPECT_NE(::GetCurrentThreadId(), client.eventThread);
}

TEST_F(ConnectionPointTest, DisconnectedSinkIsDroppedForGood)
{
    auto local = MakeObject<RecordingSink>();
    StaClient client;
    client.cp = m_cp;
    client.disconnect = true; // its apartment lives on, the object does not answer any more
    client.Start();
    ASSERT_EQ(S_OK, client.hrAdvise);
    EXPECT_EQ(2u, AdviseOk(local.Get()));

    auto list = Connections();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(2u, list[0].dwCookie);
    m_cp->Fire_StateChange(6);
    EXPECT_EQ((std::vector<std::string>{"StateChange(6)"}), local->Events());
    EXPECT_EQ(1u, Connections().size());
    client.Join();
    EXPECT_TRUE(client.events.empty());
    EXPECT_EQ(S_OK, m_cp->Unadvise(client.dwCookie)); // its slot is free, and in range
}

TEST_F(ConnectionPointTest, SinkWhoseApartmentHasEndedIsDropped)
{
    auto local = MakeObject<RecordingSink>();
    StaClient client;
    client.cp = m_cp;
    client.stayConnected = true;
    client.Start();
    ASSERT_EQ(S_OK, client.hrAdvise);
    AdviseOk(local.Get());
    client.Join(); // the apartment ends with the connection still in its slot
    EXPECT_EQ(2, ModuleLockCount()); // the owner and the local sink: the client's sink is gone
    EXPECT_TRUE(client.events.empty());

    // Windows refuses to unmarshal a sink of an apartment that has gone, so
    // the first enumeration drops it. This Wine takes the unknown apartment
    // for another process and still unmarshals a proxy, which fails every
    // call; the sink goes once the proxy has no reference left to hand on
    // and marshalling it afresh fails. Either way it must go within a few
    // firings, without disturbing the live sink, and stay gone.
    int firings = 0;
    while (Connections().size() > 1 && firings < 8) {
        m_cp->Fire_StateChange(firings);
        ++firings;
    }
    EXPECT_LT(firings, 8);
    EXPECT_EQ(static_cast<size_t>(firings), local->Events().size());
    auto list = Connections();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(2u, list[0].dwCookie);
    EXPECT_EQ(S_OK, m_cp->Unadvise(client.dwCookie)); // its slot is free, and in range
    EXPECT_EQ(1u, Connections().size());
}

} // namespace
