// The soak: client threads, some in the multithreaded apartment and some in
// single-threaded ones with message loops, drive Vembro.DLL through its COM
// surface alone (the manager made with CoCreateInstance) over the
// configurable fake components installed as real ones, while faults are
// injected at every call the system makes to a component. It checks that
// every run ends exactly once as its client sees it, within a bounded time
// (a watchdog names any run that does not and prints the component
// journal), that no temporary file is left, that the module can unload, and
// prints the growth of handles and private bytes per 1,000 runs.
//
//     soak.exe short | full | hostile [--marshalled-sinks] [--dead-sinks]
//
// --marshalled-sinks: the single-threaded clients' sinks are reached through
// the type-library marshaller; --dead-sinks adds client sinks whose
// single-threaded apartment has ended. Both are off by default: under Wine 8
// the soak then crashes now and then inside the platform's marshalling
// (oleaut32, rpcrt4: calls through freed or null pointers while proxies and
// stubs of the event interface are made or used).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SoakClient.h"
#include "components/FakeConfig.h"
#include "support/Fakes.h"

using Microsoft::WRL::ComPtr;
using namespace soak;

namespace {

// One family of fakes per fault: converter A (a->b), translator B (b->c),
// converter C (c->d); format IDs 100*k+1 .. 100*k+4.
struct Family {
    const char* name;
    fakes::Behaviour a, b, c;
    bool mustStop = false;   // its components wait for Stop
    bool abandons = false;   // its components never answer Stop: the client lets go
};

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
    auto waits = [](Finish f, long stopReport, bool onWorker) {
        return B([=](fakes::Behaviour& b) {
            b.finish = f;
            b.stopReport = stopReport;
            b.worker = onWorker;
        });
    };
    std::vector<Family> f;
    f.push_back({"plain", {}, {}, {}});
    f.push_back({"threads", B(worker), B([&](auto& b) { worker(b); b.dispatchEvents = true; }), B(worker)});
    f.push_back({"stop-complete", waits(Finish::Nothing, 5, true), waits(Finish::Nothing, 5, true),
                 waits(Finish::Nothing, 5, true), true});
    f.push_back({"stop-ready", waits(Finish::Nothing, 0, false), waits(Finish::Nothing, 0, false),
                 waits(Finish::Nothing, 0, false), true});
    f.push_back({"stop-deaf", waits(Finish::Nothing, -1, true), waits(Finish::Nothing, -1, false),
                 waits(Finish::Nothing, -1, true), true, true});
    f.push_back({"start-fails", {}, B([](auto& b) { b.startResult = E_FAIL; b.syncResult = E_FAIL; }), {}});
    f.push_back({"stop-fails", B([](auto& b) { b.finish = Finish::Nothing; b.stopResult = E_ACCESSDENIED; }),
                 B([](auto& b) { b.finish = Finish::Nothing; b.stopResult = E_ACCESSDENIED; b.worker = true; }),
                 B([](auto& b) { b.finish = Finish::Nothing; b.stopResult = E_ACCESSDENIED; }), true});
    f.push_back({"errors", B(worker), B([&](auto& b) { worker(b); b.finish = Finish::Error; b.errorCode = E_ACCESSDENIED; }),
                 B([](auto& b) { b.finish = Finish::Error; })});
    f.push_back({"properties-fail", {}, B([&](auto& b) { worker(b); b.propertyResult = E_FAIL; b.propertyEvents = true; }), {}});
    f.push_back({"create-fails", {}, {}, {}}); // C's creation fails once the routes are planned
    f.push_back({"stops-itself", B([](auto& b) { b.finish = Finish::Stopped; }), {}, {}});
    f.push_back({"suspends", {}, B([](auto& b) { b.finish = Finish::Suspend; b.worker = true; }), {}, true});
    f.push_back({"error-without-code", {}, B([](auto& b) { b.finish = Finish::Error; b.errorCode = S_OK; }), {}});
    return f;
}

std::string FakeName(size_t family, char which) { return "F" + std::to_string(family) + which; }

fakes::Format FormatOf(size_t family, int n)
{
    const short id = static_cast<short>(100 * (family + 1) + n);
    const std::string name = "F" + std::to_string(family) + "-" + std::string(1, static_cast<char>('a' + n - 1));
    return {id, name, name, name};
}

