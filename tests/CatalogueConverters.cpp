// The converter and translator registries against the fake components: each class read once, the order in which
// components are asked about data, streams put back where they were, and all of it from many threads at once.
#include "RegistryTestSupport.h"
#include "catalogue/Converters.h"
#include "catalogue/FormatsInfo.h"
#include "chains/RealTranslators.h"
#include "chains/Translators.h"
#include "support/Recorder.h"

using Microsoft::WRL::ComPtr;
using namespace vembro;
using namespace catalogue_test;
using comtest::Var;
using kittest::Position;
using kittest::StreamOf;
using fakes::Behaviour;
using fakes::Format;

namespace {

const Format kA{1, "A", "a", "a"}, kB{2, "B", "b", "b"}, kC{3, "C", "c", "c"}, kD{4, "D", "d", "d", true},
    kE{5, "E", "e", "e"}, kF{6, "F", "f", "f"};

class CatalogueConverters : public RegistryTest {};
class CatalogueDetection : public RegistryTest {};

// A converter of this process that reads the stream and then answers or
// throws: what a fake in its own module cannot do.
class ThrowingConverter : public ITolviFileConverter {
public:
    ThrowingConverter(HRESULT answer_, bool throws_) : answer(answer_), throws(throws_) {}
    HRESULT answer;
    bool throws;
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP IsFormatAvailableStream(IUnknown* data) override
    {
        ComPtr<IStream> stream;
        char buffer[5];
        if (SUCCEEDED(data->QueryInterface(IID_PPV_ARGS(&stream))))
            stream->Read(buffer, sizeof buffer, nullptr);
        return throws ? (ThrowHr(answer), E_UNEXPECTED) : answer;
    }
    VEMBRO_TEST_STUBS_IDISPATCH
    VEMBRO_TEST_STUB(get_SourceFormat, ITolviFileFormat**) VEMBRO_TEST_STUB(get_TargetFormat, ITolviFileFormat**)
    VEMBRO_TEST_STUB(IsFormatAvailableFile, BSTR) VEMBRO_TEST_STUB(IsFormatAvailableMemory, BSTR)
    VEMBRO_TEST_STUB(ConvertFile, BSTR, BSTR, VARIANT) VEMBRO_TEST_STUB(ConvertStream, IUnknown*, IUnknown*, VARIANT)
    VEMBRO_TEST_STUB(ConvertMemory, BSTR, BSTR*) VEMBRO_TEST_STUB(get_State, LONG*) VEMBRO_TEST_STUB(Stop, VARIANT)
    VEMBRO_TEST_STUB(Suspend) VEMBRO_TEST_STUB(Resume)
};

} // namespace

