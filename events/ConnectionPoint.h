#pragma once
// The chain translator's connection point towards its clients.
//
// Every client sink of ITolviFileTranslatorEvents is kept marshalled into a
// stream, so that events can be fired from whatever thread a component
// happens to report on: each firing unmarshals the sinks in the firing thread.
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
//     class CTolviChainFileTranslator : public CComObjectRootEx,
//                                       public VembroDispatch<ITolviFileTranslator2>,
//                                       public IConnectionPointContainer {
//     public:
//         CTolviChainFileTranslator() : m_cp(this) {}   // the container face
//
//         STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override
//         { return EnumSingleConnectionPoint_nothrow(&m_cp, ppEnum); }
//         STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override
//         { return FindSingleConnectionPoint_nothrow(&m_cp, riid, ppCP); }
//
//         // anywhere, on any thread with COM initialised, holding no lock
//         // that a client callback could need:
//         m_cp.Fire_StateChange(FTSTATE_TRANSLATE);
//         m_cp.Fire_ProgressChange(50, 100);
//     private:
//         CProxyITolviFileTranslatorEvents m_cp;
//     };
//
// Do not let `this` be converted implicitly in the member initialiser when the
// owner has several paths to IUnknown: the constructor takes exactly the
// owner's IConnectionPointContainer*. The pointer is not AddRef'd (that would
// be a cycle); it is used only while the owner lives, which it must, since
// the connection point is inside it.
//
// Connection point semantics
// --------------------------
// - GetConnectionInterface: IID_ITolviFileTranslatorEvents (E_POINTER for null).
// - GetConnectionPointContainer: the owner, with a reference for the caller.
// - Advise: E_POINTER for null arguments; a sink without
//   ITolviFileTranslatorEvents, or one that cannot be marshalled for lack of
//   an interface, gives CONNECT_E_CANNOTCONNECT; no memory for another slot
//   gives CONNECT_E_ADVISELIMIT. The cookie is the 1-based slot index: the
//   first free slot is reused (advise, advise, unadvise 1, advise -> 1, 2, 1).
// - Unadvise: CONNECT_E_NOCONNECTION for 0 or a cookie beyond the slots
//   (there are 1, then 4, 8, 16... slots); an already free slot in range
//   succeeds.
// - EnumConnections: the live sinks, unmarshalled in the calling thread and
//   each one marshalled afresh into its slot. A sink that can no longer be
//   unmarshalled (its apartment has gone) is dropped for good. Each
//   connection also holds its sink in the global interface table (see
//   SinkAnchors.h) purely to keep the sink's stub alive between firings.
// - Fire_StateChange / Fire_ProgressChange: IDispatch::Invoke with DISPID 2
//   or 3 on every sink, one after the other, outside every lock; failures and
//   exceptions of a sink are ignored and never stop the next sink. Nobody is
//   ever told PropertyChange.
// - Destroying the connection point (with its owner) releases every sink.
//
// Toolchain note: MinGW's Microsoft::WRL::ComPtr::Attach adds a reference
// (unlike the original), so never use it to take over a reference handed out
// by Next, QueryInterface or the like; use vembro::TakeOver instead.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "events/SinkAnchors.h"
#include "events/SinkList.h"
#include "vembro/Vembro.h"

namespace vembro {

class CFreeConnectionPoint : public IConnectionPoint {
public:
    explicit CFreeConnectionPoint(IConnectionPointContainer* owner) noexcept : m_pContainer(owner) {}
    CFreeConnectionPoint(const CFreeConnectionPoint&) = delete;
    CFreeConnectionPoint& operator=(const CFreeConnectionPoint&) = delete;
    // Anchors go before the slots, so that the last release of each sink's
    // stub happens through its slot's stream in the sink's own apartment.
    ~CFreeConnectionPoint();

    // IUnknown: identity of its own, reference count of the owner.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* piid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD dwCookie) noexcept override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) noexcept override;

private:
    IConnectionPointContainer* const m_pContainer;
    CComDynamicUnkArrayEx m_vec;
    CSinkAnchors m_anchors; // guarded by m_vec.m_cs, like the slots
};

// The firing side. Neither operation reports anything: events are best effort.
class CProxyITolviFileTranslatorEvents : public CFreeConnectionPoint {
public:
    using CFreeConnectionPoint::CFreeConnectionPoint;

    void Fire_StateChange(long state) noexcept;
    void Fire_ProgressChange(long progress, long maxProgress) noexcept;

private:
    // args in DISPPARAMS order (last argument first).
    void Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept;
};

// IConnectionPointContainer of an owner with one connection point:
// FindConnectionPoint answers `cp` (with a reference) for its own interface
// and CONNECT_E_NOCONNECTION for any other; E_POINTER for a null `out`.
HRESULT FindSingleConnectionPoint_nothrow(IConnectionPoint* cp, REFIID requested, IConnectionPoint** out) noexcept;
// EnumConnectionPoints: an enumerator over `cp` alone; E_POINTER for null.
HRESULT EnumSingleConnectionPoint_nothrow(IConnectionPoint* cp, IEnumConnectionPoints** out) noexcept;

} // namespace vembro
