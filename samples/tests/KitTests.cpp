// Kit components driven as the chain drives them: events and results in order,
// references to what they are given, Stop/Suspend/Resume/PRIORITY, registration.
#include <algorithm>
#include <stdexcept>

#include "ModuleDll.h"
#include "Recorder.h"
#include "markdown/MarkdownConverter.h"
#include "markdown/MarkdownToHtml.h"
#include "pseudoloc/PseudoTranslator.h"
#include "support/Variants.h"
#include "vembro/Catalogue.h"
#include "vembro/kit/Data.h"
#include "vembro/kit/Module.h"
#include "vembro/kit/Runner.h"

using Microsoft::WRL::ComPtr;
using comtest::RegValue;
using comtest::Var;
using namespace kittest;
using Lines = std::vector<std::string>;

namespace {

// Notes its thread's priority, reports half way, then checkpoints until the gate opens.
struct {
    vembro::unique_handle gate;
    int priorityAtStart = 99, priorityAtEnd = 99;
} g_probe;

class CProbe : public vembro::kit::Converter<CProbe> {
public:
    static constexpr vembro::kit::FormatSpec kSource{901, L"Probe In", L"pi", L"pi", false};
    static constexpr vembro::kit::FormatSpec kTarget{902, L"Probe Out", L"po", L"po", false};
    static HRESULT Detect(const std::string&) { return S_FALSE; }
    void Convert(IStream*, IStream* out, vembro::kit::Progress& progress)
    {
        g_probe.priorityAtStart = ::GetThreadPriority(::GetCurrentThread());
        progress.Report(1, 2);
        while (::WaitForSingleObject(g_probe.gate.get(), 1) == WAIT_TIMEOUT)
            progress.Checkpoint();
        g_probe.priorityAtEnd = ::GetThreadPriority(::GetCurrentThread());
        vembro::ThrowIfFailed(out->Write("done", 4, nullptr));
        progress.Report(2, 2);
    }
};

const VARIANT kNone = vembro::MissingArgument();
struct StateLog : vembro::kit::RunReports {
    void OnState(long state) noexcept override { states.push_back(state); }
    void OnProgress(long, long) noexcept override {}
    std::vector<long> states;
};

class Kit : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        g_probe.gate.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    void TearDown() override
    {
        ::SetEvent(g_probe.gate.get());
        EXPECT_TRUE(ModuleLocksReachZero()); // workers included
        ComTest::TearDown();
    }
    template <class T> ComPtr<ITolviFileConverter3> Make(Recorder& heard)
    {
        ComPtr<ITolviFileConverter3> made;
        EXPECT_EQ(S_OK, vembro::kit::CreateComponent_nothrow<T>(IID_ITolviFileConverter3, &made));
        Advise(made.Get(), IID_ITolviFileConverterEvents, MakeConverterSink(heard).Get());
        return made;
    }
    vembro::unique_bstr Path(const wchar_t* name) { return vembro::MakeBstr(dir.Path(name).c_str()); }

    Recorder events;
    TempDir dir;
};

} // namespace

// A failed start reports nothing, a Stop with nothing running reports STOPPED; then each way of running: the
// document, events in order, no reference kept on the streams.
TEST_F(Kit, AFailedStartReportsNothingAndEachKindOfRunWritesTheDocumentReportsInOrderAndKeepsNoStream)
{
    const std::string guide = ReadDocument("guide.md");
    TempDir::Write(dir.Path(L"in.md"), guide);
    auto bin = Path(L"in.md"), bout = Path(L"out.htm");
    auto failed = Make<samples::CMarkdownConverter>(events);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), failed->ConvertFile(Path(L"absent.md").get(), bout.get(), kNone));
    EXPECT_EQ(E_INVALIDARG, failed->ConvertFile(bin.get(), vembro::MakeBstr(L"").get(), kNone));
    EXPECT_EQ(S_OK, failed->Stop(kNone));
    EXPECT_EQ((Lines{"state 4"}), events.Lines());
    failed.Reset();
    for (int mode = 0; mode < 4; ++mode) {
        const bool sync = mode & 1, file = mode & 2;
        SCOPED_TRACE(mode);
        Recorder heard;
        auto c = Make<samples::CMarkdownConverter>(heard);
        auto in = StreamOf(guide), out = vembro::kit::NewMemoryStream();
        EXPECT_EQ(S_OK, file ? (sync ? c->SyncConvertFile(bin.get(), bout.get(), kNone)
                                     : c->ConvertFile(bin.get(), bout.get(), kNone))
                             : (sync ? c->SyncConvertStream(in.Get(), out.Get(), kNone)
                                     : c->ConvertStream(in.Get(), out.Get(), kNone)));
        ASSERT_TRUE(heard.WaitFinal());
        c.Reset();
        ASSERT_TRUE(ModuleLocksReachZero());
        Lines lines = heard.Lines();
        EXPECT_EQ((Lines{"state 1", "state 5"}), heard.States());
        EXPECT_EQ("progress 100/100", lines[lines.size() - 2]);
        EXPECT_EQ(samples::MarkdownToHtml(guide), file ? TempDir::Read(dir.Path(L"out.htm")) : vembro::kit::ContentOf(out.Get()));
        EXPECT_EQ(1u, comtest::RefCount(in.Get()));
        EXPECT_EQ(1u, comtest::RefCount(out.Get()));
    }
}

