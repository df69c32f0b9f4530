#pragma once
// Object wrappers: a multithreaded root with an atomic reference count and a
// recursive lock, QueryInterface answered from a declarative table, and the
// two wrappers that either hold the module (CComObject) or do not
// (CComObjectNoLock, for the inner sinks).
#include <windows.h>
#include <unknwn.h>
#include <cstddef>
#include <new>
#include <utility>

#include "vembro/com/Error.h"
#include "vembro/com/Module.h"
#include "vembro/com/Resource.h"

namespace vembro {

struct QIEntry {
    const IID* piid; // null ends the table
    std::ptrdiff_t offset;
};

// Offset of interface I inside class C, computed on a fake non-null address
// so that multiple inheritance adjusts the pointer.
#define VEMBRO_QI_OFFSET(C, I) \
    (reinterpret_cast<std::ptrdiff_t>(static_cast<I*>(reinterpret_cast<C*>(0x1000))) - 0x1000)
// Answers __uuidof(I) with the I face of C.
#define VEMBRO_QI(C, I) ::vembro::QIEntry{ &__uuidof(I), VEMBRO_QI_OFFSET(C, I) }
// Answers iid with the I face of C (for IDispatch and inherited interfaces).
#define VEMBRO_QI_AS(C, iid, I) ::vembro::QIEntry{ &(iid), VEMBRO_QI_OFFSET(C, I) }
#define VEMBRO_QI_END ::vembro::QIEntry{ nullptr, 0 }

// IUnknown is answered by the first entry; anything not listed gets
// E_NOINTERFACE with *ppv cleared.
HRESULT QueryInterfaceFromTable(void* object, const QIEntry* table, REFIID riid, void** ppv) noexcept;

class CComObjectRootEx {
public:
    CComObjectRootEx() = default;
    CComObjectRootEx(const CComObjectRootEx&) = delete;
    CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;
    virtual ~CComObjectRootEx() = default;

    ULONG InternalAddRef() noexcept { return static_cast<ULONG>(::InterlockedIncrement(&m_dwRef)); }
    ULONG InternalRelease() noexcept { return static_cast<ULONG>(::InterlockedDecrement(&m_dwRef)); }

    // Hooks for the wrappers; objects override what they need.
    HRESULT FinalConstruct() noexcept { return S_OK; }
    void FinalRelease() noexcept {}

    // The object's one recursive lock.
    CriticalSection m_cs;

protected:
    LONG volatile m_dwRef = 0;
};

namespace detail {
template <class Wrapper>
HRESULT CreateWrapped_nothrow(Wrapper** pp) noexcept
{
    if (!ClearOut(pp))
        return E_POINTER;
    Wrapper* p = nullptr;
    try {
        p = new Wrapper();
    } catch (...) {
        return ResultFromCaughtException(E_OUTOFMEMORY);
    }
    // Keep the object alive across FinalConstruct, which may hand out and
    // take back references to itself.
    p->InternalAddRef();
    HRESULT hr = p->FinalConstruct();
    p->InternalRelease();
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    *pp = p;
    return S_OK;
}
} // namespace detail

#define VEMBRO_WRAPPER_IUNKNOWN()                                                          \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override                \
    {                                                                                      \
        return ::vembro::QueryInterfaceFromTable(static_cast<Base*>(this), Base::QITable(), \
                                                 riid, ppv);                               \
    }                                                                                      \
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return this->InternalAddRef(); }    \
    STDMETHODIMP_(ULONG) Release() noexcept override                                      \
    {                                                                                      \
        ULONG n = this->InternalRelease();                                                 \
        if (n == 0)                                                                        \
            delete this;                                                                   \
        return n;                                                                          \
    }

// A live object holds one module lock from construction to destruction.
template <class Base>
class CComObject final : public Base {
public:
    CComObject() { ModuleLock(); }
    ~CComObject() override
    {
        this->FinalRelease();
        ModuleUnlock();
    }
    VEMBRO_WRAPPER_IUNKNOWN()
    // A new object with a reference count of 0; the caller's QueryInterface
    // takes the first reference, or the caller deletes it.
    static HRESULT CreateInstance(CComObject** pp) noexcept { return detail::CreateWrapped_nothrow(pp); }
};

// The same without the module lock.
template <class Base>
class CComObjectNoLock final : public Base {
public:
    ~CComObjectNoLock() override { this->FinalRelease(); }
    VEMBRO_WRAPPER_IUNKNOWN()
    static HRESULT CreateInstance(CComObjectNoLock** pp) noexcept { return detail::CreateWrapped_nothrow(pp); }
};

// Creates a wrapped object and asks it for an interface; on failure the
// object is destroyed again and *ppv is null.
template <class Wrapper, class Init>
HRESULT CreateAndQuery_nothrow(REFIID riid, void** ppv, Init&& init) noexcept
{
    if (!ClearOut(ppv))
        return E_POINTER;
    Wrapper* p = nullptr;
    HRESULT hr = Wrapper::CreateInstance(&p);
    if (FAILED(hr))
        return hr;
    if (!p) // a caught exception can carry a success code
        return E_OUTOFMEMORY;
    p->InternalAddRef();
    try {
        hr = init(*p);
    } catch (...) {
        hr = ResultFromCaughtException();
    }
    if (SUCCEEDED(hr))
        hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
}

} // namespace vembro
