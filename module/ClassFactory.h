#pragma once
// The manager's class factory. The module keeps one reference of its own in
// its cache; every client reference beyond that one counts as a single
// module lock together, taken when the count goes from 1 to 2 and given
// back when it returns from 2 to 1.
#include <windows.h>
#include <unknwn.h>

#include "vembro/com/Object.h"

namespace vembro {

class CManagerClassFactory final : public IClassFactory {
public:
    // A new factory holding one reference: the module's cached one.
    static HRESULT Create(CManagerClassFactory** out) noexcept;

    static const QIEntry* QITable() noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

private:
    CManagerClassFactory() = default;
    ~CManagerClassFactory() = default;

    LONG volatile m_dwRef = 1;
};

} // namespace vembro
