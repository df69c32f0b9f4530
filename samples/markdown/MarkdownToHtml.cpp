#include "markdown/MarkdownToHtml.h"

#include <cctype>
#include <vector>

#include "vembro/kit/Data.h"

namespace samples {
namespace {

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n' || c == '\r') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

int HeadingLevel(const std::string& line)
{
    size_t n = 0;
    while (n < line.size() && line[n] == '#')
        ++n;
    return n >= 1 && n <= 6 && n < line.size() && line[n] == ' ' ? static_cast<int>(n) : 0;
}

bool IsRule(const std::string& line)
{
    std::string t = Trim(line);
    return t.size() >= 3 && (t.find_first_not_of('-') == std::string::npos ||
                             t.find_first_not_of('*') == std::string::npos ||
                             t.find_first_not_of('_') == std::string::npos);
}

// Text of a list item, or npos when the line is not one of that kind.
size_t BulletItem(const std::string& line)
{
    return line.size() > 2 && (line[0] == '-' || line[0] == '*' || line[0] == '+') && line[1] == ' ' ? 2
                                                                                                     : std::string::npos;
}

size_t NumberedItem(const std::string& line)
{
    size_t d = 0;
    while (d < line.size() && std::isdigit(static_cast<unsigned char>(line[d])))
        ++d;
    return d > 0 && line.compare(d, 2, ". ") == 0 ? d + 2 : std::string::npos;
}

// The text between the markers at `pos` and their closing twin, if any.
bool Span(const std::string& text, size_t pos, const std::string& marker, size_t& end)
{
    if (text.compare(pos, marker.size(), marker) != 0)
        return false;
    size_t close = text.find(marker, pos + marker.size());
    if (close == std::string::npos || close == pos + marker.size())
        return false;
    end = close;
    return true;
}

class Writer {
public:
    void Open(const char* block)
    {
        if (m_open == block)
            return;
        Close();
        m_open = block;
        m_body += "<" + m_open + ">\n";
    }
    void Close()
    {
        FlushParagraph();
        if (!m_open.empty())
            m_body += "</" + m_open + ">\n";
        m_open.clear();
    }
    void Paragraph(const std::string& line)
    {
        if (!m_paragraph.empty())
            m_paragraph += "\n";
        m_paragraph += Trim(line);
    }
    void FlushParagraph()
    {
        if (m_paragraph.empty())
            return;
        m_body += "<p>" + MarkdownInline(m_paragraph) + "</p>\n";
        m_paragraph.clear();
    }
    void Raw(const std::string& html) { m_body += html; }
    const std::string& Body() const { return m_body; }
    bool InBlock(const char* block) const { return m_open == block; }

private:
    std::string m_body;
    std::string m_open; // "ul", "ol" or "blockquote"
    std::string m_paragraph;
};

} // namespace

std::string EscapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string MarkdownInline(const std::string& text)
{
    std::string out;
    size_t i = 0, end = 0;
    while (i < text.size()) {
        if (Span(text, i, "`", end)) {
            out += "<code>" + EscapeHtml(text.substr(i + 1, end - i - 1)) + "</code>";
            i = end + 1;
        } else if (Span(text, i, "**", end)) {
            out += "<strong>" + MarkdownInline(text.substr(i + 2, end - i - 2)) + "</strong>";
            i = end + 2;
        } else if (Span(text, i, "*", end) || Span(text, i, "_", end)) {
            out += "<em>" + MarkdownInline(text.substr(i + 1, end - i - 1)) + "</em>";
            i = end + 1;
        } else if (text[i] == '[' && (end = text.find("](", i)) != std::string::npos &&
                   text.find(')', end) != std::string::npos) {
            size_t close = text.find(')', end);
            out += "<a href=\"" + EscapeHtml(text.substr(end + 2, close - end - 2)) + "\">" +
                   MarkdownInline(text.substr(i + 1, end - i - 1)) + "</a>";
            i = close + 1;
        } else {
            out += EscapeHtml(std::string(1, text[i]));
            ++i;
        }
    }
    return out;
}

std::string MarkdownToHtml(const std::string& markdown)
{
    Writer w;
    std::string title;
    bool inCode = false;
    for (const std::string& line : SplitLines(vembro::kit::WithoutUtf8Bom(markdown))) {
        if (inCode) {
            if (StartsWith(Trim(line), "```")) {
                w.Raw("</code></pre>\n");
                inCode = false;
            } else {
                w.Raw(EscapeHtml(line) + "\n");
            }
            continue;
        }
        size_t item;
        if (Trim(line).empty()) {
            w.Close();
        } else if (StartsWith(Trim(line), "```")) {
            w.Close();
            w.Raw("<pre><code>");
            inCode = true;
        } else if (int level = HeadingLevel(line)) {
            w.Close();
            std::string text = Trim(line.substr(static_cast<size_t>(level) + 1));
            if (title.empty())
                title = text;
            std::string tag = "h" + std::to_string(level);
            w.Raw("<" + tag + ">" + MarkdownInline(text) + "</" + tag + ">\n");
        } else if (IsRule(line)) {
            w.Close();
            w.Raw("<hr>\n");
        } else if ((item = BulletItem(line)) != std::string::npos) {
            w.Open("ul");
            w.Raw("<li>" + MarkdownInline(Trim(line.substr(item))) + "</li>\n");
        } else if ((item = NumberedItem(line)) != std::string::npos) {
            w.Open("ol");
            w.Raw("<li>" + MarkdownInline(Trim(line.substr(item))) + "</li>\n");
        } else if (line[0] == '>') {
            w.Open("blockquote");
            w.Paragraph(line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1));
        } else {
            if (w.InBlock("ul") || w.InBlock("ol"))
                w.Close();
            w.Paragraph(line);
        }
    }
    if (inCode)
        w.Raw("</code></pre>\n");
    w.Close();
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + EscapeHtml(title) +
           "</title>\n</head>\n<body>\n" + w.Body() + "</body>\n</html>\n";
}

} // namespace samples
