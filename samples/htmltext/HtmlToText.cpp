#include "htmltext/HtmlToText.h"

#include <set>
#include <vector>

#include "common/HtmlScan.h"
#include "vembro/kit/Data.h"

namespace samples {
namespace {

const std::set<std::string>& BlockTags()
{
    static const std::set<std::string> tags = {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol",
                                               "blockquote", "pre", "table", "tr", "section", "article",
                                               "header", "footer", "nav", "main", "dl", "dt", "dd", "figure"};
    return tags;
}

class TextBuilder {
public:
    // 1: a line break, 2: a blank line, before the next text.
    void Break(int level)
    {
        if (level > m_nPendingBreak)
            m_nPendingBreak = level;
    }
    void Prefix(const std::string& text) { m_prefix = text; }
    void Text(const std::string& text, bool preformatted)
    {
        for (char c : text) {
            bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
            if (preformatted && c == '\n') {
                Emit();
                m_out += '\n';
                m_bLineStart = true;
                continue;
            }
            if (space && !preformatted) {
                m_bPendingSpace = true;
                continue;
            }
            Emit();
            if (m_bPendingSpace && !m_bLineStart)
                m_out += ' ';
            m_bPendingSpace = false;
            m_out += c;
            m_bLineStart = false;
        }
    }
    std::string Finish()
    {
        if (!m_out.empty() && m_out.back() != '\n')
            m_out += '\n';
        return m_out;
    }

private:
    void Emit()
    {
        if (m_nPendingBreak && !m_out.empty()) {
            m_out += m_nPendingBreak == 2 ? "\n\n" : "\n";
            m_bLineStart = true;
            m_bPendingSpace = false;
        }
        if (m_nPendingBreak && m_out.empty())
            m_bPendingSpace = false;
        m_nPendingBreak = 0;
        if (!m_prefix.empty()) {
            m_out += m_prefix;
            m_prefix.clear();
            m_bLineStart = false;
            m_bPendingSpace = false;
        }
    }

    std::string m_out;
    std::string m_prefix;
    int m_nPendingBreak = 0;
    bool m_bPendingSpace = false;
    bool m_bLineStart = true;
};

} // namespace

std::string HtmlToText(const std::string& html)
{
    TextBuilder text;
    int hidden = 0;      // inside head, title, script or style
    int preformatted = 0;
    std::vector<int> counters; // one per open list: 0 for bullets, else the next number
    for (const HtmlToken& t : ScanHtml(vembro::kit::WithoutUtf8Bom(html))) {
        bool hiding = t.name == "head" || t.name == "script" || t.name == "style" || t.name == "title";
        switch (t.kind) {
        case HtmlToken::Text:
            if (!hidden && !t.script)
                text.Text(DecodeEntities(t.raw), preformatted > 0);
            break;
        case HtmlToken::StartTag:
            if (hiding) {
                ++hidden;
            } else if (t.name == "br") {
                text.Break(1);
            } else if (t.name == "hr") {
                text.Break(2);
                text.Text("----", true);
                text.Break(2);
            } else if (t.name == "li") {
                text.Break(1);
                int& n = counters.empty() ? (counters.push_back(0), counters.back()) : counters.back();
                text.Prefix(n ? std::to_string(n++) + ". " : "- ");
            } else if (BlockTags().count(t.name)) {
                text.Break(counters.empty() || (t.name == "ul" || t.name == "ol") ? 2 : 1);
                if (t.name == "ul" || t.name == "ol")
                    counters.push_back(t.name == "ol" ? 1 : 0);
                if (t.name == "pre")
                    ++preformatted;
            }
            break;
        case HtmlToken::EndTag:
            if (hiding) {
                hidden = hidden > 0 ? hidden - 1 : 0;
            } else if (BlockTags().count(t.name)) {
                if ((t.name == "ul" || t.name == "ol") && !counters.empty())
                    counters.pop_back();
                if (t.name == "pre" && preformatted > 0)
                    --preformatted;
                text.Break(counters.empty() ? 2 : 1);
            }
            break;
        case HtmlToken::Other:
            break;
        }
    }
    return text.Finish();
}

} // namespace samples
