// The localisation components: extraction and merge give the document back,
// the memory fills units with the right states, bad input fails with its
// own code and leaves no target.
#include <gtest/gtest.h>

#include "Recorder.h"
#include "vembro/com/Error.h"
#include "l10n/Components.h"
#include "l10n/Direction.h"
#include "l10n/Errors.h"
#include "l10n/Extract.h"
#include "l10n/Merge.h"
#include "vembro/kit/Data.h"
#include "vembro/kit/Module.h"

using Microsoft::WRL::ComPtr;
using namespace kittest;
using namespace samples;

namespace {

using Step = void (*)(IStream*, IStream*, vembro::kit::Progress&);

void Extract(IStream* in, IStream* out, vembro::kit::Progress& progress)
{
    ExtractXliff(in, out, progress, L"page.html");
}

std::string Apply(Step step, const std::string& input)
{
    auto out = vembro::kit::NewMemoryStream();
    vembro::kit::Progress progress(nullptr);
    step(StreamOf(input).Get(), out.Get(), progress);
    return vembro::kit::ContentOf(out.Get());
}

HRESULT Failure(Step step, const std::string& input)
{
    try {
        Apply(step, input);
        return S_OK;
    } catch (const vembro::ComError& e) {
        return e.Code();
    }
}

std::string Utf16(const wchar_t* text)
{
    std::wstring all = std::wstring(L"\xFEFF") + text;
    return std::string(reinterpret_cast<const char*>(all.data()), all.size() * sizeof(wchar_t));
}

// Everything that the extraction reads and the merge writes back byte for
// byte: scripts, styles, comments, entities, inline tags paired and not,
// attributes people read, text without letters.
const char kPage[] =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head><title>Caf\xC3\xA9 &amp; bar</title>\n"
    "<style>p { color: red }</style><script>if (a < b) alert(\"Hello\");</script></head>\n<body>\n"
    "<!-- Not for translation -->\n"
    "<p>Read <b>this</b> x &lt; y&nbsp;<a href=\"x.html\" title=\"More &amp; more\">here</a><br>then "
    "<img src=\"a.png\" alt=\"A cat\"> stop.</p>\n"
    "<ul><li>One</li><li>Two <i>three</li></ul>\n<p>4.50</p>\n</body>\n</html>\n";

} // namespace

