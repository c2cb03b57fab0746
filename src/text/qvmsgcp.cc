#include "text/qvmsgcp.h"

#include <unicode/ucnv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "text/iso8859_16.h"

namespace orlendo {

const std::array<TMsgCodePageData, kMsgCodePageCount> MsgCodePages = {{
    {37, "IBM037"},
    {437, "IBM437"},
    {500, "IBM500"},
    {708, "ASMO-708"},
    {720, "DOS-720"},
    {737, "ibm737"},
    {775, "ibm775"},
    {850, "ibm850"},
    {852, "ibm852"},
    {855, "IBM855"},
    {857, "ibm857"},
    {858, "IBM00858"},
    {860, "IBM860"},
    {861, "ibm861"},
    {862, "DOS-862"},
    {863, "IBM863"},
    {864, "IBM864"},
    {865, "IBM865"},
    {866, "cp866"},
    {869, "ibm869"},
    {870, "IBM870"},
    {874, "windows-874"},
    {875, "cp875"},
    {932, "shift_jis"},
    {936, "gb2312"},
    {949, "ks_c_5601-1987"},
    {950, "big5"},
    {1026, "IBM1026"},
    {1047, "IBM01047"},
    {1140, "IBM01140"},
    {1141, "IBM01141"},
    {1142, "IBM01142"},
    {1143, "IBM01143"},
    {1144, "IBM01144"},
    {1145, "IBM01145"},
    {1146, "IBM01146"},
    {1147, "IBM01147"},
    {1148, "IBM01148"},
    {1149, "IBM01149"},
    {1200, "utf-16"},
    {1201, "unicodeFFFE"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "Windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {1361, "Johab"},
    {10000, "macintosh"},
    {10001, "x-mac-japanese"},
    {10002, "x-mac-chinesetrad"},
    {10003, "x-mac-korean"},
    {10004, "x-mac-arabic"},
    {10005, "x-mac-hebrew"},
    {10006, "x-mac-greek"},
    {10007, "x-mac-cyrillic"},
    {10008, "x-mac-chinesesimp"},
    {10010, "x-mac-romanian"},
    {10017, "x-mac-ukrainian"},
    {10021, "x-mac-thai"},
    {10029, "x-mac-ce"},
    {10079, "x-mac-icelandic"},
    {10081, "x-mac-turkish"},
    {10082, "x-mac-croatian"},
    {12000, "utf-32"},
    {12001, "utf-32BE"},
    {20000, "x-Chinese-CNS"},
    {20001, "x-cp20001"},
    {20002, "x-Chinese-Eten"},
    {20003, "x-cp20003"},
    {20004, "x-cp20004"},
    {20005, "x-cp20005"},
    {20105, "x-IA5"},
    {20106, "x-IA5-German"},
    {20107, "x-IA5-Swedish"},
    {20108, "x-IA5-Norwegian"},
    {20127, "us-ascii"},
    {20261, "x-cp20261"},
    {20269, "x-cp20269"},
    {20273, "IBM273"},
    {20277, "IBM277"},
    {20278, "IBM278"},
    {20280, "IBM280"},
    {20284, "IBM284"},
    {20285, "IBM285"},
    {20290, "IBM290"},
    {20297, "IBM297"},
    {20420, "IBM420"},
    {20423, "IBM423"},
    {20424, "IBM424"},
    {20833, "x-EBCDIC-KoreanExtended"},
    {20838, "IBM-Thai"},
    {20866, "koi8-r"},
    {20871, "IBM871"},
    {20880, "IBM880"},
    {20905, "IBM905"},
    {20924, "IBM00924"},
    {20932, "EUC-JP"},
    {20936, "x-cp20936"},
    {20949, "x-cp20949"},
    {21025, "cp1025"},
    {21866, "koi8-u"},
    {28591, "iso-8859-1"},
    {28592, "iso-8859-2"},
    {28593, "iso-8859-3"},
    {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},
    {28596, "iso-8859-6"},
    {28597, "iso-8859-7"},
    {28598, "iso-8859-8"},
    {28599, "iso-8859-9"},
    {28603, "iso-8859-13"},
    {28605, "iso-8859-15"},
    {29001, "x-Europa"},
    {38598, "iso-8859-8-i"},
    {50220, "iso-2022-jp"},
    {50221, "csISO2022JP"},
    {50222, "iso-2022-jp"},
    {50225, "iso-2022-kr"},
    {50227, "x-cp50227"},
    {51932, "euc-jp"},
    {51936, "EUC-CN"},
    {51949, "euc-kr"},
    {52936, "hz-gb-2312"},
    {54936, "GB18030"},
    {57002, "x-iscii-de"},
    {57003, "x-iscii-be"},
    {57004, "x-iscii-ta"},
    {57005, "x-iscii-te"},
    {57006, "x-iscii-as"},
    {57007, "x-iscii-or"},
    {57008, "x-iscii-ka"},
    {57009, "x-iscii-ma"},
    {57010, "x-iscii-gu"},
    {57011, "x-iscii-pa"},
    {65000, "utf-7"},
    {65001, "utf-8"},
}};

namespace {

// ICU converter of each code page of the table. ICU does not ship some rare code pages; those
// rows name the closest converter of the same script family (marked "stand-in"), so that their
// text still decodes as far as the families agree instead of vanishing.
struct IcuName {
  unsigned CodePage;
  const char* Converter;
};
constexpr IcuName kIcuNames[] = {
    {37, "ibm-37_P100-1995"},
    {437, "ibm-437_P100-1995"},
    {500, "ibm-500_P100-1995"},
    {708, "ibm-1089_P100-1995"}, // ASMO-708 is ISO-8859-6
    {720, "ibm-720_P100-1997"},
    {737, "ibm-737_P100-1997"},
    {775, "ibm-775_P100-1996"},
    {850, "ibm-850_P100-1995"},
    {852, "ibm-852_P100-1995"},
    {855, "ibm-855_P100-1995"},
    {857, "ibm-857_P100-1995"},
    {858, "ibm-858_P100-1997"},
    {860, "ibm-860_P100-1995"},
    {861, "ibm-861_P100-1995"},
    {862, "ibm-862_P100-1995"},
    {863, "ibm-863_P100-1995"},
    {864, "ibm-864_X110-1999"},
    {865, "ibm-865_P100-1995"},
    {866, "ibm-866_P100-1995"},
    {869, "ibm-869_P100-1995"},
    {870, "ibm-870_P100-1995"},
    {874, "windows-874-2000"},
    {875, "ibm-875_P100-1995"},
    {932, "ibm-943_P15A-2003"},
    {936, "windows-936-2000"},
    {949, "windows-949-2000"},
    {950, "windows-950-2000"},
    {1026, "ibm-1026_P100-1995"},
    {1047, "ibm-1047_P100-1995"},
    {1140, "ibm-1140_P100-1997"},
    {1141, "ibm-1141_P100-1997"},
    {1142, "ibm-1142_P100-1997"},
    {1143, "ibm-1143_P100-1997"},
    {1144, "ibm-1144_P100-1997"},
    {1145, "ibm-1145_P100-1997"},
    {1146, "ibm-1146_P100-1997"},
    {1147, "ibm-1147_P100-1997"},
    {1148, "ibm-1148_P100-1997"},
    {1149, "ibm-1149_P100-1997"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "ibm-5346_P100-1998"},
    {1251, "ibm-5347_P100-1998"},
    {1252, "ibm-5348_P100-1997"},
    {1253, "ibm-5349_P100-1998"},
    {1254, "ibm-5350_P100-1998"},
    {1255, "ibm-9447_P100-2002"},
    {1256, "ibm-9448_X100-2005"},
    {1257, "ibm-9449_P100-2002"},
    {1258, "ibm-5354_P100-1998"},
    {1361, "windows-949-2000"}, // stand-in: Johab shares KS X 1001's repertoire
    {10000, "macos-0_2-10.2"},
    {10001, "ibm-943_P15A-2003"},         // stand-in: Mac Japanese is Shift_JIS based
    {10002, "windows-950-2000"},          // stand-in: Mac Chinese Traditional is Big5 based
    {10003, "ibm-970_P110_P110-2006_U2"}, // stand-in: Mac Korean is EUC-KR based
    {10004, "ibm-1089_P100-1995"}, // stand-in: Mac Arabic keeps ISO-8859-6's letter positions
    {10005, "ibm-5012_P100-1999"}, // stand-in: Mac Hebrew keeps ISO-8859-8's letter positions
    {10006, "macos-6_2-10.4"},
    {10007, "macos-7_3-10.2"},
    {10008, "ibm-1383_P110-1999"}, // stand-in: Mac Chinese Simplified is EUC-CN based
    {10010, "macos-0_2-10.2"},     // stand-in: Mac Romanian differs from Mac Roman in a few cells
    {10017, "macos-7_3-10.2"},     // stand-in: Mac Ukrainian is Mac Cyrillic with two changes
    {10021, "windows-874-2000"},   // stand-in: Mac Thai is TIS-620 based
    {10029, "macos-29-10.2"},
    {10079, "macos-0_2-10.2"}, // stand-in: Mac Icelandic differs from Mac Roman in a few cells
    {10081, "macos-35-10.2"},
    {10082, "macos-0_2-10.2"}, // stand-in: Mac Croatian differs from Mac Roman in a few cells
    {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},
    {20000, "euc-tw-2014"},      // CNS 11643
    {20001, "windows-950-2000"}, // stand-in: the Taiwanese Big5 variants
    {20002, "windows-950-2000"},
    {20003, "windows-950-2000"},
    {20004, "windows-950-2000"},
    {20005, "windows-950-2000"},
    {20105, "US-ASCII"}, // stand-in: the ISO 646 variants share ASCII outside a few cells
    {20106, "US-ASCII"},
    {20107, "US-ASCII"},
    {20108, "US-ASCII"},
    {20127, "US-ASCII"},
    {20261, "US-ASCII"}, // stand-in: T.61 agrees with ASCII in its letters and digits
    {20269, "US-ASCII"}, // stand-in: ISO 6937 likewise
    {20273, "ibm-273_P100-1995"},
    {20277, "ibm-277_P100-1995"},
    {20278, "ibm-278_P100-1995"},
    {20280, "ibm-280_P100-1995"},
    {20284, "ibm-284_P100-1995"},
    {20285, "ibm-285_P100-1995"},
    {20290, "ibm-290_P100-1995"},
    {20297, "ibm-297_P100-1995"},
    {20420, "ibm-420_X120-1999"},
    {20423, "ibm-875_P100-1995"}, // stand-in: the other Greek EBCDIC
    {20424, "ibm-424_P100-1995"},
    {20833, "ibm-933_P110-1995"}, // the single-byte half of Korean EBCDIC
    {20838, "ibm-838_P100-1995"},
    {20866, "ibm-878_P100-1996"},
    {20871, "ibm-871_P100-1995"},
    {20880, "ibm-1025_P100-1995"}, // stand-in: the other Cyrillic EBCDIC
    {20905, "ibm-1026_P100-1995"}, // stand-in: the other Turkish EBCDIC
    {20924, "ibm-1047_P100-1995"}, // stand-in: 924 is 1047 with the euro sign
    {20932, "euc-jp-2007"},
    {20936, "ibm-1383_P110-1999"},
    {20949, "ibm-970_P110_P110-2006_U2"},
    {21025, "ibm-1025_P100-1995"},
    {21866, "ibm-1168_P100-2002"},
    {28591, "ISO-8859-1"},
    {28592, "ibm-912_P100-1995"},
    {28593, "ibm-913_P100-2000"},
    {28594, "ibm-914_P100-1995"},
    {28595, "ibm-915_P100-1995"},
    {28596, "ibm-1089_P100-1995"},
    {28597, "ibm-9005_X110-2007"},
    {28598, "ibm-5012_P100-1999"},
    {28599, "ibm-920_P100-1995"},
    {28603, "ibm-921_P100-1995"},
    {28605, "ibm-923_P100-1998"},
    {29001, "US-ASCII"}, // stand-in: Europa 3 agrees with ASCII in its letters and digits
    {38598, "ibm-5012_P100-1999"},
    {50220, "ISO_2022,locale=ja,version=0"},
    {50221, "ISO_2022,locale=ja,version=0"}, // also reads half-width katakana after ESC ( I
    {50222, "ISO_2022,locale=ja,version=3"}, // half-width katakana through SO/SI
    {50225, "ISO_2022,locale=ko,version=0"},
    {50227, "ISO_2022,locale=zh,version=0"},
    {51932, "euc-jp-2007"},
    {51936, "ibm-1383_P110-1999"},
    {51949, "ibm-970_P110_P110-2006_U2"},
    {52936, "HZ"},
    {54936, "gb18030"},
    {57002, "ISCII,version=0"}, // Devanagari
    {57003, "ISCII,version=1"}, // Bengali
    {57004, "ISCII,version=5"}, // Tamil
    {57005, "ISCII,version=6"}, // Telugu
    {57006, "ISCII,version=1"}, // Assamese is written in the Bengali script
    {57007, "ISCII,version=4"}, // Oriya
    {57008, "ISCII,version=7"}, // Kannada
    {57009, "ISCII,version=8"}, // Malayalam
    {57010, "ISCII,version=3"}, // Gujarati
    {57011, "ISCII,version=2"}, // Gurmukhi
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};
static_assert(std::size(kIcuNames) == kMsgCodePageCount, "one converter per row of the table");

// Converters are costly to open; keep one per code page and thread. A failed open is remembered
// too (as nullptr), so an unknown code page costs one lookup only once.
struct ConverterCache {
  std::unordered_map<unsigned, UConverter*> byCodePage;
  std::unordered_map<std::string, UConverter*> byName;
  ~ConverterCache() {
    for (auto& [cp, conv] : byCodePage)
      if (conv)
        ucnv_close(conv);
    for (auto& [name, conv] : byName)
      if (conv)
        ucnv_close(conv);
  }
};
thread_local ConverterCache converterCache;

UConverter* OpenByName(const char* name) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* conv = ucnv_open(name, &err);
  if (U_FAILURE(err))
    return nullptr;
  return conv;
}

UConverter* ConverterForCodePage(unsigned codePage) {
  auto it = converterCache.byCodePage.find(codePage);
  if (it != converterCache.byCodePage.end()) {
    if (it->second)
      ucnv_reset(it->second);
    return it->second;
  }
  const char* name = IcuConverterName(codePage);
  UConverter* conv = name ? OpenByName(name) : nullptr;
  converterCache.byCodePage.emplace(codePage, conv);
  return conv;
}

// A converter for a charset name that the table does not know, if ICU knows the name.
UConverter* ConverterForName(const std::string& charset) {
  auto it = converterCache.byName.find(charset);
  if (it != converterCache.byName.end()) {
    if (it->second)
      ucnv_reset(it->second);
    return it->second;
  }
  UConverter* conv = nullptr;
  // ICU's open also accepts option strings after a comma; a charset name never has one.
  if (!charset.empty() && charset.size() < 64 && charset.find(',') == std::string::npos &&
      charset.find('\0') == std::string::npos)
    conv = OpenByName(charset.c_str());
  // Bound the cache: names come from mail headers, which are hostile input.
  if (converterCache.byName.size() < 64)
    converterCache.byName.emplace(charset, conv);
  else if (conv) {
    // Not cached: hand it out through a one-slot holder that is freed on the next call.
    static thread_local std::unique_ptr<UConverter, void (*)(UConverter*)> spare(nullptr,
                                                                                 ucnv_close);
    spare.reset(conv);
  }
  return conv;
}

std::u16string ToWide(UConverter* conv, std::string_view bytes) {
  std::u16string out;
  if (!conv || bytes.empty())
    return out;
  out.resize(bytes.size() + 16);
  for (;;) {
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                              static_cast<int32_t>(bytes.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<std::size_t>(n) + 1);
      ucnv_reset(conv);
      continue;
    }
    if (U_FAILURE(err))
      return {};
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
}

// `stopOnUnmappable`: report failure instead of writing the substitute.
bool FromWide(UConverter* conv, std::u16string_view text, bool stopOnUnmappable, std::string& out) {
  out.clear();
  if (!conv)
    return false;
  if (text.empty())
    return true;
  UErrorCode err = U_ZERO_ERROR;
  if (stopOnUnmappable)
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  else
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
  out.resize(text.size() * 2 + 16);
  for (;;) {
    err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                                reinterpret_cast<const UChar*>(text.data()),
                                static_cast<int32_t>(text.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<std::size_t>(n) + 1);
      ucnv_reset(conv);
      continue;
    }
    if (U_FAILURE(err)) {
      out.clear();
      return false;
    }
    out.resize(static_cast<std::size_t>(n));
    return true;
  }
}

std::u16string CutAtZero(std::u16string text) {
  std::size_t zero = text.find(u'\0');
  if (zero != std::u16string::npos)
    text.resize(zero);
  return text;
}

std::u16string_view CutAtZero(std::u16string_view text) {
  std::size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
      return false;
  return true;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = AsciiUpper(c);
  return out;
}

int TableCodePage(const std::string& charset) {
  for (const TMsgCodePageData& row : MsgCodePages)
    if (EqualsIgnoreCase(charset, row.Name))
      return row.CodePage;
  return 0;
}

// ---- UTF-8 -------------------------------------------------------------------------------------

constexpr char16_t kReplacement = 0xFFFD;

// Walks UTF-8 the way the Unicode standard's "maximal subpart" practice counts errors: each
// ill-formed subsequence is reported once, and decoding resumes at the first byte that cannot
// continue it. `emit(codePoint)` gets every code point, `bad()` every error; `bad` returns false
// to stop the walk early.
template <typename Emit, typename Bad>
void WalkUtf8(std::string_view bytes, Emit&& emit, Bad&& bad) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned b = p[i];
    if (b < 0x80) {
      emit(b);
      ++i;
      continue;
    }
    int need;
    unsigned lo = 0x80, hi = 0xBF;
    char32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0)
        lo = 0xA0; // no overlong forms
      else if (b == 0xED)
        hi = 0x9F; // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0)
        lo = 0x90;
      else if (b == 0xF4)
        hi = 0x8F; // nothing above U+10FFFF
    } else {
      if (!bad())
        return;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    int k = 0;
    for (; k < need; ++k, ++j) {
      if (j >= n || p[j] < lo || p[j] > hi)
        break;
      cp = (cp << 6) | (p[j] & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    if (k == need)
      emit(cp);
    else if (!bad())
      return;
    i = j;
  }
}

std::u16string LenientUtf8ToWide(std::string_view bytes) {
  // No byte gives more than one UTF-16 unit (four give a surrogate pair), so the units are
  // written into room made once, not appended one by one.
  std::u16string out(bytes.size(), u'\0');
  char16_t* next = out.data();
  WalkUtf8(
      bytes,
      [&](char32_t cp) {
        if (cp < 0x10000) {
          *next++ = static_cast<char16_t>(cp);
        } else {
          cp -= 0x10000;
          *next++ = static_cast<char16_t>(0xD800 + (cp >> 10));
          *next++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
      },
      [&] {
        *next++ = kReplacement;
        return true;
      });
  out.resize(static_cast<std::size_t>(next - out.data()));
  // Text of two- and three-byte characters needs far less room than its bytes.
  if (out.size() < bytes.size() / 4 * 3)
    out.shrink_to_fit();
  return out;
}

// Whether the four units at p are all below 0x80.
bool AllAscii4(const char16_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0xFF80FF80FF80FF80ull) == 0;
}

// Whether the eight units at p are all below 0x80; if so, their bytes go to out (eight of them).
bool CopyAscii8(const char16_t* p, char* out) {
#if defined(__SSE2__)
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF)
    return false;
  if (out != nullptr)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
  return true;
#else
  if (!AllAscii4(p) || !AllAscii4(p + 4))
    return false;
  if (out != nullptr) {
    for (int k = 0; k < 8; ++k)
      out[k] = static_cast<char>(p[k]);
  }
  return true;
#endif
}

