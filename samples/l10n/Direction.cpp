#include "l10n/Direction.h"

#include <cwctype>

#include "vembro/com/Resource.h"

namespace samples {
namespace {

// DISPIDs are the places in this table plus one.
const wchar_t* const kNames[] = {L"SourceLanguage", L"TargetLanguage", L"Memory"};

} // namespace

// {833DD799-D3B1-4C08-97C4-D6C5C3D5180D}
const CLSID CLSID_Direction = {0x833dd799, 0xd3b1, 0x4c08, {0x97, 0xc4, 0xd6, 0xc5, 0xc3, 0xd5, 0x18, 0x0d}};

const vembro::QIEntry* CDirection::QITable() noexcept
{
    static const vembro::QIEntry table[] = {
        VEMBRO_QI_AS(CDirection, IID_IUnknown, IDispatch),
        VEMBRO_QI_AS(CDirection, IID_IDispatch, IDispatch),
        VEMBRO_QI_END,
    };
    return table;
}

bool IsLanguageTag(const std::wstring& tag)
{
    size_t start = 0;
    for (bool first = true;; first = false) {
        size_t end = tag.find(L'-', start);
        std::wstring sub = tag.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (sub.empty() || sub.size() > 8 || (first && sub.size() < 2))
            return false;
        for (wchar_t c : sub)
            if (!(c < 128 && (first ? std::iswalpha(c) : std::iswalnum(c))))
                return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

STDMETHODIMP CDirection::GetTypeInfoCount(UINT* count) noexcept
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CDirection::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CDirection::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept
{
    if (!names || !ids)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (DISPID k = 0; i == 0 && k < 3; ++k)
            if (names[i] && _wcsicmp(names[i], kNames[k]) == 0)
                ids[i] = k + 1;
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP CDirection::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                UINT* argError) noexcept
try {
    if (id < 1 || id > 3)
        return DISP_E_MEMBERNOTFOUND;
    std::wstring& field = id == 1 ? m_strSource : id == 2 ? m_strTarget : m_strMemory;
    UINT args = params ? params->cArgs : 0;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (args != 1)
            return DISP_E_BADPARAMCOUNT;
        vembro::unique_variant text;
        HRESULT hr = ::VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR);
        if (FAILED(hr)) {
            if (argError)
                *argError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        std::wstring value = V_BSTR(&text) ? V_BSTR(&text) : L"";
        if (id != 3 && !value.empty() && !IsLanguageTag(value))
            return E_INVALIDARG;
        auto lock = m_cs.Lock();
        field = value;
        return S_OK;
    }
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
        return DISP_E_MEMBERNOTFOUND;
    if (args != 0)
        return DISP_E_BADPARAMCOUNT;
    if (result) {
        auto lock = m_cs.Lock();
        ::VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = ::SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
        if (!V_BSTR(result)) {
            V_VT(result) = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}
VEMBRO_CATCH_RETURN()

std::wstring DirectionText(IDispatch* direction, const wchar_t* name)
{
    if (!direction)
        return {};
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(direction->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return {};
    DISPPARAMS none{};
    vembro::unique_variant value, text;
    if (FAILED(direction->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr)) ||
        FAILED(::VariantChangeType(&text, &value, 0, VT_BSTR)) || !V_BSTR(&text))
        return {};
    return V_BSTR(&text);
}

} // namespace samples
