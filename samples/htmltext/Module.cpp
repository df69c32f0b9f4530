#include "htmltext/HtmlTextConverter.h"
#include "vembro/kit/Module.h"

VEMBRO_KIT_CLASSES(vembro::kit::ConverterClass<samples::CHtmlTextConverter>(
    samples::CLSID_SampleHtmlTextConverter, L"VembroSamples.HtmlToText", L"Vembro sample: HTML to UTF-8 text"))
