// Synchronous runs: every step's component does its whole work inside one
// call, and the loop here steps through the chain in the caller's thread.
#include "translator/ChainFileTranslator.h"

#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "catalogue/Variant.h"
#include "chains/RealTranslators.h"
#include "vembro/com/Strings.h"

namespace vembro {

using Microsoft::WRL::ComPtr;
using Lock = CSLock<CTolviChainFileTranslator>;

namespace {
// What a synchronous call returns when a component reported FTSTATE_STOPPED
// from inside its synchronous call (or a Stop between two steps): that
// report has already ended the run, so the target is incomplete, and a
// synchronous caller, who usually looks at nothing but the result, must not
// take it for a success. The clients have seen the stop itself; no further
// state is fired, and Error reads the same code as the result.
constexpr HRESULT kSyncRunEndedByComponent = E_ABORT;
} // namespace

CTolviChainFileTranslator::SyncEnd CTolviChainFileTranslator::RunSyncFileSteps(IDispatch* direction, BSTR source,
                                                                              const std::string& firstTarget)
{
    const int last = m_Chain.GetSize() - 1;
    unique_bstr in(::SysAllocStringLen(source, ::SysStringLen(source)));
    if (!in)
        ThrowHr(E_OUTOFMEMORY);
    unique_bstr out = BstrFromAnsi(firstTarget);
    for (int step = 0;;) {
        ThrowIfFailed(ActivateItem(step));
        if (m_bStopRequested)
            return SyncEnd::Stopped;
        if (m_Chain.GetAt(step).m_nType == CHAINITEM_TRANSLATOR) {
            ComPtr<ITolviFileTranslator2> translator;
            if (FAILED(CurrentTranslator().As(&translator)))
                ThrowHr(E_NOINTERFACE);
            ThrowIfFailed(translator->SyncTranslateFile(direction, in.get(), out.get(), MissingArgument()));
        } else {
            ComPtr<ITolviFileConverter3> converter;
            if (FAILED(CurrentConverter().As(&converter)))
                ThrowHr(E_NOINTERFACE);
            ThrowIfFailed(converter->SyncConvertFile(in.get(), out.get(), MissingArgument()));
        }

        Lock lock(this);
        if (SyncStepEnded(step))
            return SyncEnd::EndedByEvent;
        auto runLock = m_csRun.Lock();
        step = ++m_nCurItem;
        if (step > last)
            return SyncEnd::Complete;
        if (step == last) {
            in = BstrFromAnsi(m_strLastInput);
            out = BstrFromAnsi(m_strTarget);
        } else {
            if (!m_Temp2.Create())
                ThrowHr(E_UNEXPECTED);
            m_strLastInput = m_Temp2.Path();
            in = BstrFromAnsi(m_Temp1.Path());
            out = BstrFromAnsi(m_Temp2.Path());
        }
    }
}

CTolviChainFileTranslator::SyncEnd CTolviChainFileTranslator::RunSyncStreamSteps(IDispatch* direction,
                                                                                IUnknown* source,
                                                                                IStream* firstTarget)
{
    const int last = m_Chain.GetSize() - 1;
    ComPtr<IUnknown> in = source;
    ComPtr<IUnknown> out;
    ThrowIfFailed(firstTarget->QueryInterface(IID_PPV_ARGS(&out)));
    for (int step = 0;;) {
        ThrowIfFailed(ActivateItem(step));
        if (m_bStopRequested)
            return SyncEnd::Stopped;
        if (m_Chain.GetAt(step).m_nType == CHAINITEM_TRANSLATOR) {
            ComPtr<ITolviFileTranslator2> translator;
            if (FAILED(CurrentTranslator().As(&translator)))
                ThrowHr(E_NOINTERFACE);
            ThrowIfFailed(translator->SyncTranslateStream(direction, in.Get(), out.Get(), MissingArgument()));
        } else {
            ComPtr<ITolviFileConverter3> converter;
            if (FAILED(CurrentConverter().As(&converter)))
                ThrowHr(E_NOINTERFACE);
            ThrowIfFailed(converter->SyncConvertStream(in.Get(), out.Get(), MissingArgument()));
        }

        Lock lock(this);
        if (SyncStepEnded(step))
            return SyncEnd::EndedByEvent;
        auto runLock = m_csRun.Lock();
        step = ++m_nCurItem;
        if (step > last)
            return SyncEnd::Complete;
        m_pCurStream->Rewind();
        if (step == last) {
            ThrowIfFailed(m_pCurStream->Stream()->QueryInterface(IID_PPV_ARGS(in.ReleaseAndGetAddressOf())));
            out = m_spTargetStream;
        } else {
            if (FAILED(m_Stream2.Create_nothrow()))
                ThrowHr(E_OUTOFMEMORY);
            m_pCurStream = &m_Stream2;
            ThrowIfFailed(m_Stream1.Stream()->QueryInterface(IID_PPV_ARGS(in.ReleaseAndGetAddressOf())));
            ThrowIfFailed(m_Stream2.Stream()->QueryInterface(IID_PPV_ARGS(out.ReleaseAndGetAddressOf())));
        }
    }
}

bool CTolviChainFileTranslator::SyncStepEnded(int step)
{
    auto lock = m_csRun.Lock();
    ThrowIfFailed(m_hrError); // a component reported FTSTATE_ERROR during its call
    return m_bSyncEnded || m_nCurItem != step;
}

HRESULT CTolviChainFileTranslator::FinishSyncRun(ULONG runId, SyncEnd end, HRESULT raised) noexcept
{
    HRESULT result;
    switch (end) {
    case SyncEnd::EndedByEvent:
        // The clients have seen the report that ended the run; only the
        // resources go now, and no state is fired again.
        EndRun(runId, kSyncRunEndedByComponent, -1, -1, false, true);
        return kSyncRunEndedByComponent;
    case SyncEnd::Stopped:
        // A Stop that came while no component was held (between two steps).
        EndRun(runId, kSyncRunEndedByComponent, FTSTATE_STOPPED, -1, false, true);
        return kSyncRunEndedByComponent;
    default: {
        auto lock = m_csRun.Lock();
        if (FAILED(raised))
            m_hrError = raised;
        result = m_hrError;
        break;
    }
    }
    EndRun(runId, result, FAILED(result) ? FTSTATE_ERROR : -1, FTSTATE_TRANSLATE_COMPLETE, false, true);
    return result;
}

STDMETHODIMP CTolviChainFileTranslator::SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target,
                                                          VARIANT) noexcept
