#include "components/FakeConverter.h"

#include "components/FakeText.h"

namespace fakes {

const vembro::QIEntry* FakeConverter::QITable() const noexcept
{
    static const FaceTables tables(
        {
            VEMBRO_QI(FakeConverter, ITolviFileConverter),
            VEMBRO_QI_AS(FakeConverter, IID_ITolviFileConverter2, ITolviFileConverter3),
            VEMBRO_QI_AS(FakeConverter, IID_IDispatch, ITolviFileConverter3),
        },
        VEMBRO_QI(FakeConverter, ITolviFileConverter3), VEMBRO_QI(FakeConverter, IConnectionPointContainer));
    return tables.Get(Does().noSync, Does().noEvents);
}

STDMETHODIMP FakeConverter::IsFormatAvailableStream(IUnknown* Stream) noexcept
try {
    return DetectStream_nothrow(Stream);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::IsFormatAvailableFile(BSTR File) noexcept
try {
    return DetectFile_nothrow(File);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::IsFormatAvailableMemory(BSTR Text) noexcept
try {
    return DetectText_nothrow(Text);
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
    return RunSync_nothrow(FileJob(InFile, OutFile));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::SyncConvertStream(IUnknown* Source, IUnknown* Target, VARIANT Reserved) noexcept
try {
    Call("SyncConvertStream(in=" + StreamText(Source) + ", out=" + StreamText(Target) +
         ", reserved=" + VariantText(Reserved) + ")");
    return RunSync_nothrow(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeConverter::ConvertMemory(BSTR TextIn, BSTR* TextOut) noexcept
try {
    Call("ConvertMemory(text=" + TextOf(TextIn) + ")");
    return AppendRoute(TextIn, TextOut);
}
VEMBRO_CATCH_RETURN()

} // namespace fakes
