// chainbench MODE [args]; every figure is the median of interleaved rounds
// with its spread (min .. max), for a machine that others share.
//
// overhead [MiB] [rounds]   a three-step file chain and stream chain of
//     pass-through components against the same components driven by a
//     hand-written client, the two alternating round by round.
// breakdown [MiB] [rounds]  the chain's own time per run, in parts.
// memory [MiB]              the peak working set that a stream run adds.
// events                    progress events per second, direct and relayed.
// catalogue [rounds]        loading plus planning with 1,000 converters, 100
//     translators and 200 formats, against the bare cost of the components.
// planning [rounds]         planning alone at 100, 1,000 and 5,000 converters.
// components IN [rounds]    the sample chain's three components run by a
//     hand-written client on IN: their own time, for the main job's figure.
// noop                      starts and ends: the cost of a process under Wine.
#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchCatalogue.h"
#include "BenchFormats.h"
#include "BenchRuns.h"
#include "BenchStats.h"
#include "chains/TempFiles.h"
#include "translator/MemoryStream.h"
#include "vembro/com/Error.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;
using vembro::ThrowIfFailed;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::wstring ExeDir()
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    return path;
}

// Registers a COM server through its own entry point; the module stays
// loaded for the process, as COM would keep it.
HRESULT SelfRegister(const std::wstring& path, const char* entry)
{
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (!module)
        return vembro::HResultFromWin32(static_cast<LONG>(::GetLastError()));
    using Fn = HRESULT(STDAPICALLTYPE*)();
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, entry)));
    return fn ? fn() : E_NOINTERFACE;
}

std::wstring TempFile(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

void WriteDocument(const std::wstring& path, ULONGLONG bytes)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        vembro::ThrowHr(vembro::HResultFromWin32(static_cast<LONG>(::GetLastError())));
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>('a' + i % 26);
    for (ULONGLONG done = 0; done < bytes; done += block.size()) {
        DWORD written = 0;
        ::WriteFile(h, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    }
    ::CloseHandle(h);
}

ComPtr<IStream> MemoryCopyOf(const std::wstring& path)
{
    ComPtr<IStream> file, memory = bench::NewMemoryStream();
    ThrowIfFailed(::SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE, nullptr, &file));
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    // Both counters are asked for: the platform's file stream writes them
    // without checking for null.
    ULARGE_INTEGER read{}, written{};
    ThrowIfFailed(file->CopyTo(memory.Get(), all, &read, &written));
    return memory;
}

void Step(const char* what, HRESULT hr)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "chainbench: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
        vembro::ThrowHr(hr);
    }
}

void CheckComplete(const bench::RunResult& r, const char* what)
{
    if (r.finalState != FTSTATE_TRANSLATE_COMPLETE) {
        std::fprintf(stderr, "chainbench: %s ended in state %ld with error 0x%08lX\n", what, r.finalState,
                     static_cast<unsigned long>(r.error));
        vembro::ThrowHr(r.error < 0 ? r.error : E_FAIL);
    }
}

// Both ways of running, round after round; who goes first alternates, so
// that neither always inherits the other's caches or page faults.
struct Paired {
    bench::Samples hand, chain, overhead; // overhead: chain / hand - 1, per round
    bench::Samples handCpu, chainCpu;     // CPU time of the process during the run
    long handEvents = 0, chainEvents = 0;
    std::string log; // every round, hand-written/chain seconds, h or c: who ran first

    template <class Hand, class Chain>
    void Run(int rounds, Hand&& hand, Chain&& chain)
    {
        for (int round = 0; round <= rounds; ++round) { // round 0 warms caches and loads
            bench::RunResult h, c;
            double hCpu = 0, cCpu = 0;
            auto runHand = [&] {
                double t0 = bench::ProcessCpu();
                h = hand();
                hCpu = bench::ProcessCpu() - t0;
            };
            auto runChain = [&] {
                double t0 = bench::ProcessCpu();
                c = chain();
                cCpu = bench::ProcessCpu() - t0;
            };
            if (round % 2) {
                runChain();
                runHand();
            } else {
                runHand();
                runChain();
            }
            CheckComplete(c, "the chain");
            if (round == 0)
                continue;
            this->hand.Add(h.seconds);
            this->chain.Add(c.seconds);
            handCpu.Add(hCpu);
            chainCpu.Add(cCpu);
            char pair[48];
            std::snprintf(pair, sizeof pair, " %s%.3f/%.3f", round % 2 ? "c" : "h", h.seconds, c.seconds);
            log += pair;
            overhead.Add(c.seconds / h.seconds - 1.0);
            handEvents = h.progressPerSink;
            chainEvents = c.progressPerSink;
        }
    }

