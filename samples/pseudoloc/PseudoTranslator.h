#pragma once
// HTML to pseudo-localised HTML, for trying out a layout before any real
// translation exists. Property "EXPANSION" (percent, default 30) sets the
// growth of each text run.
#include "common/Formats.h"
#include "vembro/kit/Translator.h"

namespace samples {

class CPseudoTranslator : public vembro::kit::Translator<CPseudoTranslator> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kHtml;
    static constexpr vembro::kit::FormatSpec kTarget = kHtml;
    static constexpr long kDefaultExpansion = 30;

    static HRESULT Detect(const std::string& head);
    void Translate(IDispatch* direction, IStream* in, IStream* out, vembro::kit::Progress& progress);
};

extern const CLSID CLSID_SamplePseudoTranslator;

} // namespace samples
