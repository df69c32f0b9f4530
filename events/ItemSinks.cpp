#include "events/ItemSinks.h"

#include "translator/ChainFileTranslator.h"

namespace vembro {

bool ScaleChainProgress(LONG item, LONG items, LONG progress, LONG maxProgress, LONG& scaled,
                        LONG& scaledMax) noexcept
{
    if (maxProgress <= 0)
        return false;
    auto fits = [](LONGLONG v) { return v >= MINLONG && v <= MAXLONG; };
    const LONGLONG product = static_cast<LONGLONG>(progress) * 100;
    if (!fits(product))
        return false;
    // Both operands fit in 32 bits, so this is the 32-bit quotient,
    // truncated toward zero.
    const LONGLONG value = static_cast<LONGLONG>(item) * 100 + product / maxProgress;
    const LONGLONG total = static_cast<LONGLONG>(items) * 100;
    if (!fits(value) || !fits(total))
        return false;
    scaled = static_cast<LONG>(value);
    scaledMax = static_cast<LONG>(total);
    return true;
}

const QIEntry* CTolviFileConverterEvents::QITable() noexcept
{
    using C = CTolviFileConverterEvents;
    static const QIEntry table[] = {
        VEMBRO_QI_AS(C, IID_ITolviFileConverterEvents, ITolviFileConverterEvents),
        VEMBRO_QI_AS(C, IID_IDispatch, ITolviFileConverterEvents),
        VEMBRO_QI_END,
    };
    return table;
}

STDMETHODIMP CTolviFileConverterEvents::ProgressChange(LONG Progress, LONG MaxProgress) noexcept
{
    if (m_pOwner)
        m_pOwner->OnItemProgress(1, Progress, MaxProgress);
    return S_OK;
}

STDMETHODIMP CTolviFileConverterEvents::StateChange(LONG State) noexcept
{
    if (m_pOwner)
        m_pOwner->OnItemState(1, State);
    return S_OK;
}

const QIEntry* CTolviFileTranslatorEvents::QITable() noexcept
{
    using C = CTolviFileTranslatorEvents;
    static const QIEntry table[] = {
        VEMBRO_QI_AS(C, IID_ITolviFileTranslatorEvents, ITolviFileTranslatorEvents),
        VEMBRO_QI_AS(C, IID_IDispatch, ITolviFileTranslatorEvents),
        VEMBRO_QI_END,
    };
    return table;
}

// A chain translator's clients never see a component's property changes.
STDMETHODIMP CTolviFileTranslatorEvents::PropertyChange(VARIANT, VARIANT) noexcept { return S_OK; }

STDMETHODIMP CTolviFileTranslatorEvents::StateChange(LONG State) noexcept
{
    if (m_pOwner)
        m_pOwner->OnItemState(0, State);
    return S_OK;
}

STDMETHODIMP CTolviFileTranslatorEvents::ProgressChange(LONG Progress, LONG MaxProgress) noexcept
{
    if (m_pOwner)
        m_pOwner->OnItemProgress(0, Progress, MaxProgress);
    return S_OK;
}

} // namespace vembro
