// ISO-8859-16 (Latin-10, the South-Eastern European letters of Romanian, Polish, Croatian,
// Hungarian, Slovenian and Albanian), from its table: the ICU that Debian ships has no converter
// for it, and mail from Romania names it.
#pragma once

#include <string>
#include <string_view>

namespace orlendo {

// True for the registered name and aliases of ISO-8859-16 ("ISO-8859-16", "ISO_8859-16:2001",
// "iso-ir-226", "latin10", "l10", "csISO885916"), ignoring ASCII case, with "iso8859-16" and
// "iso_8859-16" spelt as mail programs spell them.
bool IsIso8859_16Name(std::string_view charset);

// Every byte is one character; the text ends at the first zero byte, as the other conversions
// end it.
std::u16string DecodeIso8859_16(std::string_view bytes);

// The bytes of text; false (out unspecified) when a character has no byte and exact, else such a
// character becomes "?". The text ends at its first U+0000.
bool EncodeIso8859_16(std::u16string_view text, bool exact, std::string& out);

} // namespace orlendo
