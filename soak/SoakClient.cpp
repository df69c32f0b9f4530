#include "SoakClient.h"

#include <ocidl.h>

#include <cstdio>
#include <cstring>
#include <random>

namespace soak {

using Microsoft::WRL::ComPtr;

namespace {

std::wstring DllPath()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, n);
    text = text.substr(0, text.find_last_of(L"\\/"));            // .../tests
    return text.substr(0, text.find_last_of(L"\\/") + 1) + L"Vembro.DLL"; // next to it
}

HRESULT CallExport(const char* name)
{
    HMODULE module = ::LoadLibraryW(DllPath().c_str());
    if (!module)
        return HRESULT_FROM_WIN32(::GetLastError());
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    HRESULT hr = fn ? fn() : E_NOINTERFACE;
    ::FreeLibrary(module);
    return hr;
}

// What a client hears: the states in order, and the end of the run. It is
// also the Direction object the translators receive.
class Sink final : public ITolviFileTranslatorEvents {
public:
    Sink() : m_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    HANDLE Done() const { return m_done.get(); }
    std::vector<long> States() const
    {
        auto lock = m_cs.Lock();
        return m_states;
    }
    // Unadvise from inside the final event (null: no longer).
    void UnadviseOnEnd(IConnectionPoint* point, DWORD cookie)
    {
        auto lock = m_cs.Lock();
        m_point = point;
        m_cookie = cookie;
    }
    bool UnadvisedInside() const { return m_unadvised; }
    // Reached directly from every thread instead of through a proxy.
    void FreeThreaded() { ::CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(this), &m_ftm); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IMarshal && m_ftm)
            return m_ftm->QueryInterface(riid, ppv);
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_ITolviFileTranslatorEvents)
            return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<ITolviFileTranslatorEvents*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ::InterlockedIncrement(&m_ref); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        LONG n = ::InterlockedDecrement(&m_ref);
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) noexcept override
    {
        if (n)
            *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept override
    {
        if (id == 2 && params && params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_I4)
            return StateChange(V_I4(&params->rgvarg[0]));
        return S_OK;
    }
    STDMETHODIMP PropertyChange(VARIANT, VARIANT) noexcept override { return S_OK; }
    STDMETHODIMP ProgressChange(LONG, LONG) noexcept override { return S_OK; }
    STDMETHODIMP StateChange(LONG state) noexcept override
    {
        {
            auto lock = m_cs.Lock();
            m_states.push_back(state);
        }
        if (state == FTSTATE_STOPPED || state == FTSTATE_TRANSLATE_COMPLETE || state == FTSTATE_ERROR) {
            ComPtr<IConnectionPoint> point;
            {
                auto lock = m_cs.Lock();
                point = m_point;
            }
            if (point && !m_unadvised.exchange(true))
                point->Unadvise(m_cookie);
            ::SetEvent(m_done.get());
        }
        return S_OK;
    }

private:
    ~Sink() = default;
    LONG volatile m_ref = 1;
    mutable vembro::CriticalSection m_cs;
    std::vector<long> m_states;
    vembro::unique_handle m_done;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
    ComPtr<IUnknown> m_ftm;
    std::atomic<bool> m_unadvised{false};
};

ComPtr<IConnectionPoint> PointOf(IUnknown* translator)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    CheckHr("connection point container", translator->QueryInterface(IID_PPV_ARGS(&container)));
    CheckHr("connection point", container->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &point));
    return point;
}

