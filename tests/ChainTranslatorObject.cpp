// The chain translator as an object: identity, properties, state and the
// answers that need no component.
#include <gtest/gtest.h>

#include "ChainTranslatorClient.h"
#include "support/ComChecks.h"
#include "vembro/com/Module.h"
#include "support/Fakes.h"
#include "translator/ChainFactory.h"

using Microsoft::WRL::ComPtr;
using namespace chaintest;
using vembro::CChainItem;
using vembro::CHAINITEM_CONVERTER;
using vembro::CHAINITEM_TRANSLATOR;

namespace {

const std::string kMissing = "VT_ERROR:80020004";

class ChainTranslatorObject : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(0, vembro::ModuleLockCount());
        ::CoUninitialize();
    }
    static vembro::CChain ThreeSteps()
    {
        return MakeChain({CChainItem(1, 2, CHAINITEM_CONVERTER), CChainItem(2, 3, CHAINITEM_TRANSLATOR),
                          CChainItem(3, 4, CHAINITEM_CONVERTER)});
    }
    // The answer of get_Property for `name`: "<hr>|<value>".
    static std::string Read(ITolviFileTranslator* t, const VARIANT& name)
    {
        VARIANT out;
        V_VT(&out) = VT_I4;
        V_I4(&out) = 0x5EED;
        HRESULT hr = t->get_Property(name, &out);
        std::string text = std::to_string(static_cast<unsigned long>(hr)) + "|" + VariantText(out);
        ::VariantClear(&out);
        return text;
    }
    static std::string Ok(const std::string& value) { return "0|" + value; }
    static std::string Invalid() { return std::to_string(static_cast<unsigned long>(E_INVALIDARG)) + "|" + kMissing; }
};

TEST_F(ChainTranslatorObject, AnswersItsFiveInterfacesAndNothingElse)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    ComPtr<IUnknown> unknown;
    ComPtr<ITolviFileTranslator2> t2;
    ComPtr<IDispatch> dispatch;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, t.As(&unknown));
    ASSERT_EQ(S_OK, t.As(&t2));
    ASSERT_EQ(S_OK, t.As(&dispatch));
    ASSERT_EQ(S_OK, t.As(&container));
    // One dual table serves the translator faces, IDispatch and the identity.
    EXPECT_EQ(static_cast<void*>(t.Get()), static_cast<void*>(t2.Get()));
    EXPECT_EQ(static_cast<void*>(t.Get()), static_cast<void*>(dispatch.Get()));
    EXPECT_EQ(static_cast<void*>(t.Get()), static_cast<void*>(unknown.Get()));
    ComPtr<IUnknown> back;
    ASSERT_EQ(S_OK, container.As(&back));
    EXPECT_EQ(unknown.Get(), back.Get());

    void* poisoned = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, t->QueryInterface(IID_ITolviFileTranslator3, &poisoned));
    EXPECT_EQ(nullptr, poisoned);
    poisoned = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, t->QueryInterface(IID_IConnectionPoint, &poisoned));
    EXPECT_EQ(nullptr, poisoned);
    EXPECT_EQ(E_NOINTERFACE, t->QueryInterface(IID_ISupportErrorInfo, &poisoned));
    EXPECT_EQ(E_NOINTERFACE, t->QueryInterface(IID_ITolviFileConverter, &poisoned));
}

TEST_F(ChainTranslatorObject, HoldsOneModuleLockWhileAlive)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(1, vembro::ModuleLockCount());
    ComPtr<ITolviFileTranslator> second = MakeTranslator(ThreeSteps());
    EXPECT_EQ(2, vembro::ModuleLockCount());
    second.Reset();
    EXPECT_EQ(1, vembro::ModuleLockCount());
    EXPECT_EQ(1UL, t.Get()->AddRef() - 1);
    EXPECT_EQ(1UL, t.Get()->Release());
}

TEST_F(ChainTranslatorObject, FactoryChecksItsOutput)
{
    EXPECT_EQ(E_POINTER, vembro::CreateChainTranslator(ThreeSteps(), nullptr));
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

TEST_F(ChainTranslatorObject, NewObjectIsReadyWithoutError)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    LONG state = 0x5EED, error = 0x5EED;
    EXPECT_EQ(S_OK, t->get_State(&state));
    EXPECT_EQ(FTSTATE_READY, state);
    EXPECT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(S_OK, error);
    EXPECT_EQ(E_POINTER, t->get_State(nullptr));
    EXPECT_EQ(E_POINTER, t->get_Error(nullptr));
    EXPECT_EQ(E_POINTER, t->get_Property(Var::Str("PRIORITY"), nullptr));
    EXPECT_EQ(E_POINTER, t->get_SourceFormat(nullptr));
    EXPECT_EQ(E_POINTER, t->get_TargetFormat(nullptr));
}

