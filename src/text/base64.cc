#include "text/base64.h"

#include <array>

namespace orlendo {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kFill = 64;
constexpr uint8_t kSkip = 0xFF;

constexpr std::array<uint8_t, 256> MakeValues() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t)
    v = kSkip;
  for (int i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
  t['='] = kFill;
  return t;
}
constexpr std::array<uint8_t, 256> kValues = MakeValues();

// A CR LF follows the group after which the next unread byte has this 1-based position.
bool BreakAfter(uint64_t consumed) {
  const uint64_t next = (consumed + 1) % 70;
  return next >= 1 && next <= 3;
}

} // namespace

void Base64Encoder::EmitGroup(const unsigned char* g, int size, std::string& out) {
  const unsigned v = (static_cast<unsigned>(g[0]) << 16) |
                     (size > 1 ? static_cast<unsigned>(g[1]) << 8 : 0u) |
                     (size > 2 ? static_cast<unsigned>(g[2]) : 0u);
  char quad[4] = {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63],
                  size > 1 ? kAlphabet[(v >> 6) & 63] : '=', size > 2 ? kAlphabet[v & 63] : '='};
  out.append(quad, 4);
  consumed_ += static_cast<uint64_t>(size);
  if (BreakAfter(consumed_))
    out += "\r\n";
}

void Base64Encoder::Filter(std::string_view data, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  std::size_t i = 0;
  while (heldCount_ > 0 && heldCount_ < 3 && i < n)
    held_[heldCount_++] = p[i++];
  if (heldCount_ == 3) {
    EmitGroup(held_, 3, out);
    heldCount_ = 0;
  }
  out.reserve(out.size() + (n - i) / 3 * 4 + (n - i) / 35 + 8);
  for (; i + 3 <= n; i += 3)
    EmitGroup(p + i, 3, out);
  while (i < n)
    held_[heldCount_++] = p[i++];
}

void Base64Encoder::Complete(std::string_view data, std::string& out) {
  Filter(data, out);
  if (heldCount_ > 0)
    EmitGroup(held_, heldCount_, out);
  Reset();
}

void Base64Encoder::Reset() {
  heldCount_ = 0;
  consumed_ = 0;
}

std::string EncodeBase64(std::string_view data) {
  std::string out;
  const std::size_t groups = (data.size() + 2) / 3;
  out.reserve(groups * 4 + 2 * (data.size() / 70 * 3 + 3));
  Base64Encoder encoder;
  encoder.Complete(data, out);
  return out;
}

void Base64Decoder::DecodeGroup(const uint8_t* v, std::string& out) {
  if (v[0] == kFill)
    return;
  unsigned c = v[2], d = v[3];
  int size = 3;
  if (c == kFill) {
    c = d = 0;
    size = 1;
  } else if (d == kFill) {
    d = 0;
    size = 2;
  }
  // A fill in the second place takes part in the arithmetic as 64, as the rules have it.
  const unsigned b = v[1];
  char bytes[3] = {static_cast<char>((v[0] * 4 + b / 16) & 0xFF),
                   static_cast<char>(((b % 16) * 16 + c / 4) & 0xFF),
                   static_cast<char>(((c % 4) * 64 + d) & 0xFF)};
  out.append(bytes, static_cast<std::size_t>(size));
}

void Base64Decoder::Filter(std::string_view input, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(input.data());
  const std::size_t n = input.size();
  out.reserve(out.size() + n / 4 * 3 + 3);
  std::size_t i = 0;
  while (i < n) {
    if (quadCount_ == 0) {
      // Whole groups of plain characters: the bulk of any encoded body.
      while (i + 4 <= n) {
        const uint8_t a = kValues[p[i]], b = kValues[p[i + 1]], c = kValues[p[i + 2]],
                      d = kValues[p[i + 3]];
        if ((a | b | c | d) >= 64)
          break;
        const unsigned v = (static_cast<unsigned>(a) << 18) | (static_cast<unsigned>(b) << 12) |
                           (static_cast<unsigned>(c) << 6) | d;
        const char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>((v >> 8) & 0xFF),
                               static_cast<char>(v & 0xFF)};
        out.append(bytes, 3);
        i += 4;
      }
      if (i == n)
        break;
    }
    const uint8_t value = kValues[p[i++]];
    if (value == kSkip)
      continue;
    quad_[quadCount_++] = value;
    if (quadCount_ == 4) {
      DecodeGroup(quad_, out);
      quadCount_ = 0;
    }
  }
}

void Base64Decoder::Complete(std::string_view input, std::string& out) {
  Filter(input, out);
  Reset(); // one to three characters left over are ignored
}

void Base64Decoder::Reset() {
  quadCount_ = 0;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  Base64Decoder decoder;
  decoder.Complete(text, out);
  return out;
}

} // namespace orlendo
