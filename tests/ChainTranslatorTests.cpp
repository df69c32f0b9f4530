// The chain translator over fakes A2B (1->2), B2C (2->3, a translator) and C2D (3->4): every end of a run, whoever
// ends it from where, progress bands, what each step is handed; its temporary files and inter-step stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <thread>

#include "catalogue/Converters.h"
#include "chains/Chain.h"
#include "chains/RealTranslators.h"
#include "chains/TempFiles.h"
#include "translator/ChainFileTranslator.h"
#include "translator/ChunkStream.h"
#include "events/ItemSinks.h"
#include "vembro/com/Dispatch.h"
#include "vembro/kit/Data.h"
#include "support/Fakes.h"
#include "support/Recorder.h"
#include "support/Variants.h"

namespace {

using Microsoft::WRL::ComPtr;
using Lines = std::vector<std::string>;
using comtest::Bstr;
using comtest::Var;
using fakes::Behaviour;
using fakes::Finish;
using Misbehave = void (*)(Behaviour&); // what a table row does to one fake
enum class Mode { AsyncFile, AsyncStream, SyncFile_nothrow, SyncStream_nothrow };

const std::string kMissing = "VT_ERROR:80020004";
const char* const kNames[] = {"A2B", "B2C", "C2D"};
const char kFolders[] = "SOFTWARE\\Tolvi Labs\\TLVI9\\Folders";

vembro::CChain Steps()
{
    vembro::CChain chain;
    for (short i = 0; i < 3; ++i)
        chain.Add(vembro::CChainItem(i + 1, i + 2, i == 1 ? vembro::CHAINITEM_TRANSLATOR : vembro::CHAINITEM_CONVERTER));
    return chain;
}
// A fake that reports progress, on a worker thread or through Invoke if asked.
Behaviour Reports(std::vector<std::pair<long, long>> progress, bool worker = false, bool dispatch = false, Finish finish = Finish::Complete)
{
    Behaviour b;
    b.progress = std::move(progress), b.worker = worker, b.dispatchEvents = dispatch, b.finish = finish;
    return b;
}
std::string Joined(const Lines& lines)
{
    std::string all;
    for (const auto& line : lines)
        all += (all.empty() ? "" : ", ") + line;
    return all;
}
// The temporary files' base folder is one machine-wide setting: a test that
// sets it holds this lock throughout, or a parallel test process changes it.
struct TempSettingLock {
    TempSettingLock() { EXPECT_NE(WAIT_TIMEOUT, ::WaitForSingleObject(mutex.get(), 60000)); } // or abandoned
    ~TempSettingLock() { ::ReleaseMutex(mutex.get()); }
    vembro::unique_handle mutex{::CreateMutexW(nullptr, FALSE, L"Local\\VembroTests.TempSetting")};
};
void SetTempSetting(const std::string& folder, DWORD type = REG_SZ)
{
    ASSERT_EQ(0, ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kFolders, "Temp", type, folder.c_str(), static_cast<DWORD>(folder.size() + 1)));
}
void RemoveTempSetting()
{
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kFolders, "Temp");
    for (const char* key : {kFolders, "SOFTWARE\\Tolvi Labs\\TLVI9", "SOFTWARE\\Tolvi Labs"})
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

