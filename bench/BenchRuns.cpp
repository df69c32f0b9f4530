#include "BenchRuns.h"

#include <ocidl.h>
#include <wrl/client.h>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchFormats.h"
#include "BenchSinks.h"
#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "translator/ChunkStream.h"

using Microsoft::WRL::ComPtr;

// Names the failing call, so that a broken installation says what broke.
#define CHECK(expr) ::bench::Check((expr), #expr)

namespace bench {
inline HRESULT Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "chainbench: %s: 0x%08lX\n", what, static_cast<unsigned long>(hr));
        vembro::ThrowHr(hr);
    }
    return hr;
}
} // namespace bench

namespace bench {
namespace {

constexpr DWORD kRunTimeout = 10 * 60 * 1000;

template <class Sink>
ComPtr<Sink> MakeSink()
{
    vembro::CComObject<Sink>* raw = nullptr;
    CHECK(vembro::CComObject<Sink>::CreateInstance(&raw));
    return ComPtr<Sink>(raw);
}

std::wstring TempPath()
{
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    if (!::GetTempFileNameW(dir, L"BEN", 0, path))
        vembro::ThrowHr(vembro::HResultFromWin32(static_cast<LONG>(::GetLastError())));
    return path;
}

void EnsureFinished(long state, const CLSID& clsid)
{
    if (state != FTSTATE_TRANSLATE_COMPLETE && state != FTSTATE_READY) {
        std::fprintf(stderr, "chainbench: component {%08lX-...} ended in state %ld\n",
                     static_cast<unsigned long>(clsid.Data1), state);
        vembro::ThrowHr(E_FAIL);
    }
}

// Runs one component step to its end, as a client that knows the component
// would: connect, start, wait for the final state, disconnect.
// Answers the progress events that the client's sink received.
template <class Start>
long RunConverter(const CLSID& clsid, Start&& start)
{
    ComPtr<ITolviFileConverter> conv;
    CHECK(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&conv)));
    RunWaiter waiter;
    auto sink = MakeSink<CConverterSink>();
    sink->Attach(&waiter);
    DWORD cookie = 0;
    CHECK(Connect_nothrow(conv.Get(), IID_ITolviFileConverterEvents, sink.Get(), &cookie));
    CHECK(start(conv.Get()));
    long state = waiter.Wait(kRunTimeout);
    Disconnect(conv.Get(), IID_ITolviFileConverterEvents, cookie);
    EnsureFinished(state, clsid);
    return waiter.ProgressCount();
}

template <class Start>
long RunTranslator(const CLSID& clsid, Start&& start)
{
    ComPtr<ITolviFileTranslator> tr;
    CHECK(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tr)));
    RunWaiter waiter;
    auto sink = MakeSink<CTranslatorSink>();
    sink->Attach(&waiter, false);
    DWORD cookie = 0;
    CHECK(Connect_nothrow(tr.Get(), IID_ITolviFileTranslatorEvents, sink.Get(), &cookie));
    CHECK(start(tr.Get()));
    long state = waiter.Wait(kRunTimeout);
    Disconnect(tr.Get(), IID_ITolviFileTranslatorEvents, cookie);
    EnsureFinished(state, clsid);
    return waiter.ProgressCount();
}

template <class Start>
RunResult RunChain(ITolviFTManager* manager, short source, short target, int sinks, Start&& start)
{
    VARIANT s = FormatArg(source), t = FormatArg(target);
    ComPtr<ITolviFileTranslator> chain;
    HRESULT got = manager->get_Translator(s, t, &chain);
    if (FAILED(got)) {
        std::fprintf(stderr, "chainbench: no translator for %d -> %d: 0x%08lX\n", source, target,
                     static_cast<unsigned long>(got));
        vembro::ThrowHr(got);
    }
    RunWaiter waiter(sinks);
    std::vector<std::pair<ComPtr<CTranslatorSink>, DWORD>> connected;
    for (int i = 0; i < sinks; ++i) {
        auto sink = MakeSink<CTranslatorSink>();
        sink->Attach(&waiter, true);
        DWORD cookie = 0;
        CHECK(Connect_nothrow(chain.Get(), IID_ITolviFileTranslatorEvents, sink.Get(), &cookie));
        connected.emplace_back(sink, cookie);
    }
    RunResult result;
    double t0 = Now();
    HRESULT started = start(chain.Get(), static_cast<IDispatch*>(manager));
    if (FAILED(started)) {
        std::fprintf(stderr, "chainbench: the chain did not start: 0x%08lX\n", static_cast<unsigned long>(started));
        vembro::ThrowHr(started);
    }
    result.finalState = waiter.Wait(kRunTimeout);
    result.seconds = Now() - t0;
    result.progressPerSink = waiter.ProgressCount() / (sinks > 0 ? sinks : 1);
    LONG error = S_OK;
    chain->get_Error(&error);
    result.error = error;
    for (auto& c : connected)
        Disconnect(chain.Get(), IID_ITolviFileTranslatorEvents, c.second);
    return result;
}

} // namespace

ComPtr<IStream> NewMemoryStream()
{
    ComPtr<IStream> s;
    CHECK(vembro::CChunkStream::Create_nothrow(&s));
    return s;
}

void Rewind(IStream* s)
{
    LARGE_INTEGER zero{};
    CHECK(s->Seek(zero, STREAM_SEEK_SET, nullptr));
}

double Now() noexcept
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / frequency;
}

VARIANT FormatArg(short id) noexcept
{
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = id;
    return v;
}

double ProcessCpu() noexcept
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

