// The lexical level of RTF: tokens, and the decoding of RTF text runs into UTF-8.
//
// Everything above this (recovery of encapsulated HTML or text, rendering as HTML) is a consumer
// of the token stream. The tokenizer keeps only the state that lexing itself needs: the group
// depth, the \ucN fallback count of each group and the fallback characters still to be skipped
// after a \uN. Mail is hostile input, so nothing here recurses, the group depth is capped and
// every length read from the input is checked against what the input actually holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orlendo {

enum class RtfTokenKind : uint8_t {
  kGroupStart,    // "{"
  kGroupEnd,      // "}"
  kControlWord,   // \name, with an optional numeric parameter; `text` holds the name
  kControlSymbol, // \ followed by one non-letter (\~ \- \_ \* \{ \} \\ ...); `symbol` holds it
  kHexByte,       // \'hh; `byte` holds the value
  kUnicode,       // \uN; `unit` holds the UTF-16 code unit (negative N already folded)
  kText,          // a run of literal bytes (line breaks of the RTF file are not text)
  kBinary,        // the data of \binN; `text` holds the bytes, `param` the declared length
  kNeedMoreInput, // incremental use only: feed more input (or finish) and ask again
  kEnd,           // the input is exhausted
};

struct RtfToken {
  RtfTokenKind kind = RtfTokenKind::kEnd;
  // Control word name, text run or binary data. Points into the tokenizer's input: valid until
  // the next Feed or Reset.
  std::string_view text;
  bool hasParam = false;
  // The numeric parameter of a control word. Saturates instead of overflowing, so that a hostile
  // "\bin99999999999999999999" still reads as a huge (and then refused) length.
  int64_t param = 0;
  char symbol = 0;
  uint8_t byte = 0;
  char16_t unit = 0;
  uint64_t offset = 0; // of the token's first byte in the whole input

  bool Is(std::string_view word) const {
    return kind == RtfTokenKind::kControlWord && text == word;
  }
  // The parameter clamped to int, or `fallback` when the word has none.
  int ParamOr(int fallback) const;
};

enum class RtfProblemCode : uint8_t {
  kGroupTooDeep,       // groups nested beyond the cap: the deeper braces are flattened
  kUnbalancedGroupEnd, // a "}" without an open group: ignored
  kUnclosedGroups,     // the input ended inside groups
  kBadHexEscape,       // \' not followed by two hexadecimal digits: dropped
  kBinaryTruncated,    // \binN claims more bytes than the input holds: cut to what is there
  kTruncatedControl,   // the input ended right after a backslash
};

// A problem found while tokenizing. Tokenizing never fails: problems are recorded and the
// tokenizer carries on with the most useful reading of the input.
struct RtfProblem {
  uint64_t offset = 0;
  RtfProblemCode code = RtfProblemCode::kBadHexEscape;
  std::string item;
};

// Pull tokenizer. Either construct it over a complete input (no copy is made; the input must
// outlive the tokenizer), or construct it empty and Feed it chunks of any size, then Finish:
// Next returns kNeedMoreInput whenever a token might continue past the data fed so far, so the
// token stream does not depend on how the input was cut (text runs may come in more pieces).
class RtfTokenizer {
public:
  // Groups nested deeper than this are flattened: their braces are not reported (the content
  // is), so a consumer's group stack never holds more than kMaxGroupDepth + 1 entries.
  static constexpr int kMaxGroupDepth = 256;
  static constexpr std::size_t kMaxProblems = 64;

  RtfTokenizer();
  explicit RtfTokenizer(std::string_view completeInput);
  // Tokens point into the tokenizer's own buffer: it stays where it is.
  RtfTokenizer(const RtfTokenizer&) = delete;
  RtfTokenizer& operator=(const RtfTokenizer&) = delete;

  // Appends input. Invalidates the views of tokens returned so far. Not allowed after Finish.
  void Feed(std::string_view chunk);
  // Declares that no more input follows.
  void Finish();
  // Back to the state of a new incremental tokenizer.
  void Reset();
  // Back to the state of a new tokenizer over a complete input.
  void Reset(std::string_view completeInput);

  RtfToken Next();

  // Number of groups open (reported ones only; flattened groups do not count).
  int Depth() const { return depth_; }
  const std::vector<RtfProblem>& Problems() const { return problems_; }

private:
  enum class RawResult { kToken, kSkip, kNeedMore };
  RawResult ReadRaw(RtfToken& token);
  RawResult ReadControl(RtfToken& token);
  void AddProblem(uint64_t offset, RtfProblemCode code, std::string_view item);

  std::string buffer_;    // incremental mode: unconsumed input
  std::string_view data_; // what is being tokenized (buffer_ or the complete input)
  std::size_t pos_ = 0;
  uint64_t base_ = 0; // offset of data_[0] in the whole input
  bool final_ = false;
  bool incremental_ = true;
  bool endReported_ = false;
  int depth_ = 0;
  uint64_t flattened_ = 0; // open braces beyond the cap, still to be matched
  int skip_ = 0;           // \uN fallback characters still to be skipped
  std::array<int, kMaxGroupDepth + 1> uc_{};
  std::vector<RtfProblem> problems_;
};

