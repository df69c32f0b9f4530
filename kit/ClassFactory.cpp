#include "vembro/com/Module.h"
#include "vembro/com/Object.h"
#include "vembro/kit/Module.h"

namespace vembro::kit {
namespace {

// Class objects do not hold the module: LockServer does that for clients
// that keep one around.
class CKitClassFactory : public CComObjectRootEx, public IClassFactory {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI_AS(CKitClassFactory, IID_IUnknown, IClassFactory),
            VEMBRO_QI(CKitClassFactory, IClassFactory),
            VEMBRO_QI_END,
        };
        return table;
    }

    void Init(const ComponentClass& cls) noexcept { m_pClass = &cls; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return m_pClass->create(riid, ppv);
    }

    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }

private:
    const ComponentClass* m_pClass = nullptr;
};

} // namespace

HRESULT GetClassObject(const ComponentClass& cls, REFIID riid, void** ppv) noexcept
{
    return CreateAndQuery_nothrow<CComObjectNoLock<CKitClassFactory>>(riid, ppv, [&](CKitClassFactory& f) {
        f.Init(cls);
        return S_OK;
    });
}

} // namespace vembro::kit
