#include "events/ItemSinks.h"

#include <limits>

namespace vembro {

bool ScaleChainProgress(LONG item, LONG items, LONG progress, LONG maxProgress, LONG& scaled,
                        LONG& scaledMax) noexcept
{
    if (maxProgress <= 0)
        return false;
    auto fits = [](LONGLONG v) {
        return v >= std::numeric_limits<LONG>::min() && v <= std::numeric_limits<LONG>::max();
    };
    const LONGLONG product = static_cast<LONGLONG>(progress) * 100;
    if (!fits(product))
        return false;
    // Both operands fit in 32 bits, so this is the 32-bit quotient,
    // truncated toward zero.
    const LONGLONG value = static_cast<LONGLONG>(item) * 100 + product / maxProgress;
    const LONGLONG total = static_cast<LONGLONG>(items) * 100;
    if (!fits(value) || !fits(total))
        return false;
    scaled = static_cast<LONG>(value);
    scaledMax = static_cast<LONG>(total);
    return true;
}

} // namespace vembro
