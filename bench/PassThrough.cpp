// Components that copy their input to their output in 1 MiB blocks, with a
// progress report per block: the cheapest honest component, so that what a
// chain adds on top of it shows.
#include <windows.h>
#include <objidl.h>
#include <vector>

#include "BenchFormats.h"
#include "vembro/com/Error.h"
#include "vembro/kit/Converter.h"
#include "vembro/kit/Module.h"
#include "vembro/kit/Translator.h"

namespace bench {
namespace {

constexpr ULONG kBlock = 1u << 20;

void CopyBlocks(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    STATSTG stat{};
    vembro::ThrowIfFailed(in->Stat(&stat, STATFLAG_NONAME));
    LARGE_INTEGER zero{};
    ULARGE_INTEGER pos{};
    vembro::ThrowIfFailed(in->Seek(zero, STREAM_SEEK_CUR, &pos));
    ULONGLONG remaining = stat.cbSize.QuadPart - pos.QuadPart;
    long total = static_cast<long>((remaining + kBlock - 1) / kBlock);
    if (total == 0)
        total = 1;
    std::vector<char> buffer(kBlock);
    long done = 0;
    for (;;) {
        ULONG got = 0;
        vembro::ThrowIfFailed(in->Read(buffer.data(), kBlock, &got));
        if (got == 0)
            break;
        ULONG written = 0;
        vembro::ThrowIfFailed(out->Write(buffer.data(), got, &written));
        if (written != got)
            vembro::ThrowHr(STG_E_MEDIUMFULL);
        progress.Report(++done, total);
    }
}


// The names differ per format: the store keys records by ID, and a client
// finds formats by name.
#define BENCH_FORMAT(id, name) vembro::kit::FormatSpec{id, name, L"bench", L"bench", false}

class CConvAB : public vembro::kit::Converter<CConvAB> {
public:
    static constexpr vembro::kit::FormatSpec kSource = BENCH_FORMAT(kFmtA, L"Bench A");
    static constexpr vembro::kit::FormatSpec kTarget = BENCH_FORMAT(kFmtB, L"Bench B");
    static HRESULT Detect(const std::string&) { return S_OK; }
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& p) { CopyBlocks(in, out, p); }
};

class CTransBC : public vembro::kit::Translator<CTransBC> {
public:
    static constexpr vembro::kit::FormatSpec kSource = BENCH_FORMAT(kFmtB, L"Bench B");
    static constexpr vembro::kit::FormatSpec kTarget = BENCH_FORMAT(kFmtC, L"Bench C");
    static HRESULT Detect(const std::string&) { return S_OK; }
    void Translate(IDispatch*, IStream* in, IStream* out, vembro::kit::Progress& p) { CopyBlocks(in, out, p); }
};

class CConvCD : public vembro::kit::Converter<CConvCD> {
public:
    static constexpr vembro::kit::FormatSpec kSource = BENCH_FORMAT(kFmtC, L"Bench C");
    static constexpr vembro::kit::FormatSpec kTarget = BENCH_FORMAT(kFmtD, L"Bench D");
    static HRESULT Detect(const std::string&) { return S_OK; }
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& p) { CopyBlocks(in, out, p); }
};

// Reports kChattyEvents progress steps and copies nothing but a byte.
class CChatty : public vembro::kit::Converter<CChatty> {
public:
    static constexpr vembro::kit::FormatSpec kSource = BENCH_FORMAT(kFmtChatty, L"Bench chatty");
    static constexpr vembro::kit::FormatSpec kTarget = BENCH_FORMAT(kFmtChattyOut, L"Bench chatty out");
    static HRESULT Detect(const std::string&) { return S_OK; }
    void Convert(IStream*, IStream* out, vembro::kit::Progress& p)
    {
        for (long i = 1; i <= kChattyEvents; ++i)
            p.Report(i, kChattyEvents);
        ULONG written = 0;
        vembro::ThrowIfFailed(out->Write("x", 1, &written));
    }
};

class CChattyTrans : public vembro::kit::Translator<CChattyTrans> {
public:
    static constexpr vembro::kit::FormatSpec kSource = BENCH_FORMAT(kFmtChattyOut, L"Bench chatty out");
    static constexpr vembro::kit::FormatSpec kTarget = BENCH_FORMAT(kFmtChattyEnd, L"Bench chatty end");
    static HRESULT Detect(const std::string&) { return S_OK; }
    void Translate(IDispatch*, IStream* in, IStream* out, vembro::kit::Progress& p) { CopyBlocks(in, out, p); }
};

} // namespace
} // namespace bench

VEMBRO_KIT_CLASSES(
    vembro::kit::ConverterClass<bench::CConvAB>(bench::kClsidConvAB, L"VembroBench.ConvAB", L"Bench A to B"),
    vembro::kit::TranslatorClass<bench::CTransBC>(bench::kClsidTransBC, L"VembroBench.TransBC", L"Bench B to C"),
    vembro::kit::ConverterClass<bench::CConvCD>(bench::kClsidConvCD, L"VembroBench.ConvCD", L"Bench C to D"),
    vembro::kit::ConverterClass<bench::CChatty>(bench::kClsidChatty, L"VembroBench.Chatty", L"Bench chatty"),
    vembro::kit::TranslatorClass<bench::CChattyTrans>(bench::kClsidChattyTrans, L"VembroBench.ChattyTrans",
                                                      L"Bench chatty translator"))
