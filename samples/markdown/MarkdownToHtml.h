#pragma once
#include <string>

namespace samples {

// The common core of Markdown as a complete UTF-8 HTML document: ATX
// headings, paragraphs, "-"/"*"/"+" and numbered lists, block quotes, fenced
// code, rules, and inline code, strong, emphasis and links. The first
// heading becomes the title.
std::string MarkdownToHtml(const std::string& markdown);

// Markdown inline markup of one line of text as HTML, with &, <, > and "
// escaped.
std::string MarkdownInline(const std::string& text);

std::string EscapeHtml(const std::string& text);

} // namespace samples
