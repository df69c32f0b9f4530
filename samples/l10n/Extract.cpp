#include "l10n/Extract.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "vembro/com/Error.h"
#include "common/HtmlScan.h"
#include "l10n/Errors.h"
#include "l10n/Skeleton.h"
#include "l10n/Xml.h"
#include "vembro/kit/Data.h"

namespace samples {
namespace {

using namespace skeleton;
using vembro::kit::WideFromUtf8;

const std::set<std::string> kInline = {"a",   "abbr", "b",    "bdi", "bdo",    "big",    "cite", "code", "del",
                                       "dfn", "em",   "font", "i",   "ins",    "kbd",    "mark", "q",    "s",
                                       "samp", "small", "span", "strike", "strong", "sub", "sup",  "time", "tt",
                                       "u",   "var",  "br",   "img", "wbr"};
const std::set<std::string> kVoid = {"br", "img", "wbr"};

std::wstring CtypeOf(const std::string& name, bool paired)
{
    if (paired && (name == "b" || name == "strong"))
        return L"bold";
    if (paired && (name == "i" || name == "em"))
        return L"italic";
    if (paired && name == "u")
        return L"underlined";
    if (paired && name == "a")
        return L"link";
    if (!paired && name == "br")
        return L"lb";
    if (!paired && name == "img")
        return L"image";
    return L"x-html-" + WideFromUtf8(name);
}

bool IsBlank(const std::wstring& text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return iswspace(c) || c == 0xA0; });
}

// A unit keeps its <source> content as XML already: a document has many,
// and pieces with their attributes would take many times the text's room.
struct Unit {
    int id;
    std::wstring resname;
    std::wstring source;
};

// Text as XML character data. Characters that XML cannot carry (controls
// other than tab and line breaks) are not text in any encoding read here.
void AppendXmlText(std::wstring& out, const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c == L'&')
            out += L"&amp;";
        else if (c == L'<')
            out += L"&lt;";
        else if (c == L'>')
            out += L"&gt;";
        else if ((c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE || c == 0xFFFF)
            vembro::ThrowHr(L10N_E_UNKNOWN_ENCODING);
        else
            out += c;
    }
}

void AppendInline(std::wstring& out, const wchar_t* element, int id, const std::wstring& ctype, bool empty)
{
    out += L'<';
    out += element;
    out += L" id=\"" + std::to_wstring(id) + L"\" ctype=\"" + ctype + (empty ? L"\"/>" : L"\">");
}

class Extractor {
public:
    void Add(const HtmlToken& token)
    {
        bool isInline = (token.kind == HtmlToken::StartTag || token.kind == HtmlToken::EndTag) && kInline.count(token.name);
        if (token.kind == HtmlToken::Text && !token.script) {
            m_run.push_back({false, false, token.name, WideFromUtf8(DecodeEntities(token.raw)), WideFromUtf8(token.raw)});
        } else if (isInline) {
            m_run.push_back({true, token.kind == HtmlToken::EndTag, token.name, {}, TagCode(token)});
        } else {
            Flush();
            if (token.kind == HtmlToken::StartTag)
                m_skeleton += TagCode(token);
            else
                AppendLiteral(m_skeleton, WideFromUtf8(token.raw));
        }
    }

