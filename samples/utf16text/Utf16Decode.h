#pragma once
#include <string>

namespace samples {

// UTF-16 little-endian bytes (with or without the FF FE mark) as UTF-8.
// Unpaired surrogates and a dangling odd byte become U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes);

} // namespace samples
