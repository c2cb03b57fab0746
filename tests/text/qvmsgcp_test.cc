// Conversions between charsets, code pages, UTF-8 and UTF-16.
#include "text/qvmsgcp.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <random>
#include <set>

namespace orlendo {
namespace {

std::string ToHex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A sample text for each code page of the table, and where an independent implementation (the
// Python codecs) knows the code page, the bytes it gives for the sample. An empty sample means
// the code page has no non-ASCII letters worth testing.
struct Sample {
  int CodePage;
  std::u16string_view Text;
  std::string_view Bytes;
};
constexpr Sample kSamples[] = {
    {37, u"Grüße é", "c799dc59854051"},
    {437, u"Grüße ½", "477281e16520ab"},
    {500, u"Grüße é", "c799dc59854051"},
    {708, u"عربي", "d9d1c8ea"},
    {720, u"عربي", "e3a9a0ef"},
    {737, u"ΑΒΓ αβγ", "8081822098999a"},
    {775, u"Ąž Ė", "b5d820b8"},
    {850, u"Grüße é", "477281e1652082"},
    {852, u"Łódź", "9da264ab"},
    {855, u"Привет", "dde1b7eba8e5"},
    {857, u"İstanbul ş", "987374616e62756c209f"},
    {858, u"€ é", "d52082"},
    {860, u"São ç", "53846f2087"},
    {861, u"Þórður", "8da2728c7572"},
    {862, u"שלום", "998c858d"},
    {863, u"Québec", "517582626563"},
    {864, u"ABC ٣", ""},
    {865, u"Øre å", "9d72652086"},
    {866, u"Привет", "8fe0a8a2a5e2"},
    {869, u"ΑΒΓ", "a4a5a6"},
    {870, u"Łódź", ""},
    {874, u"ไทย", "e4b7c2"},
    {875, u"ΑΒΓ αβγ", "414243408a8b8c"},
    {932, u"日本語 ｱ", "93fa967b8cea20b1"},
    {936, u"中文", "d6d0cec4"},
    {949, u"한국어", "c7d1b1b9beee"},
    {950, u"中文", "a4a4a4e5"},
    {1026, u"Grüße İş", "c799e05985405b6a"},
    {1047, u"Grüße é", ""},
    {1140, u"Grüße é", "c799dc59854051"},
    {1141, u"Grüße é", ""},
    {1142, u"Grüße é", ""},
    {1143, u"Grüße é", ""},
    {1144, u"Grüße é", ""},
    {1145, u"Grüße é", ""},
    {1146, u"Grüße é", ""},
    {1147, u"Grüße é", ""},
    {1148, u"Grüße é", ""},
    {1149, u"Grüße é", ""},
    {1200, u"Aé€😀", "4100e900ac203dd800de"},
    {1201, u"Aé€😀", "004100e920acd83dde00"},
    {1250, u"Łódź", "a3f3649f"},
    {1251, u"Привет", "cff0e8e2e5f2"},
    {1252, u"Grüße € é", "4772fcdf65208020e9"},
    {1253, u"Ελλάδα", "c5ebebdce4e1"},
    {1254, u"İstanbul ş", "dd7374616e62756c20fe"},
    {1255, u"שלום", "f9ece5ed"},
    {1256, u"عربي", "dad1c8ed"},
    {1257, u"Ąž Ė", "c0fe20cb"},
    {1258, u"Đơn", "d0f56e"},
    {1361, u"한국어", ""},
    {10000, u"Grüße é", "47729fa765208e"},
    {10001, u"日本語", ""},
    {10002, u"中文", ""},
    {10003, u"한국어", ""},
    {10004, u"عربي", ""},
    {10005, u"שלום", ""},
    {10006, u"Ελλάδα", "b6ececc0e4e1"},
    {10007, u"Привет", "8ff0e8e2e5f2"},
    {10008, u"中文", ""},
    {10010, u"Grüße é", ""},
    {10017, u"Привет", ""},
    {10021, u"ไทย", ""},
    {10029, u"Łódź", "fc976490"},
    {10079, u"Grüße é", ""},
    {10081, u"İstanbul ş", "dc7374616e62756c20df"},
    {10082, u"Grüße é", ""},
    {12000, u"Aé€😀", "41000000e9000000ac20000000f60100"},
    {12001, u"Aé€😀", "00000041000000e9000020ac0001f600"},
    {20000, u"中文", ""},
    {20001, u"中文", ""},
    {20002, u"中文", ""},
    {20003, u"中文", ""},
    {20004, u"中文", ""},
    {20005, u"中文", ""},
    {20105, u"", ""},
    {20106, u"", ""},
    {20107, u"", ""},
    {20108, u"", ""},
    {20127, u"", ""},
    {20261, u"", ""},
    {20269, u"", ""},
    {20273, u"Grüße é", "c799d0a1854051"},
    {20277, u"Grüße é", ""},
    {20278, u"Grüße é", ""},
    {20280, u"Grüße é", ""},
    {20284, u"Grüße é", ""},
    {20285, u"Grüße é", ""},
    {20290, u"ABC ｱｲｳ", ""},
    {20297, u"Grüße é", ""},
    {20420, u"ABC عرب", ""},
    {20423, u"ΑΒΓ", ""},
    {20424, u"ABC שלום", ""},
    {20833, u"ABC 한국", ""},
    {20838, u"ABC ไทย", ""},
    {20866, u"Привет", "f0d2c9d7c5d4"},
    {20871, u"Grüße é", ""},
    {20880, u"Привет", ""},
    {20905, u"Grüße İş", ""},
    {20924, u"Grüße é", ""},
    {20932, u"日本語", "c6fccbdcb8ec"},
    {20936, u"中文", "d6d0cec4"},
    {20949, u"한국어", "c7d1b1b9beee"},
    {21025, u"Привет", ""},
    {21866, u"Привіт ґ", "f0d2c9d7a6d420ad"},
    {28591, u"Grüße é", "4772fcdf6520e9"},
    {28592, u"Łódź", "a3f364bc"},
    {28593, u"Ħġ", "a1f5"},
    {28594, u"Ąž Ė", "a1be20cc"},
    {28595, u"Привет", "bfe0d8d2d5e2"},
    {28596, u"عربي", "d9d1c8ea"},
    {28597, u"Ελλάδα", "c5ebebdce4e1"},
    {28598, u"שלום", "f9ece5ed"},
    {28599, u"İstanbul ş", "dd7374616e62756c20fe"},
    {28603, u"Ąž Ė", "c0fe20cb"},
    {28605, u"€ Grüße", "a4204772fcdf65"},
    {29001, u"", ""},
    {38598, u"שלום", "f9ece5ed"},
    {50220, u"日本語", "1b2442467c4b5c386c1b2842"},
    {50221, u"日本語", ""},
    {50222, u"日本語", ""},
    {50225, u"한국어", "1b2429430e475131393e6e0f"},
    {50227, u"中文", ""},
    {51932, u"日本語", "c6fccbdcb8ec"},
    {51936, u"中文", "d6d0cec4"},
    {51949, u"한국어", "c7d1b1b9beee"},
    {52936, u"中文", "7e7b56504e447e7d"},
    {54936, u"中文😀", "d6d0cec49439fc36"},
    {57002, u"हिन्दी", ""},
    {57003, u"বাংলা", ""},
    {57004, u"தமிழ்", ""},
    {57005, u"తెలుగు", ""},
    {57006, u"বাংলা", ""},
    {57007, u"ଓଡ଼ିଆ", ""},
    {57008, u"ಕನ್ನಡ", ""},
    {57009, u"മലയാളം", ""},
    {57010, u"ગુજરાતી", ""},
    {57011, u"ਪੰਜਾਬੀ", ""},
    {65000, u"Aé€😀", ""},
    {65001, u"Aé€😀", "41c3a9e282acf09f9880"},
};

const Sample* FindSample(int codePage) {
  for (const Sample& s : kSamples)
    if (s.CodePage == codePage)
      return &s;
  return nullptr;
}

TEST(CharsetTable, HasTheRowsInOrderWithTheirNamesAsListed) {
  ASSERT_EQ(MsgCodePages.size(), 140u);
  EXPECT_EQ(MsgCodePages.front().CodePage, 37);
  EXPECT_STREQ(MsgCodePages.front().Name, "IBM037");
  EXPECT_EQ(MsgCodePages.back().CodePage, 65001);
  EXPECT_STREQ(MsgCodePages.back().Name, "utf-8");
  EXPECT_EQ(CodePageToCharset(1252), "Windows-1252");
  EXPECT_EQ(CodePageToCharset(1201), "unicodeFFFE");
  EXPECT_EQ(CodePageToCharset(50222), "iso-2022-jp");
  EXPECT_EQ(CodePageToCharset(4242), "");
  std::set<int> numbers;
  for (const TMsgCodePageData& row : MsgCodePages)
    numbers.insert(row.CodePage);
  EXPECT_EQ(numbers.size(), 140u) << "every code page number occurs once";
}

TEST(CharsetTable, NameLookupIgnoresCaseAndTakesTheFirstRow) {
  EXPECT_EQ(CharsetToCodePage("iso-2022-jp"), 50220);
  EXPECT_EQ(CharsetToCodePage("ISO-2022-JP"), 50220);
  EXPECT_EQ(CharsetToCodePage("windows-1252"), 1252);
  EXPECT_EQ(CharsetToCodePage("KOI8-R"), 20866);
  EXPECT_EQ(CharsetToCodePage("Utf-8"), 65001);
  EXPECT_EQ(CharsetToCodePage("WINDOWS-1259"), 1259);
  EXPECT_EQ(CharsetToCodePage("windows-abc"), 0);
  EXPECT_EQ(CharsetToCodePage("windows-"), 0);
  EXPECT_EQ(CharsetToCodePage("windows-12a"), 0);
  EXPECT_EQ(CharsetToCodePage("windows-99999999999999"), 0);
  EXPECT_EQ(CharsetToCodePage("x-unknown-charset"), 0);
  EXPECT_EQ(CharsetToCodePage(""), 0);
}

TEST(CharsetTable, EveryAliasThatIcuKnowsNamesItsCodePage) {
  const std::pair<const char*, int> names[] = {
      {"latin1", 28591},   {"gbk", 936},          {"x-gbk", 936},         {"cp936", 936},
      {"cp1251", 1251},    {"x-cp1251", 1251},    {"cp932", 932},         {"windows-31j", 932},
      {"x-sjis", 932},     {"sjis", 932},         {"cp1252", 1252},       {"ascii", 20127},
      {"utf8", 65001},     {"iso_8859-2", 28592}, {"ISO-8859-15", 28605}, {"cp850", 850},
      {"x-koi8-r", 20866}, {"windows-949", 949},  {"euc-kr", 51949},      {"Big5", 950},
  };
  for (const auto& [name, codePage] : names) {
    EXPECT_EQ(CharsetToCodePage(name), codePage) << name;
    EXPECT_TRUE(IsKnownCharset(name)) << name;
  }
  // Known to ICU without a Windows code page: no code page, but decoded by name.
  EXPECT_EQ(CharsetToCodePage("big5-hkscs"), 0);
  EXPECT_TRUE(IsKnownCharset("big5-hkscs"));
  EXPECT_EQ(EncodeUtf8(DecodeCharset("big5-hkscs", "\xA4\xA4")), "\xE4\xB8\xAD");
  EXPECT_EQ(EncodeUtf8(DecodeCharset("x-gbk", "\xD6\xD0")), "\xE4\xB8\xAD");
  EXPECT_EQ(EncodeUtf8(DecodeCharset("windows-31j", "\x93\xFA")), "\xE6\x97\xA5");
  EXPECT_EQ(EncodeUtf8(DecodeCharset("cp1251", "\xCF")), "\xD0\x9F");
  EXPECT_FALSE(IsKnownCharset("x-unknown-charset"));
}

TEST(CodePages, EveryCodePageOfTheTableConvertsBothWaysThroughIcu) {
  for (const TMsgCodePageData& row : MsgCodePages) {
    SCOPED_TRACE(row.CodePage);
    const char* converter = IcuConverterName(static_cast<unsigned>(row.CodePage));
    ASSERT_NE(converter, nullptr);
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(converter, &err);
    EXPECT_TRUE(U_SUCCESS(err)) << converter;
    if (conv)
      ucnv_close(conv);

    const unsigned cp = static_cast<unsigned>(row.CodePage);
    const std::u16string ascii = u"ABC 123";
    const std::string asciiBytes = WideToCodePage(ascii, cp);
    EXPECT_FALSE(asciiBytes.empty());
    EXPECT_EQ(CodePageToWide(asciiBytes, cp), ascii);

    const Sample* sample = FindSample(row.CodePage);
    ASSERT_NE(sample, nullptr);
    if (sample->Text.empty())
      continue;
    std::string bytes;
    ASSERT_TRUE(TryWideToCodePage(sample->Text, cp, bytes)) << "sample not representable";
    if (!sample->Bytes.empty()) {
      EXPECT_EQ(ToHex(bytes), sample->Bytes);
    }
    EXPECT_EQ(CodePageToWide(bytes, cp), sample->Text);
    EXPECT_EQ(WideToCodePage(sample->Text, cp), bytes);
  }
}

TEST(CodePages, TextEndsAtItsFirstZeroCharacter) {
  EXPECT_EQ(CodePageToWide(std::string_view("ab\0cd", 5), 1252), u"ab");
  // In UTF-16 a zero byte is half a character, not the end.
  EXPECT_EQ(CodePageToWide(std::string_view("a\0b\0\0\0c\0", 8), 1200), u"ab");
  EXPECT_EQ(WideToCodePage(std::u16string_view(u"ab\0cd", 5), 1252), "ab");
  EXPECT_EQ(CodePageToWide(std::string_view("\0ab", 3), 65001), u"");
}

TEST(CodePages, UnmappableCharactersBecomeTheSubstituteUnlessAskedToFail) {
  const std::string bytes = WideToCodePage(u"a\u0416b", 1252);
  ASSERT_EQ(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], 'a');
  EXPECT_EQ(bytes[2], 'b');
  EXPECT_NE(static_cast<unsigned char>(bytes[1]), 0xC6) << "no guess, a substitute";
  std::string out;
  EXPECT_FALSE(TryWideToCodePage(u"a\u0416b", 1252, out));
  EXPECT_TRUE(TryWideToCodePage(u"a\u0416b", 1251, out));
  EXPECT_EQ(out, "a\xC6"
                 "b");
}

TEST(CodePages, UnknownCodePageGivesEmptyResult) {
  EXPECT_EQ(IcuConverterName(1), nullptr);
  EXPECT_EQ(CodePageToWide("abc", 1), u"");
  EXPECT_EQ(WideToCodePage(u"abc", 1), "");
  std::string out = "x";
  EXPECT_FALSE(TryWideToCodePage(u"abc", 1, out));
}

TEST(Utf8, EncodesRealUtf8) {
  EXPECT_EQ(EncodeUtf8(u""), "");
  EXPECT_EQ(EncodeUtf8(u"A"), "A");
  EXPECT_EQ(ToHex(EncodeUtf8(u"\u00E9")), "c3a9");
  EXPECT_EQ(ToHex(EncodeUtf8(u"\u20AC")), "e282ac");
  EXPECT_EQ(ToHex(EncodeUtf8(u"\U0001F600")), "f09f9880") << "a pair is one four-byte sequence";
  EXPECT_EQ(ToHex(EncodeUtf8(std::u16string(1, char16_t(0xD83D)) + u"x")), "efbfbd78");
  EXPECT_EQ(ToHex(EncodeUtf8(std::u16string(1, char16_t(0xDE00)))), "efbfbd");
}

TEST(Utf8, DecodesRealUtf8AndNothingOfMalformedInput) {
  EXPECT_EQ(DecodeUtf8(""), u"");
  EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC"), u"\u20AC");
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9"), u"a\u00E9");
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(DecodeUtf8("\x41\xC3"), u"") << "cut short";
  EXPECT_EQ(DecodeUtf8("\x41\xC3\x41"), u"") << "bad continuation";
  EXPECT_EQ(DecodeUtf8("\x80"), u"") << "stray continuation";
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), u"") << "overlong";
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), u"") << "encoded surrogate";
  EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), u"") << "above U+10FFFF";
  EXPECT_EQ(DecodeUtf8("\xFF"), u"");
}