std::string WideToUtf8(std::u16string_view text) {
  // Two passes: the exact length first, so that the bytes are written straight into place.
  const std::size_t n = text.size();
  std::size_t length = 0;
  for (std::size_t i = 0; i < n; ++i) {
    // Mail text is mostly ASCII: eight units at a time while they are, then four.
    while (i + 8 <= n && CopyAscii8(text.data() + i, nullptr)) {
      i += 8;
      length += 8;
    }
    while (i + 4 <= n && AllAscii4(text.data() + i)) {
      i += 4;
      length += 4;
    }
    if (i >= n)
      break;
    const char16_t u = text[i];
    if (u < 0x80) {
      length += 1;
    } else if (u < 0x800) {
      length += 2;
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      length += 4;
      ++i;
    } else {
      length += 3; // other code units and unpaired surrogates (U+FFFD)
    }
  }
  std::string out(length, '\0');
  char* o = out.data();
  for (std::size_t i = 0; i < n; ++i) {
    while (i + 8 <= n && CopyAscii8(text.data() + i, o)) {
      o += 8;
      i += 8;
    }
    while (i + 4 <= n && AllAscii4(text.data() + i)) {
      o[0] = static_cast<char>(text[i]);
      o[1] = static_cast<char>(text[i + 1]);
      o[2] = static_cast<char>(text[i + 2]);
      o[3] = static_cast<char>(text[i + 3]);
      o += 4;
      i += 4;
    }
    if (i >= n)
      break;
    char32_t u = text[i];
    if (u < 0x80) {
      *o++ = static_cast<char>(u);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        u = kReplacement;
      }
    }
    if (u < 0x800) {
      *o++ = static_cast<char>(0xC0 | (u >> 6));
      *o++ = static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (u >> 12));
      *o++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (u >> 18));
      *o++ = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// ---- Cyrillic fallback tables -----------------------------------------------------------------