    void Flush()
    {
        std::vector<Item> run;
        run.swap(m_run);
        // A run without a letter (prices, times in digits, punctuation) is not for translating.
        auto significant = [](const Item& item) { return !item.tag && !IsBlank(item.text); };
        auto lettered = [](const Item& item) {
            return !item.tag && std::any_of(item.text.begin(), item.text.end(), [](wchar_t c) { return iswalpha(c); });
        };
        auto first = std::find_if(run.begin(), run.end(), significant);
        if (std::none_of(run.begin(), run.end(), lettered)) {
            for (const Item& item : run)
                Skeleton(item);
            return;
        }
        auto last = std::find_if(run.rbegin(), run.rend(), significant).base() - 1;
        std::vector<int> partner = Pairs(run);
        // Tags before the first text and after the last stay in the skeleton
        // unless they enclose text of the unit.
        size_t begin = static_cast<size_t>(first - run.begin()), end = static_cast<size_t>(last - run.begin()) + 1;
        while (begin > 0 && partner[begin - 1] > static_cast<int>(begin) - 1)
            --begin;
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t i = begin; i < end; ++i)
                if (partner[i] >= static_cast<int>(end)) {
                    end = static_cast<size_t>(partner[i]) + 1;
                    grew = true;
                }
        }
        for (size_t i = 0; i < begin; ++i)
            Skeleton(run[i]);
        // Blanks around the unit's text belong to the skeleton.
        std::wstring lead, trail;
        if (!run[begin].tag)
            lead = SplitLead(run[begin]);
        if (!run[end - 1].tag)
            trail = SplitTrail(run[end - 1]);
        AppendLiteral(m_skeleton, lead);
        Unit unit{m_nextId++, {}, {}};
        std::vector<std::wstring> codes;
        std::vector<int> idOf(run.size(), 0);
        for (size_t i = begin; i < end; ++i) {
            const Item& item = run[i];
            if (!item.tag) {
                AppendXmlText(unit.source, item.text);
                continue;
            }
            bool paired = partner[i] >= static_cast<int>(begin) && partner[i] < static_cast<int>(end);
            if (paired && item.end) {
                codes[static_cast<size_t>(idOf[static_cast<size_t>(partner[i])]) - 1] += kCloseCode + item.code;
                unit.source += L"</g>";
                continue;
            }
            codes.push_back(item.code);
            idOf[i] = static_cast<int>(codes.size());
            AppendInline(unit.source, paired ? L"g" : L"x", idOf[i], CtypeOf(item.name, paired), !paired);
        }
        m_skeleton += kBegin + std::to_wstring(unit.id) + kCodes;
        for (size_t k = 0; k < codes.size(); ++k)
            m_skeleton += (k ? std::wstring(1, kNextCode) : std::wstring()) + codes[k];
        m_skeleton += kEnd;
        AppendLiteral(m_skeleton, trail);
        for (size_t i = end; i < run.size(); ++i)
            Skeleton(run[i]);
        m_units.push_back(std::move(unit));
    }

    const std::wstring& SkeletonText() const noexcept { return m_skeleton; }
    void DropSkeleton() noexcept { std::wstring().swap(m_skeleton); }
    const std::vector<Unit>& Units() const noexcept { return m_units; }
    const std::wstring& Language() const noexcept { return m_language; }

