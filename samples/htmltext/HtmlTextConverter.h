#pragma once
// HTML to UTF-8 plain text.
#include "common/Formats.h"
#include "vembro/kit/Converter.h"

namespace samples {

class CHtmlTextConverter : public vembro::kit::Converter<CHtmlTextConverter> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kHtml;
    static constexpr vembro::kit::FormatSpec kTarget = kUtf8Text;

    static HRESULT Detect(const std::string& head);
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
};

extern const CLSID CLSID_SampleHtmlTextConverter;

} // namespace samples
