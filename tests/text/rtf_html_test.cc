#include "text/rtf_html.h"

#include <gtest/gtest.h>

#include <string>

namespace orlendo {
namespace {

// An encapsulated-HTML document around `body`, the way the mail program writes one.
std::string Encapsulate(const std::string& body, const std::string& charset = "\\ansicpg1252",
                        const std::string& fonts = "{\\f0\\fswiss Arial;}") {
  return "{\\rtf1\\ansi" + charset + "\\fromhtml1 \\deff0{\\fonttbl\r\n" + fonts +
         "}\r\n{\\colortbl\\red0\\green0\\blue0;}\r\n\\uc1\\pard\\plain\\deftab360 \\f0\\fs24 \r\n"
         "{\\*\\htmltag19 <html>}{\\*\\htmltag50 <body>}" +
         body + "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}";
}

std::string Html(const std::string& body) {
  return "<html><body>" + body + "</body></html>";
}

// Feeds the input one byte at a time.
std::string ExtractByteByByte(const std::string& rtf, RtfDeencapsulator::Output output) {
  RtfDeencapsulator reader(output);
  for (char c : rtf)
    reader.Write(std::string_view(&c, 1));
  return reader.Finish();
}

TEST(RtfHtmlEntry, NeedsFromhtmlAnHtmltagGroupAndAnHtmlTag) {
  EXPECT_EQ(ExtractHtmlFromRtf(""), "");
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\ansi {\\*\\htmltag19 <html>}x}"), "");
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\ansi\\fromhtml1 <html> x}"), "");
  // A header that declares \fromhtml1 is enough: upper-case tags and fragments are HTML too.
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\fromhtml1 {\\*\\htmltag19 <HTML>}x}"), "<HTML>x");
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\fromhtml1 {\\*\\htmltag64 <div>}x}"), "<div>x");
  // Without the declaration only a lower-case html element or a document type counts.
  EXPECT_FALSE(IsRtfEncapsulatedHtml("{\\rtf1 {\\*\\htmltag19 <HTML>}x\\fromhtml1}"));
  EXPECT_FALSE(IsRtfEncapsulatedHtml("{\\rtf1\\fromhtml0 {\\*\\htmltag19 <div>}x}"));
  EXPECT_TRUE(IsRtfEncapsulatedHtml("{\\rtf1\\fromhtml1 {\\*\\htmltag0 <!DOCTYPE HTML><HTML>}x}"));
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\fromhtml1 {\\*\\htmltag0 <!DOCTYPE html>}x}"),
            "<!DOCTYPE html>x");
  EXPECT_EQ(ExtractHtmlFromRtf("{\\rtf1\\fromhtml1 {\\*\\htmltag0 <html lang=en>}x}"),
            "<html lang=en>x");
}

TEST(RtfHtmlMarkup, HtmltagGroupsAreCopiedAsTheyStand) {
  // The space after the number delimits the word; a second one is content.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\*\\htmltag84 <p>}a{\\*\\htmltag84  <br>}")),
            Html("<p>a <br>"));
  // Entities stay as text: decoding them is the browser's business.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\*\\htmltag84 &nbsp;&lt;}")), Html("&nbsp;&lt;"));
  // Inside markup: \par and \tab are the line breaks and tabs of the HTML source, escaped
  // braces and backslashes are characters, any other control word is dropped.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate(
                "{\\*\\htmltag241 <style>\\par p \\{x:1\\}\\tab\\htmlbase \\\\</style>}")),
            Html("<style>\r\np {x:1}\t\\</style>"));
  // An empty markup group adds nothing, and a rewritten-link group is for another reader.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate(
                "{\\*\\htmltag64}{\\*\\htmltag84 <a href=\"x\">}{\\*\\mhtmltag84 <a href=\"y\">}")),
            Html("<a href=\"x\">"));
}

TEST(RtfHtmlText, BreaksTabsAndEscapesOutsideMarkup) {
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a\\par b\\tab c\\line d")), Html("a\r\nb\tc\r\nd"));
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\{x\\}\\\\y\\~z\\lquote q\\rquote ")),
            Html("{x}\\y\xC2\xA0z\xE2\x80\x98q\xE2\x80\x99"));
}

TEST(RtfHtmlText, NoControlWordReachesTheHtml) {
  // Formatting words, known or not, with or without numbers, disappear entirely.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a\\b0 b\\fs24 c\\li360 d{\\li360}e\\bin0 "
                                           "f\\unknownword42 g\\sp h\\pard\\plain i")),
            Html("abcdefghi"));
  // Field instructions are never text; a field result outside \htmlrtf is.
  EXPECT_EQ(ExtractHtmlFromRtf(
                Encapsulate("{\\field{\\*\\fldinst{HYPERLINK \"http://x/\"}}{\\fldrslt{link}}}")),
            Html("link"));
  // Destinations that are not text are skipped, ignorable ones whatever their name.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a{\\*\\bkmkstart b}{\\*\\foo {c}}{\\pict 0102}"
                                           "{\\stylesheet{d;}}e")),
            Html("ae"));
}

