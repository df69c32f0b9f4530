// The sample components' conversions and detections on small documents:
// input -> exact output, byte for byte, or the error code of bad input.
#include "Recorder.h"
#include "htmltext/HtmlTextConverter.h"
#include "htmltext/HtmlToText.h"
#include "l10n/Direction.h"
#include "l10n/Errors.h"
#include "l10n/Extract.h"
#include "l10n/Merge.h"
#include "markdown/MarkdownConverter.h"
#include "markdown/MarkdownToHtml.h"
#include "pseudoloc/Pseudo.h"
#include "pseudoloc/PseudoTranslator.h"
#include "utf16text/Utf16Converter.h"
#include "utf16text/Utf16Decode.h"
#include "vembro/com/Error.h"
#include "vembro/kit/Data.h"

using namespace samples;
using kittest::ReadDocument;
using vembro::kit::Progress;

namespace {
// Documents of these tests, in samples/tests/data.
std::string Data(const std::string& name) { return ReadDocument(("../tests/data/" + name).c_str()); }
const std::string kHead = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
std::string Pseudo30(const std::string& html) { return PseudoLocaliseHtml(html, 30); }
std::string Run30(const std::string& run) { return PseudoLocaliseRun(run, 30); }
std::string Chain(const std::string& md) { return HtmlToText(Pseudo30(MarkdownToHtml(md))); }
// A stream step's output, or "error <code>" when it refuses the input.
template <class Step> std::string Stepped(Step step, const std::string& in)
try {
    auto out = vembro::kit::NewMemoryStream();
    Progress progress(nullptr);
    step(kittest::StreamOf(in).Get(), out.Get(), progress);
    return vembro::kit::ContentOf(out.Get());
} catch (const vembro::ComError& e) {
    char text[24];
    std::snprintf(text, sizeof text, "error %08lX", static_cast<unsigned long>(e.Code()));
    return text;
}
std::string Extract(const std::string& page)
{
    return Stepped([](IStream* in, IStream* out, Progress& p) { ExtractXliff(in, out, p, L"page.html"); }, page);
}
std::string Merge(const std::string& xliff) { return Stepped(&MergeXliff, xliff); }
std::string RoundTrip(const std::string& page) { return Merge(Extract(page)); }
std::string Error(HRESULT hr) { return Stepped([hr](IStream*, IStream*, Progress&) { vembro::ThrowHr(hr); }, ""); }
HRESULT Tag(const std::string& tag) { return IsLanguageTag(std::wstring(tag.begin(), tag.end())) ? S_OK : S_FALSE; }
} // namespace

