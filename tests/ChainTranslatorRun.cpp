// Asynchronous runs of hand-made chains over the fake components.
#include "ChainTranslatorFixture.h"
#include "support/ComChecks.h"

using Microsoft::WRL::ComPtr;
using comtest::RefCount;
using namespace chaintest;
using fakes::Behaviour;
using fakes::Finish;

namespace {

using ChainTranslatorRun = ChainRunTest;

Behaviour Progress(std::vector<std::pair<long, long>> reports, Behaviour b = {})
{
    b.progress = std::move(reports);
    return b;
}
Behaviour Finishing(Finish finish, Behaviour b = {})
{
    b.finish = finish;
    return b;
}

TEST_F(ChainTranslatorRun, ThreeFileStepsFireTheirBandsAndComplete)
{
    Install(Progress({{1, 2}, {5, 0}}), Progress({{50, 200}}), Progress({{3, 3}}));
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);
    Make(ThreeSteps());
    LONG errorAtEnd = 0x5EED;
    Lines tempAtEnd{"not called"};
    m_sink->OnEvent([&](const std::string& e) {
        if (e == "State(5)") {
            errorAtEnd = Error();
            tempAtEnd = NewTempFiles(folder, before);
        }
    });
    EXPECT_EQ(S_OK, TranslateFile());
    WaitIdle();
    // A progress of 5 of 0 cannot be scaled and is not relayed.
    EXPECT_EQ((Lines{"State(2)", "Progress(50,300)", "Progress(125,300)", "Progress(300,300)", "State(5)"}),
              m_sink->Events());
    EXPECT_EQ(S_OK, errorAtEnd);
    EXPECT_EQ(Lines{}, tempAtEnd);
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", FileContent(m_out));
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, State());
    EXPECT_EQ(S_OK, Error());
}

TEST_F(ChainTranslatorRun, EachStepReadsWhatThePreviousOneWrote)
{
    Install();
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(5)));
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Priority"), Var::I2(1)));
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::Str("fast")));
    ASSERT_EQ(S_OK, TranslateFile());
    WaitIdle();
    const std::string temp1 = Argument("A2B.ConvertFile", "out");
    const std::string temp2 = Argument("B2C.TranslateFile", "out");
    EXPECT_EQ((Lines{
                  "A2B.Create",
                  "A2B.Advise(cookie=1)",
                  "A2B.ConvertFile(in=" + m_in + ", out=" + temp1 + ", info=" + kMissing + ")",
                  "A2B.Unadvise(cookie=1)",
                  "B2C.Create",
                  "B2C.Advise(cookie=1)",
                  "B2C.put_Property(PRIORITY=VT_I4:1)",
                  "B2C.put_Property(Mode=VT_BSTR:fast)",
                  "B2C.put_Property(Priority=VT_I2:1)",
                  "B2C.TranslateFile(direction=set, in=" + temp1 + ", out=" + temp2 + ", info=" + kMissing + ")",
                  "B2C.Unadvise(cookie=1)",
                  "C2D.Create",
                  "C2D.Advise(cookie=1)",
                  "C2D.ConvertFile(in=" + temp2 + ", out=" + m_out + ", info=" + kMissing + ")",
              }),
              Journal());
    EXPECT_NE(temp1, temp2);
    EXPECT_EQ(FolderOf(temp1), FolderOf(temp2));
    EXPECT_FALSE(FileExists(temp1));
    EXPECT_FALSE(FileExists(temp2));
}

TEST_F(ChainTranslatorRun, TwoStepShapesHandTheirFileOver)
{
    Install();
    Make(MakeChain({Conv(1, 2), Tran(2, 3)}));
    ASSERT_EQ(S_OK, TranslateFile());
    WaitIdle();
    const std::string temp1 = Argument("A2B.ConvertFile", "out");
    EXPECT_EQ(temp1, Argument("B2C.TranslateFile", "in"));
    EXPECT_EQ(m_out, Argument("B2C.TranslateFile", "out"));
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n", FileContent(m_out));
    EXPECT_EQ((Lines{"State(2)", "State(5)"}), m_sink->Events());
    EXPECT_FALSE(FileExists(temp1));

    m_inst->ClearJournal();
    m_sink->Clear();
    ComPtr<ITolviFileTranslator> other = MakeTranslator(MakeChain({Tran(2, 3), Conv(3, 4)}));
    ASSERT_EQ(S_OK, other->TranslateFile(m_direction.Get(), Bstr(m_in).get(), Bstr(m_out).get(), Var::Missing()));
    WaitIdle();
    const std::string temp = Argument("B2C.TranslateFile", "out");
    EXPECT_EQ(m_in, Argument("B2C.TranslateFile", "in"));
    EXPECT_EQ(temp, Argument("C2D.ConvertFile", "in"));
    EXPECT_EQ(m_out, Argument("C2D.ConvertFile", "out"));
    EXPECT_EQ("doc\n[B2C]\n[C2D]\n", FileContent(m_out));
    EXPECT_FALSE(FileExists(temp));
}

