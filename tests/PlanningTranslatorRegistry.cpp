// The translator registry against the fake components: discovery through
// the category, one translator per pair, and how translators are asked
// about given data.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include "RegistryTestSupport.h"
#include "catalogue/FormatsInfo.h"
#include "chains/RealTranslators.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using fakes::Behaviour;
using fakes::Format;

namespace {

const Format kA{1, "A", "a", "a"};
const Format kB{2, "B", "b", "b"};
const Format kC{3, "C", "c", "c"};
const Format kD{4, "D", "d", "d", true};

class PlanningTranslatorRegistry : public RegistryTest {};

} // namespace

TEST_F(PlanningTranslatorRegistry, NoTranslatorInTheCategoryLoadsWithNothing)
{
    inst.Converter("A2B", kA, kB).Install();
    EXPECT_EQ(S_OK, g_RealTranslators.Load());
    EXPECT_TRUE(g_RealTranslators.m_bLoaded);
    EXPECT_EQ(CFormatIDs(), g_RealTranslators.GetSourceIDs());
    EXPECT_FALSE(g_RealTranslators.HasTranslator(1, 2));
    ComPtr<ITolviFileTranslator> translator;
    EXPECT_EQ(E_INVALIDARG, g_RealTranslators.CreateTranslator(1, 2, &translator));
    EXPECT_EQ(nullptr, translator.Get());
    EXPECT_TRUE(inst.Journal().empty());
}

TEST_F(PlanningTranslatorRegistry, EachTranslatorIsAskedOnceForItsPairAndReleased)
{
    inst.Translator("A2B", kA, kB).Translator("B2C", kB, kC).Install();
    ASSERT_EQ(S_OK, g_RealTranslators.Load());
    EXPECT_EQ((Lines{"A2B.Create", "A2B.SourceFormat", "A2B.TargetFormat", "A2B.Destroy", "B2C.Create",
                     "B2C.SourceFormat", "B2C.TargetFormat", "B2C.Destroy"}),
              inst.Journal());
    inst.ClearJournal();
    EXPECT_TRUE(g_RealTranslators.HasTranslator(2, 3));
    EXPECT_FALSE(g_RealTranslators.HasTranslator(1, 3));
    EXPECT_EQ(S_OK, g_RealTranslators.Load());
    EXPECT_TRUE(inst.Journal().empty());
    EXPECT_EQ(List({2, 1}), g_RealTranslators.GetSourceIDs());
}

TEST_F(PlanningTranslatorRegistry, OfTwoTranslatorsForOnePairTheLaterOneIsCreated)
{
    inst.Translator("First", kA, kB).Translator("Second", kA, kB).Install();
    ComPtr<ITolviFileTranslator> translator;
    ASSERT_EQ(S_OK, g_RealTranslators.CreateTranslator(1, 2, &translator));
    inst.ClearJournal();
    translator.Reset();
    EXPECT_EQ((Lines{"Second.Destroy"}), inst.Journal());
}

TEST_F(PlanningTranslatorRegistry, ATranslatorWhoseTargetFailsHasNoPairButItsSourceIsKnown)
{
    Behaviour noTarget, noCreate;
    noTarget.targetFormatResult = E_FAIL;
    noCreate.createResult = CLASS_E_CLASSNOTAVAILABLE;
    inst.Translator("NoTarget", {5, "E", "e"}, {6, "F", "f"}, noTarget)
        .Translator("NoCreate", kC, kD, noCreate)
        .Translator("A2B", kA, kB)
        .Install();
    ASSERT_EQ(S_OK, g_RealTranslators.Load());
    EXPECT_EQ(List({1}), g_RealTranslators.GetSourceIDs());
    EXPECT_TRUE(g_FormatsInfo.Lookup(5, nullptr));
    EXPECT_FALSE(g_FormatsInfo.Lookup(6, nullptr));
    EXPECT_FALSE(g_FormatsInfo.Lookup(3, nullptr));
}

TEST_F(PlanningTranslatorRegistry, CreateTranslatorReleasesWhatTheOutputHeld)
{
    inst.Translator("A2B", kA, kB).Translator("B2C", kB, kC).Install();
    ComPtr<ITolviFileTranslator> translator;
    ASSERT_EQ(S_OK, g_RealTranslators.CreateTranslator(1, 2, &translator));
    inst.ClearJournal();
    ITolviFileTranslator* held = translator.Detach();
    EXPECT_EQ(E_INVALIDARG, g_RealTranslators.CreateTranslator(1, 3, &held));
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ((Lines{"A2B.Destroy"}), inst.Journal());
    EXPECT_EQ(E_POINTER, g_RealTranslators.CreateTranslator(1, 2, nullptr));
}

