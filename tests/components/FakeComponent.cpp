#include "components/FakeComponent.h"

#include <olectl.h>

#include <memory>

#include "vembro/com/Strings.h"
#include "components/FakeData.h"
#include "components/FakeFormat.h"
#include "components/FakeJournal.h"
#include "components/FakeLive.h"
#include "components/FakeText.h"

namespace fakes {
namespace {

bool Contains(const std::string& data, const std::string& part) { return data.find(part) != std::string::npos; }

Microsoft::WRL::ComPtr<IStream> StreamFrom(IUnknown* unknown)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    vembro::ThrowIfFailed(vembro::ThrowIfNull(unknown)->QueryInterface(IID_PPV_ARGS(stream.GetAddressOf())));
    return stream;
}

} // namespace

HRESULT Job::Copy_nothrow(const std::string& name) const noexcept
try {
    std::string data;
    HRESULT hr = onStreams ? ReadStreamRest_nothrow(inStream.Get(), data) : ReadFileBytes_nothrow(in.c_str(), data);
    if (FAILED(hr))
        return hr;
    data += RouteLine(name);
    return onStreams ? WriteStream_nothrow(outStream.Get(), data) : WriteFileBytes_nothrow(out.c_str(), data);
}
VEMBRO_CATCH_RETURN()

FakeComponent::~FakeComponent()
{
    m_cp.Clear();
    try {
        Call("Destroy");
    } catch (...) {
    }
}

void FakeComponent::Configure(const Config& config)
{
    m_config = config;
    m_nState = FTSTATE_READY;
    m_cp.Init(this, config.kind == Kind::Converter, config.behaviour.dispatchEvents, config.name);
    ListLive(this);
}

void FakeComponent::Inject(LONG kind, LONG a, LONG b)
{
    if (kind == 0)
        Report(a);
    else
        m_cp.FireProgress(a, b);
}

STDMETHODIMP FakeComponent::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FakeComponent::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept
{
    if (!ppCP)
        return E_POINTER;
    *ppCP = nullptr;
    if (!::IsEqualIID(riid, m_cp.EventIid()))
        return CONNECT_E_NOCONNECTION;
    m_cp.AddRef();
    *ppCP = &m_cp;
    return S_OK;
}

void FakeComponent::Call(const std::string& text) const { JournalCall(m_config.name + "." + text); }

HRESULT FakeComponent::FormatOf(bool source, ITolviFileFormat** pVal)
{
    Call(source ? "SourceFormat" : "TargetFormat");
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    HRESULT configured = source ? Does().sourceFormatResult : Does().targetFormatResult;
    if (FAILED(configured))
        return configured;
    if (source && Does().nullSourceFormat)
        return S_OK;
    vembro::ThrowIfFailed(FakeFormat::Create_nothrow(source ? m_config.source : m_config.target, pVal));
    return configured;
}

HRESULT FakeComponent::ProbeFile(BSTR file)
{
    if (Does().detectIfContains.empty())
        return Does().detect;
    std::string data;
    HRESULT hr = ReadFileBytes_nothrow(file, data);
    if (FAILED(hr))
        return hr;
    return Contains(data, Does().detectIfContains) ? S_OK : S_FALSE;
}

HRESULT FakeComponent::ProbeStream_nothrow(IUnknown* unknown)
{
    if (!unknown)
        return E_POINTER;
    Microsoft::WRL::ComPtr<IStream> stream = StreamFrom(unknown);
    // Always read, so that the caller's restoring of the position shows.
    std::string data;
    HRESULT hr = ReadStreamRest_nothrow(stream.Get(), data);
    if (Does().detectIfContains.empty())
        return Does().detect;
    return FAILED(hr) ? hr : (Contains(data, Does().detectIfContains) ? S_OK : S_FALSE);
}

HRESULT FakeComponent::ProbeText(BSTR text)
{
    if (Does().detectIfContains.empty())
        return Does().detect;
    return Contains(vembro::AnsiFromBstr(text), Does().detectIfContains) ? S_OK : S_FALSE;
}

HRESULT FakeComponent::DetectFile_nothrow(BSTR file)
{
    Call("IsFormatAvailableFile(file=" + TextOf(file) + ")");
    return ProbeFile(file);
}