class ChainRunTest : public comtest::ComTest {
protected:
    void SetUp() override
    {
        ComTest::SetUp();
        SetTempSetting(m_dir.Folder() + "tmp");
        kittest::TempDir::Write(m_dir.Path(L"in.a"), "doc\n");
        m_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, fakes::kGateName));
        ASSERT_TRUE(m_gate);
    }
    void TearDown() override
    {
        m_rec.OnEvent(nullptr);
        Uninstall();
        RemoveTempSetting();
        ComTest::TearDown();
    }
    // Loads both registries first, so that the journal holds only the run.
    void Install(const Behaviour& a2b = {}, const Behaviour& b2c = {}, const Behaviour& c2d = {})
    {
        Uninstall();
        ::SetEvent(m_gate.get());
        m_inst = std::make_unique<fakes::Installation>();
        m_inst->Converter("A2B", {1, "A", "a", "a"}, {2, "B", "b", "b"}, a2b)
            .Translator("B2C", {2, "B", "b", "b"}, {3, "C", "c", "c"}, b2c)
            .Converter("C2D", {3, "C", "c", "c"}, {4, "D", "d", "d"}, c2d)
            .Install();
        ComPtr<ITolviFileConverter> converter;
        ComPtr<ITolviFileTranslator> translator;
        ASSERT_EQ(S_OK, vembro::g_Converters.CreateConverter(1, 2, &converter));
        ASSERT_EQ(S_OK, vembro::g_RealTranslators.CreateTranslator(2, 3, &translator));
        ::ResetEvent(m_gate.get());
        m_inst->ClearJournal();
    }
    void Uninstall()
    {
        ::SetEvent(m_gate.get());
        m_translator.Reset();
        if (!m_inst)
            return;
        EXPECT_TRUE(m_inst->WaitIdle());
        EXPECT_EQ(0, m_inst->LiveObjects());
        m_inst.reset();
    }
    void Make(const vembro::CChain& chain)
    {
        m_translator.Reset();
        ASSERT_EQ(S_OK, vembro::CreateChainTranslator_nothrow(chain, &m_translator));
        m_rec.Clear();
        kittest::Advise(T(), IID_ITolviFileTranslatorEvents, kittest::MakeTranslatorSink(m_rec).Get());
    }
    // The three steps installed and made, the one at `step` as a table row makes it.
    void MakeMisbehaving(int step, Misbehave misbehave)
    {
        Behaviour b[3];
        misbehave(b[step]);
        Install(b[0], b[1], b[2]);
        Make(Steps());
    }
    vembro::CComObject<vembro::CTolviChainFileTranslator>* MakeWithoutChain()
    {
        vembro::CComObject<vembro::CTolviChainFileTranslator>* object = nullptr;
        vembro::ThrowIfFailed(vembro::CComObject<vembro::CTolviChainFileTranslator>::CreateInstance(&object));
        m_translator = static_cast<ITolviFileTranslator*>(object);
        return object;
    }
    ITolviFileTranslator* T() const { return m_translator.Get(); }
    // A run from in.a (or "doc\n" at 2 in m_source) to out.d (or m_target).
    HRESULT Run(Mode mode)
    {
        m_source = kittest::StreamOf("..doc\n", 2);
        m_target = kittest::StreamOf("");
        ComPtr<ITolviFileTranslator2> t2;
        vembro::ThrowIfFailed(m_translator.As(&t2));
        const auto in = Bstr(m_dir.Folder() + "in.a"), out = Bstr(m_dir.Folder() + "out.d");
        IDispatch* d = m_direction.Get();
        switch (mode) {
        case Mode::AsyncFile: return T()->TranslateFile(d, in.get(), out.get(), Var::I4(77));
        case Mode::SyncFile_nothrow: return t2->SyncTranslateFile(d, in.get(), out.get(), Var::I4(77));
        case Mode::AsyncStream: return T()->TranslateStream(d, m_source.Get(), m_target.Get(), Var::I4(77));
        default: return t2->SyncTranslateStream(d, m_source.Get(), m_target.Get(), Var::I4(77));
        }
    }
    std::string Output(Mode mode)
    {
        return mode == Mode::AsyncFile || mode == Mode::SyncFile_nothrow ? kittest::TempDir::Read(m_dir.Path(L"out.d"))
                                                                         : vembro::kit::ContentOf(m_target.Get());
    }
    LONG State() const { return Get(&ITolviFileTranslator::get_State); }
    LONG Error() const { return Get(&ITolviFileTranslator::get_Error); }
    LONG Get(HRESULT (STDMETHODCALLTYPE ITolviFileTranslator::*get)(LONG*)) const
    {
        LONG value = 0x5EED;
        EXPECT_EQ(S_OK, (T()->*get)(&value));
        return value;
    }
    std::string Events() { return Joined(m_rec.Lines()); }
    void WaitIdle() { ASSERT_TRUE(m_inst->WaitIdle()); }
    bool WaitForCall(const std::string& part) const // polls: the fakes signal nothing
    {
        for (int i = 0; i < 1000 && m_inst->Journal(part).empty(); ++i)
            ::Sleep(10);
        return !m_inst->Journal(part).empty();
    }
    // Without destructions, whose moment depends on who holds what.
    Lines Calls() const
    {
        Lines calls = m_inst->Journal("");
        calls.erase(std::remove_if(calls.begin(), calls.end(), [](auto& c) { return c.find(".Destroy") != std::string::npos; }), calls.end());
        return calls;
    }
    std::string Argument(const std::string& part, const std::string& key) const
    {
        std::smatch m;
        for (auto& line : m_inst->Journal(part))
            if (std::regex_search(line, m, std::regex(key + "=([^,)]*)")))
                return m[1];
        return std::string();
    }
    Lines TempFiles() const { return m_dir.Names("tmp"); }

    TempSettingLock m_lock;
    kittest::TempDir m_dir;
    std::unique_ptr<fakes::Installation> m_inst;
    kittest::Recorder m_rec, m_deaf; // m_deaf: what the Direction object would hear
    ComPtr<ITolviFileTranslator> m_translator;
    ComPtr<ITolviFileTranslatorEvents> m_direction = kittest::MakeTranslatorSink(m_deaf);
    ComPtr<IStream> m_source, m_target;
    vembro::unique_handle m_gate;
};

using ChainTranslatorRun = ChainRunTest;

// The step whose component misbehaves; the steps whose component was made.
struct EndRow {
    const char* what; Mode mode; int step; Misbehave misbehave; HRESULT result; const char* events; HRESULT error; LONG state; size_t created;
};

