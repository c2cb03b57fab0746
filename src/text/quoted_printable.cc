#include "text/quoted_printable.h"

#include <array>

namespace orlendo {

namespace {

enum : uint8_t { kPlain = 0, kBlank = 1, kEquals = 2 };

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> t{};
  t[' '] = t['\t'] = t['\r'] = t['\n'] = kBlank;
  t['='] = kEquals;
  return t;
}
constexpr std::array<uint8_t, 256> kClass = MakeClasses();

constexpr std::array<int8_t, 256> MakeHex() {
  std::array<int8_t, 256> t{};
  for (auto& v : t)
    v = -1;
  for (int c = '0'; c <= '9'; ++c)
    t[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    t[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c)
    t[c] = static_cast<int8_t>(c - 'a' + 10);
  return t;
}
constexpr std::array<int8_t, 256> kHex = MakeHex();

bool IsBreak(unsigned char c) {
  return c == '\r' || c == '\n';
}

} // namespace

void QuotedPrintableDecoder::Step(unsigned char c, std::string& out) {
  for (;;) {
    switch (state_) {
    case State::Text:
      if (c == '=')
        state_ = State::Equals;
      else
        out.push_back(static_cast<char>(c));
      return;
    case State::Equals:
      if (kHex[c] >= 0) {
        firstDigit_ = static_cast<unsigned char>(kHex[c]);
        state_ = State::OneDigit;
        return;
      }
      state_ = State::SkipBreak; // soft line break: look at c again
      continue;
    case State::OneDigit:
      if (kHex[c] >= 0) {
        const unsigned char byte = static_cast<unsigned char>(firstDigit_ * 16 + kHex[c]);
        if (byte == ' ') {
          state_ = State::Space;
        } else {
          out.push_back(static_cast<char>(byte));
          state_ = State::Text;
        }
        return;
      }
      out.push_back(static_cast<char>(firstDigit_));
      state_ = State::Text;
      continue;
    case State::SkipBreak:
      if (IsBreak(c)) {
        state_ = State::SkipBreakOnce;
        return;
      }
      state_ = State::Text;
      continue;
    case State::SkipBreakOnce:
      state_ = State::Text;
      if (IsBreak(c))
        return;
      continue;
    case State::Space:
      if (IsBreak(c)) {
        out += " \r\n";
        state_ = State::SkipBreakOnce; // c was the first of the two line-break characters
        return;
      }
      out.push_back(' ');
      state_ = State::Text;
      continue;
    }
  }
}

void QuotedPrintableDecoder::Filter(std::string_view input, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(input.data());
  const std::size_t n = input.size();
  out.reserve(out.size() + n);
  std::size_t i = 0;
  while (i < n) {
    if (state_ == State::Text && blanks_.empty()) {
      // The common case: copy a run of plain characters at once.
      std::size_t j = i;
      while (j < n && kClass[p[j]] == kPlain)
        ++j;
      out.append(input.data() + i, j - i);
      i = j;
      if (i == n)
        break;
    }
    const unsigned char c = p[i++];
    if (kClass[c] == kBlank) {
      blanks_.push_back(static_cast<char>(c));
      continue;
    }
    if (!blanks_.empty()) {
      for (char b : blanks_)
        Step(static_cast<unsigned char>(b), out);
      blanks_.clear();
    }
    Step(c, out);
  }
}

void QuotedPrintableDecoder::Complete(std::string_view input, std::string& out) {
  Filter(input, out);
  // Blanks at the very end of the text: only the line breaks among them count.
  for (char b : blanks_)
    if (IsBreak(static_cast<unsigned char>(b)))
      Step(static_cast<unsigned char>(b), out);
  blanks_.clear();
  switch (state_) {
  case State::OneDigit:
    out.push_back(static_cast<char>(firstDigit_));
    break;
  case State::Space:
    out.push_back(' ');
    break;
  default:
    break;
  }
  state_ = State::Text;
}

void QuotedPrintableDecoder::Reset() {
  state_ = State::Text;
  firstDigit_ = 0;
  blanks_.clear();
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  QuotedPrintableDecoder decoder;
  decoder.Complete(text, out);
  return out;
}

} // namespace orlendo
