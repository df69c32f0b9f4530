// Synchronous runs and format detection of hand-made chains over the fakes.
#include "ChainTranslatorFixture.h"

using Microsoft::WRL::ComPtr;
using namespace chaintest;
using fakes::Behaviour;
using fakes::Finish;

namespace {

using ChainTranslatorSync = ChainRunTest;

Behaviour Progress(std::vector<std::pair<long, long>> reports)
{
    Behaviour b;
    b.progress = std::move(reports);
    return b;
}

TEST_F(ChainTranslatorSync, FileRunDoesEveryStepInTheCall)
{
    Behaviour quirky = Progress({{1, 1}});
    quirky.syncResult = S_FALSE; // a success code of a component is not the chain's result
    Install(Progress({{1, 2}}), quirky);
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
    EXPECT_EQ(S_OK, SyncTranslateFile());
    EXPECT_EQ((Lines{"State(2)", "Progress(50,300)", "Progress(200,300)", "State(5)"}), m_sink->Events());
    for (DWORD thread : m_sink->Threads())
        EXPECT_EQ(::GetCurrentThreadId(), thread);
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", FileContent(m_out));
    EXPECT_EQ(S_OK, errorAtEnd);
    EXPECT_EQ(Lines{}, tempAtEnd);
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, State());
    const std::string temp1 = Argument("A2B.SyncConvertFile", "out");
    const std::string temp2 = Argument("B2C.SyncTranslateFile", "out");
    EXPECT_EQ((Lines{
                  "A2B.Create",
                  "A2B.Advise(cookie=1)",
                  "A2B.SyncConvertFile(in=" + m_in + ", out=" + temp1 + ", reserved=" + kMissing + ")",
                  "A2B.Unadvise(cookie=1)",
                  "B2C.Create",
                  "B2C.Advise(cookie=1)",
                  "B2C.put_Property(PRIORITY=VT_I4:0)",
                  "B2C.SyncTranslateFile(direction=set, in=" + temp1 + ", out=" + temp2 + ", reserved=" + kMissing +
                      ")",
                  "B2C.Unadvise(cookie=1)",
                  "C2D.Create",
                  "C2D.Advise(cookie=1)",
                  "C2D.SyncConvertFile(in=" + temp2 + ", out=" + m_out + ", reserved=" + kMissing + ")",
              }),
              Journal());
    EXPECT_NE(temp1, temp2);
}

TEST_F(ChainTranslatorSync, StreamRunDoesEveryStepInTheCall)
{
    Install();
    Make(ThreeSteps());
    ComPtr<IStream> source = MakeStream("doc\n");
    ComPtr<IStream> target = MakeStream();
    EXPECT_EQ(S_OK, T2()->SyncTranslateStream(m_direction.Get(), source.Get(), target.Get(), Var::I4(3)));
    EXPECT_EQ((Lines{"State(2)", "State(5)"}), m_sink->Events());
    EXPECT_EQ("doc\n[A2B]\n[B2C]\n[C2D]\n", StreamContent(target.Get()));
    EXPECT_EQ((Lines{"A2B.SyncConvertStream(in=@0, out=@0, reserved=" + kMissing + ")",
                     "B2C.SyncTranslateStream(direction=set, in=@0, out=@0, reserved=" + kMissing + ")",
                     "C2D.SyncConvertStream(in=@0, out=@0, reserved=" + kMissing + ")"}),
              m_inst->Journal(".Sync"));
    EXPECT_EQ(S_OK, Error());
}