void None(Behaviour&) {}
void Refuses(Behaviour& b) { b.startResult = E_ACCESSDENIED; }
void Deaf(Behaviour& b) { b.noEvents = true; }
void Fails(Behaviour& b) { b.finish = Finish::Error; }
void FailsWith(Behaviour& b) { b.finish = Finish::Error, b.errorCode = E_ACCESSDENIED; }
void FailsWithout(Behaviour& b) { b.finish = Finish::Error, b.errorCode = S_OK; }
void Stops(Behaviour& b) { b.finish = Finish::Stopped; }
void NotMade(Behaviour& b) { b.createResult = E_OUTOFMEMORY; }
void Old(Behaviour& b) { b.noSync = true; }
void SyncRefuses(Behaviour& b) { b.syncResult = E_ACCESSDENIED; }
void SyncQuirk(Behaviour& b) { b.syncResult = S_FALSE; } // a component's success code is not the result

const EndRow kEnds[] = {
    {"async file", Mode::AsyncFile, 0, None, S_OK, "state 2, state 5", S_OK, 5, 3},
    {"async stream", Mode::AsyncStream, 0, None, S_OK, "state 2, state 5", S_OK, 5, 3},
    {"sync file", Mode::SyncFile_nothrow, 1, SyncQuirk, S_OK, "state 2, state 5", S_OK, 5, 3},
    {"sync stream", Mode::SyncStream_nothrow, 0, None, S_OK, "state 2, state 5", S_OK, 5, 3},
    {"refused", Mode::AsyncFile, 0, Refuses, E_ACCESSDENIED, "state 2, state 6", E_ACCESSDENIED, 6, 1},
    {"refused stream", Mode::AsyncStream, 0, Refuses, E_ACCESSDENIED, "state 2, state 6", E_ACCESSDENIED, 6, 1},
    {"without events", Mode::AsyncFile, 0, Deaf, E_NOINTERFACE, "state 2, state 6", E_NOINTERFACE, 6, 1},
    {"translator error", Mode::AsyncFile, 1, Fails, S_OK, "state 2, state 6", E_FAIL, 6, 2},
    {"error without code", Mode::AsyncStream, 1, FailsWithout, S_OK, "state 2, state 6", E_FAIL, 6, 2},
    {"converter error", Mode::AsyncFile, 2, FailsWith, S_OK, "state 2, state 6", E_FAIL, 6, 3},
    {"last not made", Mode::AsyncFile, 2, NotMade, S_OK, "state 2, state 6", E_OUTOFMEMORY, 6, 3},
    {"sync refused", Mode::SyncFile_nothrow, 0, SyncRefuses, E_ACCESSDENIED, "state 2, state 6, state 5", E_ACCESSDENIED, 5, 1},
    {"no sync", Mode::SyncFile_nothrow, 2, Old, E_NOINTERFACE, "state 2, state 6, state 5", E_NOINTERFACE, 5, 3},
    {"no sync stream", Mode::SyncStream_nothrow, 2, Old, E_NOINTERFACE, "state 2, state 6, state 5", E_NOINTERFACE, 5, 3},
    {"sync error", Mode::SyncFile_nothrow, 1, FailsWith, E_ACCESSDENIED, "state 2, state 6, state 6, state 5", E_ACCESSDENIED, 5, 2},
    {"sync stop", Mode::SyncFile_nothrow, 1, Stops, E_ABORT, "state 2, state 4", E_ABORT, 4, 2},
    {"sync stream stop", Mode::SyncStream_nothrow, 1, Stops, E_ABORT, "state 2, state 4", E_ABORT, 4, 2}};

// Each end twice on one object: result, events, Error as the run starts
// (only a synchronous run clears it) and ends, temporary files, references.
TEST_F(ChainTranslatorRun, EveryEndOfARunIsReportedOnceAndCleansUp)
{
    for (const EndRow& row : kEnds) {
        SCOPED_TRACE(row.what);
        MakeMisbehaving(row.step, row.misbehave);
        LONG errorAtStart = 0x5EED, errorAtEnd = 0x5EED;
        Lines tempAtEnd{"no final event"};
        m_rec.OnEvent([&](const std::string& e) {
            if (e == "state 2")
                errorAtStart = Error();
            else if (e == "state 4" || e == "state 5" || e == "state 6")
                errorAtEnd = Error(), tempAtEnd = TempFiles();
        });
        const bool sync = row.mode == Mode::SyncFile_nothrow || row.mode == Mode::SyncStream_nothrow;
        const ULONG directionRefs = comtest::RefCount(m_direction.Get());
        for (int round = 0; round < 2; ++round) {
            m_rec.Clear();
            EXPECT_EQ(row.result, Run(row.mode));
            WaitIdle();
            EXPECT_EQ(row.events, Events());
            EXPECT_EQ(round && !sync ? row.error : S_OK, errorAtStart);
            // A stop told inside a synchronous call ends the run as it returns, firing nothing more.
            const bool toldInsideTheCall = sync && row.state == FTSTATE_STOPPED;
            EXPECT_EQ(toldInsideTheCall ? S_OK : row.error, errorAtEnd);
            EXPECT_EQ(Lines{}, toldInsideTheCall ? Lines{} : tempAtEnd);
            EXPECT_EQ(Lines{}, TempFiles());
            EXPECT_EQ(row.error, Error());
            EXPECT_EQ(row.state, State());
            EXPECT_EQ(directionRefs, comtest::RefCount(m_direction.Get()));
            EXPECT_EQ(1u, comtest::RefCount(m_target.Get()));
            if (row.error == S_OK) {
                EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", Output(row.mode));
            }
        }
        EXPECT_EQ(2 * row.created, m_inst->Journal(".Create").size());
    }
}

