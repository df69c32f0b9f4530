#pragma once
// IDispatch served from a registered type library, named by the LIBID and
// version that the implementing class passes: one cached ITypeInfo per
// interface, loaded on first use with LoadRegTypeLib and published with a
// compare-exchange, so racing threads never leak or double-load. A failed
// load is not cached and is tried again on the next call.
#include <windows.h>
#include <oaidl.h>

#include "vembro/com/Error.h"

namespace vembro {

class TypeInfoHolder {
public:
    TypeInfoHolder(const GUID& libid, WORD major, WORD minor, const IID& iid) noexcept
        : m_libid(libid), m_iid(iid), m_wMajor(major), m_wMinor(minor)
    {
    }
    // Borrowed pointer, valid until ReleaseAll.
    HRESULT Get_nothrow(LCID lcid, ITypeInfo** ppti) noexcept;
    // Drops every cached type description (module stop).
    static void ReleaseAll() noexcept;

private:
    const GUID& m_libid;
    const IID& m_iid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* volatile m_pInfo = nullptr;
    TypeInfoHolder* m_pNext = nullptr;
};

template <class Iface, const GUID* Lib, WORD Major, WORD Minor>
TypeInfoHolder& TypeInfoFor() noexcept
{
    static TypeInfoHolder holder(*Lib, Major, Minor, __uuidof(Iface));
    return holder;
}

// Lib is the address of the library's LIBID (e.g. &LIBID_VEMBROLib).
template <class Iface, const GUID* Lib, WORD Major = 1, WORD Minor = 0>
class IDispatchImpl : public Iface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override { return SetOut_nothrow(pctinfo, 1u); }

    // The index is not looked at: there is only one type description.
    STDMETHODIMP GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppti) noexcept override
    {
        if (!ClearOut(ppti))
            return E_POINTER;
        ITypeInfo* info = nullptr;
        HRESULT hr = TypeInfoFor<Iface, Lib, Major, Minor>().Get_nothrow(lcid, &info);
        if (SUCCEEDED(hr)) {
            info->AddRef();
            *ppti = info;
        }
        return hr;
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept override
    {
        ITypeInfo* info = nullptr;
        HRESULT hr = TypeInfoFor<Iface, Lib, Major, Minor>().Get_nothrow(lcid, &info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
    }

    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept override
    {
        if (!::IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = TypeInfoFor<Iface, Lib, Major, Minor>().Get_nothrow(lcid, &info);
        if (FAILED(hr))
            return hr;
        return info->Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argErr);
    }
};

} // namespace vembro
