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

STDMETHODIMP CTolviChainFileTranslator::TranslateText(IDispatch*, BSTR, BSTR* Result) noexcept
{
    if (Result)
        *Result = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CTolviChainFileTranslator::TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target,
                                                      VARIANT) noexcept
{
    return StartRun_nothrow(true, false, Direction, Source, Target, nullptr, nullptr);
}

STDMETHODIMP CTolviChainFileTranslator::TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                                        VARIANT) noexcept
{
    return StartRun_nothrow(false, false, Direction, nullptr, nullptr, Source, Target);
}

HRESULT CTolviChainFileTranslator::StartRun_nothrow(bool file, bool sync, IDispatch* direction, BSTR sourceName,
                                            BSTR targetName, IUnknown* source, IUnknown* target) noexcept
try {
    if (!direction || (file ? !sourceName || !targetName : !source || !target))
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    // Converted before anything changes, so that running out of memory here
    // leaves the object as it was. An asynchronous file run hands its first
    // component the source name as it reads in the system's code page.
    CStepEnds ends;
    std::string targetPath;
    if (file) {
        ends.sourceName = sync ? unique_bstr(::SysAllocStringLen(sourceName, ::SysStringLen(sourceName)))
                               : BstrFromAnsi(AnsiFromBstr(sourceName));
        if (!ends.sourceName)
            return E_OUTOFMEMORY;
        targetPath = AnsiFromBstr(targetName);
    } else {
        ends.source = source;
    }

    Lock lock(this);
    auto runLock = m_csRun.Lock();
    if (m_nCurItem >= 0)
        return E_UNEXPECTED;
    if (file) {
        if (!m_Temp1.Create())
            return E_UNEXPECTED;
        ends.targetName = BstrFromAnsi(m_Temp1.Path());
        m_strLastInput = m_Temp1.Path();
        m_strTarget.swap(targetPath);
    } else {
        if (FAILED(m_Stream1.Create_nothrow()))
            return E_OUTOFMEMORY;
        ends.target = m_Stream1.Stream();
        m_pCurStream = &m_Stream1;
        m_spTargetStream = target;
    }
    m_bFileMode = file;
    m_spDirection = direction;
    const ULONG runId = BeginRun(sync);
    runLock.Release();
    lock.Unlock();

    m_Events.Fire_StateChange(FTSTATE_TRANSLATE);
    if (!sync)
        return RunItem_nothrow(runId, 0, ends);
    SyncEnd end = SyncEnd::Complete;
    HRESULT raised = S_OK;
    try {
        end = RunSyncSteps(std::move(ends));
    } catch (...) {
        raised = ResultFromCaughtException(E_FAIL);
    }
    return FinishSyncRun_nothrow(runId, end, raised);
}
VEMBRO_CATCH_RETURN()

// The component pointers change under m_csRun, so that Stop and the
// property calls, which may come from any thread, always find a whole one
// without waiting for a step; the components are called without it.
template <class I>
void CTolviChainFileTranslator::ReleaseCurrent(ComPtr<I>& held, int fromConverter) noexcept
{
    ComPtr<I> component;
    {
        auto lock = m_csRun.Lock();
        component.Swap(held);
    }
    if (component)
        UnadviseItem(fromConverter, component.Get());
}

ComPtr<ITolviFileConverter> CTolviChainFileTranslator::CurrentConverter() noexcept
{
    auto lock = m_csRun.Lock();
    return m_spConverter;
}

ComPtr<ITolviFileTranslator> CTolviChainFileTranslator::CurrentTranslator(ComPtr<IDispatch>* direction) noexcept
{
    auto lock = m_csRun.Lock();
    if (direction)
        *direction = m_spDirection;
    return m_spTranslator;
}

HRESULT CTolviChainFileTranslator::ActivateItem(int step) noexcept
try {
    ReleaseCurrent(m_spConverter, 1);
    ReleaseCurrent(m_spTranslator, 0);
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
            auto lock = m_csRun.Lock();
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
        auto lock = m_csRun.Lock();
        m_spConverter = converter;
        return S_OK;
    }
    default:
        return E_UNEXPECTED;
    }
}
VEMBRO_CATCH_RETURN()