TEST(Samples, ConversionsGiveTheExactDocument)
{
    const struct { std::string (*convert)(const std::string&); std::string in, out; } rows[] = {
        {Utf16LeToUtf8, ReadDocument("note-utf16.txt"), "Caf\xC3\xA9 \xE2\x82\xAC 100 \xF0\x9F\x98\x80\r\nSecond line\r\n"},
        {Utf16LeToUtf8, std::string("h\0i\0", 4), "hi"}, // no mark: still little-endian
        {Utf16LeToUtf8, std::string("\xFF\xFE\x00\xD8\x41\x00", 6), "\xEF\xBF\xBD" "A"}, // lone surrogate
        {Utf16LeToUtf8, std::string("A\0B", 3), "A\xEF\xBF\xBD"},                          // odd last byte
        {MarkdownToHtml, ReadDocument("guide.md"), Data("guide.html")},
        {MarkdownToHtml, "1. one\r\n2. two\r\n\r\n> quoted\r\n> text\r\n\r\n```\r\nx < y\r\n```\r\n---\r\n",
         kHead + "</title>\n</head>\n<body>\n<ol>\n<li>one</li>\n<li>two</li>\n</ol>\n<blockquote>\n<p>quoted\ntext</p>\n"
                 "</blockquote>\n<pre><code>x &lt; y\n</code></pre>\n<hr>\n</body>\n</html>\n"},
        {MarkdownInline, "a <b> & \"c\" _d_ `<e>`", "a &lt;b&gt; &amp; &quot;c&quot; <em>d</em> <code>&lt;e&gt;</code>"},
        {MarkdownInline, "2 * 3 = 6 and [x]", "2 * 3 = 6 and [x]"},
        {HtmlToText, Data("guide.html"), Data("guide.txt")},
        {HtmlToText, ReadDocument("page.html"),
         "Release notes\n\nFixed & improved: detection of streams.\n\n- Faster planning\n- Fewer temporary files\n"},
        {HtmlToText, "<p>One<br>Two</p><ol><li>First</li><li>Second</li></ol><pre>a  b\n  c</pre><p>&#233;&#xE9;&foo;</p>",
         "One\nTwo\n\n1. First\n2. Second\n\na  b\n  c\n\n\xC3\xA9\xC3\xA9&foo;\n"},
        {Pseudo30, "<p class=\"intro\">Hello &amp; bye</p>\n<script>var x = 'a';</script>",
         "<p class=\"intro\">[Ĥéļļó &amp; ƀýé~~~]</p>\n<script>var x = 'a';</script>"},
        {Pseudo30, "<td>  42 &amp; 7 </td><!-- Note -->", "<td>  42 &amp; 7 </td><!-- Note -->"},
        {[](const std::string& html) { return PseudoLocaliseHtml(html, 0); }, "<b>Hello &amp; bye</b>", "<b>[Ĥéļļó &amp; ƀýé]</b>"},
        {Run30, " Hi \n", " [Ĥí~] \n"},
        {Run30, "Café", "[Çáƒé~~]"},
        {Chain, ReadDocument("guide.md"), ReadDocument("guide.expected.txt")},
        // Extraction then merge give the page back, modulo serialization.
        {Extract, Data("l10n-page.html"), Data("l10n-page.xlf")},
        {RoundTrip, Data("l10n-page.html"), Data("l10n-page.html")},
        {RoundTrip, Data("page-utf16.html"), Data("page-utf16.html")},
        {RoundTrip, "<p title='Single' class=x>Caf&eacute; <img alt=Unquoted src=u.png></p>",
         "<p title=\"Single\" class=x>Caf\xC3\xA9 <img alt=\"Unquoted\" src=u.png></p>"},
        {Extract, "<html><head><meta charset=\"koi8-r\"></head><body><p>Hi</p></body></html>",
         Error(L10N_E_UNKNOWN_ENCODING)},
        {Extract, "<html><body><p>Caf\xE9</p></body></html>", Error(L10N_E_UNKNOWN_ENCODING)},
        {Merge, "<xliff version=\"1.2\"><file original=\"a\" source-language=\"en\"><body/></file></xliff>",
         Error(L10N_E_NO_SKELETON)},
        {Merge, "<xliff version=\"1.1\"><file/></xliff>", Error(L10N_E_NOT_XLIFF12)},
        {Merge, "<?xml version=\"1.0\" encoding=\"x-unknown\"?><xliff version=\"1.2\"/>", Error(L10N_E_UNKNOWN_ENCODING)}};
    for (const auto& row : rows)
        EXPECT_EQ(row.out, row.convert(row.in)) << row.in;
}

TEST(Samples, DetectionLooksAtTheBytesAndLanguagesMustBeTags)
{
    const struct { HRESULT (*detect)(const std::string&); std::string head; HRESULT expected; } rows[] = {
        {CUtf16Converter::Detect, ReadDocument("note-utf16.txt"), S_OK}, {CUtf16Converter::Detect, "plain", S_FALSE},
        {CUtf16Converter::Detect, std::string("\xFE\xFF\x00h", 4), S_FALSE}, {CUtf16Converter::Detect, "", S_FALSE},
        {CMarkdownConverter::Detect, ReadDocument("guide.md"), S_OK},
        {CMarkdownConverter::Detect, "# Caf\xC3", S_OK}, // a character cut by the probe window
        {CMarkdownConverter::Detect, "Just a sentence.\nAnother one.\n", S_FALSE},
        {CMarkdownConverter::Detect, ReadDocument("page.html"), S_FALSE},
        {CMarkdownConverter::Detect, std::string("# Title\n\0\0", 10), S_FALSE},
        {CMarkdownConverter::Detect, "# Title \xC3\x28", S_FALSE},
        {CHtmlTextConverter::Detect, ReadDocument("page.html"), S_OK}, {CHtmlTextConverter::Detect, "<div>x</div>", S_OK},
        {CHtmlTextConverter::Detect, "\xEF\xBB\xBF  <!doctype HTML><p>x</p>", S_OK},
        {CHtmlTextConverter::Detect, "<notes><n>x</n></notes>", S_FALSE},
        {CHtmlTextConverter::Detect, "hello <b>world</b>", S_FALSE},
        {CHtmlTextConverter::Detect, ReadDocument("guide.md"), S_FALSE},
        {CPseudoTranslator::Detect, "<html><body>x</body></html>", S_OK}, {CPseudoTranslator::Detect, "# Title", S_FALSE},
        {Tag, "fr", S_OK}, {Tag, "zh-Hant-TW", S_OK}, {Tag, "f", S_FALSE}, {Tag, "fr_FR", S_FALSE}, {Tag, "fr-", S_FALSE}};
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, row.detect(row.head)) << row.head;
}