TEST_F(CatalogueConverters, EachClassIsAskedOnceForItsPairAndTheLaterOfTwoForAPairWins)
{
    // Catalogue names: a braced CLSID, a ProgID, a ProgID through CurVer, and names that resolve to nothing.
    Behaviour progId, unlisted, noCreate, noSource, nullSource, noTarget;
    progId.progId = "Vembro.TestA", unlisted.unlisted = true, noCreate.createResult = E_OUTOFMEMORY;
    noSource.sourceFormatResult = noTarget.targetFormatResult = E_FAIL, nullSource.nullSourceFormat = true;
    inst.Converter("A2B", kA, kB, progId).Converter("Dup", {1, "Uno", "u", "u", true}, kB, unlisted);
    inst.ProgId("Vembro.TestDup.2", "Dup").CurVer("Vembro.TestDup", "Vembro.TestDup.2").CurVer("Vembro.EmptyCurVer", "");
    inst.CatalogueEntry("Vembro.TestDup").CatalogueEntry("Vembro.EmptyCurVer").CatalogueEntry("{FA4E9999-7E57-4FA4-8000-000000000000}");
    inst.Converter("NoCreate", kA, kC, noCreate).Converter("NoSource", kC, kA, noSource).Converter("NullSource", kC, kB, nullSource);
    inst.Converter("NoTarget", kE, kF, noTarget).Converter("B2C", kB, kC).Install();
    ASSERT_EQ(S_OK, g_Converters.Load());
    ASSERT_EQ(S_OK, g_Converters.Load());
    EXPECT_EQ((Lines{"A2B.Create", "A2B.SourceFormat", "A2B.TargetFormat", "A2B.Destroy"}), inst.Journal("A2B."));
    EXPECT_EQ((Ids{2, 1}), g_Converters.GetSourceIDs().Items());
    EXPECT_EQ((Ids{2}), g_Converters.GetTargetIDs(1).Items());
    CFormatInfo info;
    ASSERT_TRUE(g_FormatsInfo.Lookup(1, &info));
    EXPECT_EQ("A", info.NameAnsi());
    inst.ClearJournal();
    ComPtr<ITolviFileConverter> converter;
    ASSERT_EQ(S_OK, g_Converters.CreateConverter(1, 2, &converter));
    EXPECT_EQ((Lines{"Dup.Create"}), inst.Journal());
    ITolviFileConverter* held = converter.Detach();
    EXPECT_EQ(E_INVALIDARG, g_Converters.CreateConverter(1, 3, &held));
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ((Lines{"Dup.Create", "Dup.Destroy"}), inst.Journal());
}

// Detection orders: the sources in table order, for each its components (the one to the source itself first) until
// one says yes or no; anything else, a failure included, means "cannot tell" and the next one is asked.
enum Registry { kConverters, kTranslators, kRoutes };
struct Component { bool translator; const char* name; Format source, target; HRESULT answer; };
struct DetectionRow { const char* name; Registry registry; std::vector<Component> components; HRESULT hr; Ids found; Lines probed; };
const DetectionRow kDetectionRows[] = {
    {"AskedUntilOneCanTell", kConverters,
     {{0, "A2B", kA, kB, S_OK}, {0, "A2C", kA, kC, E_NOTIMPL}, {0, "A2D", kA, kD, E_FAIL}},
     S_OK, {1}, {"A2D", "A2C", "A2B"}},
    {"FirstNoEndsTheSource", kConverters, {{0, "A2B", kA, kB, S_OK}, {0, "A2C", kA, kC, S_FALSE}}, S_OK, {}, {"A2C"}},
    {"ToItselfFirst", kConverters, {{0, "A2A", kA, kA, S_FALSE}, {0, "A2B", kA, kB, S_OK}}, S_OK, {}, {"A2A"}},
    {"ComplexFirst", kConverters, {{0, "A2B", kA, kB, S_OK}, {0, "B2C", kB, kC, S_OK}, {0, "D2A", kD, kA, S_OK}},
     S_OK, {4, 1, 2}, {"D2A", "B2C", "A2B"}},
    {"TranslatorsAskedUntilOneCanTell", kTranslators,
     {{1, "A2B", kA, kB, S_OK}, {1, "A2C", kA, kC, E_FAIL}, {1, "A2D", kA, kD, E_NOTIMPL},
      {1, "A2A", kA, kA, DISP_E_TYPEMISMATCH}, {1, "C2A", kC, kA, S_FALSE}},
     S_OK, {1}, {"C2A", "A2A", "A2D", "A2C", "A2B"}},
    // Routes: converters asked before translators, only route sources listed.
    {"RouteFromAConverterFormat", kRoutes, {{0, "A2B", kA, kB, S_OK}, {1, "B2C", kB, kC, S_FALSE}}, S_OK, {1}, {"A2B", "B2C"}},
    {"RoutesComplexFirst", kRoutes, {{0, "A2B", kA, kB, S_OK}, {1, "B2C", kB, kC, S_OK}, {1, "D2C", kD, kC, S_OK}},
     S_OK, {4, 1, 2}, {"A2B", "D2C", "B2C"}},
    {"RouteNothingFound", kRoutes, {{0, "A2B", kA, kB, S_FALSE}, {1, "B2C", kB, kC, S_FALSE}}, S_FALSE, {}, {"A2B", "B2C"}},
    {"FoundWithoutRoute", kRoutes, {{0, "E2F", kE, kF, S_OK}, {1, "B2C", kB, kC, S_FALSE}}, S_OK, {}, {"E2F", "B2C"}},
    {"NoRouteNobodyAsked", kRoutes, {{0, "A2B", kA, kB, S_OK}}, S_FALSE, {}, {}}};

