// The soak: MTA and STA client threads drive Vembro.DLL through its COM
// surface alone over the fake components, with faults injected at every call
// the system makes to a component. Every run must end exactly once as its
// client sees it, within a bound (a watchdog names the stuck run), with no
// temporary file left and the module able to unload; it prints the growth of
// handles, private bytes and heap in use per 1,000 runs.
//
//     soak.exe short | full | hostile
#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "Soak.h"
#include "support/Fakes.h"
#include "support/Variants.h"

using Microsoft::WRL::ComPtr;

namespace soak {

// ---- What both passes share.

HRESULT CallExport(HMODULE module, const char* name)
{
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return fn ? fn() : E_NOINTERFACE;
}

HRESULT CallDll(const char* name)
{
    std::wstring path = vembro::ModulePath(nullptr);
    path = path.substr(0, path.find_last_of(L"\\/")); // .../tests, next to Vembro.DLL
    HMODULE module = ::LoadLibraryW((path.substr(0, path.find_last_of(L"\\/") + 1) + L"Vembro.DLL").c_str());
    if (!module)
        return HRESULT_FROM_WIN32(::GetLastError());
    HRESULT hr = CallExport(module, name);
    ::FreeLibrary(module);
    return hr;
}

HRESULT CanUnloadNow()
{
    HMODULE module = ::GetModuleHandleW(L"Vembro.DLL");
    return module ? CallExport(module, "DllCanUnloadNow") : S_OK;
}

void CheckHr(const char* what, HRESULT hr)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what, static_cast<unsigned long>(hr));
    if (FAILED(hr))
        throw std::runtime_error(text);
}

ComPtr<ITolviFTManager> CreateManager()
{
    CLSID clsid;
    CheckHr("ProgID of the manager", ::CLSIDFromProgID(L"Vembro.FileTranslateManager", &clsid));
    ComPtr<ITolviFTManager> manager;
    CheckHr("creating the manager", ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)));
    return manager;
}

HRESULT Translator(ITolviFTManager* manager, short source, short target, ITolviFileTranslator** out)
{
    return manager->get_Translator(comtest::Var::I2(source), comtest::Var::I2(target), out);
}

std::string TempFolder()
{
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "Tolvi Labs\\TLVI\\9.0\\";
}

long TempFiles()
{
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((TempFolder() + "FTM*").c_str(), &data);
    long n = 0;
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(find, &data))
        ++n;
    if (find != INVALID_HANDLE_VALUE)
        ::FindClose(find);
    return n;
}

namespace {

struct ComInit {
    explicit ComInit(bool sta) : hr(::CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED)) {}
    ~ComInit()
    {
        if (SUCCEEDED(hr))
            ::CoUninitialize();
    }
    HRESULT hr;
};

// A thread with COM of its own for its whole life.
class Thread {
public:
    Thread(bool sta, std::function<void()> work) : m_sta(sta), m_work(std::move(work))
    {
        m_thread.reset(::CreateThread(nullptr, 0, &Thread::Main, this, 0, nullptr));
    }
    ~Thread() { Join(); }
    void Join() { ::WaitForSingleObject(m_thread.get(), INFINITE); }
    HANDLE Handle() const { return m_thread.get(); }

private:
    static DWORD WINAPI Main(void* self)
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
    bool m_sta;
    std::function<void()> m_work;
    vembro::unique_handle m_thread;
};

// Waits for `event`; a single-threaded apartment keeps its messages moving.
bool Wait(HANDLE event, bool sta, DWORD timeoutMs)
{
    const ULONGLONG until = ::GetTickCount64() + timeoutMs;
    for (;;) {
        ULONGLONG now = ::GetTickCount64();
        DWORD left = timeoutMs == INFINITE ? INFINITE : (now >= until ? 0 : static_cast<DWORD>(until - now));
        DWORD r = sta ? ::MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT)
                      : ::WaitForSingleObject(event, left);
        if (r != WAIT_OBJECT_0 + 1)
            return r == WAIT_OBJECT_0;
        for (MSG msg; ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
            ::DispatchMessageW(&msg);
    }
}

