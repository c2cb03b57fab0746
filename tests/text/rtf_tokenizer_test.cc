#include "text/rtf_tokenizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace orlendo {
namespace {

// One line per token, adjacent text pieces merged, so that token streams can be compared
// regardless of how text runs were cut.
std::vector<std::string> Describe(RtfTokenizer& tokenizer) {
  std::vector<std::string> out;
  for (;;) {
    const RtfToken t = tokenizer.Next();
    switch (t.kind) {
    case RtfTokenKind::kGroupStart:
      out.push_back("{");
      break;
    case RtfTokenKind::kGroupEnd:
      out.push_back("}");
      break;
    case RtfTokenKind::kControlWord:
      out.push_back("W:" + std::string(t.text) + (t.hasParam ? std::to_string(t.param) : ""));
      break;
    case RtfTokenKind::kControlSymbol:
      out.push_back(std::string("S:") + t.symbol);
      break;
    case RtfTokenKind::kHexByte: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "H:%02x", t.byte);
      out.push_back(buf);
      break;
    }
    case RtfTokenKind::kUnicode:
      out.push_back("U:" + std::to_string(static_cast<int>(t.unit)));
      break;
    case RtfTokenKind::kText:
      if (!out.empty() && out.back().rfind("T:", 0) == 0)
        out.back() += std::string(t.text);
      else
        out.push_back("T:" + std::string(t.text));
      break;
    case RtfTokenKind::kBinary:
      out.push_back("B:" + std::string(t.text));
      break;
    case RtfTokenKind::kNeedMoreInput:
      out.push_back("MORE");
      return out;
    case RtfTokenKind::kEnd:
      return out;
    }
  }
}

std::vector<std::string> Tokens(std::string_view rtf) {
  RtfTokenizer tokenizer(rtf);
  return Describe(tokenizer);
}

// Feeds one byte at a time; the stream must be the same as from the complete input.
std::vector<std::string> TokensByteByByte(std::string_view rtf) {
  RtfTokenizer tokenizer;
  std::vector<std::string> all;
  auto drain = [&] {
    for (std::string& d : Describe(tokenizer)) {
      if (d == "MORE")
        continue;
      if (d.rfind("T:", 0) == 0 && !all.empty() && all.back().rfind("T:", 0) == 0)
        all.back() += d.substr(2);
      else
        all.push_back(std::move(d));
    }
  };
  for (char c : rtf) {
    tokenizer.Feed(std::string_view(&c, 1));
    drain();
  }
  tokenizer.Finish();
  drain();
  return all;
}

using V = std::vector<std::string>;

bool HasProblem(const RtfTokenizer& tokenizer, RtfProblemCode code) {
  for (const RtfProblem& p : tokenizer.Problems())
    if (p.code == code)
      return true;
  return false;
}

TEST(RtfTokenizer, KindsOfToken) {
  EXPECT_EQ(Tokens("{\\rtf1\\ansi{\\*\\x y}\\'e9\\u1087?\\~\\\\ text\\bin3 a}b}"),
            (V{"{", "W:rtf1", "W:ansi", "{", "S:*", "W:x", "T:y", "}", "H:e9", "U:1087", "S:~",
               "S:\\", "T: text", "B:a}b", "}"}));
  // Line breaks of the file are not text; a backslash before one is \par.
  EXPECT_EQ(Tokens("a\r\nb\\\nc\\\r\nd"), (V{"T:ab", "W:par", "T:c", "W:par", "T:d"}));
}

TEST(RtfTokenizer, ParametersAndTheDelimitingSpace) {
  EXPECT_EQ(Tokens("\\fs24 x"), (V{"W:fs24", "T:x"}));
  EXPECT_EQ(Tokens("\\fs24  x"), (V{"W:fs24", "T: x"}));
  EXPECT_EQ(Tokens("\\li-360x"), (V{"W:li-360", "T:x"}));
  // A "-" without digits is text, and so is everything after a word that is not a letter.
  EXPECT_EQ(Tokens("\\par-x\\b0\\i;"), (V{"W:par", "T:-x", "W:b0", "W:i", "T:;"}));
  // Absurd numbers saturate instead of wrapping round.
  RtfTokenizer tokenizer("\\li99999999999999999999999 ");
  const RtfToken t = tokenizer.Next();
  EXPECT_GT(t.param, int64_t{1} << 40);
  EXPECT_EQ(t.ParamOr(0), std::numeric_limits<int>::max());
}

