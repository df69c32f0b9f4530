// Synchronous runs: every step's component does its whole work inside one
// call, and the loop here steps through the chain in the caller's thread.
#include "translator/ChainFileTranslator.h"

#include "catalogue/ComponentPairs.h"
#include "catalogue/Converters.h"
#include "catalogue/SLock.h"
#include "vembro/com/Variant.h"
#include "chains/RealTranslators.h"

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

CTolviChainFileTranslator::SyncEnd CTolviChainFileTranslator::RunSyncSteps(CStepEnds ends)
{
    for (int step = 0;;) {
        ThrowIfFailed(ActivateItem(step));
        if (m_bStopRequested)
            return SyncEnd::Stopped;
        ThrowIfFailed(StartItem(step, ends, true));

        Lock lock(this);
        if (SyncStepEnded(step))
            return SyncEnd::EndedByEvent;
        step = NextItem(ends);
        if (step < 0)
            return SyncEnd::Complete;
    }
}

bool CTolviChainFileTranslator::SyncStepEnded(int step)
{
    auto lock = m_csRun.Lock();
    ThrowIfFailed(m_hrError); // a component reported FTSTATE_ERROR during its call
    return m_bSyncEnded || m_nCurItem != step;
}

HRESULT CTolviChainFileTranslator::FinishSyncRun_nothrow(ULONG runId, SyncEnd end, HRESULT raised) noexcept
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
{
    return StartRun_nothrow(true, true, Direction, Source, Target, nullptr, nullptr);
}

STDMETHODIMP CTolviChainFileTranslator::SyncTranslateStream(IDispatch* Direction, IUnknown* Source,
                                                            IUnknown* Target, VARIANT) noexcept
{
    return StartRun_nothrow(false, true, Direction, nullptr, nullptr, Source, Target);
}

STDMETHODIMP CTolviChainFileTranslator::IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept
try {
    if (!HasChain())
        return E_UNEXPECTED;
    const CChainItem& first = m_Chain.GetAt(0);
    if (first.m_nType == CHAINITEM_CONVERTER) {
        ComPtr<ITolviFileConverter> converter;
        ThrowIfFailed(g_Converters.CreateConverter(first.m_nSource, first.m_nTarget, &converter));
        // Asked as the catalogue's detection asks it, a stream put back
        // where it was.
        unique_variant data;
        ThrowIfFailed(NormalizeVariant(&varData, &data));
        ThrowIfFailed(CheckDetectionData_nothrow(data, type));
        return ProbeConverter_nothrow(converter.Get(), data, type);
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
