#include "BenchSinks.h"

#include <ocidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace bench {

RunWaiter::RunWaiter(long sinks) : m_hDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_nSinks(sinks) {}
RunWaiter::~RunWaiter() { ::CloseHandle(m_hDone); }

void RunWaiter::Reset() noexcept
{
    m_nFinal = -1;
    m_nProgress = 0;
    m_nFinals = 0;
    ::ResetEvent(m_hDone);
}

void RunWaiter::OnState(long state, bool chain) noexcept
{
    bool final = state == FTSTATE_TRANSLATE_COMPLETE || state == FTSTATE_STOPPED || state == FTSTATE_ERROR ||
                 (!chain && state == FTSTATE_READY);
    if (final) {
        m_nFinal = state;
        if (++m_nFinals >= m_nSinks)
            ::SetEvent(m_hDone);
    }
}

long RunWaiter::Wait(DWORD timeoutMs) noexcept
{
    return ::WaitForSingleObject(m_hDone, timeoutMs) == WAIT_OBJECT_0 ? m_nFinal.load() : -1;
}

const vembro::QIEntry* CTranslatorSink::QITable() noexcept
{
    static const vembro::QIEntry table[] = {
        VEMBRO_QI(CTranslatorSink, ITolviFileTranslatorEvents),
        VEMBRO_QI_AS(CTranslatorSink, IID_IDispatch, ITolviFileTranslatorEvents),
        VEMBRO_QI_END,
    };
    return table;
}

STDMETHODIMP CTranslatorSink::StateChange(LONG state) noexcept
{
    if (m_pWaiter)
        m_pWaiter->OnState(state, m_bChain);
    return S_OK;
}

STDMETHODIMP CTranslatorSink::ProgressChange(LONG, LONG) noexcept
{
    if (m_pWaiter)
        m_pWaiter->OnProgress();
    return S_OK;
}

const vembro::QIEntry* CConverterSink::QITable() noexcept
{
    static const vembro::QIEntry table[] = {
        VEMBRO_QI(CConverterSink, ITolviFileConverterEvents),
        VEMBRO_QI_AS(CConverterSink, IID_IDispatch, ITolviFileConverterEvents),
        VEMBRO_QI_END,
    };
    return table;
}

STDMETHODIMP CConverterSink::ProgressChange(LONG, LONG) noexcept
{
    if (m_pWaiter)
        m_pWaiter->OnProgress();
    return S_OK;
}

STDMETHODIMP CConverterSink::StateChange(LONG state) noexcept
{
    if (m_pWaiter)
        m_pWaiter->OnState(state, false);
    return S_OK;
}

HRESULT Connect_nothrow(IUnknown* source, const IID& events, IUnknown* sink, DWORD* cookie) noexcept
{
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_PPV_ARGS(&container));
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(events, &point);
    return FAILED(hr) ? hr : point->Advise(sink, cookie);
}

void Disconnect(IUnknown* source, const IID& events, DWORD cookie) noexcept
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(source->QueryInterface(IID_PPV_ARGS(&container))) &&
        SUCCEEDED(container->FindConnectionPoint(events, &point)))
        point->Unadvise(cookie);
}

} // namespace bench
