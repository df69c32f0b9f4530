#include "common/Sniff.h"

#include <cctype>

#include "vembro/kit/Data.h"

namespace samples {
namespace {

std::string Lower(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

size_t SkipSpace(const std::string& text, size_t pos) noexcept
{
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    return pos;
}

bool StartsWith(const std::string& text, size_t pos, const char* prefix) noexcept
{
    return text.compare(pos, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool IsMarkdownLine(const std::string& line) noexcept
{
    size_t i = 0;
    while (i < line.size() && line[i] == '#')
        ++i;
    if (i >= 1 && i <= 6 && i < line.size() && line[i] == ' ')
        return true;
    if (StartsWith(line, 0, "- ") || StartsWith(line, 0, "* ") || StartsWith(line, 0, "+ ") ||
        StartsWith(line, 0, "> ") || StartsWith(line, 0, "```"))
        return true;
    size_t d = 0;
    while (d < line.size() && std::isdigit(static_cast<unsigned char>(line[d])))
        ++d;
    if (d > 0 && StartsWith(line, d, ". "))
        return true;
    size_t bold = line.find("**");
    if (bold != std::string::npos && line.find("**", bold + 2) != std::string::npos)
        return true;
    size_t close = line.find("](");
    return close != std::string::npos && line.rfind('[', close) != std::string::npos &&
           line.find(')', close) != std::string::npos;
}

} // namespace

bool HasUtf16LeBom(const std::string& head) noexcept
{
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
           static_cast<unsigned char>(head[1]) == 0xFE;
}

bool LooksLikeUtf8Text(const std::string& head) noexcept
{
    return head.find('\0') == std::string::npos && vembro::kit::IsValidUtf8(head, true);
}

bool LooksLikeHtml(const std::string& head) noexcept
try {
    if (!LooksLikeUtf8Text(head))
        return false;
    std::string text = Lower(vembro::kit::WithoutUtf8Bom(head));
    size_t start = SkipSpace(text, 0);
    if (StartsWith(text, start, "<!doctype html") || StartsWith(text, start, "<html"))
        return true;
    if (!StartsWith(text, start, "<"))
        return false;
    for (const char* tag : {"<body", "<head", "<p>", "<div", "<h1", "<h2", "<ul", "<table"})
        if (text.find(tag) != std::string::npos)
            return true;
    return false;
} catch (...) {
    return false;
}

bool LooksLikeMarkdown(const std::string& head) noexcept
try {
    if (!LooksLikeUtf8Text(head) || LooksLikeHtml(head))
        return false;
    std::string text = vembro::kit::WithoutUtf8Bom(head);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (IsMarkdownLine(line))
            return true;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return false;
} catch (...) {
    return false;
}

void AppendUtf8(std::string& out, unsigned long cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace samples
