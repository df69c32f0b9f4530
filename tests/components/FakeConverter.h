#pragma once
// A configurable converter: ITolviFileConverter, ITolviFileConverter2,
// ITolviFileConverter3 (unless noSync), IDispatch and its connection point
// for ITolviFileConverterEvents (unless noEvents).
#include "com/Dispatch.h"
#include "com/Object.h"
#include "components/FakeComponent.h"

namespace fakes {

class FakeConverter : public vembro::CComObjectRootEx,
                      public vembro::IDispatchImpl<ITolviFileConverter3>,
                      public FakeComponent {
public:
    // Not static: which interfaces a fake offers is part of its configuration.
    const vembro::QIEntry* QITable() const noexcept;

    STDMETHODIMP get_SourceFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP get_TargetFormat(ITolviFileFormat** pVal) noexcept override;
    STDMETHODIMP IsFormatAvailableStream(IUnknown* Stream) noexcept override;
    STDMETHODIMP IsFormatAvailableFile(BSTR File) noexcept override;
    STDMETHODIMP ConvertFile(BSTR InFile, BSTR OutFile, VARIANT Info) noexcept override;
    STDMETHODIMP get_State(LONG* pVal) noexcept override;
    STDMETHODIMP Stop(VARIANT Info) noexcept override;
    STDMETHODIMP Suspend() noexcept override;
    STDMETHODIMP Resume() noexcept override;
    STDMETHODIMP ConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Info) noexcept override;
    STDMETHODIMP ConvertMemory(BSTR TextIn, BSTR* TextOut) noexcept override;
    STDMETHODIMP IsFormatAvailableMemory(BSTR Text) noexcept override;
    STDMETHODIMP get_Property(VARIANT Prop, VARIANT* pVal) noexcept override;
    STDMETHODIMP put_Property(VARIANT Prop, VARIANT newVal) noexcept override;
    STDMETHODIMP SyncConvertFile(BSTR InFile, BSTR OutFile, VARIANT Reserved) noexcept override;
    STDMETHODIMP SyncConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Reserved) noexcept override;
};

} // namespace fakes