TEST(RtfTokenizer, UnicodeFallbackIsSkippedPerGroupCount) {
  EXPECT_EQ(Tokens("\\u1087?abc"), (V{"U:1087", "T:abc"}));
  // \uc2: two fallback characters, an escaped byte counting as one.
  EXPECT_EQ(Tokens("{\\uc2\\u1087\\'e9\\'e8x}"), (V{"{", "W:uc2", "U:1087", "T:x", "}"}));
  EXPECT_EQ(Tokens("\\uc2\\u1087 abcd"), (V{"W:uc2", "U:1087", "T:cd"}));
  EXPECT_EQ(Tokens("\\uc0\\u1087 x"), (V{"W:uc0", "U:1087", "T:x"}));
  // The count is scoped by groups, and fallback text never runs across a brace.
  EXPECT_EQ(Tokens("{\\uc3 }\\u1087?ab"), (V{"{", "W:uc3", "}", "U:1087", "T:ab"}));
  EXPECT_EQ(Tokens("{\\uc3\\u1087?}x"), (V{"{", "W:uc3", "U:1087", "}", "T:x"}));
  // Code units above 32767 are written as negative numbers.
  EXPECT_EQ(Tokens("\\u-3913?"), (V{"U:61623"}));
}

TEST(RtfTokenizer, BinaryData) {
  EXPECT_EQ(Tokens("\\bin4 {}\\xy"), (V{"B:{}\\x", "T:y"}));
  EXPECT_EQ(Tokens("\\bin0 x"), (V{"W:bin0", "T:x"}));

  // A length far beyond the input: the data is what there is, and the tokenizer says so.
  RtfTokenizer huge("{\\bin4294967296 abc}");
  EXPECT_EQ(Describe(huge), (V{"{", "B:abc}"}));
  EXPECT_TRUE(HasProblem(huge, RtfProblemCode::kBinaryTruncated));
  EXPECT_TRUE(HasProblem(huge, RtfProblemCode::kUnclosedGroups));
}

TEST(RtfTokenizer, DamagedEscapesAreDroppedNotFatal) {
  RtfTokenizer bad("a\\'zz b\\'4z c\\'4");
  EXPECT_EQ(Describe(bad), (V{"T:azz bz c"}));
  EXPECT_TRUE(HasProblem(bad, RtfProblemCode::kBadHexEscape));

  RtfTokenizer trailing("x\\");
  EXPECT_EQ(Describe(trailing), (V{"T:x"}));
  EXPECT_TRUE(HasProblem(trailing, RtfProblemCode::kTruncatedControl));

  RtfTokenizer extraClose("}x}");
  EXPECT_EQ(Describe(extraClose), (V{"T:x"}));
  EXPECT_TRUE(HasProblem(extraClose, RtfProblemCode::kUnbalancedGroupEnd));
}

TEST(RtfTokenizer, DeepNestingIsFlattenedBeyondTheCap) {
  const int n = 100000;
  const std::string rtf = std::string(n, '{') + "\\b x" + std::string(n, '}') + "y";
  RtfTokenizer tokenizer(rtf);
  int starts = 0;
  int ends = 0;
  int maxDepth = 0;
  std::string text;
  for (RtfToken t = tokenizer.Next(); t.kind != RtfTokenKind::kEnd; t = tokenizer.Next()) {
    starts += t.kind == RtfTokenKind::kGroupStart;
    ends += t.kind == RtfTokenKind::kGroupEnd;
    if (t.kind == RtfTokenKind::kText)
      text += t.text;
    maxDepth = std::max(maxDepth, tokenizer.Depth());
  }
  EXPECT_EQ(starts, RtfTokenizer::kMaxGroupDepth);
  EXPECT_EQ(ends, RtfTokenizer::kMaxGroupDepth);
  EXPECT_EQ(maxDepth, RtfTokenizer::kMaxGroupDepth);
  EXPECT_EQ(text, "xy");
  EXPECT_TRUE(HasProblem(tokenizer, RtfProblemCode::kGroupTooDeep));
  EXPECT_LE(tokenizer.Problems().size(), RtfTokenizer::kMaxProblems);
}

