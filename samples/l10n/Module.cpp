#include "l10n/Components.h"
#include "l10n/Direction.h"
#include "vembro/kit/Module.h"

VEMBRO_KIT_CLASSES(
    vembro::kit::ConverterClass<samples::CHtmlToXliff>(samples::CLSID_HtmlToXliff, L"VembroSamples.HtmlToXliff",
                                                       L"Vembro sample: HTML to XLIFF 1.2 extraction"),
    vembro::kit::TranslatorClass<samples::CMemoryTranslator>(samples::CLSID_MemoryTranslator,
                                                             L"VembroSamples.MemoryTranslator",
                                                             L"Vembro sample: XLIFF translation from a TMX memory"),
    vembro::kit::ConverterClass<samples::CXliffToHtml>(samples::CLSID_XliffToHtml, L"VembroSamples.XliffToHtml",
                                                       L"Vembro sample: XLIFF 1.2 merge into HTML"),
    vembro::kit::ObjectClass<samples::CDirection>(samples::CLSID_Direction, L"VembroSamples.Direction",
                                                  L"Vembro sample: localisation direction"))
