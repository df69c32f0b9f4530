// Every run ends, once, whatever its components do and whichever thread
// asks: Stop answered by finishing, Stop and properties while a step's start
// call blocks, Stop while the first component is being created, a client
// that lets go while an event is in flight, a synchronous run ended by its
// component's report.
#include <functional>

#include "ChainTranslatorFixture.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using namespace chaintest;
using fakes::Behaviour;
using fakes::Finish;

namespace {

class ChainTranslatorEnds : public ChainRunTest {
protected:
    void SetUp() override
    {
        ChainRunTest::SetUp();
        m_gate.reset(::CreateEventW(nullptr, TRUE, FALSE, fakes::kGateName));
        ASSERT_TRUE(m_gate);
    }
    void TearDown() override
    {
        ::SetEvent(m_gate.get());
        ChainRunTest::TearDown();
    }
    // Waits until the journal holds a line containing `part`.
    bool WaitForCall(const std::string& part) const
    {
        for (int i = 0; i < 1000 && m_inst->Journal(part).empty(); ++i)
            ::Sleep(10);
        return !m_inst->Journal(part).empty();
    }
    // The journal lines that contain any of `parts`, in order.
    Lines CallsOf(std::initializer_list<const char*> parts) const
    {
        Lines found;
        for (auto& line : m_inst->Journal()) {
            for (const char* part : parts) {
                if (line.find(part) != std::string::npos) {
                    found.push_back(line);
                    break;
                }
            }
        }
        return found;
    }
    vembro::unique_handle m_gate;
};

// Runs `work` on a new thread in the multithreaded apartment.
class Worker {
public:
    explicit Worker(std::function<void()> work) : m_work(std::move(work))
    {
        m_thread.reset(::CreateThread(nullptr, 0, &Worker::Main, this, 0, nullptr));
    }
    ~Worker() { Join(); }
    void Join() { ::WaitForSingleObject(m_thread.get(), INFINITE); }

private:
    static DWORD WINAPI Main(void* self)
    {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        static_cast<Worker*>(self)->m_work();
        ::CoUninitialize();
        return 0;
    }
    std::function<void()> m_work;
    vembro::unique_handle m_thread;
};

class StopAnsweredByFinishing : public ChainTranslatorEnds, public ::testing::WithParamInterface<long> {};

TEST_P(StopAnsweredByFinishing, EndsTheRunStoppedAndLeavesTheObjectReady)
{
    Behaviour waits;
    waits.finish = Finish::Nothing;
    waits.stopReport = GetParam();
    Install(waits);
    Make(ThreeSteps());
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);

    ASSERT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_STOPPED, State());
    EXPECT_EQ(0, Error());
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
    // The step that finished was not followed by another.
    EXPECT_EQ(Lines{}, m_inst->Journal("B2C.Create"));
    // And the object takes the next run.
    EXPECT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ(FTSTATE_STOPPED, State());
}

INSTANTIATE_TEST_SUITE_P(CompleteOrReady, StopAnsweredByFinishing,
                         ::testing::Values(long{FTSTATE_TRANSLATE_COMPLETE}, long{FTSTATE_READY}));

TEST_F(ChainTranslatorEnds, LateStopAfterARunThatHoldsNoComponentChangesNothing)
{
    Behaviour uncreatable;
    uncreatable.createResult = E_OUTOFMEMORY;
    Install({}, {}, uncreatable);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, TranslateFile()); // the last step cannot be made: the run ends in error
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_ERROR, State());
}