TEST_F(ChainTranslatorObject, EmptyChainRefusesEverythingWithUnexpected)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(vembro::CChain());
    ComPtr<ITolviFileTranslator2> t2;
    ASSERT_EQ(S_OK, t.As(&t2));
    ComPtr<ClientSink> sink = ClientSink::Create();
    DWORD cookie = Connect(t.Get(), sink.Get());
    ComPtr<IDispatch> direction = MakeDirection();
    ComPtr<IStream> in = MakeStream("x"), out = MakeStream();
    auto source = Bstr("in.a"), target = Bstr("out.d");

    // Out-pointers are cleared on every failure.
    LONG value = 0x5EED;
    EXPECT_EQ(E_UNEXPECTED, t->get_State(&value));
    EXPECT_EQ(0, value);
    value = 0x5EED;
    EXPECT_EQ(E_UNEXPECTED, t->get_Error(&value));
    EXPECT_EQ(0, value);
    ITolviFileFormat* format = reinterpret_cast<ITolviFileFormat*>(0x1234);
    EXPECT_EQ(E_UNEXPECTED, t->get_SourceFormat(&format));
    EXPECT_EQ(nullptr, format);
    format = reinterpret_cast<ITolviFileFormat*>(0x1234);
    EXPECT_EQ(E_UNEXPECTED, t->get_TargetFormat(&format));
    EXPECT_EQ(nullptr, format);
    EXPECT_EQ(E_UNEXPECTED, t->put_Property(Var::Str("PRIORITY"), Var::I4(1)));
    EXPECT_EQ(E_UNEXPECTED, t->put_Property(Var::Str("Mode"), Var::I4(1)));
    VARIANT v;
    ::VariantInit(&v);
    EXPECT_EQ(E_UNEXPECTED, t->get_Property(Var::Str("Mode"), &v));
    EXPECT_EQ(E_UNEXPECTED, t->TranslateFile(direction.Get(), source.get(), target.get(), Var::Missing()));
    EXPECT_EQ(E_UNEXPECTED, t->TranslateStream(direction.Get(), in.Get(), out.Get(), Var::Missing()));
    EXPECT_EQ(E_UNEXPECTED, t->Stop(Var::Missing()));
    EXPECT_EQ(E_UNEXPECTED, t->Suspend());
    EXPECT_EQ(E_UNEXPECTED, t->Resume());
    EXPECT_EQ(E_UNEXPECTED, t->IsFormatAvailable(Var::Str("in.a"), FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_UNEXPECTED, t2->SyncTranslateFile(direction.Get(), source.get(), target.get(), Var::Missing()));
    EXPECT_EQ(E_UNEXPECTED, t2->SyncTranslateStream(direction.Get(), in.Get(), out.Get(), Var::Missing()));
    // Nothing was started, so nothing was told.
    EXPECT_EQ(Lines{}, sink->Events());
    Disconnect(t.Get(), cookie);
}