// Stop while running or suspended, or Resume: events in order, a stopped run's target gone.
TEST_F(Kit, StopSuspendAndResumeDuringAFileRun)
{
    TempDir::Write(dir.Path(L"in.pi"), "x");
    auto in = Path(L"in.pi"), out = Path(L"out.po");
    const struct { bool suspend, stop; Lines expected; } rows[] = {{false, true, {"state 1", "progress 1/2", "state 4"}},
                {true, true, {"state 1", "progress 1/2", "state 3", "state 4"}},
                {true, false, {"state 1", "progress 1/2", "state 3", "state 1", "progress 2/2", "state 5"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.size());
        Recorder heard;
        auto c = Make<CProbe>(heard);
        ::ResetEvent(g_probe.gate.get());
        EXPECT_EQ(E_UNEXPECTED, c->Suspend());
        ASSERT_EQ(S_OK, c->ConvertFile(in.get(), out.get(), kNone));
        ASSERT_TRUE(heard.WaitFor("progress 1/2"));
        EXPECT_EQ(E_UNEXPECTED, c->ConvertFile(in.get(), out.get(), kNone));
        if (row.suspend) {
            EXPECT_EQ(S_OK, c->Suspend());
            EXPECT_EQ(S_FALSE, c->Suspend());
            LONG state = 0;
            EXPECT_TRUE(c->get_State(&state) == S_OK && state == FTSTATE_SUSPEND) << state;
            ::SetEvent(g_probe.gate.get());
            EXPECT_FALSE(heard.WaitFinal(300)); // held at its next report
        }
        EXPECT_EQ(S_OK, row.stop ? c->Stop(kNone) : c->Resume());
        ASSERT_TRUE(heard.WaitFinal());
        c.Reset();
        ASSERT_TRUE(ModuleLocksReachZero());
        EXPECT_EQ(row.expected, heard.Lines());
        EXPECT_EQ(row.stop ? Lines{"in.pi"} : (Lines{"in.pi", "out.po"}), dir.Names());
        EXPECT_EQ(row.stop ? "" : "done", TempDir::Read(dir.Path(L"out.po")));
    }
}

// Suspend/Resume hammered from two threads while the run works and ends: it ends once.
TEST_F(Kit, SuspendAndResumeRacingFromTwoThreadsEndTheRunOnce)
{
    auto c = Make<CProbe>(events);
    auto in = StreamOf("x"), out = vembro::kit::NewMemoryStream();
    ASSERT_EQ(S_OK, c->ConvertStream(in.Get(), out.Get(), kNone));
    ASSERT_TRUE(events.WaitFor("progress 1/2"));
    auto hammer = [c] {
        for (int i = 0; i < 300; ++i) {
            c->Suspend();
            if (i == 100)
                ::SetEvent(g_probe.gate.get()); // the run ends while they go on
            c->Resume();
        }
    };
    std::thread a(hammer), b(hammer);
    a.join();
    b.join();
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ(S_FALSE, c->Resume());
    LONG state = 0;
    EXPECT_TRUE(c->get_State(&state) == S_OK && state == FTSTATE_TRANSLATE_COMPLETE) << state;
    Lines states = events.States();
    EXPECT_EQ(1, std::count(states.begin(), states.end(), "state 5"));
    EXPECT_EQ("state 5", states.back()); // no Suspend or Resume report overtakes the end
    EXPECT_EQ("done", vembro::kit::ContentOf(out.Get()));
}

// PRIORITY sets the worker's, also while it runs; a sync run restores the caller's.
TEST_F(Kit, PrioritySetsTheWorkersAndSyncRunsRestoreTheCallers)
{
    auto c = Make<CProbe>(events);
    EXPECT_EQ(E_INVALIDARG, c->put_Property(Var::Str("PRIORITY"), Var::I4(3)));
    ASSERT_EQ(S_OK, c->put_Property(Var::Str("priority"), Var::I4(2)));
    auto in = StreamOf("x"), out = vembro::kit::NewMemoryStream();
    ASSERT_EQ(S_OK, c->ConvertStream(in.Get(), out.Get(), kNone));
    ASSERT_TRUE(events.WaitFor("progress 1/2"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, g_probe.priorityAtStart);
    ASSERT_EQ(S_OK, c->put_Property(Var::Str("PRIORITY"), Var::I4(-2)));
    ::SetEvent(g_probe.gate.get());
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, g_probe.priorityAtEnd);

    ASSERT_TRUE(::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
    ASSERT_EQ(S_OK, c->put_Property(Var::Str("PRIORITY"), Var::I4(1)));
    EXPECT_EQ(S_OK, c->SyncConvertStream(in.Get(), out.Get(), kNone));
    EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, g_probe.priorityAtStart);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, ::GetThreadPriority(::GetCurrentThread()));
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

// A property is announced before the run that uses it, whose failure stays in
// Error; detection takes a file name, text or a stream (its references kept).
TEST_F(Kit, ATranslatorAnnouncesPropertiesKeepsErrorsAndDetectsEachKindOfData)
{
    ComPtr<ITolviFileTranslator2> t;
    ASSERT_EQ(S_OK, vembro::kit::CreateComponent_nothrow<samples::CPseudoTranslator>(IID_ITolviFileTranslator2, &t));
    Advise(t.Get(), IID_ITolviFileTranslatorEvents, MakeTranslatorSink(events).Get());
    ASSERT_EQ(S_OK, t->put_Property(Var::Str("EXPANSION"), Var::I4(-5)));
    ASSERT_EQ(S_OK, t->TranslateStream(nullptr, StreamOf("<p>x</p>").Get(), vembro::kit::NewMemoryStream().Get(), kNone));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((Lines{"property EXPANSION=-5", "state 2", "state 6"}), events.Lines());
    LONG error = 0;
    EXPECT_TRUE(t->get_Error(&error) == S_OK && error == E_INVALIDARG) << error;

    TempDir::Write(dir.Path(L"page.txt"), "<html><body><p>Hello</p></body></html>");
    auto probed = StreamOf("# not html");
    Var name = Var::Str(vembro::AnsiFromBstr(Path(L"page.txt").get())), text = Var::Str("<!DOCTYPE html><p>x</p>");
    Var byRef, stream = Var::Unknown(probed.Get()), number = Var::I4(1);
    V_VT(&byRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byRef) = &text;
    const struct { const VARIANT* data; int type; HRESULT expected; } rows[] = {
        {&name, FILEDATATYPE_FILENAME, S_OK}, {&text, FILEDATATYPE_TEXT, S_OK}, {&byRef, FILEDATATYPE_TEXT, S_OK},
        {&stream, FILEDATATYPE_STREAM, S_FALSE}, {&number, FILEDATATYPE_FILENAME, E_INVALIDARG},
        {&name, FILEDATATYPE_STREAM, E_INVALIDARG}, {&name, 3, E_INVALIDARG}};
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, t->IsFormatAvailable(*row.data, static_cast<tagFILEDATATYPE>(row.type)))
            << comtest::VariantText(*row.data) << " as " << row.type;
    EXPECT_EQ(2u, comtest::RefCount(probed.Get())); // ours and the VARIANT's
    V_VT(&byRef) = VT_EMPTY; // refers to text, owns nothing
}

