#include "vembro/kit/Properties.h"

#include <cwctype>

namespace vembro::kit {

std::wstring PropertyBag::KeyOf(const VARIANT& name)
{
    unique_variant text;
    ThrowIfFailed(::VariantChangeType(&text, const_cast<VARIANT*>(&name), 0, VT_BSTR));
    if (!V_BSTR(&text) || ::SysStringLen(V_BSTR(&text)) == 0)
        ThrowHr(E_INVALIDARG);
    std::wstring key(V_BSTR(&text), ::SysStringLen(V_BSTR(&text)));
    for (auto& c : key)
        c = static_cast<wchar_t>(std::towupper(c));
    return key;
}

HRESULT PropertyBag::Get(const VARIANT& name, VARIANT* value) noexcept
try {
    if (!value)
        return E_POINTER;
    ::VariantInit(value);
    std::wstring key = KeyOf(name);
    auto lock = m_cs.Lock();
    auto it = m_values.find(key);
    if (it == m_values.end()) {
        *value = MissingArgument();
        return S_OK;
    }
    return ::VariantCopy(value, it->second.get());
}
VEMBRO_CATCH_RETURN()

HRESULT PropertyBag::Put(const VARIANT& name, const VARIANT& value) noexcept
try {
    std::wstring key = KeyOf(name);
    auto copy = std::make_shared<unique_variant>();
    // A by-reference value is stored as what it refers to.
    ThrowIfFailed(::VariantCopyInd(copy.get(), const_cast<VARIANT*>(&value)));
    auto lock = m_cs.Lock();
    m_values[key] = std::move(copy);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

bool PropertyBag::GetLong(const wchar_t* name, long& value) noexcept
try {
    auto lock = m_cs.Lock();
    auto it = m_values.find(name);
    if (it == m_values.end())
        return false;
    unique_variant number;
    if (FAILED(::VariantChangeType(&number, it->second.get(), 0, VT_I4)))
        return false;
    value = V_I4(&number);
    return true;
} catch (...) {
    return false; // the key could not be made: as good as absent
}

std::wstring PropertyBag::GetText(const wchar_t* name, const wchar_t* defaultText)
{
    auto lock = m_cs.Lock();
    auto it = m_values.find(name);
    unique_variant text;
    if (it == m_values.end() || FAILED(::VariantChangeType(&text, it->second.get(), 0, VT_BSTR)))
        return defaultText;
    return std::wstring(V_BSTR(&text), ::SysStringLen(V_BSTR(&text)));
}

} // namespace vembro::kit