using ByteTable = std::array<unsigned char, 256>;

constexpr unsigned char kWin1251ToCp866Row80[64] = {
    0x3F, 0x3F, 0x27, 0x3F, 0x22, 0x3A, 0xC5, 0xD8, 0x3F, 0x25, 0x3F, 0x3C, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x27, 0x27, 0x22, 0x22, 0x07, 0x2D, 0x2D, 0x3F, 0x54, 0x3F, 0x3E, 0x3F, 0x3F, 0x3F, 0x3F,
    0xFF, 0xF6, 0xF7, 0x3F, 0xFD, 0x3F, 0xB3, 0x15, 0xF0, 0x63, 0xF2, 0x3C, 0xBF, 0x2D, 0x52, 0xF4,
    0xF8, 0x2B, 0x49, 0x69, 0x3F, 0xE7, 0x14, 0xFA, 0xF1, 0xFC, 0xF3, 0x3E, 0x3F, 0x3F, 0x3F, 0xF5};

// Position in the Russian alphabet (а = 0 ... я = 31) of the KOI8 letters 0xC0..0xDF; the same
// order repeats in upper case at 0xE0..0xFF. Windows-1251 keeps alphabet order.
constexpr unsigned char kKoi8LetterOrder[32] = {30, 0,  1,  22, 4,  5,  20, 3,  21, 8,  9,
                                                10, 11, 12, 13, 14, 15, 31, 16, 17, 18, 19,
                                                6,  2,  28, 27, 7,  24, 29, 25, 23, 26};

