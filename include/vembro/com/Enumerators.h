#pragma once
// Enumerators over a fixed snapshot: IEnumConnections over CONNECTDATA and
// IEnumConnectionPoints over connection points. Each enumerator owns its
// snapshot (a clone copies it), so nobody needs a lock while walking it, and
// every live enumerator holds a module lock.
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>
#include <vector>

namespace vembro {

struct ConnectionEntry {
    Microsoft::WRL::ComPtr<IUnknown> spUnk;
    DWORD dwCookie = 0;
};

// A new enumerator over the entries (taken over), positioned at the start,
// answered as IEnumConnections. Failure leaves *ppEnum null.
HRESULT CreateConnectionsEnum_nothrow(std::vector<ConnectionEntry>&& entries, IEnumConnections** ppEnum) noexcept;

// The same over connection points, answered as IEnumConnectionPoints.
HRESULT CreateConnectionPointsEnum_nothrow(std::vector<Microsoft::WRL::ComPtr<IConnectionPoint>>&& points,
                                           IEnumConnectionPoints** ppEnum) noexcept;

} // namespace vembro
