#include "vembro/kit/Format.h"

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"

namespace vembro::kit {
namespace {

class CKitFileFormat : public CComObjectRootEx, public VembroDispatch<ITolviFileFormat> {
public:
    static const QIEntry* QITable() noexcept
    {
        static const QIEntry table[] = {
            VEMBRO_QI_AS(CKitFileFormat, IID_IUnknown, ITolviFileFormat),
            VEMBRO_QI_AS(CKitFileFormat, IID_IDispatch, ITolviFileFormat),
            VEMBRO_QI(CKitFileFormat, ITolviFileFormat),
            VEMBRO_QI_END,
        };
        return table;
    }

    void Init(const FormatSpec& spec) noexcept { m_spec = spec; }

    STDMETHODIMP get_Name(BSTR* pVal) noexcept override { return CopyText(m_spec.name, pVal); }
    STDMETHODIMP get_DefaultExtention(BSTR* pVal) noexcept override
    {
        return CopyText(m_spec.defaultExtension, pVal);
    }
    STDMETHODIMP get_Extentions(BSTR* pVal) noexcept override { return CopyText(m_spec.extensions, pVal); }
    STDMETHODIMP get_ID(short* pVal) noexcept override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = m_spec.id;
        return S_OK;
    }
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* pVal) noexcept override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = m_spec.complex ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    static HRESULT CopyText(const wchar_t* text, BSTR* out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = ::SysAllocString(text ? text : L"");
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    FormatSpec m_spec{};
};

} // namespace

HRESULT CreateFormatObject(const FormatSpec& spec, ITolviFileFormat** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CKitFileFormat>>(
        IID_ITolviFileFormat, reinterpret_cast<void**>(out), [&](CKitFileFormat& f) {
            f.Init(spec);
            return S_OK;
        });
}

} // namespace vembro::kit