// Code page of an RTF \fcharsetN value (0 ANSI -> 1252, 128 Shift-JIS -> 932, 134 GB2312 -> 936,
// 136 Big5 -> 950, 129 Hangul -> 949, 204 Cyrillic -> 1251, ...), or 0 when the value means
// "whatever the document's code page is" (1 DEFAULT, and values RTF does not define).
unsigned RtfCharsetToCodePage(int fcharset);

// A code page that can be decoded: `codePage` itself when a converter exists for it, else 1252.
unsigned RtfUsableCodePage(unsigned codePage);

// Turns the pieces of RTF text (runs of bytes in some code page, \uN code units, literal
// characters) into UTF-8, appended to a target string. Bytes are collected until the code page
// changes or something else is appended, so that a double-byte character split over two \'hh
// escapes (or an escape and a literal byte) decodes as one character. UTF-16 surrogate pairs
// written as two \uN combine; a lone surrogate becomes U+FFFD.
class RtfTextDecoder {
public:
  // With `escapeHtml`, the characters & < > " are written as character references, and a space
  // that follows a space (or starts a line, see MarkLineStart) as &nbsp;, so that HTML shows
  // the spaces that RTF keeps.
  explicit RtfTextDecoder(std::string* target, bool escapeHtml = false)
      : target_(target), escapeHtml_(escapeHtml) {}
  ~RtfTextDecoder() = default;
  RtfTextDecoder(const RtfTextDecoder&) = delete;
  RtfTextDecoder& operator=(const RtfTextDecoder&) = delete;

  void AppendBytes(std::string_view bytes, unsigned codePage);
  void AppendByte(uint8_t byte, unsigned codePage);
  void AppendUnit(char16_t unit);
  void AppendCodePoint(char32_t codePoint);
  // Writes everything collected to the target. Call before the target is used otherwise.
  void Flush();
  // Flushes, then writes to another string.
  void SetTarget(std::string* target);
  std::string* Target() const { return target_; }
  bool HasPending() const { return !bytes_.empty() || !units_.empty(); }
  // The next space written starts a line: HTML would drop it, so it becomes &nbsp;.
  void MarkLineStart() { lastWasSpace_ = true; }

private:
  void DecodeBytes();
  void FlushUnits();
  void WriteUtf8(std::string_view utf8);

  std::string* target_;
  bool escapeHtml_;
  std::string bytes_;
  unsigned bytesCodePage_ = 0;
  std::u16string units_;
  bool lastWasSpace_ = false;
};

// True for destinations whose content is never document text (font and colour tables, style
// sheets, document information, pictures, objects, headers and footers, field instructions,
// list tables, numbering texts, ...). Readers skip them unless they handle them themselves.
bool RtfIsNonTextDestination(std::string_view word);

// The character that a control word stands for (\lquote U+2018, \emdash U+2014, \bullet U+2022,
// ...), or 0 when the word is not one of these.
char32_t RtfSpecialCharacter(std::string_view word);

// The font table of a document, as far as readers need it: each font's code page (from \cpgN,
// else \fcharsetN, else the document's code page), generic family and name.
class RtfFontTable {
public:
  enum class Family : uint8_t { kNil, kRoman, kSwiss, kModern, kScript, kDecor, kTech, kBidi };

  void SetDocumentCodePage(unsigned codePage);
  unsigned DocumentCodePage() const { return documentCodePage_; }
  void SetDefaultFont(int font) { defaultFont_ = font; }
  int DefaultFont() const { return defaultFont_; }

  // Building the table, in the order the font table declares things. A font number selects (and
  // creates) the entry that the following words describe.
  void SelectEntry(int font);
  void SetCharset(int fcharset);
  void SetCodePage(int cpg);
  void SetFamily(Family family);
  // Bytes of the font name; a ";" ends the name.
  void AppendNameBytes(std::string_view bytes);

  // A usable code page for text in `font` (a negative number stands for the default font).
  unsigned CodePageOf(int font);
  // The font's name (UTF-8) and family, if the table has the font.
  bool Describe(int font, std::string& name, Family& family);

private:
  struct Entry {
    int charset = -1;
    int cpg = 0;
    Family family = Family::kNil;
    bool nameDone = false;
    std::string nameBytes;
  };
  Entry* Current();

  std::unordered_map<int, Entry> entries_;
  int current_ = 0;
  bool haveCurrent_ = false;
  unsigned documentCodePage_ = 1252;
  int defaultFont_ = 0;
  // One-entry cache: text comes in many short runs of the same font.
  int cachedFont_ = 0;
  unsigned cachedCodePage_ = 0;
};

} // namespace orlendo
