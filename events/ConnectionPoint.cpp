#include "events/ConnectionPoint.h"

#include <wrl/client.h>
#include <utility>
#include <vector>

#include "vembro/com/Error.h"
#include "vembro/com/Enumerators.h"

namespace vembro {

using Microsoft::WRL::ComPtr;

CFreeConnectionPoint::~CFreeConnectionPoint()
{
    for (DWORD anchor : m_anchors.TakeAll())
        CSinkAnchors::Revoke(anchor);
}

STDMETHODIMP CFreeConnectionPoint::QueryInterface(REFIID riid, void** ppv) noexcept
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

STDMETHODIMP_(ULONG) CFreeConnectionPoint::AddRef() noexcept { return m_pContainer->AddRef(); }

STDMETHODIMP_(ULONG) CFreeConnectionPoint::Release() noexcept { return m_pContainer->Release(); }

STDMETHODIMP CFreeConnectionPoint::GetConnectionInterface(IID* piid) noexcept
{
    if (!piid)
        return E_POINTER;
    *piid = IID_ITolviFileTranslatorEvents;
    return S_OK;
}

STDMETHODIMP CFreeConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept
{
    if (!ppCPC)
        return E_POINTER;
    m_pContainer->AddRef();
    *ppCPC = m_pContainer;
    return S_OK;
}

STDMETHODIMP CFreeConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept
try {
    if (!pUnkSink || !pdwCookie)
        return E_POINTER;
    *pdwCookie = 0;

    ComPtr<ITolviFileTranslatorEvents> events;
    HRESULT hr = pUnkSink->QueryInterface(IID_ITolviFileTranslatorEvents, reinterpret_cast<void**>(events.GetAddressOf()));
    if (hr == E_NOINTERFACE)
        return CONNECT_E_CANNOTCONNECT;
    ThrowIfFailed(hr);

    IStream* stream = nullptr;
    hr = ::CoMarshalInterThreadInterfaceInStream(IID_ITolviFileTranslatorEvents, events.Get(), &stream);
    if (hr == E_NOINTERFACE)
        return CONNECT_E_CANNOTCONNECT;
    ThrowIfFailed(hr);
    DWORD anchor = CSinkAnchors::Register_nothrow(events.Get());
    events.Reset(); // from here on the stream holds the connection

    DWORD cookie = 0;
    DWORD stale = 0; // never left behind by a connection, but never overwritten either
    {
        auto lock = m_vec.m_cs.Lock();
        cookie = m_vec.Add(stream);
        stale = m_anchors.Take(cookie);
        if (cookie != 0 && m_anchors.Set(cookie, anchor))
            anchor = 0; // recorded; revoked when the connection ends
    }
    CSinkAnchors::Revoke(stale);
    CSinkAnchors::Revoke(anchor);
    if (cookie == 0) {
        CComDynamicUnkArrayEx::ReleaseSlot(stream);
        return CONNECT_E_ADVISELIMIT;
    }
    *pdwCookie = cookie;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CFreeConnectionPoint::Unadvise(DWORD dwCookie) noexcept
{
    IStream* stream = nullptr;
    BOOL inRange = FALSE;
    DWORD anchor = 0;
    {
        auto lock = m_vec.m_cs.Lock();
        inRange = m_vec.Remove(dwCookie, &stream);
        anchor = m_anchors.Take(dwCookie);
    }
    if (!inRange)
        return CONNECT_E_NOCONNECTION;
    // Releasing may call into the sink's apartment: never under the lock.
    // The anchor goes first, so that the slot's stream makes the last
    // release of the sink's stub, in the sink's own apartment.
    CSinkAnchors::Revoke(anchor);
    if (stream)
        CComDynamicUnkArrayEx::ReleaseSlot(stream);
    return S_OK;
}

STDMETHODIMP CFreeConnectionPoint::EnumConnections(IEnumConnections** ppEnum) noexcept
try {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;

    std::vector<ConnectionEntry> entries;
    std::vector<DWORD> dropped; // anchors of sinks that are gone
    {
        auto lock = m_vec.m_cs.Lock();
        entries.reserve(static_cast<size_t>(m_vec.GetSize()));
        dropped.reserve(static_cast<size_t>(m_vec.GetSize()));
        DWORD cookie = 0;
        for (IStream*& slot : m_vec) {
            ++cookie;
            if (!slot)
                continue;
            // The stream is consumed by the unmarshal; a sink that cannot be
            // unmarshalled any more leaves its slot empty for good.
            ComPtr<IUnknown> sink;
            HRESULT hr = ::CoGetInterfaceAndReleaseStream(std::exchange(slot, nullptr),
                                                          IID_ITolviFileTranslatorEvents,
                                                          reinterpret_cast<void**>(sink.GetAddressOf()));
            if (FAILED(hr) || !sink) {
                dropped.push_back(m_anchors.Take(cookie));
                continue;
            }
            // A failed re-marshal still lets this enumeration reach the sink;
            // only the following ones lose it, and so does its anchor.
            IStream* fresh = nullptr;
            if (SUCCEEDED(::CoMarshalInterThreadInterfaceInStream(IID_ITolviFileTranslatorEvents, sink.Get(), &fresh)))
                slot = fresh;
            else
                dropped.push_back(m_anchors.Take(cookie));
            entries.push_back(ConnectionEntry{std::move(sink), cookie});
        }
    }
    for (DWORD anchor : dropped)
        CSinkAnchors::Revoke(anchor);
    return CreateConnectionsEnum_nothrow(std::move(entries), ppEnum);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

void CProxyITolviFileTranslatorEvents::Fire_StateChange(long state) noexcept
{
    VARIANTARG args[1];
    ::VariantInit(&args[0]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = state;
    Fire(2, args, 1);
}

void CProxyITolviFileTranslatorEvents::Fire_ProgressChange(long progress, long maxProgress) noexcept
{
    VARIANTARG args[2];
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = maxProgress;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = progress;
    Fire(3, args, 2);
}

void CProxyITolviFileTranslatorEvents::Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept
{
    ComPtr<IEnumConnections> connections;
    if (FAILED(EnumConnections(connections.GetAddressOf())) || !connections)
        return;
    DISPPARAMS params = {args, nullptr, count, 0};
    for (;;) {
        CONNECTDATA cd = {};
        if (connections->Next(1, &cd, nullptr) != S_OK)
            break;
        if (!cd.pUnk)
            continue;
        // Each entry is the ITolviFileTranslatorEvents face of its sink,
        // whose first four methods after IUnknown are IDispatch's.
        auto* sink = static_cast<ITolviFileTranslatorEvents*>(cd.pUnk);
        try {
            sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        } catch (...) {
            // A sink's failure is its own business; the others still hear.
        }
        cd.pUnk->Release(); // the reference Next handed out
    }
}

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
