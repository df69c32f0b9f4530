#include "vembro/com/Object.h"

namespace vembro {

HRESULT QueryInterfaceFromTable(void* object, const QIEntry* table, REFIID riid, void** ppv) noexcept
{
    if (!ClearOut(ppv))
        return E_POINTER;
    if (!table || !table->piid)
        return E_NOINTERFACE;
    const QIEntry* hit = nullptr;
    if (::IsEqualIID(riid, IID_IUnknown)) {
        hit = table;
    } else {
        for (const QIEntry* e = table; e->piid; ++e) {
            if (::IsEqualIID(riid, *e->piid)) {
                hit = e;
                break;
            }
        }
    }
    if (!hit)
        return E_NOINTERFACE;
    auto* unk = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + hit->offset);
    unk->AddRef();
    *ppv = unk;
    return S_OK;
}

} // namespace vembro