HRESULT FakeComponent::DetectStream_nothrow(IUnknown* unknown)
{
    Call("IsFormatAvailableStream(stream=" + StreamText(unknown) + ")");
    return ProbeStream_nothrow(unknown);
}

HRESULT FakeComponent::DetectText_nothrow(BSTR text)
{
    Call("IsFormatAvailableMemory(text=" + TextOf(text) + ")");
    return ProbeText(text);
}

HRESULT FakeComponent::DetectData_nothrow(const VARIANT& data, tagFILEDATATYPE type)
{
    Call("IsFormatAvailable(data=" + VariantText(data) + ", type=" + std::to_string(static_cast<int>(type)) + ")");
    const VARIANT* v = &data;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT))
        v = vembro::ThrowIfNull(V_VARIANTREF(v));
    VARTYPE vt = static_cast<VARTYPE>(V_VT(v) & ~VT_BYREF);
    bool byRef = (V_VT(v) & VT_BYREF) != 0;
    if (byRef && !V_BYREF(v))
        return E_POINTER;
    switch (type) {
    case FILEDATATYPE_FILENAME:
    case FILEDATATYPE_TEXT: {
        if (vt != VT_BSTR)
            return E_INVALIDARG;
        BSTR text = byRef ? *V_BSTRREF(v) : V_BSTR(v);
        return type == FILEDATATYPE_TEXT ? ProbeText(text) : ProbeFile(text);
    }
    case FILEDATATYPE_STREAM:
        if (vt != VT_UNKNOWN && vt != VT_DISPATCH)
            return E_INVALIDARG;
        return ProbeStream_nothrow(byRef ? *V_UNKNOWNREF(v) : V_UNKNOWN(v));
    default:
        return E_INVALIDARG;
    }
}

Job FakeComponent::FileJob(BSTR in, BSTR out)
{
    if (!in || !out)
        vembro::ThrowHr(E_POINTER);
    Job job;
    job.in = in;
    job.out = out;
    return job;
}

Job FakeComponent::StreamJob(IUnknown* in, IUnknown* out)
{
    Job job;
    job.onStreams = true;
    job.inStream = StreamFrom(in);
    job.outStream = StreamFrom(out);
    return job;
}

void WaitAtGate(const std::string& name)
{
    vembro::unique_handle gate(::OpenEventW(SYNCHRONIZE, FALSE, kGateName));
    bool open = gate && ::WaitForSingleObject(gate.get(), kGateTimeoutMs) == WAIT_OBJECT_0;
    JournalCall(name + (open ? ".Gate(open)" : ".Gate(timeout)"));
}

HRESULT FakeComponent::Start(const Job& job)
{
    if (FAILED(Does().startResult))
        return Does().startResult;
    if (Does().gate == Gate::Start)
        WaitAtGate(m_config.name);
    SetError(S_OK);
    SetState(WorkingState());
    if (Does().worker)
        vembro::ThrowIfFailed(Launch([this, job] { Perform(job); }));
    else
        Perform(job);
    return Does().startResult;
}

HRESULT FakeComponent::RunSync_nothrow(const Job& job)
{
    if (Does().noSync)
        return E_NOTIMPL; // only reachable through IDispatch
    if (FAILED(Does().syncResult))
        return Does().syncResult;
    SetError(S_OK);
    SetState(WorkingState());
    HRESULT hr = Perform(job);
    return FAILED(hr) ? hr : Does().syncResult;
}

HRESULT FakeComponent::Perform(const Job& job)
{
    const Behaviour& b = Does();
    if (b.gate == Gate::Work)
        WaitAtGate(m_config.name);
    bool completes = b.finish == Finish::Complete || b.finish == Finish::Ready;
    HRESULT hr = completes ? job.Copy_nothrow(m_config.name) : S_OK;
    for (const auto& p : b.progress)
        m_cp.FireProgress(p.first, p.second);
    if (FAILED(hr)) {
        SetError(hr);
        Report(FTSTATE_ERROR);
        return hr;
    }
    switch (b.finish) {
    case Finish::Complete: Report(FTSTATE_TRANSLATE_COMPLETE); break;
    case Finish::Ready: Report(FTSTATE_READY); break;
    case Finish::Error:
        SetError(b.errorCode);
        Report(FTSTATE_ERROR);
        break;
    case Finish::Stopped: Report(FTSTATE_STOPPED); break;
    case Finish::Suspend: Report(FTSTATE_SUSPEND); break;
    case Finish::Nothing: break;
    }
    return S_OK;
}

