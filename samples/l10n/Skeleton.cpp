#include "l10n/Skeleton.h"

namespace samples::skeleton {
namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64(const std::string& bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4 + bytes.size() / 57);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned long group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
        if (i % 57 == 54)
            out += '\n'; // lines of 76 characters
    }
    return out;
}

bool Base64Decoder::Feed(const wchar_t* text, size_t length, std::string& bytes)
{
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = text[i];
        if (c == L'\n' || c == L'\r' || c == L' ' || c == L'\t')
            continue;
        if (c == L'=')
            m_bEnded = true;
        if (m_bEnded)
            continue;
        int value = c >= L'A' && c <= L'Z'   ? c - L'A'
                    : c >= L'a' && c <= L'z' ? c - L'a' + 26
                    : c >= L'0' && c <= L'9' ? c - L'0' + 52
                    : c == L'+'              ? 62
                    : c == L'/'              ? 63
                                             : -1;
        if (value < 0)
            return false;
        m_group = ((m_group << 6) | static_cast<unsigned long>(value)) & 0xFFFFFF;
        m_nBits += 6;
        if (m_nBits >= 8) {
            m_nBits -= 8;
            bytes += static_cast<char>((m_group >> m_nBits) & 0xFF);
        }
    }
    return true;
}

} // namespace samples::skeleton