RunResult ChainFile(ITolviFTManager* manager, short source, short target, const wchar_t* in, const wchar_t* out,
                      int sinks)
{
    return RunChain(manager, source, target, sinks, [&](ITolviFileTranslator* chain, IDispatch* direction) {
        auto src = vembro::MakeBstr(in), dst = vembro::MakeBstr(out);
        return chain->TranslateFile(direction, src.get(), dst.get(), vembro::MissingArgument());
    });
}

RunResult ChainStream(ITolviFTManager* manager, short source, short target, IStream* in, IStream* out)
{
    return RunChain(manager, source, target, 1, [&](ITolviFileTranslator* chain, IDispatch* direction) {
        return chain->TranslateStream(direction, in, out, vembro::MissingArgument());
    });
}

Steps PassThroughSteps() noexcept { return {kClsidConvAB, kClsidTransBC, kClsidConvCD}; }

RunResult HandFile(const Steps& steps, const wchar_t* in, const wchar_t* out)
{
    RunResult result;
    double t0 = Now();
    std::wstring temp1 = TempPath(), temp2 = TempPath();
    auto src = vembro::MakeBstr(in), dst = vembro::MakeBstr(out);
    auto t1 = vembro::MakeBstr(temp1.c_str()), t2 = vembro::MakeBstr(temp2.c_str());
    result.progressPerSink += RunConverter(steps.first, [&](ITolviFileConverter* c) {
        return c->ConvertFile(src.get(), t1.get(), vembro::MissingArgument());
    });
    result.progressPerSink += RunTranslator(steps.middle, [&](ITolviFileTranslator* t) {
        ComPtr<IDispatch> direction;
        t->QueryInterface(IID_PPV_ARGS(&direction));
        return t->TranslateFile(direction.Get(), t1.get(), t2.get(), vembro::MissingArgument());
    });
    result.progressPerSink += RunConverter(steps.last, [&](ITolviFileConverter* c) {
        return c->ConvertFile(t2.get(), dst.get(), vembro::MissingArgument());
    });
    ::DeleteFileW(temp1.c_str());
    ::DeleteFileW(temp2.c_str());
    result.seconds = Now() - t0;
    result.finalState = FTSTATE_TRANSLATE_COMPLETE;
    return result;
}

RunResult HandStream(const Steps& steps, IStream* in, IStream* out)
{
    RunResult result;
    double t0 = Now();
    ComPtr<IStream> first = NewMemoryStream();
    result.progressPerSink += RunConverter(steps.first, [&](ITolviFileConverter* c) {
        return c->ConvertStream(in, first.Get(), vembro::MissingArgument());
    });
    Rewind(first.Get());
    ComPtr<IStream> second = NewMemoryStream();
    result.progressPerSink += RunTranslator(steps.middle, [&](ITolviFileTranslator* t) {
        ComPtr<IDispatch> direction;
        t->QueryInterface(IID_PPV_ARGS(&direction));
        return t->TranslateStream(direction.Get(), first.Get(), second.Get(), vembro::MissingArgument());
    });
    first.Reset();
    Rewind(second.Get());
    result.progressPerSink += RunConverter(steps.last, [&](ITolviFileConverter* c) {
        return c->ConvertStream(second.Get(), out, vembro::MissingArgument());
    });
    // Freeing the intermediate data is part of the run, as it is in a chain.
    second.Reset();
    result.seconds = Now() - t0;
    result.finalState = FTSTATE_TRANSLATE_COMPLETE;
    return result;
}

double HandTempFiles()
{
    double t0 = Now();
    std::wstring temp1 = TempPath(), temp2 = TempPath();
    ::DeleteFileW(temp1.c_str());
    ::DeleteFileW(temp2.c_str());
    return Now() - t0;
}

double ActivateSteps(const Steps& steps)
{
    double t0 = Now();
    auto activate = [](const CLSID& clsid, const IID& itf, const IID& events, auto sink) {
        ComPtr<IUnknown> component;
        CHECK(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, itf,
                                 reinterpret_cast<void**>(component.GetAddressOf())));
        DWORD cookie = 0;
        CHECK(Connect_nothrow(component.Get(), events, sink.Get(), &cookie));
        Disconnect(component.Get(), events, cookie);
    };
    activate(steps.first, IID_ITolviFileConverter, IID_ITolviFileConverterEvents, MakeSink<CConverterSink>());
    activate(steps.middle, IID_ITolviFileTranslator, IID_ITolviFileTranslatorEvents, MakeSink<CTranslatorSink>());
    activate(steps.last, IID_ITolviFileConverter, IID_ITolviFileConverterEvents, MakeSink<CConverterSink>());
    return Now() - t0;
}

RunResult DirectChatty(const wchar_t* in, const wchar_t* out)
{
    ComPtr<ITolviFileConverter> conv;
    CHECK(::CoCreateInstance(kClsidChatty, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&conv)));
    RunWaiter waiter;
    auto sink = MakeSink<CConverterSink>();
    sink->Attach(&waiter);
    DWORD cookie = 0;
    CHECK(Connect_nothrow(conv.Get(), IID_ITolviFileConverterEvents, sink.Get(), &cookie));
    auto src = vembro::MakeBstr(in), dst = vembro::MakeBstr(out);
    RunResult result;
    double t0 = Now();
    CHECK(conv->ConvertFile(src.get(), dst.get(), vembro::MissingArgument()));
    result.finalState = waiter.Wait(kRunTimeout);
    result.seconds = Now() - t0;
    result.progressPerSink = waiter.ProgressCount();
    Disconnect(conv.Get(), IID_ITolviFileConverterEvents, cookie);
    return result;
}

} // namespace bench
