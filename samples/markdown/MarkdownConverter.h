#pragma once
// Markdown to HTML.
#include "common/Formats.h"
#include "vembro/kit/Converter.h"

namespace samples {

class CMarkdownConverter : public vembro::kit::Converter<CMarkdownConverter> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kMarkdown;
    static constexpr vembro::kit::FormatSpec kTarget = kHtml;

    static HRESULT Detect(const std::string& head);
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
};

extern const CLSID CLSID_SampleMarkdownConverter;

} // namespace samples
