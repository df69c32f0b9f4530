// Asynchronous runs: the first step is started in the caller's thread, every
// later one in the thread on which the previous component reports that it
// has finished.
#include "translator/ChainFileTranslator.h"

#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "chains/RealTranslators.h"
#include "vembro/com/Strings.h"

namespace vembro {

using Microsoft::WRL::ComPtr;
using Lock = CSLock<CTolviChainFileTranslator>;

STDMETHODIMP CTolviChainFileTranslator::TranslateText(IDispatch*, BSTR, BSTR*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CTolviChainFileTranslator::TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target,
                                                      VARIANT) noexcept
try {
    if (!Direction || !Source || !Target)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    // Converted before anything changes, so that running out of memory here
    // leaves the object as it was.
    const std::string source = AnsiFromBstr(Source);
    std::string target = AnsiFromBstr(Target);

    Lock lock(this);
    if (m_nCurItem >= 0)
        return E_UNEXPECTED;
    if (!m_Temp1.Create())
        return E_UNEXPECTED;
    const std::string firstTarget = m_Temp1.Path();
    m_strLastInput = firstTarget;
    m_bFileMode = TRUE;
    m_spDirection = Direction;
    m_strTarget.swap(target);
    m_nCurItem = 0;
    m_bSyncRun = false;
    m_bStopRequested = false;
    lock.Unlock();

    SetState(FTSTATE_TRANSLATE);
    return RunFileItem(0, source.c_str(), firstTarget.c_str(), MissingArgument());
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                                        VARIANT) noexcept
try {
    if (!Direction || !Source || !Target)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;

    Lock lock(this);
    if (m_nCurItem >= 0)
        return E_UNEXPECTED;
    if (FAILED(m_Stream1.Create_nothrow()))
        return E_OUTOFMEMORY;
    ComPtr<IStream> firstTarget = m_Stream1.Stream();
    m_bFileMode = FALSE;
    m_pCurStream = &m_Stream1;
    m_spDirection = Direction;
    m_spTargetStream = Target;
    m_nCurItem = 0;
    m_bSyncRun = false;
    m_bStopRequested = false;
    lock.Unlock();

    SetState(FTSTATE_TRANSLATE);
    return RunStreamItem(0, Source, firstTarget.Get(), MissingArgument());
}
VEMBRO_CATCH_RETURN()

// The component pointers change under the lock, so that Stop and the
// property calls, which may come from any thread, always find a whole one;
// the components themselves are called without it.
void CTolviChainFileTranslator::ReleaseCurrentConverter() noexcept
{
    ComPtr<ITolviFileConverter> converter;
    {
        Lock lock(this);
        converter.Swap(m_spConverter);
    }
    if (converter)
        UnadviseItem(1, converter.Get());
}

void CTolviChainFileTranslator::ReleaseCurrentTranslator() noexcept
{
    ComPtr<ITolviFileTranslator> translator;
    {
        Lock lock(this);
        translator.Swap(m_spTranslator);
    }
    if (translator)
        UnadviseItem(0, translator.Get());
}

HRESULT CTolviChainFileTranslator::ActivateItem(int step) noexcept
try {
    ReleaseCurrentConverter();
    ReleaseCurrentTranslator();
    const CChainItem& item = m_Chain.GetAt(step);
    switch (item.m_nType) {
    case CHAINITEM_TRANSLATOR: {
        ComPtr<ITolviFileTranslator> translator;
        ThrowIfFailed(g_RealTranslators.CreateTranslator(item.m_nSource, item.m_nTarget, &translator));
        HRESULT hr = AdviseItem(0, translator.Get());
        if (FAILED(hr))
            return hr;
        LONG priority;
        {
            Lock lock(this);
            m_spTranslator = translator;
            priority = m_nPriority;
        }
        unique_variant name;
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = MakeBstr(L"PRIORITY").release();
        VARIANT value;
        V_VT(&value) = VT_I4;
        V_I4(&value) = priority;
        translator->put_Property(name, value);
        m_Properties.ApplyTo(translator.Get());
        return S_OK;
    }
    case CHAINITEM_CONVERTER: {
        ComPtr<ITolviFileConverter> converter;
        ThrowIfFailed(g_Converters.CreateConverter(item.m_nSource, item.m_nTarget, &converter));
        HRESULT hr = AdviseItem(1, converter.Get());
        if (FAILED(hr))
            return hr;
        Lock lock(this);
        m_spConverter = converter;
        return S_OK;
    }
    default:
        return E_UNEXPECTED;
    }
}
VEMBRO_CATCH_RETURN()

HRESULT CTolviChainFileTranslator::RunFileItem(int step, const char* source, const char* target,
                                               const VARIANT& info) noexcept
{
    if (!source || !target)
        return E_INVALIDARG;
    if (m_bStopRequested)
        return Stop(MissingArgument());
    try {
        ThrowIfFailed(ActivateItem(step));
        unique_bstr in = BstrFromAnsi(source);
        unique_bstr out = BstrFromAnsi(target);
        // Local references: a component that reports completion from inside
        // its start call makes the next step release it before it returns.
        HRESULT hr;
        if (m_Chain.GetAt(step).m_nType == CHAINITEM_TRANSLATOR) {
            ComPtr<ITolviFileTranslator> translator = m_spTranslator;
            ComPtr<IDispatch> direction = m_spDirection;
            hr = translator->TranslateFile(direction.Get(), in.get(), out.get(), info);
        } else {
            ComPtr<ITolviFileConverter> converter = m_spConverter;
            hr = converter->ConvertFile(in.get(), out.get(), info);
        }
        return ThrowIfFailed(hr);
    } catch (...) {
        HRESULT hr = ResultFromCaughtException(E_FAIL);
        EndRun(hr);
        return hr;
    }
}

HRESULT CTolviChainFileTranslator::RunStreamItem(int step, IUnknown* source, IUnknown* target,
                                                 const VARIANT& info) noexcept
{
    if (m_bStopRequested)
        return Stop(MissingArgument());
    try {
        ThrowIfFailed(ActivateItem(step));
        HRESULT hr;
        if (m_Chain.GetAt(step).m_nType == CHAINITEM_TRANSLATOR) {
            ComPtr<ITolviFileTranslator> translator = m_spTranslator;
            ComPtr<IDispatch> direction = m_spDirection;
            hr = translator->TranslateStream(direction.Get(), source, target, info);
        } else {
            ComPtr<ITolviFileConverter> converter = m_spConverter;
            hr = converter->ConvertStream(source, target, info);
        }
        return ThrowIfFailed(hr);
    } catch (...) {
        HRESULT hr = ResultFromCaughtException(E_FAIL);
        EndRun(hr);
        return hr;
    }
}

void CTolviChainFileTranslator::OnItemState(int fromConverter, LONG state) noexcept
{
    if (!IsCurrentItem(fromConverter))
        return;
    switch (state) {
    case FTSTATE_READY:
    case FTSTATE_TRANSLATE_COMPLETE:
        break;
    case FTSTATE_SUSPEND:
        SetState(FTSTATE_SUSPEND);
        return;
    case FTSTATE_STOPPED:
        EndRun(S_OK);
        SetState(FTSTATE_STOPPED);
        return;
    case FTSTATE_ERROR: {
        LONG code = E_FAIL;
        Lock lock(this);
        ComPtr<ITolviFileTranslator> translator = m_spTranslator;
        lock.Unlock();
        if (translator)
            translator->get_Error(&code);
        // A code of 0 ends the run without an error state.
        EndRun(code);
        return;
    }
    default:
        // A component's own working states are never relayed.
        return;
    }
    if (m_bSyncRun)
        return; // the synchronous loop starts its steps itself
    StepToNextItem();
}

void CTolviChainFileTranslator::StepToNextItem() noexcept
try {
    Lock lock(this);
    // A Stop or an error on another thread may have ended the run between the
    // test of the reporting step and this lock; nothing is left to step then.
    if (m_nCurItem < 0)
        return;
    const int step = ++m_nCurItem;
    const int last = m_Chain.GetSize() - 1;
    if (step > last) {
        lock.Unlock();
        EndRun(S_OK);
        SetState(FTSTATE_TRANSLATE_COMPLETE);
        return;
    }
    if (m_bFileMode) {
        if (step == last) {
            const std::string source = m_strLastInput;
            const std::string target = m_strTarget;
            RunFileItem(step, source.c_str(), target.c_str(), MissingArgument());
            return;
        }
        if (!m_Temp2.Create()) {
            lock.Unlock();
            EndRun(E_UNEXPECTED);
            return;
        }
        m_strLastInput = m_Temp2.Path();
        const std::string source = m_Temp1.Path();
        const std::string target = m_Temp2.Path();
        RunFileItem(step, source.c_str(), target.c_str(), MissingArgument());
        return;
    }

    m_pCurStream->Rewind();
    if (step == last) {
        ComPtr<IStream> source = m_pCurStream->Stream();
        ComPtr<IUnknown> target = m_spTargetStream;
        RunStreamItem(step, source.Get(), target.Get(), MissingArgument());
        return;
    }
    if (FAILED(m_Stream2.Create_nothrow())) {
        lock.Unlock();
        EndRun(E_OUTOFMEMORY);
        return;
    }
    m_pCurStream = &m_Stream2;
    ComPtr<IStream> source = m_Stream1.Stream();
    ComPtr<IStream> target = m_Stream2.Stream();
    RunStreamItem(step, source.Get(), target.Get(), MissingArgument());
} catch (...) {
    // Only copying a file name can fail here; the run cannot go on.
    EndRun(ResultFromCaughtException(E_FAIL));
}

STDMETHODIMP CTolviChainFileTranslator::Stop(VARIANT) noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    m_bStopRequested = true;
    // The lock only hands over the component pointers; the component's Stop
    // is called without it, since it may report from inside the call.
    Lock lock(this);
    ComPtr<ITolviFileConverter> converter = m_spConverter;
    ComPtr<ITolviFileTranslator> translator = m_spTranslator;
    lock.Unlock();
    try {
        HRESULT hr;
        if (converter) {
            hr = converter->Stop(MissingArgument());
        } else if (translator) {
            hr = translator->Stop(MissingArgument());
        } else {
            EndRun(S_OK);
            SetState(FTSTATE_STOPPED);
            return S_OK;
        }
        if (FAILED(hr))
            EndRun(hr);
        return hr;
    } catch (...) {
        EndRun(E_FAIL);
        return E_FAIL;
    }
}

STDMETHODIMP CTolviChainFileTranslator::Suspend() noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    Lock lock(this);
    return E_NOTIMPL;
}

STDMETHODIMP CTolviChainFileTranslator::Resume() noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    Lock lock(this);
    return m_nState == FTSTATE_SUSPEND ? E_NOTIMPL : S_OK;
}

} // namespace vembro
