// Runs of hand-made chains over the fake components: every end of a run as
// the caller and the clients see it, asynchronous and synchronous, on files
// and on streams; progress bands; what each step is handed; Stop.
#include "ChainTranslatorFixture.h"

using namespace chaintest;

namespace {

using ChainTranslatorRun = ChainRunTest;

struct EndRow {
    const char* what;
    Mode mode;
    int step; // whose component misbehaves
    Misbehave misbehave;
    HRESULT result;
    const char* events;
    HRESULT error;
    LONG state;
    const char* created;
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
    {"async file", Mode::AsyncFile, 0, None, S_OK, "state 2, state 5", S_OK, 5, "A2B B2C C2D"},
    {"async stream", Mode::AsyncStream, 0, None, S_OK, "state 2, state 5", S_OK, 5, "A2B B2C C2D"},
    {"sync file", Mode::SyncFile_nothrow, 1, SyncQuirk, S_OK, "state 2, state 5", S_OK, 5, "A2B B2C C2D"},
    {"sync stream", Mode::SyncStream_nothrow, 0, None, S_OK, "state 2, state 5", S_OK, 5, "A2B B2C C2D"},
    {"refused", Mode::AsyncFile, 0, Refuses, E_ACCESSDENIED, "state 2, state 6", E_ACCESSDENIED, 6, "A2B"},
    {"refused stream", Mode::AsyncStream, 0, Refuses, E_ACCESSDENIED, "state 2, state 6", E_ACCESSDENIED, 6, "A2B"},
    {"without events", Mode::AsyncFile, 0, Deaf, E_NOINTERFACE, "state 2, state 6", E_NOINTERFACE, 6, "A2B"},
    {"translator error", Mode::AsyncFile, 1, Fails, S_OK, "state 2, state 6", E_FAIL, 6, "A2B B2C"},
    {"error without code", Mode::AsyncStream, 1, FailsWithout, S_OK, "state 2, state 6", E_FAIL, 6, "A2B B2C"},
    {"converter error", Mode::AsyncFile, 2, FailsWith, S_OK, "state 2, state 6", E_FAIL, 6, "A2B B2C C2D"},
    {"last not made", Mode::AsyncFile, 2, NotMade, S_OK, "state 2, state 6", E_OUTOFMEMORY, 6, "A2B B2C C2D"},
    {"sync refused", Mode::SyncFile_nothrow, 0, SyncRefuses, E_ACCESSDENIED, "state 2, state 6, state 5", E_ACCESSDENIED, 5,
     "A2B"},
    {"no sync", Mode::SyncFile_nothrow, 2, Old, E_NOINTERFACE, "state 2, state 6, state 5", E_NOINTERFACE, 5, "A2B B2C C2D"},
    {"no sync stream", Mode::SyncStream_nothrow, 2, Old, E_NOINTERFACE, "state 2, state 6, state 5", E_NOINTERFACE, 5,
     "A2B B2C C2D"},
    {"sync error", Mode::SyncFile_nothrow, 1, FailsWith, E_ACCESSDENIED, "state 2, state 6, state 6, state 5", E_ACCESSDENIED,
     5, "A2B B2C"},
    {"sync stop", Mode::SyncFile_nothrow, 1, Stops, E_ABORT, "state 2, state 4", E_ABORT, 4, "A2B B2C"},
    {"sync stream stop", Mode::SyncStream_nothrow, 1, Stops, E_ABORT, "state 2, state 4", E_ABORT, 4, "A2B B2C"},
};

// Each end twice on one object (the first must leave it ready for the
// second): the result, the events, Error as the run starts (a synchronous
// run clears it, an asynchronous one keeps it until it ends) and as the last
// event arrives, the temporary files by then, the caller's objects let go,
// and the steps that ran.
TEST_F(ChainTranslatorRun, EveryEndOfARunIsReportedOnceAndCleansUp)
{
    for (const EndRow& row : kEnds) {
        SCOPED_TRACE(row.what);
        Behaviour b[3];
        row.misbehave(b[row.step]);
        Install(b[0], b[1], b[2]);
        Make(ThreeSteps());
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
            if (*row.events) {
                EXPECT_EQ(round && !sync ? row.error : S_OK, errorAtStart);
            }
            // A stop reported inside a synchronous call is told at once; the
            // loop ends the run when the call returns, and fires nothing more.
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
        EXPECT_EQ(std::string(row.created) + " " + row.created, Created());
        m_rec.OnEvent(nullptr);
    }
}

Behaviour Reports(std::vector<std::pair<long, long>> progress, bool worker = false, bool dispatch = false,
                  Finish finish = Finish::Complete)
{
    Behaviour b;
    b.progress = std::move(progress), b.worker = worker, b.dispatchEvents = dispatch, b.finish = finish;
    return b;
}

// Each step's progress lands in its third of 0..300, on the thread of the
// component that made it; a report without a positive maximum is dropped.
TEST_F(ChainTranslatorRun, ProgressOfEachStepLandsInItsBand)
{
    const struct {
        Mode mode;
        Behaviour a2b, b2c, c2d;
        const char* events;
    } rows[] = {
        {Mode::AsyncFile, Reports({{1, 2}, {5, 0}}), Reports({{50, 200}}), Reports({{1, 3}, {3, 3}}),
         "state 2, progress 50/300, progress 125/300, progress 233/300, progress 300/300, state 5"},
        {Mode::AsyncStream, Reports({{30, 60}}), Reports({{30, 60}}), Reports({}, false, false, Finish::Ready),
         "state 2, progress 50/300, progress 150/300, state 5"},
        {Mode::SyncFile_nothrow, Reports({{1, 2}}), Reports({{1, 1}}), Reports({}),
         "state 2, progress 50/300, progress 200/300, state 5"},
        {Mode::AsyncFile, Reports({{30, 60}}, false, true), Reports({{30, 60}}, false, true),
         Reports({{1, 4}}, false, true), "state 2, progress 50/300, progress 150/300, progress 225/300, state 5"},
        {Mode::AsyncFile, Reports({{1, 4}}, true), Reports({{2, 4}}, true), Reports({{3, 4}}, true),
         "state 2, progress 25/300, progress 150/300, progress 275/300, state 5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        Install(row.a2b, row.b2c, row.c2d);
        Make(ThreeSteps());
        ASSERT_EQ(S_OK, Run(row.mode));
        ASSERT_TRUE(m_rec.WaitFinal());
        WaitIdle();
        EXPECT_EQ(row.events, Events());
        EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", Output(row.mode));
        const std::vector<DWORD> threads = m_rec.Threads();
        for (size_t i = 0; i < threads.size(); ++i)
            EXPECT_EQ(i == 0 || !row.a2b.worker, threads[i] == ::GetCurrentThreadId()) << i;
        if (row.a2b.worker) {
            EXPECT_TRUE(threads[1] != threads[2] && threads[2] != threads[3] && threads[3] == threads[4]);
        }
    }
}

// Each step reads what the one before wrote: the caller's source where it
// stands, then the intermediates (two files, or streams rewound to 0), and
// the last writes the caller's target; a translator gets PRIORITY, then the
// stored properties in the order they were first set.
TEST_F(ChainTranslatorRun, EachStepReadsWhatThePreviousOneWrote)
{
    Install();
    Make(ThreeSteps());
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
                     "C2D.ConvertFile(in=" + t2 + ", out=" + out + ", info=" + kMissing + ")"}),
              Calls());
    for (Mode mode : {Mode::SyncFile_nothrow, Mode::AsyncStream, Mode::SyncStream_nothrow}) {
        Install();
        Make(ThreeSteps());
        ASSERT_EQ(S_OK, Run(mode));
        WaitIdle();
        const bool sync = mode != Mode::AsyncStream, file = mode == Mode::SyncFile_nothrow;
        const std::string tail = (sync ? ", reserved=" : ", info=") + kMissing + ")";
        const std::string pre = sync ? "Sync" : "", kind = file ? "File" : "Stream";
        const std::string s1 = file ? Argument("A2B.Sync", "out") : "@0", s2 = file ? Argument("B2C.Sync", "out") : "@0";
        EXPECT_EQ((Lines{"A2B." + pre + "Convert" + kind + "(in=" + (file ? in : "@2") + ", out=" + s1 + tail,
                         "B2C." + pre + "Translate" + kind + "(direction=set, in=" + s1 + ", out=" + s2 + tail,
                         "C2D." + pre + "Convert" + kind + "(in=" + s2 + ", out=" + (file ? out : "@0") + tail}),
                  m_inst->Journal(kind + "("));
    }
}

