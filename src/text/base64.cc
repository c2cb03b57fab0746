#include "text/base64.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Two characters for every 12 bits: one look-up per half group.
struct PairTable {
  char pairs[2 * 4096];
};
constexpr PairTable MakePairs() {
  PairTable t{};
  for (unsigned v = 0; v < 4096; ++v) {
    t.pairs[2 * v] = kAlphabet[v >> 6];
    t.pairs[2 * v + 1] = kAlphabet[v & 63];
  }
  return t;
}
constexpr PairTable kPairs = MakePairs();

inline char* EncodeOneGroup(const unsigned char* in, char* out) {
  const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, &kPairs.pairs[2 * (v >> 12)], 2);
  std::memcpy(out + 2, &kPairs.pairs[2 * (v & 4095)], 2);
  return out + 4;
}

inline char* Break(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

// Lines of 57 bytes with CR LF between them (none after the last), the line loop unrolled.
char* EncodeLines(const unsigned char* in, std::size_t lines, char* out) {
  for (std::size_t line = 0; line < lines; ++line) {
    if (line > 0)
      out = Break(out);
    for (int k = 0; k < 19; ++k, in += 3)
      out = EncodeOneGroup(in, out);
  }
  return out;
}

// Encodes `groups` whole groups of three bytes at in. (Byte loads: wider loads of the input
// run slower where the output buffer is used again and again, as the writers use it.)
inline char* EncodeGroups(const unsigned char* in, std::size_t groups, char* out) {
  for (; groups > 0; --groups, in += 3)
    out = EncodeOneGroup(in, out);
  return out;
}

// The characters of a final group of one or two bytes (or a whole one), with the fill.
inline char* EncodePartial(const unsigned char* g, int size, char* out) {
  const unsigned v = (static_cast<unsigned>(g[0]) << 16) |
                     (size > 1 ? static_cast<unsigned>(g[1]) << 8 : 0u) |
                     (size > 2 ? static_cast<unsigned>(g[2]) : 0u);
  out[0] = kAlphabet[v >> 18];
  out[1] = kAlphabet[(v >> 12) & 63];
  out[2] = size > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  out[3] = size > 2 ? kAlphabet[v & 63] : '=';
  return out + 4;
}

// A CR LF follows the group after which the next unread byte has this 1-based position.
bool BreakAfter(uint64_t consumed) {
  const uint64_t next = (consumed + 1) % 70;
  return next >= 1 && next <= 3;
}

// Whole groups from consumed (a multiple of 3) up to and including the one after which a break
// comes: the breaks fall after 72, 141 and 210 bytes of every 210.
std::size_t GroupsToBreak(uint64_t consumed) {
  const uint64_t r = consumed % 210;
  const uint64_t next = r < 72 ? 72 : r < 141 ? 141 : 210;
  return static_cast<std::size_t>((next - r) / 3);
}

// Room for the encoding of n bytes in lines of at least 92 characters.
std::size_t EncodedBound(std::size_t n) {
  const std::size_t groups = (n + 2) / 3 + 1;
  return groups * 4 + (groups / 23 + 2) * 2;
}

} // namespace

char* Base64Encoder::EmitGroup(const unsigned char* g, int size, char* out) {
  out = EncodePartial(g, size, out);
  consumed_ += static_cast<uint64_t>(size);
  if (BreakAfter(consumed_))
    out = Break(out);
  return out;
}

char* Base64Encoder::Encode(const unsigned char* p, std::size_t n, char* out) {
  std::size_t i = 0;
  while (heldCount_ > 0 && heldCount_ < 3 && i < n)
    held_[heldCount_++] = p[i++];
  if (heldCount_ == 3) {
    out = EmitGroup(held_, 3, out);
    heldCount_ = 0;
  }
  // Whole groups run to the next break at a time; consumed_ stays a multiple of 3 here.
  std::size_t groups = (n - i) / 3;
  while (groups > 0) {
    const std::size_t toBreak = GroupsToBreak(consumed_);
    const std::size_t take = std::min(groups, toBreak);
    out = EncodeGroups(p + i, take, out);
    i += take * 3;
    consumed_ += take * 3;
    groups -= take;
    if (take == toBreak)
      out = Break(out);
  }
  while (i < n)
    held_[heldCount_++] = p[i++];
  return out;
}

void Base64Encoder::Filter(std::string_view data, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + EncodedBound(data.size()));
  char* end = Encode(reinterpret_cast<const unsigned char*>(data.data()), data.size(), &out[at]);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void Base64Encoder::Complete(std::string_view data, std::string& out) {
  Filter(data, out);
  if (heldCount_ > 0) {
    char tail[8];
    char* end = EmitGroup(held_, heldCount_, tail);
    out.append(tail, static_cast<std::size_t>(end - tail));
  }
  Reset();
}

void Base64Encoder::Reset() {
  heldCount_ = 0;
  consumed_ = 0;
}

std::string EncodeBase64(std::string_view data) {
  std::string out;
  Base64Encoder encoder;
  encoder.Complete(data, out);
  return out;
}

char* Base64LineEncoder::Group(const unsigned char* g, int size, char* out) {
  if (lineFill_ == kLineBytes) {
    out = Break(out);
    lineFill_ = 0;
  }
  out = EncodePartial(g, size, out);
  lineFill_ += 3;
  return out;
}

char* Base64LineEncoder::Filter(std::string_view data, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const unsigned char* end = p + data.size();
  while (heldCount_ > 0 && p < end) {
    held_[heldCount_++] = *p++;
    if (heldCount_ == 3) {
      out = Group(held_, 3, out);
      heldCount_ = 0;
    }
  }
  // The break after a full line comes when more follows: the data never ends in an empty line.
  while (end - p >= 3) {
    if (lineFill_ == kLineBytes) {
      out = Break(out);
      lineFill_ = 0;
    }
    if (lineFill_ == 0 && end - p >= static_cast<std::ptrdiff_t>(kLineBytes)) {
      // Whole lines, each nine pairs of groups read within the line and its last group.
      const std::size_t lines = static_cast<std::size_t>(end - p) / kLineBytes;
      out = EncodeLines(p, lines, out);
      p += lines * kLineBytes;
      lineFill_ = kLineBytes;
      continue;
    }
    const std::size_t groups =
        std::min(static_cast<std::size_t>(end - p) / 3, (kLineBytes - lineFill_) / 3);
    out = EncodeGroups(p, groups, out);
    p += groups * 3;
    lineFill_ += groups * 3;
  }
  while (p < end)
    held_[heldCount_++] = *p++;
  return out;
}

char* Base64LineEncoder::Complete(char* out) {
  if (heldCount_ > 0)
    out = Group(held_, heldCount_, out);
  heldCount_ = 0;
  lineFill_ = 0;
  return out;
}

void Base64LineEncoder::Filter(std::string_view data, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + MaxEncodedSize(data.size()));
  char* end = Filter(data, &out[at]);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void Base64LineEncoder::Complete(std::string& out) {
  char tail[8];
  char* end = Complete(tail);
  out.append(tail, static_cast<std::size_t>(end - tail));
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