// ---- One client's side of a run.

bool IsFinal(long state)
{
    return state == FTSTATE_STOPPED || state == FTSTATE_TRANSLATE_COMPLETE || state == FTSTATE_ERROR;
}

// What a client hears: the states in order, and the end of the run. It is
// also the Direction object the translators receive.
class Sink final : public ITolviFileTranslatorEvents {
public:
    static inline std::atomic<long> alive{0};
    Sink() { ++alive; }
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

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_ITolviFileTranslatorEvents)
            return E_NOINTERFACE;
        *ppv = static_cast<ITolviFileTranslatorEvents*>(this);
        AddRef();
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
    STDMETHODIMP GetTypeInfoCount(UINT* n) noexcept override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
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
        ComPtr<IConnectionPoint> point;
        {
            auto lock = m_cs.Lock();
            m_states.push_back(state);
            point = m_point;
        }
        if (IsFinal(state)) {
            if (point && !m_unadvised.exchange(true))
                point->Unadvise(m_cookie);
            ::SetEvent(m_done.get());
        }
        return S_OK;
    }

private:
    ~Sink() { --alive; }
    LONG volatile m_ref = 1;
    mutable vembro::CriticalSection m_cs;
    std::vector<long> m_states;
    vembro::unique_handle m_done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
    std::atomic<bool> m_unadvised{false};
};

