// The chain translator object: identity, properties, state and the end of a
// run. The runs themselves are in ChainRun.cpp and ChainSync.cpp.
#include "translator/ChainFileTranslator.h"

#include "catalogue/FormatsInfo.h"
#include "vembro/com/Variant.h"
#include "manager/FileFormats.h"

namespace vembro {

using Microsoft::WRL::ComPtr;

namespace {
bool IsPriorityName(const VARIANT& name) noexcept
{
    static const wchar_t kPriority[] = L"PRIORITY";
    constexpr UINT kLength = sizeof(kPriority) / sizeof(kPriority[0]) - 1;
    return V_VT(&name) == VT_BSTR && ::SysStringLen(V_BSTR(&name)) == kLength &&
           ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, V_BSTR(&name), kLength, kPriority, kLength) ==
               CSTR_EQUAL;
}

// Only 16- and 32-bit integers from -2 to 2 are priorities.
bool PriorityFromVariant(const VARIANT& value, LONG& priority) noexcept
{
    if (V_VT(&value) == VT_I2)
        priority = V_I2(&value);
    else if (V_VT(&value) == VT_I4)
        priority = V_I4(&value);
    else
        return false;
    return priority >= -2 && priority <= 2;
}
} // namespace

CTolviChainFileTranslator::CTolviChainFileTranslator()
    : m_Events(static_cast<IConnectionPointContainer*>(this)), m_spOwnerLink(std::make_shared<CItemOwner>(this))
{
}

const QIEntry* CTolviChainFileTranslator::QITable() noexcept
{
    using C = CTolviChainFileTranslator;
    static const QIEntry table[] = {
        VEMBRO_QI_AS(C, IID_ITolviFileTranslator, ITolviFileTranslator2),
        VEMBRO_QI_AS(C, IID_ITolviFileTranslator2, ITolviFileTranslator2),
        VEMBRO_QI_AS(C, IID_IDispatch, ITolviFileTranslator2),
        VEMBRO_QI_AS(C, IID_IConnectionPointContainer, IConnectionPointContainer),
        VEMBRO_QI_END,
    };
    return table;
}

void CTolviChainFileTranslator::FinalRelease() noexcept
{
    // No sink call can start from here on, and none is in progress (each
    // holds a reference), so no step can install a component any more.
    m_spOwnerLink->Clear();
    ComPtr<ITolviFileConverter> converter;
    ComPtr<ITolviFileTranslator> translator;
    bool running = false;
    bool windingDown = false;
    std::vector<std::string> files;
    try {
        auto lock = m_csRun.Lock();
        converter.Swap(m_spConverter);
        translator.Swap(m_spTranslator);
        running = m_nCurItem >= 0;
        if (running && m_bFileMode)
            files = {m_Temp1.Path(), m_Temp2.Path()};
        // A component that was stopped may still be winding down (writing)
        // after it has reported the end: it keeps its sink, and with it the
        // link that deletes the last run's files again, until it lets go.
        windingDown = running || m_bStopRequested;
    } catch (...) {
        // no memory for the names: the files go with the members only
    }
    if (running) {
        // Let go in the middle of a run: the component is told to stop.
        m_spOwnerLink->KeepFiles(std::move(files));
        if (converter)
            converter->Stop(MissingArgument());
        else if (translator)
            translator->Stop(MissingArgument());
    }
    if (windingDown)
        return;
    if (converter)
        UnadviseItem(1, converter.Get());
    if (translator)
        UnadviseItem(0, translator.Get());
}

HRESULT CreateChainTranslator_nothrow(const CChain& chain, ITolviFileTranslator** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviChainFileTranslator>>(
        IID_ITolviFileTranslator, reinterpret_cast<void**>(out),
        [&chain](CTolviChainFileTranslator& object) { return object.SetChainOf(chain); });
}