    void Report(const char* what, int mib) const
    {
        std::printf("%s, %d MiB, %zu rounds:\n", what, mib, hand.Count());
        std::printf("  hand-written client %s s, %ld progress events\n", hand.Describe().c_str(), handEvents);
        std::printf("  chain               %s s, %ld progress events\n", chain.Describe().c_str(), chainEvents);
        std::printf("  overhead per round  %s %% (target: median within 5 %%); of the medians %+.2f %%\n",
                    overhead.Describe("%+.2f", 100).c_str(), (chain.Median() / hand.Median() - 1) * 100);
        std::printf("  CPU time of the process: hand-written %s s, chain %s s\n", handCpu.Describe().c_str(),
                    chainCpu.Describe().c_str());
        std::printf("  rounds, hand-written/chain s (h: hand-written first, c: chain first):%s\n", log.c_str());
    }
};

struct Document {
    std::wstring in = TempFile(L"vembro-bench.in"), out = TempFile(L"vembro-bench.out");
    explicit Document(int mib) { WriteDocument(in, static_cast<ULONGLONG>(mib) << 20); }
    ~Document()
    {
        ::DeleteFileW(in.c_str());
        ::DeleteFileW(out.c_str());
    }
};

Paired FileRounds(ITolviFTManager* manager, const Document& doc, int rounds)
{
    Paired p;
    p.Run(
        rounds, [&] { return bench::HandFile(bench::PassThroughSteps(), doc.in.c_str(), doc.out.c_str()); },
        [&] { return bench::ChainFile(manager, bench::kFmtA, bench::kFmtD, doc.in.c_str(), doc.out.c_str()); });
    return p;
}

Paired StreamRounds(ITolviFTManager* manager, const Document& doc, int rounds)
{
    ComPtr<IStream> source = MemoryCopyOf(doc.in);
    Paired p;
    p.Run(
        rounds,
        [&] {
            ComPtr<IStream> target = bench::NewMemoryStream();
            bench::Rewind(source.Get());
            return bench::HandStream(bench::PassThroughSteps(), source.Get(), target.Get());
        },
        [&] {
            ComPtr<IStream> target = bench::NewMemoryStream();
            bench::Rewind(source.Get());
            return bench::ChainStream(manager, bench::kFmtA, bench::kFmtD, source.Get(), target.Get());
        });
    return p;
}

void Overhead(ITolviFTManager* manager, int mib, int rounds)
{
    Document doc(mib);
    FileRounds(manager, doc, rounds).Report("file chain, 3 steps", mib);
    StreamRounds(manager, doc, rounds).Report("stream chain, 3 steps", mib);
}

template <class F>
bench::Samples Repeat(int count, F&& f)
{
    bench::Samples s;
    for (int i = 0; i < count; ++i) {
        double t0 = bench::Now();
        f();
        s.Add(bench::Now() - t0);
    }
    return s;
}

// Progress events per second and per sink of a chain to `sinks` sinks, and
// of the component to one sink directly.
struct EventRates {
    bench::Samples direct, relayed;
};

EventRates MeasureEvents(ITolviFTManager* manager, int sinks, int rounds)
{
    std::wstring in = TempFile(L"vembro-bench-ev.in"), out = TempFile(L"vembro-bench-ev.out");
    WriteDocument(in, 1);
    EventRates r;
    for (int round = 0; round < rounds; ++round) {
        bench::RunResult d = bench::DirectChatty(in.c_str(), out.c_str());
        bench::RunResult c =
            bench::ChainFile(manager, bench::kFmtChatty, bench::kFmtChattyEnd, in.c_str(), out.c_str(), sinks);
        CheckComplete(c, "the chatty chain");
        r.direct.Add(d.progressPerSink / d.seconds);
        r.relayed.Add(c.progressPerSink / c.seconds);
    }
    ::DeleteFileW(in.c_str());
    ::DeleteFileW(out.c_str());
    return r;
}