TEST_F(ChainTranslatorObject, NullArgumentsOfTheRunsArePointerErrors)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    ComPtr<ITolviFileTranslator2> t2;
    ASSERT_EQ(S_OK, t.As(&t2));
    ComPtr<ClientSink> sink = ClientSink::Create();
    DWORD cookie = Connect(t.Get(), sink.Get());
    ComPtr<IDispatch> d = MakeDirection();
    ComPtr<IStream> s = MakeStream();
    auto name = Bstr("x");
    EXPECT_EQ(E_POINTER, t->TranslateFile(nullptr, name.get(), name.get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t->TranslateFile(d.Get(), nullptr, name.get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t->TranslateFile(d.Get(), name.get(), nullptr, Var::Missing()));
    EXPECT_EQ(E_POINTER, t->TranslateStream(nullptr, s.Get(), s.Get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t->TranslateStream(d.Get(), nullptr, s.Get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t->TranslateStream(d.Get(), s.Get(), nullptr, Var::Missing()));
    EXPECT_EQ(E_POINTER, t2->SyncTranslateFile(nullptr, name.get(), name.get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t2->SyncTranslateFile(d.Get(), name.get(), nullptr, Var::Missing()));
    EXPECT_EQ(E_POINTER, t2->SyncTranslateStream(d.Get(), nullptr, s.Get(), Var::Missing()));
    EXPECT_EQ(E_POINTER, t2->SyncTranslateStream(d.Get(), s.Get(), nullptr, Var::Missing()));
    EXPECT_EQ(Lines{}, sink->Events());
    LONG state = -1;
    ASSERT_EQ(S_OK, t->get_State(&state));
    EXPECT_EQ(FTSTATE_READY, state);
    Disconnect(t.Get(), cookie);
}

TEST_F(ChainTranslatorObject, TranslateTextIsNotImplementedWhateverItIsGiven)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(E_NOTIMPL, t->TranslateText(nullptr, nullptr, nullptr));
    BSTR result = reinterpret_cast<BSTR>(0x1234);
    auto text = Bstr("text");
    EXPECT_EQ(E_NOTIMPL, t->TranslateText(MakeDirection().Get(), text.get(), &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(E_NOTIMPL, MakeTranslator(vembro::CChain())->TranslateText(nullptr, nullptr, nullptr));
}

TEST_F(ChainTranslatorObject, SinkLostAtReMarshallingKeepsNoReference)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(MakeChain({CChainItem(1, 2, CHAINITEM_CONVERTER)}));
    ComPtr<ClientSink> sink = ClientSink::Create();
    const ULONG alone = comtest::RefCount(sink.Get());
    Connect(t.Get(), sink.Get());
    sink->LimitEventQueries(1); // the next unmarshalling works, the re-marshalling after it does not
    EXPECT_EQ(S_OK, t->Stop(Var::Missing()));
    EXPECT_EQ(Lines{"State(4)"}, sink->Events());
    // The connection is gone for good, and with it every reference it held.
    EXPECT_EQ(alone, comtest::RefCount(sink.Get()));
    EXPECT_EQ(S_OK, t->Stop(Var::Missing()));
    EXPECT_EQ(Lines{"State(4)"}, sink->Events());
}

TEST_F(ChainTranslatorObject, StopOnANewObjectEndsWithStopped)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    ComPtr<ClientSink> sink = ClientSink::Create();
    DWORD cookie = Connect(t.Get(), sink.Get());
    EXPECT_EQ(S_OK, t->Stop(Var::I4(42)));
    EXPECT_EQ(Lines{"State(4)"}, sink->Events());
    LONG state = -1, error = -1;
    ASSERT_EQ(S_OK, t->get_State(&state));
    ASSERT_EQ(S_OK, t->get_Error(&error));
    EXPECT_EQ(FTSTATE_STOPPED, state);
    EXPECT_EQ(S_OK, error);
    Disconnect(t.Get(), cookie);
}

TEST_F(ChainTranslatorObject, SuspendIsNeverSupportedAndResumeOnlyRefusesASuspension)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(E_NOTIMPL, t->Suspend());
    EXPECT_EQ(S_OK, t->Resume());
    ASSERT_EQ(S_OK, t->Stop(Var::Missing()));
    EXPECT_EQ(E_NOTIMPL, t->Suspend());
    EXPECT_EQ(S_OK, t->Resume());
    LONG state = -1;
    ASSERT_EQ(S_OK, t->get_State(&state));
    EXPECT_EQ(FTSTATE_STOPPED, state); // neither changes the state
}

TEST_F(ChainTranslatorObject, PriorityAcceptsOnlySmallIntegers)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(Ok("VT_I4:0"), Read(t.Get(), Var::Str("PRIORITY")));
    EXPECT_EQ(E_INVALIDARG, t->put_Property(Var::Str("priority"), Var::I4(3)));
    EXPECT_EQ(E_INVALIDARG, t->put_Property(Var::Str("PRIORITY"), Var::I4(-3)));
    EXPECT_EQ(E_INVALIDARG, t->put_Property(Var::Str("PRIORITY"), Var::Str("1")));
    EXPECT_EQ(Ok("VT_I4:0"), Read(t.Get(), Var::Str("PRIORITY")));

    EXPECT_EQ(S_OK, t->put_Property(Var::Str("PRIORITY"), Var::I2(-2)));
    EXPECT_EQ(Ok("VT_I4:-2"), Read(t.Get(), Var::Str("PRIORITY")));
    EXPECT_EQ(Ok("VT_I4:-2"), Read(t.Get(), Var::Str("Priority")));
    // A byte widens to a 16-bit integer first, so it is a priority as well.
    EXPECT_EQ(S_OK, t->put_Property(Var::Str("pRiOrItY"), Var::Of(VT_UI1, 2)));
    EXPECT_EQ(Ok("VT_I4:2"), Read(t.Get(), Var::Str("PRIORITY")));
    EXPECT_EQ(E_INVALIDARG, t->put_Property(Var::Str("PRIORITY"), Var::I4(3)));
    EXPECT_EQ(Ok("VT_I4:2"), Read(t.Get(), Var::Str("PRIORITY")));
}

TEST_F(ChainTranslatorObject, StoredNamesAreCaseSensitive)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(S_OK, t->put_Property(Var::Str("Mode"), Var::I4(5)));
    EXPECT_EQ(Ok("VT_I4:5"), Read(t.Get(), Var::Str("Mode")));
    EXPECT_EQ(Invalid(), Read(t.Get(), Var::Str("mode")));
    EXPECT_EQ(Invalid(), Read(t.Get(), Var::Str("Unset")));
}

