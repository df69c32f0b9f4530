// The fake module: converters and translators made from the configurations
// that the running test wrote (FakeConfig.h), journalling every call.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "vembro/FormatObject.h"
#include "vembro/VembroDispatch.h"
#include "vembro/com/ConnectionPoint.h"
#include "vembro/com/Object.h"
#include "vembro/com/Strings.h"
#include "components/FakeConfig.h"
#include "support/Variants.h"

using Microsoft::WRL::ComPtr;
using comtest::PointerText;
using comtest::StreamText;
using comtest::TextOf;
using comtest::VariantText;

// An interface method whose whole work is one answer: its journal line
// ("<name>.<method><args>") first, inside the method's one error boundary.
#define FAKE_JOURNALLED(method, params, args, answer) \
    STDMETHODIMP method params noexcept override      \
    try {                                             \
        Call(#method + std::string(args));            \
        return answer;                                \
    }                                                 \
    VEMBRO_CATCH_RETURN()

namespace fakes {
namespace {

class FakeComponent;

// What the whole module shares: the journal, the live components and the
// count of worker threads. Fakes report from workers: all under one lock.
struct Shared {
    vembro::CriticalSection cs;
    std::vector<std::string> journal;
    std::vector<FakeComponent*> live;
    long workers = 0;
    vembro::unique_handle idle{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
};

Shared& Module()
{
    static Shared shared;
    return shared;
}

void Journal(const std::string& line)
{
    auto lock = Module().cs.Lock();
    Module().journal.push_back(line);
}

void CountWorker(int delta)
{
    Shared& m = Module();
    auto lock = m.cs.Lock();
    m.workers += delta;
    (m.workers == 0 ? ::SetEvent : ::ResetEvent)(m.idle.get());
}

// ---- How the journal writes arguments.

// A property name: a string bare, anything else as a VARIANT.
std::string NameText(const VARIANT& v) { return V_VT(&v) == VT_BSTR ? TextOf(V_BSTR(&v)) : VariantText(v); }

// The two ends of a run: "in=C:\x.a, out=C:\t1" or "in=@0, out=@0".
std::string Ends(BSTR in, BSTR out) { return "in=" + TextOf(in) + ", out=" + TextOf(out); }
std::string Ends(IUnknown* in, IUnknown* out) { return "in=" + StreamText(in) + ", out=" + StreamText(out); }
// A run's arguments: "(in=.., out=.., info=..)"; translators lead with "direction=set, ".
template <class End>
std::string RunArgs(End in, End out, const char* last, const VARIANT& v)
{
    return "(" + Ends(in, out) + ", " + last + "=" + VariantText(v) + ")";
}
template <class End>
std::string RunArgs(IDispatch* direction, End in, End out, const char* last, const VARIANT& v)
{
    return "(direction=" + PointerText(direction) + ", " + RunArgs(in, out, last, v).substr(1);
}

// ---- The work: the input, from a stream's position on, copied to the output with the route line appended.

HRESULT Open_nothrow(const std::wstring& path, bool write, ComPtr<IStream>& stream) noexcept
{
    const DWORD mode = write ? STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE : STGM_READ | STGM_SHARE_DENY_NONE;
    return ::SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, write, nullptr, &stream);
}

HRESULT ReadAll_nothrow(IStream* stream, std::string& data) noexcept
try {
    char buffer[4096];
    for (ULONG read = 1; read > 0;) {
        HRESULT hr = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(hr))
            return hr;
        data.append(buffer, read);
        if (hr == S_FALSE)
            break;
    }
    return S_OK;
}
VEMBRO_CATCH_RETURN()

ComPtr<IStream> StreamFrom(IUnknown* unknown)
{
    ComPtr<IStream> stream;
    vembro::ThrowIfFailed(vembro::ThrowIfNull(unknown)->QueryInterface(IID_PPV_ARGS(&stream)));
    return stream;
}

// One conversion or translation: two file names or two streams.
struct Job {
    std::wstring inName, outName;
    ComPtr<IStream> in, out;

    static Job Files(BSTR in, BSTR out)
    {
        if (!in || !out)
            vembro::ThrowHr(E_POINTER);
        return {in, out, nullptr, nullptr};
    }
    static Job Streams(IUnknown* in, IUnknown* out) { return {{}, {}, StreamFrom(in), StreamFrom(out)}; }

    HRESULT Copy_nothrow(const std::string& name) const noexcept
    try {
        ComPtr<IStream> from = in, to = out;
        std::string data;
        HRESULT hr = from ? S_OK : Open_nothrow(inName, false, from);
        if (SUCCEEDED(hr))
            hr = ReadAll_nothrow(from.Get(), data);
        if (SUCCEEDED(hr) && !to)
            hr = Open_nothrow(outName, true, to);
        ULONG written = 0;
        data += RouteLine(name);
        if (SUCCEEDED(hr))
            hr = to->Write(data.data(), static_cast<ULONG>(data.size()), &written);
        return FAILED(hr) ? hr : written == data.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    VEMBRO_CATCH_RETURN()
};

void WaitAtGate(const std::string& name)
{
    vembro::unique_handle gate(::OpenEventW(SYNCHRONIZE, FALSE, kGateName));
    bool open = gate && ::WaitForSingleObject(gate.get(), kGateTimeoutMs) == WAIT_OBJECT_0;
    Journal(name + (open ? ".Gate(open)" : ".Gate(timeout)"));
}

// The layer's connection point, with Advise and Unadvise journalled.
class JournalledPoint final : public vembro::BasicConnectionPoint<vembro::SinkHolding::Direct> {
public:
    JournalledPoint(const IID& iid, IConnectionPointContainer* owner, const std::string& name)
        : BasicConnectionPoint(iid, owner), m_name(name) {}
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override
    try {
        HRESULT hr = BasicConnectionPoint::Advise(sink, cookie);
        const std::string what = hr == CONNECT_E_CANNOTCONNECT ? "refused" : FAILED(hr) ? PointerText(sink) : "cookie=" + std::to_string(*cookie);
        Journal(m_name + ".Advise(" + what + ")");
        return hr;
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override
    try {
        Journal(m_name + ".Unadvise(cookie=" + std::to_string(cookie) + ")");
        return BasicConnectionPoint::Unadvise(cookie);
    }
    VEMBRO_CATCH_RETURN()

private:
    const std::string& m_name;
};

// A converter or a translator, as configured: the members both kinds declare alike serve both interfaces; which
// interfaces the object offers, and which events it fires, follow its kind. Runs report inside the start call or from
// a worker thread.
class FakeComponent : public vembro::CComObjectRootEx,
                      public vembro::VembroDispatch<ITolviFileConverter3>,
                      public vembro::VembroDispatch<ITolviFileTranslator2>,
                      public IConnectionPointContainer {
public:
    // Once, by the class factory, before anyone else sees the object.
    void Configure(const Config& config)
    {
        m_config = config;
        m_converter = config.kind == Kind::Converter;
        m_point.emplace(m_converter ? IID_ITolviFileConverterEvents : IID_ITolviFileTranslatorEvents,
                        static_cast<IConnectionPointContainer*>(this), m_config.name);
        size_t n = 0;
        auto offer = [&](vembro::QIEntry entry, bool offered) {
            if (offered)
                m_table[n++] = entry;
        };
        offer(VEMBRO_QI(FakeComponent, ITolviFileConverter), m_converter);
        offer(VEMBRO_QI_AS(FakeComponent, IID_ITolviFileConverter2, ITolviFileConverter3), m_converter);
        offer(VEMBRO_QI_AS(FakeComponent, IID_IDispatch, ITolviFileConverter3), m_converter);
        offer(VEMBRO_QI(FakeComponent, ITolviFileConverter3), m_converter && !Does().noSync);
        offer(VEMBRO_QI(FakeComponent, ITolviFileTranslator), !m_converter);
        offer(VEMBRO_QI_AS(FakeComponent, IID_IDispatch, ITolviFileTranslator2), !m_converter);
        offer(VEMBRO_QI(FakeComponent, ITolviFileTranslator2), !m_converter && !Does().noSync);
        offer(VEMBRO_QI(FakeComponent, IConnectionPointContainer), !Does().noEvents);
        m_table[n] = VEMBRO_QI_END;
        auto lock = Module().cs.Lock();
        Module().live.push_back(this);
    }
    // The sinks go before the last journal line.
    ~FakeComponent() override
    {
        {
            auto lock = Module().cs.Lock();
            auto& live = Module().live;
            live.erase(std::remove(live.begin(), live.end(), this), live.end());
        }
        m_point.reset();
        Call("Destroy");
    }

    const vembro::QIEntry* QITable() const noexcept { return m_table; }
    const std::string& Name() const noexcept { return m_config.name; }

    // A reference unless the count has already reached zero (the object is
    // on its way out and waits for the module's lock to leave the list).
    bool TryAddRef() noexcept
    {
        for (LONG n = m_dwRef; n > 0; n = m_dwRef)
            if (::InterlockedCompareExchange(&m_dwRef, n + 1, n) == n)
                return true;
        return false;
    }

    void ReportState(long state)
    {
        m_state = state;
        VARIANT arg = comtest::Var::I4(state); // a copy: nothing to free
        Fire(2, &arg, 1, [&](auto* sink) { sink->StateChange(state); });
    }
    void ReportProgress(long progress, long maxProgress)
    {
        VARIANT args[2] = {comtest::Var::I4(progress), comtest::Var::I4(maxProgress)};
        Fire(m_converter ? 1 : 3, args, 2, [&](auto* sink) { sink->ProgressChange(progress, maxProgress); });
    }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** pp) noexcept override
    {
        return vembro::EnumSingleConnectionPoint_nothrow(&*m_point, pp);
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) noexcept override
    {
        return vembro::FindSingleConnectionPoint_nothrow(&*m_point, riid, pp);
    }

    // ---- Both kinds.
    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override { return FormatOf_nothrow(true, pVal); }
    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override { return FormatOf_nothrow(false, pVal); }
    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override
    try {
        Call("get_Property(" + NameText(Prop) + ")");
        if (!pVal)
            return E_POINTER;
        ::VariantInit(pVal);
        if (FAILED(Does().propertyResult))
            return Does().propertyResult;
        auto lock = m_cs.Lock();
        auto it = m_properties.find(NameText(Prop));
        return it == m_properties.end() ? E_INVALIDARG : ::VariantCopy(pVal, &it->second);
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override
    try {
        Call("put_Property(" + NameText(Prop) + "=" + VariantText(newVal) + ")");
        if (FAILED(Does().propertyResult))
            return Does().propertyResult;
        {
            auto lock = m_cs.Lock();
            vembro::ThrowIfFailed(::VariantCopy(m_properties[NameText(Prop)].put(), &newVal));
        }
        if (Does().propertyEvents && !m_converter) {
            VARIANT args[2] = {Prop, newVal}; // shallow: Invoke does not take ownership
            Fire(1, args, 2, [&](auto* sink) {
                if constexpr (std::is_same_v<decltype(sink), ITolviFileTranslatorEvents*>)
                    sink->PropertyChange(Prop, newVal);
            });
        }
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()
    STDMETHODIMP get_State(LONG* pVal) noexcept override { return pVal ? (*pVal = m_state, S_OK) : E_POINTER; }
    // The system never suspends a component; the journal shows it if it does.
    FAKE_JOURNALLED(Suspend, (), "", S_OK)
    FAKE_JOURNALLED(Resume, (), "", S_OK)
    // A failing Stop has not stopped anything: no report.
    STDMETHODIMP Stop(VARIANT Info) noexcept override
    try {
        Call("Stop(info=" + VariantText(Info) + ")");
        const long report = Does().stopReport;
        if (SUCCEEDED(Does().stopResult) && report >= 0) {
            if (Does().worker)
                Launch([this, report] { ReportState(report); });
            else
                ReportState(report);
        }
        return Does().stopResult;
    }
    VEMBRO_CATCH_RETURN()

    // ---- Converters.
    FAKE_JOURNALLED(IsFormatAvailableStream, (IUnknown* Stream), "(stream=" + StreamText(Stream) + ")", Probe(vembro::ThrowIfNull(Stream)))
    FAKE_JOURNALLED(IsFormatAvailableFile, (BSTR File), "(file=" + TextOf(File) + ")", Probe())
    FAKE_JOURNALLED(IsFormatAvailableMemory, (BSTR Text), "(text=" + TextOf(Text) + ")", Probe())
    FAKE_JOURNALLED(ConvertFile, (BSTR InFile, BSTR OutFile, VARIANT Info), RunArgs(InFile, OutFile, "info", Info),
                    Start(Job::Files(InFile, OutFile)))
    FAKE_JOURNALLED(ConvertStream, (IUnknown* Source, IUnknown* Target, VARIANT Info),
                    RunArgs(Source, Target, "info", Info), Start(Job::Streams(Source, Target)))
    FAKE_JOURNALLED(SyncConvertFile, (BSTR InFile, BSTR OutFile, VARIANT Reserved),
                    RunArgs(InFile, OutFile, "reserved", Reserved), RunSync_nothrow(Job::Files(InFile, OutFile)))
    FAKE_JOURNALLED(SyncConvertStream, (IUnknown* Source, IUnknown* Target, VARIANT Reserved),
                    RunArgs(Source, Target, "reserved", Reserved), RunSync_nothrow(Job::Streams(Source, Target)))
    // The system converts no text in memory, and translates none.
    STDMETHODIMP ConvertMemory(BSTR, BSTR* TextOut) noexcept override { return TextOut ? (*TextOut = nullptr, E_NOTIMPL) : E_POINTER; }

    // ---- Translators.
    STDMETHODIMP TranslateText(IDispatch*, BSTR, BSTR* Result) noexcept override { return Result ? (*Result = nullptr, E_NOTIMPL) : E_POINTER; }
    FAKE_JOURNALLED(TranslateFile, (IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Info),
                    RunArgs(Direction, Source, Target, "info", Info), Start(Job::Files(Source, Target)))
    FAKE_JOURNALLED(TranslateStream, (IDispatch* Direction, IUnknown* Source, IUnknown* Target, VARIANT Info),
                    RunArgs(Direction, Source, Target, "info", Info), Start(Job::Streams(Source, Target)))
    FAKE_JOURNALLED(SyncTranslateFile, (IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Reserved),
                    RunArgs(Direction, Source, Target, "reserved", Reserved), RunSync_nothrow(Job::Files(Source, Target)))
    FAKE_JOURNALLED(SyncTranslateStream, (IDispatch* Direction, IUnknown* Source, IUnknown* Target, VARIANT Reserved),
                    RunArgs(Direction, Source, Target, "reserved", Reserved), RunSync_nothrow(Job::Streams(Source, Target)))
    STDMETHODIMP get_Error(LONG* pVal) noexcept override
    try {
        Call("Error");
        return pVal ? (*pVal = m_error, S_OK) : E_POINTER;
    }
    VEMBRO_CATCH_RETURN()
    // The data by its FILEDATATYPE: a name or a text as a string, a stream as an object.
    STDMETHODIMP IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept override
    try {
        Call("IsFormatAvailable(data=" + VariantText(varData) + ", type=" + std::to_string(static_cast<int>(type)) + ")");
        const VARIANT* v = &varData;
        if (V_VT(v) == (VT_BYREF | VT_VARIANT))
            v = vembro::ThrowIfNull(V_VARIANTREF(v));
        const VARTYPE vt = V_VT(v) & ~VT_BYREF;
        const bool byRef = (V_VT(v) & VT_BYREF) != 0;
        if (byRef && !V_BYREF(v))
            return E_POINTER;
        if ((type == FILEDATATYPE_FILENAME || type == FILEDATATYPE_TEXT) && vt == VT_BSTR)
            return Probe();
        if (type == FILEDATATYPE_STREAM && (vt == VT_UNKNOWN || vt == VT_DISPATCH))
            return Probe(vembro::ThrowIfNull(byRef ? *V_UNKNOWNREF(v) : V_UNKNOWN(v)));
        return E_INVALIDARG;
    }
    VEMBRO_CATCH_RETURN()

private:
    const Behaviour& Does() const noexcept { return m_config.behaviour; }
    void Call(const std::string& text) const { Journal(Name() + "." + text); }
    long WorkingState() const noexcept { return m_converter ? FTSTATE_CONVERT : FTSTATE_TRANSLATE; }

    HRESULT FormatOf_nothrow(bool source, ITolviFileFormat** pVal) noexcept
    try {
        Call(source ? "SourceFormat" : "TargetFormat");
        if (!pVal)
            return E_POINTER;
        *pVal = nullptr;
        HRESULT configured = source ? Does().sourceFormatResult : Does().targetFormatResult;
        if (FAILED(configured) || (source && Does().nullSourceFormat))
            return configured;
        const Format& f = source ? m_config.source : m_config.target;
        vembro::unique_bstr name(vembro::BstrFromAnsi_nothrow(f.name));
        return vembro::CreateFormatObject_nothrow(
            {f.id, name.get(), vembro::WideFromAnsi(f.defaultExt.c_str()), vembro::WideFromAnsi(f.exts.c_str()), f.complex}, pVal);
    }
    VEMBRO_CATCH_RETURN()

    // The configured answer; a stream is read to its end, so that the caller's restoring of its position shows.
    HRESULT Probe(IUnknown* stream = nullptr) const
    {
        std::string data;
        HRESULT hr = stream ? ReadAll_nothrow(StreamFrom(stream).Get(), data) : S_OK;
        return FAILED(hr) ? hr : Does().detect;
    }

    // The start calls after their journal line: startResult, then the work.
    HRESULT Start(const Job& job)
    {
        if (FAILED(Does().startResult))
            return Does().startResult;
        m_error = S_OK;
        m_state = WorkingState();
        if (Does().worker)
            Launch([this, job] { Perform(job); });
        else
            Perform(job);
        return Does().startResult;
    }

    // The Sync* calls: the same work and reports in the caller's thread.
    HRESULT RunSync_nothrow(const Job& job)
    {
        if (Does().noSync)
            return E_NOTIMPL; // only reachable through IDispatch
        if (FAILED(Does().syncResult))
            return Does().syncResult;
        m_error = S_OK;
        m_state = WorkingState();
        HRESULT hr = Perform(job);
        return FAILED(hr) ? hr : Does().syncResult;
    }

    // The work of a run, then the configured reports; the copy's failure, or S_OK.
    HRESULT Perform(const Job& job)
    {
        const Behaviour& b = Does();
        if (b.gate == Gate::Work)
            WaitAtGate(Name());
        HRESULT hr = b.finish == Finish::Complete || b.finish == Finish::Ready ? job.Copy_nothrow(Name()) : S_OK;
        for (const auto& p : b.progress)
            ReportProgress(p.first, p.second);
        if (FAILED(hr) || b.finish == Finish::Error)
            m_error = FAILED(hr) ? hr : b.errorCode;
        static const long kFinal[] = {FTSTATE_TRANSLATE_COMPLETE, FTSTATE_READY, FTSTATE_ERROR, FTSTATE_STOPPED, FTSTATE_SUSPEND};
        if (FAILED(hr) || b.finish != Finish::Nothing)
            ReportState(FAILED(hr) ? long{FTSTATE_ERROR} : kFinal[static_cast<int>(b.finish)]);
        return hr;
    }

    // Every sink, in Advise order: through IDispatch::Invoke (arguments in the order of the event's parameters) with
    // the type library's locale, or through the vtable; the sinks' answers are not looked at.
    template <class Direct>
    void Fire(DISPID id, VARIANT* args, UINT count, Direct&& direct)
    {
        auto call = [&](auto* sink) {
            if (!Does().dispatchEvents)
                return direct(sink);
            VARIANT reversed[2] = {args[count - 1], args[0]}; // DISPPARAMS holds them last first
            DISPPARAMS params{reversed, nullptr, count, 0};
            vembro::unique_variant result;
            sink->Invoke(id, IID_NULL, MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT), DISPATCH_METHOD, &params,
                         &result, nullptr, nullptr);
        };
        if (m_converter)
            m_point->FireEach<ITolviFileConverterEvents>(call);
        else
            m_point->FireEach<ITolviFileTranslatorEvents>(call);
    }

    struct Worker { ComPtr<IConnectionPointContainer> keepAlive; std::function<void()> work; HMODULE module; };

    // Runs `work` on a new MTA thread that holds this object, and the module until its very last instruction.
    void Launch(std::function<void()> work)
    {
        auto start = std::make_unique<Worker>(Worker{this, std::move(work), nullptr});
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerMain),
                                  &start->module))
            vembro::ThrowHr(vembro::HResultFromWin32(static_cast<LONG>(::GetLastError())));
        CountWorker(+1);
        HANDLE thread = ::CreateThread(nullptr, 0, &WorkerMain, start.get(), 0, nullptr);
        if (!thread) {
            HRESULT hr = vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
            ::FreeLibrary(start->module);
            CountWorker(-1);
            vembro::ThrowHr(hr);
        }
        start.release();
        ::CloseHandle(thread);
    }

    static DWORD WINAPI WorkerMain(void* param)
    {
        auto* start = static_cast<Worker*>(param);
        HMODULE module = start->module;
        HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        try {
            start->work();
        } catch (...) {
        }
        delete start; // the component may go away here, on this thread
        if (SUCCEEDED(init))
            ::CoUninitialize();
        CountWorker(-1);
        ::FreeLibraryAndExitThread(module, 0);
    }

    Config m_config;
    bool m_converter = true;
    vembro::QIEntry m_table[6] = {VEMBRO_QI_END};
    std::optional<JournalledPoint> m_point;
    std::atomic<long> m_state{FTSTATE_READY};
    std::atomic<HRESULT> m_error{S_OK};
    std::map<std::string, vembro::unique_variant> m_properties;
};

class FakeClassFactory : public vembro::CComObjectRootEx, public IClassFactory {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {VEMBRO_QI(FakeClassFactory, IClassFactory), VEMBRO_QI_END};
        return table;
    }
    Config m_config;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    try {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Journal(m_config.name + ".Create");
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(m_config.behaviour.createResult))
            return m_config.behaviour.createResult;
        if (m_config.behaviour.gate == Gate::Create)
            WaitAtGate(m_config.name);
        return vembro::CreateAndQuery_nothrow<vembro::CComObject<FakeComponent>>(riid, ppv, [this](FakeComponent& c) {
            c.Configure(m_config);
            return S_OK;
        });
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        lock ? vembro::ModuleLock() : vembro::ModuleUnlock();
        return S_OK;
    }
};

} // namespace
} // namespace fakes