ComPtr<IStream> StreamOf(const char* text)
{
    ComPtr<IStream> stream;
    CheckHr("memory stream", ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    stream->Write(text, static_cast<ULONG>(std::strlen(text)), nullptr);
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    return stream;
}

enum Count { Runs, Completed, Stopped, Failed, Silent, Abandoned, EndedTwice, NotEnded, StartRefused, Dead, kCounts };
std::atomic<long> tally[kCounts];

// One family of fakes per fault: converter A (a->b), translator B (b->c),
// converter C (c->d); format IDs 100*k+1 .. 100*k+4.
struct Family {
    const char* name;
    fakes::Behaviour a, b, c;
    bool mustStop = false; // its components wait for Stop
    bool abandons = false; // they never answer it: the client lets go
};

// One client thread's state: its files, and the run it is in for the watchdog.
struct Client {
    int id;
    bool sta;
    const std::vector<Family>& families;
    std::string inName = TempFolder() + "..\\soak_in_" + std::to_string(id) + ".txt";
    std::string outName = TempFolder() + "..\\soak_out_" + std::to_string(id) + ".txt";
    std::atomic<bool> finished{false};
    std::atomic<ULONGLONG> runStart{0};
    mutable vembro::CriticalSection cs;
    std::string current;

    void RunOnce(ITolviFTManager* manager, unsigned seed, int deadSinks);
    // The current run when it has been going for longer than boundMs, else empty.
    std::string StuckRun(DWORD boundMs) const
    {
        ULONGLONG start = runStart;
        if (start == 0 || ::GetTickCount64() - start < boundMs)
            return std::string();
        auto lock = cs.Lock();
        return "client " + std::to_string(id) + (sta ? " (STA): " : " (MTA): ") + current;
    }
};

short FormatId(size_t family, int n) { return static_cast<short>(100 * (family + 1) + n); }

void Client::RunOnce(ITolviFTManager* manager, unsigned seed, int deadSinks)
{
    std::mt19937 rng(seed);
    const size_t family = rng() % families.size();
    const Family& plan = families[family];
    const int shape = static_cast<int>(rng() % 4); // 3 steps, C+T, T+C, one translator
    static const char* kShapes[] = {"3 steps", "converter+translator", "translator+converter", "1 step"};
    const short source = FormatId(family, shape == 0 || shape == 1 ? 1 : 2);
    const short target = FormatId(family, shape == 0 || shape == 2 ? 4 : 3);
    const bool onStreams = rng() % 2 == 0;
    const bool sync = rng() % 4 == 0;
    const bool stop = !sync && (plan.mustStop || rng() % 4 == 0);
    // A component handed out on its own (one step) that waits for a Stop it
    // refuses never ends: only a chain can end such a run.
    const bool deaf = plan.abandons || (shape == 3 && plan.mustStop);
    const bool abandon = !sync && (deaf || rng() % 16 == 0);
    const bool unadviseInside = rng() % 8 == 0;
    {
        auto lock = cs.Lock();
        current = std::string(plan.name) + ", " + kShapes[shape] + (onStreams ? ", streams" : ", files") +
                    (sync ? ", synchronous" : "") + (stop ? ", stopped" : "") + (abandon ? ", released mid-run" : "") +
                    (deadSinks ? ", sinks of ended apartments" : "");
    }
    runStart = ::GetTickCount64();
    ++tally[Runs];

    ComPtr<ITolviFileTranslator> translator;
    CheckHr("Translator", Translator(manager, source, target, &translator));
    ComPtr<Sink> sink = vembro::TakeOver(new Sink());
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    CheckHr("connection point container", translator.As(&container));
    CheckHr("connection point", container->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &point));
    DWORD cookie = 0;
    CheckHr("Advise", point->Advise(sink.Get(), &cookie));
    if (unadviseInside)
        sink->UnadviseOnEnd(point.Get(), cookie);
    for (int i = 0; i < deadSinks; ++i) { // advised from an apartment that then ends: the chain drops it
        ComPtr<IStream> s;
        CheckHr("marshalling the point", ::CoMarshalInterThreadInterfaceInStream(IID_IConnectionPoint, point.Get(), &s));
        Thread dead(true, [&] {
            ComPtr<IConnectionPoint> p;
            DWORD unused = 0;
            CheckHr("unmarshalling the point", ::CoGetInterfaceAndReleaseStream(s.Detach(), IID_PPV_ARGS(&p)));
            CheckHr("Advise from a dying apartment", p->Advise(vembro::TakeOver(new Sink()).Get(), &unused));
            ++tally[Dead];
        });
        Wait(dead.Handle(), sta, INFINITE);
    }
    if (rng() % 8 == 0) {
        vembro::unique_variant name, value;
        V_VT(&name) = VT_BSTR;
        V_BSTR(&name) = ::SysAllocString(L"Mode");
        V_VT(&value) = VT_I4;
        V_I4(&value) = static_cast<LONG>(rng() % 7);
        translator->put_Property(name, value);
    }

    const VARIANT missing = vembro::MissingArgument();
    vembro::unique_bstr in(::SysAllocString(vembro::WideFromAnsi(inName.c_str()).c_str()));
    vembro::unique_bstr out(::SysAllocString(vembro::WideFromAnsi(outName.c_str()).c_str()));
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
        ++tally[StartRefused];
    // A component handed out alone that refuses to start tells nobody: its
    // run ends with the call, as a synchronous one does.
    const bool endedByCall = sync || (FAILED(started) && shape == 3);
    if (stop && !endedByCall) {
        Wait(sink->Done(), sta, rng() % 4);
        translator->Stop(missing);
    }
    if (abandon) {
        Wait(sink->Done(), sta, deaf ? 20 : 0);
        ++tally[Abandoned];
    } else if (!endedByCall) {
        Wait(sink->Done(), sta, INFINITE);
    }
    sink->UnadviseOnEnd(nullptr, 0); // it must not keep the translator alive
    if (!sink->UnadvisedInside())
        point->Unadvise(cookie);
    point.Reset();
    container.Reset();
    translator.Reset();
    runStart = 0;
    if (abandon)
        return;

    const std::vector<long> states = sink->States();
    const long last = states.empty() ? -1 : states.back();
    long finals = 0, fives = 0;
    for (long s : states) {
        finals += IsFinal(s) ? 1 : 0;
        fives += s == FTSTATE_TRANSLATE_COMPLETE || s == FTSTATE_STOPPED ? 1 : 0;
    }
    if (endedByCall) {
        // 6 may come before the 5 that ends a failed synchronous run; a run
        // its component ended may show only its report or nothing.
        if (fives > 1 && shape != 3)
            ++tally[EndedTwice];
        ++tally[last == FTSTATE_TRANSLATE_COMPLETE ? (FAILED(started) ? Failed : Completed)
                : last == FTSTATE_STOPPED          ? Stopped
                                                   : Silent];
    } else if (finals == 0) {
        ++tally[NotEnded];
    } else {
        if (finals > 1 && shape != 3) { // a component handed out alone answers for itself
            ++tally[EndedTwice];
            std::string seq;
            for (long s : states)
                seq += " " + std::to_string(s);
            std::printf("  ended more than once: client %d: %s:%s\n", id, current.c_str(), seq.c_str());
        }
        ++tally[last == FTSTATE_TRANSLATE_COMPLETE ? Completed : last == FTSTATE_STOPPED ? Stopped : Failed];
    }
}

