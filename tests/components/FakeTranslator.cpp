#include "components/FakeTranslator.h"

#include "components/FakeText.h"

namespace fakes {

const vembro::QIEntry* FakeTranslator::QITable() const noexcept
{
    static const FaceTables tables(
        {
            VEMBRO_QI(FakeTranslator, ITolviFileTranslator),
            VEMBRO_QI_AS(FakeTranslator, IID_IDispatch, ITolviFileTranslator2),
        },
        VEMBRO_QI(FakeTranslator, ITolviFileTranslator2), VEMBRO_QI(FakeTranslator, IConnectionPointContainer));
    return tables.Get(Does().noSync, Does().noEvents);
}

STDMETHODIMP FakeTranslator::TranslateText(IDispatch* Direction, BSTR Text, BSTR* Result) noexcept
try {
    Call("TranslateText(direction=" + PointerText(Direction) + ", text=" + TextOf(Text) + ")");
    return AppendRoute(Text, Result);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::TranslateFile(IDispatch* Direction, BSTR Source, BSTR Target, VARIANT Info) noexcept
try {
    Call("TranslateFile(direction=" + PointerText(Direction) + ", in=" + TextOf(Source) + ", out=" + TextOf(Target) +
         ", info=" + VariantText(Info) + ")");
    return Start(FileJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::TranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                             VARIANT Info) noexcept
try {
    Call("TranslateStream(direction=" + PointerText(Direction) + ", in=" + StreamText(Source) +
         ", out=" + StreamText(Target) + ", info=" + VariantText(Info) + ")");
    return Start(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::SyncTranslateFile(IDispatch* Direction, BSTR Source, BSTR Target,
                                               VARIANT Reserved) noexcept
try {
    Call("SyncTranslateFile(direction=" + PointerText(Direction) + ", in=" + TextOf(Source) + ", out=" +
         TextOf(Target) + ", reserved=" + VariantText(Reserved) + ")");
    return RunSync_nothrow(FileJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                                 VARIANT Reserved) noexcept
try {
    Call("SyncTranslateStream(direction=" + PointerText(Direction) + ", in=" + StreamText(Source) +
         ", out=" + StreamText(Target) + ", reserved=" + VariantText(Reserved) + ")");
    return RunSync_nothrow(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::get_Error(LONG* pVal) noexcept
try {
    Call("Error");
    if (!pVal)
        return E_POINTER;
    *pVal = ErrorValue();
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::IsFormatAvailable(VARIANT varData, tagFILEDATATYPE type) noexcept
try {
    return DetectData_nothrow(varData, type);
}
VEMBRO_CATCH_RETURN()

} // namespace fakes