// The installation, and the one change that can only come after planning.
void Install(fakes::Installation& inst, const std::vector<Family>& families)
{
    for (size_t i = 0; i < families.size(); ++i) {
        const Family& f = families[i];
        inst.Converter(FakeName(i, 'A'), FormatOf(i, 1), FormatOf(i, 2), f.a)
            .Translator(FakeName(i, 'B'), FormatOf(i, 2), FormatOf(i, 3), f.b)
            .Converter(FakeName(i, 'C'), FormatOf(i, 3), FormatOf(i, 4), f.c);
    }
    inst.Install();
}

void FailCreationFrom(fakes::Installation& inst, const std::vector<Family>& families, size_t family)
{
    fakes::Config c;
    c.kind = fakes::Kind::Converter;
    c.name = FakeName(family, 'C');
    c.source = FormatOf(family, 3);
    c.target = FormatOf(family, 4);
    c.behaviour = families[family].c;
    c.behaviour.createResult = E_OUTOFMEMORY;
    vembro::unique_hkey key;
    std::wstring path = std::wstring(fakes::kConfigRoot) + L"\\" + inst.ClsidStringOf(c.name);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        fakes::WriteConfig(key.get(), c);
}

struct Usage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// Handles counted by probing, since the platform's own count is not
// available everywhere; private bytes from the process's memory counters.
Usage Measure()
{
    Usage u;
    DWORD flags = 0;
    for (ULONG_PTR h = 4; h < 0x20000; h += 4)
        u.handles += ::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc))
        u.privateBytes = pmc.PagefileUsage;
    return u;
}