// Class and ProgID, a converter's catalogue entry or a translator's category; all undone.
TEST_F(Kit, RegistrationWritesEachKindsRowsAndTakesThemAllAway)
{
    using Kind = vembro::kit::ComponentKind;
    const CLSID clsid = {0x5b0c2b1e, 0x3c35, 0x4f7a, {0x9e, 0x0b, 0x7d, 0x2e, 0x8a, 0x51, 0xc0, 0x01}};
    const std::wstring guid = vembro::GuidString(clsid), cls = L"CLSID\\" + guid,
                       entry = std::wstring(vembro::kConverterCatalogue) + L"\\VembroKitTest.Class",
                       category = cls + L"\\Implemented Categories\\" + vembro::GuidString(IID_ITolviFileTranslator2);
    auto rows = [&] { // "-" for a missing value, "{key}" for a key that is there
        auto key = [](HKEY root, const std::wstring& path) { return comtest::Subkeys(root, path) == comtest::kMissing ? L"-" : L"{key}"; };
        return RegValue(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32") + L" " +
               RegValue(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", L"ThreadingModel") + L" " +
               RegValue(HKEY_CLASSES_ROOT, cls + L"\\ProgID") + L" " + RegValue(HKEY_CLASSES_ROOT, L"VembroKitTest.Class\\CLSID") +
               L" " + key(HKEY_LOCAL_MACHINE, entry) + L" " + key(HKEY_CLASSES_ROOT, category);
    };
    const std::wstring classRows = L"C:\\c.dll Both VembroKitTest.Class " + guid;
    const struct { Kind kind; std::wstring expected; } kinds[] = {{Kind::Converter, classRows + L" {key} -"},
                 {Kind::Translator, classRows + L" - {key}"},
                 {Kind::Object, classRows + L" - -"}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(static_cast<int>(k.kind));
        const vembro::kit::ComponentClass row{&clsid, L"VembroKitTest.Class", L"Kit test", k.kind, nullptr}; // registration never makes one
        ASSERT_EQ(S_OK, vembro::kit::RegisterComponent_nothrow(row, L"C:\\c.dll"));
        EXPECT_EQ(k.expected, rows());
        ASSERT_EQ(S_OK, vembro::kit::UnregisterComponent_nothrow(row));
        EXPECT_EQ(L"- - - - - -", rows());
        EXPECT_EQ(S_OK, vembro::kit::UnregisterComponent_nothrow(row)); // nothing left to remove
    }
}

// A sample DLL makes its own classes only, and stays loaded while one lives.
TEST_F(Kit, ASampleDllMakesItsClassesAndStaysWhileTheyLive)
{
    const moduletest::VembroDll dll(L"" VEMBRO_SAMPLES_DIR "/markdown.dll");
    ASSERT_NE(nullptr, dll.module);
    void* p = comtest::kPoison;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, dll.GetClassObject(samples::CLSID_SamplePseudoTranslator, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    ComPtr<IClassFactory> factory;
    ComPtr<ITolviFileConverter> made;
    ASSERT_EQ(S_OK, dll.GetClassObject(samples::CLSID_SampleMarkdownConverter, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&made)));
    factory.Reset();
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    made.Reset();
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}

// Once Stop has been asked for, a kit run ends stopped whatever the author's code does with the signal.
TEST(KitStopSignal, EndsTheRunStoppedWhateverTheAuthorCatches)
{
    for (int author = 0; author < 3; ++author) { // rethrows, throws its own error, swallows it
        StateLog log;
        vembro::kit::Runner runner(log, nullptr, FTSTATE_CONVERT); // a synchronous run holds no owner
        HRESULT hr = runner.RunSync_nothrow([&](vembro::kit::Progress& progress) {
            runner.Stop();
            try {
                progress.Checkpoint();
            } catch (...) {
                if (author == 0)
                    throw;
                if (author == 1)
                    throw std::runtime_error("cancelled");
            }
        });
        EXPECT_EQ(vembro::kit::kStoppedResult, hr) << author;
        EXPECT_EQ((std::vector<long>{FTSTATE_CONVERT, FTSTATE_STOPPED}), log.states) << author;
        EXPECT_EQ(S_OK, runner.Error()) << author;
    }
}