TEST_F(ChainTranslatorRun, ThreeStreamStepsRewindWhatTheyHandOver)
{
    Install(Progress({{30, 60}}), Progress({{30, 60}}), Finishing(Finish::Ready));
    Make(ThreeSteps());
    // The caller's source is handed on where it stands.
    ComPtr<IStream> source = MakeStream("skip\ndoc\n");
    LARGE_INTEGER at{};
    at.QuadPart = 5;
    ASSERT_EQ(S_OK, source->Seek(at, STREAM_SEEK_SET, nullptr));
    ComPtr<IStream> target = MakeStream();
    ASSERT_EQ(S_OK, T()->TranslateStream(m_direction.Get(), source.Get(), target.Get(), Var::Str("info")));
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "Progress(50,300)", "Progress(150,300)", "State(5)"}), m_sink->Events());
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", StreamContent(target.Get()));
    // The run let go of Direction.
    EXPECT_EQ(1u, RefCount(m_direction.Get()));
    EXPECT_EQ((Lines{
                  "A2B.Create",
                  "A2B.Advise(cookie=1)",
                  "A2B.ConvertStream(in=@5, out=@0, info=" + kMissing + ")",
                  "A2B.Unadvise(cookie=1)",
                  "B2C.Create",
                  "B2C.Advise(cookie=1)",
                  "B2C.put_Property(PRIORITY=VT_I4:0)",
                  "B2C.TranslateStream(direction=set, in=@0, out=@0, info=" + kMissing + ")",
                  "B2C.Unadvise(cookie=1)",
                  "C2D.Create",
                  "C2D.Advise(cookie=1)",
                  "C2D.ConvertStream(in=@0, out=@0, info=" + kMissing + ")",
              }),
              Journal());
    EXPECT_EQ(S_OK, Error());
}

TEST_F(ChainTranslatorRun, EndOfAStreamRunLetsGoOfTheCallersObjects)
{
    Behaviour fails;
    fails.finish = Finish::Error;
    Install({}, fails);
    Make(ThreeSteps());
    ComPtr<IStream> source = MakeStream("doc\n");
    ComPtr<IStream> target = MakeStream();
    ASSERT_EQ(S_OK, T()->TranslateStream(m_direction.Get(), source.Get(), target.Get(), Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    // The target was held for the last step, which never came.
    EXPECT_EQ(1u, RefCount(target.Get()));
    EXPECT_EQ(1u, RefCount(m_direction.Get()));
    EXPECT_EQ("", StreamContent(target.Get()));
}

TEST_F(ChainTranslatorRun, FirstStepThatFailsToStartEndsTheRun)
{
    Behaviour refuses;
    refuses.startResult = E_ACCESSDENIED;
    Install(refuses);
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);
    Make(ThreeSteps());
    EXPECT_EQ(E_ACCESSDENIED, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_ACCESSDENIED, Error());
    EXPECT_EQ(FTSTATE_ERROR, State());
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
    EXPECT_EQ(Lines{}, m_inst->Journal("B2C."));
    // The run is over: the next one may start.
    m_sink->Clear();
    EXPECT_EQ(E_ACCESSDENIED, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
}

TEST_F(ChainTranslatorRun, FirstStepWithoutAComponentEndsTheRun)
{
    Install();
    Make(MakeChain({Conv(9, 2), Tran(2, 3)}));
    EXPECT_EQ(E_INVALIDARG, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_INVALIDARG, Error());
}

TEST_F(ChainTranslatorRun, ComponentWithoutEventsCannotRun)
{
    Behaviour deaf;
    deaf.noEvents = true;
    Install(deaf);
    Make(ThreeSteps());
    EXPECT_EQ(E_NOINTERFACE, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_NOINTERFACE, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal(".ConvertFile"));
}

TEST_F(ChainTranslatorRun, TranslatorErrorBecomesTheChainsError)
{
    Behaviour fails = Finishing(Finish::Error);
    fails.errorCode = E_FAIL;
    Install({}, fails);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, TranslateFile());
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_FAIL, Error());
    EXPECT_EQ(FTSTATE_ERROR, State());
    EXPECT_EQ(Lines{"B2C.Error"}, m_inst->Journal("B2C.Error"));
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
}

