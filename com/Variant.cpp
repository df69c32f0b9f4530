#include "vembro/com/Variant.h"

#include <utility>

#include "vembro/com/Resource.h"

namespace vembro {

namespace {

// The plain type that a value of type vt is widened to before anyone looks
// at it, or VT_EMPTY when it stays as it is.
VARTYPE WidenedType(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_R4:
    case VT_R8:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return VT_I4;
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
        return VT_I2;
    default:
        return VT_EMPTY;
    }
}

bool IsNullString(const VARIANT* v) noexcept
{
    return V_VT(v) == VT_BSTR && !V_BSTR(v);
}

// VariantCopy, except that a NULL string stays NULL: this platform's copy
// turns it into an empty string, and "no string" must stay recognisable.
HRESULT CopyValue_nothrow(VARIANT* to, const VARIANT* from) noexcept
{
    if (!IsNullString(from))
        return ::VariantCopy(to, const_cast<VARIANT*>(from));
    HRESULT hr = ::VariantClear(to);
    if (SUCCEEDED(hr)) {
        V_VT(to) = VT_BSTR;
        V_BSTR(to) = nullptr;
    }
    return hr;
}

} // namespace

HRESULT NormalizeVariant(const VARIANT* src, VARIANT* dst) noexcept
{
    if (!src || !dst)
        return E_POINTER;

    unique_variant work;
    bool changed = false;

    if (V_VT(src) & VT_BYREF) {
        HRESULT hr = S_OK;
        if (V_VT(src) == (VT_BYREF | VT_VARIANT)) {
            if (!V_VARIANTREF(src))
                return E_POINTER;
            hr = CopyValue_nothrow(&work, V_VARIANTREF(src));
        } else if (!V_BYREF(src)) {
            return E_POINTER;
        } else if (V_VT(src) == (VT_BYREF | VT_BSTR) && !*V_BSTRREF(src)) {
            V_VT(&work) = VT_BSTR;
            V_BSTR(&work) = nullptr;
        } else {
            hr = ::VariantChangeType(&work, const_cast<VARIANT*>(src), 0,
                                     static_cast<VARTYPE>(V_VT(src) & ~VT_BYREF));
        }
        if (FAILED(hr))
            return hr;
        changed = true;
    }

    const VARIANT* current = changed ? &work : src;
    const VARTYPE widened = WidenedType(V_VT(current));
    if (widened != VT_EMPTY) {
        unique_variant wide;
        const HRESULT hr = ::VariantChangeType(&wide, const_cast<VARIANT*>(current), 0, widened);
        if (FAILED(hr))
            return hr;
        work = std::move(wide);
        changed = true;
    }

    if (!changed)
        return CopyValue_nothrow(dst, src);

    const HRESULT hr = ::VariantClear(dst);
    if (FAILED(hr))
        return hr;
    *dst = work.Detach();
    return S_OK;
}

} // namespace vembro
