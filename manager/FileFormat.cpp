// One format as a client sees it: a read-only copy of the store's record,
// taken when the object is made.
#include "manager/FileFormats.h"

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "vembro/com/Strings.h"

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

    STDMETHODIMP get_Name(BSTR* pVal) noexcept override
    try {
        if (!pVal)
            return E_POINTER;
        // A record without a name string answers like a failed copy.
        *pVal = m_info.Name.Copy_nothrow();
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_DefaultExtention(BSTR* pVal) noexcept override
    try {
        return TextOut_nothrow(m_info.DefaultExtention, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_Extentions(BSTR* pVal) noexcept override
    try {
        return TextOut_nothrow(m_info.Extentions, pVal);
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_ID(short* pVal) noexcept override
    try {
        if (!pVal)
            return E_POINTER;
        *pVal = m_info.ID;
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()

    STDMETHODIMP get_IsComplex(VARIANT_BOOL* pVal) noexcept override
    try {
        if (!pVal)
            return E_POINTER;
        *pVal = m_info.IsComplex ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    VEMBRO_CATCH_RETURN()

    CFormatInfo m_info;

private:
    static HRESULT TextOut_nothrow(const std::string& text, BSTR* pVal) noexcept
    {
        if (!pVal)
            return E_POINTER;
        *pVal = BstrFromAnsi_nothrow(text);
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
};

} // namespace

HRESULT CreateFileFormat(const CFormatInfo& info, ITolviFileFormat** out) noexcept
{
    return CreateAndQuery_nothrow<CComObject<CTolviFileFormat>>(
        __uuidof(ITolviFileFormat), reinterpret_cast<void**>(out), [&](CTolviFileFormat& format) {
            format.m_info = info;
            return S_OK;
        });
}

} // namespace vembro
