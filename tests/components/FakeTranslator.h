#pragma once
// A configurable translator: ITolviFileTranslator, ITolviFileTranslator2
// (unless noSync), IDispatch and its connection point for
// ITolviFileTranslatorEvents (unless noEvents).
#include "com/Dispatch.h"
#include "com/Object.h"
#include "components/FakeComponent.h"

namespace fakes {

class FakeTranslator : public vembro::CComObjectRootEx,
                       public vembro::IDispatchImpl<ITolviFileTranslator2>,
                       public FakeComponent {
public:
    // Not static: which interfaces a fake offers is part of its configuration.
    const vembro::QIEntry* QITable() const noexcept;

    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override;
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override;
    STDMETHODIMP get_State(LONG* pVal) noexcept override;
    STDMETHODIMP TranslateText(IDispatch* Direction, BSTR Text, BSTR* Result) noexcept override;
    STDMETHODIMP TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Info) noexcept override;
    STDMETHODIMP TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                 VARIANT Info) noexcept override;
    STDMETHODIMP Stop(VARIANT Info) noexcept override;
    STDMETHODIMP Suspend() noexcept override;
    STDMETHODIMP Resume() noexcept override;
    STDMETHODIMP get_Error(LONG* pVal) noexcept override;
    STDMETHODIMP IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept override;
    STDMETHODIMP SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Reserved) noexcept override;
    STDMETHODIMP SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                     VARIANT Reserved) noexcept override;
};

} // namespace fakes
