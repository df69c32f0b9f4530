#include "Sinks.h"

#include <cstdio>
#include <cwchar>

#include "Errors.h"
#include "vembro/com/Resource.h"

namespace cli {

using Microsoft::WRL::ComPtr;

RunMonitor::RunMonitor(bool showProgress, bool converterRun)
    : m_bShow(showProgress), m_bConverterRun(converterRun), m_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_done)
        throw Failure("CreateEvent", HRESULT_FROM_WIN32(::GetLastError()));
}

void RunMonitor::OnState(long state) noexcept
{
    bool final = state == FTSTATE_TRANSLATE_COMPLETE || state == FTSTATE_STOPPED || state == FTSTATE_ERROR ||
                 (m_bConverterRun && state == FTSTATE_READY);
    if (!final)
        return;
    auto lock = m_cs.Lock();
    if (m_nFinal < 0) {
        m_nFinal = state;
        ::SetEvent(m_done.get());
    }
}

void RunMonitor::OnProgress(long progress, long maxProgress) noexcept
{
    if (maxProgress <= 0 || progress < 0)
        return;
    int percent = static_cast<int>(static_cast<long long>(progress) * 100 / maxProgress);
    Draw(percent > 100 ? 100 : percent);
}

void RunMonitor::Draw(int percent) noexcept
{
    auto lock = m_cs.Lock();
    if (!m_bShow || percent == m_nPercent)
        return;
    m_nPercent = percent;
    char bar[41];
    int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    m_bDrawn = true;
}

long RunMonitor::WaitFinal() noexcept
{
    HANDLE done = m_done.get();
    for (;;) {
        DWORD r = ::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0)
            break;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    auto lock = m_cs.Lock();
    return m_nFinal;
}

void RunMonitor::Done() noexcept
{
    auto lock = m_cs.Lock();
    if (m_bDrawn) {
        std::fprintf(stderr, "\n");
        std::fflush(stderr);
    }
    m_bDrawn = false;
}

namespace {

// Both sinks may be called on any thread (the components' and the chain's
// workers); they aggregate the free-threaded marshaler so that the chain
// translator's marshalling hands them over unchanged.
template <class Iface>
class SinkBase : public Iface {
public:
    explicit SinkBase(RunMonitor& monitor) : m_monitor(monitor)
    {
        if (FAILED(::CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(this), &m_ftm)))
            m_ftm.Reset();
    }
    virtual ~SinkBase() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IDispatch) || ::IsEqualIID(riid, __uuidof(Iface))) {
            *ppv = static_cast<Iface*>(this);
            AddRef();
            return S_OK;
        }
        if (::IsEqualIID(riid, IID_IMarshal) && m_ftm)
            return m_ftm->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        LONG n = ::InterlockedDecrement(&m_nRef);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override
    {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override
    {
        return DISP_E_UNKNOWNNAME;
    }

protected:
    // Argument i counted from the first one as declared (DISPPARAMS holds
    // them last first), as a long.
    static bool LongArg(DISPPARAMS* params, UINT i, long& value) noexcept
    {
        if (!params || i >= params->cArgs)
            return false;
        vembro::unique_variant v;
        if (FAILED(::VariantChangeType(&v, &params->rgvarg[params->cArgs - 1 - i], 0, VT_I4)))
            return false;
        value = V_I4(&v);
        return true;
    }

    RunMonitor& m_monitor;

private:
    LONG volatile m_nRef = 1;
    ComPtr<IUnknown> m_ftm;
};

class TranslatorSink final : public SinkBase<ITolviFileTranslatorEvents> {
public:
    using SinkBase::SinkBase;
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        m_monitor.OnState(state);
        return S_OK;
    }
    STDMETHODIMP ProgressChange(LONG progress, LONG max) noexcept override
    {
        m_monitor.OnProgress(progress, max);
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept override
    {
        long a = 0, b = 0;
        switch (id) {
        case 1: return S_OK; // PropertyChange
        case 2: return LongArg(params, 0, a) ? StateChange(a) : DISP_E_BADPARAMCOUNT;
        case 3: return LongArg(params, 0, a) && LongArg(params, 1, b) ? ProgressChange(a, b) : DISP_E_BADPARAMCOUNT;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

class ConverterSink final : public SinkBase<ITolviFileConverterEvents> {
public:
    using SinkBase::SinkBase;
    STDMETHODIMP ProgressChange(LONG progress, LONG max) noexcept override
    {
        m_monitor.OnProgress(progress, max);
        return S_OK;
    }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        m_monitor.OnState(state);
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept override
    {
        long a = 0, b = 0;
        switch (id) {
        case 1: return LongArg(params, 0, a) && LongArg(params, 1, b) ? ProgressChange(a, b) : DISP_E_BADPARAMCOUNT;
        case 2: return LongArg(params, 0, a) ? StateChange(a) : DISP_E_BADPARAMCOUNT;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

class Direction final : public IDispatch {
public:
    Direction(short source, short target) : m_nSource(source), m_nTarget(target) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        LONG n = ::InterlockedDecrement(&m_nRef);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override
    {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override
    {
        if (!names || !ids || count == 0)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = i == 0 && _wcsicmp(names[i], L"SourceFormat") == 0   ? 1
                     : i == 0 && _wcsicmp(names[i], L"TargetFormat") == 0 ? 2
                                                                           : DISPID_UNKNOWN;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override
    {
        if (id != 1 && id != 2)
            return DISP_E_MEMBERNOTFOUND;
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
            return DISP_E_MEMBERNOTFOUND;
        if (params && params->cArgs)
            return DISP_E_BADPARAMCOUNT;
        if (result) {
            ::VariantInit(result);
            V_VT(result) = VT_I2;
            V_I2(result) = id == 1 ? m_nSource : m_nTarget;
        }
        return S_OK;
    }

private:
    LONG volatile m_nRef = 1;
    short m_nSource, m_nTarget;
};

} // namespace

ComPtr<IUnknown> MakeTranslatorSink(RunMonitor& monitor)
{
    return vembro::TakeOver<IUnknown>(static_cast<ITolviFileTranslatorEvents*>(new TranslatorSink(monitor)));
}

ComPtr<IUnknown> MakeConverterSink(RunMonitor& monitor)
{
    return vembro::TakeOver<IUnknown>(static_cast<ITolviFileConverterEvents*>(new ConverterSink(monitor)));
}

ComPtr<IDispatch> MakeDirection(short source, short target)
{
    return vembro::TakeOver<IDispatch>(new Direction(source, target));
}

} // namespace cli