TEST_F(ChainTranslatorSync, ComponentWithoutTheSynchronousInterfaceFails)
{
    Behaviour old;
    old.noSync = true;
    Install({}, {}, old);
    Make(ThreeSteps());
    EXPECT_EQ(E_NOINTERFACE, SyncTranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_TRANSLATE_COMPLETE, State());
    EXPECT_EQ(E_NOINTERFACE, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D.Sync"));

    m_sink->Clear();
    ComPtr<IStream> source = MakeStream("doc\n");
    ComPtr<IStream> target = MakeStream();
    EXPECT_EQ(E_NOINTERFACE, T2()->SyncTranslateStream(m_direction.Get(), source.Get(), target.Get(), Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(6)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(E_NOINTERFACE, Error());
}

TEST_F(ChainTranslatorSync, FailingSynchronousCallIsTheResult)
{
    Behaviour fails;
    fails.syncResult = E_ACCESSDENIED;
    Install(fails);
    Make(ThreeSteps());
    EXPECT_EQ(E_ACCESSDENIED, SyncTranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(E_ACCESSDENIED, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal("B2C."));
}

TEST_F(ChainTranslatorSync, ErrorReportedDuringTheCallIsTheResult)
{
    Behaviour fails;
    fails.finish = Finish::Error;
    fails.errorCode = E_ACCESSDENIED;
    Install({}, fails);
    Make(ThreeSteps());
    EXPECT_EQ(E_ACCESSDENIED, SyncTranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(6)", "State(6)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(E_ACCESSDENIED, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
}

TEST_F(ChainTranslatorSync, StopReportedDuringTheCallEndsTheRunIdle)
{
    Behaviour stops;
    stops.finish = Finish::Stopped;
    Install({}, stops);
    const std::string folder = TempFolder();
    const Lines before = TempFilesIn(folder);
    Make(ThreeSteps());
    // The report has already ended the run; the caller learns that the
    // target was not made, and no completion follows the stop.
    EXPECT_EQ(E_ABORT, SyncTranslateFile());
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
    EXPECT_EQ(FTSTATE_STOPPED, State());
    EXPECT_EQ(E_ABORT, Error());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));
    EXPECT_EQ(Lines{}, NewTempFiles(folder, before));
    // Idle: another run is accepted, and ends the same way.
    m_sink->Clear();
    ComPtr<IStream> source = MakeStream("doc\n");
    ComPtr<IStream> target = MakeStream();
    EXPECT_EQ(E_ABORT, T2()->SyncTranslateStream(m_direction.Get(), source.Get(), target.Get(), Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
}

TEST_F(ChainTranslatorSync, ErrorIsResetAtTheStartOfASynchronousRunOnly)
{
    Install();
    Make(ThreeSteps());
    // A first run over a missing input fails in its first converter.
    const std::string missing = m_in + ".missing";
    ASSERT_EQ(S_OK, T()->TranslateFile(m_direction.Get(), Bstr(missing).get(), Bstr(m_out).get(), Var::Missing()));
    ASSERT_EQ(E_FAIL, Error());

    LONG errorAtStart = 0x5EED;
    m_sink->OnEvent([&](const std::string& e) {
        if (e == "State(2)")
            errorAtStart = Error();
    });
    m_sink->Clear();
    ASSERT_EQ(S_OK, TranslateFile());
    EXPECT_EQ(E_FAIL, errorAtStart); // an asynchronous run keeps it until it ends
    EXPECT_EQ(S_OK, Error());

    ASSERT_EQ(S_OK, T()->TranslateFile(m_direction.Get(), Bstr(missing).get(), Bstr(m_out).get(), Var::Missing()));
    ASSERT_EQ(E_FAIL, Error());
    EXPECT_EQ(S_OK, SyncTranslateFile());
    EXPECT_EQ(S_OK, errorAtStart);
}

TEST_F(ChainTranslatorSync, SynchronousRunIsRefusedDuringAnAsynchronousOne)
{
    Behaviour waits;
    waits.finish = Finish::Nothing;
    Install({}, waits);
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    ComPtr<IStream> s = MakeStream("doc\n");
    EXPECT_EQ(E_UNEXPECTED, SyncTranslateFile());
    EXPECT_EQ(E_UNEXPECTED, T2()->SyncTranslateStream(m_direction.Get(), s.Get(), s.Get(), Var::Missing()));
    EXPECT_EQ(Lines{"State(2)"}, m_sink->Events());
    EXPECT_EQ(FTSTATE_TRANSLATE, State());
    EXPECT_EQ(Lines{}, m_inst->Journal(".Sync"));
    // The run goes on undisturbed.
    EXPECT_EQ(S_OK, T()->Stop(Var::Missing()));
    EXPECT_EQ((Lines{"State(2)", "State(4)"}), m_sink->Events());
}

class ChainTranslatorDetect : public ChainRunTest {
protected:
    HRESULT Ask(const VARIANT& data, int type)
    {
        return T()->IsFormatAvailable(data, static_cast<tagFILEDATATYPE>(type));
    }
};

TEST_F(ChainTranslatorDetect, FirstConverterAnswersForItsSourceFormat)
{
    Behaviour detects;
    detects.detectIfContains = "doc";
    Install(detects);
    Make(ThreeSteps());
    EXPECT_EQ(S_OK, Ask(Var::Str(m_in), FILEDATATYPE_FILENAME));
    EXPECT_EQ(S_OK, Ask(Var::Str("a doc"), FILEDATATYPE_TEXT));
    EXPECT_EQ(S_FALSE, Ask(Var::Str("a text"), FILEDATATYPE_TEXT));
    ComPtr<IStream> stream = MakeStream("doc");
    EXPECT_EQ(S_OK, Ask(Var::Unknown(stream.Get()), FILEDATATYPE_STREAM));
    // The fake reads to the end; the stream is put back for the caller's run.
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_CUR, &position));
    EXPECT_EQ(0u, position.QuadPart);
    // A by-reference name is passed as the string it refers to.
    auto name = Bstr(m_in);
    BSTR ref = name.get();
    VARIANT byRef;
    V_VT(&byRef) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&byRef) = &ref;
    m_inst->ClearJournal();
    EXPECT_EQ(S_OK, Ask(byRef, FILEDATATYPE_FILENAME));
    // A component made for the question only, without a sink.
    EXPECT_EQ((Lines{"A2B.Create", "A2B.IsFormatAvailableFile(file=" + m_in + ")", "A2B.Destroy"}),
              m_inst->Journal());
}

TEST_F(ChainTranslatorDetect, WrongDataForAConverterIsRefusedBeforeItIsAsked)
{
    Behaviour yes;
    yes.detect = S_OK;
    Install(yes);
    Make(ThreeSteps());
    ComPtr<IStream> stream = MakeStream("doc");
    EXPECT_EQ(E_INVALIDARG, Ask(Var::Str("x"), FILEDATATYPE_STREAM));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::Unknown(stream.Get()), FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::I4(1), FILEDATATYPE_TEXT));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::Str("x"), 3));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::Str("x"), -1));
    Var nullText;
    V_VT(&nullText) = VT_BSTR;
    V_BSTR(&nullText) = nullptr;
    EXPECT_EQ(E_POINTER, Ask(nullText, FILEDATATYPE_TEXT));
    EXPECT_EQ(E_POINTER, Ask(nullText, FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_POINTER, Ask(Var::Unknown(nullptr), FILEDATATYPE_STREAM));
    EXPECT_EQ(Lines{}, m_inst->Journal(".IsFormatAvailable"));
    // Each question made a converter and released it.
    EXPECT_EQ(8u, m_inst->Journal("A2B.Create").size());
    EXPECT_EQ(8u, m_inst->Journal("A2B.Destroy").size());
}

