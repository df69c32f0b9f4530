#pragma once
// The module lock count: every live object of the system that holds the DLL
// in memory adds one. DllCanUnloadNow reads it without a lock.
#include <windows.h>

namespace vembro {

inline LONG volatile g_nModuleLocks = 0;

inline LONG ModuleLock() noexcept { return ::InterlockedIncrement(&g_nModuleLocks); }
inline LONG ModuleUnlock() noexcept { return ::InterlockedDecrement(&g_nModuleLocks); }
inline LONG ModuleLockCount() noexcept { return g_nModuleLocks; }

} // namespace vembro