TEST(RtfHtmlText, EscapedBytesAndUnicodeAreDecoded) {
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("Caf\\'e9")), Html("Caf\xC3\xA9"));
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\u1087?\\u1088?")), Html("\xD0\xBF\xD1\x80"));
  // \uc0: no fallback to skip.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\uc0\\u1087 x}")), Html("\xD0\xBFx"));
  // A character outside the BMP as a surrogate pair.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\u-10179?\\u-8704?")), Html("\xF0\x9F\x98\x80"));
  // Markup may carry escapes too.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\*\\htmltag84 <p title=\"\\'e9\\u8364?\">}")),
            Html("<p title=\"\xC3\xA9\xE2\x82\xAC\">"));
}

TEST(RtfHtmlText, HtmlrtfSuppressesTextAndIsScopedByGroups) {
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a\\htmlrtf b\\par\\'e9\\u1087?\\htmlrtf0 c")),
            Html("ac"));
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a\\htmlrtf1 b\\htmlrtf0 c")), Html("ac"));
  // The state is restored at the end of a group: y is still RTF-only.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\htmlrtf {\\htmlrtf0 x}y\\htmlrtf0 z")), Html("xz"));
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\htmlrtf x}y")), Html("y"));
  // Markup inside an RTF-only run is RTF-only too.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\htmlrtf {\\*\\htmltag84 <br>}x\\htmlrtf0 y")),
            Html("y"));
  // The way the writer brackets a non-breaking space: entity in markup, RTF byte suppressed.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("a{\\*\\htmltag84 &nbsp;}\\htmlrtf \\'a0\\htmlrtf0 b")),
            Html("a&nbsp;b"));
}

TEST(RtfHtmlText, CodePagesOfTheDocumentAndOfTheFonts) {
  // Cyrillic document code page.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2", "\\ansicpg1251")),
            Html("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));
  // Shift-JIS through the font's character set; the trail byte of a character may be an
  // escape or a literal ("[" is the second byte of U+30FC).
  const std::string japaneseFonts = "{\\f0\\fswiss Arial;}{\\f1\\fmodern\\fcharset128 MS Gothic;}";
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\f1\\'93\\'fa\\'96\\'7b\\'8c\\'ea\\'81[}",
                                           "\\ansicpg1252", japaneseFonts)),
            Html("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\xBC"));
  // The font is scoped by the group: after it, the document's code page again.
  const std::string cyrillicFont = "{\\f0\\fswiss Arial;}{\\f2\\fcharset204 Arial Cyr;}";
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("{\\f2\\'cf}\\'e9", "\\ansicpg1252", cyrillicFont)),
            Html("\xD0\x9F\xC3\xA9"));
  // \plain returns to the default font.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\f2\\'cf\\plain\\'cf", "\\ansicpg1252", cyrillicFont)),
            Html("\xD0\x9F\xC3\x8F"));
  // Markup is in the document's code page whatever the current font.
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate("\\f2{\\*\\htmltag84 <p title=\"\\'cf\">}",
                                           "\\ansicpg1251", "{\\f2\\fcharset0 Arial;}")),
            Html("<p title=\"\xD0\x9F\">"));
}