bool CTolviChainFileTranslator::MayStart(ULONG runId, int step) noexcept
{
    if (!IsStepOf(runId, step))
        return false; // ended meanwhile (a failing Stop, a component's report)
    // A Stop that found no component yet (it came during the activation)
    // ends the run here; one that found it has reached it, and its report
    // ends the run. Either way the step is not started.
    if (m_bStopRequested) {
        EndRun(runId, S_OK, FTSTATE_STOPPED);
        return false;
    }
    return true;
}

HRESULT CTolviChainFileTranslator::StartItem(int step, const CStepEnds& ends, bool sync)
{
    // Local references: a component that reports completion from inside its
    // start call makes the next step release it before it returns.
    const VARIANT info = MissingArgument();
    BSTR in = ends.sourceName.get();
    BSTR out = ends.targetName.get();
    IUnknown* source = ends.source.Get();
    IUnknown* target = ends.target.Get();
    if (m_Chain.GetAt(step).m_nType == CHAINITEM_TRANSLATOR) {
        ComPtr<IDispatch> direction;
        ComPtr<ITolviFileTranslator> translator = CurrentTranslator(&direction);
        ThrowIfNull(translator.Get());
        if (!sync)
            return in ? translator->TranslateFile(direction.Get(), in, out, info)
                      : translator->TranslateStream(direction.Get(), source, target, info);
        ComPtr<ITolviFileTranslator2> whole;
        if (FAILED(translator.As(&whole)))
            ThrowHr(E_NOINTERFACE);
        return in ? whole->SyncTranslateFile(direction.Get(), in, out, info)
                  : whole->SyncTranslateStream(direction.Get(), source, target, info);
    }
    ComPtr<ITolviFileConverter> converter = CurrentConverter();
    ThrowIfNull(converter.Get());
    if (!sync)
        return in ? converter->ConvertFile(in, out, info) : converter->ConvertStream(source, target, info);
    ComPtr<ITolviFileConverter3> whole;
    if (FAILED(converter.As(&whole)))
        ThrowHr(E_NOINTERFACE);
    return in ? whole->SyncConvertFile(in, out, info) : whole->SyncConvertStream(source, target, info);
}

int CTolviChainFileTranslator::NextItem(CStepEnds& ends)
{
    auto runLock = m_csRun.Lock();
    const int step = ++m_nCurItem;
    const int last = m_Chain.GetSize() - 1;
    if (step > last)
        return -1;
    if (m_bFileMode) {
        if (step == last) {
            ends.sourceName = BstrFromAnsi(m_strLastInput);
            ends.targetName = BstrFromAnsi(m_strTarget);
            return step;
        }
        if (!m_Temp2.Create())
            ThrowHr(E_UNEXPECTED);
        m_strLastInput = m_Temp2.Path();
        ends.sourceName = BstrFromAnsi(m_Temp1.Path());
        ends.targetName = BstrFromAnsi(m_Temp2.Path());
        return step;
    }
    m_pCurStream->Rewind();
    if (step == last) {
        ends.source = m_pCurStream->Stream();
        ends.target = m_spTargetStream;
        return step;
    }
    if (FAILED(m_Stream2.Create_nothrow()))
        ThrowHr(E_OUTOFMEMORY);
    m_pCurStream = &m_Stream2;
    ends.source = m_Stream1.Stream();
    ends.target = m_Stream2.Stream();
    return step;
}

HRESULT CTolviChainFileTranslator::RunItem_nothrow(ULONG runId, int step, const CStepEnds& ends) noexcept
{
    try {
        ThrowIfFailed(ActivateItem(step));
        if (!MayStart(runId, step))
            return S_OK;
        return ThrowIfFailed(StartItem(step, ends, false));
    } catch (...) {
        HRESULT hr = ResultFromCaughtException(E_FAIL);
        EndRun(runId, hr, FTSTATE_ERROR);
        return hr;
    }
}