void PrintTo(const DetectionRow& row, std::ostream* os) { *os << row.name; } // names the case

class CatalogueDetectionOrder : public RegistryTest, public ::testing::WithParamInterface<DetectionRow> {};

TEST_P(CatalogueDetectionOrder, ComponentsAreAskedInOrderUntilOneCanTell)
{
    const DetectionRow& row = GetParam();
    for (const Component& c : row.components)
        c.translator ? inst.Translator(c.name, c.source, c.target, Detects(c.answer))
                     : inst.Converter(c.name, c.source, c.target, Detects(c.answer));
    inst.Install();
    Var text = Var::Str("t");
    EXPECT_EQ(row.hr, row.registry == kConverters    ? Detect(g_Converters, text, FILEDATATYPE_TEXT)
                      : row.registry == kTranslators ? Detect(g_RealTranslators, text, FILEDATATYPE_TEXT)
                                                     : Detect(g_Translators, text, FILEDATATYPE_TEXT));
    EXPECT_EQ(row.found, found);
    EXPECT_EQ(row.probed, Probed());
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueDetectionOrder, ::testing::ValuesIn(kDetectionRows));

TEST_F(CatalogueDetection, ConvertersGetTheValueAndTheStreamComesBackWhereItWas)
{
    inst.Converter("A2B", kA, kB, Detects(E_FAIL)).Converter("A2C", kA, kC, Detects(E_FAIL))
        .Translator("T2B", kA, kB, Detects(E_FAIL)).Translator("T2C", kA, kC, Detects(E_FAIL)).Install();
    BSTR path = ::SysAllocString(L"C:\\by ref.a");
    EXPECT_EQ(S_OK, Detect(g_Converters, ByRef(VT_BSTR, &path), FILEDATATYPE_FILENAME));
    ::SysFreeString(path);
    ComPtr<IStream> stream = StreamOf("0123456789", 2);
    Var data = Var::Unknown(stream.Get());
    EXPECT_EQ(S_OK, Detect(g_Converters, data, FILEDATATYPE_STREAM));
    EXPECT_EQ(2u, Position(stream.Get()));
    // A converter that throws cannot tell: its failure code, never "yes".
    for (bool throws : {false, true}) {
        ThrowingConverter converter(throws ? static_cast<HRESULT>(0x80045555) : S_OK, throws);
        EXPECT_EQ(converter.answer, ProbeStream_nothrow(&converter, stream.Get()));
        EXPECT_EQ(2u, Position(stream.Get()));
        EXPECT_EQ(1, converter.refs);
    }
    // Translators get the stream as it is: its position is their business.
    EXPECT_EQ(S_OK, Detect(g_RealTranslators, data, FILEDATATYPE_STREAM));
    EXPECT_EQ((Lines{"A2C.IsFormatAvailableFile(file=C:\\by ref.a)", "A2B.IsFormatAvailableFile(file=C:\\by ref.a)",
                     "A2C.IsFormatAvailableStream(stream=@2)", "A2B.IsFormatAvailableStream(stream=@2)",
                     "T2C.IsFormatAvailable(data=VT_UNKNOWN:@2, type=1)", "T2B.IsFormatAvailable(data=VT_UNKNOWN:@10, type=1)"}),
              inst.Journal(".IsFormat"));
}