TEST_F(PlanningTranslatorRegistry, TranslatorsGetAPlainCopyOfByReferenceData)
{
    inst.Translator("A2B", kA, kB, Detects(S_OK)).Install();
    unique_bstr name = MakeBstr(L"C:\\doc.a");
    BSTR ref = name.get();
    VARIANT data;
    ::VariantInit(&data);
    V_VT(&data) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&data) = &ref;
    ASSERT_EQ(S_OK, Detect(g_RealTranslators, data, FILEDATATYPE_FILENAME));
    EXPECT_EQ(List({1}), found);
    EXPECT_EQ((Lines{"A2B.IsFormatAvailable(data=VT_BSTR:C:\\doc.a, type=0)"}), inst.Journal(".IsFormat"));
}

TEST_F(PlanningTranslatorRegistry, TranslatorsOfASourceAreAskedUntilOneCanTell)
{
    // Targets of 1 enumerate 4, 3, 2; the one to 1 itself comes first.
    inst.Translator("A2B", kA, kB, Detects(S_OK))
        .Translator("A2C", kA, kC, Detects(E_FAIL))
        .Translator("A2D", kA, kD, Detects(E_NOTIMPL))
        .Translator("A2A", kA, kA, Detects(DISP_E_TYPEMISMATCH))
        .Translator("C2A", kC, kA, Detects(S_FALSE))
        .Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_RealTranslators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(List({1}), found);
    EXPECT_EQ((Lines{"C2A.IsFormatAvailable(data=VT_BSTR:t, type=2)", "A2A.IsFormatAvailable(data=VT_BSTR:t, type=2)",
                     "A2D.IsFormatAvailable(data=VT_BSTR:t, type=2)", "A2C.IsFormatAvailable(data=VT_BSTR:t, type=2)",
                     "A2B.IsFormatAvailable(data=VT_BSTR:t, type=2)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(PlanningTranslatorRegistry, AFirstNoEndsTheSourceEvenIfALaterTranslatorWouldSayYes)
{
    inst.Translator("A2B", kA, kB, Detects(S_OK)).Translator("A2C", kA, kC, Detects(S_FALSE)).Install();
    StringArg text(L"t");
    ASSERT_EQ(S_OK, Detect(g_RealTranslators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ((Lines{"A2C.IsFormatAvailable(data=VT_BSTR:t, type=2)"}), inst.Journal(".IsFormat"));
}

TEST_F(PlanningTranslatorRegistry, AStreamIsHandedOverAsItIs)
{
    inst.Translator("A2B", kA, kB, Detects(E_FAIL)).Translator("A2C", kA, kC, Detects(E_FAIL)).Install();
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, stream->Write("abcdef", 6, nullptr));
    ObjectArg data(stream.Get());
    ASSERT_EQ(S_OK, Detect(g_RealTranslators, data, FILEDATATYPE_STREAM));
    EXPECT_EQ(CFormatIDs(), found);
    // The translators' position is their own business: nothing is restored.
    EXPECT_EQ((Lines{"A2C.IsFormatAvailable(data=VT_UNKNOWN:@6, type=1)",
                     "A2B.IsFormatAvailable(data=VT_UNKNOWN:@6, type=1)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(PlanningTranslatorRegistry, DataOfTheWrongKindIsRejectedBeforeAnyProbe)
{
    inst.Translator("A2B", kA, kB, Detects(S_OK)).Install();
    StringArg text(L"t");
    StringArg nullText(nullptr);
    ObjectArg nullObject(nullptr);
    EXPECT_EQ(E_INVALIDARG, Detect(g_RealTranslators, text, static_cast<tagFILEDATATYPE>(3)));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_EQ(E_INVALIDARG, Detect(g_RealTranslators, text, FILEDATATYPE_STREAM));
    EXPECT_EQ(E_POINTER, Detect(g_RealTranslators, nullText, FILEDATATYPE_TEXT));
    EXPECT_EQ(E_POINTER, Detect(g_RealTranslators, nullObject, FILEDATATYPE_STREAM));
    EXPECT_EQ(CFormatIDs(), found);
    EXPECT_TRUE(inst.Journal(".IsFormat").empty());
}