struct CyrillicTables {
  ByteTable t[4];
  CyrillicTables() {
    for (int b = 0; b < 256; ++b)
      t[0][b] = static_cast<unsigned char>(b);
    t[1] = t[0];
    for (int b = 0x80; b < 0xC0; ++b)
      t[1][b] = kWin1251ToCp866Row80[b - 0x80];
    for (int b = 0xC0; b < 0xE0; ++b)
      t[1][b] = static_cast<unsigned char>(b - 0xC0 + 0x80);
    for (int b = 0xE0; b < 0xF0; ++b)
      t[1][b] = static_cast<unsigned char>(b - 0xE0 + 0xA0);
    for (int b = 0xF0; b < 0x100; ++b)
      t[1][b] = static_cast<unsigned char>(b - 0xF0 + 0xE0);

    t[2] = t[0];
    t[2][0xA3] = 0xB8; // ё
    t[2][0xB3] = 0xA8; // Ё
    for (int i = 0; i < 32; ++i) {
      t[2][0xC0 + i] = static_cast<unsigned char>(0xE0 + kKoi8LetterOrder[i]);
      t[2][0xE0 + i] = static_cast<unsigned char>(0xC0 + kKoi8LetterOrder[i]);
    }
    // KOI8-U is KOI8-R plus the Ukrainian letters in the pseudographics block.
    t[3] = t[2];
    t[3][0xA4] = 0xBA; // є
    t[3][0xA6] = 0xB3; // і
    t[3][0xA7] = 0xBF; // ї
    t[3][0xAD] = 0xB4; // ґ
    t[3][0xB4] = 0xAA; // Є
    t[3][0xB6] = 0xB2; // І
    t[3][0xB7] = 0xAF; // Ї
    t[3][0xBD] = 0xA5; // Ґ
  }
};

