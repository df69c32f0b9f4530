#include "vembro/com/PropertyList.h"

#include <cstring>
#include <utility>

#include "vembro/com/Error.h"

namespace vembro {

namespace {
// The platform's declaration takes a non-const source that it never writes.
HRESULT CopyVariant_nothrow(VARIANT* dst, const VARIANT& src) noexcept
{
    return ::VariantCopy(dst, const_cast<VARIANT*>(&src));
}
} // namespace

bool VariantsEqual(const VARIANT& a, const VARIANT& b)
{
    if (V_VT(&a) != V_VT(&b))
        return false;
    switch (V_VT(&a)) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_I1: return V_I1(&a) == V_I1(&b);
    case VT_UI1: return V_UI1(&a) == V_UI1(&b);
    case VT_I2: return V_I2(&a) == V_I2(&b);
    case VT_UI2: return V_UI2(&a) == V_UI2(&b);
    case VT_I4: return V_I4(&a) == V_I4(&b);
    case VT_UI4: return V_UI4(&a) == V_UI4(&b);
    case VT_INT: return V_INT(&a) == V_INT(&b);
    case VT_UINT: return V_UINT(&a) == V_UINT(&b);
    case VT_BOOL: return V_BOOL(&a) == V_BOOL(&b);
    case VT_ERROR: return V_ERROR(&a) == V_ERROR(&b);
    case VT_UNKNOWN: return V_UNKNOWN(&a) == V_UNKNOWN(&b);
    case VT_DISPATCH: return V_DISPATCH(&a) == V_DISPATCH(&b);
    // Numerical comparison: a NaN equals nothing, and 0.0 equals -0.0.
    case VT_R4: return V_R4(&a) == V_R4(&b);
    case VT_R8: return V_R8(&a) == V_R8(&b);
    case VT_DATE: return V_DATE(&a) == V_DATE(&b);
    case VT_CY: return V_CY(&a).int64 == V_CY(&b).int64;
    case VT_DECIMAL: {
        // The reserved word of a DECIMAL is the VARIANT's type; the rest is
        // compared bit for bit, so 1.0 and 1.00 differ.
        const DECIMAL& x = V_DECIMAL(&a);
        const DECIMAL& y = V_DECIMAL(&b);
        return x.scale == y.scale && x.sign == y.sign && x.Hi32 == y.Hi32 && x.Lo64 == y.Lo64;
    }
    case VT_BSTR: {
        UINT n = ::SysStringByteLen(V_BSTR(&a));
        return n == ::SysStringByteLen(V_BSTR(&b)) && (n == 0 || std::memcmp(V_BSTR(&a), V_BSTR(&b), n) == 0);
    }
    default:
        ThrowHr(E_INVALIDARG);
    }
}

PropertyList::CProperty::CProperty(const VARIANT& name, const VARIANT& value)
{
    ThrowIfFailed(CopyVariant_nothrow(&m_vName, name));
    ThrowIfFailed(CopyVariant_nothrow(&m_vValue, value));
}

int PropertyList::FindProperty(const VARIANT& name) const
{
    for (size_t i = 0; i < m_aProperties.size(); ++i) {
        if (VariantsEqual(m_aProperties[i].m_vName, name))
            return static_cast<int>(i);
    }
    return -1;
}

HRESULT PropertyList::GetValue(const VARIANT& name, VARIANT* out) const noexcept
try {
    int i = FindProperty(name);
    if (i < 0)
        return E_INVALIDARG;
    return CopyVariant_nothrow(out, m_aProperties[static_cast<size_t>(i)].m_vValue);
}
VEMBRO_CATCH_RETURN()

HRESULT PropertyList::SetValue(const VARIANT& name, const VARIANT& value) noexcept
try {
    int i = FindProperty(name);
    if (i >= 0)
        return CopyVariant_nothrow(m_aProperties[static_cast<size_t>(i)].m_vValue.put(), value);
    m_aProperties.emplace_back(name, value);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

} // namespace vembro
