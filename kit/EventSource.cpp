#include "vembro/kit/EventSource.h"

#include <olectl.h>
#include <algorithm>

namespace vembro::kit {

EventSource::EventSource(const IID& iid, IConnectionPointContainer* owner) noexcept
    : m_iid(iid), m_owner(owner)
{
}

EventSource::~EventSource() = default;

STDMETHODIMP EventSource::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EventSource::AddRef() noexcept { return m_owner->AddRef(); }
STDMETHODIMP_(ULONG) EventSource::Release() noexcept { return m_owner->Release(); }

STDMETHODIMP EventSource::GetConnectionInterface(IID* piid) noexcept
{
    if (!piid)
        return E_POINTER;
    *piid = m_iid;
    return S_OK;
}

STDMETHODIMP EventSource::GetConnectionPointContainer(IConnectionPointContainer** ppcpc) noexcept
{
    if (!ppcpc)
        return E_POINTER;
    *ppcpc = m_owner;
    m_owner->AddRef();
    return S_OK;
}

STDMETHODIMP EventSource::Advise(IUnknown* sink, DWORD* cookie) noexcept
try {
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    Microsoft::WRL::ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void**>(typed.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    auto lock = m_cs.Lock();
    DWORD newCookie = m_dwNextCookie++;
    m_sinks.emplace_back(newCookie, std::move(typed));
    *cookie = newCookie;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP EventSource::Unadvise(DWORD cookie) noexcept
{
    Microsoft::WRL::ComPtr<IUnknown> released; // let go outside the lock
    auto lock = m_cs.Lock();
    auto it = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const Connection& c) { return c.first == cookie; });
    if (it == m_sinks.end())
        return CONNECT_E_NOCONNECTION;
    released = std::move(it->second);
    m_sinks.erase(it);
    lock.Release();
    return S_OK;
}

STDMETHODIMP EventSource::EnumConnections(IEnumConnections** ppEnum) noexcept
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return E_NOTIMPL;
}

size_t EventSource::SinkCount() noexcept
{
    auto lock = m_cs.Lock();
    return m_sinks.size();
}

std::vector<EventSource::Connection> EventSource::Snapshot() noexcept
{
    auto lock = m_cs.Lock();
    try {
        return m_sinks;
    } catch (...) {
        return {}; // out of memory: this report is lost, the next one may pass
    }
}

} // namespace vembro::kit
