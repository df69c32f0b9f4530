#pragma once
// A forgiving HTML tokenizer for the samples: text, start and end tags, and
// everything else (comments, doctype) kept byte for byte, so that a document
// rebuilt from its tokens is the original.
#include <functional>
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
// The same, one token at a time, without holding them all.
void ScanHtml(const std::string& html, const std::function<void(HtmlToken&&)>& visit);

// One attribute of a start tag: double-, single- or unquoted value, or none.
struct HtmlAttribute {
    std::string name;  // lower case
    std::string value; // as written, without the quotes (entities not decoded)
    size_t begin = 0;  // the value's span in the tag, quotes included;
    size_t end = 0;    // begin == end for an attribute without a value
};

// The attributes of a start tag's raw text ("<img src=a.png alt='A cat'>").
std::vector<HtmlAttribute> ScanAttributes(const std::string& tag);

// Character references (&amp; &#233; &#xE9; and the common named ones) as
// UTF-8; unknown references are kept as written.
std::string DecodeEntities(const std::string& text);

} // namespace samples
