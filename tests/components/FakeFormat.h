#pragma once
// The format object that a fake hands out for its SourceFormat and
// TargetFormat: the configured record, read-only.
#include <windows.h>

#include "vembro/VembroDispatch.h"
#include "vembro/com/Object.h"
#include "support/Fakes.h"

namespace fakes {

class FakeFormat : public vembro::CComObjectRootEx, public vembro::VembroDispatch<ITolviFileFormat> {
public:
    static const vembro::QIEntry* QITable() noexcept;
    // A new object with one reference for the caller.
    static HRESULT Create_nothrow(const Format& format, ITolviFileFormat** pp) noexcept;

    STDMETHODIMP get_Name(BSTR* pVal) noexcept override;
    STDMETHODIMP get_DefaultExtention(BSTR* pVal) noexcept override;
    STDMETHODIMP get_Extentions(BSTR* pVal) noexcept override;
    STDMETHODIMP get_ID(short* pVal) noexcept override;
    STDMETHODIMP get_IsComplex(VARIANT_BOOL* pVal) noexcept override;

private:
    Format m_format;
};

} // namespace fakes
