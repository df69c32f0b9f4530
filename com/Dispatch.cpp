#include "vembro/com/Dispatch.h"

#include "vembro/com/Resource.h"

namespace vembro {
namespace {
// Holders that have published a type description, so that module stop can
// release them. Guarded by its own lock: it is touched once per interface.
TypeInfoHolder* g_pLoadedHolders = nullptr;
// Initialised where it lives: a CRITICAL_SECTION must not be copied once
// initialised, so it cannot be returned by value from an initialiser. Never
// deleted, since module stop may still take it during static destruction.
struct HoldersLockStorage {
    HoldersLockStorage() noexcept { ::InitializeCriticalSection(&cs); }
    CRITICAL_SECTION cs;
};
CRITICAL_SECTION* HoldersLock() noexcept
{
    static HoldersLockStorage lock;
    return &lock.cs;
}
} // namespace

HRESULT TypeInfoHolder::Get_nothrow(LCID lcid, ITypeInfo** ppti) noexcept
{
    *ppti = m_pInfo;
    if (*ppti)
        return S_OK;

    ITypeLib* lib = nullptr;
    HRESULT hr = ::LoadRegTypeLib(m_libid, m_wMajor, m_wMinor, lcid, &lib);
    // A library registered under its own locale (US English) only still
    // serves callers that pass the neutral or another locale (script engines
    // do) with its one set of descriptions.
    const LCID kLibraryLocale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    if (hr == TYPE_E_LIBNOTREGISTERED && lcid != kLibraryLocale)
        hr = ::LoadRegTypeLib(m_libid, m_wMajor, m_wMinor, kLibraryLocale, &lib);
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
