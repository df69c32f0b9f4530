// The enumerator behind IConnectionPointContainer::EnumConnectionPoints: a
// fixed list of points, each handed out with a reference.
#include "vembro/kit/EventSource.h"

#include "vembro/com/Object.h"

namespace vembro::kit {
namespace {

using Microsoft::WRL::ComPtr;

class CKitPointEnum : public CComObjectRootEx, public IEnumConnectionPoints {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI_AS(CKitPointEnum, IID_IUnknown, IEnumConnectionPoints),
            VEMBRO_QI(CKitPointEnum, IEnumConnectionPoints),
            VEMBRO_QI_END,
        };
        return table;
    }

    void Init(IConnectionPoint* const* points, size_t count, size_t position)
    {
        m_points.assign(points, points + count);
        m_nPos = position;
    }

    STDMETHODIMP Next(ULONG count, IConnectionPoint** out, ULONG* fetched) noexcept override
    {
        if (!out || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && m_nPos < m_points.size()) {
            out[n] = m_points[m_nPos++].Get();
            out[n++]->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) noexcept override
    {
        size_t left = m_points.size() - m_nPos;
        m_nPos += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() noexcept override
    {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumConnectionPoints** out) noexcept override
    try {
        std::vector<IConnectionPoint*> raw;
        for (auto& p : m_points)
            raw.push_back(p.Get());
        return CreateAndQuery_nothrow<CComObjectNoLock<CKitPointEnum>>(
            IID_IEnumConnectionPoints, reinterpret_cast<void**>(out), [&](CKitPointEnum& e) {
                e.Init(raw.data(), raw.size(), m_nPos);
                return S_OK;
            });
    }
    VEMBRO_CATCH_RETURN()

private:
    std::vector<ComPtr<IConnectionPoint>> m_points;
    size_t m_nPos = 0;
};

} // namespace

HRESULT CreateConnectionPointEnum(IConnectionPoint* const* points, size_t count,
                                  IEnumConnectionPoints** out) noexcept
{
    // The enumerator holds its points, and through them their component,
    // which holds the module; it needs no lock of its own.
    return CreateAndQuery_nothrow<CComObjectNoLock<CKitPointEnum>>(
        IID_IEnumConnectionPoints, reinterpret_cast<void**>(out), [&](CKitPointEnum& e) {
            e.Init(points, count, 0);
            return S_OK;
        });
}

} // namespace vembro::kit
