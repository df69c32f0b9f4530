#include "l10n/Fill.h"

#include <algorithm>
#include <memory>

#include "vembro/com/Error.h"
#include "l10n/Errors.h"
#include "l10n/Memory.h"
#include "l10n/Xml.h"

namespace samples {
namespace {

class Filler {
public:
    Filler(IStream* in, IStream* out, const FillSettings& settings)
        : m_in(in), m_reader(in), m_writer(xml::OpenWriter(out)), m_settings(settings)
    {
        if (settings.memory.empty())
            vembro::ThrowHr(L10N_E_NO_MEMORY);
        STATSTG stat{};
        if (SUCCEEDED(in->Stat(&stat, STATFLAG_NONAME)))
            m_nSize = stat.cbSize.QuadPart;
    }

    void Run(vembro::kit::Progress& progress)
    {
        XmlNodeType type;
        bool root = true;
        int depth = 0;
        while (m_reader.Next(type)) {
            xml::Node node = xml::Current(m_reader.Get());
            if (type == XmlNodeType_Element && root) {
                const std::wstring* version = node.Find(L"version");
                if (node.local != L"xliff" || !version || *version != L"1.2")
                    vembro::ThrowHr(L10N_E_NOT_XLIFF12);
                root = false;
            }
            if (type == XmlNodeType_Element && node.local == L"file") {
                StartFile_nothrow(node);
            } else if (type == XmlNodeType_Element && node.local == L"trans-unit" && m_memory) {
                Unit(xml::Capture(m_reader));
                if (++m_nUnits % 256 == 0)
                    xml::Check(m_writer->Flush()); // the writer would otherwise hold the document
                Report(progress);
                continue;
            }
            if (type == XmlNodeType_Whitespace && depth == 0)
                continue; // the writer lays out the document level itself
            depth += type == XmlNodeType_Element && !node.empty ? 1 : type == XmlNodeType_EndElement ? -1 : 0;
            xml::Write(m_writer.Get(), node);
        }
        if (root)
            vembro::ThrowHr(L10N_E_NOT_XLIFF12);
        xml::Check(m_writer->WriteEndDocument());
        xml::Check(m_writer->Flush());
    }

private:
    static void Set(xml::Node& node, const wchar_t* prefix, const wchar_t* name, const std::wstring& value)
    {
        for (auto& a : node.attributes)
            if (a.local == name && a.prefix == prefix) {
                a.value = value;
                return;
            }
        node.attributes.push_back({prefix, name, value});
    }

    // Settles the languages of a <file> and reads the memory for them (once,
    // unless a later file asks for other languages).
    void StartFile_nothrow(xml::Node& file)
    {
        const std::wstring* declaredSource = file.Find(L"source-language");
        const std::wstring* declaredTarget = file.Find(L"target-language");
        std::wstring source = m_settings.sourceLanguage;
        if (source.empty() && declaredSource && *declaredSource != L"und")
            source = *declaredSource;
        std::wstring target = m_settings.targetLanguage;
        if (target.empty() && declaredTarget)
            target = *declaredTarget;
        if (target.empty())
            vembro::ThrowHr(L10N_E_NO_LANGUAGE);
        if (!m_memory || m_source != source || m_target != target) {
            m_memory = std::make_unique<TranslationMemory>(m_settings.memory, source, target);
            m_source = source;
            m_target = target;
        }
        Set(file, L"", L"source-language", m_memory->SourceLanguage());
        Set(file, L"", L"target-language", target);
    }

    void Unit(const xml::Nodes& nodes)
    {
        size_t source = 0;
        bool hasTarget = false;
        for (size_t i = 1; i + 1 < nodes.size(); i = xml::EndOf(nodes, i) + 1) {
            if (nodes[i].type != XmlNodeType_Element)
                continue;
            if (nodes[i].local == L"source")
                source = i;
            hasTarget = hasTarget || nodes[i].local == L"target";
        }
        Match match;
        Segment target;
        if (hasTarget || source == 0 ||
            !m_memory->Find(SegmentOf(nodes, source), m_settings.threshold, match) ||
            !Transfer(SegmentOf(nodes, source), match.unit->source, match.unit->target, target)) {
            xml::WriteAll(m_writer.Get(), nodes, 0, nodes.size());
            return;
        }
        IXmlWriter* w = m_writer.Get();
        size_t afterSource = xml::EndOf(nodes, source) + 1;
        xml::WriteAll(w, nodes, 0, afterSource);
        std::wstring indent = nodes[source - 1].type == XmlNodeType_Whitespace ? nodes[source - 1].value : L"";
        if (!indent.empty())
            xml::Check(w->WriteString(indent.c_str()));
        xml::StartElement(w, L"target");
        xml::WriteAttribute(w, L"xml", L"lang", m_target);
        xml::WriteAttribute(w, nullptr, L"state", match.exact ? L"translated" : L"needs-review-translation");
        xml::WriteAttribute(w, nullptr, L"state-qualifier", match.exact ? L"exact-match" : L"fuzzy-match");
        WriteSegment(w, target);
        xml::Check(w->WriteFullEndElement());
        // alt-trans comes last in a unit, before the indentation of its end tag.
        size_t end = nodes.size() - 1;
        if (end > afterSource && nodes[end - 1].type == XmlNodeType_Whitespace)
            --end;
        xml::WriteAll(w, nodes, afterSource, end);
        if (!match.exact) {
            if (!indent.empty())
                xml::Check(w->WriteString(indent.c_str()));
            xml::StartElement(w, L"alt-trans");
            xml::WriteAttribute(w, nullptr, L"match-quality", std::to_wstring(match.quality));
            xml::WriteAttribute(w, nullptr, L"origin", L"memory");
            WriteSegmentElement(w, L"source", match.unit->source, m_memory->SourceLanguage());
            WriteSegmentElement(w, L"target", match.unit->target, m_target);
            xml::Check(w->WriteFullEndElement());
        }
        xml::WriteAll(w, nodes, end, nodes.size());
    }

    void Report(vembro::kit::Progress& progress)
    {
        ULARGE_INTEGER at{};
        LARGE_INTEGER zero{};
        if (m_nSize == 0 || FAILED(m_in->Seek(zero, STREAM_SEEK_CUR, &at)))
            return progress.Checkpoint();
        ULONGLONG done = std::min<ULONGLONG>(at.QuadPart, m_nSize);
        progress.Report(static_cast<long>(1000 * done / m_nSize), 1000);
    }

    IStream* m_in;
    xml::Reader m_reader;
    xml::ComPtr<IXmlWriter> m_writer;
    const FillSettings& m_settings;
    ULONGLONG m_nSize = 0;
    unsigned long m_nUnits = 0;
    std::unique_ptr<TranslationMemory> m_memory;
    std::wstring m_source, m_target;
};

} // namespace

void FillXliff(IStream* in, IStream* out, vembro::kit::Progress& progress, const FillSettings& settings)
{
    Filler(in, out, settings).Run(progress);
}

} // namespace samples
