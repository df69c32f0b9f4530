#pragma once
// One outgoing interface of a component: the connection point that clients
// (and the manager's chain) advise, and the list of sinks the component
// fires to. Components report on their worker threads, so sinks are called
// on whatever thread fires: what the manager's inner sinks expect, and what a
// client that talks to a component directly must be ready for (a
// multithreaded apartment, or a free-threaded sink).
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <utility>
#include <vector>

#include "vembro/com/Resource.h"

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

    // Calls fire(sink) for every sink advised at the time of the call,
    // outside the lock, so that a sink may unadvise from inside its event.
    // Sinks' results are ignored.
    template <class Sink, class Fire>
    void FireEach(Fire&& fire) noexcept
    {
        for (auto& entry : Snapshot())
            fire(static_cast<Sink*>(entry.second.Get()));
    }

private:
    using Connection = std::pair<DWORD, Microsoft::WRL::ComPtr<IUnknown>>;
    std::vector<Connection> Snapshot() noexcept;

    const IID& m_iid;
    IConnectionPointContainer* m_owner; // not owned: the point lives inside it
    CriticalSection m_cs;
    std::vector<Connection> m_sinks;    // each holds the sink's event interface
    DWORD m_dwNextCookie = 1;
};

} // namespace vembro::kit
