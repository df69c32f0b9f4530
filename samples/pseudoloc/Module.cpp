#include "pseudoloc/PseudoTranslator.h"
#include "vembro/kit/Module.h"

VEMBRO_KIT_CLASSES(vembro::kit::TranslatorClass<samples::CPseudoTranslator>(
    samples::CLSID_SamplePseudoTranslator, L"VembroSamples.PseudoLocaliser", L"Vembro sample: HTML pseudo-localiser"))
