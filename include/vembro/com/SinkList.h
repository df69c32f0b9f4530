#pragma once
// The list of connected sinks of a connection point: one slot per
// connection, holding either the stream into which the sink was marshalled
// (SinkSlots<IStream>) or a reference to the sink itself (SinkSlots<IUnknown>).
//
// A cookie is the 1-based index of its slot. Slots never move and are never
// compacted, so a cookie stays valid until it is unadvised. Storage: one
// inline slot while there is at most one, then a heap array of 4 slots that
// doubles (new half zeroed) whenever no slot is free.
//
// The list does not lock by itself: every caller holds m_cs while it reads or
// writes slots.
#include <windows.h>
#include <objidl.h>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "vembro/com/Resource.h"

namespace vembro {

template <class Slot>
class SinkSlots {
public:
    SinkSlots() = default;
    SinkSlots(const SinkSlots&) = delete;
    SinkSlots& operator=(const SinkSlots&) = delete;
    // Releases every slot still stored (see ReleaseSlot).
    ~SinkSlots()
    {
        for (Slot* slot : *this) {
            if (slot)
                ReleaseSlot(slot);
        }
        std::free(m_ppSlots);
    }

    // Stores a non-null slot (the list takes it over) and answers its
    // cookie, or 0 when there is no memory for another slot (the slot then
    // stays the caller's).
    DWORD Add(Slot* slot) noexcept
    {
        if (m_nSize == 0) {
            m_pInline = slot;
            m_nSize = 1;
            return 1;
        }
        if (m_nSize == 1) {
            // A single slot is never free (removing it empties the list), so
            // the heap array is needed before searching.
            auto** slots = static_cast<Slot**>(std::calloc(4, sizeof(Slot*)));
            if (!slots)
                return 0;
            slots[0] = m_pInline;
            m_pInline = nullptr;
            m_ppSlots = slots;
            m_nSize = 4;
        }
        for (int i = 0; i < m_nSize; ++i) {
            if (!m_ppSlots[i]) {
                m_ppSlots[i] = slot;
                return static_cast<DWORD>(i) + 1;
            }
        }
        if (m_nSize > INT_MAX / 2 || static_cast<size_t>(m_nSize) * 2 > SIZE_MAX / sizeof(Slot*))
            return 0;
        const int grown = m_nSize * 2;
        auto** slots = static_cast<Slot**>(std::realloc(m_ppSlots, static_cast<size_t>(grown) * sizeof(Slot*)));
        if (!slots)
            return 0;
        std::memset(slots + m_nSize, 0, static_cast<size_t>(m_nSize) * sizeof(Slot*));
        const int index = m_nSize;
        m_ppSlots = slots;
        m_nSize = grown;
        m_ppSlots[index] = slot;
        return static_cast<DWORD>(index) + 1;
    }

    // Takes the cookie's slot out (null for a free slot) and clears it.
    // FALSE for cookie 0 or a cookie beyond the slots.
    BOOL Remove(DWORD cookie, Slot** taken) noexcept
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
        *taken = m_ppSlots[cookie - 1];
        m_ppSlots[cookie - 1] = nullptr;
        return TRUE;
    }

    int GetSize() const noexcept { return m_nSize; }
    Slot** begin() noexcept { return m_nSize <= 1 ? &m_pInline : m_ppSlots; }
    Slot** end() noexcept { return begin() + m_nSize; }

    // Lets go of a slot taken out of the list. A stream is unmarshalled as
    // IUnknown in the calling thread and what that gives released; the
    // stream is consumed either way.
    static void ReleaseSlot(Slot* slot) noexcept
    {
        if constexpr (std::is_same_v<Slot, IStream>) {
            IUnknown* unk = nullptr;
            if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(slot, IID_IUnknown, reinterpret_cast<void**>(&unk))) && unk)
                unk->Release();
        } else {
            slot->Release();
        }
    }

    CriticalSection m_cs;

private:
    Slot* m_pInline = nullptr;
    Slot** m_ppSlots = nullptr;
    int m_nSize = 0;
};

} // namespace vembro
