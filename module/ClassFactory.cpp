#include "module/ClassFactory.h"

#include "vembro/com/Module.h"
#include "manager/Manager.h"

namespace vembro {

HRESULT CManagerClassFactory::Create(CManagerClassFactory** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = new (std::nothrow) CManagerClassFactory();
    return *out ? S_OK : E_OUTOFMEMORY;
}

const QIEntry* CManagerClassFactory::QITable() noexcept
{
    static const QIEntry table[] = {
        VEMBRO_QI(CManagerClassFactory, IClassFactory),
        VEMBRO_QI_END,
    };
    return table;
}

STDMETHODIMP CManagerClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept
{
    return QueryInterfaceFromTable(this, QITable(), riid, ppv);
}

STDMETHODIMP_(ULONG) CManagerClassFactory::AddRef() noexcept
{
    const LONG n = ::InterlockedIncrement(&m_dwRef);
    if (n == 2)
        ModuleLock();
    return static_cast<ULONG>(n);
}

STDMETHODIMP_(ULONG) CManagerClassFactory::Release() noexcept
{
    const LONG n = ::InterlockedDecrement(&m_dwRef);
    if (n == 1)
        ModuleUnlock();
    else if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP CManagerClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept
try {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // The manager cannot be aggregated, whatever interface is asked for.
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return CreateManager(riid, ppv);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

STDMETHODIMP CManagerClassFactory::LockServer(BOOL lock) noexcept
try {
    if (lock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
