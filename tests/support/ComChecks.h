#pragma once
// What COM tests check again and again: an object's reference count, and a
// poisoned output that a failing call must clear.
#include <windows.h>
#include <unknwn.h>

namespace comtest {

// A value no call hands out, for outputs that must be overwritten.
inline void* const kPoison = reinterpret_cast<void*>(static_cast<UINT_PTR>(0xBAADF00D));

inline ULONG RefCount(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

} // namespace comtest