TEST_F(ChainTranslatorRun, ConverterErrorIsAlwaysFail)
{
    Behaviour fails = Finishing(Finish::Error);
    fails.errorCode = E_ACCESSDENIED;
    Install({}, {}, fails);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, TranslateFile());
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_FAIL, Error());
}

TEST_F(ChainTranslatorRun, TranslatorErrorWithoutACodeEndsTheRunAsAFailure)
{
    Behaviour fails = Finishing(Finish::Error);
    fails.errorCode = S_OK;
    Install({}, fails);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, TranslateFile());
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_FAIL, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
    // No run is in progress any more.
    m_sink->Clear();
    EXPECT_EQ(S_OK, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
}

TEST_F(ChainTranslatorRun, LateReportOfAFinishedRunIsIgnored)
{
    Install();
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    WaitIdle();
    m_inst->ClearJournal();
    m_sink->Clear();
    // Stop reaches the component of the last step, still held and connected,
    // which reports FTSTATE_STOPPED; no step is current, so nobody hears it.
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"C2D.Stop(info=" + kMissing + ")", "C2D>StateChange(4)"}), m_inst->Trace());
    EXPECT_EQ(Lines{}, m_sink->Events());
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, State());
}

TEST_F(ChainTranslatorRun, SecondRunIsRefusedWhileOneIsGoing)
{
    Install(Finishing(Finish::Nothing));
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    const std::string temp1 = Argument("A2B.ConvertFile", "out");
    ComPtr<IStream> s = MakeStream("doc\n");
    EXPECT_EQ(E_UNEXPECTED, TranslateFile());
    EXPECT_EQ(E_UNEXPECTED, T()->TranslateStream(m_direction.Get(), s.Get(), s.Get(), Var::Missing()));
    EXPECT_EQ(E_UNEXPECTED, SyncTranslateFile());
    EXPECT_EQ(E_UNEXPECTED, T2()->SyncTranslateStream(m_direction.Get(), s.Get(), s.Get(), Var::Missing()));
    EXPECT_EQ(S_OK, T()->Resume());
    EXPECT_EQ(E_NOTIMPL, T()->Suspend());
    EXPECT_EQ(Lines{"State(2)"}, m_sink->Events());
    EXPECT_EQ(1u, m_inst->Journal(".ConvertFile").size());
    EXPECT_TRUE(FileExists(temp1)); // the run's file is untouched
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_FALSE(FileExists(temp1));
}

class ChainTranslatorStop : public ChainRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(ChainTranslatorStop, StopsTheRunningStep)
{
    const int step = GetParam();
    const char* names[] = {"A2B", "B2C", "C2D"};
    Behaviour waits = Finishing(Finish::Nothing);
    Install(step == 0 ? waits : Behaviour{}, step == 1 ? waits : Behaviour{}, step == 2 ? waits : Behaviour{});
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    ASSERT_EQ(Lines{"State(2)"}, m_sink->Events());
    m_inst->ClearJournal();
    EXPECT_EQ(S_OK, T()->Stop(Var::I4(1)));
    WaitIdle();
    EXPECT_EQ((Lines{std::string(names[step]) + ".Stop(info=" + kMissing + ")",
                     std::string(names[step]) + ">StateChange(4)"}),
              m_inst->Trace());
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_STOPPED, State());
    EXPECT_EQ(S_OK, Error());
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
}

INSTANTIATE_TEST_SUITE_P(EachStep, ChainTranslatorStop, ::testing::Values(0, 1, 2));

