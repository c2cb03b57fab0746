// HTML/XML escaping of text, and decoding of HTML character references.
#pragma once

#include <string>
#include <string_view>

namespace orlendo {

// Escapes system-code-page (UTF-8) text for HTML (lineBreaks true) or XML (lineBreaks false).
// Control characters other than TAB, LF and CR become "%" and two upper-case hex digits (0x01 ->
// "%01"); the double quote, "&", "<" and ">" become "&quot;", "&amp;", "&lt;", "&gt;"; the
// characters U+00A9, U+00B0, U+00B1 and U+00B6 become "&copy;", "&#176;", "&plusmn;", "&para;".
// With lineBreaks, CR LF becomes "<br>" and a lone CR or LF is copied; without, "'" becomes
// "&apos;" and CR and LF are copied. Everything else, other UTF-8 sequences included, is copied.
std::string EscapeHtml(std::string_view text, bool lineBreaks);

// Replaces every occurrence of `reference` in `text` (case-sensitive) by `replacement`, together
// with one ";" that directly follows it. Replacing repeats until no occurrence is left, so a
// replacement can form a new reference with the text around it ("&amp;lt;" under "&amp" and then
// "&lt" ends as "<"). `reference` must not be empty (an empty one changes nothing).
void ReplaceEntity(std::u16string_view reference, std::u16string_view replacement,
                   std::u16string& text);

// Decodes the character references of `text`: first the fixed named set, in this order,
// "&brvbar" "|", "&deg" and "&#176" U+00B0, "&plusmn" "+", "&para" U+00B6, "&amp" "&", "&lt" "<",
// "&gt" ">", "&copy" "c", "&quot" "\"", "&apos" "'", "&trade" "T", "&nbsp" (removed), "&car" LF,
// "&ret" CR, each with an optional ";"; then the numeric references "&#ddd" and "&#xhh" (optional
// ";") from left to right, each by its own digits. A numeric reference without digits or above
// U+FFFE ends the numeric decoding: it and all after it stay as they are.
void DecodeHtmlEntities(std::u16string& text);

// The same on UTF-8 text.
std::string DecodeHtmlEntities(std::string_view text);

} // namespace orlendo
