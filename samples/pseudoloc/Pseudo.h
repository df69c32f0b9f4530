#pragma once
#include <string>

namespace samples {

// Pseudo-localises the prose of an HTML document: every text run with a
// letter in it becomes "[" + accented text + padding + "]", the padding
// ("~") growing the run by `expansionPercent` of its letters, rounded up.
// Tags, attributes, comments, scripts, styles, whitespace around the run and
// character references are left exactly as they were.
std::string PseudoLocaliseHtml(const std::string& html, long expansionPercent);

// The same for one run of text (no markup); references stay intact.
std::string PseudoLocaliseRun(const std::string& text, long expansionPercent);

} // namespace samples