// ---- The soak run.

fakes::Behaviour B(std::function<void(fakes::Behaviour&)> set)
{
    fakes::Behaviour b;
    set(b);
    return b;
}

std::vector<Family> Families()
{
    using fakes::Finish;
    auto worker = [](fakes::Behaviour& b) {
        b.worker = true;
        b.progress = {{1, 4}, {2, 4}, {4, 4}};
    };
    auto waits = [](long stopReport, bool onWorker) {
        return B([=](fakes::Behaviour& b) {
            b.finish = Finish::Nothing;
            b.stopReport = stopReport;
            b.worker = onWorker;
        });
    };
    auto stopFails = [](bool onWorker) {
        return B([=](fakes::Behaviour& b) {
            b.finish = Finish::Nothing;
            b.stopResult = E_ACCESSDENIED;
            b.worker = onWorker;
        });
    };
    return {
        {"plain", {}, {}, {}},
        {"threads", B(worker), B([&](auto& b) { worker(b), b.dispatchEvents = true; }), B(worker)},
        {"stop-complete", waits(5, true), waits(5, true), waits(5, true), true},
        {"stop-ready", waits(0, false), waits(0, false), waits(0, false), true},
        {"stop-deaf", waits(-1, true), waits(-1, false), waits(-1, true), true, true},
        {"start-fails", {}, B([](auto& b) { b.startResult = b.syncResult = E_FAIL; }), {}},
        {"stop-fails", stopFails(false), stopFails(true), stopFails(false), true},
        {"errors", B(worker), B([&](auto& b) { worker(b), b.finish = Finish::Error, b.errorCode = E_ACCESSDENIED; }),
         B([](auto& b) { b.finish = Finish::Error; })},
        {"properties-fail", {}, B([&](auto& b) { worker(b), b.propertyResult = E_FAIL, b.propertyEvents = true; }), {}},
        {"create-fails", {}, {}, {}}, // C's creation fails once the routes are planned
        {"stops-itself", B([](auto& b) { b.finish = Finish::Stopped; }), {}, {}},
        {"suspends", {}, B([](auto& b) { b.finish = Finish::Suspend, b.worker = true; }), {}, true},
        {"error-without-code", {}, B([](auto& b) { b.finish = Finish::Error, b.errorCode = S_OK; }), {}},
    };
}

std::string FakeName(size_t family, char which) { return "F" + std::to_string(family) + which; }

fakes::Format FormatOf(size_t family, int n)
{
    const std::string name = "F" + std::to_string(family) + "-" + std::string(1, static_cast<char>('a' + n - 1));
    return {FormatId(family, n), name, name, name};
}

struct Usage {
    DWORD handles = 0;
    double privateMiB = 0;
    double heapKiB = 0, tablesKiB = 0; // in use in the process's heaps: the stub tables below, and the rest
};

