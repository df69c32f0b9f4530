#pragma once
// The three localisation components: HTML -> XLIFF (extraction), XLIFF ->
// XLIFF (translation memory), XLIFF -> HTML (merge).
#include "common/Formats.h"
#include "vembro/kit/Converter.h"
#include "vembro/kit/Translator.h"

namespace samples {

class CHtmlToXliff : public vembro::kit::Converter<CHtmlToXliff> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kHtml;
    static constexpr vembro::kit::FormatSpec kTarget = kXliff;
    static HRESULT Detect(const std::string& head);
    // The page's encoding, so that a chain's client gets its code.
    static HRESULT CheckHead(const std::string& head);
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
};

// Properties: "MEMORY" (a TMX file; else the Direction's Memory) and
// "FUZZY" (the lowest fuzzy match in percent, 1 to 100, default 85).
class CMemoryTranslator : public vembro::kit::Translator<CMemoryTranslator> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kXliff;
    static constexpr vembro::kit::FormatSpec kTarget = kXliff;
    static constexpr long kDefaultFuzzy = 85;
    static HRESULT Detect(const std::string& head);
    void Translate(IDispatch* direction, IStream* in, IStream* out, vembro::kit::Progress& progress);
};

class CXliffToHtml : public vembro::kit::Converter<CXliffToHtml> {
public:
    static constexpr vembro::kit::FormatSpec kSource = kXliff;
    static constexpr vembro::kit::FormatSpec kTarget = kHtml;
    static HRESULT Detect(const std::string& head);
    // An XLIFF version other than 1.2, refused before the run starts.
    static HRESULT CheckHead(const std::string& head);
    void Convert(IStream* in, IStream* out, vembro::kit::Progress& progress);
};

// Any XLIFF (UTF-8 or UTF-16): the runs themselves refuse versions other
// than 1.2 with their own error.
bool LooksLikeXliff(const std::string& head);

extern const CLSID CLSID_HtmlToXliff, CLSID_MemoryTranslator, CLSID_XliffToHtml;

} // namespace samples
