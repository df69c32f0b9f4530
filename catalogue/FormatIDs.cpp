// The plain list operations of CFormatIDs; the ones that consult the format
// store live with the store (FormatsInfo.cpp).
#include "catalogue/FormatIDs.h"

#include <algorithm>

#include "vembro/com/Error.h"

namespace vembro {

short CFormatIDs::GetAt(int index) const
{
    if (index < 0 || index >= GetCount())
        ThrowHr(E_INVALIDARG);
    return m_ids[static_cast<size_t>(index)];
}

short CFormatIDs::Find(short id) const noexcept
{
    auto it = std::find(m_ids.begin(), m_ids.end(), id);
    return it == m_ids.end() ? static_cast<short>(-1) : static_cast<short>(it - m_ids.begin());
}

void CFormatIDs::Copy(const CFormatIDs& other)
{
    if (this != &other)
        m_ids = other.m_ids;
}

CFormatIDs& CFormatIDs::Append(const CFormatIDs& other)
{
    if (this == &other)
        return *this;
    // Presence is tested against this list as it grows, so a value that
    // `other` holds twice is appended once.
    for (short id : other.m_ids)
        if (std::find(m_ids.begin(), m_ids.end(), id) == m_ids.end())
            m_ids.push_back(id);
    return *this;
}

CFormatIDs& CFormatIDs::MoveToFront(short id)
{
    if (m_ids.size() < 2)
        return *this;
    auto it = std::find(m_ids.begin(), m_ids.end(), id);
    if (it != m_ids.end() && it != m_ids.begin())
        std::rotate(m_ids.begin(), it, it + 1);
    return *this;
}

} // namespace vembro
