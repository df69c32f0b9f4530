#include "l10n/Merge.h"

#include <map>

#include "vembro/com/Error.h"
#include "l10n/Errors.h"
#include "l10n/Segment.h"
#include "l10n/Skeleton.h"
#include "l10n/Xml.h"
#include "vembro/kit/Data.h"

namespace samples {
namespace {

using namespace skeleton;

// The document goes out in pieces, in the encoding it came in.
class Output {
public:
    Output(IStream* out, bool utf16) : m_out(out), m_bUtf16(utf16)
    {
        if (m_bUtf16)
            m_text = L"\xFEFF";
    }
    std::wstring& Text() noexcept { return m_text; }
    void Flush(bool always)
    {
        if (!always && m_text.size() < 65536)
            return;
        std::string bytes = m_bUtf16 ? std::string(reinterpret_cast<const char*>(m_text.data()), m_text.size() * 2)
                                     : vembro::kit::Utf8FromWide(m_text.data(), m_text.size());
        ULONG written = 0;
        vembro::ThrowIfFailed(m_out->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written));
        if (written != bytes.size())
            vembro::ThrowHr(STG_E_MEDIUMFULL);
        m_text.clear();
    }

private:
    IStream* m_out;
    bool m_bUtf16;
    std::wstring m_text;
};

void AppendEscaped(std::wstring& out, const std::wstring& text, bool attribute)
{
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case 0xA0: out += L"&nbsp;"; break;
        case L'"': out += attribute ? L"&quot;" : L"\""; break;
        default: out += c;
        }
    }
}

// Index of the U+E001 that ends the marker opened at `begin`.
size_t MarkerEnd(const std::wstring& text, size_t begin)
{
    int depth = 0;
    for (size_t i = begin; i < text.size(); ++i) {
        if (text[i] == kBegin)
            ++depth;
        else if (text[i] == kEnd && --depth == 0)
            return i;
    }
    vembro::ThrowHr(L10N_E_NO_SKELETON);
}

