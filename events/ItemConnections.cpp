// How a chain translator connects its inner sinks to the component of the
// running step, and filters and scales what they report.
#include "catalogue/SLock.h"
#include "events/ItemSinks.h"
#include "translator/ChainFileTranslator.h"

namespace vembro {

using Microsoft::WRL::ComPtr;

namespace {
template <class Sink>
HRESULT CreateSink(CTolviChainFileTranslator* owner, ComPtr<IUnknown>& sink) noexcept
{
    CComObjectNoLock<Sink>* p = nullptr;
    if (FAILED(CComObjectNoLock<Sink>::CreateInstance(&p)))
        return E_OUTOFMEMORY;
    p->m_pOwner = owner;
    return p->QueryInterface(IID_PPV_ARGS(&sink));
}

HRESULT FindItemConnectionPoint(IUnknown* component, int fromConverter, ComPtr<IConnectionPoint>& point) noexcept
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
    HRESULT hr = fromConverter ? CreateSink<CTolviFileConverterEvents>(this, sink)
                               : CreateSink<CTolviFileTranslatorEvents>(this, sink);
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> point;
    hr = FindItemConnectionPoint(component, fromConverter, point);
    if (FAILED(hr))
        return hr;
    DWORD cookie = 0;
    hr = point->Advise(sink.Get(), &cookie);
    if (FAILED(hr))
        return hr;
    (fromConverter ? m_dwConverterCookie : m_dwTranslatorCookie) = cookie;
    return S_OK;
}

HRESULT CTolviChainFileTranslator::UnadviseItem(int fromConverter, IUnknown* component) noexcept
{
    if (!component)
        return E_POINTER;
    DWORD& cookie = fromConverter ? m_dwConverterCookie : m_dwTranslatorCookie;
    if (cookie == 0)
        return S_OK;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = FindItemConnectionPoint(component, fromConverter, point);
    if (SUCCEEDED(hr))
        hr = point->Unadvise(cookie);
    cookie = 0;
    return hr;
}

LONG CTolviChainFileTranslator::CurrentItemOf(int fromConverter) noexcept
{
    CSLock<CTolviChainFileTranslator> lock(this);
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
