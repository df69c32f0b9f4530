#include "events/ItemSinks.h"

#include "chains/TempFiles.h"
#include "translator/ChainFileTranslator.h"

namespace vembro {

CTolviChainFileTranslator* CItemOwner::Acquire() noexcept
{
    auto lock = m_cs.Lock();
    return m_pOwner && m_pOwner->TryAddRef() ? m_pOwner : nullptr;
}

void CItemOwner::Release(CTolviChainFileTranslator* owner) noexcept
{
    static_cast<ITolviFileTranslator2*>(owner)->Release();
}

CItemOwner::~CItemOwner()
{
    for (const auto& file : m_files)
        DeleteTempFile(file.c_str());
}

void CItemOwner::KeepFiles(std::vector<std::string> files) noexcept
{
    {
        auto lock = m_cs.Lock();
        m_files.swap(files);
    }
    // The run before: its components have had a whole run's time to finish.
    for (const auto& file : files)
        DeleteTempFile(file.c_str());
}

void CItemOwner::Clear() noexcept
{
    auto lock = m_cs.Lock();
    m_pOwner = nullptr;
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
    CallOwner(m_pOwner, [&](CTolviChainFileTranslator* o) { o->OnItemProgress(1, Progress, MaxProgress); });
    return S_OK;
}

STDMETHODIMP CTolviFileConverterEvents::StateChange(LONG State) noexcept
{
    CallOwner(m_pOwner, [&](CTolviChainFileTranslator* o) { o->OnItemState(1, State); });
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
    CallOwner(m_pOwner, [&](CTolviChainFileTranslator* o) { o->OnItemState(0, State); });
    return S_OK;
}

STDMETHODIMP CTolviFileTranslatorEvents::ProgressChange(LONG Progress, LONG MaxProgress) noexcept
{
    CallOwner(m_pOwner, [&](CTolviChainFileTranslator* o) { o->OnItemProgress(0, Progress, MaxProgress); });
    return S_OK;
}

} // namespace vembro
