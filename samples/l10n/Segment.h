#pragma once
// The content of an XLIFF <source>/<target> or a TMX <seg>: text with inline
// elements. Tags are opaque to matching: only their kind and position count.
#include <xmllite.h>
#include <string>
#include <vector>

#include "l10n/Xml.h"

namespace samples {

struct Piece {
    enum Kind { Text, Open, Close, Empty } kind = Text;
    std::wstring text;                      // Text; the code inside <ph>, <bpt>, <ept>...
    std::wstring name;                      // element name (g, x, bpt, ept, ph, ...)
    std::vector<xml::Attribute> attributes; // of the element
    int pair = 0;                           // Open and its Close share it
    bool container = false;                 // <g>, <mrk>, <hi>: Close ends the element

    const std::wstring* Find(const wchar_t* name) const noexcept;
};
using Segment = std::vector<Piece>;

// The content of the element at `start` of `nodes`.
Segment SegmentOf(const xml::Nodes& nodes, size_t start);
// Writes the pieces as the content of the element the writer is in.
void WriteSegment(IXmlWriter* writer, const Segment& segment);
// Writes <name [xml:lang]>content</name>.
void WriteSegmentElement(IXmlWriter* writer, const wchar_t* name, const Segment& segment, const std::wstring& lang);

// What exact matching compares: text with runs of white space made one
// space and trimmed, each tag a private-use character by its kind.
std::wstring KeyOf(const Segment& segment);
// What fuzzy matching compares: words (letter and digit runs), each other
// visible character, and each tag, of a key.
std::vector<std::wstring> TokensOf(const std::wstring& key);
bool HasText(const Segment& segment);

} // namespace samples