// ICU's UTF-8 converter is an independent implementation of the same rules.
std::u16string IcuUtf8ToWide(std::string_view bytes, bool& valid) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* conv = ucnv_open("UTF-8", &err);
  std::u16string out(bytes.size() + 1, u'\0');
  err = U_ZERO_ERROR;
  int32_t n =
      ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                    bytes.data(), static_cast<int32_t>(bytes.size()), &err);
  out.resize(static_cast<std::size_t>(n));
  err = U_ZERO_ERROR;
  ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  std::u16string scratch(bytes.size() + 1, u'\0');
  err = U_ZERO_ERROR;
  ucnv_toUChars(conv, reinterpret_cast<UChar*>(scratch.data()),
                static_cast<int32_t>(scratch.size()), bytes.data(),
                static_cast<int32_t>(bytes.size()), &err);
  valid = U_SUCCESS(err);
  ucnv_close(conv);
  return out;
}

TEST(Utf8, SystemConversionReplacesLikeIcuOnRandomInput) {
  std::mt19937 rng(20260501);
  // Bytes drawn mostly from the interesting ranges: ASCII, continuations and lead bytes.
  const unsigned char pool[] = {'a',  'Z',  0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1,
                                0xED, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF};
  for (int round = 0; round < 5000; ++round) {
    std::string bytes;
    const int length = static_cast<int>(rng() % 12);
    for (int i = 0; i < length; ++i)
      bytes.push_back(static_cast<char>(pool[rng() % sizeof pool]));
    bool valid = false;
    const std::u16string expected = IcuUtf8ToWide(bytes, valid);
    ASSERT_EQ(SystemToWide(bytes), expected) << ToHex(bytes);
    ASSERT_EQ(IsValidUtf8(bytes), valid) << ToHex(bytes);
    ASSERT_EQ(DecodeUtf8(bytes), valid ? expected : u"") << ToHex(bytes);
    if (valid) {
      ASSERT_EQ(WideToSystem(expected), bytes);
    }
  }
}

