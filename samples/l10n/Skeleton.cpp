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

bool FromBase64(const std::wstring& text, std::string& bytes)
{
    bytes.clear();
    unsigned long group = 0;
    int bits = 0;
    for (wchar_t c : text) {
        int value = c >= L'A' && c <= L'Z'   ? c - L'A'
                    : c >= L'a' && c <= L'z' ? c - L'a' + 26
                    : c >= L'0' && c <= L'9' ? c - L'0' + 52
                    : c == L'+'              ? 62
                    : c == L'/'              ? 63
                                             : -1;
        if (c == L'=')
            break;
        if (value < 0) {
            if (c == L'\n' || c == L'\r' || c == L' ' || c == L'\t')
                continue;
            return false;
        }
        group = (group << 6) | static_cast<unsigned long>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    return true;
}

} // namespace samples::skeleton
