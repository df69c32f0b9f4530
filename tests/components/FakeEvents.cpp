#include "components/FakeEvents.h"

#include <olectl.h>

#include "vembro/com/Resource.h"
#include "components/FakeJournal.h"
#include "components/FakeText.h"

namespace fakes {
namespace {
// The locale under which the type library is registered: a sink that serves
// IDispatch from the registered library finds it under this one only.
constexpr LCID kLibraryLocale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
} // namespace

void FakeConnectionPoint::Init(IConnectionPointContainer* owner, bool converter, bool byDispatch,
                               const std::string& name) noexcept
{
    m_pOwner = owner;
    m_bConverter = converter;
    m_bByDispatch = byDispatch;
    m_strName = name;
}

const IID& FakeConnectionPoint::EventIid() const noexcept
{
    return m_bConverter ? IID_ITolviFileConverterEvents : IID_ITolviFileTranslatorEvents;
}

STDMETHODIMP FakeConnectionPoint::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!::IsEqualIID(riid, IID_IUnknown) && !::IsEqualIID(riid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeConnectionPoint::AddRef() noexcept { return m_pOwner->AddRef(); }
STDMETHODIMP_(ULONG) FakeConnectionPoint::Release() noexcept { return m_pOwner->Release(); }

STDMETHODIMP FakeConnectionPoint::GetConnectionInterface(IID* piid) noexcept
{
    if (!piid)
        return E_POINTER;
    *piid = EventIid();
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppcpc) noexcept
{
    if (!ppcpc)
        return E_POINTER;
    m_pOwner->AddRef();
    *ppcpc = m_pOwner;
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept
try {
    if (cookie)
        *cookie = 0;
    if (!sink || !cookie) {
        JournalCall(m_strName + ".Advise(" + PointerText(sink) + ")");
        return E_POINTER;
    }
    // The event interfaces derive from IDispatch: one pointer serves both
    // ways of calling.
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(EventIid(), reinterpret_cast<void**>(&events)))) {
        JournalCall(m_strName + ".Advise(refused)");
        return CONNECT_E_CANNOTCONNECT;
    }
    Sink held = vembro::TakeOver(events);
    DWORD given = 0;
    {
        auto lock = m_cs.Lock();
        given = m_dwNextCookie++;
        m_sinks.emplace_back(given, held);
    }
    *cookie = given;
    JournalCall(m_strName + ".Advise(cookie=" + std::to_string(given) + ")");
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConnectionPoint::Unadvise(DWORD cookie) noexcept
try {
    JournalCall(m_strName + ".Unadvise(cookie=" + std::to_string(cookie) + ")");
    Sink released;
    {
        auto lock = m_cs.Lock();
        for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
            if (it->first == cookie) {
                released = std::move(it->second);
                m_sinks.erase(it);
                break;
            }
        }
    }
    // Released outside the lock: the sink may call back.
    return released ? S_OK : CONNECT_E_NOCONNECTION;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConnectionPoint::EnumConnections(IEnumConnections** ppEnum) noexcept
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

std::vector<FakeConnectionPoint::Sink> FakeConnectionPoint::Snapshot() noexcept
{
    std::vector<Sink> sinks;
    try {
        auto lock = m_cs.Lock();
        for (const auto& s : m_sinks)
            sinks.push_back(s.second);
    } catch (...) {
        sinks.clear();
    }
    return sinks;
}

void FakeConnectionPoint::InvokeAll(DISPID id, VARIANT* args, UINT count) noexcept
{
    // DISPPARAMS holds the arguments last first.
    VARIANT reversed[2];
    for (UINT i = 0; i < count; ++i)
        reversed[i] = args[count - 1 - i];
    DISPPARAMS params{reversed, nullptr, count, 0};
    for (const Sink& sink : Snapshot()) {
        VARIANT result;
        ::VariantInit(&result);
        sink->Invoke(id, IID_NULL, kLibraryLocale, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        ::VariantClear(&result);
    }
}

void FakeConnectionPoint::FireState(long state) noexcept
try {
    JournalReport(m_strName + ">StateChange(" + std::to_string(state) + ")");
    if (m_bByDispatch) {
        VARIANT arg;
        V_VT(&arg) = VT_I4;
        V_I4(&arg) = state;
        InvokeAll(2, &arg, 1);
        return;
    }
    for (const Sink& sink : Snapshot()) {
        if (m_bConverter)
            static_cast<ITolviFileConverterEvents*>(sink.Get())->StateChange(state);
        else
            static_cast<ITolviFileTranslatorEvents*>(sink.Get())->StateChange(state);
    }
} catch (...) {
}

void FakeConnectionPoint::FireProgress(long progress, long maxProgress) noexcept
try {
    JournalReport(m_strName + ">ProgressChange(" + std::to_string(progress) + "," + std::to_string(maxProgress) + ")");
    if (m_bByDispatch) {
        VARIANT args[2];
        V_VT(&args[0]) = VT_I4;
        V_I4(&args[0]) = progress;
        V_VT(&args[1]) = VT_I4;
        V_I4(&args[1]) = maxProgress;
        InvokeAll(m_bConverter ? 1 : 3, args, 2);
        return;
    }
    for (const Sink& sink : Snapshot()) {
        if (m_bConverter)
            static_cast<ITolviFileConverterEvents*>(sink.Get())->ProgressChange(progress, maxProgress);
        else
            static_cast<ITolviFileTranslatorEvents*>(sink.Get())->ProgressChange(progress, maxProgress);
    }
} catch (...) {
}

void FakeConnectionPoint::FirePropertyChange(const VARIANT& name, const VARIANT& value) noexcept
try {
    if (m_bConverter)
        return; // converter events have no PropertyChange
    JournalReport(m_strName + ">PropertyChange(" + NameText(name) + "=" + VariantText(value) + ")");
    if (m_bByDispatch) {
        VARIANT args[2] = {name, value}; // shallow: Invoke does not take ownership
        InvokeAll(1, args, 2);
        return;
    }
    for (const Sink& sink : Snapshot())
        static_cast<ITolviFileTranslatorEvents*>(sink.Get())->PropertyChange(name, value);
} catch (...) {
}

void FakeConnectionPoint::Clear() noexcept
{
    std::vector<std::pair<DWORD, Sink>> dropped;
    {
        auto lock = m_cs.Lock();
        dropped.swap(m_sinks);
    }
}

} // namespace fakes
