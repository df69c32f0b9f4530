#pragma once
// Content tests shared by the samples' detection: they look at the bytes,
// never at a file name.
#include <string>

namespace samples {

// UTF-16 little-endian byte order mark FF FE.
bool HasUtf16LeBom(const std::string& head) noexcept;
// Text that could be UTF-8 (valid up to a possibly cut last character, no NUL).
bool LooksLikeUtf8Text(const std::string& head) noexcept;
// A document that starts as HTML markup.
bool LooksLikeHtml(const std::string& head) noexcept;
// UTF-8 text with at least one Markdown construct and no leading markup.
bool LooksLikeMarkdown(const std::string& head) noexcept;

// Appends code point cp as UTF-8.
void AppendUtf8(std::string& out, unsigned long cp);

} // namespace samples