HRESULT FakeComponent::DoStop()
{
    // A failing Stop has not stopped anything: no report.
    if (FAILED(Does().stopResult))
        return Does().stopResult;
    const long report = Does().stopReport;
    if (report < 0)
        return Does().stopResult; // a component that never answers
    if (Does().worker)
        vembro::ThrowIfFailed(Launch([this, report] { Report(report); }));
    else
        Report(report);
    return Does().stopResult;
}

HRESULT FakeComponent::DoGetProperty(const VARIANT& name, VARIANT* pVal)
{
    Call("get_Property(" + NameText(name) + ")");
    if (!pVal)
        return E_POINTER;
    ::VariantInit(pVal);
    if (FAILED(Does().propertyResult))
        return Does().propertyResult;
    auto lock = m_csState.Lock();
    auto it = m_properties.find(NameText(name));
    if (it == m_properties.end())
        return E_INVALIDARG;
    return ::VariantCopy(pVal, &it->second);
}

HRESULT FakeComponent::DoPutProperty(const VARIANT& name, const VARIANT& value)
{
    Call("put_Property(" + NameText(name) + "=" + VariantText(value) + ")");
    if (FAILED(Does().propertyResult))
        return Does().propertyResult;
    {
        auto lock = m_csState.Lock();
        vembro::ThrowIfFailed(::VariantCopy(m_properties[NameText(name)].put(), const_cast<VARIANT*>(&value)));
    }
    if (Does().propertyEvents)
        m_cp.FirePropertyChange(name, value);
    return S_OK;
}

HRESULT FakeComponent::AppendRoute(BSTR text, BSTR* result) const
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    *result = vembro::BstrFromAnsi(TextOf(text) + RouteLine(m_config.name)).release();
    return S_OK;
}

long FakeComponent::WorkingState() const noexcept
{
    return m_config.kind == Kind::Converter ? FTSTATE_CONVERT : FTSTATE_TRANSLATE;
}

long FakeComponent::StateValue()
{
    auto lock = m_csState.Lock();
    return m_nState;
}

HRESULT FakeComponent::ErrorValue()
{
    auto lock = m_csState.Lock();
    return m_hrError;
}

void FakeComponent::SetState(long state)
{
    auto lock = m_csState.Lock();
    m_nState = state;
}

void FakeComponent::SetError(HRESULT hr)
{
    auto lock = m_csState.Lock();
    m_hrError = hr;
}

void FakeComponent::Report(long state)
{
    SetState(state);
    m_cp.FireState(state);
}

namespace {
struct WorkerStart {
    Microsoft::WRL::ComPtr<IConnectionPointContainer> keepAlive;
    std::function<void()> work;
    HMODULE module = nullptr;
};
} // namespace

HRESULT FakeComponent::Launch(std::function<void()> work)
{
    auto start = std::make_unique<WorkerStart>();
    start->keepAlive = this;
    start->work = std::move(work);
    // The thread keeps the module loaded until its very last instruction.
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&FakeComponent::WorkerProc), &start->module))
        return vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
    WorkerStarted();
    HANDLE thread = ::CreateThread(nullptr, 0, &FakeComponent::WorkerProc, start.get(), 0, nullptr);
    if (!thread) {
        HRESULT hr = vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
        ::FreeLibrary(start->module);
        WorkerFinished();
        return hr;
    }
    start.release();
    ::CloseHandle(thread);
    return S_OK;
}

DWORD WINAPI FakeComponent::WorkerProc(void* param)
{
    auto* start = static_cast<WorkerStart*>(param);
    HMODULE module = start->module;
    HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        start->work();
    } catch (...) {
    }
    delete start; // the component may go away here, on this thread
    if (SUCCEEDED(init))
        ::CoUninitialize();
    WorkerFinished();
    ::FreeLibraryAndExitThread(module, 0);
}

} // namespace fakes
