#include "vembro/com/ConnectionPoint.h"

#include <wrl/client.h>
#include <utility>

#include "vembro/com/Error.h"

namespace vembro {

using Microsoft::WRL::ComPtr;

namespace {

constexpr bool IsMarshalled(SinkHolding holding) { return holding == SinkHolding::Marshalled; }

} // namespace

template <SinkHolding Holding>
BasicConnectionPoint<Holding>::~BasicConnectionPoint()
{
    for (DWORD anchor : m_anchors.TakeAll())
        CSinkAnchors::Revoke(anchor);
}

// The holder of a marshalling point's lock may be waiting for a sink's
// apartment (marshalling a proxy can ask it for references), so a
// single-threaded apartment that must wait for the lock serves calls
// meanwhile. The lock itself stays a critical section: taken at once, as it
// nearly always is, it costs no kernel call.
template <SinkHolding Holding>
CriticalSection::Guard BasicConnectionPoint<Holding>::Lock() noexcept
{
    CriticalSection& cs = m_vec.m_cs;
    if (!IsMarshalled(Holding) || !m_hNever)
        return cs.Lock();
    if (cs.TryEnter())
        return CriticalSection::Guard(cs, std::adopt_lock);
    APTTYPE type = APTTYPE_MTA;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(::CoGetApartmentType(&type, &qualifier)) || (type != APTTYPE_STA && type != APTTYPE_MAINSTA))
        return cs.Lock();
    HANDLE never = m_hNever.get();
    DWORD index = 0;
    do
        ::CoWaitForMultipleHandles(0, 1, 1, &never, &index); // serves calls for a moment
    while (!cs.TryEnter());
    return CriticalSection::Guard(cs, std::adopt_lock);
}

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::QueryInterface(REFIID riid, void** ppv) noexcept
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

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::GetConnectionInterface(IID* piid) noexcept
{
    if (!piid)
        return E_POINTER;
    *piid = m_iid;
    return S_OK;
}

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept
{
    if (!ppCPC)
        return E_POINTER;
    m_pContainer->AddRef();
    *ppCPC = m_pContainer;
    return S_OK;
}

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept
try {
    if (!pUnkSink || !pdwCookie)
        return E_POINTER;
    *pdwCookie = 0;

    ComPtr<IUnknown> events;
    HRESULT hr = pUnkSink->QueryInterface(m_iid, reinterpret_cast<void**>(events.GetAddressOf()));
    if (hr == E_NOINTERFACE)
        return CONNECT_E_CANNOTCONNECT;
    ThrowIfFailed(hr);

    Slot* slot = nullptr;
    DWORD anchor = 0;
    if constexpr (IsMarshalled(Holding)) {
        hr = ::CoMarshalInterThreadInterfaceInStream(m_iid, events.Get(), &slot);
        if (hr == E_NOINTERFACE)
            return CONNECT_E_CANNOTCONNECT;
        ThrowIfFailed(hr);
        anchor = CSinkAnchors::Register_nothrow(events.Get());
        events.Reset(); // from here on the stream holds the connection
    } else {
        slot = events.Detach();
    }

    DWORD cookie = 0;
    DWORD stale = 0; // never left behind by a connection, but never overwritten either
    {
        auto lock = Lock();
        cookie = m_vec.Add(slot);
        stale = m_anchors.Take(cookie);
        if (cookie != 0 && anchor != 0 && m_anchors.Set(cookie, anchor))
            anchor = 0; // recorded; revoked when the connection ends
    }
    CSinkAnchors::Revoke(stale);
    CSinkAnchors::Revoke(anchor);
    if (cookie == 0) {
        SinkSlots<Slot>::ReleaseSlot(slot);
        return CONNECT_E_ADVISELIMIT;
    }
    *pdwCookie = cookie;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::Unadvise(DWORD dwCookie) noexcept
{
    Slot* slot = nullptr;
    BOOL inRange = FALSE;
    DWORD anchor = 0;
    {
        auto lock = Lock();
        inRange = m_vec.Remove(dwCookie, &slot);
        anchor = m_anchors.Take(dwCookie);
    }
    if (!inRange || (!IsMarshalled(Holding) && !slot))
        return CONNECT_E_NOCONNECTION;
    // Releasing may call into the sink's apartment: never under the lock.
    // The anchor goes first, so that the slot's stream makes the last
    // release of the sink's stub, in the sink's own apartment.
    CSinkAnchors::Revoke(anchor);
    if (slot)
        SinkSlots<Slot>::ReleaseSlot(slot);
    return S_OK;
}

template <SinkHolding Holding>
HRESULT BasicConnectionPoint<Holding>::Live_nothrow(std::vector<ConnectionEntry>& entries) noexcept
try {
    std::vector<DWORD> dropped; // anchors of sinks that are gone
    {
        auto lock = Lock();
        entries.reserve(static_cast<size_t>(m_vec.GetSize()));
        dropped.reserve(static_cast<size_t>(m_vec.GetSize()));
        DWORD cookie = 0;
        for (Slot*& slot : m_vec) {
            ++cookie;
            if (!slot)
                continue;
            if constexpr (IsMarshalled(Holding)) {
                // The stream is consumed by the unmarshal; a sink that cannot
                // be unmarshalled any more leaves its slot empty for good.
                ComPtr<IUnknown> sink;
                HRESULT hr = ::CoGetInterfaceAndReleaseStream(std::exchange(slot, nullptr), m_iid,
                                                              reinterpret_cast<void**>(sink.GetAddressOf()));
                if (FAILED(hr) || !sink) {
                    dropped.push_back(m_anchors.Take(cookie));
                    continue;
                }
                // A failed re-marshal still lets this enumeration reach the
                // sink; only the following ones lose it, and its anchor.
                IStream* fresh = nullptr;
                if (SUCCEEDED(::CoMarshalInterThreadInterfaceInStream(m_iid, sink.Get(), &fresh)))
                    slot = fresh;
                else
                    dropped.push_back(m_anchors.Take(cookie));
                entries.push_back(ConnectionEntry{std::move(sink), cookie});
            } else {
                entries.push_back(ConnectionEntry{ComPtr<IUnknown>(slot), cookie});
            }
        }
    }
    for (DWORD anchor : dropped)
        CSinkAnchors::Revoke(anchor);
    return S_OK;
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

template <SinkHolding Holding>
STDMETHODIMP BasicConnectionPoint<Holding>::EnumConnections(IEnumConnections** ppEnum) noexcept
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    std::vector<ConnectionEntry> entries;
    HRESULT hr = Live_nothrow(entries);
    return FAILED(hr) ? hr : CreateConnectionsEnum_nothrow(std::move(entries), ppEnum);
}

template class BasicConnectionPoint<SinkHolding::Marshalled>;
template class BasicConnectionPoint<SinkHolding::Direct>;

HRESULT FindSingleConnectionPoint_nothrow(IConnectionPoint* cp, REFIID requested, IConnectionPoint** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    IID iid = IID_NULL;
    HRESULT hr = cp->GetConnectionInterface(&iid);
    if (FAILED(hr))
        return hr;
    if (!::IsEqualIID(iid, requested))
        return CONNECT_E_NOCONNECTION;
    cp->AddRef();
    *out = cp;
    return S_OK;
}

HRESULT EnumSingleConnectionPoint_nothrow(IConnectionPoint* cp, IEnumConnectionPoints** out) noexcept
try {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    std::vector<ComPtr<IConnectionPoint>> points{ComPtr<IConnectionPoint>(cp)};
    return CreateConnectionPointsEnum_nothrow(std::move(points), out);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

} // namespace vembro