// The chain's own time per run of three steps, in the parts it is made of.
// On an empty document the components do next to nothing, so what the chain
// adds to a run shows as the difference to the hand-written client; each
// part is then timed on its own over the code that the chain runs, and what
// is left of the difference is the hand-over from one step to the next.
void Breakdown(ITolviFTManager* manager, int mib, int rounds)
{
    constexpr int kMany = 51;
    const int emptyRounds = std::max(3 * rounds, 21);
    std::printf("the chain's own time per run of 3 steps (ms):\n");
    Document empty(0);
    Paired file = FileRounds(manager, empty, emptyRounds);
    Paired stream = StreamRounds(manager, empty, emptyRounds);
    auto fixed = [&](const char* what, const Paired& p) {
        double extra = (p.chain.Median() - p.hand.Median()) * 1000;
        std::printf("  empty document, %s, %d rounds: chain %s, hand-written %s: %+.2f (of the minimums %+.2f)\n",
                    what, emptyRounds, p.chain.Describe("%.2f", 1000).c_str(), p.hand.Describe("%.2f", 1000).c_str(),
                    extra, (p.chain.Min() - p.hand.Min()) * 1000);
        return extra;
    };
    double fileExtra = fixed("file run  ", file);
    double streamExtra = fixed("stream run", stream);

    std::printf("  parts, each the median of %d:\n", kMany);
    bench::Samples activation = Repeat(kMany, [] { bench::ActivateSteps(bench::PassThroughSteps()); });
    std::printf("    activation, 3 components created, connected, disconnected (both sides) %s\n",
                activation.Describe("%.2f", 1000).c_str());
    // Per file run the chain makes its two temporary files anew (the ones
    // that it made when it was created go) and deletes them at the end.
    bench::Samples chainTemps, handTemps;
    for (int i = 0; i < kMany; ++i) {
        vembro::CTempFile first, second;
        double t0 = bench::Now();
        first.Create();
        second.Create();
        first.Delete();
        second.Delete();
        chainTemps.Add(bench::Now() - t0);
        handTemps.Add(bench::HandTempFiles());
    }
    std::printf("    temporary files, 2 made and deleted: chain %s, hand-written %s\n",
                chainTemps.Describe("%.2f", 1000).c_str(), handTemps.Describe("%.2f", 1000).c_str());
    bench::Samples streams = Repeat(kMany, [] {
        vembro::CMemoryStream first, second;
        ThrowIfFailed(first.Create_nothrow());
        ThrowIfFailed(second.Create_nothrow());
    });
    std::printf("    memory streams, 2 made and released %s\n", streams.Describe("%.3f", 1000).c_str());
    EventRates events = MeasureEvents(manager, 1, rounds);
    const long perRun = 3 * mib; // one report per MiB and step
    double perEvent = 1.0 / events.relayed.Median() - 1.0 / events.direct.Median();
    std::printf("    event relay at %d MiB: %ld events at %+.1f us each: %+.2f (direct %s/s, relayed %s/s)\n", mib,
                perRun, perEvent * 1e6, perEvent * perRun * 1000, events.direct.Describe("%.0f").c_str(),
                events.relayed.Describe("%.0f").c_str());
    std::printf("    step hand-over and state events, the rest: file run %+.2f, stream run %+.2f\n",
                fileExtra - (chainTemps.Median() - handTemps.Median()) * 1000, streamExtra - streams.Median() * 1000);
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PeakWorkingSetSize;
}

void Memory(ITolviFTManager* manager, int mib)
{
    std::wstring in = TempFile(L"vembro-bench-mem.in"), out = TempFile(L"vembro-bench-mem.out");
    WriteDocument(in, static_cast<ULONGLONG>(mib) << 20);
    ComPtr<IStream> source, target;
    ThrowIfFailed(::SHCreateStreamOnFileEx(in.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE, nullptr, &source));
    ThrowIfFailed(::SHCreateStreamOnFileEx(out.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE,
                                           FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &target));
    SIZE_T before = PeakWorkingSet();
    bench::RunResult chain = bench::ChainStream(manager, bench::kFmtA, bench::kFmtD, source.Get(), target.Get());
    SIZE_T after = PeakWorkingSet();
    double added = static_cast<double>(after - before) / kMiB;
    double limit = 2.0 * mib + 32.0;
    std::printf("stream run peak working set added   %4d MiB: %8.1f MiB, limit two documents + 32 MiB = %.0f MiB: %s "
                "(final state %ld)\n",
                mib, added, limit, added <= limit ? "within" : "OVER", chain.finalState);
    source.Reset();
    target.Reset();
    ::DeleteFileW(in.c_str());
    ::DeleteFileW(out.c_str());
}

