#include "l10n/Xml.h"

#include <shlwapi.h>

#include "vembro/com/Error.h"
#include "vembro/com/Object.h"
#include "l10n/Errors.h"
#include "vembro/kit/Data.h"

namespace samples::xml {
namespace {

struct XmlLite {
    decltype(&::CreateXmlReader) createReader = nullptr;
    decltype(&::CreateXmlWriter) createWriter = nullptr;
    decltype(&::CreateXmlWriterOutputWithEncodingName) createOutput = nullptr;
    bool escapesAttributes = true;
};

bool WriterEscapesAttributes(const XmlLite& lite);

template <class Function>
void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Loaded once per process and never unloaded: the functions are kept.
const XmlLite& Lite()
{
    static const XmlLite lite = [] {
        XmlLite l;
        HMODULE module = ::LoadLibraryW(L"xmllite.dll");
        if (module) {
            Resolve(module, "CreateXmlReader", l.createReader);
            Resolve(module, "CreateXmlWriter", l.createWriter);
            Resolve(module, "CreateXmlWriterOutputWithEncodingName", l.createOutput);
        }
        if (l.createReader && l.createWriter && l.createOutput)
            l.escapesAttributes = WriterEscapesAttributes(l);
        return l;
    }();
    if (!lite.createReader || !lite.createWriter || !lite.createOutput)
        vembro::ThrowHr(L10N_E_NO_XMLLITE);
    return lite;
}

ComPtr<IXmlWriter> NewWriter(const XmlLite& lite, IStream* out)
{
    ComPtr<IXmlWriter> writer;
    ComPtr<IXmlWriterOutput> output;
    vembro::ThrowIfFailed(lite.createWriter(__uuidof(IXmlWriter), reinterpret_cast<void**>(writer.GetAddressOf()), nullptr));
    vembro::ThrowIfFailed(lite.createOutput(out, nullptr, L"utf-8", &output));
    vembro::ThrowIfFailed(writer->SetOutput(output.Get()));
    return writer;
}

// Some versions of the writer put '&', '<' and '"' into attribute values
// as they are, which is not well formed; ask once which kind this is.
bool WriterEscapesAttributes(const XmlLite& lite)
{
    try {
        ComPtr<IStream> probe = vembro::TakeOver(::SHCreateMemStream(nullptr, 0));
        auto writer = NewWriter(lite, vembro::ThrowIfNull(probe.Get(), E_OUTOFMEMORY));
        vembro::ThrowIfFailed(writer->WriteStartElement(nullptr, L"a", nullptr));
        vembro::ThrowIfFailed(writer->WriteAttributeString(nullptr, L"b", nullptr, L"&"));
        vembro::ThrowIfFailed(writer->WriteEndElement());
        vembro::ThrowIfFailed(writer->Flush());
        return vembro::kit::ContentOf(probe.Get()).find("&amp;") != std::string::npos;
    } catch (...) {
        return true;
    }
}

std::wstring EscapeAttribute(const std::wstring& value)
{
    std::wstring out;
    for (wchar_t c : value) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\n': out += L"&#10;"; break;
        case L'\t': out += L"&#9;"; break;
        default: out += c;
        }
    }
    return out;
}

// One of the reader's string getters, copied before the next call reuses its buffer.
std::wstring Text(IXmlReader* reader, HRESULT (STDMETHODCALLTYPE IXmlReader::*get)(const WCHAR**, UINT*))
{
    const WCHAR* text = nullptr;
    UINT length = 0;
    HRESULT hr = (reader->*get)(&text, &length);
    return SUCCEEDED(hr) && text ? std::wstring(text, length) : std::wstring();
}

