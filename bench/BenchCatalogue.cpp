// The catalogue at scale: 1,000 converters, 100 translators and 200 formats
// made of the test suite's configurable fakes. The registries load once per
// process, so each measurement runs in a process of its own; the two kinds
// take turns, so that the machine's other load falls on both alike.
#include "BenchCatalogue.h"

#include <windows.h>
#include <comcat.h>
#include <wrl/client.h>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "BenchRuns.h"
#include "BenchStats.h"
#include "catalogue/Converters.h"
#include "chains/RoutePlanner.h"
#include "vembro/com/Error.h"
#include "vembro/com/Resource.h"
#include "support/Fakes.h"
#include "vembro/Vembro.h"

using Microsoft::WRL::ComPtr;

namespace bench {
namespace {

constexpr int kFormats = 200, kConverters = 1000, kTranslators = 100;

using Pair = std::pair<short, short>;

// `count` distinct pairs of different formats 1..formats, the same on every
// call with the same seed.
std::vector<Pair> RandomPairs(unsigned seed, int count, int formats)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(1, formats);
    std::set<Pair> seen;
    std::vector<Pair> pairs;
    while (static_cast<int>(pairs.size()) < count) {
        Pair p(static_cast<short>(pick(rng)), static_cast<short>(pick(rng)));
        if (p.first != p.second && seen.insert(p).second)
            pairs.push_back(p);
    }
    return pairs;
}

struct Layout {
    std::vector<Pair> converters = RandomPairs(15, kConverters, kFormats);
    std::vector<Pair> translators = RandomPairs(16, kTranslators, kFormats);

    // A pair that only a chain serves, converter then translator: what the
    // client asks the manager for.
    Pair ChainPair() const
    {
        std::set<Pair> direct(translators.begin(), translators.end());
        for (const Pair& c : converters)
            for (const Pair& t : translators)
                if (c.second == t.first && !direct.count({c.first, t.second}))
                    return {c.first, t.second};
        return translators.front();
    }
};

fakes::Format FormatOf(short id)
{
    std::string n = std::to_string(id);
    return {id, "Bench format " + n, "b" + n, "b" + n, false};
}

std::string NameOf(bool converter, size_t i) { return (converter ? "C" : "T") + std::to_string(i); }

void Declare(fakes::Installation& inst, const Layout& layout)
{
    for (size_t i = 0; i < layout.converters.size(); ++i)
        inst.Converter(NameOf(true, i), FormatOf(layout.converters[i].first), FormatOf(layout.converters[i].second));
    for (size_t i = 0; i < layout.translators.size(); ++i)
        inst.Translator(NameOf(false, i), FormatOf(layout.translators[i].first),
                        FormatOf(layout.translators[i].second));
}

// Runs this program in `mode` and answers the figures (seconds) that it printed.
std::vector<double> RunChild(const wchar_t* mode)
{
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        vembro::ThrowHr(vembro::HResultFromWin32(static_cast<LONG>(::GetLastError())));
    vembro::unique_handle reader(readEnd), writer(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" " + mode;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        vembro::ThrowHr(vembro::HResultFromWin32(static_cast<LONG>(::GetLastError())));
    vembro::unique_handle process(pi.hProcess), thread(pi.hThread);
    writer.reset();
    std::string output;
    char buffer[256];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    if (code != 0 || output.empty()) {
        std::fprintf(stderr, "chainbench: %ls ended with %lu\n", mode, static_cast<unsigned long>(code));
        vembro::ThrowHr(E_FAIL);
    }
    std::vector<double> figures;
    const char* p = output.c_str();
    for (char* end = nullptr;; p = end) {
        double v = std::strtod(p, &end);
        if (end == p)
            break;
        figures.push_back(v);
    }
    return figures;
}

// What the load reads of a format, as the format store reads it.
void ReadFormat(ITolviFileFormat* format)
{
    if (!format)
        vembro::ThrowHr(E_POINTER);
    vembro::unique_bstr name, defaultExt, exts;
    VARIANT_BOOL complex = VARIANT_FALSE;
    short id = 0;
    vembro::ThrowIfFailed(format->get_Name(name.put()));
    vembro::ThrowIfFailed(format->get_IsComplex(&complex));
    vembro::ThrowIfFailed(format->get_DefaultExtention(defaultExt.put()));
    vembro::ThrowIfFailed(format->get_Extentions(exts.put()));
    vembro::ThrowIfFailed(format->get_ID(&id));
}

template <class Component>
void CreateAndReadFormats(const CLSID& clsid)
{
    ComPtr<Component> component;
    vembro::ThrowIfFailed(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                             __uuidof(Component), reinterpret_cast<void**>(component.GetAddressOf())));
    ComPtr<ITolviFileFormat> format;
    vembro::ThrowIfFailed(component->get_SourceFormat(&format));
    ReadFormat(format.Get());
    format.Reset();
    vembro::ThrowIfFailed(component->get_TargetFormat(&format));
    ReadFormat(format.Get());
}

} // namespace

