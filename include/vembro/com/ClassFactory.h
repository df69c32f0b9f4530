#pragma once
// The class object of one creatable class, made around its creation
// function. Its first reference belongs to whoever made it (a module's cache,
// or the caller of DllGetClassObject for a fresh one) and does not hold the
// module; every reference beyond that one holds it, together as one module
// lock taken when the count goes from 1 to 2 and given back when it returns
// from 2 to 1, so a client that keeps a class object keeps the DLL loaded.
#include <windows.h>
#include <unknwn.h>

#include "vembro/com/Object.h"

namespace vembro {

class CClassFactory final : public IClassFactory {
public:
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv) noexcept;

    // A new class object holding one reference: the maker's.
    static HRESULT Create_nothrow(CreateFn create, CClassFactory** out) noexcept;
    // A new class object for a caller of DllGetClassObject, as the interface
    // it asks for.
    static HRESULT CreateAndQuery_nothrow(CreateFn create, REFIID riid, void** ppv) noexcept;

    static const QIEntry* QITable() noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

private:
    explicit CClassFactory(CreateFn create) noexcept : m_pfnCreate(create) {}
    ~CClassFactory() = default;

    CreateFn m_pfnCreate;
    LONG volatile m_dwRef = 1;
};

} // namespace vembro
