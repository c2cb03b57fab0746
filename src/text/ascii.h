// Small character tests shared by the parsers of text formats.
#pragma once

namespace orlendo {

// The value of a hexadecimal digit of either case, or -1 for any other character.
constexpr int HexValue(char32_t c) {
  if (c >= U'0' && c <= U'9')
    return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f')
    return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F')
    return static_cast<int>(c - U'A' + 10);
  return -1;
}

// Narrow and UTF-16 characters, converted without sign extension.
constexpr int HexValue(char c) {
  return HexValue(static_cast<char32_t>(static_cast<unsigned char>(c)));
}
constexpr int HexValue(char16_t c) {
  return HexValue(static_cast<char32_t>(c));
}

} // namespace orlendo
