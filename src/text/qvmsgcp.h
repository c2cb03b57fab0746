// Charset names, Windows code pages and the conversions between them.
//
// Text inside the program is Unicode. Byte strings that hold text in "the system code page" hold
// UTF-8 here; wide strings hold UTF-16. Bytes in a message charset are decoded where they come in
// and encoded where they go out, always through a true conversion: nothing here reinterprets
// bytes of one code page as another.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orlendo {

// One row of the charset table: a Windows code page and the charset name written into MIME
// headers for it.
struct TMsgCodePageData {
  int CodePage;
  const char* Name;
};
using TMsgCodePage = TMsgCodePageData;

inline constexpr std::size_t kMsgCodePageCount = 140;

// The charset table, searched in this order. Names keep their case exactly as listed
// ("Windows-1252" has a capital W) because the lookup by number copies them into written files.
// "iso-2022-jp" occurs twice (50220 and 50222): a search by name finds 50220.
extern const std::array<TMsgCodePageData, kMsgCodePageCount> MsgCodePages;

// Code page of a charset name: the first table row whose name equals `charset` ignoring ASCII
// case; else the first row whose converter is the one ICU has for the name (every alias ICU
// knows: "cp1251" 1251, "gbk" and "x-gbk" 936, "windows-31j" and "x-sjis" 932, "latin1" 28591);
// else, for a name that starts with "WINDOWS-" (any case), the decimal number after it (0 when
// that is not a plain non-negative number); else 0. A name that ICU knows without a code page of
// the table ("big5-hkscs") gives 0 too: DecodeCharset still decodes it by name.
int CharsetToCodePage(const std::string& charset);

// True when the conversions below decode the name as what it says (the table, ICU or a Cyrillic
// marker know it), false when they would fall back to the system code page.
bool IsKnownCharset(const std::string& charset);

// The table row of a code page number (the first row with that number), or nullptr.
const TMsgCodePageData* FindCodePage(int codePage);

// Charset name of a code page number as the table spells it, or "" when the table lacks it.
std::string CodePageToCharset(int codePage);

// The ICU converter that performs conversions through a code page of the table (or through any
// "windows-N" that ICU knows), or nullptr. A few rare code pages that ICU does not ship are
// served by the nearest converter of the same script family; see the table in qvmsgcp.cc.
const char* IcuConverterName(unsigned codePage);

// Decodes `bytes` in `codePage` to UTF-16. The input is taken as a zero-terminated string: the
// text ends at its first zero character (for UTF-16 and UTF-32 code pages that is a zero code
// unit, not a zero byte). Undecodable bytes become the converter's substitute (normally U+FFFD).
// A code page without a converter gives an empty result. Never throws.
std::u16string CodePageToWide(std::string_view bytes, unsigned codePage);

// Encodes UTF-16 `text` in `codePage`. The text ends at its first U+0000. Characters that the
// code page cannot represent become the converter's substitute byte(s). A code page without a
// converter gives an empty result. Never throws.
std::string WideToCodePage(std::u16string_view text, unsigned codePage);

// Like WideToCodePage, but fails (returns false, `out` unspecified) instead of substituting when
// a character cannot be represented, or when the code page has no converter. Lets a writer fall
// back to UTF-8 rather than declare a charset that loses characters.
bool TryWideToCodePage(std::u16string_view text, unsigned codePage, std::string& out);

// Real UTF-8: a surrogate pair becomes one four-byte sequence. A lone surrogate (ill-formed
// UTF-16) becomes U+FFFD so that the output is always well-formed UTF-8.
std::string EncodeUtf8(std::u16string_view text);

