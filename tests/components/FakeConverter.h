#pragma once
// A configurable converter: ITolviFileConverter, ITolviFileConverter2,
// ITolviFileConverter3 (unless noSync), IDispatch and its connection point
// for ITolviFileConverterEvents (unless noEvents).
#include "components/FakeDual.h"

namespace fakes {

class FakeConverter : public FakeDual<ITolviFileConverter3> {
public:
    // Not static: which interfaces a fake offers is part of its configuration.
    const vembro::QIEntry* QITable() const noexcept;

    STDMETHODIMP IsFormatAvailableStream(IUnknown* Stream) noexcept override;
    STDMETHODIMP IsFormatAvailableFile(BSTR File) noexcept override;
    STDMETHODIMP ConvertFile(BSTR InFile, BSTR OutFile, VARIANT Info) noexcept override;
    STDMETHODIMP ConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Info) noexcept override;
    STDMETHODIMP ConvertMemory(BSTR TextIn, BSTR* TextOut) noexcept override;
    STDMETHODIMP IsFormatAvailableMemory(BSTR Text) noexcept override;
    STDMETHODIMP SyncConvertFile(BSTR InFile, BSTR OutFile, VARIANT Reserved) noexcept override;
    STDMETHODIMP SyncConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Reserved) noexcept override;
};

} // namespace fakes
