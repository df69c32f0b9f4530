#pragma once
// One outgoing interface of a component: the connection point that clients
// (and the manager's chain) advise, and the list of sinks the component
// fires to. Sinks live in the process's global interface table, so a sink
// advised from one apartment is called through a proper proxy from the
// worker thread that reports progress.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <vector>

#include "com/Resource.h"

namespace vembro::kit {

class EventSource final : public IConnectionPoint {
public:
    // owner: the component whose reference count this point shares.
    EventSource(const IID& iid, IConnectionPointContainer* owner) noexcept;
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;
    ~EventSource();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP GetConnectionInterface(IID* piid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppcpc) noexcept override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
    // Enumeration is optional for a connection point; the kit does not keep
    // the connection data it would need.
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) noexcept override;

    const IID& Iid() const noexcept { return m_iid; }
    size_t SinkCount() noexcept;

    // Calls fire(sink) for every sink advised at the time of the call, each
    // unmarshalled into the calling thread. Sinks' results are ignored, and
    // a sink that has gone away is skipped.
    template <class Sink, class Fire>
    void FireEach(Fire&& fire) noexcept
    {
        for (DWORD cookie : Snapshot()) {
            Microsoft::WRL::ComPtr<Sink> sink;
            if (SUCCEEDED(Fetch(cookie, reinterpret_cast<void**>(sink.GetAddressOf()))) && sink)
                fire(sink.Get());
        }
    }

private:
    std::vector<DWORD> Snapshot() noexcept;
    HRESULT Fetch(DWORD cookie, void** ppv) noexcept;

    const IID& m_iid;
    IConnectionPointContainer* m_owner; // not owned: the point lives inside it
    CriticalSection m_cs;
    std::vector<DWORD> m_cookies;
};

// A new enumerator over the given points (E_OUTOFMEMORY when it cannot be made).
HRESULT CreateConnectionPointEnum(IConnectionPoint* const* points, size_t count,
                                  IEnumConnectionPoints** out) noexcept;

} // namespace vembro::kit
