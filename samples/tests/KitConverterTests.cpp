// A kit converter driven as the manager's chain drives it: formats, the
// connection point, asynchronous and synchronous runs, Stop, Suspend and
// Resume, detection and properties.
#include <gtest/gtest.h>
#include <olectl.h>

#include "Recorder.h"
#include "markdown/MarkdownConverter.h"
#include "markdown/MarkdownToHtml.h"
#include "utf16text/Utf16Converter.h"
#include "vembro/kit/Data.h"
#include "vembro/kit/Module.h"

using Microsoft::WRL::ComPtr;
using namespace kittest;

namespace {

// A converter whose conversion waits at a gate, so that a test can act
// while the run is in progress.
vembro::unique_handle g_gate;

class CGatedConverter : public vembro::kit::Converter<CGatedConverter> {
public:
    static constexpr vembro::kit::FormatSpec kSource{901, L"Gate In", L"gi", L"gi", false};
    static constexpr vembro::kit::FormatSpec kTarget{902, L"Gate Out", L"go", L"go", false};
    static HRESULT Detect(const std::string&) { return S_FALSE; }
    void Convert(IStream*, IStream* out, vembro::kit::Progress& progress)
    {
        progress.Report(1, 2);
        while (::WaitForSingleObject(g_gate.get(), 5) == WAIT_TIMEOUT)
            progress.Checkpoint();
        ULONG written = 0;
        vembro::ThrowIfFailed(out->Write("done", 4, &written));
        progress.Report(2, 2);
    }
};

template <class T>
ComPtr<ITolviFileConverter3> Make()
{
    ComPtr<ITolviFileConverter3> converter;
    EXPECT_EQ(S_OK, vembro::kit::CreateComponent<T>(IID_ITolviFileConverter3,
                                                    reinterpret_cast<void**>(converter.GetAddressOf())));
    return converter;
}

std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : L"(null)"; }

class KitConverter : public ::testing::Test {
protected:
    void SetUp() override { g_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr)); }
    void TearDown() override
    {
        ::SetEvent(g_gate.get());
        EXPECT_TRUE(ModuleLocksReachZero());
    }
    Recorder events;
    TempDir dir;
};

} // namespace

TEST_F(KitConverter, FormatObjectsDescribeThePair)
{
    auto converter = Make<samples::CMarkdownConverter>();
    ComPtr<ITolviFileFormat> source, target;
    ASSERT_EQ(S_OK, converter->get_SourceFormat(&source));
    ASSERT_EQ(S_OK, converter->get_TargetFormat(&target));
    short id = 0;
    VARIANT_BOOL complex = VARIANT_TRUE;
    vembro::unique_bstr name, def, exts;
    EXPECT_EQ(S_OK, source->get_ID(&id));
    EXPECT_EQ(103, id);
    EXPECT_EQ(S_OK, source->get_Name(name.put()));
    EXPECT_EQ(L"Markdown", Text(name.get()));
    EXPECT_EQ(S_OK, source->get_DefaultExtention(def.put()));
    EXPECT_EQ(L"md", Text(def.get()));
    EXPECT_EQ(S_OK, source->get_Extentions(exts.put()));
    EXPECT_EQ(L"md.markdown", Text(exts.get()));
    EXPECT_EQ(S_OK, source->get_IsComplex(&complex));
    EXPECT_EQ(VARIANT_FALSE, complex);
    EXPECT_EQ(S_OK, target->get_IsComplex(&complex));
    EXPECT_EQ(VARIANT_TRUE, complex);
    EXPECT_EQ(E_POINTER, target->get_ID(nullptr));
}

TEST_F(KitConverter, AnswersConverterInterfacesOnlyAndNoTranslator)
{
    auto converter = Make<samples::CMarkdownConverter>();
    ComPtr<ITolviFileConverter> c1;
    ComPtr<IDispatch> disp;
    EXPECT_EQ(S_OK, converter.As(&c1));
    EXPECT_EQ(S_OK, converter.As(&disp));
    EXPECT_EQ(static_cast<void*>(c1.Get()), static_cast<void*>(converter.Get()));
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, converter->QueryInterface(IID_ITolviFileTranslator, &p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(KitConverter, OnePointForConverterEventsOnly)
{
    auto converter = Make<samples::CMarkdownConverter>();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, converter.As(&container));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_ITolviFileTranslatorEvents, &point));
    EXPECT_EQ(nullptr, point.Get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(&points));
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    IID iid{};
    EXPECT_EQ(S_OK, got[0]->GetConnectionInterface(&iid));
    EXPECT_TRUE(::IsEqualIID(IID_ITolviFileConverterEvents, iid));
    got[0]->Release();
}