// The encoder takes ASCII eight and four units at a time: runs that end or start anywhere, next to
// pairs, lone surrogates and zeros, against ICU's encoder with U+FFFD for what is not a character.
TEST(Utf8, EncodesLikeIcuAcrossAsciiRunsOfEveryLength) {
  std::mt19937 rng(20261209);
  const char16_t pool[] = {u'a',   u'~',   0x0001, 0x007F, 0x0080, 0x07FF, 0x0800,
                           0x4E2D, 0xFFFF, 0xD83D, 0xDE00, 0xDBFF, 0xDC00};
  for (int round = 0; round < 20000; ++round) {
    std::u16string text;
    const int length = static_cast<int>(rng() % 24);
    for (int i = 0; i < length; ++i) {
      // Mostly ASCII, so that runs of every length occur.
      const bool ascii = rng() % 3 != 0;
      text.push_back(ascii ? char16_t(u'A' + rng() % 26) : pool[rng() % std::size(pool)]);
    }
    std::string expected(text.size() * 3, '\0');
    int32_t written = 0;
    int32_t substitutions = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strToUTF8WithSub(expected.data(), static_cast<int32_t>(expected.size()), &written,
                       reinterpret_cast<const UChar*>(text.data()),
                       static_cast<int32_t>(text.size()), 0xFFFD, &substitutions, &err);
    ASSERT_TRUE(U_SUCCESS(err));
    expected.resize(static_cast<size_t>(written));
    ASSERT_EQ(WideToCodePage(text, 65001), expected) << round;
  }
}

