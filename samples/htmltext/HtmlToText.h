#pragma once
#include <string>

namespace samples {

// The readable text of an HTML document as UTF-8 lines: the head, scripts
// and styles are left out, blocks are separated by a blank line, list items
// start with "- " (or their number), <br> breaks a line, whitespace is
// collapsed outside <pre>, and character references are decoded.
std::string HtmlToText(const std::string& html);

} // namespace samples
