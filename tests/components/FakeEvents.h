#pragma once
// The one connection point of a fake: several sinks, called in the order in
// which they were advised, through their vtable or, when configured, through
// IDispatch::Invoke with the DISPIDs of the event interface. It lives inside
// its component and shares the component's reference count.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <string>
#include <utility>
#include <vector>

#include "vembro/com/Resource.h"
#include "vembro/Vembro.h"

namespace fakes {

class FakeConnectionPoint final : public IConnectionPoint {
public:
    // `owner` is the component (its reference count is used), `converter`
    // selects ITolviFileConverterEvents over ITolviFileTranslatorEvents.
    void Init(IConnectionPointContainer* owner, bool converter, bool byDispatch, const std::string& name) noexcept;
    const IID& EventIid() const noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP GetConnectionInterface(IID* piid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppcpc) noexcept override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
    // The system never enumerates connections.
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) noexcept override;

    // Each writes one report line to the journal and calls every sink; the
    // sinks' answers are not looked at.
    void FireState(long state) noexcept;
    void FireProgress(long progress, long maxProgress) noexcept;
    void FirePropertyChange(const VARIANT& name, const VARIANT& value) noexcept;

    // Drops every sink (the component is going away).
    void Clear() noexcept;

private:
    using Sink = Microsoft::WRL::ComPtr<IDispatch>;
    std::vector<Sink> Snapshot() noexcept;
    // Arguments in the order of the event's parameter list.
    void InvokeAll(DISPID id, VARIANT* args, UINT count) noexcept;

    IConnectionPointContainer* m_pOwner = nullptr;
    bool m_bConverter = true;
    bool m_bByDispatch = false;
    std::string m_strName;
    vembro::CriticalSection m_cs;
    DWORD m_dwNextCookie = 1;
    std::vector<std::pair<DWORD, Sink>> m_sinks;
};

} // namespace fakes
