#pragma once
// The list of connected client sinks of a connection point: one slot per
// connection, each holding the stream into which the sink was marshalled.
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

#include "vembro/com/Resource.h"

namespace vembro {

class CComDynamicUnkArrayEx {
public:
    CComDynamicUnkArrayEx() = default;
    CComDynamicUnkArrayEx(const CComDynamicUnkArrayEx&) = delete;
    CComDynamicUnkArrayEx& operator=(const CComDynamicUnkArrayEx&) = delete;
    // Releases every stream still stored (see ReleaseSlot).
    ~CComDynamicUnkArrayEx();

    // Stores a non-null stream (the list takes it over) and answers its
    // cookie, or 0 when there is no memory for another slot (the stream then
    // stays the caller's).
    DWORD Add(IStream* stream) noexcept;
    // Takes the stream of the cookie's slot out (null for a free slot) and
    // clears the slot. FALSE for cookie 0 or a cookie beyond the slots.
    BOOL Remove(DWORD cookie, IStream** taken) noexcept;

    int GetSize() const noexcept { return m_nSize; }
    IStream** begin() noexcept { return m_nSize <= 1 ? &m_pInline : m_ppSlots; }
    IStream** end() noexcept { return begin() + m_nSize; }

    // Unmarshals the stream as IUnknown in the calling thread and releases
    // what that gives; the stream is consumed either way.
    static void ReleaseSlot(IStream* stream) noexcept;

    CriticalSection m_cs;

private:
    IStream* m_pInline = nullptr;
    IStream** m_ppSlots = nullptr;
    int m_nSize = 0;
};

} // namespace vembro