TEST(Utf8, ValidityCheckSeesPastLongAsciiRuns) {
  std::string text(100, 'a');
  EXPECT_TRUE(IsValidUtf8(text));
  text += "\xC3";
  EXPECT_FALSE(IsValidUtf8(text));
  text += "\xA9";
  EXPECT_TRUE(IsValidUtf8(text));
  text.insert(17, 1, '\xFE');
  EXPECT_FALSE(IsValidUtf8(text));
}

// TranslateCharset carries bytes one character each.
std::u16string Carrier(std::string_view bytes) {
  std::u16string out;
  for (unsigned char c : bytes)
    out.push_back(c);
  return out;
}

TEST(TranslateCharset, Iso88591ConvertsLikeAnyOtherCharset) {
  for (const char* name : {"iso-8859-1", "ISO-8859-1", "Iso-8859-1"}) {
    std::u16string text = u"caf\u00E9 \u20AC";
    TranslateCharset(name, true, text);
    EXPECT_EQ(text, Carrier(WideToCodePage(u"caf\u00E9 \u20AC", 28591))) << name;
    EXPECT_EQ(text.substr(0, 4), Carrier("caf\xE9"));
    text = Carrier("caf\xE9");
    TranslateCharset(name, false, text);
    EXPECT_EQ(text, u"caf\u00E9") << name;
  }
}