// A sink whose single-threaded apartment has ended: made and marshalled on
// a thread of its own, connected, and then that thread leaves COM.
void AdviseDeadSink(IConnectionPoint* point)
{
    IStream* stream = nullptr;
    vembro::unique_handle made(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vembro::unique_handle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Thread owner(true, [&] {
        ComPtr<Sink> sink = vembro::TakeOver(new Sink());
        ::CoMarshalInterThreadInterfaceInStream(IID_ITolviFileTranslatorEvents, sink.Get(), &stream);
        ::SetEvent(made.get());
        Wait(go.get(), true, INFINITE);
    });
    ::WaitForSingleObject(made.get(), INFINITE);
    ComPtr<IUnknown> proxy;
    if (stream && SUCCEEDED(::CoGetInterfaceAndReleaseStream(stream, IID_ITolviFileTranslatorEvents,
                                                             reinterpret_cast<void**>(proxy.GetAddressOf())))) {
        DWORD cookie = 0;
        point->Advise(proxy.Get(), &cookie);
    }
    proxy.Reset();
    ::SetEvent(go.get());
    owner.Join();
}

ComPtr<IStream> StreamOf(const char* text)
{
    ComPtr<IStream> stream;
    CheckHr("memory stream", ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ULONG written = 0;
    stream->Write(text, static_cast<ULONG>(std::strlen(text)), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

bool IsFinal(long state)
{
    return state == FTSTATE_STOPPED || state == FTSTATE_TRANSLATE_COMPLETE || state == FTSTATE_ERROR;
}

} // namespace

Registration::Registration()
{
    HRESULT hr = CallExport("DllRegisterServer");
    ok = SUCCEEDED(hr);
    if (!ok)
        std::printf("soak: registering Vembro.DLL failed: 0x%08lX\n", static_cast<unsigned long>(hr));
}

Registration::~Registration()
{
    if (ok)
        CallExport("DllUnregisterServer");
}

void CheckHr(const char* what, HRESULT hr)
{
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what, static_cast<unsigned long>(hr));
        throw std::runtime_error(text);
    }
}

ComPtr<ITolviFTManager> CreateManager()
{
    CLSID clsid;
    CheckHr("ProgID of the manager", ::CLSIDFromProgID(L"Vembro.FileTranslateManager", &clsid));
    ComPtr<ITolviFTManager> manager;
    CheckHr("creating the manager", ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)));
    return manager;
}

VARIANT I2(short value)
{
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}

HRESULT Translator(ITolviFTManager* manager, short source, short target, ITolviFileTranslator** out)
{
    return manager->get_Translator(I2(source), I2(target), out);
}

HRESULT CanUnloadNow()
{
    HMODULE module = ::GetModuleHandleW(L"Vembro.DLL");
    if (!module)
        return S_OK;
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_NOINTERFACE;
}

std::string TempFolder()
{
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "Tolvi Labs\\TLVI\\9.0\\";
}

size_t TempFiles(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "FTM*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    size_t n = 0;
    do
        ++n;
    while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return n;
}