TEST_F(KitConverter, SinkWithoutTheEventInterfaceCannotConnect)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto wrongSink = MakeTranslatorSink(events);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, converter.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_ITolviFileConverterEvents, &point));
    DWORD cookie = 77;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(wrongSink.Get(), &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(12345));
}

TEST_F(KitConverter, SyncStreamRunWritesTheDocumentAndReportsInOrder)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    auto in = StreamOf(ReadDocument("guide.md"));
    auto out = vembro::kit::NewMemoryStream();
    VARIANT missing = vembro::MissingArgument();

    EXPECT_EQ(S_OK, converter->SyncConvertStream(in.Get(), out.Get(), missing));
    EXPECT_EQ(1u, RefCount(in.Get()));
    EXPECT_EQ(1u, RefCount(out.Get()));
    EXPECT_EQ(samples::MarkdownToHtml(ReadDocument("guide.md")), vembro::kit::ContentOf(out.Get()));
    auto lines = events.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("state 1", lines.front());
    EXPECT_EQ("progress 100/100", lines[lines.size() - 2]);
    EXPECT_EQ("state 5", lines.back());
    LONG state = -1;
    EXPECT_EQ(S_OK, converter->get_State(&state));
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, state);
}

TEST_F(KitConverter, AsyncFileRunCompletesOnItsWorker)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    std::wstring in = dir.Path(L"in.md"), out = dir.Path(L"out.htm");
    TempDir::Write(in, ReadDocument("guide.md"));
    vembro::unique_bstr bin = vembro::MakeBstr(in.c_str()), bout = vembro::MakeBstr(out.c_str());

    ASSERT_EQ(S_OK, converter->ConvertFile(bin.get(), bout.get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 1", "state 5"}), events.States());
    EXPECT_EQ(samples::MarkdownToHtml(ReadDocument("guide.md")), TempDir::Read(out));
}

TEST_F(KitConverter, WorkerGivesBackEveryReferenceWhenDone)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    auto in = StreamOf("# T\n");
    auto out = vembro::kit::NewMemoryStream();
    ASSERT_EQ(S_OK, converter->ConvertStream(in.Get(), out.Get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    for (int i = 0; i < 100 && RefCount(converter.Get()) != 1; ++i)
        ::Sleep(10);
    EXPECT_EQ(1u, RefCount(converter.Get()));
    EXPECT_EQ(1u, RefCount(in.Get()));
    EXPECT_EQ(1u, RefCount(out.Get()));
}

TEST_F(KitConverter, MissingSourceFailsTheStartAndWritesNothing)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    std::wstring out = dir.Path(L"out.htm");
    vembro::unique_bstr bin = vembro::MakeBstr(dir.Path(L"absent.md").c_str()), bout = vembro::MakeBstr(out.c_str());

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              converter->ConvertFile(bin.get(), bout.get(), vembro::MissingArgument()));
    EXPECT_TRUE(events.Lines().empty());
    EXPECT_FALSE(TempDir::Exists(out));
}

TEST_F(KitConverter, NullOrEmptyNamesAreRejected)
{
    auto converter = Make<samples::CMarkdownConverter>();
    vembro::unique_bstr empty = vembro::MakeBstr(L"");
    EXPECT_EQ(E_POINTER, converter->ConvertFile(nullptr, empty.get(), vembro::MissingArgument()));
    EXPECT_EQ(E_INVALIDARG, converter->SyncConvertFile(empty.get(), empty.get(), vembro::MissingArgument()));
    EXPECT_EQ(E_POINTER, converter->ConvertStream(nullptr, nullptr, vembro::MissingArgument()));
}