// Hands the reader its input in reads that end between UTF-8 characters:
// some versions of the reader garble a character that a read cuts in two
// (seen as U+FFFD U+FFFD every few kilobytes of a large document). UTF-16
// input, marked by its byte order mark, passes through as it is.
class WholeCharacters : public vembro::CComObjectRootEx, public ISequentialStream {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(WholeCharacters, ISequentialStream),
            VEMBRO_QI_END,
        };
        return table;
    }

    void Init(IStream* in) noexcept { m_in = in; }

    STDMETHODIMP Write(const void*, ULONG, ULONG*) noexcept override { return STG_E_ACCESSDENIED; }

    // Lets go of the input; later reads find its end.
    void Close() noexcept { m_in.Reset(); }

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override
    {
        if (pcbRead)
            *pcbRead = 0;
        if (!pv)
            return STG_E_INVALIDPOINTER;
        auto* out = static_cast<unsigned char*>(pv);
        ULONG n = 0;
        while (n < cb && n < m_carry.size()) {
            out[n] = m_carry[n];
            ++n;
        }
        m_carry.erase(0, n);
        ULONG got = 0;
        HRESULT hr = n < cb && m_in ? m_in->Read(out + n, cb - n, &got) : S_FALSE;
        if (FAILED(hr))
            return hr;
        n += got;
        if (m_bFirst && n >= 2 && ((out[0] == 0xFF && out[1] == 0xFE) || (out[0] == 0xFE && out[1] == 0xFF)))
            m_bUtf8 = false;
        m_bFirst = false;
        if (m_bUtf8 && got > 0 && n == cb && cb > 4) {
            // Keep back the start of a character whose last bytes are still to come.
            ULONG lead = n;
            while (lead > n - 4 && (out[lead - 1] & 0xC0) == 0x80)
                --lead;
            if (lead > 0 && out[lead - 1] >= 0xC0) {
                unsigned char first = out[lead - 1];
                ULONG length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
                if (n - (lead - 1) < length) {
                    m_carry.assign(reinterpret_cast<char*>(out + lead - 1), n - (lead - 1));
                    n = lead - 1;
                }
            }
        }
        if (pcbRead)
            *pcbRead = n;
        return n == 0 ? hr : S_OK; // the end as the stream itself reports it
    }

private:
    ComPtr<IStream> m_in;
    std::string m_carry;
    bool m_bFirst = true;
    bool m_bUtf8 = true;
};

} // namespace

Reader::Reader(IStream* in)
{
    vembro::ThrowIfFailed(Lite().createReader(__uuidof(IXmlReader), reinterpret_cast<void**>(m_reader.GetAddressOf()), nullptr));
    vembro::ThrowIfFailed(m_reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit));
    vembro::ThrowIfFailed(vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<WholeCharacters>>(
        IID_ISequentialStream, reinterpret_cast<void**>(m_input.GetAddressOf()), [in](WholeCharacters& w) {
            w.Init(in);
            return S_OK;
        }));
    vembro::ThrowIfFailed(m_reader->SetInput(m_input.Get()));
}

Reader::~Reader()
{
    // Some versions of the reader keep a reference to their input after a
    // parse error; the document's stream (an open file) is let go here
    // whatever the reader does.
    m_reader->SetInput(nullptr);
    static_cast<WholeCharacters*>(m_input.Get())->Close();
}

ComPtr<IXmlWriter> OpenWriter(IStream* out)
{
    auto writer = NewWriter(Lite(), out);
    Check(writer->WriteStartDocument(XmlStandalone_Omit));
    return writer;
}

bool Reader::Next(XmlNodeType& type)
{
    HRESULT hr = m_reader->Read(&type);
    if (hr == S_OK) {
        if (type == XmlNodeType_Element && !m_reader->IsEmptyElement())
            ++m_nDepth;
        else if (type == XmlNodeType_EndElement)
            --m_nDepth;
        return true;
    }
    if (hr == S_FALSE) {
        if (m_nDepth != 0)
            vembro::ThrowHr(L10N_E_MALFORMED_XML);
        return false;
    }
    const auto code = static_cast<unsigned long>(hr);
    if ((code >= MX_E_ENCODING && code <= MX_E_ENCODINGSIGNATURE) || code == WC_E_ENCNAME)
        vembro::ThrowHr(L10N_E_UNKNOWN_ENCODING);
    if ((code & 0xFFFFFF00UL) == 0xC00CEE00UL)
        vembro::ThrowHr(L10N_E_MALFORMED_XML);
    vembro::ThrowHr(hr); // the stream's own failure
}

void Check(HRESULT hr)
{
    vembro::ThrowIfFailed(hr);
}

const std::wstring* Node::Find(const wchar_t* localName, const wchar_t* prefixName) const noexcept
{
    for (const auto& a : attributes)
        if (a.local == localName && a.prefix == prefixName)
            return &a.value;
    return nullptr;
}

