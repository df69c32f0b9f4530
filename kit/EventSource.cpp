#include "vembro/kit/EventSource.h"

#include <objidl.h>
#include <olectl.h>
#include <algorithm>

namespace vembro::kit {
namespace {

using Microsoft::WRL::ComPtr;

HRESULT GlobalTable(ComPtr<IGlobalInterfaceTable>& git) noexcept
{
    return ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&git));
}

void Revoke(DWORD cookie) noexcept
{
    ComPtr<IGlobalInterfaceTable> git;
    if (SUCCEEDED(GlobalTable(git)))
        git->RevokeInterfaceFromGlobal(cookie);
}

} // namespace

EventSource::EventSource(const IID& iid, IConnectionPointContainer* owner) noexcept
    : m_iid(iid), m_owner(owner)
{
}

EventSource::~EventSource()
{
    for (DWORD cookie : m_cookies)
        Revoke(cookie);
}

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
    ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void**>(typed.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    ComPtr<IGlobalInterfaceTable> git;
    ThrowIfFailed(GlobalTable(git));
    DWORD newCookie = 0;
    ThrowIfFailed(git->RegisterInterfaceInGlobal(typed.Get(), m_iid, &newCookie));
    try {
        auto lock = m_cs.Lock();
        m_cookies.push_back(newCookie);
    } catch (...) {
        git->RevokeInterfaceFromGlobal(newCookie);
        throw;
    }
    *cookie = newCookie;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP EventSource::Unadvise(DWORD cookie) noexcept
{
    {
        auto lock = m_cs.Lock();
        auto it = std::find(m_cookies.begin(), m_cookies.end(), cookie);
        if (cookie == 0 || it == m_cookies.end())
            return CONNECT_E_NOCONNECTION;
        m_cookies.erase(it);
    }
    Revoke(cookie);
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
    return m_cookies.size();
}

std::vector<DWORD> EventSource::Snapshot() noexcept
{
    auto lock = m_cs.Lock();
    try {
        return m_cookies;
    } catch (...) {
        return {}; // out of memory: this report is lost, the next one may pass
    }
}

HRESULT EventSource::Fetch(DWORD cookie, void** ppv) noexcept
{
    ComPtr<IGlobalInterfaceTable> git;
    HRESULT hr = GlobalTable(git);
    return FAILED(hr) ? hr : git->GetInterfaceFromGlobal(cookie, m_iid, ppv);
}

} // namespace vembro::kit
