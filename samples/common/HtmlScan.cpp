#include "common/HtmlScan.h"

#include <cctype>
#include <cstdlib>

#include "common/Sniff.h"

namespace samples {
namespace {

std::string TagName(const std::string& tag)
{
    size_t i = tag[1] == '/' ? 2 : 1;
    std::string name;
    while (i < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[i])) || tag[i] == '-'))
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(tag[i++])));
    return name;
}

// Position just past the '>' that ends the tag at pos, quotes respected.
size_t TagEnd(const std::string& html, size_t pos)
{
    char quote = 0;
    for (size_t i = pos + 1; i < html.size(); ++i) {
        char c = html[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return html.size();
}

size_t FindNoCase(const std::string& text, const std::string& lowerNeedle, size_t from)
{
    for (size_t i = from; i + lowerNeedle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < lowerNeedle.size() &&
               std::tolower(static_cast<unsigned char>(text[i + k])) == lowerNeedle[k])
            ++k;
        if (k == lowerNeedle.size())
            return i;
    }
    return std::string::npos;
}

} // namespace

void ScanHtml(const std::string& html, const std::function<void(HtmlToken&&)>& visit)
{
    // Text runs that a stray '<' interrupts are handed on as one token.
    HtmlToken text{HtmlToken::Text, {}, {}};
    auto addText = [&](size_t from, size_t to) { text.raw.append(html, from, to - from); };
    auto emit = [&](HtmlToken&& token) {
        if (!text.raw.empty())
            visit(std::move(text));
        text = {HtmlToken::Text, {}, {}};
        visit(std::move(token));
    };
    size_t pos = 0;
    while (pos < html.size()) {
        size_t lt = html.find('<', pos);
        bool tagStart = lt != std::string::npos && lt + 1 < html.size() &&
                        (std::isalpha(static_cast<unsigned char>(html[lt + 1])) || html[lt + 1] == '/' ||
                         html[lt + 1] == '!' || html[lt + 1] == '?');
        if (!tagStart) {
            // A '<' that starts no tag is text.
            size_t next = lt == std::string::npos ? html.size() : lt + 1;
            addText(pos, next);
            pos = next;
            continue;
        }
        addText(pos, lt);
        size_t end;
        if (html.compare(lt, 4, "<!--") == 0) {
            size_t close = html.find("-->", lt + 4);
            end = close == std::string::npos ? html.size() : close + 3;
            emit({HtmlToken::Other, html.substr(lt, end - lt), {}});
        } else if (html[lt + 1] == '!' || html[lt + 1] == '?') {
            end = TagEnd(html, lt);
            emit({HtmlToken::Other, html.substr(lt, end - lt), {}});
        } else {
            end = TagEnd(html, lt);
            std::string raw = html.substr(lt, end - lt);
            bool closing = html[lt + 1] == '/';
            std::string name = TagName(raw);
            emit({closing ? HtmlToken::EndTag : HtmlToken::StartTag, std::move(raw), name});
            if (!closing && (name == "script" || name == "style")) {
                size_t close = FindNoCase(html, "</" + name, end);
                size_t stop = close == std::string::npos ? html.size() : close;
                if (stop > end)
                    visit({HtmlToken::Text, html.substr(end, stop - end), {}, true});
                end = stop;
            }
        }
        pos = end;
    }
    if (!text.raw.empty())
        visit(std::move(text));
}

std::vector<HtmlToken> ScanHtml(const std::string& html)
{
    std::vector<HtmlToken> tokens;
    ScanHtml(html, [&](HtmlToken&& token) { tokens.push_back(std::move(token)); });
    return tokens;
}

std::vector<HtmlAttribute> ScanAttributes(const std::string& tag)
{
    std::vector<HtmlAttribute> attributes;
    auto space = [&](size_t i) { return std::isspace(static_cast<unsigned char>(tag[i])) != 0; };
    size_t i = 1;
    while (i < tag.size() && !space(i) && tag[i] != '>' && tag[i] != '/')
        ++i; // the tag name
    while (i < tag.size()) {
        while (i < tag.size() && (space(i) || tag[i] == '/'))
            ++i;
        if (i >= tag.size() || tag[i] == '>')
            break;
        HtmlAttribute a;
        while (i < tag.size() && !space(i) && tag[i] != '=' && tag[i] != '>' && !(tag[i] == '/' && tag[i + 1] == '>'))
            a.name += static_cast<char>(std::tolower(static_cast<unsigned char>(tag[i++])));
        size_t j = i;
        while (j < tag.size() && space(j))
            ++j;
        if (j < tag.size() && tag[j] == '=') {
            ++j;
            while (j < tag.size() && space(j))
                ++j;
            a.begin = j;
            if (j < tag.size() && (tag[j] == '"' || tag[j] == '\'')) {
                size_t close = tag.find(tag[j], j + 1);
                a.end = close == std::string::npos ? tag.size() : close + 1;
                a.value = tag.substr(j + 1, (close == std::string::npos ? tag.size() : close) - j - 1);
            } else {
                a.end = j;
                while (a.end < tag.size() && !space(a.end) && tag[a.end] != '>')
                    ++a.end;
                a.value = tag.substr(j, a.end - j);
            }
            i = a.end;
        } else {
            a.begin = a.end = i;
        }
        if (a.name.empty())
            ++i; // a stray character: step over it
        else
            attributes.push_back(std::move(a));
    }
    return attributes;
}

std::string DecodeEntities(const std::string& text)
{
    static const struct {
        const char* name;
        unsigned long cp;
    } named[] = {{"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},   {"apos", '\''},
                 {"nbsp", 0xA0},   {"copy", 0xA9},   {"reg", 0xAE},    {"hellip", 0x2026}, {"mdash", 0x2014},
                 {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
                 {"eacute", 0xE9}, {"euro", 0x20AC}, {"egrave", 0xE8}, {"agrave", 0xE0},
                 {"ccedil", 0xE7}, {"laquo", 0xAB}, {"raquo", 0xBB}, {"trade", 0x2122}, {"middot", 0xB7},
                 {"times", 0xD7}, {"bull", 0x2022}};
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t semi;
        if (text[i] != '&' || (semi = text.find(';', i)) == std::string::npos || semi - i > 10) {
            out += text[i++];
            continue;
        }
        std::string ref = text.substr(i + 1, semi - i - 1);
        unsigned long cp = 0;
        bool known = false;
        if (ref.size() > 1 && ref[0] == '#') {
            bool hex = ref[1] == 'x' || ref[1] == 'X';
            std::string digits = ref.substr(hex ? 2 : 1);
            char* stop = nullptr;
            cp = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            known = !digits.empty() && stop && *stop == '\0';
        } else {
            for (const auto& e : named)
                if (ref == e.name) {
                    cp = e.cp;
                    known = true;
                }
        }
        if (known) {
            AppendUtf8(out, cp);
            i = semi + 1;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace samples
