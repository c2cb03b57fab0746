// The stateless pieces of the reader: line splitting, header unfolding, unquoting, parameters,
// Content-Disposition file names and encoded words.
#include <gtest/gtest.h>

#include "mime/mime_headers.h"
#include "mime/mime_lines.h"
#include "mime/rfc2047.h"
#include "mime_test_util.h"

namespace orlendo {
namespace {

using mimetest::U8;

std::vector<std::string> Split(const std::string& text) {
  TMimeLines lines;
  lines.Assign(text);
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.Count(); ++i)
    out.emplace_back(lines[i]);
  return out;
}

TEST(MimeLines, LineEnds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split(""), V{});
  EXPECT_EQ(Split("a"), V{"a"});
  EXPECT_EQ(Split("a\r\n"), V{"a"});
  EXPECT_EQ(Split("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  // LF CR is two line ends with an empty line between; CR CR LF is two as well.
  EXPECT_EQ(Split("a\n\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(Split("a\r\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(Split("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(Split(std::string("a\0b\nc", 5)), (V{std::string("a\0b", 3), "c"}));
}

// Lines asked for in any order are the lines of a walk from the first, in inputs of short lines
// (where only some line starts are kept) and of longer ones.
TEST(MimeLines, AnyOrderGivesTheSameLines) {
  for (const size_t width : {3u, 12u}) {
    std::string text;
    const char* ends[] = {"\r\n", "\n", "\r", "\n\r", "\r\r\n"};
    for (size_t i = 0; i < 40; ++i)
      text += std::string(i % width, static_cast<char>('a' + i % 26)) + ends[i % 5];
    text += "tail";
    const std::vector<std::string> walked = Split(text);
    TMimeLines lines;
    lines.Assign(text);
    ASSERT_EQ(lines.Count(), walked.size());
    std::vector<size_t> order;
    for (size_t i = walked.size(); i-- > 0;)
      order.push_back(i);
    for (size_t i = 0; i < walked.size(); i += 3)
      order.insert(order.end(), {i, i, walked.size() - 1 - i});
    for (size_t i : order)
      EXPECT_EQ(lines[i], walked[i]) << "width " << width << ", line " << i;
  }
}

TEST(MimeLines, HeaderLinesUnfold) {
  TMimeLines lines;
  lines.Assign("A: 1\r\n 2\r\n\t\t3 \t4\t\r\nB: x\r\n\r\nC: last\r\n folded");
  size_t cursor = 0;
  EXPECT_EQ(ReadHeaderLine(lines, cursor), "A: 1 2 3  4");
  EXPECT_EQ(cursor, 3u);
  EXPECT_EQ(ReadHeaderLine(lines, cursor), "B: x");
  EXPECT_EQ(ReadHeaderLine(lines, cursor), "");
  EXPECT_EQ(cursor, 5u);
  // The input's last line is never joined to the one before it.
  EXPECT_EQ(ReadHeaderLine(lines, cursor), "C: last");
  EXPECT_EQ(ReadHeaderLine(lines, cursor), " folded");
  EXPECT_EQ(ReadHeaderLine(lines, cursor), "");
  EXPECT_EQ(cursor, 7u);
}

// The reader takes unfolded lines as views of the input: the same lines, cursors and ends as the
// copying form on every shape of folding.
TEST(MimeLines, HeaderLineViewsMatchTheCopies) {
  for (const char* input : {"A: 1\r\n 2\r\n\t\t3 \t4\t\r\nB: x\r\n\r\nC: last\r\n folded",
                            "One: line", "X: a\n\tb\nY: c\n d\n", "\r\n", "K: v\r\n\r\n"}) {
    TMimeLines lines;
    lines.Assign(input);
    size_t copied = 0, viewed = 0;
    std::string storage;
    for (int i = 0; i < 8; ++i) {
      const std::string copy = ReadHeaderLine(lines, copied);
      EXPECT_EQ(ReadHeaderLine(lines, viewed, storage), copy) << input << ", line " << i;
      EXPECT_EQ(viewed, copied) << input << ", line " << i;
    }
  }
}

TEST(MimeHeaders, UnquoteAndHeaderValues) {
  EXPECT_EQ(Unquote("  \"quoted\"  "), "quoted");
  EXPECT_EQ(Unquote("\"a\"\"\r\n"), "a");
  EXPECT_EQ(Unquote("in\"side"), "in\"side");
  EXPECT_TRUE(MatchesHeaderName("content-type: x", "CONTENT-TYPE:"));
  EXPECT_FALSE(MatchesHeaderName("Content-Typ", "CONTENT-TYPE:"));
  EXPECT_FALSE(MatchesHeaderName("X-To: a", "TO:"));
  EXPECT_EQ(HeaderValue("To: a@b", "TO:"), "a@b");
  EXPECT_EQ(HeaderValue("To:", "TO:"), "");
  EXPECT_EQ(HeaderValue("To:x", "TO:"), "x");
  EXPECT_EQ(HeaderValue("To: \t x", "TO:"), "x");
}

TEST(MimeHeaders, Parameters) {
  auto param = [](std::string_view value, std::string_view key) {
    std::string result;
    return FindParameter(value, AsciiLower(value), key, result) ? result : "<none>";
  };
  EXPECT_EQ(param("text/plain; charset=\"UTF-8\"; format=flowed", "charset="), "UTF-8");
  EXPECT_EQ(param("text/plain; CHARSET=koi8-r ; delsp=yes", "charset="), "koi8-r");
  EXPECT_EQ(param("image/png; name=\"a \\\"b\\\".png\"", "name="), "a \"b\".png");
  // "name=" also finds "filename=", as a plain search does.
  EXPECT_EQ(param("application/x; filename=f.bin", "name="), "f.bin");
  EXPECT_EQ(param("multipart/mixed; boundary=\"=_x;y\"; type=z", "boundary="), "=_x;y");
  EXPECT_EQ(param("multipart/mixed; boundary=\"never closed", "boundary="), "never closed");
  EXPECT_EQ(param("text/plain", "charset="), "<none>");
}

TEST(MimeHeaders, DispositionFileNames) {
  auto name = [](std::string_view value) {
    std::u16string result;
    return DispositionFileName(value, nullptr, nullptr, result) ? U8(result) : "<none>";
  };
  EXPECT_EQ(name("attachment"), "<none>");
  EXPECT_EQ(name("attachment; size=12"), "<none>");
  EXPECT_EQ(name("attachment; FILENAME=\"A;B.txt\"; size=3"), "A;B.txt");
  // The extended form wins over the plain one, whatever the order.
  EXPECT_EQ(name("attachment; filename=plain.txt; filename*=utf-8'en'%C3%A9t%C3%A9.txt"),
            "été.txt");
  EXPECT_EQ(name("attachment; filename*=''100%25.txt"), "100%.txt");
  // Sections are joined in number order and end at the first missing number.
  EXPECT_EQ(name("attachment; filename*1=b; filename*0=a; filename*3=d"), "ab");
  EXPECT_EQ(name("attachment; filename*99999=x; filename=fallback"), "fallback");
  EXPECT_EQ(name("attachment; filename*0*=windows-1251''%CF%F0%E8; filename*1=.txt"), "При.txt");
}

TEST(MimeHeaders, EncodedWordsUseTheHook) {
  std::vector<std::string> charsets;
  TQvMSGConvertCodepage hook = [&](void*, const std::string& charset, std::string& value) {
    charsets.push_back(charset);
    value = "[" + value + "]";
  };
  EXPECT_EQ(U8(DecodeEncodedWords("x =?a?Q?1?= =?b?B?Mg==?= =?c?Q?"
                                  "?=",
                                  hook, nullptr)),
            "x [1][2]");
  // The empty word is not offered to the hook.
  EXPECT_EQ(charsets, (std::vector<std::string>{"a", "b"}));
  // Without a hook the charset table converts.
  EXPECT_EQ(U8(DecodeEncodedWords("=?windows-1251?Q?=CF=F0=E8?=", nullptr, nullptr)), "При");
  // Raw bytes outside the words are UTF-8 where they are valid UTF-8, else in the charset of
  // the message, or Windows-1252 without one.
  EXPECT_EQ(U8(DecodeEncodedWords("caf\xC3\xA9 =?utf-8?Q?x?=", nullptr, nullptr, "koi8-r")),
            "café x");
  EXPECT_EQ(U8(DecodeEncodedWords("Caf\xE9", nullptr, nullptr, "iso-8859-1")), "Café");
  EXPECT_EQ(U8(DecodeEncodedWords("Caf\xE9", nullptr, nullptr)), "Café");
  EXPECT_EQ(U8(DecodeEncodedWords("Caf\xE9", nullptr, nullptr, "utf-8")), "Café");
  EXPECT_EQ(U8(DecodeEncodedWords("\xF0\xD2\xC9", nullptr, nullptr, "koi8-r")), "При");
}

} // namespace
} // namespace orlendo
