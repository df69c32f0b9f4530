#pragma once
// Narrow corrections of a written MSFT type library file, for the two places
// where the platform's ICreateTypeLib2 (Wine's, in a 64-bit process) stores
// something other than the published library needs:
// - LayOut takes the table size of the IDispatch base from the stdole2 that
//   the process has loaded, the 64-bit one, so in a 32-bit library every
//   interface table (cbSizeVft) comes out 28 bytes too large. The slots
//   themselves (oVft) are given explicitly and are right.
// - An enumeration of a 64-bit library gets the size of a pointer
//   (cbSizeInstance 8), while the enumerations are 32-bit.
#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <vector>

namespace vembro::tools {

class MsftFile {
public:
    explicit MsftFile(const wchar_t* path);

    void SetVtableSize(std::size_t index, UINT bytes);  // dual interfaces only
    void SetInstanceSize(std::size_t index, UINT bytes); // enumerations only
    void Save() const;

private:
    std::size_t Record(std::size_t index, TYPEKIND kind) const;

    const wchar_t* m_path;
    std::vector<char> m_data;
    std::size_t m_types = 0;
    std::size_t m_table = 0;
};

} // namespace vembro::tools
