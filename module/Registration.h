#pragma once
// Self-registration: the registration script (REGISTRY resource 102) and
// the type library carried by the module itself.
#include <windows.h>

namespace vembro {

constexpr UINT kRegistrationScriptId = 102;

// Runs the script in its writing mode, then registers the type library;
// stops at the first failure, and leaves none of the script's keys behind.
HRESULT RegisterServer_nothrow(HMODULE module) noexcept;
// Runs the script in its removing mode and unregisters the type library.
// Reports nothing: S_OK whatever was or was not there.
HRESULT UnregisterServer_nothrow(HMODULE module) noexcept;

} // namespace vembro