int Catalogue(int rounds)
{
    Layout layout;
    fakes::Installation inst;
    Declare(inst, layout);
    double t0 = Now();
    inst.Install();
    std::printf("catalogue: %d converters, %d translators, %d formats installed in %.1f s\n", kConverters,
                kTranslators, kFormats, Now() - t0);
    Samples load, bare, ratio, own, loadCpu, bareCpu, catalogue, category;
    for (int round = 0; round <= rounds; ++round) { // round 0 warms the file cache
        std::vector<double> l, b;
        if (round % 2) {
            b = RunChild(L"catalogue-bare");
            l = RunChild(L"catalogue-load");
        } else {
            l = RunChild(L"catalogue-load");
            b = RunChild(L"catalogue-bare");
        }
        if (round == 0 || l.size() < 2 || b.size() < 4)
            continue;
        load.Add(l[0]);
        loadCpu.Add(l[1]);
        bare.Add(b[0]);
        bareCpu.Add(b[1]);
        ratio.Add(l[0] / b[0]);
        own.Add((l[0] - b[2] - b[3]) / b[0]);
        catalogue.Add(b[2]);
        category.Add(b[3]);
    }
    std::printf("  manager created to its first Translator answer (load + planning) %s s, CPU %s s\n",
                load.Describe().c_str(), loadCpu.Describe().c_str());
    std::printf("  bare: each component created once, its two formats read         %s s, CPU %s s\n",
                bare.Describe().c_str(), bareCpu.Describe().c_str());
    std::printf("  ratio per round %s (goal: within 1.20); of the medians %.2f, of the CPU medians %.2f; %zu rounds, "
                "a fresh process each\n",
                ratio.Describe("%.2f").c_str(), load.Median() / bare.Median(), loadCpu.Median() / bareCpu.Median(),
                load.Count());
    std::printf("  of the difference: reading the converter catalogue %s ms, the translator category %s ms\n",
                catalogue.Describe("%.1f", 1000).c_str(), category.Describe("%.1f", 1000).c_str());
    // Both lookups go through the platform's registry calls that the load
    // must make; what is left is this system's own cost.
    std::printf("  load + planning less those two lookups, against the bare cost: ratio per round %s\n",
                own.Describe("%.2f").c_str());
    return 0;
}

int CatalogueChild(bool load)
{
    Layout layout;
    if (load) {
        Pair pair = layout.ChainPair();
        VARIANT s = FormatArg(pair.first), t = FormatArg(pair.second);
        double t0 = Now(), cpu0 = ProcessCpu();
        ComPtr<ITolviFTManager> manager;
        vembro::ThrowIfFailed(::CoCreateInstance(CLSID_TolviFTManager, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_PPV_ARGS(&manager)));
        ComPtr<ITolviFileTranslator> translator;
        vembro::ThrowIfFailed(manager->get_Translator(s, t, &translator));
        std::printf("%.6f %.6f\n", Now() - t0, ProcessCpu() - cpu0);
        return 0;
    }
    fakes::Installation declared; // never installed: it only names the classes
    Declare(declared, layout);
    std::vector<CLSID> converters, translators;
    for (size_t i = 0; i < layout.converters.size(); ++i)
        converters.push_back(declared.ClsidOf(NameOf(true, i)));
    for (size_t i = 0; i < layout.translators.size(); ++i)
        translators.push_back(declared.ClsidOf(NameOf(false, i)));
    double t0 = Now(), cpu0 = ProcessCpu();
    for (const CLSID& clsid : converters)
        CreateAndReadFormats<ITolviFileConverter>(clsid);
    for (const CLSID& clsid : translators)
        CreateAndReadFormats<ITolviFileTranslator>(clsid);
    double components = Now() - t0, componentsCpu = ProcessCpu() - cpu0;
    // What the load does besides: find the classes, through the system's
    // own functions.
    std::vector<CLSID> found;
    t0 = Now();
    vembro::ThrowIfFailed(vembro::EnumConverterClsids(found));
    double catalogue = Now() - t0;
    ComPtr<ICatInformation> categories;
    CATID category = IID_ITolviFileTranslator2;
    t0 = Now();
    vembro::ThrowIfFailed(vembro::EnumCategoryClasses(categories, found, &category, 1, static_cast<ULONG>(-1)));
    std::printf("%.6f %.6f %.6f %.6f\n", components, componentsCpu, catalogue, Now() - t0);
    return 0;
}

void Planning(int rounds)
{
    std::printf("planning alone (pair tables in memory, %d translators, %d formats), %d rounds:\n", kTranslators,
                kFormats, rounds);
    vembro::CFormatPairs translators;
    for (const Pair& p : RandomPairs(16, kTranslators, kFormats))
        translators.AddPair(p.first, p.second, GUID{});
    for (int count : {100, 1000, 5000}) {
        vembro::CFormatPairs converters;
        for (const Pair& p : RandomPairs(15, count, kFormats))
            converters.AddPair(p.first, p.second, GUID{});
        Samples seconds;
        long chains = 0;
        for (int round = 0; round < rounds; ++round) {
            vembro::CPairChains planned;
            double t0 = Now();
            vembro::PlanRoutes(converters, translators, planned);
            seconds.Add(Now() - t0);
            chains = 0;
            planned.ForEach([&](short, const std::unique_ptr<vembro::CTgtChains>& targets) {
                chains += targets ? targets->GetCount() : 0;
            });
        }
        std::printf("  %5d converters: %6ld chains planned in %s ms, %.2f us per chain\n", count, chains,
                    seconds.Describe("%.2f", 1000).c_str(), seconds.Median() * 1e6 / (chains ? chains : 1));
    }
}

} // namespace bench