// The module's entry points; the test side finds the Fake* ones by name in
// the module that COM loaded (support/Fakes.cpp).
extern "C" {

STDAPI DllCanUnloadNow() { return vembro::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
try {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    fakes::Config config;
    if (!fakes::ReadConfig(vembro::GuidString(rclsid), config))
        return CLASS_E_CLASSNOTAVAILABLE;
    return vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<fakes::FakeClassFactory>>(
        riid, ppv, [&](fakes::FakeClassFactory& factory) {
            factory.m_config = config;
            return S_OK;
        });
}
VEMBRO_CATCH_RETURN()

fakes::ModuleApi* FakeModule()
{
    struct Api final : fakes::ModuleApi {
        std::vector<std::string> Journal() override
        {
            auto lock = fakes::Module().cs.Lock();
            return fakes::Module().journal;
        }
        void ClearJournal() override
        {
            auto lock = fakes::Module().cs.Lock();
            std::vector<std::string>().swap(fakes::Module().journal); // its capacity too, for the soak's figures
        }
        bool WaitIdle(DWORD timeoutMs) override
        {
            return ::WaitForSingleObject(fakes::Module().idle.get(), timeoutMs) == WAIT_OBJECT_0;
        }
        long LiveObjects() override { return vembro::ModuleLockCount(); }
        long Fire(const std::string& name, long kind, long a, long b) override
        try {
            std::vector<fakes::FakeComponent*> found;
            {
                auto lock = fakes::Module().cs.Lock();
                for (fakes::FakeComponent* c : fakes::Module().live) {
                    if (c->Name() == name && c->TryAddRef())
                        found.push_back(c);
                }
            }
            for (fakes::FakeComponent* c : found) {
                if (kind == 0)
                    c->ReportState(a);
                else if (kind == 1)
                    c->ReportProgress(a, b);
                static_cast<IConnectionPointContainer*>(c)->Release();
            }
            return static_cast<long>(found.size());
        } catch (...) {
            return -1;
        }
    };
    static Api api;
    return &api;
}
}
