// chainbench overhead [MiB] | memory [MiB] | events
//
// overhead: a three-step file chain and a three-step stream chain of
//   pass-through components against the same components driven by a
//   hand-written client, in one process, best of three alternating rounds.
// memory:   the peak working set that a stream run adds, with the caller's
//   source and target on disk, against two intermediate documents + 32 MiB.
// events:   progress events per second relayed to one and to eight client
//   sinks, and the rate of the component reporting to one sink directly.
#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "BenchFormats.h"
#include "BenchRuns.h"
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

void CheckComplete(const bench::ChainResult& r, const char* what)
{
    if (r.finalState != FTSTATE_TRANSLATE_COMPLETE) {
        std::fprintf(stderr, "chainbench: %s ended in state %ld with error 0x%08lX\n", what, r.finalState,
                     static_cast<unsigned long>(r.error));
        vembro::ThrowHr(r.error < 0 ? r.error : E_FAIL);
    }
}

void Report(const char* what, int mib, double hand, double chain)
{
    std::printf("%-34s %4d MiB: hand-written %7.3f s, chain %7.3f s, overhead %+6.2f%% (target: within 5%%)\n",
                what, mib, hand, chain, (chain - hand) / hand * 100.0);
}

void Overhead(ITolviFTManager* manager, int mib)
{
    std::wstring in = TempFile(L"vembro-bench.in"), out = TempFile(L"vembro-bench.out");
    WriteDocument(in, static_cast<ULONGLONG>(mib) << 20);
    double bestHand = 1e30, bestChain = 1e30;
    for (int round = 0; round < 4; ++round) { // round 0 warms caches and loads
        double hand = bench::HandFile(in.c_str(), out.c_str());
        bench::ChainResult chain = bench::ChainFile(manager, bench::kFmtA, bench::kFmtD, in.c_str(), out.c_str());
        CheckComplete(chain, "file chain");
        if (round > 0) {
            bestHand = std::min(bestHand, hand);
            bestChain = std::min(bestChain, chain.seconds);
        }
    }
    Report("file chain, 3 steps", mib, bestHand, bestChain);

    ComPtr<IStream> source = MemoryCopyOf(in);
    bestHand = bestChain = 1e30;
    for (int round = 0; round < 4; ++round) {
        ComPtr<IStream> target = bench::NewMemoryStream();
        bench::Rewind(source.Get());
        double hand = bench::HandStream(source.Get(), target.Get());
        target = bench::NewMemoryStream();
        bench::Rewind(source.Get());
        bench::ChainResult chain = bench::ChainStream(manager, bench::kFmtA, bench::kFmtD, source.Get(), target.Get());
        CheckComplete(chain, "stream chain");
        if (round > 0) {
            bestHand = std::min(bestHand, hand);
            bestChain = std::min(bestChain, chain.seconds);
        }
    }
    Report("stream chain, 3 steps", mib, bestHand, bestChain);
    ::DeleteFileW(in.c_str());
    ::DeleteFileW(out.c_str());
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
    bench::ChainResult chain = bench::ChainStream(manager, bench::kFmtA, bench::kFmtD, source.Get(), target.Get());
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

void Events(ITolviFTManager* manager)
{
    std::wstring in = TempFile(L"vembro-bench-ev.in"), out = TempFile(L"vembro-bench-ev.out");
    WriteDocument(in, 1);
    bench::ChainResult direct = bench::DirectChatty(in.c_str(), out.c_str());
    std::printf("progress events, component -> 1 sink directly: %8.0f events/s (%ld events)\n",
                direct.progressPerSink / direct.seconds, direct.progressPerSink);
    for (int sinks : {1, 8}) {
        bench::ChainResult r =
            bench::ChainFile(manager, bench::kFmtChatty, bench::kFmtChattyEnd, in.c_str(), out.c_str(), sinks);
        std::printf("progress events relayed by a chain to %d sink%s: %8.0f events/s per sink (%ld of %ld relayed, "
                    "final state %ld)\n",
                    sinks, sinks > 1 ? "s" : " ", r.progressPerSink / r.seconds, r.progressPerSink,
                    bench::kChattyEvents + 1, r.finalState);
    }
    ::DeleteFileW(in.c_str());
    ::DeleteFileW(out.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"overhead";
    int mib = argc > 2 ? _wtoi(argv[2]) : 256;
    if (mib <= 0)
        mib = 256;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int rc = 0;
    try {
        std::wstring dir = ExeDir();
        Step("registering Vembro.DLL", SelfRegister(dir + L"\\..\\Vembro.DLL", "DllRegisterServer"));
        Step("registering benchpass.dll", SelfRegister(dir + L"\\benchpass.dll", "DllRegisterServer"));
        {
            ComPtr<ITolviFTManager> manager;
            Step("creating the manager", ::CoCreateInstance(CLSID_TolviFTManager, nullptr, CLSCTX_INPROC_SERVER,
                                                            IID_PPV_ARGS(&manager)));
            if (mode == L"overhead")
                Overhead(manager.Get(), mib);
            else if (mode == L"memory")
                Memory(manager.Get(), mib);
            else if (mode == L"events")
                Events(manager.Get());
            else
                std::fprintf(stderr, "usage: chainbench overhead [MiB] | memory [MiB] | events\n"), rc = 2;
        }
        SelfRegister(dir + L"\\benchpass.dll", "DllUnregisterServer");
    } catch (...) {
        HRESULT hr = vembro::ResultFromCaughtException();
        std::fprintf(stderr, "chainbench: failed with 0x%08lX\n", static_cast<unsigned long>(hr));
        rc = 1;
    }
    ::CoUninitialize();
    return rc;
}