TEST_F(ChainTranslatorRun, FailingStopOfTheComponentEndsTheRunWithItsCode)
{
    Behaviour stubborn = Finishing(Finish::Nothing);
    stubborn.stopResult = E_ACCESSDENIED;
    Install({}, stubborn);
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(E_ACCESSDENIED, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(6)"}), m_sink->Events());
    EXPECT_EQ(E_ACCESSDENIED, Error());
}

TEST_F(ChainTranslatorRun, StepsFinishingOnWorkerThreadsRunTheWholeChain)
{
    Behaviour worker;
    worker.worker = true;
    Install(Progress({{1, 4}}, worker), Progress({{2, 4}}, worker), Progress({{3, 4}}, worker));
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);
    Make(ThreeSteps());
    Lines tempAtEnd{"not called"};
    m_sink->OnEvent([&](const std::string& e) {
        if (e == "State(5)")
            tempAtEnd = NewTempFiles(folder, before);
    });
    ASSERT_EQ(S_OK, TranslateFile());
    ASSERT_TRUE(m_sink->WaitForEvents(5));
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "Progress(25,300)", "Progress(150,300)", "Progress(275,300)", "State(5)"}),
              m_sink->Events());
    const std::vector<DWORD> threads = m_sink->Threads();
    ASSERT_EQ(5u, threads.size());
    EXPECT_EQ(::GetCurrentThreadId(), threads[0]);
    EXPECT_NE(threads[0], threads[1]);
    EXPECT_NE(threads[1], threads[2]);
    EXPECT_NE(threads[2], threads[3]);
    EXPECT_EQ(threads[3], threads[4]);
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", FileContent(m_out));
    EXPECT_EQ(Lines{}, tempAtEnd);
    EXPECT_EQ(S_OK, Error());
}

TEST_F(ChainTranslatorRun, SuspendedComponentShowsTheSuspension)
{
    Install({}, Finishing(Finish::Suspend));
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(3)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_SUSPEND, State());
    EXPECT_EQ(E_NOTIMPL, T()->Resume());
    EXPECT_EQ(E_NOTIMPL, T()->Suspend());
    EXPECT_EQ(Lines{}, m_inst->Journal(".Resume"));
    EXPECT_EQ(Lines{}, m_inst->Journal(".Suspend"));
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(3)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(S_OK, T()->Resume());
}

TEST_F(ChainTranslatorRun, PropertiesGoToTheRunningTranslator)
{
    Behaviour waits = Finishing(Finish::Nothing);
    waits.propertyEvents = true;
    Install({}, waits);
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(1)));
    ASSERT_EQ(S_OK, TranslateFile());
    m_inst->ClearJournal();
    EXPECT_EQ(S_OK, T()->put_Property(Var::Str("Mode"), Var::I4(9)));
    EXPECT_EQ(S_OK, T()->put_Property(Var::Str("priority"), Var::I2(-1)));
    VARIANT out;
    ::VariantInit(&out);
    EXPECT_EQ(S_OK, T()->get_Property(Var::Str("Mode"), &out));
    EXPECT_EQ("VT_I4:9", VariantText(out));
    ::VariantClear(&out);
    EXPECT_EQ(S_OK, T()->get_Property(Var::Str("PRIORITY"), &out));
    EXPECT_EQ("VT_I4:-1", VariantText(out));
    EXPECT_EQ(E_INVALIDARG, T()->get_Property(Var::Str("Unset"), &out));
    EXPECT_EQ("VT_EMPTY", VariantText(out)); // the component's answer
    EXPECT_EQ((Lines{"B2C.put_Property(Mode=VT_I4:9)", "B2C>PropertyChange(Mode=VT_I4:9)",
                     "B2C.put_Property(priority=VT_I2:-1)", "B2C>PropertyChange(priority=VT_I2:-1)",
                     "B2C.get_Property(Mode)", "B2C.get_Property(Unset)"}),
              m_inst->Trace());
    // PropertyChange of the component reaches no client.
    EXPECT_EQ(Lines{"State(2)"}, m_sink->Events());
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
}

TEST_F(ChainTranslatorRun, RunningTranslatorsFailuresComeBackUnchanged)
{
    Behaviour refuses = Finishing(Finish::Nothing);
    refuses.propertyResult = E_ACCESSDENIED;
    Install({}, refuses);
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(E_ACCESSDENIED, T()->put_Property(Var::Str("Mode"), Var::I4(9)));
    EXPECT_EQ(S_OK, T()->put_Property(Var::Str("PRIORITY"), Var::I4(2)));
    VARIANT out;
    ::VariantInit(&out);
    EXPECT_EQ(E_ACCESSDENIED, T()->get_Property(Var::Str("Mode"), &out));
    EXPECT_EQ(S_OK, T()->get_Property(Var::Str("PRIORITY"), &out));
    EXPECT_EQ("VT_I4:2", VariantText(out));
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
}

} // namespace
