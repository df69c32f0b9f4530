#pragma once
// A narrow correction of a written MSFT type library file in place.
#include <windows.h>

#include <cstddef>
#include <vector>

namespace vembro::tools {

// Rewrites the stored virtual-table size (cbSizeVft) of the dual interfaces
// at the given indexes. Needed for a 32-bit library made by a 64-bit
// process: LayOut takes the size of the IDispatch base from the stdole2 that
// the process has loaded, which is the 64-bit one, so every table that
// derives from IDispatch comes out 28 bytes too large. The slots themselves
// (oVft) are given explicitly and are not touched.
struct VtableSize {
    std::size_t index;
    UINT bytes;
};
void FixVtableSizes(const wchar_t* path, const std::vector<VtableSize>& sizes);

} // namespace vembro::tools
