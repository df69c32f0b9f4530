#include "components/FakeConverter.h"

#include "components/FakeText.h"

namespace fakes {

const vembro::QIEntry* FakeConverter::QITable() const noexcept
{
#define FAKE_CONVERTER_FACES                                                     \
    VEMBRO_QI(FakeConverter, ITolviFileConverter),                               \
        VEMBRO_QI_AS(FakeConverter, IID_ITolviFileConverter2, ITolviFileConverter3), \
        VEMBRO_QI_AS(FakeConverter, IID_IDispatch, ITolviFileConverter3)
    static const vembro::QIEntry all[] = {
        FAKE_CONVERTER_FACES,
        VEMBRO_QI(FakeConverter, ITolviFileConverter3),
        VEMBRO_QI(FakeConverter, IConnectionPointContainer),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry noSync[] = {
        FAKE_CONVERTER_FACES,
        VEMBRO_QI(FakeConverter, IConnectionPointContainer),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry noEvents[] = {
        FAKE_CONVERTER_FACES,
        VEMBRO_QI(FakeConverter, ITolviFileConverter3),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry neither[] = {
        FAKE_CONVERTER_FACES,
        VEMBRO_QI_END,
    };
#undef FAKE_CONVERTER_FACES
    if (Does().noSync)
        return Does().noEvents ? neither : noSync;
    return Does().noEvents ? noEvents : all;
}

STDMETHODIMP FakeConverter::get_SourceFormat(ITolviFileFormat** pVal) noexcept
try {
    return FormatOf(true, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::get_TargetFormat(ITolviFileFormat** pVal) noexcept
try {
    return FormatOf(false, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::IsFormatAvailableStream(IUnknown* Stream) noexcept
try {
    return DetectStream(Stream);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::IsFormatAvailableFile(BSTR File) noexcept
try {
    return DetectFile(File);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::IsFormatAvailableMemory(BSTR Text) noexcept
try {
    return DetectText(Text);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::ConvertFile(BSTR InFile, BSTR OutFile, VARIANT Info) noexcept
try {
    Call("ConvertFile(in=" + TextOf(InFile) + ", out=" + TextOf(OutFile) + ", info=" + VariantText(Info) + ")");
    return Start(FileJob(InFile, OutFile));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::ConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Info) noexcept
try {
    Call("ConvertStream(in=" + StreamText(Source) + ", out=" + StreamText(Target) + ", info=" + VariantText(Info) + ")");
    return Start(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::SyncConvertFile(BSTR InFile, BSTR OutFile, VARIANT Reserved) noexcept
try {
    Call("SyncConvertFile(in=" + TextOf(InFile) + ", out=" + TextOf(OutFile) + ", reserved=" + VariantText(Reserved) +
         ")");
    return RunSync(FileJob(InFile, OutFile));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::SyncConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Reserved) noexcept
try {
    Call("SyncConvertStream(in=" + StreamText(Source) + ", out=" + StreamText(Target) +
         ", reserved=" + VariantText(Reserved) + ")");
    return RunSync(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::ConvertMemory(BSTR TextIn, BSTR* TextOut) noexcept
try {
    Call("ConvertMemory(text=" + TextOf(TextIn) + ")");
    return AppendRoute(TextIn, TextOut);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::get_State(LONG* pVal) noexcept
try {
    Call("State");
    if (!pVal)
        return E_POINTER;
    *pVal = StateValue();
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::Stop(VARIANT Info) noexcept
try {
    Call("Stop(info=" + VariantText(Info) + ")");
    return DoStop();
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::Suspend() noexcept
try {
    Call("Suspend");
    SetState(FTSTATE_SUSPEND);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::Resume() noexcept
try {
    Call("Resume");
    SetState(FTSTATE_CONVERT);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::get_Property(VARIANT Prop, VARIANT* pVal) noexcept
try {
    return DoGetProperty(Prop, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::put_Property(VARIANT Prop, VARIANT newVal) noexcept
try {
    return DoPutProperty(Prop, newVal);
}
VEMBRO_CATCH_RETURN()

} // namespace fakes