TEST(L10nRoundTrip, ExtractThenMergeGivesTheDocumentBack)
{
    const struct {
        std::string page, expected;
    } cases[] = {
        {kPage, kPage},
        // The same document, modulo serialization: references decoded,
        // attribute values people read quoted.
        {"<p title='Single' class=x>Caf&eacute; <img alt=Unquoted src=u.png></p>",
         "<p title=\"Single\" class=x>Caf\xC3\xA9 <img alt=\"Unquoted\" src=u.png></p>"},
        {Utf16(L"<html><body><p>Hi &amp; \x00E9t\x00E9</p></body></html>"),
         Utf16(L"<html><body><p>Hi &amp; \x00E9t\x00E9</p></body></html>")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Apply(MergeXliff, Apply(Extract, c.page)));
}

TEST(L10nRoundTrip, InlineMarkupBecomesXliffElements)
{
    std::string xliff = Apply(Extract, kPage);
    EXPECT_NE(std::string::npos,
              xliff.find("<source>Read <g id=\"1\" ctype=\"bold\">this</g> x &lt; y\xC2\xA0<g id=\"2\" ctype=\"link\">"
                         "here</g><x id=\"3\" ctype=\"lb\"/>then <x id=\"4\" ctype=\"image\"/> stop.</source>"))
        << xliff;
    EXPECT_NE(std::string::npos, xliff.find("resname=\"title\" xml:space=\"preserve\">\n        <source>More &amp; more"));
    EXPECT_NE(std::string::npos, xliff.find("<source>Two <x id=\"1\" ctype=\"x-html-i\"/>three</source>"));
    EXPECT_EQ(std::string::npos, xliff.find("<source>4.50")); // no letter, no unit
    EXPECT_EQ(std::string::npos, xliff.find("<source>Hello")); // script
    EXPECT_NE(std::string::npos, xliff.find("source-language=\"en\""));
}

namespace {

const char kMemory[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tmx version=\"1.4\"><header srclang=\"en\" datatype=\"plaintext\" "
    "segtype=\"sentence\" adminlang=\"en\" o-tmf=\"x\" creationtool=\"t\" creationtoolversion=\"1\"/><body>\n"
    "<tu><tuv xml:lang=\"en\"><seg>Fresh bread every morning</seg></tuv>"
    "<tuv xml:lang=\"fr-FR\"><seg>Du pain frais chaque matin</seg></tuv></tu>\n"
    "<tu><tuv xml:lang=\"en\"><seg>The shop is open from Monday to Friday until six.</seg></tuv>"
    "<tuv xml:lang=\"fr-FR\"><seg>La boutique est ouverte du lundi au vendredi jusqu'\xC3\xA0 six heures.</seg></tuv></tu>\n"
    "<tu><tuv xml:lang=\"en\"><seg>Order <bpt i=\"1\">&lt;b&gt;</bpt>three days<ept i=\"1\">&lt;/b&gt;</ept> ahead "
    "<bpt i=\"2\">&lt;i&gt;</bpt>please<ept i=\"2\">&lt;/i&gt;</ept>.</seg></tuv>"
    "<tuv xml:lang=\"fr-FR\"><seg>Merci <bpt i=\"2\">&lt;i&gt;</bpt>de commander<ept i=\"2\">&lt;/i&gt;</ept> "
    "<bpt i=\"1\">&lt;b&gt;</bpt>trois jours<ept i=\"1\">&lt;/b&gt;</ept> avant.</seg></tuv></tu>\n"
    "<tu><tuv xml:lang=\"en\"><seg><![CDATA[Cakes & pies]]></seg></tuv>"
    "<tuv xml:lang=\"fr-FR\"><seg>G&#226;teaux &amp; tartes</seg></tuv></tu>\n"
    "</body></tmx>\n";

// In UTF-16, as some tools write XLIFF.
const wchar_t kUnits[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><xliff version=\"1.2\"><file original=\"a\" source-language=\"en\" "
    L"datatype=\"html\"><body>"
    L"<trans-unit id=\"1\"><source>Fresh bread  every\nmorning</source></trans-unit>"
    L"<trans-unit id=\"2\"><source>The shop is open from Monday to Friday until seven.</source></trans-unit>"
    L"<trans-unit id=\"3\"><source>Order <g id=\"1\">three days</g> ahead <g id=\"2\">please</g>.</source></trans-unit>"
    L"<trans-unit id=\"4\"><source>Cakes &amp; pies</source></trans-unit>"
    L"<trans-unit id=\"5\"><source>Nothing like this</source></trans-unit>"
    L"</body></file></xliff>";

struct Named : vembro::unique_variant {
    explicit Named(const wchar_t* text)
    {
        V_VT(this) = VT_BSTR;
        V_BSTR(this) = ::SysAllocString(text);
    }
};

class L10nTranslator : public ::testing::Test {
protected:
    void SetUp() override
    {
        memory = dir.Path(L"memory.tmx");
        TempDir::Write(memory, kMemory);
        ASSERT_EQ(S_OK, vembro::kit::CreateComponent<CMemoryTranslator>(
                            IID_ITolviFileTranslator2, reinterpret_cast<void**>(translator.GetAddressOf())));
        ASSERT_EQ(S_OK, vembro::kit::CreateComponent<CDirection>(IID_IDispatch,
                                                                 reinterpret_cast<void**>(direction.GetAddressOf())));
        Put(L"TargetLanguage", L"fr");
    }
    void TearDown() override
    {
        translator.Reset();
        direction.Reset();
        EXPECT_TRUE(ModuleLocksReachZero());
    }
    HRESULT Put(const wchar_t* name, const wchar_t* value)
    {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(S_OK, direction->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
        Named argument(value);
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&argument, &named, 1, 1};
        return direction->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    }
    std::string Translate(const std::string& xliff)
    {
        auto out = vembro::kit::NewMemoryStream();
        EXPECT_EQ(S_OK, translator->SyncTranslateStream(direction.Get(), StreamOf(xliff).Get(), out.Get(),
                                                        vembro::MissingArgument()));
        return vembro::kit::ContentOf(out.Get());
    }

    TempDir dir;
    std::wstring memory;
    ComPtr<ITolviFileTranslator2> translator;
    ComPtr<IDispatch> direction;
};

} // namespace

TEST_F(L10nTranslator, ExactAndFuzzyMatchesWithStatesAndQuality)
{
    ASSERT_EQ(S_OK, Put(L"Memory", memory.c_str()));
    std::string out = Translate(Utf16(kUnits));
    const char* expected[] = {
        "target-language=\"fr\"",
        "morning</source><target xml:lang=\"fr\" state=\"translated\" state-qualifier=\"exact-match\">"
        "Du pain frais chaque matin</target></trans-unit>",
        "seven.</source><target xml:lang=\"fr\" state=\"needs-review-translation\" state-qualifier=\"fuzzy-match\">"
        "La boutique est ouverte du lundi au vendredi jusqu'\xC3\xA0 six heures.</target>"
        "<alt-trans match-quality=\"90\" origin=\"memory\"><source xml:lang=\"en\">"
        "The shop is open from Monday to Friday until six.</source>",
        // The memory's tags, crossed over in French, become the unit's own.
        "state-qualifier=\"exact-match\">Merci <g id=\"2\">de commander</g> <g id=\"1\">trois jours</g> avant.</target>",
        "state-qualifier=\"exact-match\">G\xC3\xA2teaux &amp; tartes</target>",
        "<trans-unit id=\"5\"><source>Nothing like this</source></trans-unit>",
    };
    for (const char* e : expected)
        EXPECT_NE(std::string::npos, out.find(e)) << e << "\n" << out;

    // Above the fuzzy match's quality the unit stays untranslated; the
    // property names the memory as well as the Direction does.
    vembro::unique_variant strict;
    V_VT(&strict) = VT_I4;
    V_I4(&strict) = 91;
    ASSERT_EQ(S_OK, translator->put_Property(Named(L"FUZZY"), strict));
    ASSERT_EQ(S_OK, Put(L"Memory", L""));
    ASSERT_EQ(S_OK, translator->put_Property(Named(L"MEMORY"), Named(memory.c_str())));
    out = Translate(Utf16(kUnits));
    EXPECT_NE(std::string::npos, out.find("seven.</source></trans-unit>")) << out;
}

TEST_F(L10nTranslator, BadInputFailsWithItsCodeAndLeavesNoTarget)
{
    const char* const xliff12 = "<xliff version=\"1.2\"><file original=\"a\" source-language=\"en\"><body>"
                                "<trans-unit id=\"1\"><source>Fresh bread every morning</source></trans-unit>"
                                "</body></file></xliff>";
    const struct {
        std::string xliff;
        const wchar_t* memory; // null: the good one
        const wchar_t* target;
        HRESULT expected;
    } cases[] = {
        {"<xliff version=\"1.2\"><file source-language=\"en\"><body><trans-unit id=\"1\"><source>x</target>",
         nullptr, L"fr", L10N_E_MALFORMED_XML},
        {"<xliff version=\"2.0\" srcLang=\"en\"><file id=\"f\"/></xliff>", nullptr, L"fr", L10N_E_NOT_XLIFF12},
        {"<xliff version=\"1.2\"><file original=\"a\" source-language=\"en\"><body><trans-unit id=\"1\">"
         "<source>a < b</source></trans-unit></body></file></xliff>",
         nullptr, L"fr", L10N_E_MALFORMED_XML},
        {"<html><body>Not XML</html>", nullptr, L"fr", L10N_E_NOT_XLIFF12},
        {xliff12, L"absent.tmx", L"fr", L10N_E_MEMORY_UNREADABLE},
        {xliff12, nullptr, L"de", L10N_E_LANGUAGE_NOT_IN_MEMORY},
        {xliff12, nullptr, L"", L10N_E_NO_LANGUAGE},
        {xliff12, L"", L"fr", L10N_E_NO_MEMORY},
    };
    std::wstring in = dir.Path(L"in.xlf"), out = dir.Path(L"out.xlf");
    vembro::unique_bstr bin = vembro::MakeBstr(in.c_str()), bout = vembro::MakeBstr(out.c_str());
    for (const auto& c : cases) {
        TempDir::Write(in, c.xliff);
        EXPECT_EQ(c.xliff, TempDir::Read(in));
        ASSERT_EQ(S_OK, Put(L"Memory", c.memory ? (*c.memory ? dir.Path(c.memory).c_str() : L"") : memory.c_str()));
        ASSERT_EQ(S_OK, Put(L"TargetLanguage", c.target));
        EXPECT_EQ(c.expected, translator->SyncTranslateFile(direction.Get(), bin.get(), bout.get(),
                                                            vembro::MissingArgument()))
            << c.xliff;
        EXPECT_FALSE(TempDir::Exists(out));
    }

    // Asynchronously: FTSTATE_ERROR and the code in Error.
    Recorder events;
    auto sink = MakeTranslatorSink(events);
    Advise(translator.Get(), IID_ITolviFileTranslatorEvents, sink.Get());
    TempDir::Write(in, cases[0].xliff);
    ASSERT_EQ(S_OK, Put(L"Memory", memory.c_str()));
    ASSERT_EQ(S_OK, translator->TranslateFile(direction.Get(), bin.get(), bout.get(), vembro::MissingArgument()));
    ASSERT_TRUE(events.WaitFinal());
    EXPECT_EQ((std::vector<std::string>{"state 2", "state 6"}), events.States());
    LONG error = 0;
    EXPECT_EQ(S_OK, translator->get_Error(&error));
    EXPECT_EQ(L10N_E_MALFORMED_XML, error);
    EXPECT_FALSE(TempDir::Exists(out));
}

TEST(L10nConverters, BadInputFailsWithItsCode)
{
    const struct {
        Step step;
        std::string input;
        HRESULT expected;
    } cases[] = {
        {Extract, "<html><head><meta charset=\"koi8-r\"></head><body><p>Hi</p></body></html>", L10N_E_UNKNOWN_ENCODING},
        {Extract, "<html><body><p>Caf\xE9</p></body></html>", L10N_E_UNKNOWN_ENCODING},
        {MergeXliff, "<xliff version=\"1.2\"><file original=\"a\" source-language=\"en\"><body/></file></xliff>",
         L10N_E_NO_SKELETON},
        {MergeXliff, "<xliff version=\"1.1\"><file/></xliff>", L10N_E_NOT_XLIFF12},
        {MergeXliff, "<?xml version=\"1.0\" encoding=\"x-unknown\"?><xliff version=\"1.2\"/>", L10N_E_UNKNOWN_ENCODING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Failure(c.step, c.input)) << c.input;
}

TEST(L10nDirection, LanguagesMustBeTags)
{
    EXPECT_TRUE(IsLanguageTag(L"fr"));
    EXPECT_TRUE(IsLanguageTag(L"zh-Hant-TW"));
    EXPECT_FALSE(IsLanguageTag(L"f"));
    EXPECT_FALSE(IsLanguageTag(L"fr_FR"));
    EXPECT_FALSE(IsLanguageTag(L"fr-"));
}