TEST_F(ChainTranslatorObject, NamesAreNormalisedBeforeTheyAreStored)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(S_OK, t->put_Property(Var::Of(VT_UI1, 7), Var::Str("seven")));
    EXPECT_EQ(Ok("VT_BSTR:seven"), Read(t.Get(), Var::I2(7)));
    EXPECT_EQ(Ok("VT_BSTR:seven"), Read(t.Get(), Var::Of(VT_UI2, 7)));
    EXPECT_EQ(Invalid(), Read(t.Get(), Var::I4(7)));
}

TEST_F(ChainTranslatorObject, SettingANameTwiceKeepsTheSecondValue)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    EXPECT_EQ(S_OK, t->put_Property(Var::Str("Mode"), Var::I4(1)));
    EXPECT_EQ(S_OK, t->put_Property(Var::Str("Mode"), Var::Str("fast")));
    EXPECT_EQ(Ok("VT_BSTR:fast"), Read(t.Get(), Var::Str("Mode")));
}

TEST_F(ChainTranslatorObject, FailingNormalisationIsReturnedWithTheMissingAnswer)
{
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    // A real number that does not fit into the VT_I4 it is widened to.
    Var huge;
    V_VT(&huge) = VT_R8;
    V_R8(&huge) = 1e12;
    VARIANT out;
    V_VT(&out) = VT_I4;
    V_I4(&out) = 0x5EED;
    HRESULT hr = t->get_Property(huge, &out);
    EXPECT_EQ(DISP_E_OVERFLOW, hr);
    EXPECT_EQ(kMissing, VariantText(out));
    EXPECT_EQ(DISP_E_OVERFLOW, t->put_Property(huge, Var::I4(1)));
    EXPECT_EQ(DISP_E_OVERFLOW, t->put_Property(Var::Str("PRIORITY"), huge));
}

TEST_F(ChainTranslatorObject, FormatsComeFromTheFirstAndLastStep)
{
    fakes::Installation inst;
    inst.Converter("A2B", {1, "A", "a", "a"}, {2, "B", "b", "b"})
        .Translator("B2C", {2, "B", "b", "b"}, {3, "C", "c", "c"})
        .Converter("C2D", {3, "C", "c", "c"}, {4, "D", "d", "d"})
        .Install();
    ComPtr<ITolviFileTranslator> t = MakeTranslator(ThreeSteps());
    // The format store is filled by the registries.
    EXPECT_EQ(S_FALSE, t->IsFormatAvailable(Var::Str("x.a"), FILEDATATYPE_TEXT)); // loads the converters

    ComPtr<ITolviFileFormat> source, source2, target;
    ASSERT_EQ(S_OK, t->get_SourceFormat(&source));
    ASSERT_EQ(S_OK, t->get_SourceFormat(&source2));
    ASSERT_EQ(S_OK, t->get_TargetFormat(&target));
    short id = 0;
    ASSERT_EQ(S_OK, source->get_ID(&id));
    EXPECT_EQ(1, id);
    ASSERT_EQ(S_OK, target->get_ID(&id));
    EXPECT_EQ(4, id);
    EXPECT_NE(source.Get(), source2.Get());
    source.Reset();
    source2.Reset();
    target.Reset();

    // Identifiers that no component reported have no record.
    ComPtr<ITolviFileTranslator> unknown = MakeTranslator(MakeChain({CChainItem(90, 2, CHAINITEM_CONVERTER),
                                                                     CChainItem(2, 91, CHAINITEM_TRANSLATOR)}));
    ITolviFileFormat* none = reinterpret_cast<ITolviFileFormat*>(0x1234);
    EXPECT_EQ(E_UNEXPECTED, unknown->get_SourceFormat(&none));
    EXPECT_EQ(nullptr, none);
    none = reinterpret_cast<ITolviFileFormat*>(0x1234);
    EXPECT_EQ(E_UNEXPECTED, unknown->get_TargetFormat(&none));
    EXPECT_EQ(nullptr, none);
    unknown.Reset();
    t.Reset();
    EXPECT_EQ(0, inst.LiveObjects());
}

} // namespace
