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
    if constexpr (IsMarshalled(Holding)) {
        hr = MarshalSink_nothrow(m_iid, events.Get(), &slot);
        if (hr == E_NOINTERFACE)
            return CONNECT_E_CANNOTCONNECT;
        ThrowIfFailed(hr);
        events.Reset(); // from here on the stream holds the connection
    } else {
        slot = events.Detach();
    }

    DWORD cookie = 0;
    {
        auto lock = m_vec.m_cs.Lock();
        cookie = m_vec.Add(slot);
    }
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
    {
        auto lock = m_vec.m_cs.Lock();
        inRange = m_vec.Remove(dwCookie, &slot);
    }
    if (!inRange || (!IsMarshalled(Holding) && !slot))
        return CONNECT_E_NOCONNECTION;
    // Releasing may call into the sink's apartment: never under the lock.
    if (slot)
        SinkSlots<Slot>::ReleaseSlot(slot);
    return S_OK;
}

// The platform's proxies do not survive two threads of one apartment
// unmarshalling the same object at once (under Wine a thread then calls
// through a freed proxy). The thread whose turn it is may be calling into a
// single-threaded apartment that waits here, so that one keeps serving calls.
template <SinkHolding Holding>
auto BasicConnectionPoint<Holding>::TakeTurn() noexcept -> Turn
{
    HANDLE mutex = m_turn.get();
    DWORD index = 0;
    const bool mine = mutex && SUCCEEDED(::CoWaitForMultipleHandles(0, INFINITE, 1, &mutex, &index));
    return Turn(mine ? mutex : nullptr, &::ReleaseMutex);
}

template <SinkHolding Holding>
HRESULT BasicConnectionPoint<Holding>::Live_nothrow(std::vector<ConnectionEntry>& entries) noexcept
try {
    // The slot as found (held, so that its address cannot come back as
    // another connection's), and the copy that reaches its sink.
    struct Found {
        ComPtr<Slot> slot, copy;
        DWORD cookie;
    };
    std::vector<Found> found;
    {
        auto lock = m_vec.m_cs.Lock();
        found.reserve(static_cast<size_t>(m_vec.GetSize()));
        DWORD cookie = 0;
        for (Slot* slot : m_vec) {
            ++cookie;
            ComPtr<Slot> copy;
            if constexpr (IsMarshalled(Holding)) {
                if (slot && FAILED(slot->Clone(&copy)))
                    continue; // no memory: this sink misses this event only
            }
            if (slot)
                found.push_back(Found{slot, std::move(copy), cookie});
        }
    }
    entries.reserve(found.size());
    const Turn turn = IsMarshalled(Holding) && !found.empty() ? TakeTurn() : Turn(nullptr, &::ReleaseMutex);
    for (Found& f : found) {
        if constexpr (!IsMarshalled(Holding)) {
            entries.push_back(ConnectionEntry{std::move(f.slot), f.cookie});
        } else if (ComPtr<IUnknown> sink; SUCCEEDED(UnmarshalSink_nothrow(f.copy.Get(), m_iid, &sink))) {
            entries.push_back(ConnectionEntry{std::move(sink), f.cookie});
        } else {
            // It cannot be reached any more (its apartment has gone): its
            // slot is freed, unless it was unadvised meanwhile.
            Slot* gone = nullptr;
            {
                auto lock = m_vec.m_cs.Lock();
                if (f.cookie <= static_cast<DWORD>(m_vec.GetSize()) && m_vec.begin()[f.cookie - 1] == f.slot.Get())
                    m_vec.Remove(f.cookie, &gone);
            }
            if (gone)
                SinkSlots<Slot>::ReleaseSlot(gone);
        }
    }
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