// Each step's progress lands in its third of 0..300, whichever thread or
// interface it came by; a report without a positive maximum is dropped.
TEST_F(ChainTranslatorRun, ProgressOfEachStepLandsInItsBand)
{
    const struct { Mode mode; Behaviour a2b, b2c, c2d; const char* events; } rows[] = {
        {Mode::AsyncFile, Reports({{1, 2}, {5, 0}}), Reports({{50, 200}}), Reports({{1, 3}, {3, 3}}),
         "state 2, progress 50/300, progress 125/300, progress 233/300, progress 300/300, state 5"},
        {Mode::AsyncStream, Reports({{30, 60}}), Reports({{30, 60}}), Reports({}, false, false, Finish::Ready),
         "state 2, progress 50/300, progress 150/300, state 5"},
        {Mode::SyncFile_nothrow, Reports({{1, 2}}), Reports({{1, 1}}), Reports({}),
         "state 2, progress 50/300, progress 200/300, state 5"},
        {Mode::AsyncFile, Reports({{30, 60}}, false, true), Reports({{30, 60}}, false, true),
         Reports({{1, 4}}, false, true), "state 2, progress 50/300, progress 150/300, progress 225/300, state 5"},
        {Mode::AsyncFile, Reports({{1, 4}}, true), Reports({{2, 4}}, true), Reports({{3, 4}}, true),
         "state 2, progress 25/300, progress 150/300, progress 275/300, state 5"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        Install(row.a2b, row.b2c, row.c2d);
        Make(Steps());
        ASSERT_EQ(S_OK, Run(row.mode));
        ASSERT_TRUE(m_rec.WaitFinal());
        WaitIdle();
        EXPECT_EQ(row.events, Events());
    }
}

// Each step reads what the one before wrote; a translator gets PRIORITY,
// then the stored properties in the order they were first set.
TEST_F(ChainTranslatorRun, EachStepReadsWhatThePreviousOneWrote)
{
    Install();
    Make(Steps());
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(5)));
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Priority"), Var::I2(1)));
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::Str("fast")));
    ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
    const std::string in = m_dir.Folder() + "in.a", out = m_dir.Folder() + "out.d";
    const std::string t1 = Argument("A2B.ConvertFile", "out"), t2 = Argument("B2C.TranslateFile", "out");
    EXPECT_EQ(m_dir.Folder() + "tmp\\", t1.substr(0, t1.rfind('\\') + 1));
    EXPECT_NE(t1, t2);
    EXPECT_EQ((Lines{"A2B.Create", "A2B.Advise(cookie=1)", "A2B.ConvertFile(in=" + in + ", out=" + t1 + ", info=" + kMissing + ")",
                     "A2B.Unadvise(cookie=1)", "B2C.Create", "B2C.Advise(cookie=1)", "B2C.put_Property(PRIORITY=VT_I4:1)",
                     "B2C.put_Property(Mode=VT_BSTR:fast)", "B2C.put_Property(Priority=VT_I2:1)",
                     "B2C.TranslateFile(direction=set, in=" + t1 + ", out=" + t2 + ", info=" + kMissing + ")",
                     "B2C.Unadvise(cookie=1)", "C2D.Create", "C2D.Advise(cookie=1)",
                     "C2D.ConvertFile(in=" + t2 + ", out=" + out + ", info=" + kMissing + ")"}), Calls());
    for (int priority = -3; priority <= 3; ++priority) // in any case, from -2 to 2
        EXPECT_EQ(priority * priority <= 4 ? S_OK : E_INVALIDARG, T()->put_Property(Var::Str("pRiOrItY"), Var::I2(static_cast<short>(priority))));
}