TEST_F(ChainTranslatorEnds, FailingStopAfterTheRunReturnsItsCodeAndEndsNothing)
{
    Behaviour refuses;
    refuses.stopResult = E_ACCESSDENIED;
    Install({}, {}, refuses);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(E_ACCESSDENIED, T()->Stop(Var::Missing())); // reaches C2D, still held
    EXPECT_EQ((Lines{"State(2)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, State());
    EXPECT_EQ(0, Error());
}

TEST_F(ChainTranslatorEnds, StopAndPropertiesReachAStepWhoseStartCallBlocks)
{
    Behaviour first;
    first.worker = true; // the second step starts on this component's thread
    Behaviour blocks;
    blocks.gate = fakes::Gate::Start; // until Stop has returned, or the gate times out
    Install(first, blocks);
    Make(ThreeSteps());

    ASSERT_EQ(S_OK, TranslateFile());
    ASSERT_TRUE(WaitForCall("B2C.TranslateFile"));
    EXPECT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(1)));
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    ::SetEvent(m_gate.get());
    WaitIdle();
    EXPECT_EQ((Lines{"B2C.put_Property(Mode=VT_I4:1)", "B2C.Stop(info=" + kMissing + ")", "B2C.Gate(open)"}),
              CallsOf({"Mode=", ".Stop(", ".Gate("}));
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D.Create"));
}

TEST_F(ChainTranslatorEnds, StopWhileTheFirstComponentIsCreatedEndsTheRunBeforeItStarts)
{
    Behaviour slow;
    slow.gate = fakes::Gate::Create;
    ::SetEvent(m_gate.get()); // open while the registries load
    Install(slow);
    ::ResetEvent(m_gate.get());
    Make(ThreeSteps());
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);

    HRESULT started = E_FAIL;
    Worker client([&] { started = TranslateFile(); });
    ASSERT_TRUE(WaitForCall("A2B.Create"));
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ(Lines{"State(2)"}, m_sink->Events()); // the intermediate file is still in use
    ::SetEvent(m_gate.get());
    client.Join();

    EXPECT_EQ(S_OK, started);
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(Lines{}, m_inst->Journal("A2B.ConvertFile"));
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
}

TEST_F(ChainTranslatorEnds, EventInFlightKeepsTheTranslatorAliveAfterTheClientLetsGo)
{
    Behaviour reports;
    reports.worker = true;
    reports.progress = {{1, 2}};
    reports.finish = Finish::Nothing;
    Install(reports);
    Make(ThreeSteps());
    vembro::unique_handle inside(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vembro::unique_handle letGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_sink->OnEvent([&](const std::string& event) {
        if (event.rfind("Progress", 0) == 0) {
            ::SetEvent(inside.get());
            ::WaitForSingleObject(letGo.get(), 10000);
        }
    });

    ASSERT_EQ(S_OK, TranslateFile());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(inside.get(), 10000));
    const long held = vembro::ModuleLockCount();
    m_translator.Reset();
    EXPECT_EQ(held, vembro::ModuleLockCount()); // the translator stays for the event's delivery
    ::SetEvent(letGo.get());
    WaitIdle();
    EXPECT_EQ(0, vembro::ModuleLockCount());
    EXPECT_EQ(0, m_inst->LiveObjects());
}

TEST_F(ChainTranslatorEnds, FileWrittenAfterTheClientLetGoIsDeletedOnceTheComponentIsDone)
{
    Behaviour late;
    late.worker = true;
    late.gate = fakes::Gate::Work; // writes only once the translator is gone
    Install(late);
    Make(ThreeSteps());
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);

    ASSERT_EQ(S_OK, TranslateFile());
    Disconnect(T(), m_cookie);
    m_translator.Reset();
    ::SetEvent(m_gate.get());
    WaitIdle();
    EXPECT_EQ((Lines{"A2B.Gate(open)"}), CallsOf({".Gate("}));
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
}

TEST_F(ChainTranslatorEnds, SynchronousRunEndedByItsComponentIsBusyUntilItReturns)
{
    Install(Behaviour{}, Behaviour{}, [] {
        Behaviour stops;
        stops.finish = Finish::Stopped;
        return stops;
    }());
    Make(ThreeSteps());
    HRESULT second = S_OK;
    m_sink->OnEvent([&](const std::string& event) {
        if (event == "State(4)")
            second = TranslateFile();
    });

    EXPECT_EQ(E_ABORT, SyncTranslateFile());
    EXPECT_EQ(E_UNEXPECTED, second);
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_STOPPED, State());
    EXPECT_EQ(E_ABORT, Error());
}

} // namespace