TEST_F(KitConverter, UnwritableTargetEndsWithErrorState)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    std::wstring in = dir.Path(L"in.md"), out = dir.Path(L"no-such-dir\\out.htm");
    TempDir::Write(in, "# T\n");
    vembro::unique_bstr bin = vembro::MakeBstr(in.c_str()), bout = vembro::MakeBstr(out.c_str());

    ASSERT_EQ(S_OK, converter->ConvertFile(bin.get(), bout.get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 1", "state 6"}), events.States());
    EXPECT_FALSE(TempDir::Exists(out));
}

TEST_F(KitConverter, EnumerationListsEachSinkWithItsCookie)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto sink = MakeConverterSink(events);
    DWORD cookie = Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, converter.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_ITolviFileConverterEvents, &point));
    ASSERT_EQ(S_OK, point->EnumConnections(&connections));
    CONNECTDATA got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, connections->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(cookie, got[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(sink.Get()), got[0].pUnk); // held directly, not a proxy
    got[0].pUnk->Release();
}

TEST_F(KitConverter, EverySinkHearsUntilItUnadvises)
{
    auto converter = Make<samples::CMarkdownConverter>();
    Recorder second;
    auto sink1 = MakeConverterSink(events);
    auto sink2 = MakeConverterSink(second);
    ULONG before = RefCount(sink1.Get());
    DWORD c1 = Advise(converter.Get(), IID_ITolviFileConverterEvents, sink1.Get());
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink2.Get());
    EXPECT_EQ(before + 1, RefCount(sink1.Get()));

    EXPECT_EQ(S_OK, converter->Stop(vembro::MissingArgument()));
    EXPECT_EQ(S_OK, Unadvise(converter.Get(), IID_ITolviFileConverterEvents, c1));
    EXPECT_EQ(before, RefCount(sink1.Get()));
    EXPECT_EQ(S_OK, converter->Stop(vembro::MissingArgument()));

    EXPECT_EQ((std::vector<std::string>{"state 4"}), events.Lines());
    EXPECT_EQ((std::vector<std::string>{"state 4", "state 4"}), second.Lines());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, Unadvise(converter.Get(), IID_ITolviFileConverterEvents, c1));
}

