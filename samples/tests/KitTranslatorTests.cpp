// A kit translator: runs, errors, properties with their PropertyChange
// events, the VARIANT detection and dispatch through the type library.
#include <gtest/gtest.h>

#include "Recorder.h"
#include "pseudoloc/Pseudo.h"
#include "pseudoloc/PseudoTranslator.h"
#include "vembro/kit/Data.h"
#include "vembro/kit/Module.h"

using Microsoft::WRL::ComPtr;
using namespace kittest;

namespace {

ComPtr<ITolviFileTranslator2> MakePseudo()
{
    ComPtr<ITolviFileTranslator2> translator;
    EXPECT_EQ(S_OK, vembro::kit::CreateComponent<samples::CPseudoTranslator>(
                        IID_ITolviFileTranslator2, reinterpret_cast<void**>(translator.GetAddressOf())));
    return translator;
}

struct Named : vembro::unique_variant {
    explicit Named(const wchar_t* text)
    {
        V_VT(this) = VT_BSTR;
        V_BSTR(this) = ::SysAllocString(text);
    }
};

class KitTranslator : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(ModuleLocksReachZero()); }
    Recorder events;
    TempDir dir;
};

const char kPage[] = "<html><body><p>Hello</p></body></html>";

} // namespace

TEST_F(KitTranslator, ExpansionPropertyIsNotifiedAndUsed)
{
    auto translator = MakePseudo();
    auto sink = MakeTranslatorSink(events);
    Advise(translator.Get(), IID_ITolviFileTranslatorEvents, sink.Get());
    vembro::unique_variant zero;
    V_VT(&zero) = VT_I4;
    V_I4(&zero) = 0;
    ASSERT_EQ(S_OK, translator->put_Property(Named(L"Expansion"), zero));
    auto in = StreamOf(kPage);
    auto out = vembro::kit::NewMemoryStream();

    EXPECT_EQ(S_OK, translator->SyncTranslateStream(nullptr, in.Get(), out.Get(), vembro::MissingArgument()));
    EXPECT_EQ("<html><body><p>[Ĥéļļó]</p></body></html>", vembro::kit::ContentOf(out.Get()));
    auto lines = events.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("property Expansion=0", lines[0]);
    EXPECT_EQ("state 2", lines[1]);
    EXPECT_EQ("state 5", lines.back());
}

TEST_F(KitTranslator, AsyncFileRunReportsTranslateStates)
{
    auto translator = MakePseudo();
    auto sink = MakeTranslatorSink(events);
    Advise(translator.Get(), IID_ITolviFileTranslatorEvents, sink.Get());
    std::wstring in = dir.Path(L"in.htm"), out = dir.Path(L"out.htm");
    TempDir::Write(in, kPage);
    vembro::unique_bstr bin = vembro::MakeBstr(in.c_str()), bout = vembro::MakeBstr(out.c_str());

    ASSERT_EQ(S_OK, translator->TranslateFile(nullptr, bin.get(), bout.get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 2", "state 5"}), events.States());
    EXPECT_EQ(samples::PseudoLocaliseHtml(kPage, 30), TempDir::Read(out));
    LONG error = -1;
    EXPECT_EQ(S_OK, translator->get_Error(&error));
    EXPECT_EQ(S_OK, error);
}

TEST_F(KitTranslator, FailedRunKeepsItsCodeInError)
{
    auto translator = MakePseudo();
    auto sink = MakeTranslatorSink(events);
    Advise(translator.Get(), IID_ITolviFileTranslatorEvents, sink.Get());
    vembro::unique_variant bad;
    V_VT(&bad) = VT_I4;
    V_I4(&bad) = -5;
    ASSERT_EQ(S_OK, translator->put_Property(Named(L"EXPANSION"), bad));
    auto in = StreamOf(kPage);
    auto out = vembro::kit::NewMemoryStream();

    EXPECT_EQ(E_INVALIDARG, translator->SyncTranslateStream(nullptr, in.Get(), out.Get(), vembro::MissingArgument()));
    LONG error = 0, state = 0;
    EXPECT_EQ(S_OK, translator->get_Error(&error));
    EXPECT_EQ(E_INVALIDARG, error);
    EXPECT_EQ(S_OK, translator->get_State(&state));
    EXPECT_EQ(FTSTATE_ERROR, state);
    EXPECT_EQ("state 6", events.Lines().back());
}

TEST_F(KitTranslator, DetectionTakesTheThreeKindsOfData)
{
    auto translator = MakePseudo();
    std::wstring file = dir.Path(L"page.txt");
    TempDir::Write(file, kPage);
    Named name(file.c_str()), text(L"<!DOCTYPE html><p>x</p>");
    vembro::unique_variant stream, number;
    V_VT(&stream) = VT_UNKNOWN;
    V_UNKNOWN(&stream) = StreamOf("# not html").Detach();
    V_VT(&number) = VT_I4;
    V_I4(&number) = 1;

    EXPECT_EQ(S_OK, translator->IsFormatAvailable(name, FILEDATATYPE_FILENAME));
    EXPECT_EQ(S_OK, translator->IsFormatAvailable(text, FILEDATATYPE_TEXT));
    EXPECT_EQ(S_FALSE, translator->IsFormatAvailable(stream, FILEDATATYPE_STREAM));
    EXPECT_EQ(E_INVALIDARG, translator->IsFormatAvailable(number, FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_INVALIDARG, translator->IsFormatAvailable(name, static_cast<tagFILEDATATYPE>(3)));
    EXPECT_EQ(E_INVALIDARG, translator->IsFormatAvailable(name, FILEDATATYPE_STREAM));
}

TEST_F(KitTranslator, ByReferenceDataIsFollowed)
{
    auto translator = MakePseudo();
    Named text(L"<html>x</html>");
    VARIANT ref;
    ::VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = &text;
    EXPECT_EQ(S_OK, translator->IsFormatAvailable(ref, FILEDATATYPE_TEXT));
}

TEST_F(KitTranslator, TranslateTextWorksInMemory)
{
    auto translator = MakePseudo();
    vembro::unique_bstr in = vembro::MakeBstr(L"<p>Hi</p>"), out;
    EXPECT_EQ(S_OK, translator->TranslateText(nullptr, in.get(), out.put()));
    EXPECT_EQ(vembro::kit::WideFromUtf8("<p>[Ĥí~]</p>"), std::wstring(out.get(), ::SysStringLen(out.get())));
    EXPECT_EQ(E_POINTER, translator->TranslateText(nullptr, in.get(), nullptr));
}

TEST_F(KitTranslator, DispatchGoesThroughTheRegisteredLibrary)
{
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(L"" VEMBRO_TLB_PATH, REGKIND_REGISTER, &lib));
    auto translator = MakePseudo();
    ComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, translator.As(&disp));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"TranslateText")};
    DISPID id = 0;
    ASSERT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id));
    EXPECT_EQ(5, id);

    VARIANT args[2];
    ::VariantInit(&args[0]);
    ::VariantInit(&args[1]);
    V_VT(&args[0]) = VT_BSTR; // arguments travel last first
    V_BSTR(&args[0]) = ::SysAllocString(L"<b>Go</b>");
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = nullptr;
    DISPPARAMS params{args, nullptr, 2, 0};
    vembro::unique_variant result;
    EXPECT_EQ(S_OK, disp->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
    ::VariantClear(&args[0]);
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    EXPECT_EQ(vembro::kit::WideFromUtf8("<b>[Ĝó~]</b>"), std::wstring(V_BSTR(&result), ::SysStringLen(V_BSTR(&result))));
}