// Real UTF-8: a four-byte sequence becomes a surrogate pair. Input that is not well-formed UTF-8
// (cut-short or stray continuation bytes, overlong forms, encoded surrogates, values above
// U+10FFFF) decodes to the empty string: all or nothing, never partial text.
std::u16string DecodeUtf8(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 (the empty string is).
bool IsValidUtf8(std::string_view bytes);

// The system code page is UTF-8 here. These never fail: each ill-formed sequence (maximal
// subpart, as ICU and browsers count them) becomes U+FFFD, and a lone surrogate becomes U+FFFD.
std::u16string SystemToWide(std::string_view bytes);
std::string WideToSystem(std::u16string_view text);

// 0 for a name without a Cyrillic marker; 1 when the upper-cased name contains "WINDOWS-1251"
// or "X-1251"; else 2 when it contains "KOI8-R"; else 3 when it contains "KOI8-U".
int CyrillicKind(const std::string& charset);

// Byte-table fallback: every byte b becomes table[toKind][table[fromKind][b]]. Table 0 is the
// identity, 1 maps Windows-1251 to CP866 (with substitutes outside the letters), 2 maps KOI8-R to
// Windows-1251 and 3 maps KOI8-U to Windows-1251. A kind outside 0..3 counts as 0.
void TranslateCyrillic(int fromKind, int toKind, std::string& bytes);

// Byte-level charset conversion, the core of everything below. A charset of the table converts
// through its code page; "utf-8" through real UTF-8 (ill-formed bytes become U+FFFD rather than
// losing the whole text); any other name that ICU knows (for example "gbk", "latin1") through
// ICU; a name ICU does not know with a Cyrillic marker through Windows-1251, KOI8-R or KOI8-U;
// and an unknown name is taken as the system code page (UTF-8 when valid, else Windows-1252).
std::u16string DecodeCharset(const std::string& charset, std::string_view bytes);
std::string EncodeCharset(const std::string& charset, std::u16string_view text);

// Like EncodeCharset, but false when a character cannot be represented in the charset (or the
// charset is unknown): the caller should then write UTF-8 and declare it.
bool TryEncodeCharset(const std::string& charset, std::u16string_view text, std::string& out);

// Converts `text` to (encode) or from (decode) the charset. Empty text is left alone. The byte
// side travels in the wide string one character per byte (U+0000-U+00FF), because the system
// code page (UTF-8) cannot carry arbitrary bytes: encoding turns Unicode text into such a byte
// string, decoding turns such a byte string into Unicode. On the decode side a character above
// U+00FF, which no byte string can hold, is taken as its UTF-8 bytes, so nothing is lost.
void TranslateCharset(const std::string& charset, bool encode, std::u16string& text);

// The default handlers of OnConvertCodepage. Encode: `value` holds system-code-page (UTF-8) text
// and becomes the bytes of charset `aCodePage`. Decode: `value` holds bytes in charset `aCodePage`
// and becomes UTF-8 text. Empty values stay empty. `sender` is not used.
void DefaultEncodeCodepage(void* sender, const std::string& aCodePage, std::string& value);
void DefaultDecodeCodepage(void* sender, const std::string& aCodePage, std::string& value);

// The code page in which 8-bit strings of a message are stored, given its text code page: the
// Windows code page of the family of an Internet code page (ISO-2022-JP and EUC-JP -> 932,
// ISO-2022-KR and EUC-KR -> 949, HZ, EUC-CN, GB2312 and ISO-2022-CN -> 936, KOI8 and ISO-8859-5 ->
// 1251, ISO-8859-1/-15 and US-ASCII -> 1252, and so on); the Unicode code pages (UTF-7, UTF-16,
// UTF-32) -> 65001; any other code page, Windows ones included, stands for itself; 0 -> 0.
int WindowsFamilyCodePage(int codePage);

// Decodes 8-bit stored text. With a nonzero code page, reduced to its Windows family: through
// that code page, except that invalid UTF-8 under 65001, or a code page without a converter,
// falls back to the rule for 0. With 0: UTF-8 when the bytes are valid UTF-8, else Windows-1252.
// The text ends at its first zero character.
std::u16string DecodeStoredText(std::string_view bytes, int codePage);

} // namespace orlendo