// Stop reaches the running component, whose report ends the run, stopped whatever it answers with, unless it refuses.
TEST_F(ChainTranslatorRun, StopEndsTheRunThroughTheRunningComponent)
{
    // report: what the component reports when stopped.
    const struct { const char* what; int step; Finish finish; long report; HRESULT stop; const char* events; } rows[] = {
        {"first step", 0, Finish::Nothing, 4, S_OK, "state 2, state 4"},
        {"middle step", 1, Finish::Nothing, 4, S_OK, "state 2, state 4"},
        {"last step", 2, Finish::Nothing, 4, S_OK, "state 2, state 4"},
        {"answered by completing", 0, Finish::Nothing, 5, S_OK, "state 2, state 4"},
        {"answered by ready", 1, Finish::Nothing, 0, S_OK, "state 2, state 4"},
        {"suspended", 1, Finish::Suspend, 4, S_OK, "state 2, state 3, state 4"},
        {"refused", 1, Finish::Nothing, 4, E_ACCESSDENIED, "state 2, state 6"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Behaviour b[3];
        b[row.step].finish = row.finish;
        b[row.step].stopReport = row.report;
        b[row.step].stopResult = row.stop;
        Install(b[0], b[1], b[2]);
        Make(Steps());
        ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
        EXPECT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(9)));
        EXPECT_EQ(row.step == 1 ? 1u : 0u, m_inst->Journal("put_Property(Mode=VT_I4:9)").size());
        EXPECT_EQ(row.stop, T()->Stop(Var::I4(1)));
        WaitIdle();
        EXPECT_EQ(Lines{std::string(kNames[row.step]) + ".Stop(info=" + kMissing + ")"}, m_inst->Journal(".Stop("));
        EXPECT_EQ(row.events, Events());
        EXPECT_EQ(row.stop, Error());
        EXPECT_EQ(row.stop == S_OK ? FTSTATE_STOPPED : FTSTATE_ERROR, State());
        EXPECT_EQ(static_cast<size_t>(row.step + 1), m_inst->Journal("File(").size());
        EXPECT_EQ(Lines{}, TempFiles());
    }
}

using ChainTranslatorObject = ChainRunTest;

// Only the sink of the running step's kind is heard, only its progress and
// final states, and only while its step runs.
TEST_F(ChainTranslatorObject, ReportsOfTheOtherKindOfStepOrOfNoStepAreDropped)
{
    Install({}, Reports({}, false, false, Finish::Nothing));
    auto* object = MakeWithoutChain();
    ASSERT_EQ(S_OK, object->SetChainOf(Steps()));
    kittest::Advise(T(), IID_ITolviFileTranslatorEvents, kittest::MakeTranslatorSink(m_rec).Get());
    ASSERT_EQ(S_OK, Run(Mode::AsyncFile)); // the translator of step 2 waits
    auto sink = [&](auto* kind) {
        using Sink = vembro::CComObject<std::remove_pointer_t<decltype(kind)>>;
        Sink* s = nullptr;
        vembro::ThrowIfFailed(Sink::CreateInstance(&s));
        s->m_pOwner = std::make_shared<vembro::CItemOwner>(object);
        return ComPtr<Sink>(s);
    };
    auto stray = sink(static_cast<vembro::CTolviFileConverterEvents*>(nullptr));
    auto current = sink(static_cast<vembro::CTolviFileTranslatorEvents*>(nullptr));
    for (LONG state : {FTSTATE_TRANSLATE_COMPLETE, FTSTATE_ERROR})
        EXPECT_EQ(S_OK, stray->StateChange(state));
    EXPECT_EQ(S_OK, stray->ProgressChange(1, 2));
    EXPECT_EQ(S_OK, current->ProgressChange(50, 200));
    for (LONG state : {FTSTATE_TRANSLATE, FTSTATE_CONVERT})
        EXPECT_EQ(S_OK, current->StateChange(state));
    EXPECT_EQ(S_OK, current->PropertyChange(Var::Str("Mode"), Var::I4(1)));
    EXPECT_EQ("state 2, progress 125/300", Events());
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_TRANSLATE_COMPLETE)); // steps on to the last converter
    WaitIdle();
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_ERROR));
    EXPECT_EQ("state 2, progress 125/300, state 5", Events());
    EXPECT_EQ(1u, m_inst->Journal("C2D.ConvertFile").size());
}

// The platform's marshaller loads the type library for every proxy or stub
// of a client sink; freed by one thread while another loads it, it crashed.
TEST_F(ChainTranslatorObject, KeepsItsTypeLibraryLoaded)
{
    Install();
    vembro::TypeInfoHolder::ReleaseAll();
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_VEMBROLib, 1, 0, MAKELCID(0x409, SORT_DEFAULT), &lib));
    auto refs = [&] { return lib->AddRef(), lib->Release(); };
    const ULONG alone = refs();
    Make(Steps());
    EXPECT_EQ(alone + 1, refs());
}

// Every failure leaves its out-pointer defined: a translator without a chain, text runs, a memory stream's unknown flag.
TEST_F(ChainTranslatorObject, FailuresClearTheirOutPointers)
{
    MakeWithoutChain();
    for (auto get : {&ITolviFileTranslator::get_State, &ITolviFileTranslator::get_Error}) {
        LONG value = 0x5EED;
        EXPECT_EQ(E_UNEXPECTED, (T()->*get)(&value));
        EXPECT_EQ(0, value);
    }
    auto text = Bstr("poison");
    BSTR result = text.get();
    EXPECT_EQ(E_NOTIMPL, T()->TranslateText(m_direction.Get(), text.get(), &result));
    EXPECT_EQ(nullptr, result);
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, vembro::CChunkStream::Create_nothrow(&stream));
    STATSTG stat;
    std::memset(&stat, 0x5E, sizeof stat);
    EXPECT_EQ(STG_E_INVALIDFLAG, stream->Stat(&stat, 7));
    EXPECT_EQ(nullptr, stat.pwcsName); // nothing for the caller to free
}

