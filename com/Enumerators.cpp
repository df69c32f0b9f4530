#include "vembro/com/Enumerators.h"

#include <utility>

#include "vembro/com/Object.h"

namespace vembro {
namespace {

using Microsoft::WRL::ComPtr;

// What an item of the snapshot hands to the caller of Next: a copy that
// carries its own reference.
inline void CopyOut(const ConnectionEntry& from, CONNECTDATA* to) noexcept
{
    to->pUnk = from.spUnk.Get();
    if (to->pUnk)
        to->pUnk->AddRef();
    to->dwCookie = from.dwCookie;
}

inline void CopyOut(const ComPtr<IConnectionPoint>& from, IConnectionPoint** to) noexcept
{
    *to = from.Get();
    if (*to)
        (*to)->AddRef();
}

template <class IEnum, class Item, class Stored>
class CEnumSnapshot : public CComObjectRootEx, public IEnum {
public:
    using Base = CEnumSnapshot;
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {VEMBRO_QI(CEnumSnapshot, IEnum), VEMBRO_QI_END};
        return table;
    }

    static HRESULT Create_nothrow(std::vector<Stored>&& items, size_t position, IEnum** ppEnum) noexcept
    {
        return CreateAndQuery_nothrow<CComObject<CEnumSnapshot>>(
            __uuidof(IEnum), reinterpret_cast<void**>(ppEnum), [&](CEnumSnapshot& e) {
                e.m_items = std::move(items);
                e.m_nPos = position;
                return S_OK;
            });
    }

    STDMETHODIMP Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) noexcept override
    {
        if (pceltFetched)
            *pceltFetched = 0;
        if (!rgelt || (celt != 1 && !pceltFetched))
            return E_POINTER;
        ULONG fetched = 0;
        while (fetched < celt && m_nPos < m_items.size())
            CopyOut(m_items[m_nPos++], &rgelt[fetched++]);
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }

    STDMETHODIMP Skip(ULONG celt) noexcept override
    {
        const size_t left = m_items.size() - m_nPos;
        if (celt > left) {
            m_nPos = m_items.size();
            return S_FALSE;
        }
        m_nPos += celt;
        return S_OK;
    }

    STDMETHODIMP Reset() noexcept override
    {
        m_nPos = 0;
        return S_OK;
    }

    STDMETHODIMP Clone(IEnum** ppEnum) noexcept override
    try {
        if (!ClearOut(ppEnum))
            return E_POINTER;
        return Create_nothrow(std::vector<Stored>(m_items), m_nPos, ppEnum);
    }
    VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

private:
    std::vector<Stored> m_items;
    size_t m_nPos = 0;
};

using CEnumConnections = CEnumSnapshot<IEnumConnections, CONNECTDATA, ConnectionEntry>;
using CEnumConnectionPoints = CEnumSnapshot<IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>>;

} // namespace

HRESULT CreateConnectionsEnum_nothrow(std::vector<ConnectionEntry>&& entries, IEnumConnections** ppEnum) noexcept
{
    return CEnumConnections::Create_nothrow(std::move(entries), 0, ppEnum);
}

HRESULT CreateConnectionPointsEnum_nothrow(std::vector<ComPtr<IConnectionPoint>>&& points,
                                           IEnumConnectionPoints** ppEnum) noexcept
{
    return CEnumConnectionPoints::Create_nothrow(std::move(points), 0, ppEnum);
}

} // namespace vembro
