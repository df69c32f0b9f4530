#pragma once
// The module lock count: every live object of the system that holds the DLL
// in memory adds one. DllCanUnloadNow reads it without a lock.
#include <windows.h>

namespace vembro {

LONG ModuleLock() noexcept;
LONG ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;

} // namespace vembro
