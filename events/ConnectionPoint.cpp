#include "events/ConnectionPoint.h"

#include "vembro/com/Dispatch.h"

namespace vembro {

// The platform's automation marshaller loads the type library for each proxy
// or stub of a client sink and frees it with the last one. Under Wine a
// library freed on one thread while another thread loads it is handed out
// while it is being destroyed, which crashed the marshaller now and then,
// and every reload cost memory. A cached description of the events
// interface keeps the library loaded from the first chain translator until
// the module stops.
CProxyITolviFileTranslatorEvents::CProxyITolviFileTranslatorEvents(IConnectionPointContainer* owner) noexcept
    : ConnectionPoint(owner)
{
    ITypeInfo* held = nullptr; // borrowed from the cache; no description just means no hold
    TypeInfoFor<ITolviFileTranslatorEvents, &LIBID_VEMBROLib, 1, 0>().Get_nothrow(LOCALE_NEUTRAL, &held);
}

void CProxyITolviFileTranslatorEvents::Fire_StateChange(long state) noexcept
{
    VARIANTARG args[1];
    ::VariantInit(&args[0]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = state;
    Fire(2, args, 1);
}

void CProxyITolviFileTranslatorEvents::Fire_ProgressChange(long progress, long maxProgress) noexcept
{
    VARIANTARG args[2];
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = maxProgress;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = progress;
    Fire(3, args, 2);
}

void CProxyITolviFileTranslatorEvents::Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept
{
    DISPPARAMS params = {args, nullptr, count, 0};
    // The events interface's first four methods after IUnknown are IDispatch's.
    FireEach([&](ITolviFileTranslatorEvents* sink) {
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    });
}

} // namespace vembro
