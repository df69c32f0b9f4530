#pragma once
// HTML -> XLIFF 1.2: one trans-unit per block of prose (the text between
// block-level tags, inline elements kept as <g>/<x>), one per title and alt
// attribute; scripts, styles and comments stay in the embedded skeleton.
#include <objidl.h>
#include <string>

#include "vembro/kit/Runner.h"

namespace samples {

// `original` names the document in <file original>.
void ExtractXliff(IStream* in, IStream* out, vembro::kit::Progress& progress, const std::wstring& original);

// The document's bytes as UTF-8 from UTF-8 (with or without a byte order
// mark) or UTF-16 with a mark; `encoding` says which. A declared charset
// other than these, or bytes in none of them, is L10N_E_UNKNOWN_ENCODING.
// `head`: the bytes are only the document's beginning, cut anywhere.
std::string HtmlAsUtf8(const std::string& bytes, std::wstring& encoding, bool head = false);

} // namespace samples