struct StopRow {
    const char* what;
    int step;
    Misbehave misbehave;
    HRESULT stop;
    const char* events;
};

// Stop reaches the running component, whose report ends the run; one that
// answers by finishing has stopped all the same, and one that refuses ends
// the run in error. Until then properties go to a running translator.
TEST_F(ChainTranslatorRun, StopEndsTheRunThroughTheRunningComponent)
{
    const StopRow rows[] = {
        {"first step", 0, [](Behaviour& b) { b.finish = Finish::Nothing; }, S_OK, "state 2, state 4"},
        {"middle step", 1, [](Behaviour& b) { b.finish = Finish::Nothing; }, S_OK, "state 2, state 4"},
        {"last step", 2, [](Behaviour& b) { b.finish = Finish::Nothing; }, S_OK, "state 2, state 4"},
        {"answered by completing", 0, [](Behaviour& b) { b.finish = Finish::Nothing, b.stopReport = 5; }, S_OK,
         "state 2, state 4"},
        {"answered by ready", 1, [](Behaviour& b) { b.finish = Finish::Nothing, b.stopReport = 0; }, S_OK,
         "state 2, state 4"},
        {"suspended", 1, [](Behaviour& b) { b.finish = Finish::Suspend; }, S_OK, "state 2, state 3, state 4"},
        {"refused", 1, [](Behaviour& b) { b.finish = Finish::Nothing, b.stopResult = E_ACCESSDENIED; }, E_ACCESSDENIED,
         "state 2, state 6"},
    };
    for (const StopRow& row : rows) {
        SCOPED_TRACE(row.what);
        Behaviour b[3];
        row.misbehave(b[row.step]);
        Install(b[0], b[1], b[2]);
        Make(ThreeSteps());
        ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
        EXPECT_EQ(State() == FTSTATE_SUSPEND ? E_NOTIMPL : S_OK, T()->Resume());
        EXPECT_EQ(E_NOTIMPL, T()->Suspend());
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

} // namespace