HRESULT CTolviChainFileTranslator::SetChainOf(const CChain& chain) noexcept
try {
    m_Chain = chain;
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept
{
    return EnumSingleConnectionPoint_nothrow(&m_Events, ppEnum);
}

STDMETHODIMP CTolviChainFileTranslator::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept
{
    return FindSingleConnectionPoint_nothrow(&m_Events, riid, ppCP);
}

HRESULT CTolviChainFileTranslator::EndFormat_nothrow(bool source, ITolviFileFormat** pVal) noexcept
try {
    if (!ClearOut(pVal))
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    CFormatInfo info;
    if (!g_FormatsInfo.Lookup(source ? m_Chain[0].m_nSource : m_Chain[m_Chain.GetSize() - 1].m_nTarget, &info))
        return E_UNEXPECTED;
    return CreateFileFormat(info, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::get_SourceFormat(ITolviFileFormat** pVal) noexcept
{
    return EndFormat_nothrow(true, pVal);
}

STDMETHODIMP CTolviChainFileTranslator::get_TargetFormat(ITolviFileFormat** pVal) noexcept
{
    return EndFormat_nothrow(false, pVal);
}

STDMETHODIMP CTolviChainFileTranslator::put_Property(VARIANT Prop, VARIANT newVal) noexcept
try {
    if (!HasChain())
        return E_UNEXPECTED;
    unique_variant name;
    unique_variant value;
    ThrowIfFailed(NormalizeVariant(&Prop, &name));
    ThrowIfFailed(NormalizeVariant(&newVal, &value));

    // Neither path waits for a step: the component pointer and the store
    // change under m_csRun, and the component is called without it.
    auto lock = m_csRun.Lock();
    ComPtr<ITolviFileTranslator> translator = m_spTranslator;
    if (IsPriorityName(name)) {
        LONG priority = 0;
        if (!PriorityFromVariant(value, priority))
            return E_INVALIDARG;
        m_nPriority = priority;
        if (!translator) {
            m_Properties.SetValue(name, value);
            return S_OK;
        }
        lock.Release();
        translator->put_Property(Prop, newVal);
        return S_OK;
    }
    if (!translator)
        return m_Properties.SetValue(name, value);
    lock.Release();
    return translator->put_Property(Prop, newVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::get_Property(VARIANT Prop, VARIANT* pVal) noexcept
try {
    if (!pVal)
        return E_POINTER;
    ::VariantInit(pVal);
    if (!HasChain())
        return E_UNEXPECTED;

    auto lock = m_csRun.Lock();
    unique_variant answer(MissingArgument());
    unique_variant name;
    HRESULT hr = NormalizeVariant(&Prop, &name);
    if (FAILED(hr)) {
        *pVal = MissingArgument();
        return hr;
    }
    if (IsPriorityName(name)) {
        answer.reset();
        V_VT(&answer) = VT_I4;
        V_I4(&answer) = m_nPriority;
        hr = S_OK;
    } else if (ComPtr<ITolviFileTranslator> translator = m_spTranslator) {
        lock.Release();
        return translator->get_Property(Prop, pVal);
    } else {
        hr = m_Properties.GetValue(name, &answer);
    }
    HRESULT copied = ::VariantCopy(pVal, &answer);
    return FAILED(copied) ? copied : hr;
}
VEMBRO_CATCH_RETURN()

HRESULT CTolviChainFileTranslator::ReadRunField_nothrow(const LONG& field, LONG* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = 0;
    if (!HasChain())
        return E_UNEXPECTED;
    auto lock = m_csRun.Lock();
    *pVal = field;
    return S_OK;
}

STDMETHODIMP CTolviChainFileTranslator::get_State(LONG* pVal) noexcept { return ReadRunField_nothrow(m_nState, pVal); }

STDMETHODIMP CTolviChainFileTranslator::get_Error(LONG* pVal) noexcept { return ReadRunField_nothrow(m_hrError, pVal); }

void CTolviChainFileTranslator::SetState(LONG state) noexcept
{
    {
        auto lock = m_csRun.Lock();
        m_nState = state;
    }
    m_Events.Fire_StateChange(state);
}

ULONG CTolviChainFileTranslator::BeginRun(bool sync) noexcept
{
    auto lock = m_csRun.Lock();
    m_nCurItem = 0;
    m_bSyncRun = sync;
    m_bSyncEnded = false;
    m_bStopRequested = false;
    m_nState = FTSTATE_TRANSLATE;
    if (sync)
        m_hrError = S_OK;
    if (++m_nRunId == 0)
        m_nRunId = 1;
    return m_nRunId;
}

bool CTolviChainFileTranslator::IsStepOf(ULONG runId, int step) noexcept
{
    auto lock = m_csRun.Lock();
    return m_nRunId == runId && m_nCurItem == step;
}

bool CTolviChainFileTranslator::EndRun(ULONG runId, HRESULT hr, LONG first, LONG second, bool allowIdle,
                                       bool fromLoop) noexcept
{
    ComPtr<IDispatch> direction;
    ComPtr<IUnknown> targetStream;
    std::vector<std::string> files;
    {
        auto lock = m_csRun.Lock();
        if (m_nRunId != runId || (m_nCurItem < 0 && !allowIdle))
            return false;
        if (m_nCurItem >= 0 && m_bSyncRun && !fromLoop) {
            // The synchronous loop owns its end: a failure is left for it to
            // raise, anything else marks the run as ended by this report,
            // which is told once, however often the component repeats it.
            if (m_bSyncEnded)
                return false;
            if (SUCCEEDED(hr))
                m_bSyncEnded = true;
            else
                m_hrError = hr;
            if (first >= 0)
                m_nState = first;
            lock.Release();
            if (first >= 0)
                m_Events.Fire_StateChange(first);
            return false;
        }
        direction.Swap(m_spDirection);
        targetStream.Swap(m_spTargetStream);
        try {
            if (m_bFileMode)
                files = {m_Temp1.Path(), m_Temp2.Path()};
        } catch (...) {
            // no memory for the names: deleted once only
        }
        m_strTarget.clear();
        m_Stream1.Close();
        m_Stream2.Close();
        m_Temp1.Delete();
        m_Temp2.Delete();
        m_nCurItem = -1;
        m_pCurStream = nullptr;
        m_strLastInput.clear();
        m_bSyncRun = false;
        m_hrError = hr;
        if (second >= 0)
            m_nState = second;
        else if (first >= 0)
            m_nState = first;
    }
    // The caller's objects may live in another apartment: released outside
    // every lock, and before the final state is fired.
    direction.Reset();
    targetStream.Reset();
    m_spOwnerLink->KeepFiles(std::move(files));
    if (first >= 0)
        m_Events.Fire_StateChange(first);
    if (second >= 0)
        m_Events.Fire_StateChange(second);
    return true;
}

} // namespace vembro
