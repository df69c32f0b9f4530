#pragma once
// A scoped hold on the recursive critical section `m_cs` of an object of
// class T. Lock and Unlock are safe to call more than once; an early return
// or a thrown failure leaves the section through the destructor.
#include <windows.h>

namespace vembro {

template <class T>
class CSLock {
public:
    explicit CSLock(T* object, bool lockNow = true) noexcept : m_pObject(object), m_bLocked(FALSE)
    {
        if (lockNow)
            Lock();
    }
    CSLock(const CSLock&) = delete;
    CSLock& operator=(const CSLock&) = delete;
    virtual ~CSLock() { Unlock(); }

    void Lock() noexcept
    {
        if (!m_bLocked) {
            m_pObject->m_cs.Enter();
            m_bLocked = TRUE;
        }
    }
    void Unlock() noexcept
    {
        if (m_bLocked) {
            m_bLocked = FALSE;
            m_pObject->m_cs.Leave();
        }
    }

private:
    T* m_pObject;
    BOOL m_bLocked;
};

} // namespace vembro
