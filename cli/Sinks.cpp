#include "Sinks.h"

#include <cstdio>
#include <cwchar>

#include <functional>

#include "Errors.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
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

// Both sinks are called on whatever thread fires (the components' and the
// chain's workers): this client lives in the multithreaded apartment. The
// chain translator calls them by DISPID, which the type library maps onto
// the same methods a component calls through the vtable.
template <class Iface>
class CRunSink : public vembro::CComObjectRootEx, public vembro::VembroDispatch<Iface> {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI_AS(CRunSink, IID_IUnknown, Iface),
            VEMBRO_QI_AS(CRunSink, IID_IDispatch, Iface),
            VEMBRO_QI(CRunSink, Iface),
            VEMBRO_QI_END,
        };
        return table;
    }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        m_pMonitor->OnState(state);
        return S_OK;
    }
    STDMETHODIMP ProgressChange(LONG progress, LONG max) noexcept override
    {
        m_pMonitor->OnProgress(progress, max);
        return S_OK;
    }
    RunMonitor* m_pMonitor = nullptr;
};

class CTranslatorSink : public CRunSink<ITolviFileTranslatorEvents> {
public:
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
};

// The client's own Direction has no type library: its two properties are
// answered by hand.
class CDirection : public vembro::CComObjectRootEx, public IDispatch {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(CDirection, IDispatch),
            VEMBRO_QI_AS(CDirection, IID_IUnknown, IDispatch),
            VEMBRO_QI_END,
        };
        return table;
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
        if ((id != 1 && id != 2) || !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
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
    short m_nSource = 0, m_nTarget = 0;
};

template <class Object, class Iface>
ComPtr<Iface> Make(const IID& iid, std::function<void(Object&)> init)
{
    ComPtr<Iface> made;
    HRESULT hr = vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<Object>>(
        iid, reinterpret_cast<void**>(made.GetAddressOf()), [&](Object& o) {
            init(o);
            return S_OK;
        });
    if (FAILED(hr))
        throw Failure("creating an event sink", hr);
    return made;
}

} // namespace

ComPtr<IUnknown> MakeTranslatorSink(RunMonitor& monitor)
{
    return Make<CTranslatorSink, IUnknown>(IID_IUnknown, [&](CTranslatorSink& s) { s.m_pMonitor = &monitor; });
}

ComPtr<IUnknown> MakeConverterSink(RunMonitor& monitor)
{
    using CConverterSink = CRunSink<ITolviFileConverterEvents>;
    return Make<CConverterSink, IUnknown>(IID_IUnknown, [&](CConverterSink& s) { s.m_pMonitor = &monitor; });
}

ComPtr<IDispatch> MakeDirection(short source, short target)
{
    return Make<CDirection, IDispatch>(IID_IDispatch, [&](CDirection& d) {
        d.m_nSource = source;
        d.m_nTarget = target;
    });
}

} // namespace cli
