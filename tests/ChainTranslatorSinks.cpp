// The inner sinks and the chain translator's connections to its components.
#include "ChainTranslatorFixture.h"
#include "events/ItemSinks.h"
#include "translator/ChainFileTranslator.h"

using Microsoft::WRL::ComPtr;
using namespace chaintest;
using fakes::Behaviour;
using fakes::Finish;
using vembro::CComObject;
using vembro::CComObjectNoLock;
using vembro::CTolviChainFileTranslator;
using vembro::CTolviFileConverterEvents;
using vembro::CTolviFileTranslatorEvents;

namespace {

class ChainTranslatorSinks : public ChainRunTest {
protected:
    // A chain translator reachable as its class, with the client connected.
    CComObject<CTolviChainFileTranslator>* MakeObject(const vembro::CChain& chain)
    {
        CComObject<CTolviChainFileTranslator>* object = nullptr;
        vembro::ThrowIfFailed(CComObject<CTolviChainFileTranslator>::CreateInstance(&object));
        m_translator = static_cast<ITolviFileTranslator*>(object);
        vembro::ThrowIfFailed(object->SetChainOf(chain));
        m_sink = ClientSink::Create();
        m_cookie = Connect(m_translator.Get(), m_sink.Get());
        return object;
    }
    template <class Sink>
    static ComPtr<CComObject<Sink>> MakeSink(CTolviChainFileTranslator* owner)
    {
        CComObject<Sink>* sink = nullptr;
        vembro::ThrowIfFailed(CComObject<Sink>::CreateInstance(&sink));
        if (owner)
            sink->m_pOwner = std::make_shared<vembro::CItemOwner>(owner);
        return ComPtr<CComObject<Sink>>(sink);
    }
};

TEST_F(ChainTranslatorSinks, SinksAnswerTheirEventInterfaceAndHoldTheModule)
{
    auto converterSink = MakeSink<CTolviFileConverterEvents>(nullptr);
    auto translatorSink = MakeSink<CTolviFileTranslatorEvents>(nullptr);
    EXPECT_EQ(2, vembro::ModuleLockCount());
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, converterSink->QueryInterface(IID_ITolviFileConverterEvents, &unknown));
    EXPECT_EQ(S_OK, converterSink->QueryInterface(IID_IDispatch, &unknown));
    EXPECT_EQ(E_NOINTERFACE, converterSink->QueryInterface(IID_ITolviFileTranslatorEvents, &unknown));
    EXPECT_EQ(S_OK, translatorSink->QueryInterface(IID_ITolviFileTranslatorEvents, &unknown));
    EXPECT_EQ(S_OK, translatorSink->QueryInterface(IID_IDispatch, &unknown));
    EXPECT_EQ(E_NOINTERFACE, translatorSink->QueryInterface(IID_ITolviFileConverterEvents, &unknown));
    UINT count = 0;
    EXPECT_EQ(S_OK, converterSink->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    // Without an owner every handler does nothing.
    EXPECT_EQ(S_OK, converterSink->StateChange(FTSTATE_TRANSLATE_COMPLETE));
    EXPECT_EQ(S_OK, converterSink->ProgressChange(1, 2));
    EXPECT_EQ(S_OK, translatorSink->StateChange(FTSTATE_ERROR));
    EXPECT_EQ(S_OK, translatorSink->ProgressChange(1, 2));
    EXPECT_EQ(S_OK, translatorSink->PropertyChange(Var::Str("Mode"), Var::I4(1)));
}

TEST_F(ChainTranslatorSinks, ConnectionArgumentsAreChecked)
{
    Install();
    auto* object = MakeObject(ThreeSteps());
    ComPtr<ITolviFileConverter> converter;
    ASSERT_EQ(S_OK, vembro::g_Converters.CreateConverter(1, 2, &converter));
    EXPECT_EQ(E_POINTER, object->AdviseItem(1, nullptr));
    EXPECT_EQ(E_POINTER, object->AdviseItem(0, nullptr));
    EXPECT_EQ(E_INVALIDARG, object->AdviseItem(2, converter.Get()));
    EXPECT_EQ(E_INVALIDARG, object->AdviseItem(-1, converter.Get()));
    EXPECT_EQ(E_POINTER, object->UnadviseItem(1, nullptr));
    EXPECT_EQ(S_OK, object->UnadviseItem(1, converter.Get())); // nothing connected
    // A converter has no connection point for translator events.
    EXPECT_EQ(CONNECT_E_NOCONNECTION, object->AdviseItem(0, converter.Get()));
    EXPECT_EQ(S_OK, object->AdviseItem(1, converter.Get()));
    EXPECT_EQ(S_OK, object->UnadviseItem(1, converter.Get()));
    EXPECT_EQ(S_OK, object->UnadviseItem(1, converter.Get())); // the cookie is gone
    EXPECT_EQ((Lines{"A2B.Advise(cookie=1)", "A2B.Unadvise(cookie=1)"}), m_inst->Journal("dvise("));
}

TEST_F(ChainTranslatorSinks, EventsOfTheOtherKindOfStepAreDropped)
{
    Behaviour waits;
    waits.finish = Finish::Nothing;
    Install({}, waits);
    auto* object = MakeObject(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    ASSERT_EQ(Lines{"State(2)"}, m_sink->Events()); // the translator, step 1 of 3, is running
    EXPECT_TRUE(object->IsCurrentItem(0));
    EXPECT_FALSE(object->IsCurrentItem(1));

    auto stray = MakeSink<CTolviFileConverterEvents>(object);
    EXPECT_EQ(S_OK, stray->ProgressChange(1, 2));
    EXPECT_EQ(S_OK, stray->StateChange(FTSTATE_TRANSLATE_COMPLETE));
    EXPECT_EQ(S_OK, stray->StateChange(FTSTATE_ERROR));
    EXPECT_EQ(Lines{"State(2)"}, m_sink->Events());

    auto current = MakeSink<CTolviFileTranslatorEvents>(object);
    EXPECT_EQ(S_OK, current->ProgressChange(50, 200));
    EXPECT_EQ(S_OK, current->ProgressChange(50, 0));
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_TRANSLATE));
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_CONVERT));
    EXPECT_EQ(S_OK, current->PropertyChange(Var::Str("Mode"), Var::I4(1)));
    EXPECT_EQ((Lines{"State(2)", "Progress(125,300)"}), m_sink->Events());
    EXPECT_EQ(Lines{}, m_inst->Journal("C2D."));

    // Finishing through the sink steps on to the last converter.
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_TRANSLATE_COMPLETE));
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "Progress(125,300)", "State(5)"}), m_sink->Events());
    EXPECT_EQ(1u, m_inst->Journal("C2D.ConvertFile").size());
    // No step is current any more.
    EXPECT_FALSE(object->IsCurrentItem(0));
    EXPECT_FALSE(object->IsCurrentItem(1));
    EXPECT_EQ(S_OK, current->ProgressChange(1, 2));
    EXPECT_EQ(S_OK, current->StateChange(FTSTATE_ERROR));
    EXPECT_EQ(3u, m_sink->Events().size());
}

TEST_F(ChainTranslatorSinks, ComponentsMayReportThroughDispatch)
{
    Behaviour dispatching;
    dispatching.dispatchEvents = true;
    dispatching.progress = {{30, 60}};
    Install(dispatching, dispatching, dispatching);
    Make(MakeChain({Conv(1, 2), Tran(2, 3)}));
    ASSERT_EQ(S_OK, TranslateFile());
    WaitIdle();
    EXPECT_EQ((Lines{"State(2)", "Progress(50,200)", "Progress(150,200)", "State(5)"}), m_sink->Events());
}

TEST_F(ChainTranslatorSinks, ReleasingTheTranslatorDisconnectsTheLastComponent)
{
    Install();
    Make(ThreeSteps());
    ASSERT_EQ(S_OK, TranslateFile());
    WaitIdle();
    m_inst->ClearJournal();
    Disconnect(m_translator.Get(), m_cookie);
    m_cookie = 0;
    m_translator.Reset();
    EXPECT_EQ((Lines{"C2D.Unadvise(cookie=1)", "C2D.Destroy"}), m_inst->Journal());
    EXPECT_EQ(0, vembro::ModuleLockCount());
}

} // namespace