using ChainTranslatorEnds = ChainRunTest;

// The steps before `step` finish on worker threads, where the step change
// happens; Stop comes while `step`'s component is being made: it never starts.
TEST_F(ChainTranslatorEnds, StopFromAnotherThreadAtAStepChangeStartsNoFurtherStep)
{
    for (Mode mode : {Mode::AsyncFile, Mode::AsyncStream}) {
        for (int step = 0; step < 3; ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step << (mode == Mode::AsyncFile ? " file" : " stream"));
            Behaviour b[3];
            for (int i = 0; i < step; ++i)
                b[i].worker = true;
            b[step].gate = fakes::Gate::Create;
            Install(b[0], b[1], b[2]);
            Make(Steps());
            HRESULT started = E_FAIL;
            std::thread client([&] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                started = Run(mode);
                ::CoUninitialize();
            });
            EXPECT_TRUE(WaitForCall(std::string(kNames[step]) + ".Create"));
            EXPECT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(1))); // neither waits for the step
            EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
            ::SetEvent(m_gate.get());
            client.join();
            WaitIdle();
            EXPECT_EQ(Lines{}, m_inst->Journal("Gate(timeout)"));
            EXPECT_EQ(S_OK, started);
            EXPECT_EQ("state 2, state 4", Events());
            EXPECT_EQ(static_cast<size_t>(step), m_inst->Journal(mode == Mode::AsyncFile ? "File(" : "Stream(").size());
            EXPECT_EQ(Lines{}, m_inst->Journal(".Stop("));
            EXPECT_EQ(Lines{}, TempFiles());
        }
    }
}

// Stop inside a client event ends the run without a deadlock or a later step; a second run is refused meanwhile.
TEST_F(ChainTranslatorEnds, StopFromInsideAClientEventEndsTheRun)
{
    // A synchronous run whose component stops itself is still in progress until the call returns.
    const struct { Mode mode; const char* trigger; bool worker; HRESULT result; const char* events; Finish finish; } rows[] = {
        {Mode::AsyncFile, "state 2", false, S_OK, "state 2, state 4", Finish::Complete},
        {Mode::SyncFile_nothrow, "state 2", false, E_ABORT, "state 2, state 4", Finish::Complete},
        {Mode::AsyncFile, "progress 150/300", false, S_OK, "state 2, progress 150/300, state 4", Finish::Complete},
        {Mode::AsyncStream, "progress 150/300", true, S_OK, "state 2, progress 150/300, state 4", Finish::Complete},
        {Mode::SyncFile_nothrow, "progress 150/300", false, E_ABORT, "state 2, progress 150/300, state 4", Finish::Complete},
        {Mode::SyncFile_nothrow, "state 4", false, E_ABORT, "state 2, progress 150/300, state 4", Finish::Stopped}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.trigger << ", mode " << static_cast<int>(row.mode));
        Install({}, Reports({{1, 2}}, row.worker, false, row.finish));
        Make(Steps());
        HRESULT stopped = E_FAIL, second = S_OK;
        m_rec.OnEvent([&](const std::string& e) {
            if (e == row.trigger)
                second = Run(Mode::AsyncFile), stopped = T()->Stop(Var::Missing());
        });
        EXPECT_EQ(row.result, Run(row.mode));
        ASSERT_TRUE(m_rec.WaitFinal());
        WaitIdle();
        m_rec.OnEvent(nullptr);
        EXPECT_EQ(S_OK, stopped);
        EXPECT_EQ(E_UNEXPECTED, second);
        EXPECT_EQ(row.events, Events());
        EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
        EXPECT_EQ(Lines{}, TempFiles());
    }
}

// The folder setting points below a plain file from a step on, so the next
// temporary file cannot be made; the last step needs none.
TEST_F(ChainTranslatorEnds, TemporaryFileThatCannotBeMadeEndsTheRunInError)
{
    // A trigger of "" blocks before the run.
    const struct { Mode mode; const char* trigger; HRESULT result; const char* events; HRESULT error; LONG state; size_t started; } rows[] = {
        {Mode::AsyncFile, "", E_UNEXPECTED, "", S_OK, FTSTATE_READY, 0},
        {Mode::AsyncFile, "progress 50/300", S_OK, "state 2, progress 50/300, state 6", E_UNEXPECTED, FTSTATE_ERROR, 1},
        {Mode::SyncFile_nothrow, "progress 50/300", E_UNEXPECTED, "state 2, progress 50/300, state 6, state 5", E_UNEXPECTED,
         FTSTATE_TRANSLATE_COMPLETE, 1},
        {Mode::AsyncFile, "progress 150/300", S_OK, "state 2, progress 50/300, progress 150/300, state 5", S_OK, FTSTATE_TRANSLATE_COMPLETE, 3},
    };
    kittest::TempDir::Write(m_dir.Path(L"blocker"), "x");
    const Behaviour reports = Reports({{1, 2}});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        Install(reports, reports);
        Make(Steps());
        auto block = [&] { SetTempSetting(m_dir.Folder() + "blocker\\tmp"); };
        if (!*row.trigger)
            block();
        m_rec.OnEvent([&](const std::string& e) {
            if (e == row.trigger)
                block();
        });
        EXPECT_EQ(row.result, Run(row.mode));
        WaitIdle();
        m_rec.OnEvent(nullptr);
        SetTempSetting(m_dir.Folder() + "tmp");
        EXPECT_EQ(row.events, Events());
        EXPECT_EQ(row.error, Error());
        EXPECT_EQ(row.state, State());
        EXPECT_EQ(row.started, m_inst->Journal("File(").size());
        m_translator.Reset();
        EXPECT_EQ(Lines{}, TempFiles());
    }
}

