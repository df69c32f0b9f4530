#include "vembro/com/Module.h"

namespace vembro {
namespace {
LONG volatile g_nModuleLocks = 0;
}

LONG ModuleLock() noexcept { return ::InterlockedIncrement(&g_nModuleLocks); }
LONG ModuleUnlock() noexcept { return ::InterlockedDecrement(&g_nModuleLocks); }
LONG ModuleLockCount() noexcept { return g_nModuleLocks; }

} // namespace vembro
