// The chain translator without a run: which reports of its inner sinks reach
// the clients, PRIORITY, formats and detection by the first step.
#include "ChainTranslatorFixture.h"
#include "events/ItemSinks.h"
#include "translator/ChainFileTranslator.h"

using namespace chaintest;

namespace {

using ChainTranslatorObject = ChainRunTest;

// Only the sink of the running step's kind is heard, only its progress and
// final states, and only while its step runs.
TEST_F(ChainTranslatorObject, ReportsOfTheOtherKindOfStepOrOfNoStepAreDropped)
{
    Behaviour waits;
    waits.finish = Finish::Nothing;
    Install({}, waits);
    using Object = vembro::CComObject<vembro::CTolviChainFileTranslator>;
    Object* object = nullptr;
    ASSERT_EQ(S_OK, Object::CreateInstance(&object));
    m_translator = static_cast<ITolviFileTranslator*>(object);
    ASSERT_EQ(S_OK, object->SetChainOf(ThreeSteps()));
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

TEST_F(ChainTranslatorObject, PriorityIsASmallIntegerAndFormatsComeFromTheEndsOfTheChain)
{
    Install();
    Make(ThreeSteps());
    for (int priority = -3; priority <= 3; ++priority)
        EXPECT_EQ(priority * priority <= 4 ? S_OK : E_INVALIDARG,
                  T()->put_Property(Var::Str("pRiOrItY"), Var::I2(static_cast<short>(priority))));
    EXPECT_EQ(E_INVALIDARG, T()->put_Property(Var::Str("PRIORITY"), Var::Str("1")));
    Var out;
    EXPECT_EQ(S_OK, T()->get_Property(Var::Str("Priority"), &out));
    EXPECT_EQ("VT_I4:2", comtest::VariantText(out));
    ComPtr<ITolviFileFormat> source, target;
    ASSERT_EQ(S_OK, T()->get_SourceFormat(&source));
    ASSERT_EQ(S_OK, T()->get_TargetFormat(&target));
    short first = 0, last = 0;
    EXPECT_EQ(S_OK, source->get_ID(&first));
    EXPECT_EQ(S_OK, target->get_ID(&last));
    EXPECT_EQ(14, first * 10 + last);
}

// The first step's component answers, made for the question alone: a
// converter as the catalogue asks it, a translator with the data as it came.
TEST_F(ChainTranslatorObject, FirstStepAnswersWhetherDataIsInTheSourceFormat)
{
    Behaviour yes;
    yes.detect = S_OK;
    Install(yes, yes);
    for (const auto& chain : {ThreeSteps(), Chain({Tran(2, 3), Conv(3, 4)})}) {
        Make(chain);
        EXPECT_EQ(S_OK, T()->IsFormatAvailable(Var::Str("x.a"), FILEDATATYPE_FILENAME));
        EXPECT_EQ(E_INVALIDARG, T()->IsFormatAvailable(Var::I4(5), FILEDATATYPE_TEXT));
    }
    EXPECT_EQ((Lines{"A2B.IsFormatAvailableFile(file=x.a)", "B2C.IsFormatAvailable(data=VT_BSTR:x.a, type=0)",
                     "B2C.IsFormatAvailable(data=VT_I4:5, type=2)"}),
              m_inst->Journal("IsFormatAvailable"));
}

} // namespace