// Splits text at top-level occurrences of `separator` (not inside markers).
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts(1);
    int depth = 0;
    for (wchar_t c : text) {
        depth += c == kBegin ? 1 : c == kEnd ? -1 : 0;
        if (c == separator && depth == 0)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

class Merger {
public:
    explicit Merger(IStream* in) : m_reader(in) {}

    void ReadHeader()
    {
        xml::Node root = NextElement(L10N_E_NOT_XLIFF12);
        const std::wstring* version = root.Find(L"version");
        if (root.local != L"xliff" || !version || *version != L"1.2")
            vembro::ThrowHr(L10N_E_NOT_XLIFF12);
        for (;;) {
            xml::Node node = NextElement(L10N_E_NO_SKELETON);
            if (node.local == L"file") {
                m_language = Attribute(node, L"target-language");
                if (m_language.empty())
                    m_language = Attribute(node, L"source-language");
                for (const auto& a : node.attributes)
                    if (a.local == L"encoding" && !a.prefix.empty())
                        m_bUtf16 = a.value == L"utf-16";
            } else if (node.local == L"internal-file") {
                ReadSkeleton(node);
                return;
            } else if (node.local == L"body" || node.local == L"external-file") {
                vembro::ThrowHr(L10N_E_NO_SKELETON);
            }
        }
    }

    void Write(IStream* out, vembro::kit::Progress& progress)
    {
        Output output(out, m_bUtf16);
        m_progress = &progress;
        Render(m_skeleton, output);
        output.Flush(true);
    }

private:
    // The skeleton, decoded piece by piece as the reader delivers it: it is
    // about as large as the document.
    void ReadSkeleton(const xml::Node& file)
    {
        const std::wstring* form = file.Find(L"form");
        bool base64 = form && *form == L"base64";
        Base64Decoder decoder;
        std::string bytes;
        XmlNodeType type;
        while (!file.empty && m_reader.Next(type) && type != XmlNodeType_EndElement) {
            if (type != XmlNodeType_Text && type != XmlNodeType_CDATA && type != XmlNodeType_Whitespace)
                vembro::ThrowHr(L10N_E_NO_SKELETON); // the skeleton is text alone
            const WCHAR* text = nullptr;
            UINT length = 0;
            xml::Check(m_reader.Get()->GetValue(&text, &length));
            if (!base64)
                m_skeleton.append(text, length);
            else if (!decoder.Feed(text, length, bytes))
                vembro::ThrowHr(L10N_E_NO_SKELETON);
        }
        if (base64) {
            if (!vembro::kit::IsValidUtf8(bytes, false))
                vembro::ThrowHr(L10N_E_NO_SKELETON);
            m_skeleton = vembro::kit::WideFromUtf8(bytes);
        }
    }

    static std::wstring Attribute(const xml::Node& node, const wchar_t* name)
    {
        const std::wstring* value = node.Find(name);
        return value ? *value : std::wstring();
    }

    // atEnd: the failure when the document has no more elements.
    xml::Node NextElement(HRESULT atEnd)
    {
        XmlNodeType type;
        while (m_reader.Next(type))
            if (type == XmlNodeType_Element)
                return xml::Current(m_reader.Get());
        vembro::ThrowHr(atEnd);
    }

    // The unit's content to merge, reading on through the units until it comes.
    Segment Take(const std::wstring& id)
    {
        auto found = m_units.find(id);
        while (found == m_units.end()) {
            // A unit that the skeleton names and the file lacks.
            xml::Node node = NextElement(L10N_E_MALFORMED_XML);
            if (node.local != L"trans-unit")
                continue;
            xml::Nodes nodes = xml::Capture(m_reader);
            Segment source, target;
            for (size_t i = 1; i + 1 < nodes.size(); i = xml::EndOf(nodes, i) + 1) {
                if (nodes[i].type == XmlNodeType_Element && nodes[i].local == L"source")
                    source = SegmentOf(nodes, i);
                else if (nodes[i].type == XmlNodeType_Element && nodes[i].local == L"target")
                    target = SegmentOf(nodes, i);
            }
            found = m_units.emplace(Attribute(node, L"id"), HasText(target) ? target : source).first;
            if (found->first != id)
                found = m_units.end();
        }
        Segment segment = std::move(found->second);
        m_units.erase(found);
        return segment;
    }

    void Render(const std::wstring& text, Output& output)
    {
        for (size_t i = 0; i < text.size();) {
            size_t marker = text.find(kBegin, i);
            output.Text().append(text, i, marker == std::wstring::npos ? std::wstring::npos : marker - i);
            if (marker == std::wstring::npos)
                break;
            size_t end = MarkerEnd(text, marker);
            RenderMarker(text.substr(marker + 1, end - marker - 1), output);
            output.Flush(false);
            if (m_progress && &text == &m_skeleton)
                m_progress->Report(static_cast<long>(1000.0 * static_cast<double>(end) / static_cast<double>(text.size())), 1000);
            i = end + 1;
        }
    }

    void RenderMarker(const std::wstring& marker, Output& output)
    {
        if (marker.empty())
            vembro::ThrowHr(L10N_E_NO_SKELETON);
        if (marker[0] == kLiteral) {
            output.Text() += marker.substr(1);
            return;
        }
        if (marker[0] == kLanguage) {
            output.Text() += L'"';
            AppendEscaped(output.Text(), m_language, true);
            output.Text() += L'"';
            return;
        }
        size_t codesAt = marker.find(kCodes);
        Segment segment = Take(marker.substr(0, codesAt));
        if (codesAt == std::wstring::npos) {
            std::wstring value;
            for (const Piece& p : segment)
                if (p.kind == Piece::Text)
                    value += p.text;
            output.Text() += L'"';
            AppendEscaped(output.Text(), value, true);
            output.Text() += L'"';
            return;
        }
        std::vector<std::vector<std::wstring>> codes;
        if (codesAt + 1 < marker.size())
            for (const std::wstring& code : Split(marker.substr(codesAt + 1), kNextCode))
                codes.push_back(Split(code, kCloseCode));
        std::map<int, size_t> codeOfPair;
        for (const Piece& p : segment) {
            if (p.kind == Piece::Text) {
                AppendEscaped(output.Text(), p.text, false);
                continue;
            }
            const std::wstring* id = p.Find(L"id");
            size_t k = id ? static_cast<size_t>(_wtoi(id->c_str())) : 0;
            if (p.kind == Piece::Open)
                codeOfPair[p.pair] = k;
            else if (p.kind == Piece::Close && codeOfPair.count(p.pair))
                k = codeOfPair[p.pair];
            if (k == 0 || k > codes.size())
                continue; // a tag that the document never had
            const auto& code = codes[k - 1];
            if (p.kind != Piece::Close)
                Render(code[0], output);
            else if (code.size() > 1)
                Render(code[1], output);
        }
    }

    xml::Reader m_reader;
    std::wstring m_skeleton, m_language;
    bool m_bUtf16 = false;
    std::map<std::wstring, Segment> m_units;
    vembro::kit::Progress* m_progress = nullptr;
};

} // namespace

void MergeXliff(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    Merger merger(in);
    merger.ReadHeader();
    merger.Write(out, progress);
}

} // namespace samples
