#include "pseudoloc/Pseudo.h"

#include "common/HtmlScan.h"

namespace samples {
namespace {

const char* const kLower[26] = {"á", "ƀ", "ç", "ð", "é", "ƒ", "ĝ", "ĥ", "í", "ĵ", "ķ", "ļ", "ɱ",
                                "ñ", "ó", "þ", "ǫ", "ŕ", "š", "ţ", "ú", "ṽ", "ŵ", "ẋ", "ý", "ž"};
const char* const kUpper[26] = {"Á", "Ɓ", "Ç", "Ð", "É", "Ƒ", "Ĝ", "Ĥ", "Í", "Ĵ", "Ķ", "Ļ", "Ṁ",
                                "Ñ", "Ó", "Þ", "Ǫ", "Ŕ", "Š", "Ţ", "Ú", "Ṽ", "Ŵ", "Ẋ", "Ý", "Ž"};

bool IsAsciiLetter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Length of the character reference at i ("&amp;" -> 5), or 0.
size_t ReferenceAt(const std::string& text, size_t i)
{
    if (text[i] != '&')
        return 0;
    size_t j = i + 1;
    if (j < text.size() && text[j] == '#')
        ++j;
    size_t start = j;
    while (j < text.size() && (IsAsciiLetter(text[j]) || (text[j] >= '0' && text[j] <= '9')))
        ++j;
    return j > start && j < text.size() && text[j] == ';' ? j - i + 1 : 0;
}

bool HasLetter(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (size_t ref = ReferenceAt(text, i)) {
            i += ref - 1;
            continue;
        }
        if (IsAsciiLetter(text[i]) || static_cast<unsigned char>(text[i]) >= 0x80)
            return true;
    }
    return false;
}

} // namespace

std::string PseudoLocaliseRun(const std::string& text, long expansionPercent)
{
    const char* space = " \t\r\n";
    size_t begin = text.find_first_not_of(space);
    if (begin == std::string::npos || !HasLetter(text))
        return text;
    size_t end = text.find_last_not_of(space) + 1;
    std::string core;
    long letters = 0;
    for (size_t i = begin; i < end; ++i) {
        if (size_t ref = ReferenceAt(text, i)) {
            core += text.substr(i, ref);
            i += ref - 1;
        } else if (IsAsciiLetter(text[i])) {
            core += text[i] >= 'a' ? kLower[text[i] - 'a'] : kUpper[text[i] - 'A'];
            ++letters;
        } else {
            core += text[i];
            letters += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && static_cast<unsigned char>(text[i]) >= 0x80;
        }
    }
    long pad = expansionPercent > 0 ? (letters * expansionPercent + 99) / 100 : 0;
    return text.substr(0, begin) + "[" + core + std::string(static_cast<size_t>(pad), '~') + "]" + text.substr(end);
}

std::string PseudoLocaliseHtml(const std::string& html, long expansionPercent)
{
    std::string out;
    out.reserve(html.size() * 2);
    for (const HtmlToken& t : ScanHtml(html))
        out += t.kind == HtmlToken::Text && !t.script ? PseudoLocaliseRun(t.raw, expansionPercent) : t.raw;
    return out;
}

} // namespace samples
