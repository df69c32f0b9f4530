#include "com/Dispatch.h"

#include "com/Resource.h"

namespace vembro {
namespace {
// Holders that have published a type description, so that module stop can
// release them. Guarded by its own lock: it is touched once per interface.
TypeInfoHolder* g_pLoadedHolders = nullptr;
CRITICAL_SECTION* HoldersLock() noexcept
{
    static CRITICAL_SECTION cs = [] {
        CRITICAL_SECTION c;
        ::InitializeCriticalSection(&c);
        return c;
    }();
    return &cs;
}
} // namespace

HRESULT TypeInfoHolder::Get_nothrow(LCID lcid, ITypeInfo** ppti) noexcept
{
    *ppti = m_pInfo;
    if (*ppti)
        return S_OK;

    ITypeLib* lib = nullptr;
    HRESULT hr = ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, lcid, &lib);
    // The library is registered under its own locale (US English) only;
    // callers that pass the neutral or another locale (script engines do)
    // still get its one set of descriptions.
    const LCID kLibraryLocale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    if (hr == TYPE_E_LIBNOTREGISTERED && lcid != kLibraryLocale)
        hr = ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, kLibraryLocale, &lib);
    if (FAILED(hr))
        return hr;
    ITypeInfo* info = nullptr;
    hr = lib->GetTypeInfoOfGuid(m_iid, &info);
    lib->Release();
    if (FAILED(hr))
        return hr;

    ITypeInfo* previous = static_cast<ITypeInfo*>(
        ::InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pInfo), info, nullptr));
    if (previous) {
        info->Release(); // another thread won the race
        *ppti = previous;
        return S_OK;
    }
    ::EnterCriticalSection(HoldersLock());
    m_pNext = g_pLoadedHolders;
    g_pLoadedHolders = this;
    ::LeaveCriticalSection(HoldersLock());
    *ppti = info;
    return S_OK;
}

void TypeInfoHolder::ReleaseAll() noexcept
{
    ::EnterCriticalSection(HoldersLock());
    TypeInfoHolder* h = std::exchange(g_pLoadedHolders, nullptr);
    ::LeaveCriticalSection(HoldersLock());
    while (h) {
        ITypeInfo* info = static_cast<ITypeInfo*>(
            ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&h->m_pInfo), nullptr));
        if (info)
            info->Release();
        h = std::exchange(h->m_pNext, nullptr);
    }
}

} // namespace vembro
