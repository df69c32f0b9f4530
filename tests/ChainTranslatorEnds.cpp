// Every run ends once, whoever ends it from where: Stop from another thread
// at a step change or from inside a client event, a temporary file that
// cannot be made between steps, a client that lets go while a run is in
// flight or an event is being delivered.
#include <thread>

#include "ChainTranslatorFixture.h"

using namespace chaintest;

namespace {

using ChainTranslatorEnds = ChainRunTest;

// The steps before `step` finish on worker threads, so the step change
// happens there; the component of `step` is stuck in its class factory when
// Stop comes, and must not be started.
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
            Make(ThreeSteps());
            HRESULT started = E_FAIL;
            std::thread client([&] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                started = Run(mode);
                ::CoUninitialize();
            });
            EXPECT_TRUE(WaitForCall(std::string(kNames[step]) + ".Create"));
            EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
            ::SetEvent(m_gate.get());
            client.join();
            WaitIdle();
            EXPECT_EQ(S_OK, started);
            EXPECT_EQ("state 2, state 4", Events());
            EXPECT_EQ(FTSTATE_STOPPED, State());
            EXPECT_EQ(static_cast<size_t>(step), m_inst->Journal(mode == Mode::AsyncFile ? "File(" : "Stream(").size());
            EXPECT_EQ(Lines{}, m_inst->Journal(".Stop("));
            EXPECT_EQ(Lines{}, TempFiles());
        }
    }
}

// A client may call Stop inside the event it is being told: the run ends
// stopped, nothing deadlocks, and no later step starts; a second run is
// refused until the first has returned.
TEST_F(ChainTranslatorEnds, StopFromInsideAClientEventEndsTheRun)
{
    const struct {
        Mode mode;
        const char* trigger;
        bool worker;
        HRESULT result;
        const char* events;
    } rows[] = {
        {Mode::AsyncFile, "state 2", false, S_OK, "state 2, state 4"},
        {Mode::SyncFile_nothrow, "state 2", false, E_ABORT, "state 2, state 4"},
        {Mode::AsyncFile, "progress 150/300", false, S_OK, "state 2, progress 150/300, state 4"},
        {Mode::AsyncStream, "progress 150/300", true, S_OK, "state 2, progress 150/300, state 4"},
        {Mode::SyncFile_nothrow, "progress 150/300", false, E_ABORT, "state 2, progress 150/300, state 4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.trigger << ", mode " << static_cast<int>(row.mode));
        Behaviour b2c;
        b2c.progress = {{1, 2}};
        b2c.worker = row.worker;
        Install({}, b2c);
        Make(ThreeSteps());
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
        EXPECT_EQ(FTSTATE_STOPPED, State());
        EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
        EXPECT_EQ(Lines{}, TempFiles());
    }
}

// The folder setting is pointed below a plain file while a step runs, so the
// next temporary file cannot be made; the last step writes the caller's
// target and needs none.
TEST_F(ChainTranslatorEnds, TemporaryFileThatCannotBeMadeEndsTheRunInError)
{
    const struct {
        Mode mode;
        const char* trigger; // "" blocks before the run
        HRESULT result;
        const char* events;
        HRESULT error;
        LONG state;
        size_t started;
    } rows[] = {
        {Mode::AsyncFile, "", E_UNEXPECTED, "", S_OK, FTSTATE_READY, 0},
        {Mode::AsyncFile, "progress 50/300", S_OK, "state 2, progress 50/300, state 6", E_UNEXPECTED, FTSTATE_ERROR, 1},
        {Mode::SyncFile_nothrow, "progress 50/300", E_UNEXPECTED, "state 2, progress 50/300, state 6, state 5", E_UNEXPECTED,
         FTSTATE_TRANSLATE_COMPLETE, 1},
        {Mode::AsyncFile, "progress 150/300", S_OK, "state 2, progress 50/300, progress 150/300, state 5", S_OK,
         FTSTATE_TRANSLATE_COMPLETE, 3},
    };
    kittest::TempDir::Write(m_dir.Path(L"blocker"), "x");
    Behaviour reports;
    reports.progress = {{1, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        Install(reports, reports);
        Make(ThreeSteps());
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

// Letting go of the translator ends its hold on everything: the running
// component is stopped, no further step starts, the client hears nothing
// more, and the intermediate files go, even one written afterwards.
TEST_F(ChainTranslatorEnds, ReleasingTheTranslatorWhileARunIsInFlightLeavesNothing)
{
    const struct {
        int step;
        Misbehave misbehave;
        const char* calls;
    } rows[] = {
        {1, [](Behaviour& b) { b.finish = Finish::Nothing; }, "B2C.Stop(info=VT_ERROR:80020004)"},
        {0, [](Behaviour& b) { b.worker = true, b.gate = fakes::Gate::Work; }, "A2B.Stop(info=VT_ERROR:80020004)"},
        {2, [](Behaviour&) {}, "C2D.Unadvise(cookie=1)"}, // the run is over
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.calls);
        Behaviour b[3];
        row.misbehave(b[row.step]);
        Install(b[0], b[1], b[2]);
        Make(ThreeSteps());
        ASSERT_EQ(S_OK, Run(Mode::AsyncFile));
        const std::string heard = Events();
        m_inst->ClearJournal();
        m_translator.Reset();
        EXPECT_EQ(row.calls, Joined(Calls()));
        ::SetEvent(m_gate.get());
        WaitIdle();
        EXPECT_EQ(heard, Events());
        EXPECT_EQ(0, m_inst->LiveObjects());
        EXPECT_EQ(0, vembro::ModuleLockCount());
        EXPECT_EQ(Lines{}, TempFiles());
        EXPECT_EQ(Lines{}, m_inst->Journal(".Create"));
    }
}

TEST_F(ChainTranslatorEnds, EventInFlightKeepsTheTranslatorAliveAfterTheClientLetsGo)
{
    Behaviour reports;
    reports.worker = true;
    reports.progress = {{1, 2}};
    reports.finish = Finish::Nothing;
    Install(reports);
    Make(ThreeSteps());
    vembro::unique_handle inside(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        letGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
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

} // namespace
