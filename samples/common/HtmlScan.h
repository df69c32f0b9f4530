#pragma once
// A forgiving HTML tokenizer for the samples: text, start and end tags, and
// everything else (comments, doctype) kept byte for byte, so that a document
// rebuilt from its tokens is the original.
#include <string>
#include <vector>

namespace samples {

struct HtmlToken {
    enum Kind { Text, StartTag, EndTag, Other } kind;
    std::string raw;   // exactly as in the document
    std::string name;  // lower-case tag name for tags
    bool script = false; // text inside <script> or <style>, not prose
};

std::vector<HtmlToken> ScanHtml(const std::string& html);

// Character references (&amp; &#233; &#xE9; and the common named ones) as
// UTF-8; unknown references are kept as written.
std::string DecodeEntities(const std::string& text);

} // namespace samples