TEST(TranslateCharset, Utf8InAnyCaseIsRealUtf8) {
  for (const char* name : {"utf-8", "UTF-8"}) {
    std::u16string text = u"\u00E9\U0001F600";
    TranslateCharset(name, true, text);
    EXPECT_EQ(text, Carrier("\xC3\xA9\xF0\x9F\x98\x80")) << name;
    TranslateCharset(name, false, text);
    EXPECT_EQ(text, u"\u00E9\U0001F600") << name;
  }
}

TEST(TranslateCharset, MalformedUtf8KeepsItsGoodParts) {
  std::u16string text = Carrier("ok \xC3 fine");
  TranslateCharset("utf-8", false, text);
  EXPECT_EQ(text, u"ok \uFFFD fine");
}

TEST(TranslateCharset, EmptyTextStaysEmpty) {
  std::u16string text;
  TranslateCharset("koi8-r", true, text);
  EXPECT_TRUE(text.empty());
  TranslateCharset("koi8-r", false, text);
  EXPECT_TRUE(text.empty());
}

TEST(TranslateCharset, CyrillicNamesOutsideTheTableUseTheirCodePage) {
  const std::string koi8 = "\xF0\xD2\xC9\xD7\xC5\xD4"; // "Привет" in KOI8-R
  for (const char* name : {"koi8-r", "x-koi8-r", "X-KOI8-R"}) {
    std::u16string text = Carrier(koi8);
    TranslateCharset(name, false, text);
    EXPECT_EQ(text, u"Привет") << name;
    TranslateCharset(name, true, text);
    EXPECT_EQ(text, Carrier(koi8)) << name;
  }
  std::u16string text = Carrier("\xCF\xF0\xE8"); // "При" in Windows-1251
  TranslateCharset("x-windows-1251", false, text);
  EXPECT_EQ(text, u"При");
  text = Carrier("\xA4\xA6\xA7\xAD"); // є і ї ґ in KOI8-U
  TranslateCharset("x-koi8-u", false, text);
  EXPECT_EQ(text, u"єіїґ");
}

