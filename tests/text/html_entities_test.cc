#include "text/html_entities.h"

#include <gtest/gtest.h>

namespace orlendo {
namespace {

std::u16string Decoded(std::u16string text) {
  DecodeHtmlEntities(text);
  return text;
}

TEST(EscapeHtml, EscapesMarkupAndControlCharacters) {
  EXPECT_EQ(EscapeHtml("a<b>&\"c\"", true), "a&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(EscapeHtml("\t", true), "\t");
  EXPECT_EQ(EscapeHtml("\x01", true), "%01");
  EXPECT_EQ(EscapeHtml("\x1F\x0B\x0C", false), "%1F%0B%0C");
  EXPECT_EQ(EscapeHtml(std::string_view("\0", 1), false), "%00");
  EXPECT_EQ(EscapeHtml("", true), "");
}

TEST(EscapeHtml, LineBreaksForHtmlApostrophesForXml) {
  EXPECT_EQ(EscapeHtml("a\r\nb", true), "a<br>b");
  EXPECT_EQ(EscapeHtml("a\rb\nc", true), "a\rb\nc");
  EXPECT_EQ(EscapeHtml("a\r\n\r\nb", true), "a<br><br>b");
  EXPECT_EQ(EscapeHtml("it's", true), "it's");
  EXPECT_EQ(EscapeHtml("a\r\nb", false), "a\r\nb");
  EXPECT_EQ(EscapeHtml("it's", false), "it&apos;s");
}

TEST(EscapeHtml, LatinSignsAsReferencesWithoutBreakingOtherCharacters) {
  EXPECT_EQ(EscapeHtml("\xC2\xA9 \xC2\xB0 \xC2\xB1 \xC2\xB6", true),
            "&copy; &#176; &plusmn; &para;");
  // An XML reader knows no named reference but the five of XML itself.
  EXPECT_EQ(EscapeHtml("\xC2\xA9 \xC2\xB0 \xC2\xB1 \xC2\xB6", false),
            "&#169; &#176; &#177; &#182;");
  // é, ñ, ö and İ end in the same bytes as the signs above; they stay as they are.
  EXPECT_EQ(EscapeHtml("\xC3\xA9\xC3\xB1\xC3\xB6\xC4\xB0", true),
            "\xC3\xA9\xC3\xB1\xC3\xB6\xC4\xB0");
  EXPECT_EQ(EscapeHtml("\xC2\xA0\xC2", true), "\xC2\xA0\xC2");
}

TEST(HtmlEntities, NamedReferencesWithOrWithoutSemicolon) {
  EXPECT_EQ(Decoded(u"5 &deg;C &amp; more&nbsp;"), u"5 \u00B0C & more");
  EXPECT_EQ(Decoded(u"&lt;b&gt; &quot;q&quot; &apos;"), u"<b> \"q\" '");
  EXPECT_EQ(Decoded(u"&copy&trade&plusmn&brvbar"), u"cT+|");
  EXPECT_EQ(Decoded(u"a&carb&retc&para"), u"a\nb\rc\u00B6");
  EXPECT_EQ(Decoded(u"&Amp; &AMP;"), u"&Amp; &AMP;") << "case-sensitive";
  EXPECT_EQ(Decoded(u"&amp;;"), u"&;") << "only one semicolon goes";
}

TEST(HtmlEntities, AReplacementCanFormTheNextReference) {
  EXPECT_EQ(Decoded(u"&amp;lt;"), u"<");
  EXPECT_EQ(Decoded(u"&amp;amp;amp;"), u"&");
  EXPECT_EQ(Decoded(u"&ca&nbsp;r;x"), u"\nx") << "removing one reference joins a later one";
  EXPECT_EQ(Decoded(u"&am&nbsp;p;"), u"&amp;") << "the &amp pass came before &nbsp";
}

TEST(HtmlEntities, NumericReferences) {
  EXPECT_EQ(Decoded(u"&#65;&#x42;"), u"AB");
  EXPECT_EQ(Decoded(u"&#65&#X43;"), u"AC");
  EXPECT_EQ(Decoded(u"&#x20AC; &#8364;"), u"\u20AC \u20AC");
  EXPECT_EQ(Decoded(u"&#176;"), u"\u00B0");
  EXPECT_EQ(Decoded(u"&#38;#65;"), u"A") << "a decoded & starts a new reference";
  EXPECT_EQ(Decoded(u"&&#35;65;"), u"A") << "a decoded # completes one";
  EXPECT_EQ(Decoded(u"&#65 &#650;"), u"A \u028A") << "each reference by its own digits";
}

TEST(HtmlEntities, AnOutOfRangeReferenceEndsTheNumericPass) {
  EXPECT_EQ(Decoded(u"&#70000;&#65;"), u"&#70000;&#65;");
  EXPECT_EQ(Decoded(u"&#66;&#65535;&#65;"), u"B&#65535;&#65;");
  EXPECT_EQ(Decoded(u"&#;&#65;"), u"&#;&#65;") << "no digits";
  EXPECT_EQ(Decoded(u"&#99999999999999999999;x"), u"&#99999999999999999999;x");
  EXPECT_EQ(Decoded(u"&#65534;"), std::u16string(1, char16_t(0xFFFE)));
}

TEST(HtmlEntities, ReplaceEntityRepeatsFromTheStart) {
  std::u16string text = u"xaay";
  ReplaceEntity(u"aa", u"a", text);
  EXPECT_EQ(text, u"xay");
  text = u"aaaa";
  ReplaceEntity(u"aa", u"a", text);
  EXPECT_EQ(text, u"a");
  text = u"abc";
  ReplaceEntity(u"", u"z", text);
  EXPECT_EQ(text, u"abc");
  text = u"a;b;;";
  ReplaceEntity(u"b", u"", text);
  EXPECT_EQ(text, u"a;;");
}

TEST(HtmlEntities, LargeInputDecodesInLinearTime) {
  std::u16string text;
  for (int i = 0; i < 200000; ++i)
    text += u"&amp;&#1234;";
  DecodeHtmlEntities(text);
  ASSERT_EQ(text.size(), 400000u);
  EXPECT_EQ(text.substr(0, 2), u"&\u04D2");
}

TEST(HtmlEntities, Utf8Form) {
  EXPECT_EQ(DecodeHtmlEntities(std::string_view("caf&#233; &amp; \xE2\x82\xAC")),
            "caf\xC3\xA9 & \xE2\x82\xAC");
}

} // namespace
} // namespace orlendo
