#include "text/quoted_printable.h"

#include <gtest/gtest.h>

#include <random>

#include "chunked.h"

namespace orlendo {
namespace {

using testing::SameInAllChunkings;

// Decodes whole, and checks that every way of cutting the input gives the same bytes.
std::string Decode(std::string_view input) {
  const std::string whole = DecodeQuotedPrintable(input);
  EXPECT_EQ(SameInAllChunkings<QuotedPrintableDecoder>(input, whole), "") << input;
  return whole;
}

TEST(QuotedPrintable, DecodesEscapesAndSoftLineBreaks) {
  EXPECT_EQ(Decode("a=3Db=\r\nc"), "a=bc");
  EXPECT_EQ(Decode("caf=C3=A9"), "caf\xC3\xA9");
  EXPECT_EQ(Decode("caf=c3=a9"), "caf\xC3\xA9") << "lower-case hex digits";
  EXPECT_EQ(Decode("soft=\nbreak"), "softbreak");
  EXPECT_EQ(Decode("two=\n\nbreaks"), "twobreaks") << "up to two CR/LF characters";
  EXPECT_EQ(Decode("three=\r\n\r\nlines"), "three\r\nlines");
  EXPECT_EQ(Decode("snake_case"), "snake_case");
  EXPECT_EQ(Decode("plain text"), "plain text");
  EXPECT_EQ(Decode(""), "");
}

TEST(QuotedPrintable, MalformedEscapesDegradeAsDescribed) {
  EXPECT_EQ(Decode("a=Zb"), "aZb");
  EXPECT_EQ(Decode("end=4"), std::string("end\x04"));
  EXPECT_EQ(Decode("x=4Zy"), std::string("x\x04Zy"));
  EXPECT_EQ(Decode("end="), "end");
  EXPECT_EQ(Decode("=="), "");
  EXPECT_EQ(Decode("a= b"), "a b") << "a blank after = is no line break";
}

TEST(QuotedPrintable, EncodedSpaceBeforeALineBreakKeepsTheBreak) {
  EXPECT_EQ(Decode("x=20\r\ny"), "x \r\ny");
  EXPECT_EQ(Decode("x=20\ny"), "x \r\ny") << "normalised to CR LF";
  EXPECT_EQ(Decode("x=20\n\ny"), "x \r\ny");
  EXPECT_EQ(Decode("x=20y"), "x y");
  EXPECT_EQ(Decode("x=20"), "x ");
}

TEST(QuotedPrintable, TrailingBlanksKeepOnlyTheirLineBreaks) {
  EXPECT_EQ(Decode("text \t\r\n \r\n  "), "text\r\n\r\n");
  EXPECT_EQ(Decode("inner   blanks stay"), "inner   blanks stay");
  EXPECT_EQ(Decode("soft= \r\n"), "soft") << "the blank goes first, then the break is soft";
  EXPECT_EQ(Decode("soft= \r\nx"), "soft \r\nx");
  EXPECT_EQ(Decode("   "), "");
}

TEST(QuotedPrintable, ResetForgetsHeldBlanksAndHalfEscapes) {
  QuotedPrintableDecoder decoder;
  std::string out;
  decoder.Filter("abc  ", out);
  decoder.Reset();
  decoder.Complete("x", out);
  EXPECT_EQ(out, "abcx") << "held blanks forgotten";
  out.clear();
  decoder.Filter("abc  =4", out);
  decoder.Reset();
  decoder.Complete("x", out);
  EXPECT_EQ(out, "abc  x") << "half escape forgotten";
  out.clear();
  decoder.Complete("=41", out);
  EXPECT_EQ(out, "A") << "Complete leaves the decoder ready for new input";
}

TEST(QuotedPrintable, RandomInputDecodesTheSameInEveryChunking) {
  std::mt19937 rng(7);
  const char pool[] = "=AF0 9\r\n\tzq_";
  for (int round = 0; round < 2000; ++round) {
    std::string input;
    const int length = static_cast<int>(rng() % 20);
    for (int i = 0; i < length; ++i)
      input.push_back(pool[rng() % (sizeof pool - 1)]);
    const std::string whole = DecodeQuotedPrintable(input);
    ASSERT_EQ(SameInAllChunkings<QuotedPrintableDecoder>(input, whole), "") << input;
    ASSERT_LE(whole.size(), input.size() + 2) << input;
  }
}

} // namespace
} // namespace orlendo