constexpr size_t kStubTable = 8 + 256 * sizeof(void*);

// Wine 8's rpcrt4 gives its stubs of interfaces derived from IDispatch, as the
// events interfaces are, a shared table: two counts, then a 256-entry vtable
// that starts with three functions of its own. A stub's release lowers the
// wrong count, so the next stub gets a new table and the old one is never
// freed (stub_tables.exe shows it). Counted apart: the rest is everything else.
bool IsStubTable(const PROCESS_HEAP_ENTRY& e, const MODULEINFO& rpc)
{
    auto vtbl = reinterpret_cast<char* const*>(static_cast<const char*>(e.lpData) + 8);
    auto base = static_cast<char*>(rpc.lpBaseOfDll);
    return e.cbData == kStubTable &&
           std::all_of(vtbl, vtbl + 3, [&](char* p) { return p >= base && p < base + rpc.SizeOfImage; });
}

// Handles counted by probing, since the platform's own count is not
// available everywhere; private bytes from the process's memory counters; the
// heap in use from a walk of every heap of the process.
Usage Measure()
{
    Usage u;
    DWORD flags = 0;
    for (ULONG_PTR h = 4; h < 0x20000; h += 4)
        u.handles += ::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
    PROCESS_MEMORY_COUNTERS pmc{};
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc))
        u.privateMiB = pmc.PagefileUsage / 1048576.0;
    MODULEINFO rpc{};
    ::GetModuleInformation(::GetCurrentProcess(), ::GetModuleHandleW(L"rpcrt4.dll"), &rpc, sizeof rpc);
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(::GetProcessHeaps(64, heaps), 64);
    for (DWORD i = 0; i < count; ++i) {
        ::HeapLock(heaps[i]);
        for (PROCESS_HEAP_ENTRY e{}; ::HeapWalk(heaps[i], &e);) {
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                (IsStubTable(e, rpc) ? u.tablesKiB : u.heapKiB) += e.cbData / 1024.0;
        }
        ::HeapUnlock(heaps[i]);
    }
    return u;
}

// Apartments per client that advise a sink and end. Under Wine 8 each keeps its
// endpoint for the life of the process, and the platform serves at most 63
// endpoints (soak/EndedApartments.cpp): 8 x 6 = 48, beside the multithreaded
// apartment and the 4 single-threaded clients.
constexpr int kDeadPerClient = 6;