TEST(TranslateCharset, CharsetsThatIcuKnowsByNameConvert) {
  std::u16string text = Carrier("\xD6\xD0\xCE\xC4"); // "中文" in GBK
  TranslateCharset("gbk", false, text);
  EXPECT_EQ(text, u"中文");
  text = Carrier("\xE9");
  TranslateCharset("latin1", false, text);
  EXPECT_EQ(text, u"\u00E9");
}

TEST(TranslateCharset, Latin10ConvertsFromItsTableBothWays) {
  // Every byte decodes to the character that Python's codec gives it, and encodes back to the
  // byte; characters outside the charset fail an exact encoding.
  std::string all;
  for (int b = 1; b < 256; ++b)
    all += static_cast<char>(b);
  for (const char* name : {"ISO-8859-16", "iso8859-16", "latin10", "ISO_8859-16:2001"}) {
    ASSERT_TRUE(IsKnownCharset(name)) << name;
    const std::u16string text = DecodeCharset(name, all);
    ASSERT_EQ(text.size(), 255u) << name;
    EXPECT_EQ(text[0x7F], u'\u0080');
    EXPECT_EQ(text.substr(0x9F, 8), u"\u00A0\u0104\u0105\u0141\u20AC\u201E\u0160\u00A7");
    EXPECT_EQ(text.substr(0xF7), u"\u0171\u00F9\u00FA\u00FB\u00FC\u0119\u021B\u00FF");
    std::string back;
    ASSERT_TRUE(TryEncodeCharset(name, text, back)) << name;
    EXPECT_EQ(back, all) << name;
  }
  std::string out;
  EXPECT_FALSE(TryEncodeCharset("iso-8859-16", u"\u0163", out)); // t cedilla: Latin-2 only
  EXPECT_EQ(EncodeCharset("iso-8859-16", u"a\u0163\U0001F600b"), "a??b");
  EXPECT_EQ(CharsetToCodePage("iso-8859-16"), 0); // no Windows code page: decoded by name
}

