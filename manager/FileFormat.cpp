// One format as a client sees it: a read-only copy of its fields, taken when
// the object is made. Shared by the system and the kit, so it depends on
// nothing but the COM layer.
#include "vembro/FormatObject.h"

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Resource.h"

namespace vembro {
namespace {

class CTolviFileFormat : public CComObjectRootEx, public VembroDispatch<ITolviFileFormat> {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI(CTolviFileFormat, ITolviFileFormat),
            VEMBRO_QI_AS(CTolviFileFormat, IID_IDispatch, ITolviFileFormat),
            VEMBRO_QI_END,
        };
        return table;
    }

    HRESULT Init_nothrow(const FormatFields& fields) noexcept
    try {
        m_name.reset(CopyBstr_nothrow(fields.name));
        if (fields.name && !m_name)
            return E_OUTOFMEMORY;
        m_strDefaultExtension = fields.defaultExtension;
        m_strExtensions = fields.extensions;
        m_nID = fields.id;
        m_bComplex = fields.complex;
        return S_OK;
    }
    VEMBRO_CATCH_RETURN_OR(E_OUTOFMEMORY)

    STDMETHODIMP get_Name(BSTR* pVal) noexcept override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = CopyBstr_nothrow(m_name.get());
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_DefaultExtention(BSTR* pVal) noexcept override { return TextOut_nothrow(m_strDefaultExtension, pVal); }
    STDMETHODIMP get_Extentions(BSTR* pVal) noexcept override { return TextOut_nothrow(m_strExtensions, pVal); }
    STDMETHODIMP get_ID(short* pVal) noexcept override { return SetOut_nothrow(pVal, m_nID); }
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* pVal) noexcept override
    {
        return SetOut_nothrow(pVal, m_bComplex ? VARIANT_TRUE : VARIANT_FALSE);
    }

private:
    static HRESULT TextOut_nothrow(const std::wstring& text, BSTR* pVal) noexcept
    {
        if (!pVal)
            return E_POINTER;
        *pVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }

    unique_bstr m_name;
    std::wstring m_strDefaultExtension;
    std::wstring m_strExtensions;
    short m_nID = -1;
    bool m_bComplex = false;
};

} // namespace

HRESULT CreateFormatObject_nothrow(const FormatFields& fields, ITolviFileFormat** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviFileFormat>>(
        __uuidof(ITolviFileFormat), reinterpret_cast<void**>(out),
        [&](CTolviFileFormat& format) { return format.Init_nothrow(fields); });
}

} // namespace vembro
