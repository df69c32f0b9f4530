// The fake module's entry points: a class object for every CLSID that the
// running test has configured, made from its configuration at that moment.
#include <windows.h>
#include <objbase.h>

#include "vembro/com/Object.h"
#include "components/FakeConfig.h"
#include "components/FakeConverter.h"
#include "components/FakeJournal.h"
#include "components/FakeTranslator.h"

namespace fakes {
namespace {

class FakeClassFactory : public vembro::CComObjectRootEx, public IClassFactory {
public:
    static const vembro::QIEntry* QITable() noexcept
    {
        static const vembro::QIEntry table[] = {
            VEMBRO_QI(FakeClassFactory, IClassFactory),
            VEMBRO_QI_END,
        };
        return table;
    }

    void SetConfig(const Config& config) { m_config = config; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    try {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        JournalCall(m_config.name + ".Create");
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(m_config.behaviour.createResult))
            return m_config.behaviour.createResult;
        if (m_config.behaviour.gate == Gate::Create)
            WaitAtGate(m_config.name);
        if (m_config.kind == Kind::Translator)
            return Make<FakeTranslator>(riid, ppv);
        return Make<FakeConverter>(riid, ppv);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (lock)
            vembro::ModuleLock();
        else
            vembro::ModuleUnlock();
        return S_OK;
    }

private:
    template <class T>
    HRESULT Make(REFIID riid, void** ppv)
    {
        return vembro::CreateAndQuery_nothrow<vembro::CComObject<T>>(riid, ppv, [this](T& object) {
            object.Configure(m_config);
            return S_OK;
        });
    }

    Config m_config;
};

} // namespace
} // namespace fakes

extern "C" {

STDAPI DllCanUnloadNow() { return vembro::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
try {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    wchar_t text[40] = {};
    if (!::StringFromGUID2(rclsid, text, 40))
        return E_UNEXPECTED;
    fakes::Config config;
    if (!fakes::ReadConfig(text, config))
        return CLASS_E_CLASSNOTAVAILABLE;
    return vembro::CreateAndQuery_nothrow<vembro::CComObjectNoLock<fakes::FakeClassFactory>>(
        riid, ppv, [&](fakes::FakeClassFactory& factory) {
            factory.SetConfig(config);
            return S_OK;
        });
}
VEMBRO_CATCH_RETURN()
}
