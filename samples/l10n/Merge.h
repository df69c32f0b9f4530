#pragma once
// XLIFF 1.2 (as the extraction writes it) -> HTML: the embedded skeleton
// with each unit's target, or its source where it has none, in the
// document's own encoding; <html lang> becomes the target language.
#include <objidl.h>

#include "vembro/kit/Runner.h"

namespace samples {

void MergeXliff(IStream* in, IStream* out, vembro::kit::Progress& progress);

} // namespace samples
