#include "utf16text/Utf16Decode.h"

#include "common/Sniff.h"

namespace samples {

std::string Utf16LeToUtf8(const std::string& bytes)
{
    auto unit = [&](size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    std::string out;
    out.reserve(bytes.size());
    size_t i = HasUtf16LeBom(bytes) ? 2 : 0;
    while (i + 1 < bytes.size()) {
        unsigned u = unit(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
            unsigned low = unit(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        AppendUtf8(out, u); // lone surrogates come out as U+FFFD
    }
    if (i < bytes.size())
        AppendUtf8(out, 0xFFFD);
    return out;
}

} // namespace samples
