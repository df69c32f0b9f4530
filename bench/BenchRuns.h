#pragma once
// The measured runs: the same components driven either by a chain translator
// of Vembro.DLL or by a hand-written client that keeps its own intermediate
// files or streams and listens to every component's events, as the chain's
// own client listens to the chain's.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include "vembro/Vembro.h"

namespace bench {

struct RunResult {
    double seconds = 0;
    long finalState = -1;
    long progressPerSink = 0; // progress events that reached each client sink
    HRESULT error = S_OK;     // the chain's Error after the run
};

// Three steps, converter -> translator -> converter, as the hand-written
// client knows them.
struct Steps {
    CLSID first, middle, last;
};
// The pass-through components of benchpass.dll.
Steps PassThroughSteps() noexcept;

RunResult ChainFile(ITolviFTManager* manager, short source, short target, const wchar_t* in, const wchar_t* out,
                    int sinks = 1);
RunResult ChainStream(ITolviFTManager* manager, short source, short target, IStream* in, IStream* out);
RunResult HandFile(const Steps& steps, const wchar_t* in, const wchar_t* out);
RunResult HandStream(const Steps& steps, IStream* in, IStream* out);
// One component reporting to one sink, without a chain: the reference rate.
RunResult DirectChatty(const wchar_t* in, const wchar_t* out);
// What activating the three components costs either side: create each,
// connect a sink to it, disconnect and release it.
double ActivateSteps(const Steps& steps);
// What the hand-written client's two temporary files cost: made and deleted.
double HandTempFiles();

// The in-memory stream that the chain uses between its steps, for every memory
// stream on both sides: the figures then compare the ways of running the
// steps, not two stream implementations.
Microsoft::WRL::ComPtr<IStream> NewMemoryStream();
void Rewind(IStream* s);

// A format identifier as the manager takes it.
VARIANT FormatArg(short id) noexcept;

double Now() noexcept;
// User and kernel time of every thread of this process (the components'
// workers included), in seconds. The wineserver, which answers every
// registry call, is another process: its time is not in it.
double ProcessCpu() noexcept;

} // namespace bench
