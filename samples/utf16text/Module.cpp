#include "utf16text/Utf16Converter.h"
#include "vembro/kit/Module.h"

VEMBRO_KIT_CLASSES(vembro::kit::ConverterClass<samples::CUtf16Converter>(
    samples::CLSID_SampleUtf16Converter, L"VembroSamples.Utf16ToUtf8", L"Vembro sample: UTF-16 text to UTF-8 text"))
