// The chain translator object: identity, properties, state and the end of a
// run. The runs themselves are in ChainRun.cpp and ChainSync.cpp.
#include "translator/ChainFileTranslator.h"

#include "catalogue/FormatsInfo.h"
#include "catalogue/SLock.h"
#include "catalogue/Variant.h"
#include "manager/FileFormats.h"

namespace vembro {

using Lock = CSLock<CTolviChainFileTranslator>;

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

CTolviChainFileTranslator::CTolviChainFileTranslator() : m_Events(static_cast<IConnectionPointContainer*>(this)) {}

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
    ReleaseCurrentConverter();
    ReleaseCurrentTranslator();
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

namespace {
HRESULT FormatObjectOf(short id, ITolviFileFormat** pVal) noexcept
try {
    CFormatInfo info;
    if (!g_FormatsInfo.Lookup(id, &info))
        return E_UNEXPECTED;
    return CreateFileFormat(info, pVal);
}
VEMBRO_CATCH_RETURN()
} // namespace

STDMETHODIMP CTolviChainFileTranslator::get_SourceFormat(ITolviFileFormat** pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    if (!HasChain())
        return E_UNEXPECTED;
    return FormatObjectOf(m_Chain[0].m_nSource, pVal);
}

STDMETHODIMP CTolviChainFileTranslator::get_TargetFormat(ITolviFileFormat** pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    if (!HasChain())
        return E_UNEXPECTED;
    return FormatObjectOf(m_Chain[m_Chain.GetSize() - 1].m_nTarget, pVal);
}

STDMETHODIMP CTolviChainFileTranslator::put_Property(VARIANT Prop, VARIANT newVal) noexcept
try {
    if (!HasChain())
        return E_UNEXPECTED;
    unique_variant name;
    unique_variant value;
    ThrowIfFailed(NormalizeVariant(&Prop, &name));
    ThrowIfFailed(NormalizeVariant(&newVal, &value));

    if (IsPriorityName(name)) {
        LONG priority = 0;
        if (!PriorityFromVariant(value, priority))
            return E_INVALIDARG;
        Lock lock(this);
        m_nPriority = priority;
        if (m_spTranslator)
            m_spTranslator->put_Property(Prop, newVal);
        else
            m_Properties.SetValue(name, value);
        return S_OK;
    }

    // The lock only guards the hand-over of the component pointer and the
    // store against a step change on a component's thread; a running
    // component is called without it.
    Lock lock(this);
    Microsoft::WRL::ComPtr<ITolviFileTranslator> translator = m_spTranslator;
    if (!translator)
        return m_Properties.SetValue(name, value);
    lock.Unlock();
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

    Lock lock(this);
    unique_variant answer;
    *static_cast<VARIANT*>(&answer) = MissingArgument();
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
    } else if (m_spTranslator) {
        return m_spTranslator->get_Property(Prop, pVal);
    } else {
        hr = m_Properties.GetValue(name, &answer);
    }
    HRESULT copied = ::VariantCopy(pVal, &answer);
    return FAILED(copied) ? copied : hr;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP CTolviChainFileTranslator::get_State(LONG* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    Lock lock(this);
    *pVal = m_nState;
    return S_OK;
}

STDMETHODIMP CTolviChainFileTranslator::get_Error(LONG* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    if (!HasChain())
        return E_UNEXPECTED;
    Lock lock(this);
    *pVal = m_hrError;
    return S_OK;
}

void CTolviChainFileTranslator::SetState(LONG state) noexcept
{
    Lock lock(this);
    m_nState = state;
    lock.Unlock();
    m_Events.Fire_StateChange(state);
}

void CTolviChainFileTranslator::ReleaseRunResources() noexcept
{
    // Under the lock, so that a step change on a component's thread never
    // sees half of it; nothing here calls out except stream releases.
    Lock lock(this);
    m_spDirection.Reset();
    m_spTargetStream.Reset();
    m_strTarget.clear();
    m_Stream1.Close();
    m_Stream2.Close();
    m_Temp1.Delete();
    m_Temp2.Delete();
    m_nCurItem = -1;
    m_pCurStream = nullptr;
    m_strLastInput.clear();
}

void CTolviChainFileTranslator::EndRun(HRESULT hr) noexcept
{
    ReleaseRunResources();
    {
        Lock lock(this);
        m_hrError = hr;
    }
    if (FAILED(hr))
        SetState(FTSTATE_ERROR);
}

} // namespace vembro
