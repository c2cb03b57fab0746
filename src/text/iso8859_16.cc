#include "text/iso8859_16.h"

#include <cstdint>

namespace orlendo {

namespace {

// Bytes 0xA0 to 0xFF; the bytes below are the same code points (ASCII and the C1 controls).
constexpr char16_t kUpperHalf[96] = {
    0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, //
    0x0161, 0x00A9, 0x0218, 0x00AB, 0x0179, 0x00AD, 0x017A, 0x017B, //
    0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7, //
    0x017E, 0x010D, 0x0219, 0x00BB, 0x0152, 0x0153, 0x0178, 0x017C, //
    0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0106, 0x00C6, 0x00C7, //
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, //
    0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A, //
    0x0170, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0118, 0x021A, 0x00DF, //
    0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107, 0x00E6, 0x00E7, //
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, //
    0x0111, 0x0144, 0x00F2, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x015B, //
    0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF, //
};

// The name folded for comparison: lower case, without '-', '_' and blanks.
std::string Folded(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == '-' || c == '_' || c == ' ')
      continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

} // namespace

bool IsIso8859_16Name(std::string_view charset) {
  const std::string name = Folded(charset);
  return name == "iso885916" || name == "iso885916:2001" || name == "isoir226" ||
         name == "latin10" || name == "l10" || name == "csiso885916";
}

std::u16string DecodeIso8859_16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b == 0)
      break;
    out += b < 0xA0 ? static_cast<char16_t>(b) : kUpperHalf[b - 0xA0];
  }
  return out;
}

bool EncodeIso8859_16(std::u16string_view text, bool exact, std::string& out) {
  out.clear();
  out.reserve(text.size());
  bool afterHighSurrogate = false;
  for (const char16_t c : text) {
    if (c == 0)
      break;
    const bool lowSurrogate = c >= 0xDC00 && c <= 0xDFFF;
    const bool pairEnd = lowSurrogate && afterHighSurrogate;
    afterHighSurrogate = c >= 0xD800 && c <= 0xDBFF;
    if (c < 0xA0) {
      out += static_cast<char>(c);
      continue;
    }
    int byte = -1;
    for (int i = 0; i < 96 && byte < 0; ++i)
      if (kUpperHalf[i] == c)
        byte = 0xA0 + i;
    if (byte < 0) {
      if (exact)
        return false;
      // A surrogate pair is one character: one substitute for both halves.
      if (pairEnd)
        continue;
      byte = '?';
    }
    out += static_cast<char>(byte);
  }
  return true;
}

} // namespace orlendo
