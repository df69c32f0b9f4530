#include "components/FakeFormat.h"

#include "vembro/com/Strings.h"

namespace fakes {
namespace {
HRESULT AnswerString(const std::string& text, BSTR* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = vembro::BstrFromAnsi_nothrow(text);
    return *pVal ? S_OK : E_OUTOFMEMORY;
}
} // namespace

const vembro::QIEntry* FakeFormat::QITable() noexcept
{
    static const vembro::QIEntry table[] = {
        VEMBRO_QI(FakeFormat, ITolviFileFormat),
        VEMBRO_QI_AS(FakeFormat, IID_IDispatch, ITolviFileFormat),
        VEMBRO_QI_END,
    };
    return table;
}

HRESULT FakeFormat::Create_nothrow(const Format& format, ITolviFileFormat** pp) noexcept
{
    return vembro::CreateAndQuery_nothrow<vembro::CComObject<FakeFormat>>(
        __uuidof(ITolviFileFormat), reinterpret_cast<void**>(pp), [&](FakeFormat& f) {
            f.m_format = format;
            return S_OK;
        });
}

STDMETHODIMP FakeFormat::get_Name(BSTR* pVal) noexcept { return AnswerString(m_format.name, pVal); }
STDMETHODIMP FakeFormat::get_DefaultExtention(BSTR* pVal) noexcept { return AnswerString(m_format.defaultExt, pVal); }
STDMETHODIMP FakeFormat::get_Extentions(BSTR* pVal) noexcept { return AnswerString(m_format.exts, pVal); }

STDMETHODIMP FakeFormat::get_ID(short* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = m_format.id;
    return S_OK;
}

STDMETHODIMP FakeFormat::get_IsComplex(VARIANT_BOOL* pVal) noexcept
{
    if (!pVal)
        return E_POINTER;
    *pVal = m_format.complex ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

} // namespace fakes