Node Current(IXmlReader* reader)
{
    Node node;
    vembro::ThrowIfFailed(reader->GetNodeType(&node.type));
    node.prefix = Text(reader, &IXmlReader::GetPrefix);
    node.local = Text(reader, &IXmlReader::GetLocalName);
    if (node.type != XmlNodeType_Element) {
        node.value = Text(reader, &IXmlReader::GetValue);
        return node;
    }
    node.empty = reader->IsEmptyElement() != FALSE;
    for (HRESULT hr = reader->MoveToFirstAttribute(); hr == S_OK; hr = reader->MoveToNextAttribute()) {
        Attribute a;
        a.prefix = Text(reader, &IXmlReader::GetPrefix);
        a.local = Text(reader, &IXmlReader::GetLocalName);
        a.value = Text(reader, &IXmlReader::GetValue);
        node.attributes.push_back(std::move(a));
    }
    reader->MoveToElement();
    return node;
}

Nodes Capture(Reader& reader)
{
    Nodes nodes{Current(reader.Get())};
    if (nodes.front().empty)
        return nodes;
    int depth = 1;
    XmlNodeType type;
    while (depth > 0) {
        if (!reader.Next(type))
            vembro::ThrowHr(L10N_E_MALFORMED_XML);
        nodes.push_back(Current(reader.Get()));
        if (type == XmlNodeType_Element && !nodes.back().empty)
            ++depth;
        else if (type == XmlNodeType_EndElement)
            --depth;
    }
    return nodes;
}

size_t EndOf(const Nodes& nodes, size_t start) noexcept
{
    if (nodes[start].type != XmlNodeType_Element || nodes[start].empty)
        return start;
    int depth = 0;
    for (size_t i = start; i < nodes.size(); ++i) {
        if (nodes[i].type == XmlNodeType_Element && !nodes[i].empty)
            ++depth;
        else if (nodes[i].type == XmlNodeType_EndElement && --depth == 0)
            return i;
    }
    return nodes.size() - 1;
}

std::wstring TextOf(const Nodes& nodes, size_t start)
{
    std::wstring text;
    for (size_t i = start + 1, end = EndOf(nodes, start); i < end; ++i)
        if (nodes[i].type == XmlNodeType_Text || nodes[i].type == XmlNodeType_CDATA ||
            nodes[i].type == XmlNodeType_Whitespace)
            text += nodes[i].value;
    return text;
}

void WriteAttribute(IXmlWriter* writer, const wchar_t* prefix, const wchar_t* name, const std::wstring& value)
{
    const std::wstring written = Lite().escapesAttributes ? value : EscapeAttribute(value);
    Check(writer->WriteAttributeString(prefix && *prefix ? prefix : nullptr, name, nullptr, written.c_str()));
}

void StartElement(IXmlWriter* writer, const wchar_t* name)
{
    Check(writer->WriteStartElement(nullptr, name, nullptr));
}

void Write(IXmlWriter* writer, const Node& node)
{
    switch (node.type) {
    case XmlNodeType_Element:
        Check(writer->WriteStartElement(node.prefix.empty() ? nullptr : node.prefix.c_str(), node.local.c_str(), nullptr));
        for (const auto& a : node.attributes)
            WriteAttribute(writer, a.prefix.c_str(), a.local.c_str(), a.value);
        if (node.empty)
            Check(writer->WriteEndElement());
        break;
    case XmlNodeType_EndElement: Check(writer->WriteFullEndElement()); break;
    case XmlNodeType_Text: Check(writer->WriteString(node.value.c_str())); break;
    case XmlNodeType_CDATA: Check(writer->WriteCData(node.value.c_str())); break;
    // Some versions of the writer refuse WriteWhitespace after an end tag;
    // the same characters as text are the same document.
    case XmlNodeType_Whitespace: Check(writer->WriteString(node.value.c_str())); break;
    case XmlNodeType_Comment: Check(writer->WriteComment(node.value.c_str())); break;
    case XmlNodeType_ProcessingInstruction:
        Check(writer->WriteProcessingInstruction(node.local.c_str(), node.value.c_str()));
        break;
    default: break; // the declaration is the writer's own; DTDs are refused on reading
    }
}

void WriteAll(IXmlWriter* writer, const Nodes& nodes, size_t begin, size_t end)
{
    for (size_t i = begin; i < end; ++i)
        Write(writer, nodes[i]);
}

} // namespace samples::xml