TEST(RtfHtmlText, MetaCharsetIsMadeTrue) {
  EXPECT_EQ(ExtractHtmlFromRtf(Encapsulate(
                "{\\*\\htmltag161 <meta http-equiv=\"Content-Type\" content=\"text/html; "
                "charset=shift_jis\">}{\\*\\htmltag161 <META charset='iso-8859-1'>}charset=x")),
            Html("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                 "<META charset='utf-8'>charset=x"));
}

TEST(RtfHtmlText, ChunkingDoesNotChangeTheResult) {
  const std::string rtf = Encapsulate(
      "{\\*\\htmltag84 <p>}{\\f1\\'93\\'fa\\'96\\'7b}Caf\\'e9 \\u1087?\\htmlrtf {\\b x}\\htmlrtf0 "
      "{\\*\\htmltag84 &nbsp;}\\htmlrtf \\'a0\\htmlrtf0\\par end",
      "\\ansicpg1252", "{\\f0\\fswiss Arial;}{\\f1\\fcharset128 MS Gothic;}");
  EXPECT_EQ(ExtractByteByByte(rtf, RtfDeencapsulator::Output::kHtml), ExtractHtmlFromRtf(rtf));
  EXPECT_EQ(ExtractHtmlFromRtf(rtf), Html("<p>\xE6\x97\xA5\xE6\x9C\xAC"
                                          "Caf\xC3\xA9 \xD0\xBF&nbsp;\r\nend"));
}

TEST(RtfHtmlHostile, DamagedInputGivesWhatCanBeRead) {
  // 100 000 nested groups inside the body.
  const std::string nested =
      Encapsulate(std::string(100000, '{') + "deep" + std::string(100000, '}') + "after");
  EXPECT_EQ(ExtractHtmlFromRtf(nested), Html("deepafter"));

  // \bin claiming 4 GB swallows the rest of the file, and nothing else happens.
  const std::string bin = Encapsulate("before\\bin4294967296 after");
  EXPECT_EQ(ExtractHtmlFromRtf(bin), "<html><body>before");

  // Cut in the middle of a markup group, and in the middle of an escape.
  const std::string whole = Encapsulate("{\\*\\htmltag84 <p>}hello\\'e9");
  const std::string cut = whole.substr(0, whole.find("hello") + 5);
  EXPECT_EQ(ExtractHtmlFromRtf(cut), "<html><body><p>hello");
  EXPECT_EQ(ExtractHtmlFromRtf(cut + "\\'e"), "<html><body><p>hello");
  EXPECT_EQ(ExtractHtmlFromRtf(cut + "\\'"), "<html><body><p>hello");
  EXPECT_EQ(ExtractHtmlFromRtf(cut + "\\"), "<html><body><p>hello");
  EXPECT_EQ(ExtractHtmlFromRtf(cut + "\\'zz!"), "<html><body><p>hellozz!");

  RtfDeencapsulator reader(RtfDeencapsulator::Output::kHtml, bin);
  reader.Finish();
  EXPECT_FALSE(reader.Problems().empty());
}

TEST(RtfText, FromtextDocumentsGiveTheirText) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl\r\n{\\f0\\fswiss Arial;}\r\n"
      "{\\f2\\fnil\\fcharset204 Symbol;}}\r\n{\\colortbl\\red0\\green0\\blue0;}\r\n"
      "\\uc1\\pard\\plain\\deftab360 \\f0\\fs20 Caf\\'e9 test\\par\r\n-- \\par\r\n"
      "Name\\tab \\tab http://x/\\line {\\f2\\'cf}\\u8364?\\par\r\n}";
  EXPECT_TRUE(IsRtfEncapsulatedText(rtf));
  EXPECT_EQ(ExtractTextFromRtf(rtf),
            "Caf\xC3\xA9 test\r\n-- \r\nName\t\thttp://x/\r\n\xD0\x9F\xE2\x82\xAC\r\n");
  EXPECT_EQ(ExtractByteByByte(rtf, RtfDeencapsulator::Output::kText), ExtractTextFromRtf(rtf));

  // Not marked, or marked as HTML, or marked only somewhere in the text: not plain text.
  EXPECT_EQ(ExtractTextFromRtf("{\\rtf1\\ansi plain\\par}"), "");
  EXPECT_EQ(ExtractTextFromRtf(Encapsulate("x")), "");
  EXPECT_EQ(ExtractTextFromRtf("{\\rtf1\\ansi text first \\fromtext}"), "");
  // Markup groups are not text here.
  EXPECT_EQ(ExtractTextFromRtf("{\\rtf1\\fromtext {\\*\\htmltag84 <p>}a}"), "a");
}

TEST(RtfMatchHelpers, MatchControlWord) {
  const std::string text = "x\\b0 \\fs24 \\f-1";
  std::size_t pos = 2;
  // "\b" does not take its digits unless asked.
  EXPECT_TRUE(MatchControlWord(text, "\\b", false, pos, false));
  EXPECT_EQ(pos, 4u);
  pos = 2;
  EXPECT_TRUE(MatchControlWord(text, "\\b", true, pos, true));
  EXPECT_EQ(pos, 5u); // on the blank: no delimiter is consumed
  pos = 6;
  EXPECT_TRUE(MatchControlWord(text, "\\fs", true, pos, true));
  EXPECT_EQ(pos, 11u);
  // A "-" is not a digit: RequireDigit fails and the position stays.
  pos = 12;
  EXPECT_FALSE(MatchControlWord(text, "\\f", true, pos, true));
  EXPECT_EQ(pos, 12u);
  // Case matters, and the text's end is respected.
  pos = 2;
  EXPECT_FALSE(MatchControlWord(text, "\\B", true, pos, false));
  pos = text.size();
  EXPECT_FALSE(MatchControlWord(text, "1x", true, pos, false));
  EXPECT_EQ(pos, text.size());
}

TEST(RtfMatchHelpers, SkipDestination) {
  std::size_t pos = 2;
  EXPECT_TRUE(SkipDestination("{\\li360}", "\\li", pos));
  EXPECT_EQ(pos, 8u); // on the "}"
  pos = 2;
  EXPECT_TRUE(SkipDestination("x\\li360}", "\\li", pos));
  EXPECT_EQ(pos, 5u); // the number stays
  pos = 2;
  EXPECT_TRUE(SkipDestination("{\\sn abc\r\nrest", "\\sn", pos));
  EXPECT_EQ(pos, 9u); // on the CR
  pos = 2;
  EXPECT_TRUE(SkipDestination("{\\sv abc", "\\sv", pos));
  EXPECT_EQ(pos, 9u); // one past the end
  pos = 2;
  EXPECT_FALSE(SkipDestination("{\\sv abc", "\\sn", pos));
  EXPECT_EQ(pos, 2u);
}

} // namespace
} // namespace orlendo
