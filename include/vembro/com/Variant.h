#pragma once
#include <windows.h>
#include <oleauto.h>

namespace vembro {

// The one way in which the system copies a VARIANT argument before it looks
// at its type: by-reference values dereferenced, R4/R8/UI4/INT/UINT widened
// to I4 and I1/UI1/UI2 to I2 with the platform's conversion rules (rounding,
// DISP_E_OVERFLOW passed on). dst must be initialised; the caller clears it.
HRESULT NormalizeVariant(const VARIANT* src, VARIANT* dst) noexcept;

} // namespace vembro
