#include "events/ItemSinks.h"

#include <limits>

#include "chains/TempFiles.h"

namespace vembro {

CItemListener* CItemOwner::Acquire() noexcept
{
    auto lock = m_cs.Lock();
    return m_pOwner && m_pOwner->TryAddRef() ? m_pOwner : nullptr;
}

CItemOwner::~CItemOwner()
{
    for (const auto& file : m_files)
        DeleteTempFile(file.c_str());
}

void CItemOwner::KeepFiles(std::vector<std::string> files) noexcept
{
    {
        auto lock = m_cs.Lock();
        m_files.swap(files);
    }
    // The run before: its components have had a whole run's time to finish.
    for (const auto& file : files)
        DeleteTempFile(file.c_str());
}

void CItemOwner::Clear() noexcept
{
    auto lock = m_cs.Lock();
    m_pOwner = nullptr;
}

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
