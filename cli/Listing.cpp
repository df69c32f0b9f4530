// The read-only commands: format lists, detection and a pair's translator.
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "vembro/com/Resource.h"

namespace cli {

using Microsoft::WRL::ComPtr;

namespace {

void PrintTable(const char* title, const std::vector<FormatRef>& sources,
                std::vector<FormatRef> (Catalogue::*targets)(short), Catalogue& catalogue)
{
    std::printf("%s\n", title);
    if (sources.empty())
        std::printf("  (none)\n");
    for (const auto& s : sources) {
        std::printf("  %s%s\n", Label(s).c_str(), s.complex ? " [complex]" : "");
        for (const auto& t : (catalogue.*targets)(s.id))
            std::printf("      -> %s\n", Label(t).c_str());
    }
}

FormatRef Describe(ITolviFileFormat* format)
{
    FormatRef ref;
    vembro::unique_bstr name, exts;
    Check(format->get_ID(&ref.id), "ITolviFileFormat::ID");
    Check(format->get_Name(name.put()), "ITolviFileFormat::Name");
    Check(format->get_Extentions(exts.put()), "ITolviFileFormat::Extentions");
    ref.name = Utf8(name.get() ? name.get() : L"");
    ref.extensions = Utf8(exts.get() ? exts.get() : L"");
    return ref;
}

} // namespace

int ListFormats(Catalogue& catalogue, bool conversion, bool translation)
{
    if (conversion)
        PrintTable("Conversion (one converter):", catalogue.ConvertSources(), &Catalogue::ConvertTargets, catalogue);
    if (conversion && translation)
        std::printf("\n");
    if (translation)
        PrintTable("Translation (a translator, or a chain around one):", catalogue.TranslateSources(),
                   &Catalogue::TranslateTargets, catalogue);
    return kExitOk;
}

int DetectFormats_nothrow(Catalogue& catalogue, const std::wstring& path)
{
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw UsageError("cannot find " + Utf8(path));
    auto conversion = catalogue.DetectFile_nothrow(false, path);
    auto translation = catalogue.DetectFile_nothrow(true, path);
    std::printf("%s\n  as a conversion source:  ", Utf8(path).c_str());
    for (size_t i = 0; i < conversion.size(); ++i)
        std::printf("%s%s", i ? ", " : "", Label(conversion[i]).c_str());
    std::printf("%s\n  as a translation source: ", conversion.empty() ? "(none)" : "");
    for (size_t i = 0; i < translation.size(); ++i)
        std::printf("%s%s", i ? ", " : "", Label(translation[i]).c_str());
    std::printf("%s\n", translation.empty() ? "(none)" : "");
    return conversion.empty() && translation.empty() ? kExitFailed : kExitOk;
}

int ShowTranslator(Catalogue& catalogue, const std::string& sourceText, const std::string& targetText)
{
    FormatRef source = catalogue.Resolve(sourceText), target = catalogue.Resolve(targetText);
    ComPtr<ITolviFileTranslator> translator;
    HRESULT hr = catalogue.Manager()->get_Translator(Catalogue::IdArgument(source.id),
                                                     Catalogue::IdArgument(target.id), &translator);
    if (FAILED(hr))
        throw Failure("Translator(" + source.name + ", " + target.name + ")", hr,
                      hr == E_INVALIDARG ? Reachability(catalogue, source, target) : std::string());
    ComPtr<ITolviFileFormat> from, to;
    Check(translator->get_SourceFormat(&from), "ITolviFileTranslator::SourceFormat");
    Check(translator->get_TargetFormat(&to), "ITolviFileTranslator::TargetFormat");
    ComPtr<ITolviFileTranslator2> sync;
    std::printf("Translator for %s -> %s\n  SourceFormat: %s\n  TargetFormat: %s\n  synchronous:  %s\n",
                source.name.c_str(), target.name.c_str(), Label(Describe(from.Get())).c_str(),
                Label(Describe(to.Get())).c_str(), SUCCEEDED(translator.As(&sync)) ? "yes" : "no");
    return kExitOk;
}

std::string Reachability(Catalogue& catalogue, const FormatRef& source, const FormatRef& target)
{
    std::string text = "  no route from " + source.name + " to " + target.name + ".\n  reachable from " +
                       source.name + ":";
    auto reachable = catalogue.TranslateTargets(source.id);
    for (const auto& f : reachable)
        text += "\n    " + Label(f);
    if (reachable.empty())
        text += " nothing";
    text += "\n  sources that reach " + target.name + ":";
    bool any = false;
    for (const auto& s : catalogue.TranslateSources())
        for (const auto& t : catalogue.TranslateTargets(s.id))
            if (t.id == target.id) {
                text += "\n    " + Label(s);
                any = true;
            }
    if (!any)
        text += " none";
    return text;
}

} // namespace cli