private:
    struct Item {
        bool tag;
        bool end;          // an end tag
        std::string name;  // tags: the element name
        std::wstring text; // text: decoded
        std::wstring code; // tags: the tag as the skeleton holds it; text: as written
    };

    void Skeleton(const Item& item)
    {
        if (item.tag)
            m_skeleton += item.code;
        else
            AppendLiteral(m_skeleton, item.code);
    }

    // Moves the leading blanks of a text item's decoded text out; the item
    // keeps the rest. Returns the blanks as written.
    static std::wstring SplitLead(Item& item)
    {
        size_t n = 0;
        while (n < item.text.size() && n < item.code.size() && (iswspace(item.text[n]) || item.text[n] == 0xA0) && item.code[n] == item.text[n])
            ++n;
        std::wstring lead = item.text.substr(0, n);
        item.text.erase(0, n);
        item.code.erase(0, n);
        return lead;
    }

    static std::wstring SplitTrail(Item& item)
    {
        size_t n = 0;
        while (n < item.text.size() && n < item.code.size() && iswspace(item.text[item.text.size() - 1 - n]) &&
               item.code[item.code.size() - 1 - n] == item.text[item.text.size() - 1 - n])
            ++n;
        std::wstring trail = item.text.substr(item.text.size() - n);
        item.text.erase(item.text.size() - n);
        item.code.erase(item.code.size() - n);
        return trail;
    }

    // For each tag its partner's index in the run (start <-> end of one
    // element), -1 for void, stray and unclosed tags.
    static std::vector<int> Pairs(const std::vector<Item>& run)
    {
        std::vector<int> partner(run.size(), -1);
        std::vector<size_t> open;
        for (size_t i = 0; i < run.size(); ++i) {
            if (!run[i].tag || kVoid.count(run[i].name))
                continue;
            if (!run[i].end) {
                open.push_back(i);
                continue;
            }
            auto match = std::find_if(open.rbegin(), open.rend(), [&](size_t k) { return run[k].name == run[i].name; });
            if (match == open.rend())
                continue;
            size_t k = *match;
            open.erase(match.base() - 1, open.end()); // what opened inside stays unpaired
            partner[k] = static_cast<int>(i);
            partner[i] = static_cast<int>(k);
        }
        return partner;
    }

    // The tag as the skeleton holds it: title and alt become units of their
    // own, <html lang> the language marker.
    std::wstring TagCode(const HtmlToken& token)
    {
        std::wstring code;
        if (token.kind != HtmlToken::StartTag) {
            AppendLiteral(code, WideFromUtf8(token.raw));
            return code;
        }
        size_t copied = 0;
        for (const HtmlAttribute& a : ScanAttributes(token.raw)) {
            bool language = token.name == "html" && a.name == "lang" && a.end > a.begin;
            std::wstring value = WideFromUtf8(DecodeEntities(a.value));
            bool readable = (a.name == "title" || a.name == "alt") && !IsBlank(value);
            if (!language && !readable)
                continue;
            AppendLiteral(code, WideFromUtf8(token.raw.substr(copied, a.begin - copied)));
            copied = a.end;
            code += kBegin;
            if (language) {
                m_language = value;
                code += kLanguage;
            } else {
                m_units.push_back({m_nextId, WideFromUtf8(a.name), {}});
                AppendXmlText(m_units.back().source, value);
                code += std::to_wstring(m_nextId++);
            }
            code += kEnd;
        }
        AppendLiteral(code, WideFromUtf8(token.raw.substr(copied)));
        return code;
    }

    std::wstring m_skeleton;
    std::vector<Unit> m_units;
    std::vector<Item> m_run;
    std::wstring m_language;
    int m_nextId = 1;
};

std::string DeclaredCharset(const std::string& html)
{
    std::string head = html.substr(0, 4096);
    std::transform(head.begin(), head.end(), head.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    size_t meta = head.find("<meta");
    while (meta != std::string::npos) {
        size_t close = head.find('>', meta);
        size_t at = head.find("charset", meta);
        if (at != std::string::npos && at < close) {
            at += 7;
            while (at < head.size() && (head[at] == ' ' || head[at] == '=' || head[at] == '"' || head[at] == '\''))
                ++at;
            size_t end = at;
            while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' || head[end] == '_'))
                ++end;
            return head.substr(at, end - at);
        }
        meta = head.find("<meta", meta + 5);
    }
    return {};
}

} // namespace

std::string HtmlAsUtf8(const std::string& whole, std::wstring& encoding, bool head)
{
    std::string even; // a head may end inside a UTF-16 unit
    if (head && whole.size() % 2)
        even = whole.substr(0, whole.size() - 1);
    const std::string& bytes = even.empty() ? whole : even;
    std::string html;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        if (bytes.size() % 2)
            vembro::ThrowHr(L10N_E_UNKNOWN_ENCODING);
        bool big = byte(0) == 0xFE;
        std::wstring wide(bytes.size() / 2 - 1, L'\0');
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(big ? (byte(2 * i + 2) << 8) | byte(2 * i + 3) : byte(2 * i + 2) | (byte(2 * i + 3) << 8));
        html = vembro::kit::Utf8FromWide(wide.data(), wide.size());
        encoding = L"utf-16";
    } else {
        html = vembro::kit::WithoutUtf8Bom(bytes);
        if (!vembro::kit::IsValidUtf8(html, head))
            vembro::ThrowHr(L10N_E_UNKNOWN_ENCODING);
        encoding = L"utf-8";
    }
    std::string charset = DeclaredCharset(html);
    static const char* const known[] = {"", "utf-8", "utf8", "us-ascii", "ascii", "utf-16", "utf-16le", "utf-16be"};
    if (std::find(std::begin(known), std::end(known), charset) == std::end(known))
        vembro::ThrowHr(L10N_E_UNKNOWN_ENCODING);
    return html;
}