TEST(RtfTokenizer, ChunkingDoesNotChangeTheTokens) {
  const std::string samples[] = {
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\\uc1\\pard\\f0\\fs24 "
      "Caf\\'e9 \\u1087?\\u1088?x {\\*\\htmltag84 &nbsp;}\\htmlrtf \\'a0\\htmlrtf0  end\\par}",
      "{\\uc2\\u1087 ab\\bin3 xyz\\li-20 \\par-\\'4",
      "\\uc3\\u1087\\'e9\\par x{y}z\\",
  };
  for (const std::string& rtf : samples)
    EXPECT_EQ(TokensByteByByte(rtf), Tokens(rtf)) << rtf;
}

TEST(RtfTokenizer, IncrementalTokenizerWaitsForWholeTokens) {
  RtfTokenizer tokenizer;
  tokenizer.Feed("ab\\pa");
  EXPECT_EQ(Describe(tokenizer), (V{"T:ab", "MORE"}));
  tokenizer.Feed("r");
  // "\par" might still go on ("\pard"): not yet a token.
  EXPECT_EQ(Describe(tokenizer), (V{"MORE"}));
  tokenizer.Feed("d x");
  EXPECT_EQ(Describe(tokenizer), (V{"W:pard", "T:x", "MORE"}));
  tokenizer.Finish();
  EXPECT_EQ(Describe(tokenizer), V{});
}

TEST(RtfTextDecoder, CollectsMultiByteCharactersAndSurrogatePairs) {
  std::string out;
  RtfTextDecoder decoder(&out);
  // Shift-JIS "あ" (82 A0) given byte by byte, then "ー" (81 5B) whose second byte is "[".
  decoder.AppendByte(0x82, 932);
  decoder.AppendByte(0xA0, 932);
  decoder.AppendByte(0x81, 932);
  decoder.AppendBytes("[", 932);
  // U+1F600 as a surrogate pair of \uN words, then a lone high surrogate.
  decoder.AppendUnit(0xD83D);
  decoder.AppendUnit(0xDE00);
  decoder.AppendBytes("\xE9", 1252);
  decoder.AppendUnit(0xD800);
  decoder.Flush();
  EXPECT_EQ(out, "\xE3\x81\x82\xE3\x83\xBC\xF0\x9F\x98\x80\xC3\xA9\xEF\xBF\xBD");
}

TEST(RtfTextDecoder, HtmlEscapingKeepsSpaces) {
  std::string out;
  RtfTextDecoder decoder(&out, true);
  decoder.MarkLineStart();
  decoder.AppendBytes(" a<b & \"c\"   d", 1252);
  decoder.Flush();
  EXPECT_EQ(out, "&nbsp;a&lt;b &amp; &quot;c&quot; &nbsp;&nbsp;d");
}

TEST(RtfCodePages, FontCharsetsMapToWindowsCodePages) {
  EXPECT_EQ(RtfCharsetToCodePage(0), 1252u);
  EXPECT_EQ(RtfCharsetToCodePage(128), 932u);
  EXPECT_EQ(RtfCharsetToCodePage(129), 949u);
  EXPECT_EQ(RtfCharsetToCodePage(134), 936u);
  EXPECT_EQ(RtfCharsetToCodePage(136), 950u);
  EXPECT_EQ(RtfCharsetToCodePage(204), 1251u);
  EXPECT_EQ(RtfCharsetToCodePage(238), 1250u);
  EXPECT_EQ(RtfCharsetToCodePage(1), 0u);
  EXPECT_EQ(RtfUsableCodePage(932), 932u);
  EXPECT_EQ(RtfUsableCodePage(0), 1252u);
  EXPECT_EQ(RtfUsableCodePage(4294967), 1252u);
}

} // namespace
} // namespace orlendo
