// vembro: the command-line client of the file translation manager.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cwchar>

#include "Commands.h"
#include "Errors.h"

using namespace cli;

namespace {

const char kUsage[] =
    "usage: vembro <command> [arguments]\n"
    "\n"
    "  formats [--convert | --translate]   source formats and the targets each reaches\n"
    "  detect FILE                         the formats FILE is in\n"
    "  translator SRC TGT                  the translator for a pair and its formats\n"
    "  route SRC TGT                       the steps planned for a pair and why\n"
    "  translate [options] IN OUT          translate a document (by a translator or a chain)\n"
    "  convert [options] IN OUT            convert a document with one converter\n"
    "\n"
    "options of translate and convert:\n"
    "  --from FMT          source format (default: detected from the content of IN)\n"
    "  --to FMT            target format (default: from the extension of OUT)\n"
    "  --sync              run in this thread instead of asynchronously\n"
    "  --stream            hand the documents over as streams instead of file names\n"
    "  --priority N        run priority, -2 (lowest) to 2 (highest)\n"
    "  --property NAME=VALUE   a property for the translator (repeatable)\n"
    "  --quiet             no progress bar\n"
    "\n"
    "options of translate for the localisation components (they pass a\n"
    "VembroSamples.Direction object to the translator):\n"
    "  --source-lang TAG   language of the document (BCP 47, e.g. en)\n"
    "  --target-lang TAG   language to translate into (e.g. fr)\n"
    "  --memory FILE       TMX translation memory\n"
    "\n"
    "FMT is a format name as the components report it (\"UTF-8 Text\") or its ID (102).\n"
    "Ctrl+C during a run stops it. Exit codes: 0 done, 1 failed, 2 bad arguments, 130 stopped.\n";

class Args {
public:
    Args(int argc, wchar_t** argv) : m_argc(argc), m_argv(argv) {}
    bool More() const { return m_pos < m_argc; }
    std::wstring Next(const char* what)
    {
        if (!More())
            throw UsageError(std::string("missing ") + what);
        return m_argv[m_pos++];
    }
    std::string NextUtf8(const char* what) { return Utf8(Next(what)); }
    void End()
    {
        if (More())
            throw UsageError("unexpected argument \"" + Utf8(m_argv[m_pos]) + "\"");
    }

private:
    int m_argc;
    wchar_t** m_argv;
    int m_pos = 2;
};

RunOptions ParseRun(Args& args, bool translate)
{
    RunOptions o;
    o.translate = translate;
    std::vector<std::wstring> positional;
    while (args.More()) {
        std::wstring a = args.Next("argument");
        if (a == L"--from")
            o.from = args.NextUtf8("format after --from");
        else if (a == L"--to")
            o.to = args.NextUtf8("format after --to");
        else if (a == L"--sync")
            o.sync = true;
        else if (a == L"--stream")
            o.stream = true;
        else if (a == L"--quiet")
            o.quiet = true;
        else if (a == L"--source-lang" && translate)
            o.sourceLanguage = args.Next("language after --source-lang");
        else if (a == L"--target-lang" && translate)
            o.targetLanguage = args.Next("language after --target-lang");
        else if (a == L"--memory" && translate)
            o.memory = args.Next("file after --memory");
        else if (a == L"--priority") {
            std::string n = args.NextUtf8("number after --priority");
            char* end = nullptr;
            long value = std::strtol(n.c_str(), &end, 10);
            if (n.empty() || *end || value < -2 || value > 2)
                throw UsageError("--priority takes a number from -2 to 2, not \"" + n + "\"");
            o.priority = value;
        } else if (a == L"--property") {
            std::string p = args.NextUtf8("NAME=VALUE after --property");
            size_t eq = p.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("--property takes NAME=VALUE, not \"" + p + "\"");
            o.properties.emplace_back(p.substr(0, eq), p.substr(eq + 1));
        } else if (a.size() > 1 && a[0] == L'-' && a[1] == L'-') {
            throw UsageError("unknown option \"" + Utf8(a) + "\"");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        throw UsageError("expected IN and OUT file names");
    o.input = positional[0];
    o.output = positional[1];
    return o;
}

int Dispatch(int argc, wchar_t** argv)
{
    if (argc < 2 || !wcscmp(argv[1], L"--help") || !wcscmp(argv[1], L"-h") || !wcscmp(argv[1], L"help")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitOk;
    }
    std::wstring command = argv[1];
    Args args(argc, argv);
    if (command == L"formats") {
        bool conv = true, tran = true;
        if (args.More()) {
            std::wstring which = args.Next("option");
            if (which == L"--convert")
                tran = false;
            else if (which == L"--translate")
                conv = false;
            else
                throw UsageError("formats takes --convert or --translate");
        }
        args.End();
        Catalogue catalogue;
        return ListFormats(catalogue, conv, tran);
    }
    if (command == L"detect") {
        std::wstring file = args.Next("FILE");
        args.End();
        Catalogue catalogue;
        return DetectFormats_nothrow(catalogue, file);
    }
    if (command == L"translator" || command == L"route") {
        std::string source = args.NextUtf8("SRC"), target = args.NextUtf8("TGT");
        args.End();
        Catalogue catalogue;
        return command == L"route" ? ShowRoute(catalogue, source, target) : ShowTranslator(catalogue, source, target);
    }
    if (command == L"translate" || command == L"convert") {
        RunOptions options = ParseRun(args, command == L"translate");
        Catalogue catalogue;
        return RunDocument(catalogue, options);
    }
    throw UsageError("unknown command \"" + Utf8(command) + "\" (vembro --help lists them)");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // UTF-8 out, byte for byte: format names and paths may be anything.
    ::SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init)) {
        std::fprintf(stderr, "vembro: CoInitializeEx failed: %s\n", DescribeHr(init).c_str());
        return kExitFailed;
    }
    int result;
    try {
        result = Dispatch(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vembro: %s\n", e.what());
        result = kExitUsage;
    } catch (const Failure& e) {
        std::fprintf(stderr, "vembro: %s failed: %s\n", e.Operation().c_str(), DescribeHr(e.Code()).c_str());
        if (!e.Hint().empty())
            std::fprintf(stderr, "%s\n", e.Hint().c_str());
        result = kExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vembro: %s\n", e.what());
        result = kExitFailed;
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return result;
}
