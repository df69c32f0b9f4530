#pragma once
// UTF-16 text (little-endian, FF FE) to UTF-8 text.
#include "common/Formats.h"
#include "vembro/kit/Converter.h"

namespace samples {

class CUtf16Converter : public vembro::kit::Converter<CUtf16Converter> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kUtf16Text;
    static constexpr vembro::kit::FormatSpec kTarget = kUtf8Text;

    static HRESULT Detect(const std::string& head);
    // A BSTR is UTF-16 already: its code units are the source bytes.
    static std::string TextToSource(const std::wstring& text);
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
};

extern const CLSID CLSID_SampleUtf16Converter;

} // namespace samples