int RunSoak(int clients, int runsPerClient, Options options)
{
    const std::vector<Family> families = Families();
    fakes::Installation inst;
    Install(inst, families);
    const std::string tempFolder = TempFolder();
    const size_t tempBefore = TempFiles(tempFolder);
    {
        // Plan every route once, so that creation can fail afterwards.
        ComPtr<ITolviFTManager> manager = CreateManager();
        for (size_t i = 0; i < families.size(); ++i) {
            ComPtr<ITolviFileTranslator> t;
            CheckHr("planning", Translator(manager.Get(), FormatOf(i, 1).id, FormatOf(i, 4).id, &t));
        }
    }
    for (size_t i = 0; i < families.size(); ++i) {
        if (std::string(families[i].name) == "create-fails")
            FailCreationFrom(inst, families, i);
    }

    std::vector<ClientPlan> plans;
    for (size_t i = 0; i < families.size(); ++i)
        plans.push_back({i, families[i].name, FormatOf(i, 1).id, FormatOf(i, 2).id, FormatOf(i, 3).id,
                         FormatOf(i, 4).id, families[i].mustStop, families[i].abandons});

    Tally tally;
    std::vector<std::unique_ptr<Client>> pool;
    const int warmUp = runsPerClient / 10;
    // After warm-up every client waits at a barrier, so that the figures
    // are taken while no run is in progress.
    std::atomic<int> warmed{0};
    Usage atWarmUp{};
    vembro::unique_handle barrier(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (int i = 0; i < clients; ++i) {
        const bool sta = i % 2 == 1;
        pool.push_back(std::make_unique<Client>(i, sta, runsPerClient, options, plans, tally, [&, sta](int done) {
            if (done != warmUp)
                return;
            if (++warmed == clients) {
                // A single-threaded client keeps its messages moving, since
                // a worker may be calling into it.
                for (int i = 0; i < 3000 && !inst.WaitIdle(0); ++i)
                    Wait(barrier.get(), sta, 10);
                atWarmUp = Measure();
                ::SetEvent(barrier.get());
            }
            Wait(barrier.get(), sta, INFINITE);
        }));
    }
    const ULONGLONG started = ::GetTickCount64();

    // Faults from a foreign thread: stray reports to every fake, running or
    // finished (after its final state).
    std::atomic<bool> stop{false};
    Thread injector(true, [&] {
        std::mt19937 rng(12345);
        while (!stop) {
            size_t f = rng() % families.size();
            std::string name = FakeName(f, "ABC"[rng() % 3]);
            // Working states, unknown ones and progress of any kind. Not a
            // final state: a component that claims to be done while its
            // worker still writes may leave its intermediate file behind
            // until the translator's next run ends or the translator goes.
            static const long states[] = {FTSTATE_CONVERT, FTSTATE_TRANSLATE, 42, -1};
            if (rng() % 4 == 0)
                inst.Report(name, states[rng() % 4]);
            else
                inst.ReportProgress(name, static_cast<long>(rng() % 10), static_cast<long>(rng() % 3));
            ::Sleep(1 + rng() % 3);
        }
    });

    // The watchdog: a run that has not ended within the bound is named, with
    // the journal of the components, and the soak fails at once.
    for (unsigned ticks = 0;;) {
        bool all = true;
        for (auto& c : pool)
            all = c->Finished() && all;
        if (all)
            break;
        // The journal would grow with every run; the watchdog needs only
        // its recent part.
        if (++ticks % 25 == 0)
            inst.ClearJournal();
        for (auto& c : pool) {
            std::string stuck = c->StuckRun(kRunBoundMs);
            if (stuck.empty())
                continue;
            std::printf("WATCHDOG: stuck run: %s\n", stuck.c_str());
            auto trace = inst.Journal();
            size_t from = trace.size() > 60 ? trace.size() - 60 : 0;
            for (size_t i = from; i < trace.size(); ++i)
                std::printf("  %s\n", trace[i].c_str());
            std::fflush(stdout);
            ::ExitProcess(3);
        }
        ::Sleep(200);
    }
    stop = true;
    injector.Join();
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    // The clients' apartments stay open (single-threaded ones pumping) until
    // the components' workers are done: a call into an apartment that has
    // gone while the call was on its way would never return.
    const bool idle = inst.WaitIdle(30000);
    const Usage atEnd = Measure(); // as at warm-up: every client idle, its manager held
    pool.clear();
    const size_t tempAfter = TempFiles(tempFolder);
    if (tempAfter > tempBefore)
        std::printf("  temporary files now: %s\n", TempFileNames(tempFolder).c_str());
    const HRESULT unload = CanUnloadNow();

    const long runs = tally.runs;
    const double measuredRuns = runs - static_cast<double>(clients) * warmUp;
    const double per1000 = measuredRuns > 0 ? 1000.0 / measuredRuns : 0;
    std::printf("soak: %d client threads (%d MTA, %d STA), %ld runs in %.1f s\n", clients, (clients + 1) / 2,
                clients / 2, runs, elapsed / 1000.0);
    tally.Print();
    std::printf("  temporary files left: %ld\n", static_cast<long>(tempAfter) - static_cast<long>(tempBefore));
    std::printf("  fake workers idle: %s, fake objects alive: %ld\n", idle ? "yes" : "NO", inst.LiveObjects());
    std::printf("  DllCanUnloadNow: 0x%08lX\n", static_cast<unsigned long>(unload));
    std::printf("  handles: %lu after warm-up, %lu at the end: %+.2f per 1,000 runs\n", atWarmUp.handles,
                atEnd.handles, (static_cast<double>(atEnd.handles) - atWarmUp.handles) * per1000);
    std::printf("  private bytes: %.1f MiB after warm-up, %.1f MiB at the end: %+.1f KiB per 1,000 runs\n",
                atWarmUp.privateBytes / 1048576.0, atEnd.privateBytes / 1048576.0,
                (static_cast<double>(atEnd.privateBytes) - static_cast<double>(atWarmUp.privateBytes)) / 1024.0 * per1000);
    for (size_t i = 0; i < families.size(); ++i) {
        for (char which : {'A', 'B', 'C'}) {
            if (long n = inst.LiveInstances(FakeName(i, which)))
                std::printf("  still alive: %ld of %s (%s)\n", n, FakeName(i, which).c_str(), families[i].name);
        }
    }
    const bool ok = tally.Clean() && tempAfter <= tempBefore && idle && inst.LiveObjects() == 0 && unload == S_OK;
    std::printf("soak: %s\n", ok ? "clean" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"short";
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ComInit com(false);
    Registration registration; // Vembro.DLL's own self-registration, undone at the end
    if (!registration.ok)
        return 2;
    try {
        if (mode == L"hostile")
            return RunHostile();
        Options options;
        for (int i = 2; i < argc; ++i) {
            options.deadSinks = options.deadSinks || std::wstring(argv[i]) == L"--dead-sinks";
            options.marshalledSinks = options.marshalledSinks || options.deadSinks ||
                                      std::wstring(argv[i]) == L"--marshalled-sinks";
        }
        if (mode == L"full")
            return RunSoak(8, 1000, options);
        return RunSoak(8, 40, options);
    } catch (const std::exception& e) {
        std::printf("soak: %s\n", e.what());
        return 2;
    }
}
