#pragma once
// The skeleton that the extraction embeds in the XLIFF file: the HTML
// document with each unit replaced by a marker made of private-use
// characters, which no text that people read contains:
//
//   U+E000 id U+E001                      an attribute unit (quotes included)
//   U+E000 id U+E002 codes U+E001         a block unit and the tags of its
//                                         inline elements; codes are
//                                         separated by U+E003, the opening
//                                         and closing tag of one <g> by U+E004
//   U+E000 "L" U+E001                     the value of <html lang>
//   U+E000 "~" c U+E001                   a literal c from U+E000 to U+E004
//
// Codes may contain attribute-unit markers (an <img alt> inside a paragraph).
#include <string>

namespace samples::skeleton {

// The skeleton travels as base64 of its UTF-8 (<internal-file form="base64">):
// it is mostly markup, which as XML text would be escaped reference by
// reference, and some XML readers garble or fail on character data of many
// megabytes with references or multi-byte characters in it.
std::string Base64(const std::string& bytes);
// Decodes base64 as it arrives, in pieces of any size. Line breaks and
// spaces are skipped; false when the text is not base64.
class Base64Decoder {
public:
    bool Feed(const wchar_t* text, size_t length, std::string& bytes);

private:
    unsigned long m_group = 0;
    int m_nBits = 0;
    bool m_bEnded = false; // after '='
};

inline constexpr wchar_t kBegin = 0xE000, kEnd = 0xE001, kCodes = 0xE002, kNextCode = 0xE003, kCloseCode = 0xE004;
inline constexpr wchar_t kLanguage = L'L', kLiteral = L'~';

inline bool IsMarkerChar(wchar_t c) noexcept
{
    return c >= kBegin && c <= kCloseCode;
}

// Appends document text, escaping the marker characters.
inline void AppendLiteral(std::wstring& out, const std::wstring& text)
{
    for (wchar_t c : text) {
        if (IsMarkerChar(c)) {
            out += kBegin;
            out += kLiteral;
            out += c;
            out += kEnd;
        } else {
            out += c;
        }
    }
}

} // namespace samples::skeleton
