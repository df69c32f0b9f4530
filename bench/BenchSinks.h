#pragma once
// Event sinks for the benchmark: they count progress reports and signal when
// a run has reached a final state.
#include <windows.h>
#include <atomic>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/Vembro.h"

namespace bench {

class RunWaiter {
public:
    // Signals once `sinks` sinks have seen the final state: a chain keeps
    // calling its other sinks after the first has been told, and the waiter
    // must outlive those calls.
    explicit RunWaiter(long sinks = 1);
    ~RunWaiter();
    void Reset() noexcept;
    void OnState(long state, bool chain) noexcept;
    void OnProgress() noexcept { ++m_nProgress; }
    // The final state, or -1 after the timeout.
    long Wait(DWORD timeoutMs) noexcept;
    long ProgressCount() const noexcept { return m_nProgress; }

private:
    HANDLE m_hDone;
    std::atomic<long> m_nFinal{-1};
    std::atomic<long> m_nProgress{0};
    std::atomic<long> m_nFinals{0};
    long m_nSinks;
};

class CTranslatorSink : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileTranslatorEvents> {
public:
    static const vembro::QIEntry* QITable() noexcept;
    // chain: the sink listens to a chain translator, whose run ends with
    // 4, 5 or 6; a component's step also ends with 0.
    void Attach(RunWaiter* waiter, bool chain) noexcept
    {
        m_pWaiter = waiter;
        m_bChain = chain;
    }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
    STDMETHODIMP StateChange(LONG state) noexcept override;
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override;

private:
    RunWaiter* m_pWaiter = nullptr;
    bool m_bChain = false;
};

class CConverterSink : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileConverterEvents> {
public:
    static const vembro::QIEntry* QITable() noexcept;
    void Attach(RunWaiter* waiter) noexcept { m_pWaiter = waiter; }
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override;
    STDMETHODIMP StateChange(LONG state) noexcept override;

private:
    RunWaiter* m_pWaiter = nullptr;
};

// Connects a sink to a component or chain; the cookie is undone by Disconnect.
HRESULT Connect_nothrow(IUnknown* source, const IID& events, IUnknown* sink, DWORD* cookie) noexcept;
void Disconnect(IUnknown* source, const IID& events, DWORD cookie) noexcept;

} // namespace bench
