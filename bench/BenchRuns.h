#pragma once
// The measured runs: the same pass-through components driven either by a
// chain translator of Vembro.DLL or by a hand-written client that keeps its
// own intermediate files or streams. Each returns the elapsed seconds.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include "vembro/Vembro.h"

namespace bench {

struct ChainResult {
    double seconds = 0;
    long finalState = -1;
    long progressPerSink = 0;
    HRESULT error = S_OK; // the chain's Error after the run
};

ChainResult ChainFile(ITolviFTManager* manager, short source, short target, const wchar_t* in, const wchar_t* out,
                      int sinks = 1);
ChainResult ChainStream(ITolviFTManager* manager, short source, short target, IStream* in, IStream* out);
double HandFile(const wchar_t* in, const wchar_t* out);
double HandStream(IStream* in, IStream* out);
// One component reporting to one sink, without a chain: the reference rate.
ChainResult DirectChatty(const wchar_t* in, const wchar_t* out);

// The in-memory stream that the chain uses between its steps, for every memory
// stream on both sides: the figures then compare the ways of running the
// steps, not two stream implementations.
Microsoft::WRL::ComPtr<IStream> NewMemoryStream();
void Rewind(IStream* s);

double Now() noexcept;

} // namespace bench
