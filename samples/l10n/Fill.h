#pragma once
// XLIFF 1.2 -> XLIFF 1.2: fills each unit without a target from a
// translation memory. Everything else of the file is copied as it was.
#include <objidl.h>
#include <string>

#include "vembro/kit/Runner.h"

namespace samples {

struct FillSettings {
    std::wstring memory;         // TMX file
    std::wstring sourceLanguage; // empty: the file's, else the memory's
    std::wstring targetLanguage; // empty: the file's
    int threshold = 85;          // lowest fuzzy match, percent
};

// An exact match gives <target state="translated">; a fuzzy one
// <target state="needs-review-translation"> and an <alt-trans> with the
// memory's unit and its match-quality; a unit without a match is left as
// it was. Progress is reported after every unit.
void FillXliff(IStream* in, IStream* out, vembro::kit::Progress& progress, const FillSettings& settings);

} // namespace samples
