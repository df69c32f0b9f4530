#pragma once
// An ordered list of 16-bit format identifiers, passed by value.
#include <windows.h>
#include <vector>

namespace vembro {

class CFormatInfo;
class CFormatsInfo;
extern CFormatsInfo g_FormatsInfo;

class CFormatIDs {
public:
    int GetCount() const noexcept { return static_cast<int>(m_ids.size()); }
    bool IsEmpty() const noexcept { return m_ids.empty(); }
    // Throws ComError(E_INVALIDARG) for a position outside the list.
    short GetAt(int index) const;
    void Add(short id) { m_ids.push_back(id); }
    void RemoveAll() noexcept { m_ids.clear(); }
    // First position of id, or -1.
    short Find(short id) const noexcept;
    // Empties this list, then appends other's identifiers in order.
    void Copy(const CFormatIDs& other);
    // Appends each identifier of other that this list does not hold yet,
    // testing presence against this list as it grows.
    CFormatIDs& Append(const CFormatIDs& other);
    // With at least two identifiers and id first found at position >= 1,
    // moves it to position 0; otherwise nothing.
    CFormatIDs& MoveToFront(short id);

    // These consult a format store, the process's own unless another is
    // given (implemented with the format store).
    short IndexOfName(const char* name, CFormatsInfo& store = g_FormatsInfo) const;
    BOOL GetInfo(short index, CFormatInfo* out, CFormatsInfo& store = g_FormatsInfo) const;
    HRESULT FilterByExt(const char* ext, CFormatIDs& out, CFormatsInfo& store = g_FormatsInfo) const;
    CFormatIDs& SortComplexFirst(CFormatsInfo& store = g_FormatsInfo);

    const std::vector<short>& Items() const noexcept { return m_ids; }
    bool operator==(const CFormatIDs& other) const noexcept { return m_ids == other.m_ids; }

private:
    std::vector<short> m_ids;
};

} // namespace vembro