TEST_F(KitConverter, StopDuringRunReportsStoppedAndRemovesTheTarget)
{
    auto converter = Make<CGatedConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    std::wstring in = dir.Path(L"in.gi"), out = dir.Path(L"out.go");
    TempDir::Write(in, "x");
    vembro::unique_bstr bin = vembro::MakeBstr(in.c_str()), bout = vembro::MakeBstr(out.c_str());

    ASSERT_EQ(S_OK, converter->ConvertFile(bin.get(), bout.get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFor("progress 1/2"));
    EXPECT_EQ(E_UNEXPECTED, converter->ConvertFile(bin.get(), bout.get(), vembro::MissingArgument()));
    EXPECT_EQ(S_OK, converter->Stop(vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 1", "progress 1/2", "state 4"}), events.Lines());
    EXPECT_FALSE(TempDir::Exists(out));
}

TEST_F(KitConverter, SuspendHoldsTheRunUntilResume)
{
    auto converter = Make<CGatedConverter>();
    auto sink = MakeConverterSink(events);
    Advise(converter.Get(), IID_ITolviFileConverterEvents, sink.Get());
    auto in = StreamOf("x");
    auto out = vembro::kit::NewMemoryStream();
    EXPECT_EQ(E_UNEXPECTED, converter->Suspend());

    ASSERT_EQ(S_OK, converter->ConvertStream(in.Get(), out.Get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFor("progress 1/2"));
    EXPECT_EQ(S_OK, converter->Suspend());
    LONG state = -1;
    EXPECT_EQ(S_OK, converter->get_State(&state));
    EXPECT_EQ(FTSTATE_SUSPEND, state);
    ::SetEvent(g_gate.get());
    ::Sleep(50);
    EXPECT_FALSE(events.WaitFinal(0));
    EXPECT_EQ(S_OK, converter->Resume());
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 1", "progress 1/2", "state 3", "state 1", "progress 2/2", "state 5"}),
              events.Lines());
    EXPECT_EQ("done", vembro::kit::ContentOf(out.Get()));
}

TEST_F(KitConverter, StreamProbeReadsTheData)
{
    auto converter = Make<samples::CMarkdownConverter>();
    auto guide = StreamOf(ReadDocument("guide.md"));
    EXPECT_EQ(S_OK, converter->IsFormatAvailableStream(guide.Get()));
    EXPECT_EQ(1u, RefCount(guide.Get()));
    EXPECT_EQ(S_FALSE, converter->IsFormatAvailableStream(StreamOf("no markup here").Get()));
    EXPECT_EQ(E_POINTER, converter->IsFormatAvailableStream(nullptr));
}

TEST_F(KitConverter, FileProbeReadsTheFileNotItsName)
{
    auto converter = Make<samples::CMarkdownConverter>();
    std::wstring md = dir.Path(L"looks.md"), html = dir.Path(L"really.txt");
    TempDir::Write(md, "plain words\n");
    TempDir::Write(html, "# Heading\n");
    vembro::unique_bstr bmd = vembro::MakeBstr(md.c_str()), bhtml = vembro::MakeBstr(html.c_str());
    vembro::unique_bstr absent = vembro::MakeBstr(dir.Path(L"absent").c_str());
    EXPECT_EQ(S_FALSE, converter->IsFormatAvailableFile(bmd.get()));
    EXPECT_EQ(S_OK, converter->IsFormatAvailableFile(bhtml.get()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), converter->IsFormatAvailableFile(absent.get()));
    EXPECT_EQ(E_POINTER, converter->IsFormatAvailableFile(nullptr));
}

TEST_F(KitConverter, MemoryCallsSeeUtf16AsTheSourceBytes)
{
    auto converter = Make<samples::CUtf16Converter>();
    vembro::unique_bstr marked = vembro::MakeBstr(L"\xFEFF" L"Caf\xE9"), plain = vembro::MakeBstr(L"Caf\xE9");
    vembro::unique_bstr out;
    EXPECT_EQ(S_OK, converter->IsFormatAvailableMemory(marked.get()));
    EXPECT_EQ(S_FALSE, converter->IsFormatAvailableMemory(plain.get()));
    EXPECT_EQ(S_OK, converter->ConvertMemory(marked.get(), out.put()));
    EXPECT_EQ(L"Caf\xE9", Text(out.get()));
    EXPECT_EQ(E_POINTER, converter->ConvertMemory(marked.get(), nullptr));
    EXPECT_EQ(E_POINTER, converter->IsFormatAvailableMemory(nullptr));
}

TEST_F(KitConverter, PropertiesAreKeptByNameWithoutCase)
{
    auto converter = Make<samples::CMarkdownConverter>();
    vembro::unique_variant name, lower, value, got;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = ::SysAllocString(L"Colour");
    V_VT(&lower) = VT_BSTR;
    V_BSTR(&lower) = ::SysAllocString(L"COLOUR");
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = ::SysAllocString(L"red");

    EXPECT_EQ(S_OK, converter->get_Property(name, &got));
    EXPECT_EQ(VT_ERROR, V_VT(&got));
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, V_ERROR(&got));
    EXPECT_EQ(S_OK, converter->put_Property(name, value));
    got.reset();
    EXPECT_EQ(S_OK, converter->get_Property(lower, &got));
    ASSERT_EQ(VT_BSTR, V_VT(&got));
    EXPECT_EQ(L"red", Text(V_BSTR(&got)));
}

TEST_F(KitConverter, PriorityMustBeBetweenMinusTwoAndTwo)
{
    auto converter = Make<samples::CMarkdownConverter>();
    vembro::unique_variant name, value;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = ::SysAllocString(L"PRIORITY");
    V_VT(&value) = VT_I4;
    V_I4(&value) = 3;
    EXPECT_EQ(E_INVALIDARG, converter->put_Property(name, value));
    V_I4(&value) = -2;
    EXPECT_EQ(S_OK, converter->put_Property(name, value));
    VARIANT empty;
    ::VariantInit(&empty);
    EXPECT_EQ(E_INVALIDARG, converter->put_Property(empty, value));
}
