#include "components/FakeTranslator.h"

#include "components/FakeText.h"

namespace fakes {

const vembro::QIEntry* FakeTranslator::QITable() const noexcept
{
#define FAKE_TRANSLATOR_FACES                          \
    VEMBRO_QI(FakeTranslator, ITolviFileTranslator), \
        VEMBRO_QI_AS(FakeTranslator, IID_IDispatch, ITolviFileTranslator2)
    static const vembro::QIEntry all[] = {
        FAKE_TRANSLATOR_FACES,
        VEMBRO_QI(FakeTranslator, ITolviFileTranslator2),
        VEMBRO_QI(FakeTranslator, IConnectionPointContainer),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry noSync[] = {
        FAKE_TRANSLATOR_FACES,
        VEMBRO_QI(FakeTranslator, IConnectionPointContainer),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry noEvents[] = {
        FAKE_TRANSLATOR_FACES,
        VEMBRO_QI(FakeTranslator, ITolviFileTranslator2),
        VEMBRO_QI_END,
    };
    static const vembro::QIEntry neither[] = {
        FAKE_TRANSLATOR_FACES,
        VEMBRO_QI_END,
    };
#undef FAKE_TRANSLATOR_FACES
    if (Does().noSync)
        return Does().noEvents ? neither : noSync;
    return Does().noEvents ? noEvents : all;
}

STDMETHODIMP FakeTranslator::get_SourceFormat(ITolviFileFormat** pVal) noexcept
try {
    return FormatOf(true, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::get_TargetFormat(ITolviFileFormat** pVal) noexcept
try {
    return FormatOf(false, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::get_Property(VARIANT Prop, VARIANT* pVal) noexcept
try {
    return DoGetProperty(Prop, pVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::put_Property(VARIANT Prop, VARIANT newVal) noexcept
try {
    return DoPutProperty(Prop, newVal);
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::get_State(LONG* pVal) noexcept
try {
    Call("State");
    if (!pVal)
        return E_POINTER;
    *pVal = StateValue();
    return S_OK;
}
VEMBRO_CATCH_RETURN()

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
    return RunSync(FileJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::SyncTranslateStream(IDispatch* Direction, IUnknown* Source, IUnknown* Target,
                                                 VARIANT Reserved) noexcept
try {
    Call("SyncTranslateStream(direction=" + PointerText(Direction) + ", in=" + StreamText(Source) +
         ", out=" + StreamText(Target) + ", reserved=" + VariantText(Reserved) + ")");
    return RunSync(StreamJob(Source, Target));
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::Stop(VARIANT Info) noexcept
try {
    Call("Stop(info=" + VariantText(Info) + ")");
    return DoStop();
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::Suspend() noexcept
try {
    Call("Suspend");
    SetState(FTSTATE_SUSPEND);
    return S_OK;
}
VEMBRO_CATCH_RETURN()

STDMETHODIMP FakeTranslator::Resume() noexcept
try {
    Call("Resume");
    SetState(FTSTATE_TRANSLATE);
    return S_OK;
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
    return DetectData(varData, type);
}
VEMBRO_CATCH_RETURN()

} // namespace fakes