// Letting go of the translator stops the running component; no step starts,
// the client hears nothing more, and the files go, even one written later.
TEST_F(ChainTranslatorEnds, ReleasingTheTranslatorWhileARunIsInFlightLeavesNothing)
{
    const struct { int step; Misbehave misbehave; const char* calls; } rows[] = {
        {1, [](Behaviour& b) { b.finish = Finish::Nothing; }, "B2C.Stop(info=VT_ERROR:80020004)"},
        {0, [](Behaviour& b) { b.worker = true, b.gate = fakes::Gate::Work; }, "A2B.Stop(info=VT_ERROR:80020004)"},
        {2, [](Behaviour&) {}, "C2D.Unadvise(cookie=1)"}, // the run is over
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.calls);
        MakeMisbehaving(row.step, row.misbehave);
        ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
        const std::string heard = Events();
        m_inst->ClearJournal();
        m_translator.Reset();
        EXPECT_EQ(row.calls, Joined(Calls()));
        ::SetEvent(m_gate.get());
        WaitIdle();
        EXPECT_EQ(heard, Events());
        EXPECT_EQ(0, vembro::ModuleLockCount());
        EXPECT_EQ(Lines{}, TempFiles());
        EXPECT_EQ(Lines{}, m_inst->Journal(".Create"));
    }
}

TEST_F(ChainTranslatorEnds, EventInFlightKeepsTheTranslatorAliveAfterTheClientLetsGo)
{
    Install(Reports({{1, 2}}, true, false, Finish::Nothing));
    Make(Steps());
    vembro::unique_handle inside(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), letGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_rec.OnEvent([&](const std::string& event) {
        if (event.rfind("progress", 0) == 0)
            ::SetEvent(inside.get()), ::WaitForSingleObject(letGo.get(), 10000);
    });
    ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(inside.get(), 10000));
    const long held = vembro::ModuleLockCount();
    m_translator.Reset();
    EXPECT_EQ(held, vembro::ModuleLockCount()); // the translator stays for the event's delivery
    ::SetEvent(letGo.get());
    WaitIdle();
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

// The chain lets go of the Direction between a run's end and the firing of its final state. A run started
// there, as any thread may start one, is a run of its own: the old end touches neither its state nor its Error.
TEST_F(ChainTranslatorEnds, ARunStartedAsTheLastOneEndsKeepsItsOwnStateAndError)
{
    Behaviour gated = Reports({}, true), fails;
    gated.gate = fakes::Gate::Work;
    FailsWith(fails);
    Install(gated, Reports({}, true), fails); // the translator's start call, which holds the Direction too, is over
    Make(Steps());
    kittest::MakeTranslatorSink(m_deaf, true).Swap(m_direction); // MinGW's move assignment would count a let-go
    HRESULT second = E_FAIL;
    m_deaf.OnEvent([&](const std::string& e) {
        if (e == "let go" && second == E_FAIL)
            ::ResetEvent(m_gate.get()), second = Run(Mode::AsyncFile);
    });
    ::SetEvent(m_gate.get());
    ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
    ASSERT_TRUE(m_rec.WaitFinal());
    EXPECT_EQ(S_OK, second);
    EXPECT_EQ("state 2, state 2, state 6", Events()); // the old end is heard after the new start
    EXPECT_EQ(FTSTATE_TRANSLATE, State());
    EXPECT_EQ(E_FAIL, Error()); // the last run's, until this one ends
    ::SetEvent(m_gate.get());
    WaitIdle();
    m_deaf.OnEvent(nullptr);
    EXPECT_EQ("state 2, state 2, state 6, state 6", Events());
    EXPECT_EQ(FTSTATE_ERROR, State());
    EXPECT_EQ("let go, let go", Joined(m_deaf.Lines())); // and held by nothing else
    EXPECT_EQ(Lines{}, TempFiles());
}

using TempFilesTest = ChainRunTest;