void ExtractXliff(IStream* in, IStream* out, vembro::kit::Progress& progress, const std::wstring& original)
{
    std::wstring encoding;
    std::string html = HtmlAsUtf8(vembro::kit::ReadAll(in, progress), encoding);
    Extractor extractor;
    size_t scanned = 0, count = 0;
    ScanHtml(html, [&](HtmlToken&& token) {
        scanned += token.raw.size();
        extractor.Add(token);
        if (++count % 512 == 0)
            progress.Report(50 + static_cast<long>(25 * scanned / html.size()), 100);
    });
    extractor.Flush();
    html.clear();
    html.shrink_to_fit();

    auto writer = xml::OpenWriter(out);
    IXmlWriter* w = writer.Get();
    auto newline = [&](const wchar_t* indent) { xml::Check(w->WriteString(indent)); };
    xml::StartElement(w, L"xliff");
    xml::WriteAttribute(w, nullptr, L"version", L"1.2");
    xml::WriteAttribute(w, nullptr, L"xmlns", L"urn:oasis:names:tc:xliff:document:1.2");
    xml::WriteAttribute(w, L"xmlns", L"vem", L"urn:vembro:l10n");
    newline(L"\n  ");
    xml::StartElement(w, L"file");
    xml::WriteAttribute(w, nullptr, L"original", original);
    xml::WriteAttribute(w, nullptr, L"source-language", extractor.Language().empty() ? L"und" : extractor.Language());
    xml::WriteAttribute(w, nullptr, L"datatype", L"html");
    xml::WriteAttribute(w, L"vem", L"encoding", encoding);
    newline(L"\n    ");
    xml::StartElement(w, L"header");
    xml::StartElement(w, L"skl");
    xml::StartElement(w, L"internal-file");
    xml::WriteAttribute(w, nullptr, L"form", L"base64");
    std::string skeleton = vembro::kit::Utf8FromWide(extractor.SkeletonText().data(), extractor.SkeletonText().size());
    extractor.DropSkeleton();
    newline(L"\n");
    const size_t kChunk = 57 * 1024; // whole lines of base64
    for (size_t at = 0; at < skeleton.size(); at += kChunk) {
        std::string encoded = skeleton::Base64(skeleton.substr(at, kChunk));
        xml::Check(w->WriteString(std::wstring(encoded.begin(), encoded.end()).c_str()));
    }
    xml::Check(w->WriteFullEndElement());
    xml::Check(w->WriteFullEndElement());
    xml::Check(w->WriteFullEndElement());
    newline(L"\n    ");
    xml::StartElement(w, L"body");
    const auto& units = extractor.Units();
    for (size_t i = 0; i < units.size(); ++i) {
        newline(L"\n      ");
        xml::StartElement(w, L"trans-unit");
        xml::WriteAttribute(w, nullptr, L"id", std::to_wstring(units[i].id));
        if (!units[i].resname.empty())
            xml::WriteAttribute(w, nullptr, L"resname", units[i].resname);
        xml::WriteAttribute(w, L"xml", L"space", L"preserve");
        newline(L"\n        ");
        xml::StartElement(w, L"source");
        xml::Check(w->WriteRaw(units[i].source.c_str()));
        xml::Check(w->WriteFullEndElement());
        newline(L"\n      ");
        xml::Check(w->WriteFullEndElement());
        if (i % 1024 == 0) {
            progress.Report(75 + static_cast<long>(25 * i / units.size()), 100);
            xml::Check(w->Flush()); // the writer would otherwise hold the document
        }
    }
    newline(L"\n    ");
    xml::Check(w->WriteFullEndElement()); // body
    newline(L"\n  ");
    xml::Check(w->WriteFullEndElement()); // file
    newline(L"\n");
    xml::Check(w->WriteFullEndElement()); // xliff
    xml::Check(w->WriteEndDocument());
    xml::Check(w->Flush());
    progress.Report(100, 100);
}

} // namespace samples
