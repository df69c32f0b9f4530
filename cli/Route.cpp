// route: the steps planned for a pair and the rule that chose them. The
// manager hands out a translator but never shows its steps, so this command
// runs the system's own planning in this process, over the same registry.
#include <cstdio>

#include "Commands.h"
#include "Errors.h"
#include "catalogue/Converters.h"
#include "chains/RealTranslators.h"
#include "chains/Translators.h"
#include "vembro/com/Resource.h"

namespace cli {
namespace {

std::string ComponentName(const vembro::CFormatPairs& pairs, short source, short target)
{
    GUID clsid{};
    if (!pairs.FindPair(source, target, clsid))
        return "?";
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(::ProgIDFromCLSID(clsid, &progId)) && progId) {
        std::string name = Utf8(progId);
        ::CoTaskMemFree(progId);
        return name;
    }
    wchar_t text[40] = {};
    ::StringFromGUID2(clsid, text, 40);
    return Utf8(text);
}

std::string NameOf(const std::vector<FormatRef>& known, short id)
{
    for (const auto& f : known)
        if (f.id == id)
            return std::to_string(id) + " " + f.name;
    return std::to_string(id);
}

void PrintStep(int index, bool converter, short source, short target, const std::vector<FormatRef>& known)
{
    const vembro::CFormatPairs& pairs = converter ? static_cast<const vembro::CFormatPairs&>(vembro::g_Converters)
                                                  : vembro::g_RealTranslators;
    std::string from = NameOf(known, source), to = NameOf(known, target);
    std::printf("  %d. %-10s  %s -> %s   [%s]\n", index, converter ? "converter" : "translator", from.c_str(), to.c_str(),
                ComponentName(pairs, source, target).c_str());
}

} // namespace

int ShowRoute(Catalogue& catalogue, const std::string& sourceText, const std::string& targetText)
{
    FormatRef source = catalogue.Resolve(sourceText), target = catalogue.Resolve(targetText);
    auto known = catalogue.Known();
    Check(vembro::g_Translators.Build(), "planning routes (CTranslators::Build)");
    std::printf("Route %s -> %s\n", Label(source).c_str(), Label(target).c_str());

    if (vembro::g_RealTranslators.HasTranslator(source.id, target.id)) {
        std::printf("  rule: a translator handles this pair itself; a direct translator always wins over chains\n");
        PrintStep(1, false, source.id, target.id, known);
        return kExitOk;
    }
    vembro::CChain chain;
    if (!vembro::g_Translators.m_PairChains.GetChain(source.id, target.id, chain)) {
        std::printf("%s\n", Reachability(catalogue, source, target).c_str());
        return kExitFailed;
    }
    const char* shape = chain.GetSize() == 3                                     ? "converter, translator, converter"
                        : chain.GetAt(0).m_nType == vembro::CHAINITEM_CONVERTER ? "converter, translator"
                                                                                : "translator, converter";
    std::printf("  rule: no translator handles the pair itself; this is the first chain that planning found (%s):\n"
                "        converter sources in enumeration order, each converter target, then each translator target;\n"
                "        a converter is appended after the routes that existed when their source was reached\n",
                shape);
    for (int i = 0; i < chain.GetSize(); ++i) {
        const auto& step = chain.GetAt(i);
        PrintStep(i + 1, step.m_nType == vembro::CHAINITEM_CONVERTER, step.m_nSource, step.m_nTarget, known);
    }
    return kExitOk;
}

} // namespace cli