int RunSoak(int clients, int runsPerClient)
{
    const std::vector<Family> families = Families();
    fakes::Installation inst;
    for (size_t i = 0; i < families.size(); ++i) {
        inst.Converter(FakeName(i, 'A'), FormatOf(i, 1), FormatOf(i, 2), families[i].a)
            .Translator(FakeName(i, 'B'), FormatOf(i, 2), FormatOf(i, 3), families[i].b)
            .Converter(FakeName(i, 'C'), FormatOf(i, 3), FormatOf(i, 4), families[i].c);
    }
    inst.Install();
    const long tempBefore = TempFiles();
    {
        // Plan every route once, so that creation can fail afterwards.
        ComPtr<ITolviFTManager> manager = CreateManager();
        for (size_t i = 0; i < families.size(); ++i) {
            ComPtr<ITolviFileTranslator> t;
            CheckHr("planning", Translator(manager.Get(), FormatId(i, 1), FormatId(i, 4), &t));
        }
    }
    for (size_t i = 0; i < families.size(); ++i) {
        if (std::string(families[i].name) == "create-fails")
            inst.Change(FakeName(i, 'C'), B([](auto& b) { b.createResult = E_OUTOFMEMORY; }));
    }

    std::vector<std::unique_ptr<Client>> pool;
    std::vector<std::unique_ptr<Thread>> threads;
    vembro::unique_handle leave(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const int warmUp = runsPerClient / 10;
    // After warm-up every client waits at a barrier, so that the figures
    // are taken while no run is in progress.
    std::atomic<int> warmed{0};
    Usage atWarmUp{};
    vembro::unique_handle barrier(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (int i = 0; i < clients; ++i) {
        const bool sta = i % 2 == 1;
        Client* c = pool.emplace_back(new Client{i, sta, families}).get();
        threads.push_back(std::make_unique<Thread>(sta, [&, c, sta] {
            HANDLE file = ::CreateFileA(c->inName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            ::WriteFile(file, "soak\n", 5, &written, nullptr);
            ::CloseHandle(file);
            ComPtr<ITolviFTManager> manager = CreateManager();
            int deadLeft = kDeadPerClient;
            for (int run = 0; run < runsPerClient; ++run) {
                // Within warm-up: what Wine keeps of an ended apartment stays.
                const int dead = run > 0 && run < warmUp ? std::min(deadLeft, (kDeadPerClient + warmUp - 2) / (warmUp - 1)) : 0;
                deadLeft -= dead;
                c->RunOnce(manager.Get(), static_cast<unsigned>(c->id * 100003 + run), dead);
                if (run + 1 == warmUp) {
                    if (++warmed == clients) {
                        // A single-threaded client keeps its messages moving,
                        // since a worker may be calling into it.
                        for (int n = 0; n < 3000 && !inst.WaitIdle(0); ++n)
                            Wait(barrier.get(), sta, 10);
                        inst.ClearJournal(); // what the components did so far: not kept
                        atWarmUp = Measure();
                        ::SetEvent(barrier.get());
                    }
                    Wait(barrier.get(), sta, INFINITE);
                }
            }
            c->finished = true;
            Wait(leave.get(), sta, INFINITE); // the apartment stays until the workers are done
        }));
    }
    const ULONGLONG started = ::GetTickCount64();

    // Faults from a foreign thread: stray reports to every fake, running or
    // finished. Working states, unknown ones and progress of any kind; not a
    // final state: a component that claims to be done while its worker still
    // writes may leave its intermediate file behind until the translator's
    // next run ends or the translator goes.
    std::atomic<bool> stop{false};
    Thread injector(true, [&] {
        std::mt19937 rng(12345);
        while (!stop) {
            std::string name = FakeName(rng() % families.size(), "ABC"[rng() % 3]);
            static const long states[] = {FTSTATE_CONVERT, FTSTATE_TRANSLATE, 42, -1};
            if (rng() % 4 == 0)
                inst.Report(name, states[rng() % 4]);
            else
                inst.ReportProgress(name, static_cast<long>(rng() % 10), static_cast<long>(rng() % 3));
            ::Sleep(1 + rng() % 3);
        }
    });

    // The watchdog: a run that has not ended within 20 s is named, with the
    // recent journal of the components, and the soak fails at once.
    for (unsigned ticks = 1; !std::all_of(pool.begin(), pool.end(), [](auto& c) { return c->finished.load(); }); ++ticks) {
        if (ticks % 25 == 0)
            inst.ClearJournal(); // it would grow with every run
        for (auto& c : pool) {
            std::string stuck = c->StuckRun(20000);
            if (stuck.empty())
                continue;
            std::printf("WATCHDOG: stuck run: %s\n", stuck.c_str());
            auto trace = inst.Journal();
            for (size_t i = trace.size() > 60 ? trace.size() - 60 : 0; i < trace.size(); ++i)
                std::printf("  %s\n", trace[i].c_str());
            ::ExitProcess(3);
        }
        ::Sleep(200);
    }
    stop = true;
    injector.Join();
    const double seconds = (::GetTickCount64() - started) / 1000.0;
    // The clients' apartments stay open (single-threaded ones pumping) until
    // the components' workers are done: a call into an apartment that has
    // gone while the call was on its way would never return.
    const bool idle = inst.WaitIdle(30000);
    inst.ClearJournal();
    const Usage atEnd = Measure(); // as at warm-up: every client idle, its manager held
    ::SetEvent(leave.get());
    threads.clear();
    for (auto& c : pool) {
        ::DeleteFileA(c->inName.c_str());
        ::DeleteFileA(c->outName.c_str());
    }
    const long tempLeft = TempFiles() - tempBefore;
    const HRESULT unload = CanUnloadNow();

    const double per1000 = 1000.0 / std::max(1.0, tally[Runs] - static_cast<double>(clients) * warmUp);
    const double handlesGrowth = (static_cast<double>(atEnd.handles) - atWarmUp.handles) * per1000;
    const double heapGrowthKiB = (atEnd.heapKiB - atWarmUp.heapKiB) * per1000;
    std::printf("soak: %d client threads (%d MTA, %d STA), %ld runs in %.1f s\n", clients, (clients + 1) / 2,
                clients / 2, tally[Runs].load(), seconds);
    std::printf("  ended: %ld complete, %ld stopped, %ld failed, %ld by the call's return alone, %ld let go\n"
                "  runs that ended more than once: %ld, that never ended: %ld, refused starts: %ld\n"
                "  sinks advised from apartments that then ended: %ld, client sinks alive: %ld\n",
                tally[Completed].load(), tally[Stopped].load(), tally[Failed].load(), tally[Silent].load(),
                tally[Abandoned].load(), tally[EndedTwice].load(), tally[NotEnded].load(), tally[StartRefused].load(),
                tally[Dead].load(), Sink::alive.load());
    std::printf("  temporary files left: %ld\n  fake workers idle: %s, fake objects alive: %ld\n"
                "  DllCanUnloadNow: 0x%08lX\n  handles: %lu after warm-up, %lu at the end: %+.2f per 1,000 runs\n"
                "  private bytes: %.1f MiB after warm-up, %.1f MiB at the end: %+.1f KiB per 1,000 runs\n"
                "  heap in use: %.1f KiB after warm-up, %.1f KiB at the end: %+.1f KiB per 1,000 runs; besides,\n"
                "  rpcrt4's stub tables: %.0f after warm-up, %.0f at the end: %+.1f KiB per 1,000 runs\n",
                tempLeft, idle ? "yes" : "NO", inst.LiveObjects(), static_cast<unsigned long>(unload),
                atWarmUp.handles, atEnd.handles, handlesGrowth,
                atWarmUp.privateMiB, atEnd.privateMiB, (atEnd.privateMiB - atWarmUp.privateMiB) * 1024 * per1000,
                atWarmUp.heapKiB, atEnd.heapKiB, heapGrowthKiB,
                atWarmUp.tablesKiB * 1024 / kStubTable, atEnd.tablesKiB * 1024 / kStubTable,
                (atEnd.tablesKiB - atWarmUp.tablesKiB) * per1000);
    // Flat after warm-up: a handle or a hundred bytes lost a run would be far above these. Judged in the full run
    // only: the short one's warm-up is too short for the platform's own thread pools to have settled.
    const bool flat = runsPerClient < 1000 || (handlesGrowth < 10 && heapGrowthKiB < 64);
    const bool ok = tally[EndedTwice] == 0 && tally[NotEnded] == 0 && tally[StartRefused] == 0 && flat &&
                    Sink::alive == 0 && tempLeft <= 0 && idle && inst.LiveObjects() == 0 && unload == S_OK;
    std::printf("soak: %s\n", ok ? "clean" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace
} // namespace soak

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"short";
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    soak::ComInit com(false);
    // Vembro.DLL's own self-registration, undone at the end.
    const HRESULT registered = soak::CallDll("DllRegisterServer");
    int result = 2;
    try {
        soak::CheckHr("registering Vembro.DLL", registered);
        result = mode == L"hostile" ? soak::RunHostile() : soak::RunSoak(8, mode == L"full" ? 1000 : 40);
    } catch (const std::exception& e) {
        std::printf("soak: %s\n", e.what());
    }
    if (SUCCEEDED(registered))
        soak::CallDll("DllUnregisterServer");
    return result;
}