void Events(ITolviFTManager* manager, int rounds)
{
    for (int sinks : {1, 8}) {
        EventRates r = MeasureEvents(manager, sinks, rounds);
        std::printf("progress events, %d rounds of %ld: component -> 1 sink directly %s/s; relayed by a chain to %d "
                    "sink%s %s/s per sink\n",
                    rounds, bench::kChattyEvents, r.direct.Describe("%.0f").c_str(), sinks, sinks > 1 ? "s" : "",
                    r.relayed.Describe("%.0f").c_str());
    }
}

// The sample chain of the main job, run by a hand-written client.
void Components(const wchar_t* in, int rounds)
{
    bench::Steps steps{};
    Step("finding VembroSamples.MarkdownToHtml", ::CLSIDFromProgID(L"VembroSamples.MarkdownToHtml", &steps.first));
    Step("finding VembroSamples.PseudoLocaliser", ::CLSIDFromProgID(L"VembroSamples.PseudoLocaliser", &steps.middle));
    Step("finding VembroSamples.HtmlToText", ::CLSIDFromProgID(L"VembroSamples.HtmlToText", &steps.last));
    std::wstring out = TempFile(L"vembro-bench-guide.txt");
    bench::Samples own;
    for (int round = 0; round <= rounds; ++round) {
        double seconds = bench::HandFile(steps, in, out.c_str()).seconds;
        if (round > 0)
            own.Add(seconds);
    }
    ::DeleteFileW(out.c_str());
    std::printf("sample components' own time (hand-written client, in process), %d rounds: %s ms\n", rounds,
                own.Describe("%.1f", 1000).c_str());
}

int Usage()
{
    std::fprintf(stderr, "usage: chainbench overhead|breakdown|memory [MiB] [rounds] | events [rounds] | "
                         "catalogue [rounds] | planning [rounds] | components IN [rounds] | noop\n");
    return 2;
}

int Run(const std::wstring& mode, int argc, wchar_t** argv)
{
    auto number = [&](int i, int fallback) {
        int v = argc > i ? _wtoi(argv[i]) : 0;
        return v > 0 ? v : fallback;
    };
    if (mode == L"noop")
        return 0;
    if (mode == L"planning")
        return bench::Planning(number(2, 9)), 0;
    if (mode == L"components")
        return argc > 2 ? (Components(argv[2], number(3, 9)), 0) : Usage();
    std::wstring dir = ExeDir();
    Step("registering Vembro.DLL", SelfRegister(dir + L"\\..\\Vembro.DLL", "DllRegisterServer"));
    if (mode == L"catalogue")
        return bench::Catalogue(number(2, 9));
    if (mode == L"catalogue-load" || mode == L"catalogue-bare")
        return bench::CatalogueChild(mode == L"catalogue-load");

    int mib = number(2, 256), rounds = number(3, 9);
    Step("registering benchpass.dll", SelfRegister(dir + L"\\benchpass.dll", "DllRegisterServer"));
    int rc = 0;
    {
        ComPtr<ITolviFTManager> manager;
        Step("creating the manager",
             ::CoCreateInstance(CLSID_TolviFTManager, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)));
        if (mode == L"overhead")
            Overhead(manager.Get(), mib, rounds);
        else if (mode == L"breakdown")
            Breakdown(manager.Get(), mib, rounds);
        else if (mode == L"memory")
            Memory(manager.Get(), mib);
        else if (mode == L"events")
            Events(manager.Get(), number(2, 9));
        else
            rc = Usage();
    }
    SelfRegister(dir + L"\\benchpass.dll", "DllUnregisterServer");
    return rc;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"overhead";
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int rc = 0;
    try {
        rc = Run(mode, argc, argv);
    } catch (...) {
        HRESULT hr = vembro::ResultFromCaughtException();
        std::fprintf(stderr, "chainbench: failed with 0x%08lX\n", static_cast<unsigned long>(hr));
        rc = 1;
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return rc;
}