TEST_F(ChainTranslatorDetect, FirstTranslatorGetsTheDataAsItCame)
{
    Behaviour yes;
    yes.detect = S_OK;
    Install({}, yes);
    Make(MakeChain({Tran(2, 3), Conv(3, 4)}));
    EXPECT_EQ(S_OK, Ask(Var::Str("x.b"), FILEDATATYPE_FILENAME));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::I4(5), 9)); // the translator's own answer
    EXPECT_EQ((Lines{"B2C.IsFormatAvailable(data=VT_BSTR:x.b, type=0)", "B2C.IsFormatAvailable(data=VT_I4:5, type=9)"}),
              m_inst->Journal(".IsFormatAvailable"));
    EXPECT_EQ(Lines{}, m_inst->Journal(".Advise"));
}

TEST_F(ChainTranslatorDetect, FirstStepWithoutAComponentGivesTheRegistrysAnswer)
{
    Install();
    Make(MakeChain({Conv(9, 2), Tran(2, 3)}));
    EXPECT_EQ(E_INVALIDARG, Ask(Var::Str("x"), FILEDATATYPE_TEXT));
    ComPtr<ITolviFileTranslator> other = MakeTranslator(MakeChain({Tran(9, 3), Conv(3, 4)}));
    EXPECT_EQ(E_INVALIDARG, other->IsFormatAvailable(Var::Str("x"), FILEDATATYPE_TEXT));
    EXPECT_EQ(Lines{}, m_inst->Journal(".Create"));
}

} // namespace
