#include "module/ComModule.h"

#include "vembro/com/Module.h"
#include "vembro/com/ClassFactory.h"
#include "manager/Manager.h"
#include "vembro/Vembro.h"

namespace vembro {

CVembroModule g_Module;

void CVembroModule::Term() noexcept
{
    auto guard = m_csFactory.Lock();
    CClassFactory* factory = m_pFactory;
    m_pFactory = nullptr;
    if (factory)
        factory->Release();
}

HRESULT CVembroModule::GetClassObject_nothrow(REFCLSID rclsid, REFIID riid, void** ppv) noexcept
{
    if (!ClearOut(ppv))
        return E_POINTER;
    if (!::IsEqualCLSID(rclsid, CLSID_TolviFTManager))
        return CLASS_E_CLASSNOTAVAILABLE;

    // Tested again inside the lock, so that racing callers never make two.
    if (!m_pFactory) {
        auto guard = m_csFactory.Lock();
        if (!m_pFactory) {
            CClassFactory* factory = nullptr;
            HRESULT hr = CClassFactory::Create_nothrow(&CreateManager_nothrow, &factory);
            if (FAILED(hr))
                return hr;
            ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pFactory), factory);
        }
    }
    return m_pFactory->QueryInterface(riid, ppv);
}

HRESULT CVembroModule::CanUnloadNow_nothrow() const noexcept
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

} // namespace vembro
