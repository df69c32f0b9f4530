#include "l10n/Segment.h"

#include <cwctype>

namespace samples {
namespace {

constexpr wchar_t kOpenMark = 0xE010, kCloseMark = 0xE011, kEmptyMark = 0xE012;

bool IsCodeElement(const std::wstring& name)
{
    return name == L"ph" || name == L"bpt" || name == L"ept" || name == L"it" || name == L"x" || name == L"bx" ||
           name == L"ex" || name == L"ut";
}

int PairOf(const xml::Node& node)
{
    const std::wstring* i = node.Find(L"i");
    if (!i)
        i = node.Find(L"rid");
    return i ? _wtoi(i->c_str()) : 0;
}

bool IsCharacterData(XmlNodeType type)
{
    return type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace;
}

} // namespace

const std::wstring* Piece::Find(const wchar_t* attribute) const noexcept
{
    for (const auto& a : attributes)
        if (a.local == attribute && a.prefix.empty())
            return &a.value;
    return nullptr;
}

Segment SegmentOf(const xml::Nodes& nodes, size_t start)
{
    Segment segment;
    std::vector<int> open; // pairs of the containers still open
    int nextPair = -1;     // containers get negative pairs, apart from bpt/ept's i
    for (size_t i = start + 1, end = xml::EndOf(nodes, start); i < end; ++i) {
        const xml::Node& node = nodes[i];
        if (IsCharacterData(node.type)) {
            if (segment.empty() || segment.back().kind != Piece::Text)
                segment.push_back({});
            segment.back().text += node.value;
        } else if (node.type == XmlNodeType_Element && IsCodeElement(node.local)) {
            Piece code{Piece::Empty, xml::TextOf(nodes, i), node.local, node.attributes, 0, false};
            if (node.local == L"bpt" || node.local == L"bx")
                code.kind = Piece::Open;
            else if (node.local == L"ept" || node.local == L"ex")
                code.kind = Piece::Close;
            code.pair = code.kind == Piece::Empty ? 0 : PairOf(node);
            segment.push_back(std::move(code));
            i = xml::EndOf(nodes, i);
        } else if (node.type == XmlNodeType_Element) {
            segment.push_back({Piece::Open, {}, node.local, node.attributes, nextPair, true});
            if (node.empty)
                segment.push_back({Piece::Close, {}, node.local, {}, nextPair, true});
            else
                open.push_back(nextPair);
            --nextPair;
        } else if (node.type == XmlNodeType_EndElement && !open.empty()) {
            segment.push_back({Piece::Close, {}, node.local, {}, open.back(), true});
            open.pop_back();
        }
    }
    return segment;
}

void WriteSegment(IXmlWriter* writer, const Segment& segment)
{
    for (const Piece& p : segment) {
        if (p.kind == Piece::Text) {
            xml::Check(writer->WriteString(p.text.c_str()));
        } else if (p.kind == Piece::Close && p.container) {
            xml::Check(writer->WriteFullEndElement());
        } else {
            xml::StartElement(writer, p.name.c_str());
            for (const auto& a : p.attributes)
                xml::WriteAttribute(writer, a.prefix.c_str(), a.local.c_str(), a.value);
            if (p.container)
                continue;
            if (!p.text.empty())
                xml::Check(writer->WriteString(p.text.c_str()));
            xml::Check(p.text.empty() ? writer->WriteEndElement() : writer->WriteFullEndElement());
        }
    }
}

void WriteSegmentElement(IXmlWriter* writer, const wchar_t* name, const Segment& segment, const std::wstring& lang)
{
    xml::StartElement(writer, name);
    if (!lang.empty())
        xml::WriteAttribute(writer, L"xml", L"lang", lang);
    WriteSegment(writer, segment);
    xml::Check(writer->WriteFullEndElement());
}

std::wstring KeyOf(const Segment& segment)
{
    std::wstring key;
    bool space = false;
    auto add = [&](wchar_t c) {
        if (space && !key.empty())
            key += L' ';
        space = false;
        key += c;
    };
    for (const Piece& p : segment) {
        if (p.kind != Piece::Text) {
            add(p.kind == Piece::Open ? kOpenMark : p.kind == Piece::Close ? kCloseMark : kEmptyMark);
            continue;
        }
        for (wchar_t c : p.text) {
            if (std::iswspace(c) || c == 0xA0)
                space = true;
            else
                add(c);
        }
    }
    return key;
}

std::vector<std::wstring> TokensOf(const std::wstring& key)
{
    std::vector<std::wstring> tokens;
    for (size_t i = 0; i < key.size();) {
        if (key[i] == L' ') {
            ++i;
        } else if (std::iswalnum(key[i])) {
            size_t j = i;
            while (j < key.size() && std::iswalnum(key[j]))
                ++j;
            tokens.push_back(key.substr(i, j - i));
            i = j;
        } else {
            tokens.push_back(key.substr(i++, 1));
        }
    }
    return tokens;
}

bool HasText(const Segment& segment)
{
    for (const Piece& p : segment)
        if (p.kind == Piece::Text)
            for (wchar_t c : p.text)
                if (!std::iswspace(c) && c != 0xA0)
                    return true;
    return false;
}

} // namespace samples