const CyrillicTables& Cyrillic() {
  static const CyrillicTables tables;
  return tables;
}

// The code page a Cyrillic fallback kind stands for.
unsigned CyrillicCodePage(int kind) {
  switch (kind) {
  case 1:
    return 1251;
  case 2:
    return 20866;
  case 3:
    return 21866;
  default:
    return 0;
  }
}

} // namespace

// ---- public ------------------------------------------------------------------------------------

const char* IcuConverterName(unsigned codePage) {
  for (const IcuName& n : kIcuNames)
    if (n.CodePage == codePage)
      return n.Converter;
  // Outside the table: whatever ICU knows under the Windows number.
  char alias[32];
  std::snprintf(alias, sizeof alias, "windows-%u", codePage);
  UErrorCode err = U_ZERO_ERROR;
  if (ucnv_countAliases(alias, &err) == 0 || U_FAILURE(err))
    return nullptr;
  err = U_ZERO_ERROR;
  const char* canonical = ucnv_getAlias(alias, 0, &err);
  return U_SUCCESS(err) ? canonical : nullptr;
}

namespace {

// The name under which ICU knows a charset (its converter's canonical name), or "" when ICU does
// not know it. ICU's own matching ignores case, "-", "_" and a leading "x-", so that "x-gbk",
// "cp932" and "Windows-31J" are found.
std::string IcuCanonicalName(const std::string& charset) {
  if (charset.empty() || charset.size() >= 64 || charset.find(',') != std::string::npos ||
      charset.find('\0') != std::string::npos)
    return {};
  UErrorCode err = U_ZERO_ERROR;
  const char* alias = ucnv_getAlias(charset.c_str(), 0, &err);
  if (U_SUCCESS(err) && alias != nullptr)
    return alias;
  if (UConverter* conv = ConverterForName(charset)) {
    err = U_ZERO_ERROR;
    const char* name = ucnv_getName(conv, &err);
    if (U_SUCCESS(err) && name != nullptr)
      return name;
  }
  return {};
}

// The code page of the first table row whose converter is ICU's converter for the name.
int IcuCodePageUncached(const std::string& charset) {
  const std::string canonical = IcuCanonicalName(charset);
  if (canonical.empty())
    return 0;
  // First the rows whose own name ICU reads as the same charset ("us-ascii" for "ascii"), then
  // those whose converter is the same (a stand-in converter serves several rows).
  for (const TMsgCodePageData& row : MsgCodePages) {
    UErrorCode err = U_ZERO_ERROR;
    const char* rowCanonical = ucnv_getAlias(row.Name, 0, &err);
    if (U_SUCCESS(err) && rowCanonical != nullptr && EqualsIgnoreCase(canonical, rowCanonical))
      return row.CodePage;
  }
  for (const TMsgCodePageData& row : MsgCodePages) {
    const char* converter = IcuConverterName(static_cast<unsigned>(row.CodePage));
    if (converter == nullptr)
      continue;
    UErrorCode err = U_ZERO_ERROR;
    const char* rowCanonical = ucnv_getAlias(converter, 0, &err);
    if (U_FAILURE(err) || rowCanonical == nullptr)
      rowCanonical = converter;
    if (EqualsIgnoreCase(canonical, rowCanonical))
      return row.CodePage;
  }
  return 0;
}

// Names come from mail headers, one per part: remember a few answers.
int IcuCodePage(const std::string& charset) {
  static thread_local std::unordered_map<std::string, int> answers;
  if (auto it = answers.find(charset); it != answers.end())
    return it->second;
  const int cp = IcuCodePageUncached(charset);
  if (answers.size() < 64)
    answers.emplace(charset, cp);
  return cp;
}

} // namespace

