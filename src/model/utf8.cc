#include "model/utf8.h"

#include <cstdint>

namespace orlendo::utf8 {
namespace {

// Length of the well-formed sequence at bytes[i], or 0 when it is not one (RFC 3629 table).
size_t SequenceLength(std::string_view bytes, size_t i, char32_t& cp) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
  const uint8_t b0 = at(i);
  const size_t left = bytes.size() - i;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  const auto cont = [&](size_t k) { return k < left && (at(i + k) & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!cont(1))
      return 0;
    cp = (char32_t(b0 & 0x1F) << 6) | (at(i + 1) & 0x3F);
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2))
      return 0;
    const uint8_t b1 = at(i + 1);
    if (b0 == 0xE0 && b1 < 0xA0)
      return 0; // overlong
    if (b0 == 0xED && b1 >= 0xA0)
      return 0; // surrogate
    cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (at(i + 2) & 0x3F);
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3))
      return 0;
    const uint8_t b1 = at(i + 1);
    if (b0 == 0xF0 && b1 < 0x90)
      return 0; // overlong
    if (b0 == 0xF4 && b1 >= 0x90)
      return 0; // above U+10FFFF
    cp = (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) |
         (char32_t(at(i + 2) & 0x3F) << 6) | (at(i + 3) & 0x3F);
    return 4;
  }
  return 0;
}

} // namespace

std::u16string Decode(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t n = SequenceLength(bytes, i, cp);
    if (n == 0) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Encode(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool IsValid(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t n = SequenceLength(bytes, i, cp);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

size_t Utf16Length(std::string_view bytes) {
  size_t units = 0;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    units += (b & 0xC0) != 0x80 ? 1 : 0;
    units += (b & 0xF8) == 0xF0 ? 1 : 0;
  }
  return units;
}

} // namespace orlendo::utf8