std::string TempFileNames(const std::string& folder)
{
    std::string names;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "FTM*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        char head[64] = {};
        DWORD read = 0;
        HANDLE file = ::CreateFileA((folder + data.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::ReadFile(file, head, sizeof head - 1, &read, nullptr);
            ::CloseHandle(file);
        }
        for (char& c : head)
            c = c == '\n' ? '|' : c;
        names += std::string(data.cFileName) + " [" + head + "] ";
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return names;
}

Thread::Thread(bool sta, std::function<void()> work) : m_sta(sta), m_work(std::move(work))
{
    m_thread.reset(::CreateThread(nullptr, 0, &Thread::Main, this, 0, nullptr));
}

void Thread::Join()
{
    if (m_thread)
        ::WaitForSingleObject(m_thread.get(), INFINITE);
}

DWORD WINAPI Thread::Main(void* self)
{
    auto* t = static_cast<Thread*>(self);
    ComInit com(t->m_sta);
    try {
        t->m_work();
    } catch (const std::exception& e) {
        std::printf("soak: thread: %s\n", e.what());
    }
    return 0;
}

bool Wait(HANDLE event, bool sta, DWORD timeoutMs)
{
    const ULONGLONG until = ::GetTickCount64() + timeoutMs;
    for (;;) {
        ULONGLONG now = ::GetTickCount64();
        DWORD left = timeoutMs == INFINITE ? INFINITE : (now >= until ? 0 : static_cast<DWORD>(until - now));
        DWORD r = sta ? ::MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT)
                      : ::WaitForSingleObject(event, left);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void Tally::Print() const
{
    std::printf("  runs: %ld (%ld file, %ld stream; %ld synchronous; %ld/%ld/%ld/%ld of 1/2/2/3 steps)\n",
                runs.load(), files.load(), streams.load(), syncRuns.load(), steps[0].load(), steps[1].load(),
                steps[2].load(), steps[3].load());
    std::printf("  ended: %ld complete, %ld stopped, %ld failed, %ld calls that ended their run by returning, with no final state\n",
                completed.load(), stopped.load(), failed.load(), endedSilently.load());
    std::printf("  faults: %ld Stop calls, %ld translators released mid-run, %ld sinks with a dead apartment, "
                "%ld Unadvise calls from inside an event\n",
                stopsSent.load(), abandoned.load(), deadSinks.load(), unadvisedInside.load());
    std::printf("  runs that ended more than once: %ld, that never ended: %ld, refused starts: %ld\n",
                endedTwice.load(), notEnded.load(), startRefused.load());
}

Client::Client(int id, bool sta, int runs, Options options, const std::vector<ClientPlan>& plans, Tally& tally,
               std::function<void(int)> onRun)
    : m_id(id), m_sta(sta), m_runs(runs), m_options(options), m_plans(plans), m_tally(tally), m_onRun(std::move(onRun)),
      m_in(TempFolder() + "..\\soak_in_" + std::to_string(id) + ".txt"),
      m_out(TempFolder() + "..\\soak_out_" + std::to_string(id) + ".txt"), m_thread(sta, [this] { Main(); })
{
}

Client::~Client()
{
    ::SetEvent(m_leave.get());
    m_thread.Join();
    ::DeleteFileA(m_in.c_str());
    ::DeleteFileA(m_out.c_str());
}

std::string Client::StuckRun(DWORD boundMs) const
{
    ULONGLONG start = m_runStart;
    if (start == 0 || ::GetTickCount64() - start < boundMs)
        return std::string();
    auto lock = m_cs.Lock();
    return "client " + std::to_string(m_id) + (m_sta ? " (STA): " : " (MTA): ") + m_current;
}

void Client::Main()
{
    HANDLE file = ::CreateFileA(m_in.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, "soak\n", 5, &written, nullptr);
    ::CloseHandle(file);
    ComPtr<ITolviFTManager> manager = CreateManager();
    for (int i = 0; i < m_runs; ++i) {
        RunOnce(manager.Get(), static_cast<unsigned>(m_id * 100003 + i));
        m_onRun(i + 1);
    }
    m_finished = true;
    Wait(m_leave.get(), m_sta, INFINITE);
}

void Client::RunOnce(ITolviFTManager* manager, unsigned seed)
{
    std::mt19937 rng(seed);
    const ClientPlan& plan = m_plans[rng() % m_plans.size()];
    const int shape = static_cast<int>(rng() % 4); // 3 steps, C+T, T+C, one translator
    static const char* kShapes[] = {"3 steps", "converter+translator", "translator+converter", "1 step"};
    const short source = shape == 0 || shape == 1 ? plan.a : plan.b;
    const short target = shape == 0 || shape == 2 ? plan.d : plan.c;
    const bool onStreams = rng() % 2 == 0;
    const bool sync = rng() % 4 == 0;
    const bool stop = !sync && (plan.mustStop || rng() % 4 == 0);
    // A component handed out on its own (one step) that waits for a Stop it
    // refuses never ends: only a chain can end such a run.
    const bool deaf = plan.abandons || (shape == 3 && plan.mustStop);
    const bool abandon = !sync && (deaf || rng() % 16 == 0);
    const bool deadSink = m_options.deadSinks && !m_sta && rng() % 16 == 0;
    const bool unadviseInside = rng() % 8 == 0;
    {
        auto lock = m_cs.Lock();
        m_current = std::string(plan.name) + ", " + kShapes[shape] + (onStreams ? ", streams" : ", files") +
                    (sync ? ", synchronous" : "") + (stop ? ", stopped" : "") + (abandon ? ", released mid-run" : "");
    }
    m_runStart = ::GetTickCount64();
    ++m_tally.runs;
    ++(onStreams ? m_tally.streams : m_tally.files);
    ++m_tally.steps[shape == 3 ? 0 : shape == 0 ? 3 : shape];
    if (sync)
        ++m_tally.syncRuns;

    ComPtr<ITolviFileTranslator> translator;
    CheckHr("Translator", Translator(manager, source, target, &translator));
    ComPtr<Sink> sink = vembro::TakeOver(new Sink());
    if (!m_options.marshalledSinks)
        sink->FreeThreaded();
    ComPtr<IConnectionPoint> point = PointOf(translator.Get());
    DWORD cookie = 0;
    CheckHr("Advise", point->Advise(sink.Get(), &cookie));
    if (unadviseInside)
        sink->UnadviseOnEnd(point.Get(), cookie);
    if (deadSink) {
        AdviseDeadSink(point.Get());
        ++m_tally.deadSinks;
    }
    if (rng() % 8 == 0) {
        VARIANT name, value;
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = ::SysAllocString(L"Mode");
        V_VT(&value) = VT_I4;
        V_I4(&value) = static_cast<LONG>(rng() % 7);
        translator->put_Property(name, value);
        ::VariantClear(&name);
    }

    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    vembro::unique_bstr in(::SysAllocString(std::wstring(m_in.begin(), m_in.end()).c_str()));
    vembro::unique_bstr out(::SysAllocString(std::wstring(m_out.begin(), m_out.end()).c_str()));
    ComPtr<IStream> inStream = StreamOf("soak\n"), outStream = StreamOf("");
    HRESULT started;
    if (sync) {
        ComPtr<ITolviFileTranslator2> t2;
        started = translator.As(&t2);
        if (SUCCEEDED(started))
            started = onStreams ? t2->SyncTranslateStream(sink.Get(), inStream.Get(), outStream.Get(), missing)
                                : t2->SyncTranslateFile(sink.Get(), in.get(), out.get(), missing);
    } else {
        started = onStreams ? translator->TranslateStream(sink.Get(), inStream.Get(), outStream.Get(), missing)
                            : translator->TranslateFile(sink.Get(), in.get(), out.get(), missing);
    }
    if (started == E_UNEXPECTED)
        ++m_tally.startRefused;
    // A component handed out alone that refuses to start tells nobody: its
    // run ends with the call, as a synchronous one does.
    const bool endedByCall = sync || (FAILED(started) && shape == 3);
    if (stop && !endedByCall) {
        Wait(sink->Done(), m_sta, rng() % 4);
        translator->Stop(missing);
        ++m_tally.stopsSent;
    }
    if (abandon) {
        Wait(sink->Done(), m_sta, deaf ? 20 : 0);
        ++m_tally.abandoned;
    } else if (!endedByCall) {
        Wait(sink->Done(), m_sta, INFINITE);
    }
    sink->UnadviseOnEnd(nullptr, 0); // it must not keep the translator alive
    if (!sink->UnadvisedInside())
        point->Unadvise(cookie);
    else
        ++m_tally.unadvisedInside;
    point.Reset();
    translator.Reset();

    if (!abandon) {
        std::vector<long> states = sink->States();
        long finals = 0;
        for (long s : states)
            finals += IsFinal(s) ? 1 : 0;
        const long last = states.empty() ? -1 : states.back();
        if (endedByCall) {
            // 6 may come before the 5 that ends a failed synchronous run;
            // a run its component ended may show only its report or nothing.
            long fives = 0;
            for (long s : states)
                fives += s == FTSTATE_TRANSLATE_COMPLETE || s == FTSTATE_STOPPED ? 1 : 0;
            if (fives > 1 && shape != 3)
                ++m_tally.endedTwice;
            ++(last == FTSTATE_TRANSLATE_COMPLETE ? (FAILED(started) ? m_tally.failed : m_tally.completed)
               : last == FTSTATE_STOPPED          ? m_tally.stopped
                                                  : m_tally.endedSilently);
        } else if (finals == 0) {
            ++m_tally.notEnded;
        } else {
            if (finals > 1 && shape != 3) { // a component handed out alone answers for itself
                ++m_tally.endedTwice;
                std::string seq;
                for (long st : states)
                    seq += " " + std::to_string(st);
                auto lock = m_cs.Lock();
                std::printf("  ended more than once: client %d: %s:%s\n", m_id, m_current.c_str(), seq.c_str());
            }
            ++(last == FTSTATE_TRANSLATE_COMPLETE ? m_tally.completed
               : last == FTSTATE_STOPPED          ? m_tally.stopped
                                                  : m_tally.failed);
        }
    }
    m_runStart = 0;
}

} // namespace soak
