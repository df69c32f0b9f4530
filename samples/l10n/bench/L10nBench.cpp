// l10nbench: figures for the localisation components; nothing is asserted.
//
//   l10nbench page [MiB]        a generated page of that size (default 50)
//                               through extraction, memory and merge, file to
//                               file, each step in a process of its own: peak
//                               working set and time per step
//   l10nbench memory [units]    a generated memory of that many units
//                               (default 100000): time to read and index it,
//                               and to look up 1000 sentences (half exact,
//                               half one word changed)
//
// Internal: l10nbench step extract|fill|merge IN OUT MEMORY.
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vembro/com/Error.h"
#include "l10n/Extract.h"
#include "l10n/Fill.h"
#include "l10n/Memory.h"
#include "l10n/Merge.h"
#include "vembro/kit/Data.h"

namespace {

const char* const kWords[] = {"bread", "flour", "oven",   "morning", "harbour", "cake",   "butter", "sugar",
                              "fresh", "warm",  "golden", "crisp",   "soft",    "baker",  "shop",   "river",
                              "mill",  "wheat", "rye",    "almond",  "apple",   "lemon",  "honey",  "salt"};

// A deterministic sentence for n (a Knuth multiplicative hash picks words).
std::string Sentence(unsigned n, int length = 9)
{
    std::string s = "The";
    for (int i = 0; i < length; ++i) {
        n = n * 2654435761u + 12345u;
        s += " ";
        s += kWords[(n >> 16) % (sizeof kWords / sizeof kWords[0])];
    }
    return s + " " + std::to_string(n % 100000) + ".";
}

double Seconds(LARGE_INTEGER from)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    vembro::kit::OutputFile out(path.c_str());
    ULONG written = 0;
    vembro::ThrowIfFailed(out.Stream()->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written));
    out.Commit();
}

std::string Tmx(unsigned units)
{
    std::string tmx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tmx version=\"1.4\"><header srclang=\"en\" "
                      "datatype=\"plaintext\" segtype=\"sentence\" adminlang=\"en\" o-tmf=\"x\" creationtool=\"b\" "
                      "creationtoolversion=\"1\"/><body>\n";
    for (unsigned i = 0; i < units; ++i)
        tmx += "<tu><tuv xml:lang=\"en\"><seg>" + Sentence(i) + "</seg></tuv><tuv xml:lang=\"fr\"><seg>FR " +
               Sentence(i) + "</seg></tuv></tu>\n";
    return tmx + "</body></tmx>\n";
}

int Step(const wchar_t* step, const wchar_t* in, const wchar_t* out, const wchar_t* memory)
{
    auto input = vembro::kit::OpenInputFile(in);
    vembro::kit::OutputFile output(out);
    vembro::kit::Progress progress(nullptr);
    if (!wcscmp(step, L"extract")) {
        samples::ExtractXliff(input.Get(), output.Stream(), progress, L"big.html");
    } else if (!wcscmp(step, L"fill")) {
        samples::FillSettings settings;
        settings.memory = memory;
        settings.targetLanguage = L"fr";
        samples::FillXliff(input.Get(), output.Stream(), progress, settings);
    } else {
        samples::MergeXliff(input.Get(), output.Stream(), progress);
    }
    output.Commit();
    PROCESS_MEMORY_COUNTERS counters{sizeof counters};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    std::printf("  %-8ls peak working set %6.1f MiB", step, static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0);
    std::fflush(stdout);
    return 0;
}

// Runs one step in a child process, which prints its peak working set;
// prints the time and the output's size after it.
void Child(const wchar_t* step, const std::wstring& in, const std::wstring& out, const std::wstring& memory)
{
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" step " + step + L" \"" + in + L"\" \"" + out + L"\" \"" +
                           memory + L"\"";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    LARGE_INTEGER start = Now();
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        vembro::ThrowHr(HRESULT_FROM_WIN32(::GetLastError()));
    ::WaitForSingleObject(process.hThread, INFINITE);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    double seconds = Seconds(start);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(out.c_str(), GetFileExInfoStandard, &data);
    std::printf("  %6.2f s  output %6.1f MiB  exit %lu\n", seconds, static_cast<double>(data.nFileSizeLow) / 1048576.0,
                code);
}

void Page(unsigned mib)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"l10nbench\\";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head><title>Big page</title></head>\n<body>\n";
    for (unsigned n = 0; html.size() < mib * 1048576ull; ++n)
        html += "<p>" + Sentence(n % 5000) + "</p>\n<p><b>" + Sentence(n, 3) + "</b> <img src=\"a.png\" alt=\"" +
                Sentence(n % 300, 4) + "\"></p>\n";
    html += "</body>\n</html>\n";
    WriteFile(dir + L"big.html", html);
    WriteFile(dir + L"memory.tmx", Tmx(5000));
    std::printf("page of %.1f MiB, memory of 5000 units (%lu bytes of page held by this driver)\n",
                static_cast<double>(html.size()) / 1048576.0, static_cast<unsigned long>(html.size()));
    html.clear();
    html.shrink_to_fit();
    Child(L"extract", dir + L"big.html", dir + L"big.xlf", dir + L"memory.tmx");
    Child(L"fill", dir + L"big.xlf", dir + L"big.fr.xlf", dir + L"memory.tmx");
    Child(L"merge", dir + L"big.fr.xlf", dir + L"big.fr.html", dir + L"memory.tmx");
    if (!::GetEnvironmentVariableW(L"L10NBENCH_KEEP", nullptr, 0))
    for (const wchar_t* name : {L"big.html", L"memory.tmx", L"big.xlf", L"big.fr.xlf", L"big.fr.html"})
        ::DeleteFileW((dir + name).c_str());
    ::RemoveDirectoryW(dir.c_str());
}

void Memory(unsigned units)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + L"l10nbench-memory.tmx";
    WriteFile(path, Tmx(units));
    LARGE_INTEGER start = Now();
    samples::TranslationMemory memory(path, L"en", L"fr");
    double load = Seconds(start);
    ::DeleteFileW(path.c_str());
    int exact = 0, fuzzy = 0;
    start = Now();
    for (unsigned i = 0; i < 1000; ++i) {
        std::string text = Sentence(i * 97 % units);
        if (i % 2)
            text.replace(4, text.find(' ', 4) - 4, "window"); // one word changed
        samples::Segment segment{{samples::Piece::Text, vembro::kit::WideFromUtf8(text), {}, {}, 0, false}};
        samples::Match match;
        if (memory.Find(segment, 85, match))
            ++(match.exact ? exact : fuzzy);
    }
    double lookups = Seconds(start);
    std::printf("memory of %u units: read and indexed in %.2f s; 1000 lookups in %.3f s (%d exact, %d fuzzy)\n",
                static_cast<unsigned>(memory.Size()), load, lookups, exact, fuzzy);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        std::wstring mode = argc > 1 ? argv[1] : L"";
        if (mode == L"step" && argc == 6)
            return Step(argv[2], argv[3], argv[4], argv[5]);
        if (mode == L"page")
            Page(argc > 2 ? static_cast<unsigned>(_wtoi(argv[2])) : 50);
        else if (mode == L"memory")
            Memory(argc > 2 ? static_cast<unsigned>(_wtoi(argv[2])) : 100000);
        else
            std::fputs("usage: l10nbench page [MiB] | memory [units]\n", stderr);
    } catch (const vembro::ComError& e) {
        std::fprintf(stderr, "l10nbench: failed with 0x%08lX\n", static_cast<unsigned long>(e.Code()));
        return 1;
    }
    return 0;
}