TEST(TranslateCharset, UnknownNamesReadAsTheSystemCodePage) {
  std::u16string text = Carrier("\xC3\xA9");
  TranslateCharset("x-unknown", false, text);
  EXPECT_EQ(text, u"\u00E9");
  text = Carrier("\xE9"); // not UTF-8: Windows-1252
  TranslateCharset("x-unknown", false, text);
  EXPECT_EQ(text, u"\u00E9");
  text.assign(1, u'\u00E9');
  TranslateCharset("x-unknown", true, text);
  EXPECT_EQ(text, Carrier("\xC3\xA9"));
}

TEST(TranslateCharset, WideCharactersOnTheByteSideAreTakenAsUtf8) {
  std::u16string text = u"\u0416";
  TranslateCharset("utf-8", false, text);
  EXPECT_EQ(text, u"\u0416");
}

TEST(DefaultCodepageHandlers, ConvertBetweenUtf8TextAndCharsetBytes) {
  std::string value = "Привет";
  DefaultEncodeCodepage(nullptr, "koi8-r", value);
  EXPECT_EQ(value, "\xF0\xD2\xC9\xD7\xC5\xD4");
  DefaultDecodeCodepage(nullptr, "koi8-r", value);
  EXPECT_EQ(value, "Привет");

  value = "caf\xE9";
  DefaultDecodeCodepage(nullptr, "iso-8859-1", value);
  EXPECT_EQ(value, "caf\xC3\xA9");
  DefaultEncodeCodepage(nullptr, "ISO-8859-1", value);
  EXPECT_EQ(value, "caf\xE9");

  value = "\x1B$B;~\x1B(B"; // "時" in ISO-2022-JP
  DefaultDecodeCodepage(nullptr, "iso-2022-jp", value);
  EXPECT_EQ(value, "時");

  value.clear();
  DefaultDecodeCodepage(nullptr, "koi8-r", value);
  EXPECT_EQ(value, "");
}

TEST(DefaultCodepageHandlers, TryEncodeReportsWhatTheCharsetCannotHold) {
  std::string out;
  EXPECT_FALSE(TryEncodeCharset("iso-8859-1", u"Привет", out));
  EXPECT_TRUE(TryEncodeCharset("koi8-r", u"Привет", out));
  EXPECT_EQ(out, "\xF0\xD2\xC9\xD7\xC5\xD4");
  EXPECT_TRUE(TryEncodeCharset("UTF-8", u"Привет", out));
  EXPECT_EQ(out, "Привет");
  EXPECT_FALSE(TryEncodeCharset("no-such-charset", u"abc", out));
}

TEST(Cyrillic, KindsFollowTheMarkersInTheName) {
  EXPECT_EQ(CyrillicKind("windows-1251"), 1);
  EXPECT_EQ(CyrillicKind("x-Windows-1251"), 1);
  EXPECT_EQ(CyrillicKind("X-1251"), 1);
  EXPECT_EQ(CyrillicKind("x-cp1251"), 0);
  EXPECT_EQ(CyrillicKind("koi8-r"), 2);
  EXPECT_EQ(CyrillicKind("x-koi8-r"), 2);
  EXPECT_EQ(CyrillicKind("KOI8-U"), 3);
  EXPECT_EQ(CyrillicKind("iso-8859-5"), 0);
  EXPECT_EQ(CyrillicKind(""), 0);
}

// Bytes of one code page that the table maps into another must mean the same letter there.
void ExpectSameLetters(int kind, unsigned fromCodePage, unsigned toCodePage, int first, int last) {
  for (int b = first; b <= last; ++b) {
    std::string bytes(1, static_cast<char>(b));
    const std::u16string letter = CodePageToWide(bytes, fromCodePage);
    TranslateCyrillic(kind, 0, bytes);
    EXPECT_EQ(CodePageToWide(bytes, toCodePage), letter) << "kind " << kind << " byte " << b;
  }
}

