#include "vembro/com/ClassFactory.h"

#include "vembro/com/Module.h"

namespace vembro {

HRESULT CClassFactory::Create_nothrow(CreateFn create, CClassFactory** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = create ? new (std::nothrow) CClassFactory(create) : nullptr;
    return *out ? S_OK : create ? E_OUTOFMEMORY : E_INVALIDARG;
}

HRESULT CClassFactory::CreateAndQuery_nothrow(CreateFn create, REFIID riid, void** ppv) noexcept
{
    if (!ClearOut(ppv))
        return E_POINTER;
    CClassFactory* factory = nullptr;
    HRESULT hr = Create_nothrow(create, &factory);
    if (FAILED(hr))
        return hr;
    // The caller's reference becomes the maker's one: it holds no module lock.
    hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

const QIEntry* CClassFactory::QITable() noexcept
{
    static const QIEntry table[] = {
        VEMBRO_QI(CClassFactory, IClassFactory),
        VEMBRO_QI_END,
    };
    return table;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept
{
    return QueryInterfaceFromTable(this, QITable(), riid, ppv);
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() noexcept
{
    const LONG n = ::InterlockedIncrement(&m_dwRef);
    if (n == 2)
        ModuleLock();
    return static_cast<ULONG>(n);
}

STDMETHODIMP_(ULONG) CClassFactory::Release() noexcept
{
    const LONG n = ::InterlockedDecrement(&m_dwRef);
    if (n == 1)
        ModuleUnlock();
    else if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept
try {
    if (!ClearOut(ppv))
        return E_POINTER;
    // No class made here can be aggregated, whatever interface is asked for.
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return m_pfnCreate(riid, ppv);
}
VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

STDMETHODIMP CClassFactory::LockServer(BOOL lock) noexcept
try {
    if (lock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
