#include "text/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "chunked.h"

namespace orlendo {
namespace {

using testing::RunInChunks;
using testing::SameInAllChunkings;

std::string Decode(std::string_view input) {
  const std::string whole = DecodeBase64(input);
  EXPECT_EQ(SameInAllChunkings<Base64Decoder>(input, whole), "") << input;
  return whole;
}

// The line lengths of an encoding, and whether it ends in CR LF.
std::vector<std::size_t> LineLengths(const std::string& text, bool& endsWithBreak) {
  std::vector<std::size_t> lengths;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lengths.push_back(at - start);
  endsWithBreak = start == text.size();
  if (!endsWithBreak)
    lengths.push_back(text.size() - start);
  return lengths;
}

std::string Bytes(std::size_t n) {
  std::string data;
  for (std::size_t i = 0; i < n; ++i)
    data.push_back(static_cast<char>(i * 7 + 3));
  return data;
}

TEST(Base64Encode, EncodesGroupsWithFill) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("abc"), "YWJj");
  // A line break follows a group after which the next byte's position is 1 to 3 modulo 70:
  // after a lone final group of one or two bytes too.
  EXPECT_EQ(EncodeBase64("ab"), "YWI=\r\n");
  EXPECT_EQ(EncodeBase64("a"), "YQ==\r\n");
  EXPECT_EQ(EncodeBase64("\xFB\xFF\xBF"), "+/+/");
  EXPECT_EQ(EncodeBase64(std::string("\0\0\0\0", 4)), "AAAAAA==");
}

TEST(Base64Encode, LinesOf96And92Characters) {
  bool endsWithBreak = false;
  EXPECT_EQ(LineLengths(EncodeBase64(Bytes(70)), endsWithBreak), std::vector<std::size_t>{96});
  EXPECT_TRUE(endsWithBreak);
  EXPECT_EQ(LineLengths(EncodeBase64(Bytes(68)), endsWithBreak), std::vector<std::size_t>{92});
  EXPECT_FALSE(endsWithBreak);
  EXPECT_EQ(LineLengths(EncodeBase64(Bytes(72)), endsWithBreak), std::vector<std::size_t>{96});
  EXPECT_TRUE(endsWithBreak);
  EXPECT_EQ(LineLengths(EncodeBase64(Bytes(75)), endsWithBreak), (std::vector<std::size_t>{96, 4}));
  const auto lines = LineLengths(EncodeBase64(Bytes(3000)), endsWithBreak);
  ASSERT_GE(lines.size(), 10u);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_EQ(lines[i], i % 3 == 0 ? 96u : 92u) << "line " << i;
}

TEST(Base64Encode, IncrementalEncoderMatchesInEveryChunking) {
  for (std::size_t n : {0, 1, 2, 3, 68, 69, 70, 71, 72, 211, 1000}) {
    const std::string data = Bytes(n);
    const std::string whole = EncodeBase64(data);
    EXPECT_EQ(SameInAllChunkings<Base64Encoder>(data, whole), "") << n;
    EXPECT_EQ(DecodeBase64(whole), data) << n;
  }
}

TEST(Base64Decode, DecodesGroupsAndFill) {
  EXPECT_EQ(Decode("YWJj"), "abc");
  EXPECT_EQ(Decode("YWI="), "ab");
  EXPECT_EQ(Decode("YQ=="), "a");
  EXPECT_EQ(Decode("YW"), "") << "fewer than four characters";
  EXPECT_EQ(Decode("YWJjZA"), "abc") << "a partial group at the end is ignored";
  EXPECT_EQ(Decode("YQ==YWI="), "aab") << "decoding goes on after a fill";
  EXPECT_EQ(Decode("====YWJj"), "abc") << "a group starting with = gives nothing";
  EXPECT_EQ(Decode(""), "");
}

TEST(Base64Decode, SkipsLineBreaksAndCharactersOutsideTheAlphabet) {
  EXPECT_EQ(Decode("YW\r\nJj"), "abc");
  EXPECT_EQ(Decode("YWJj \r\nZGVm\t\r\n"), "abcdef") << "trailing blanks on lines";
  EXPECT_EQ(Decode("Y W J j"), "abc");
  EXPECT_EQ(Decode("YW*Jj!"), "abc");
}

TEST(Base64Decode, RoundTripsRandomDataInEveryChunking) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    std::string data;
    const int length = static_cast<int>(rng() % 300);
    for (int i = 0; i < length; ++i)
      data.push_back(static_cast<char>(rng()));
    const std::string encoded = EncodeBase64(data);
    ASSERT_EQ(Decode(encoded), data);
    ASSERT_EQ(RunInChunks<Base64Decoder>(encoded, 4), data);
  }
}

TEST(Base64Decode, ResetDropsAPartialGroup) {
  Base64Decoder decoder;
  std::string out;
  decoder.Filter("YW", out);
  decoder.Reset();
  decoder.Complete("YWJj", out);
  EXPECT_EQ(out, "abc");
}

} // namespace
} // namespace orlendo
