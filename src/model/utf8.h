// UTF-8 <-> UTF-16, the conversion "through the system code page" of this platform. Never fails:
// invalid input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace orlendo::utf8 {

// Decodes UTF-8; each invalid or truncated sequence (overlong forms, surrogates, values above
// U+10FFFF) becomes one U+FFFD per offending byte. Four-byte sequences give surrogate pairs.
std::u16string Decode(std::string_view bytes);

// Encodes UTF-16; surrogate pairs become four bytes, a lone surrogate becomes U+FFFD.
std::string Encode(std::u16string_view text);

// True when bytes are well-formed UTF-8 (ASCII included).
bool IsValid(std::string_view bytes);

// The number of UTF-16 units that well-formed UTF-8 decodes to: one for each sequence, two for
// each four-byte one. Linear, without decoding.
size_t Utf16Length(std::string_view bytes);

} // namespace orlendo::utf8
