#include "markdown/MarkdownConverter.h"
#include "vembro/kit/Module.h"

VEMBRO_KIT_CLASSES(vembro::kit::ConverterClass<samples::CMarkdownConverter>(
    samples::CLSID_SampleMarkdownConverter, L"VembroSamples.MarkdownToHtml", L"Vembro sample: Markdown to HTML"))
