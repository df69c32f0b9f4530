#pragma once
// XLIFF and TMX go through the platform's streaming XML reader and writer
// (xmllite.dll). MinGW ships its header but no import library, so the two
// creation functions are looked up at run time, which serves both
// architectures alike.
#include <windows.h>
#include <xmllite.h>
#include <wrl/client.h>
#include <string>
#include <utility>
#include <vector>

namespace samples::xml {

using Microsoft::WRL::ComPtr;

// A reader on `in` that refuses DTDs; the encoding comes from the document.
class Reader {
public:
    explicit Reader(IStream* in);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // Reads the next node; false at the end of the document. A reader
    // failure becomes L10N_E_UNKNOWN_ENCODING or L10N_E_MALFORMED_XML, and
    // so does a document that ends inside an element (which some versions
    // of the reader report as a normal end).
    bool Next(XmlNodeType& type);
    IXmlReader* Get() const noexcept { return m_reader.Get(); }

private:
    ComPtr<IXmlReader> m_reader;
    ComPtr<ISequentialStream> m_input; // the document, read in whole characters
    int m_nDepth = 0;
};
// A writer of UTF-8 with an XML declaration and indentation.
ComPtr<IXmlWriter> OpenWriter(IStream* out);

// Throws the writer's failure.
void Check(HRESULT hr);

struct Attribute {
    std::wstring prefix, local, value;
};

// One node of a captured subtree: an element start (with its attributes),
// an end, or character data (text, CDATA, whitespace, comment, PI).
struct Node {
    XmlNodeType type = XmlNodeType_None;
    std::wstring prefix, local, value;
    std::vector<Attribute> attributes;
    bool empty = false; // an element written as <x/>: no EndElement follows

    const std::wstring* Find(const wchar_t* localName, const wchar_t* prefixName = L"") const noexcept;
};
using Nodes = std::vector<Node>;

// The reader's current node, attributes included.
Node Current(IXmlReader* reader);
// The current element and everything up to its end, reading on.
Nodes Capture(Reader& reader);
// Index of the EndElement that closes the element at `start` (start itself
// for an empty element or any other node).
size_t EndOf(const Nodes& nodes, size_t start) noexcept;
// Text content of the element at `start` (text, CDATA and whitespace).
std::wstring TextOf(const Nodes& nodes, size_t start);

void Write(IXmlWriter* writer, const Node& node);
void WriteAll(IXmlWriter* writer, const Nodes& nodes, size_t begin, size_t end);
void StartElement(IXmlWriter* writer, const wchar_t* name);
// Escapes the value itself where the platform's writer would not.
void WriteAttribute(IXmlWriter* writer, const wchar_t* prefix, const wchar_t* name, const std::wstring& value);

} // namespace samples::xml