TEST(Cyrillic, FallbackTablesMapLettersToTheSameLetters) {
  ExpectSameLetters(1, 1251, 866, 0xC0, 0xFF);
  ExpectSameLetters(1, 1251, 866, 0xA8, 0xA8); // Ё
  ExpectSameLetters(1, 1251, 866, 0xB8, 0xB8); // ё
  ExpectSameLetters(2, 20866, 1251, 0xC0, 0xFF);
  ExpectSameLetters(2, 20866, 1251, 0xA3, 0xA3);
  ExpectSameLetters(2, 20866, 1251, 0xB3, 0xB3);
  ExpectSameLetters(3, 21866, 1251, 0xC0, 0xFF);
  for (int b : {0xA3, 0xA4, 0xA6, 0xA7, 0xAD, 0xB3, 0xB4, 0xB6, 0xB7, 0xBD})
    ExpectSameLetters(3, 21866, 1251, b, b);
}

TEST(Cyrillic, TablesKeepAsciiAndFollowTheListedRow) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  for (int kind = 0; kind <= 3; ++kind) {
    std::string bytes = all;
    TranslateCyrillic(kind, 0, bytes);
    EXPECT_EQ(bytes.substr(0, 128), all.substr(0, 128)) << kind;
    if (kind == 0) {
      EXPECT_EQ(bytes, all);
    }
  }
  std::string row = all.substr(0x80, 16);
  TranslateCyrillic(1, 0, row);
  EXPECT_EQ(ToHex(row), "3f3f273f223ac5d83f253f3c3f3f3f3f");
  std::string koi8 = "\xC1\xE1\xC0\xFF";
  TranslateCyrillic(2, 0, koi8);
  EXPECT_EQ(ToHex(koi8), "e0c0feda");
  // Through two tables: KOI8-R to Windows-1251 to CP866.
  std::string word = "\xF0\xD2\xC9"; // "При" in KOI8-R
  TranslateCyrillic(2, 1, word);
  EXPECT_EQ(CodePageToWide(word, 866), u"При");
  std::string empty;
  TranslateCyrillic(2, 0, empty);
  EXPECT_EQ(empty, "");
  std::string outOfRange = "\xC1";
  TranslateCyrillic(7, -1, outOfRange);
  EXPECT_EQ(outOfRange, "\xC1");
}

TEST(StoredText, FamilyOfInternetCodePages) {
  const std::pair<int, int> cases[] = {
      {50220, 932},  {50221, 932},  {50222, 932},   {51932, 932},  {50225, 949},  {51949, 949},
      {52936, 936},  {51936, 936},  {20936, 936},   {20866, 1251}, {21866, 1251}, {28595, 1251},
      {28591, 1252}, {28605, 1252}, {28592, 1250},  {28597, 1253}, {28599, 1254}, {28598, 1255},
      {38598, 1255}, {28596, 1256}, {28594, 1257},  {28603, 1257}, {1252, 1252},  {1251, 1251},
      {932, 932},    {0, 0},        {65001, 65001}, {1200, 65001}, {10000, 10000}};
  for (auto [cp, family] : cases)
    EXPECT_EQ(WindowsFamilyCodePage(cp), family) << cp;
}

TEST(StoredText, DecodesWithTheFamilyOrTheUtf8Rule) {
  EXPECT_EQ(DecodeStoredText("caf\xE9", 28591), u"caf\u00E9");
  EXPECT_EQ(DecodeStoredText("\xCF\xF0\xE8", 20866), u"При") << "KOI8-R text is stored in 1251";
  EXPECT_EQ(DecodeStoredText("\x93\xFA\x96\x7B", 50220), u"日本") << "stored in Shift_JIS";
  EXPECT_EQ(DecodeStoredText("caf\xC3\xA9", 0), u"caf\u00E9");
  EXPECT_EQ(DecodeStoredText("caf\xE9", 0), u"caf\u00E9");
  EXPECT_EQ(DecodeStoredText("caf\xC3\xA9", 65001), u"caf\u00E9");
  EXPECT_EQ(DecodeStoredText("caf\xE9", 65001), u"caf\u00E9");
  EXPECT_EQ(DecodeStoredText("caf\xE9", 1), u"caf\u00E9") << "no converter: the rule for 0";
  EXPECT_EQ(DecodeStoredText(std::string_view("ab\0c", 4), 1252), u"ab");
  EXPECT_EQ(DecodeStoredText("", 1252), u"");
}

} // namespace
} // namespace orlendo
