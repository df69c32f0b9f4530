#pragma once
// The formats of the sample components. Identifiers are chosen so that the
// only way from Markdown to text is a chain: Markdown -> HTML (converter),
// HTML -> HTML (the pseudo-localiser), HTML -> UTF-8 text (converter).
// XLIFF is the localisation components' exchange format: HTML -> XLIFF
// (extraction), XLIFF -> XLIFF (translation memory), XLIFF -> HTML (merge).
#include "vembro/kit/Format.h"

namespace samples {

inline constexpr vembro::kit::FormatSpec kUtf16Text{101, L"UTF-16 Text", L"txt", L"txt", false};
inline constexpr vembro::kit::FormatSpec kUtf8Text{102, L"UTF-8 Text", L"txt", L"txt", false};
inline constexpr vembro::kit::FormatSpec kMarkdown{103, L"Markdown", L"md", L"md.markdown", false};
inline constexpr vembro::kit::FormatSpec kHtml{104, L"HTML", L"htm", L"htm.html", true};
inline constexpr vembro::kit::FormatSpec kXliff{105, L"XLIFF 1.2", L"xlf", L"xlf.xliff", true};

} // namespace samples