TEST_F(CatalogueDetection, DataOfTheWrongKindIsRefusedBeforeAnyProbe)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Translator("T2B", kA, kB, Detects(S_OK)).Install();
    ComPtr<ILockBytes> notAStream;
    ASSERT_EQ(S_OK, ::CreateILockBytesOnHGlobal(nullptr, TRUE, &notAStream));
    const struct { Var data; int type; HRESULT hr; } rows[] = {
        {Var::Str("t"), 3, E_INVALIDARG},        {Var::Str("t"), FILEDATATYPE_STREAM, E_INVALIDARG},
        {Var::I4(1), FILEDATATYPE_TEXT, E_INVALIDARG}, {NullOf(VT_BSTR), FILEDATATYPE_FILENAME, E_POINTER},
        {NullOf(VT_UNKNOWN), FILEDATATYPE_STREAM, E_POINTER},
        {Var::Unknown(notAStream.Get()), FILEDATATYPE_STREAM, S_OK}, // converters: nobody can tell
    };
    for (const auto& row : rows) {
        const auto type = static_cast<tagFILEDATATYPE>(row.type);
        EXPECT_EQ(row.hr, Detect(g_Converters, row.data, type)) << comtest::VariantText(row.data) << " " << row.type;
        EXPECT_EQ(Ids{}, found);
        if (row.hr != S_OK) { // the same check before the translators are asked
            EXPECT_EQ(row.hr, Detect(g_RealTranslators, row.data, type)) << comtest::VariantText(row.data);
        }
        EXPECT_EQ(Lines{}, Probed());
    }
}

// Threads ask every registry at once, first use included: each gets what one thread alone gets, each class is read
// once, and nothing is left alive (the fixture checks the fakes and the module locks).
TEST_F(CatalogueDetection, RegistriesAnswerManyThreadsAtOnceAsTheyAnswerOne)
{
    inst.Converter("A2B", kA, kB, Detects(S_OK)).Converter("C2D", kC, kD, Detects(S_FALSE))
        .Translator("B2C", kB, kC, Detects(S_OK)).Translator("D2E", kD, kE, Detects(E_FAIL)).Install();
    using Answers = std::vector<Ids>; // converters, translators, routes, a stream's formats and position, a chain
    auto ask = [](int first) {
        Answers a(6);
        CFormatIDs out;
        for (int step = 0; step < 4; ++step) {
            const int which = (first + step) % 4;
            Var text = Var::Str("t");
            ComPtr<IStream> stream = StreamOf("0123456789", 2);
            ComPtr<ITolviFileTranslator> chain;
            if (which == 0)
                g_Converters.GetAvailableFormats(text, FILEDATATYPE_TEXT, out);
            else if (which == 1)
                g_RealTranslators.GetAvailableFormats(text, FILEDATATYPE_TEXT, out);
            else if (which == 2)
                g_Translators.GetAvailableFormats(text, FILEDATATYPE_TEXT, out);
            else
                g_Converters.GetAvailableFormats(Var::Unknown(stream.Get()), FILEDATATYPE_STREAM, out);
            a[static_cast<size_t>(which)] = out.Items();
            if (which == 3) {
                a[4] = {static_cast<short>(Position(stream.Get()))};
                a[5] = {static_cast<short>(g_Translators.CreateTranslator(1, 3, &chain) == S_OK && chain)};
            }
        }
        return a;
    };
    std::vector<Answers> answers(8);
    comtest::RunTogether(8, [&](int i) { answers[static_cast<size_t>(i)] = ask(i); });
    const Answers alone = ask(0);
    EXPECT_EQ((Answers{{1}, {2}, {1, 2}, {1}, {2}, {1}}), alone);
    for (size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(alone, answers[i]) << "thread " << i;
    EXPECT_EQ(4u, inst.Journal(".SourceFormat").size());
}
