#include "vembro/kit/Properties.h"

#include <cwctype>

namespace vembro::kit {

unique_variant PropertyBag::KeyOf(const VARIANT& name)
{
    unique_variant key; // always a copy: upper-casing never touches the caller's name
    ThrowIfFailed(::VariantChangeType(&key, const_cast<VARIANT*>(&name), 0, VT_BSTR));
    const UINT length = ::SysStringLen(V_BSTR(&key));
    if (length == 0)
        ThrowHr(E_INVALIDARG);
    for (UINT i = 0; i < length; ++i)
        V_BSTR(&key)[i] = static_cast<wchar_t>(std::towupper(V_BSTR(&key)[i]));
    return key;
}

unique_variant PropertyBag::KeyOf(const wchar_t* key)
{
    unique_variant v;
    V_BSTR(&v) = MakeBstr(key).release();
    V_VT(&v) = VT_BSTR;
    return v;
}

HRESULT PropertyBag::Get(const VARIANT& name, VARIANT* value) noexcept
try {
    if (!value)
        return E_POINTER;
    ::VariantInit(value);
    unique_variant key = KeyOf(name);
    auto lock = m_cs.Lock();
    if (m_values.FindProperty(key) < 0) {
        *value = MissingArgument();
        return S_OK;
    }
    return m_values.GetValue(key, value);
}
VEMBRO_CATCH_RETURN()

HRESULT PropertyBag::Put(const VARIANT& name, const VARIANT& value) noexcept
try {
    unique_variant key = KeyOf(name);
    unique_variant copy;
    // A by-reference value is stored as what it refers to.
    ThrowIfFailed(::VariantCopyInd(&copy, const_cast<VARIANT*>(&value)));
    auto lock = m_cs.Lock();
    return m_values.SetValue(key, copy);
}
VEMBRO_CATCH_RETURN()

HRESULT PropertyBag::Convert_nothrow(const wchar_t* key, VARTYPE type, unique_variant* out) noexcept
try {
    unique_variant name = KeyOf(key);
    auto lock = m_cs.Lock();
    int i = m_values.FindProperty(name);
    return i < 0 ? E_INVALIDARG
                 : ::VariantChangeType(out, const_cast<unique_variant*>(&m_values.GetAt(i).m_vValue), 0, type);
}
VEMBRO_CATCH_RETURN()

bool PropertyBag::GetLong(const wchar_t* name, long& value) noexcept
{
    unique_variant number;
    if (FAILED(Convert_nothrow(name, VT_I4, &number)))
        return false; // absent, not a number, or the key could not be made
    value = V_I4(&number);
    return true;
}

std::wstring PropertyBag::GetText(const wchar_t* name, const wchar_t* defaultText)
{
    unique_variant text;
    if (FAILED(Convert_nothrow(name, VT_BSTR, &text)))
        return defaultText;
    return std::wstring(V_BSTR(&text), ::SysStringLen(V_BSTR(&text)));
}

} // namespace vembro::kit
