#include "text/quoted_printable_encode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace orlendo {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr bool IsLiteral(unsigned char c) {
  return c >= 33 && c <= 126 && c != '=';
}

// What each byte is to the encoder, looked up once per byte on the fast path.
enum ByteClass : unsigned char { kLiteral, kBlank, kCR, kLF, kEncoded };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = IsLiteral(static_cast<unsigned char>(c)) ? kLiteral : kEncoded;
  t[' '] = t['\t'] = kBlank;
  t['\r'] = kCR;
  t['\n'] = kLF;
  return t;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

// Whether none of the eight bytes of word needs encoding where something other than a line
// break follows it: all are printable ASCII or blanks, none is '='. Exact for the word as a
// whole (a borrow only ever follows a byte that fails); a TAB fails it too, and is left to the
// bytewise path.
constexpr bool AllPlain(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const auto anyZero = [](uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
  const bool control = ((word - 0x20 * kOnes) & ~word & kHigh) != 0;
  return !control && (word & kHigh) == 0 && !anyZero(word ^ (0x7F * kOnes)) &&
         !anyZero(word ^ ('=' * kOnes));
}

} // namespace

void QuotedPrintableEncoder::Put(std::string_view token, std::string& out) {
  // Keep room for the "=" of a soft break at the end of the line.
  if (lineLength_ + token.size() > kMaxLineLength - 1) {
    out += "=\r\n";
    lineLength_ = 0;
  }
  out += token;
  lineLength_ += token.size();
}

void QuotedPrintableEncoder::PutEncoded(unsigned char c, std::string& out) {
  const char token[3] = {'=', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
  Put(std::string_view(token, 3), out);
}

void QuotedPrintableEncoder::HardBreak(std::string& out) {
  out += "\r\n";
  lineLength_ = 0;
}

void QuotedPrintableEncoder::FlushBlankBeforeBreak(std::string& out) {
  if (pendingBlank_ >= 0) {
    PutEncoded(static_cast<unsigned char>(pendingBlank_), out);
    pendingBlank_ = -1;
  }
}

void QuotedPrintableEncoder::PutRun(const char* run, size_t size, std::string& out) {
  while (size > 0) {
    if (lineLength_ >= kMaxLineLength - 1) {
      out += "=\r\n";
      lineLength_ = 0;
    }
    const size_t n = std::min(size, kMaxLineLength - 1 - lineLength_);
    out.append(run, n);
    lineLength_ += n;
    run += n;
    size -= n;
  }
}

void QuotedPrintableEncoder::Filter(std::string_view input, std::string& out) {
  out.reserve(out.size() + input.size() + input.size() / 8);
  const auto* p = reinterpret_cast<const unsigned char*>(input.data());
  const size_t n = input.size();
  for (size_t i = 0; i < n; ++i) {
    if (!pendingCR_ && pendingBlank_ < 0) {
      // A run of bytes that go out as they are, each Put on its own: literals, and blanks that
      // something other than a line break follows within this input.
      size_t j = i;
      // Eight bytes at a time while all of them go out as they are: within the eight, no blank
      // can be followed by a line break, and the byte after the last of them is there to look at.
      while (j + 8 < n) {
        uint64_t word;
        std::memcpy(&word, p + j, sizeof word);
        const unsigned char next = kClasses[p[j + 8]];
        if (!AllPlain(word) || (kClasses[p[j + 7]] == kBlank && (next == kCR || next == kLF)))
          break;
        j += 8;
      }
      while (j < n) {
        const unsigned char k = kClasses[p[j]];
        if (k == kLiteral ||
            (k == kBlank && j + 1 < n && kClasses[p[j + 1]] != kCR && kClasses[p[j + 1]] != kLF))
          ++j;
        else
          break;
      }
      if (j > i) {
        PutRun(input.data() + i, j - i, out);
        i = j;
        if (i == n)
          break;
      }
    }
    const char ch = input[i];
    const auto c = static_cast<unsigned char>(ch);
    if (pendingCR_) {
      pendingCR_ = false;
      HardBreak(out);
      if (c == '\n')
        continue; // CR LF is one break; a lone CR was one of its own
    }
    if (c == '\r') {
      FlushBlankBeforeBreak(out);
      pendingCR_ = true;
      continue;
    }
    if (c == '\n') {
      FlushBlankBeforeBreak(out);
      HardBreak(out);
      continue;
    }
    if (pendingBlank_ >= 0) {
      const char blank = static_cast<char>(pendingBlank_);
      pendingBlank_ = -1;
      Put(std::string_view(&blank, 1), out);
    }
    if (c == ' ' || c == '\t') {
      pendingBlank_ = c;
    } else if (IsLiteral(c)) {
      Put(std::string_view(&ch, 1), out);
    } else {
      PutEncoded(c, out);
    }
  }
}

void QuotedPrintableEncoder::Complete(std::string& out) {
  // The text may be followed by anything (a line break, a boundary): a last blank is encoded.
  FlushBlankBeforeBreak(out);
  if (pendingCR_)
    HardBreak(out);
  Reset();
}

void QuotedPrintableEncoder::Reset() {
  lineLength_ = 0;
  pendingBlank_ = -1;
  pendingCR_ = false;
}

std::string EncodeQuotedPrintable(std::string_view text) {
  QuotedPrintableEncoder encoder;
  std::string out;
  encoder.Filter(text, out);
  encoder.Complete(out);
  return out;
}

} // namespace orlendo