bool IsKnownCharset(const std::string& charset) {
  return EqualsIgnoreCase(charset, "utf-8") || TableCodePage(charset) != 0 ||
         IsIso8859_16Name(charset) || ConverterForName(charset) != nullptr ||
         CyrillicKind(charset) != 0;
}

int CharsetToCodePage(const std::string& charset) {
  if (int cp = TableCodePage(charset))
    return cp;
  // Every alias that ICU knows names the code page of the same converter: "cp1251", "gbk",
  // "windows-31j" are the code pages 1251, 936 and 932, not an unknown charset.
  if (int cp = IcuCodePage(charset))
    return cp;
  std::string upper = UpperAscii(charset);
  if (upper.rfind("WINDOWS-", 0) != 0)
    return 0;
  std::string_view digits = std::string_view(upper).substr(8);
  if (digits.empty() || digits.size() > 9)
    return 0;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

const TMsgCodePageData* FindCodePage(int codePage) {
  // The first row of each code page, by number: the writers look one up for every message.
  static const std::unordered_map<int, const TMsgCodePageData*> byNumber = [] {
    std::unordered_map<int, const TMsgCodePageData*> index;
    for (const TMsgCodePageData& row : MsgCodePages)
      index.emplace(row.CodePage, &row);
    return index;
  }();
  const auto it = byNumber.find(codePage);
  return it == byNumber.end() ? nullptr : it->second;
}

std::string CodePageToCharset(int codePage) {
  const TMsgCodePageData* row = FindCodePage(codePage);
  return row ? row->Name : "";
}

std::u16string CodePageToWide(std::string_view bytes, unsigned codePage) {
  if (bytes.empty())
    return {};
  if (codePage == 65001)
    return CutAtZero(LenientUtf8ToWide(bytes));
  return CutAtZero(ToWide(ConverterForCodePage(codePage), bytes));
}

namespace {

// ICU leaves HZ text in GB mode when it ends with a Chinese character; the text must return to
// ASCII ("~}") so that whatever is written after it reads as ASCII.
void CloseHz(std::string& out) {
  bool gb = false;
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] != '~')
      continue;
    if (out[i + 1] == '{')
      gb = true;
    else if (out[i + 1] == '}')
      gb = false;
    ++i;
  }
  if (gb)
    out += "~}";
}

} // namespace

