#pragma once
// A connection point for one outgoing interface.
//
// How an owner uses it
// --------------------
// The connection point is a member object of its owner, not a base class: a
// class deriving from both the owner's interfaces and IConnectionPoint could
// have only one QueryInterface, and the object wrapper's QueryInterface would
// answer for both. As a member it keeps its own QueryInterface (IUnknown and
// IConnectionPoint, itself) while its AddRef and Release are the owner's:
// the connection point is part of the owner and lives exactly as long.
//
//     class CMyObject : public CComObjectRootEx, public IMyInterface,
//                       public IConnectionPointContainer {
//     public:
//         CMyObject() : m_cp(this) {}   // the container face
//
//         STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override
//         { return EnumSingleConnectionPoint_nothrow(&m_cp, ppEnum); }
//         STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override
//         { return FindSingleConnectionPoint_nothrow(&m_cp, riid, ppCP); }
//
//         // anywhere, on any thread with COM initialised, holding no lock
//         // that a client callback could need:
//         m_cp.FireEach([&](IMyEvents* sink) { sink->Changed(); });
//     private:
//         ConnectionPoint<IMyEvents> m_cp;
//     };
//
// Do not let `this` be converted implicitly in the member initialiser when the
// owner has several paths to IUnknown: the constructor takes exactly the
// owner's IConnectionPointContainer*. The pointer is not AddRef'd (that would
// be a cycle); it is used only while the owner lives, which it must, since
// the connection point is inside it.
//
// How sinks are held (the SinkHolding parameter)
// -----------------------------------------------
// - Marshalled: every sink is kept marshalled into a stream, and each firing
//   or enumeration unmarshals it in the calling thread and marshals it back,
//   so that events reach a sink in its own apartment from whatever thread
//   fires. A sink that can no longer be unmarshalled (its apartment has gone)
//   is dropped for good. Each connection also holds its sink in the global
//   interface table (see SinkAnchors.h) purely to keep the sink's stub alive
//   between firings. Unadvise of a free slot within range succeeds.
//   Taking a sink out and marshalling it back may wait, under the point's
//   lock, for the sink's apartment, whose thread may itself be waiting for
//   that lock: a single-threaded apartment keeps serving calls while it
//   waits for the lock.
// - Direct: the point holds one reference to each sink and calls it on the
//   firing thread; for sinks that are free-threaded or live in the
//   multithreaded apartment, where a firing per progress step must cost no
//   marshalling. Unadvise of a free slot gives CONNECT_E_NOCONNECTION.
//
// Connection point semantics
// --------------------------
// - GetConnectionInterface: the events IID (E_POINTER for null).
// - GetConnectionPointContainer: the owner, with a reference for the caller.
// - Advise: E_POINTER for null arguments; a sink without the events
//   interface, or one that cannot be marshalled for lack of an interface,
//   gives CONNECT_E_CANNOTCONNECT; other failures pass through; no memory for
//   another slot gives CONNECT_E_ADVISELIMIT. The cookie is the 1-based slot
//   index: the first free slot is reused (advise, advise, unadvise 1, advise
//   -> 1, 2, 1).
// - Unadvise: CONNECT_E_NOCONNECTION for 0 or a cookie beyond the slots
//   (there are 1, then 4, 8, 16... slots).
// - EnumConnections: the live sinks (their events interface) with cookies.
// - FireEach: calls the function for every sink advised at the time of the
//   call, one after the other, outside every lock, so that a sink may
//   unadvise from inside its event; failures and exceptions of a sink are
//   ignored and never stop the next sink.
// - Destroying the connection point (with its owner) releases every sink.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <vector>

#include "vembro/com/Enumerators.h"
#include "vembro/com/SinkAnchors.h"
#include "vembro/com/SinkList.h"

namespace vembro {

enum class SinkHolding { Marshalled, Direct };

template <SinkHolding Holding>
class BasicConnectionPoint : public IConnectionPoint {
public:
    BasicConnectionPoint(const IID& iid, IConnectionPointContainer* owner) noexcept : m_iid(iid), m_pContainer(owner)
    {
    }
    BasicConnectionPoint(const BasicConnectionPoint&) = delete;
    BasicConnectionPoint& operator=(const BasicConnectionPoint&) = delete;
    // Anchors go before the slots, so that the last release of each sink's
    // stub happens through its slot's stream in the sink's own apartment.
    ~BasicConnectionPoint();

    // IUnknown: identity of its own, reference count of the owner.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return m_pContainer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return m_pContainer->Release(); }

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* piid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD dwCookie) noexcept override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) noexcept override;

    // Calls fire(sink) with each live sink as Sink*, the events interface.
    // Events are best effort: nothing is reported.
    template <class Sink, class Fire>
    void FireEach(Fire&& fire) noexcept
    {
        std::vector<ConnectionEntry> sinks;
        if (FAILED(Live_nothrow(sinks)))
            return; // out of memory: this event is lost, the next one may pass
        for (ConnectionEntry& entry : sinks) {
            try {
                fire(static_cast<Sink*>(entry.spUnk.Get()));
            } catch (...) {
                // A sink's failure is its own business; the others still hear.
            }
        }
    }

private:
    using Slot = std::conditional_t<Holding == SinkHolding::Marshalled, IStream, IUnknown>;
    // The point's lock (see "How sinks are held").
    CriticalSection::Guard Lock() noexcept;
    // The live sinks in cookie order, each reachable from the calling thread.
    HRESULT Live_nothrow(std::vector<ConnectionEntry>& entries) noexcept;

    const IID& m_iid;
    IConnectionPointContainer* const m_pContainer;
    SinkSlots<Slot> m_vec;
    CSinkAnchors m_anchors; // guarded by m_vec.m_cs, like the slots
    // Never signalled: what a single-threaded apartment waits on while it
    // serves calls for the lock. Only a point that marshals calls out under it.
    unique_handle m_hNever{Holding == SinkHolding::Marshalled ? ::CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr};
};

extern template class BasicConnectionPoint<SinkHolding::Marshalled>;
extern template class BasicConnectionPoint<SinkHolding::Direct>;

// The connection point of one events interface.
template <class Events, SinkHolding Holding = SinkHolding::Marshalled>
class ConnectionPoint : public BasicConnectionPoint<Holding> {
public:
    explicit ConnectionPoint(IConnectionPointContainer* owner) noexcept
        : BasicConnectionPoint<Holding>(__uuidof(Events), owner)
    {
    }
    template <class Fire>
    void FireEach(Fire&& fire) noexcept
    {
        BasicConnectionPoint<Holding>::template FireEach<Events>(fire);
    }
};

// IConnectionPointContainer of an owner with one connection point:
// FindConnectionPoint answers `cp` (with a reference) for its own interface
// and CONNECT_E_NOCONNECTION for any other; E_POINTER for a null `out`.
HRESULT FindSingleConnectionPoint_nothrow(IConnectionPoint* cp, REFIID requested, IConnectionPoint** out) noexcept;
// EnumConnectionPoints: an enumerator over `cp` alone; E_POINTER for null.
HRESULT EnumSingleConnectionPoint_nothrow(IConnectionPoint* cp, IEnumConnectionPoints** out) noexcept;

} // namespace vembro
