// The sample components' conversions on small documents, output compared
// byte for byte.
#include <gtest/gtest.h>

#include "Recorder.h"
#include "htmltext/HtmlToText.h"
#include "markdown/MarkdownToHtml.h"
#include "pseudoloc/Pseudo.h"
#include "utf16text/Utf16Decode.h"

using namespace samples;

namespace {
const char kGuideHtml[] =
    "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Getting started</title>\n</head>\n<body>\n"
    "<h1>Getting started</h1>\n"
    "<p>Vembro finds the <strong>installed</strong> converters and translators and runs them in a chain.</p>\n"
    "<h2>What you need</h2>\n"
    "<ul>\n<li>a converter into the translator's format</li>\n<li>the <em>translator</em> itself</li>\n"
    "<li>a converter out of it</li>\n</ul>\n"
    "<p>Read <a href=\"README.md\">the README</a> &amp; try <code>vembro route</code>.</p>\n"
    "</body>\n</html>\n";
} // namespace

TEST(Utf16Decode, DocumentWithBomBecomesUtf8)
{
    EXPECT_EQ("Caf\xC3\xA9 \xE2\x82\xAC 100 \xF0\x9F\x98\x80\r\nSecond line\r\n",
              Utf16LeToUtf8(kittest::ReadDocument("note-utf16.txt")));
}

TEST(Utf16Decode, WithoutBomIsStillLittleEndian)
{
    EXPECT_EQ("hi", Utf16LeToUtf8(std::string("h\0i\0", 4)));
}

TEST(Utf16Decode, LoneSurrogateBecomesReplacementCharacter)
{
    EXPECT_EQ("\xEF\xBF\xBD" "A", Utf16LeToUtf8(std::string("\xFF\xFE\x00\xD8\x41\x00", 6)));
}

TEST(Utf16Decode, DanglingOddByteBecomesReplacementCharacter)
{
    EXPECT_EQ("A\xEF\xBF\xBD", Utf16LeToUtf8(std::string("A\0B", 3)));
}

TEST(MarkdownToHtml, GuideBecomesCompleteDocument)
{
    EXPECT_EQ(kGuideHtml, MarkdownToHtml(kittest::ReadDocument("guide.md")));
}

TEST(MarkdownToHtml, NumberedListQuoteCodeAndRule)
{
    EXPECT_EQ("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title></title>\n</head>\n<body>\n"
              "<ol>\n<li>one</li>\n<li>two</li>\n</ol>\n"
              "<blockquote>\n<p>quoted\ntext</p>\n</blockquote>\n"
              "<pre><code>x &lt; y\n</code></pre>\n"
              "<hr>\n"
              "</body>\n</html>\n",
              MarkdownToHtml("1. one\r\n2. two\r\n\r\n> quoted\r\n> text\r\n\r\n```\r\nx < y\r\n```\r\n---\r\n"));
}

TEST(MarkdownInline, EscapesMarkupCharactersOutsideConstructs)
{
    EXPECT_EQ("a &lt;b&gt; &amp; &quot;c&quot; <em>d</em> <code>&lt;e&gt;</code>", MarkdownInline("a <b> & \"c\" _d_ `<e>`"));
}

TEST(MarkdownInline, UnclosedMarkersStayLiteral)
{
    EXPECT_EQ("2 * 3 = 6 and [x]", MarkdownInline("2 * 3 = 6 and [x]"));
}

TEST(HtmlToText, GuideKeepsBlocksAndListItems)
{
    EXPECT_EQ("Getting started\n\n"
              "Vembro finds the installed converters and translators and runs them in a chain.\n\n"
              "What you need\n\n"
              "- a converter into the translator's format\n- the translator itself\n- a converter out of it\n\n"
              "Read the README & try vembro route.\n",
              HtmlToText(kGuideHtml));
}

TEST(HtmlToText, HeadStyleAndTitleAreLeftOut)
{
    EXPECT_EQ("Release notes\n\nFixed & improved: detection of streams.\n\n- Faster planning\n- Fewer temporary files\n",
              HtmlToText(kittest::ReadDocument("page.html")));
}

TEST(HtmlToText, BreaksNumbersPreformattedAndReferences)
{
    EXPECT_EQ("One\nTwo\n\n1. First\n2. Second\n\na  b\n  c\n\n\xC3\xA9\xC3\xA9&foo;\n",
              HtmlToText("<p>One<br>Two</p><ol><li>First</li><li>Second</li></ol><pre>a  b\n  c</pre>"
                         "<p>&#233;&#xE9;&foo;</p>"));
}

TEST(PseudoLocalise, TextIsAccentedPaddedAndBracketedMarkupIntact)
{
    EXPECT_EQ("<p class=\"intro\">[Ĥéļļó &amp; ƀýé~~~]</p>\n<script>var x = 'a';</script>",
              PseudoLocaliseHtml("<p class=\"intro\">Hello &amp; bye</p>\n<script>var x = 'a';</script>", 30));
}

TEST(PseudoLocalise, ZeroExpansionOnlyBrackets)
{
    EXPECT_EQ("<b>[Ĥéļļó &amp; ƀýé]</b>", PseudoLocaliseHtml("<b>Hello &amp; bye</b>", 0));
}

TEST(PseudoLocalise, SurroundingWhitespaceStaysOutsideBrackets)
{
    EXPECT_EQ(" [Ĥí~] \n", PseudoLocaliseRun(" Hi \n", 30));
}

TEST(PseudoLocalise, RunsWithoutLettersAreUntouched)
{
    EXPECT_EQ("<td>  42 &amp; 7 </td><!-- Note -->", PseudoLocaliseHtml("<td>  42 &amp; 7 </td><!-- Note -->", 30));
}

TEST(PseudoLocalise, NonAsciiLettersCountForPadding)
{
    EXPECT_EQ("[Çáƒé~~]", PseudoLocaliseRun("Café", 30));
}

TEST(PseudoLocalise, GuideThroughTheWholeChainGivesTheShippedText)
{
    std::string text = HtmlToText(PseudoLocaliseHtml(MarkdownToHtml(kittest::ReadDocument("guide.md")), 30));
    EXPECT_EQ(kittest::ReadDocument("guide.expected.txt"), text);
}
