#pragma once
// A planned route: two or three steps, exactly one of them a real translator.
#include <windows.h>
#include <memory>
#include <vector>

#include "catalogue/FormatIDs.h"
#include "catalogue/FormatMap.h"

namespace vembro {

enum { CHAINITEM_CONVERTER = 0, CHAINITEM_TRANSLATOR = 1 };

struct CChainItem {
    short m_nSource = -1;
    short m_nTarget = -1;
    LONG m_nType = -1;

    CChainItem() = default;
    CChainItem(short source, short target, LONG type) noexcept : m_nSource(source), m_nTarget(target), m_nType(type) {}
    bool operator==(const CChainItem& o) const noexcept
    {
        return m_nSource == o.m_nSource && m_nTarget == o.m_nTarget && m_nType == o.m_nType;
    }
};

class CChain {
public:
    int GetSize() const noexcept { return static_cast<int>(m_items.size()); }
    bool IsEmpty() const noexcept { return m_items.empty(); }
    const CChainItem& GetAt(int i) const { return m_items.at(static_cast<size_t>(i)); }
    const CChainItem& operator[](int i) const { return GetAt(i); }
    void Add(const CChainItem& item) { m_items.push_back(item); }
    void RemoveAll() noexcept { m_items.clear(); }
    bool operator==(const CChain& o) const noexcept { return m_items == o.m_items; }
    const std::vector<CChainItem>& Items() const noexcept { return m_items; }

private:
    std::vector<CChainItem> m_items;
};

class CTgtChains : public CFormatMap<CChain> {
public:
    HRESULT SetChain(short tgt, const CChain& chain) noexcept;
};

class CPairChains : public CFormatMap<std::unique_ptr<CTgtChains>> {
public:
    HRESULT SetChain(short src, short tgt, const CChain& chain) noexcept;
    BOOL GetChain(short src, short tgt, CChain& out) const;
    BOOL HasChain(short src, short tgt) const;
    void GetSourceIDs(CFormatIDs& out) const;
    void GetTargetIDs(short src, CFormatIDs& out) const;
};

} // namespace vembro
