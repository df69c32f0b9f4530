// How a chain translator connects its inner sinks to the component of the
// running step, and filters and scales what they report.
#include <utility>

#include "catalogue/SLock.h"
#include "events/ItemSinks.h"
#include "translator/ChainFileTranslator.h"

namespace vembro {

using Microsoft::WRL::ComPtr;

namespace {
template <class Sink>
HRESULT CreateSink_nothrow(const std::shared_ptr<CItemOwner>& owner, ComPtr<IUnknown>& sink) noexcept
{
    // Each sink holds the module: a component may call one (its worker
    // still firing) after the chain translator has gone, and the code it
    // runs must still be loaded then.
    return CreateAndQuery_nothrow<CComObject<Sink>>(IID_PPV_ARGS(&sink), [&](Sink& s) {
        s.m_pOwner = owner;
        return S_OK;
    });
}

HRESULT FindItemConnectionPoint_nothrow(IUnknown* component, int fromConverter, ComPtr<IConnectionPoint>& point) noexcept
{
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = component->QueryInterface(IID_PPV_ARGS(&container));
    if (FAILED(hr))
        return hr;
    return container->FindConnectionPoint(
        fromConverter ? IID_ITolviFileConverterEvents : IID_ITolviFileTranslatorEvents, &point);
}
} // namespace

HRESULT CTolviChainFileTranslator::AdviseItem(int fromConverter, IUnknown* component) noexcept
{
    if (!component)
        return E_POINTER;
    if (fromConverter != 0 && fromConverter != 1)
        return E_INVALIDARG;
    ComPtr<IUnknown> sink;
    HRESULT hr = fromConverter ? CreateSink_nothrow<CTolviFileConverterEvents>(m_spOwnerLink, sink)
                               : CreateSink_nothrow<CTolviFileTranslatorEvents>(m_spOwnerLink, sink);
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> point;
    hr = FindItemConnectionPoint_nothrow(component, fromConverter, point);
    if (FAILED(hr))
        return hr;
    DWORD cookie = 0;
    hr = point->Advise(sink.Get(), &cookie);
    if (FAILED(hr))
        return hr;
    auto lock = m_csRun.Lock();
    (fromConverter ? m_dwConverterCookie : m_dwTranslatorCookie) = cookie;
    return S_OK;
}

HRESULT CTolviChainFileTranslator::UnadviseItem(int fromConverter, IUnknown* component) noexcept
{
    if (!component)
        return E_POINTER;
    DWORD cookie = 0;
    {
        auto lock = m_csRun.Lock();
        cookie = std::exchange(fromConverter ? m_dwConverterCookie : m_dwTranslatorCookie, 0);
    }
    if (cookie == 0)
        return S_OK;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = FindItemConnectionPoint_nothrow(component, fromConverter, point);
    if (SUCCEEDED(hr))
        hr = point->Unadvise(cookie);
    return hr;
}

bool CTolviChainFileTranslator::TryAddRef() noexcept
{
    for (LONG count = m_dwRef; count > 0; count = m_dwRef) {
        if (::InterlockedCompareExchange(&m_dwRef, count + 1, count) == count)
            return true;
    }
    return false;
}

// Under m_csRun, not the object lock: a report that arrives on another
// thread while a step is being started (the object lock held) must not wait
// for it, since the start call may itself be waiting for that thread.
LONG CTolviChainFileTranslator::CurrentItemOf(int fromConverter, ULONG* runId) noexcept
{
    auto lock = m_csRun.Lock();
    if (runId)
        *runId = m_nRunId;
    const LONG i = m_nCurItem;
    if (i < 0 || i >= m_Chain.GetSize())
        return -1;
    const LONG type = m_Chain.GetAt(i).m_nType;
    const bool current = (fromConverter == 1 && type == CHAINITEM_CONVERTER) ||
                         (fromConverter == 0 && type == CHAINITEM_TRANSLATOR);
    return current ? i : -1;
}

bool CTolviChainFileTranslator::IsCurrentItem(int fromConverter) noexcept
{
    return CurrentItemOf(fromConverter) >= 0;
}

void CTolviChainFileTranslator::OnItemProgress(int fromConverter, LONG progress, LONG maxProgress) noexcept
{
    const LONG item = CurrentItemOf(fromConverter);
    if (item < 0)
        return;
    LONG scaled = 0;
    LONG scaledMax = 0;
    if (ScaleChainProgress(item, m_Chain.GetSize(), progress, maxProgress, scaled, scaledMax))
        m_Events.Fire_ProgressChange(scaled, scaledMax);
}

} // namespace vembro