std::string WideToCodePage(std::u16string_view text, unsigned codePage) {
  std::string out;
  text = CutAtZero(text);
  if (text.empty())
    return out;
  if (codePage == 65001)
    return WideToUtf8(text);
  FromWide(ConverterForCodePage(codePage), text, false, out);
  if (codePage == 52936)
    CloseHz(out);
  return out;
}

bool TryWideToCodePage(std::u16string_view text, unsigned codePage, std::string& out) {
  text = CutAtZero(text);
  if (codePage == 65001) {
    out = WideToUtf8(text);
    return true;
  }
  if (!FromWide(ConverterForCodePage(codePage), text, true, out))
    return false;
  if (codePage == 52936)
    CloseHz(out);
  return true;
}

std::string EncodeUtf8(std::u16string_view text) {
  return WideToUtf8(text);
}

std::u16string DecodeUtf8(std::string_view bytes) {
  if (!IsValidUtf8(bytes))
    return {};
  return LenientUtf8ToWide(bytes);
}

bool IsValidUtf8(std::string_view bytes) {
  // Plain ASCII is by far the most common case: skip it eight bytes at a time.
  std::size_t i = 0;
  while (i + 8 <= bytes.size()) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    if (word & 0x8080808080808080ull)
      break;
    i += 8;
  }
  bool valid = true;
  WalkUtf8(
      bytes.substr(i), [](char32_t) {},
      [&] {
        valid = false;
        return false;
      });
  return valid;
}

std::u16string SystemToWide(std::string_view bytes) {
  return LenientUtf8ToWide(bytes);
}

std::string WideToSystem(std::u16string_view text) {
  return WideToUtf8(text);
}

int CyrillicKind(const std::string& charset) {
  std::string upper = UpperAscii(charset);
  if (upper.find("WINDOWS-1251") != std::string::npos || upper.find("X-1251") != std::string::npos)
    return 1;
  if (upper.find("KOI8-R") != std::string::npos)
    return 2;
  if (upper.find("KOI8-U") != std::string::npos)
    return 3;
  return 0;
}

void TranslateCyrillic(int fromKind, int toKind, std::string& bytes) {
  if (bytes.empty())
    return;
  const CyrillicTables& tables = Cyrillic();
  const ByteTable& from = tables.t[(fromKind >= 0 && fromKind <= 3) ? fromKind : 0];
  const ByteTable& to = tables.t[(toKind >= 0 && toKind <= 3) ? toKind : 0];
  for (char& c : bytes)
    c = static_cast<char>(to[from[static_cast<unsigned char>(c)]]);
}