void CTolviChainFileTranslator::OnItemState(int fromConverter, LONG state) noexcept
{
    ULONG runId = 0;
    const LONG item = CurrentItemOf(fromConverter, &runId);
    if (item < 0)
        return;
    switch (state) {
    case FTSTATE_READY:
    case FTSTATE_TRANSLATE_COMPLETE:
        if (m_bSyncRun)
            return; // the synchronous loop starts its steps itself
        // A component that answers Stop by finishing has still stopped: the
        // run ends here rather than stepping on into a Stop that the
        // finished component would answer to nobody.
        if (m_bStopRequested) {
            EndRun(runId, S_OK, FTSTATE_STOPPED);
            return;
        }
        StepToNextItem(runId, item);
        return;
    case FTSTATE_SUSPEND:
        if (IsStepOf(runId, item))
            SetState(FTSTATE_SUSPEND);
        return;
    case FTSTATE_STOPPED:
        EndRun(runId, S_OK, FTSTATE_STOPPED);
        return;
    case FTSTATE_ERROR: {
        LONG code = E_FAIL;
        if (ComPtr<ITolviFileTranslator> translator = CurrentTranslator(nullptr))
            translator->get_Error(&code);
        // A component in its error state has failed whatever its Error
        // says: ending on a code of 0 would give the clients no final state.
        if (SUCCEEDED(code))
            code = E_FAIL;
        EndRun(runId, code, FTSTATE_ERROR);
        return;
    }
    default:
        // A component's own working states are never relayed.
        return;
    }
}

void CTolviChainFileTranslator::StepToNextItem(ULONG runId, int finished) noexcept
try {
    // The object lock makes the step atomic against other steps and starts;
    // m_csRun is taken only to read and change the run's fields.
    Lock lock(this);
    auto runLock = m_csRun.Lock();
    // A Stop, an error or a second report may have ended the run or moved
    // it on between the test of the reporting step and this lock.
    if (m_nRunId != runId || m_nCurItem != finished)
        return;
    CStepEnds ends;
    const int step = NextItem(ends);
    runLock.Release();
    if (step >= 0) {
        RunItem_nothrow(runId, step, ends);
        return;
    }
    lock.Unlock();
    EndRun(runId, S_OK, FTSTATE_TRANSLATE_COMPLETE);
} catch (...) {
    // The next intermediate could not be made: the run cannot go on.
    EndRun(runId, ResultFromCaughtException(E_FAIL), FTSTATE_ERROR);
}

// Takes no object lock: it must reach the running component even while a
// step holds that lock in a start call, or while an event is being
// delivered from under it to the very client that calls Stop.
STDMETHODIMP CTolviChainFileTranslator::Stop(VARIANT) noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    m_bStopRequested = true;
    ComPtr<ITolviFileConverter> converter;
    ComPtr<ITolviFileTranslator> translator;
    ULONG runId;
    bool running;
    {
        auto lock = m_csRun.Lock();
        converter = m_spConverter;
        translator = m_spTranslator;
        runId = m_nRunId;
        running = m_nCurItem >= 0;
    }
    if (!converter && !translator) {
        // During a run, no component means that the first one is being
        // activated: the activation sees the request and ends the run (the
        // intermediate files are still in use until then). After a run, a
        // Stop that comes late must not end it a second time in its client's
        // eyes; only an object that has never run stops.
        if (!running && runId == 0)
            EndRun(runId, S_OK, FTSTATE_STOPPED, -1, true);
        return S_OK;
    }
    try {
        HRESULT hr = converter ? converter->Stop(MissingArgument()) : translator->Stop(MissingArgument());
        // A failing Stop ends the run it was meant for, never one that has
        // already ended (the component of the last run is still held).
        if (FAILED(hr))
            EndRun(runId, hr, FTSTATE_ERROR);
        return hr;
    } catch (...) {
        EndRun(runId, E_FAIL, FTSTATE_ERROR);
        return E_FAIL;
    }
}

STDMETHODIMP CTolviChainFileTranslator::Suspend() noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    return E_NOTIMPL;
}

STDMETHODIMP CTolviChainFileTranslator::Resume() noexcept
{
    if (!HasChain())
        return E_UNEXPECTED;
    auto lock = m_csRun.Lock();
    return m_nState == FTSTATE_SUSPEND ? E_NOTIMPL : S_OK;
}

} // namespace vembro
