#include "events/SinkList.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace vembro {

CComDynamicUnkArrayEx::~CComDynamicUnkArrayEx()
{
    for (IStream* stream : *this) {
        if (stream)
            ReleaseSlot(stream);
    }
    std::free(m_ppSlots);
}

DWORD CComDynamicUnkArrayEx::Add(IStream* stream) noexcept
{
    if (m_nSize == 0) {
        m_pInline = stream;
        m_nSize = 1;
        return 1;
    }
    if (m_nSize == 1) {
        // A single slot is never free (removing it empties the list), so the
        // heap array is needed before searching.
        auto** slots = static_cast<IStream**>(std::calloc(4, sizeof(IStream*)));
        if (!slots)
            return 0;
        slots[0] = m_pInline;
        m_pInline = nullptr;
        m_ppSlots = slots;
        m_nSize = 4;
    }
    for (int i = 0; i < m_nSize; ++i) {
        if (!m_ppSlots[i]) {
            m_ppSlots[i] = stream;
            return static_cast<DWORD>(i) + 1;
        }
    }
    if (m_nSize > INT_MAX / 2 || static_cast<size_t>(m_nSize) * 2 > SIZE_MAX / sizeof(IStream*))
        return 0;
    const int grown = m_nSize * 2;
    auto** slots = static_cast<IStream**>(std::realloc(m_ppSlots, static_cast<size_t>(grown) * sizeof(IStream*)));
    if (!slots)
        return 0;
    std::memset(slots + m_nSize, 0, static_cast<size_t>(m_nSize) * sizeof(IStream*));
    const int index = m_nSize;
    m_ppSlots = slots;
    m_nSize = grown;
    m_ppSlots[index] = stream;
    return static_cast<DWORD>(index) + 1;
}

BOOL CComDynamicUnkArrayEx::Remove(DWORD cookie, IStream** taken) noexcept
{
    *taken = nullptr;
    if (cookie == 0 || cookie > static_cast<DWORD>(m_nSize))
        return FALSE;
    if (m_nSize == 1) {
        *taken = m_pInline;
        m_pInline = nullptr;
        m_nSize = 0;
        return TRUE;
    }
    IStream*& slot = m_ppSlots[cookie - 1];
    *taken = slot;
    slot = nullptr;
    return TRUE;
}

void CComDynamicUnkArrayEx::ReleaseSlot(IStream* stream) noexcept
{
    IUnknown* unk = nullptr;
    if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&unk))) && unk)
        unk->Release();
}

} // namespace vembro