std::u16string DecodeCharset(const std::string& charset, std::string_view bytes) {
  if (bytes.empty())
    return {};
  if (EqualsIgnoreCase(charset, "utf-8")) {
    // One bad byte must not cost the whole text: keep what is well formed.
    return LenientUtf8ToWide(bytes);
  }
  if (int cp = TableCodePage(charset))
    return CodePageToWide(bytes, static_cast<unsigned>(cp));
  if (IsIso8859_16Name(charset))
    return DecodeIso8859_16(bytes);
  // ICU knows every registered name and alias; the Cyrillic markers only serve names it does not.
  if (UConverter* conv = ConverterForName(charset))
    return CutAtZero(ToWide(conv, bytes));
  if (int kind = CyrillicKind(charset))
    return CodePageToWide(bytes, CyrillicCodePage(kind));
  return DecodeStoredText(bytes, 0);
}

namespace {

bool EncodeCharsetImpl(const std::string& charset, std::u16string_view text, bool exact,
                       std::string& out) {
  if (EqualsIgnoreCase(charset, "utf-8")) {
    out = WideToUtf8(text);
    return true;
  }
  unsigned cp = static_cast<unsigned>(TableCodePage(charset));
  if (!cp && IsIso8859_16Name(charset))
    return EncodeIso8859_16(text, exact, out) || !exact;
  UConverter* conv = cp ? nullptr : ConverterForName(charset);
  if (!cp && !conv)
    cp = CyrillicCodePage(CyrillicKind(charset));
  if (cp) {
    if (exact)
      return TryWideToCodePage(text, cp, out);
    out = WideToCodePage(text, cp);
    return true;
  }
  if (conv)
    return FromWide(conv, CutAtZero(text), exact, out) || !exact;
  // An unknown name leaves the text in the system code page.
  out = WideToUtf8(text);
  return !exact;
}

} // namespace

std::string EncodeCharset(const std::string& charset, std::u16string_view text) {
  std::string out;
  if (!text.empty())
    EncodeCharsetImpl(charset, text, false, out);
  return out;
}

bool TryEncodeCharset(const std::string& charset, std::u16string_view text, std::string& out) {
  out.clear();
  return EncodeCharsetImpl(charset, text, true, out);
}

void TranslateCharset(const std::string& charset, bool encode, std::u16string& text) {
  if (text.empty())
    return;
  if (encode) {
    std::string bytes = EncodeCharset(charset, text);
    text.assign(bytes.begin(), bytes.end());
    for (char16_t& c : text)
      c = static_cast<unsigned char>(c);
    return;
  }
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c <= 0xFF) {
      bytes.push_back(static_cast<char>(c));
    } else {
      std::size_t end = i + 1;
      while (end < text.size() && text[end] > 0xFF)
        ++end;
      bytes += WideToUtf8(std::u16string_view(text).substr(i, end - i));
      i = end - 1;
    }
  }
  text = DecodeCharset(charset, bytes);
}

void DefaultEncodeCodepage(void* /*sender*/, const std::string& aCodePage, std::string& value) {
  if (value.empty())
    return;
  value = EncodeCharset(aCodePage, SystemToWide(value));
}

void DefaultDecodeCodepage(void* /*sender*/, const std::string& aCodePage, std::string& value) {
  if (value.empty())
    return;
  value = WideToSystem(DecodeCharset(aCodePage, value));
}

int WindowsFamilyCodePage(int codePage) {
  switch (codePage) {
  case 50220:
  case 50221:
  case 50222:
  case 51932:
  case 20932:
    return 932;
  case 50225:
  case 51949:
  case 20949:
    return 949;
  case 52936:
  case 51936:
  case 20936:
  case 50227:
    return 936;
  case 20866:
  case 21866:
  case 28595:
    return 1251;
  case 28591:
  case 28605:
  case 20127:
    return 1252;
  case 28592:
    return 1250;
  case 28597:
    return 1253;
  case 28599:
    return 1254;
  case 28598:
  case 38598:
    return 1255;
  case 28596:
    return 1256;
  case 28594:
  case 28603:
    return 1257;
  // 8-bit strings cannot be stored in a 16- or 32-bit form; messages in these are stored as
  // Unicode, and their 8-bit strings in the system code page.
  case 1200:
  case 1201:
  case 12000:
  case 12001:
  case 65000:
    return 65001;
  default:
    return codePage;
  }
}

std::u16string DecodeStoredText(std::string_view bytes, int codePage) {
  codePage = WindowsFamilyCodePage(codePage);
  if (codePage > 0 && codePage != 65001 && IcuConverterName(static_cast<unsigned>(codePage)))
    return CodePageToWide(bytes, static_cast<unsigned>(codePage));
  if (IsValidUtf8(bytes))
    return CodePageToWide(bytes, 65001);
  return CodePageToWide(bytes, 1252);
}

} // namespace orlendo
