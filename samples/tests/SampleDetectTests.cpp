// Detection looks at the bytes: marks, markup and Markdown constructs.
#include <gtest/gtest.h>

#include "Recorder.h"
#include "htmltext/HtmlTextConverter.h"
#include "markdown/MarkdownConverter.h"
#include "pseudoloc/PseudoTranslator.h"
#include "utf16text/Utf16Converter.h"

using namespace samples;

TEST(DetectUtf16, LittleEndianMarkIsRecognised)
{
    EXPECT_EQ(S_OK, CUtf16Converter::Detect(kittest::ReadDocument("note-utf16.txt")));
}

TEST(DetectUtf16, BigEndianMarkAndPlainTextAreNot)
{
    EXPECT_EQ(S_FALSE, CUtf16Converter::Detect(std::string("\xFE\xFF\x00h", 4)));
    EXPECT_EQ(S_FALSE, CUtf16Converter::Detect("plain"));
    EXPECT_EQ(S_FALSE, CUtf16Converter::Detect(""));
}

TEST(DetectMarkdown, GuideIsMarkdown)
{
    EXPECT_EQ(S_OK, CMarkdownConverter::Detect(kittest::ReadDocument("guide.md")));
}

TEST(DetectMarkdown, PlainProseHtmlAndBinaryAreNot)
{
    EXPECT_EQ(S_FALSE, CMarkdownConverter::Detect("Just a sentence.\nAnother one.\n"));
    EXPECT_EQ(S_FALSE, CMarkdownConverter::Detect(kittest::ReadDocument("page.html")));
    EXPECT_EQ(S_FALSE, CMarkdownConverter::Detect(std::string("# Title\n\0\0", 10)));
    EXPECT_EQ(S_FALSE, CMarkdownConverter::Detect("# Title \xC3\x28"));
}

TEST(DetectMarkdown, CharacterCutByTheProbeWindowIsAccepted)
{
    EXPECT_EQ(S_OK, CMarkdownConverter::Detect("# Caf\xC3"));
}

TEST(DetectHtml, DocumentsAndFragmentsWithKnownTags)
{
    EXPECT_EQ(S_OK, CHtmlTextConverter::Detect(kittest::ReadDocument("page.html")));
    EXPECT_EQ(S_OK, CHtmlTextConverter::Detect("\xEF\xBB\xBF  <!doctype HTML><p>x</p>"));
    EXPECT_EQ(S_OK, CHtmlTextConverter::Detect("<div>x</div>"));
}

TEST(DetectHtml, OtherMarkupAndTextAreNot)
{
    EXPECT_EQ(S_FALSE, CHtmlTextConverter::Detect("<notes><n>x</n></notes>"));
    EXPECT_EQ(S_FALSE, CHtmlTextConverter::Detect("hello <b>world</b>"));
    EXPECT_EQ(S_FALSE, CHtmlTextConverter::Detect(kittest::ReadDocument("guide.md")));
}

TEST(DetectHtml, TranslatorUsesTheSameTest)
{
    EXPECT_EQ(S_OK, CPseudoTranslator::Detect("<html><body>x</body></html>"));
    EXPECT_EQ(S_FALSE, CPseudoTranslator::Detect("# Title"));
}