try {
    if (!Direction || !Source || !Target)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    std::string target = AnsiFromBstr(Target);

    Lock lock(this);
    auto runLock = m_csRun.Lock();
    if (m_nCurItem >= 0 || !m_Temp1.Create())
        return E_UNEXPECTED;
    const std::string firstTarget = m_Temp1.Path();
    m_bFileMode = TRUE;
    m_strLastInput = firstTarget;
    m_spDirection = Direction;
    m_strTarget.swap(target);
    const ULONG runId = BeginRun(true);
    runLock.Release();
    lock.Unlock();

    m_Events.Fire_StateChange(FTSTATE_TRANSLATE);
    SyncEnd end = SyncEnd::Complete;
    HRESULT raised = S_OK;
    try {
        end = RunSyncFileSteps(Direction, Source, firstTarget);
    } catch (...) {
        raised = ResultFromCaughtException(E_FAIL);
    }
    return FinishSyncRun(runId, end, raised);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::SyncTranslateStream(IDispatch* Direction, IUnknown* Source,
                                                            IUnknown* Target, VARIANT) noexcept
try {
    if (!Direction || !Source || !Target)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;

    Lock lock(this);
    auto runLock = m_csRun.Lock();
    if (m_nCurItem >= 0)
        return E_UNEXPECTED;
    if (FAILED(m_Stream1.Create_nothrow()))
        return E_OUTOFMEMORY;
    ComPtr<IStream> firstTarget = m_Stream1.Stream();
    m_spDirection = Direction;
    m_bFileMode = FALSE;
    m_pCurStream = &m_Stream1;
    m_spTargetStream = Target;
    const ULONG runId = BeginRun(true);
    runLock.Release();
    lock.Unlock();

    m_Events.Fire_StateChange(FTSTATE_TRANSLATE);
    SyncEnd end = SyncEnd::Complete;
    HRESULT raised = S_OK;
    try {
        end = RunSyncStreamSteps(Direction, Source, firstTarget.Get());
    } catch (...) {
        raised = ResultFromCaughtException(E_FAIL);
    }
    return FinishSyncRun(runId, end, raised);
}
VEMBRO_CATCH_RETURN()

namespace {
HRESULT AskConverter(ITolviFileConverter* converter, const VARIANT& data, tagFILEDATATYPE type)
{
    switch (type) {
    case FILEDATATYPE_FILENAME:
    case FILEDATATYPE_TEXT:
        if (V_VT(&data) != VT_BSTR)
            return E_INVALIDARG;
        if (!V_BSTR(&data))
            return E_POINTER;
        return type == FILEDATATYPE_FILENAME ? converter->IsFormatAvailableFile(V_BSTR(&data))
                                             : converter->IsFormatAvailableMemory(V_BSTR(&data));
    case FILEDATATYPE_STREAM:
        if (V_VT(&data) != VT_UNKNOWN)
            return E_INVALIDARG;
        if (!V_UNKNOWN(&data))
            return E_POINTER;
        return converter->IsFormatAvailableStream(V_UNKNOWN(&data));
    default:
        return E_INVALIDARG;
    }
}
} // namespace

STDMETHODIMP CTolviChainFileTranslator::IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept
try {
    if (!HasChain())
        return E_UNEXPECTED;
    const CChainItem& first = m_Chain.GetAt(0);
    if (first.m_nType == CHAINITEM_CONVERTER) {
        ComPtr<ITolviFileConverter> converter;
        ThrowIfFailed(g_Converters.CreateConverter(first.m_nSource, first.m_nTarget, &converter));
        unique_variant data;
        ThrowIfFailed(NormalizeVariant(&varData, &data));
        return AskConverter(converter.Get(), data, type);
    }
    if (first.m_nType == CHAINITEM_TRANSLATOR) {
        ComPtr<ITolviFileTranslator> translator;
        ThrowIfFailed(g_RealTranslators.CreateTranslator(first.m_nSource, first.m_nTarget, &translator));
        return translator->IsFormatAvailable(varData, type);
    }
    return E_UNEXPECTED;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
