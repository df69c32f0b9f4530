#pragma once
// A configurable translator: ITolviFileTranslator, ITolviFileTranslator2
// (unless noSync), IDispatch and its connection point for
// ITolviFileTranslatorEvents (unless noEvents).
#include "components/FakeDual.h"

namespace fakes {

class FakeTranslator : public FakeDual<ITolviFileTranslator2> {
public:
    // Not static: which interfaces a fake offers is part of its configuration.
    const vembro::QIEntry* QITable() const noexcept;

    STDMETHODIMP TranslateText(IDispatch* Direction, BSTR Text, BSTR* Result) noexcept override;
    STDMETHODIMP TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Info) noexcept override;
    STDMETHODIMP TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                 VARIANT Info) noexcept override;
    STDMETHODIMP get_Error(LONG* pVal) noexcept override;
    STDMETHODIMP IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept override;
    STDMETHODIMP SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Reserved) noexcept override;
    STDMETHODIMP SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                     VARIANT Reserved) noexcept override;
};

} // namespace fakes