// The base folder is the plain-string setting, or else one under the
// system's, made level by level for a file, which goes; the folder stays.
TEST_F(TempFilesTest, BaseFolderIsAPlainStringSettingOrAFallbackMadeWhenNeeded)
{
    const std::string tmp = std::getenv("TMP"), work = m_dir.Folder() + "Work";
    ::SetEnvironmentVariableA("TMP", (m_dir.Folder() + "sys").c_str());
    const std::string fallback = m_dir.Folder() + "sys\\Tolvi Labs\\TLVI\\9.0\\";
    const struct { DWORD type; std::string value, root; } rows[] = {{REG_SZ, work, work + "\\"}, {REG_SZ, work + "\\", work + "\\"},
        {REG_EXPAND_SZ, work, fallback}, {REG_BINARY, work, fallback}, {REG_SZ, "", fallback}, {REG_SZ, std::string(300, 'x'), fallback}};
    for (const auto& row : rows) {
        SetTempSetting(row.value, row.type);
        EXPECT_EQ(row.root, vembro::GetTempRoot()) << row.type << " " << row.value;
    }
    RemoveTempSetting();
    ASSERT_EQ(fallback, vembro::GetTempRoot());
    ASSERT_TRUE(::CreateDirectoryA((m_dir.Folder() + "sys").c_str(), nullptr));
    {
        vembro::CTempFile file;
        EXPECT_EQ(fallback + "FTM", file.Path().substr(0, fallback.size() + 3));
        EXPECT_EQ(Lines{file.Path().substr(fallback.size())}, m_dir.Names("sys\\Tolvi Labs\\TLVI\\9.0"));
    }
    EXPECT_EQ(Lines{}, m_dir.Names("sys\\Tolvi Labs\\TLVI\\9.0"));
    ::SetEnvironmentVariableA("TMP", tmp.c_str());
}

// The in-memory stream between the steps of a stream run.
constexpr ULONG kChunk = 64 * 1024; // the store's chunk size, to straddle it

class ChunkStreamTest : public comtest::ComTest {
protected:
    static ComPtr<IStream> New(const std::string& bytes)
    {
        ComPtr<IStream> s;
        EXPECT_EQ(S_OK, vembro::CChunkStream::Create_nothrow(&s));
        EXPECT_EQ(S_OK, s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
        return s;
    }
    static ULONGLONG Seek(IStream* s, LONGLONG to, DWORD origin = STREAM_SEEK_SET)
    {
        ULARGE_INTEGER at{};
        EXPECT_EQ(S_OK, s->Seek(LARGE_INTEGER{{static_cast<DWORD>(to), static_cast<LONG>(to >> 32)}}, origin, &at));
        return at.QuadPart;
    }
    static ULONGLONG Copy(IStream* from, IStream* to, ULONGLONG cb = ~0ull)
    {
        ULARGE_INTEGER read, written;
        EXPECT_EQ(S_OK, from->CopyTo(to, ULARGE_INTEGER{{static_cast<DWORD>(cb), static_cast<DWORD>(cb >> 32)}}, &read, &written));
        EXPECT_EQ(read.QuadPart, written.QuadPart);
        return read.QuadPart;
    }
    std::string m_data = std::string(2 * kChunk + 17, 'a') + "tail";
};

// Shrinking inside a chunk and writing beyond the end leaves zeros between. A clone shares the bytes and starts at the
// original's position; a copy into the bytes being copied copies what was there when it began.
TEST_F(ChunkStreamTest, ZerosWhereNothingWasWrittenAndCopyToIntoItsOwnClone)
{
    ComPtr<IStream> s = New(m_data), target = New(""), clone;
    Seek(s.Get(), 7);
    EXPECT_EQ(kChunk + 3, Copy(s.Get(), target.Get(), kChunk + 3));
    EXPECT_EQ(kChunk + 10, kittest::Position(s.Get()));
    EXPECT_EQ(m_data.size() - kChunk - 10, Copy(s.Get(), target.Get()));
    EXPECT_EQ(m_data.substr(7), vembro::kit::ContentOf(target.Get()));
    Seek(s.Get(), 9);
    ASSERT_EQ(S_OK, s->Clone(&clone));
    EXPECT_EQ(3, vembro::ModuleLockCount()); // with the target
    EXPECT_EQ(9u, kittest::Position(clone.Get()));
    Seek(clone.Get(), 0, STREAM_SEEK_END);
    EXPECT_EQ(m_data.size() - 9, Copy(s.Get(), clone.Get()));
    const std::string grown = m_data + m_data.substr(9);
    EXPECT_EQ(grown, vembro::kit::ContentOf(s.Get()));
    Seek(s.Get(), 0); // onto itself at the same place
    Seek(clone.Get(), 0);
    EXPECT_EQ(grown.size(), Copy(s.Get(), clone.Get()));
    EXPECT_EQ(grown.size(), kittest::Position(clone.Get()));
    EXPECT_EQ(grown, vembro::kit::ContentOf(s.Get()));
    s.Reset(); // the bytes live on with the clone
    EXPECT_EQ(grown, vembro::kit::ContentOf(clone.Get()));
    ASSERT_EQ(S_OK, clone->SetSize(ULARGE_INTEGER{{kChunk + 3, 0}}));
    Seek(clone.Get(), kChunk + 10);
    ASSERT_EQ(S_OK, clone->Write("x", 1, nullptr));
    EXPECT_EQ(m_data.substr(0, kChunk + 3) + std::string(7, '\0') + "x", vembro::kit::ContentOf(clone.Get()));
}

} // namespace
