#pragma once
// The COM module: the instance handle, the one-entry object map with its
// cached class factory, and the unload rule.
#include <windows.h>
#include <unknwn.h>

#include "vembro/com/Resource.h"

namespace vembro {

class CClassFactory;

class CVembroModule {
public:
    void Init(HINSTANCE instance) noexcept { m_hInstance = instance; }
    // Releases the cached class factory; a later request makes a new one.
    void Term() noexcept;

    HINSTANCE GetModuleInstance() const noexcept { return m_hInstance; }
    HRESULT GetClassObject_nothrow(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
    HRESULT CanUnloadNow_nothrow() const noexcept;

private:
    HINSTANCE m_hInstance = nullptr;
    CClassFactory* volatile m_pFactory = nullptr;
    CriticalSection m_csFactory; // serialises the creation of the factory
};

extern CVembroModule g_Module;

} // namespace vembro
