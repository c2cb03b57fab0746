#include "text/rtf_tokenizer.h"

#include <algorithm>
#include <limits>

#include "text/qvmsgcp.h"
#include "text/ascii.h"

namespace orlendo {

namespace {

// Parameters beyond this cannot mean anything real; saturating here keeps the arithmetic safe.
constexpr int64_t kParamLimit = int64_t{1} << 53;

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}


// Bytes that end a text run: markup, and the line breaks and NULs that RTF files carry between
// tokens without meaning.
struct SpecialTable {
  bool special[256] = {};
  constexpr SpecialTable() {
    special[static_cast<unsigned char>('\\')] = true;
    special[static_cast<unsigned char>('{')] = true;
    special[static_cast<unsigned char>('}')] = true;
    special[static_cast<unsigned char>('\r')] = true;
    special[static_cast<unsigned char>('\n')] = true;
    special[0] = true;
  }
};
constexpr SpecialTable kSpecial;

} // namespace

int RtfToken::ParamOr(int fallback) const {
  if (!hasParam)
    return fallback;
  if (param > std::numeric_limits<int>::max())
    return std::numeric_limits<int>::max();
  if (param < std::numeric_limits<int>::min())
    return std::numeric_limits<int>::min();
  return static_cast<int>(param);
}

RtfTokenizer::RtfTokenizer() {
  Reset();
}

RtfTokenizer::RtfTokenizer(std::string_view completeInput) {
  Reset(completeInput);
}

void RtfTokenizer::Reset(std::string_view completeInput) {
  Reset();
  data_ = completeInput;
  final_ = true;
  incremental_ = false;
}

void RtfTokenizer::Reset() {
  buffer_.clear();
  data_ = {};
  pos_ = 0;
  base_ = 0;
  final_ = false;
  incremental_ = true;
  endReported_ = false;
  depth_ = 0;
  flattened_ = 0;
  skip_ = 0;
  uc_.fill(1); // RTF's default: one fallback character after each \uN
  problems_.clear();
}

void RtfTokenizer::Feed(std::string_view chunk) {
  if (!incremental_ || final_)
    return;
  buffer_.erase(0, pos_);
  base_ += pos_;
  pos_ = 0;
  buffer_.append(chunk);
  data_ = buffer_;
}

void RtfTokenizer::Finish() {
  final_ = true;
}

void RtfTokenizer::AddProblem(uint64_t offset, RtfProblemCode code, std::string_view item) {
  if (problems_.size() < kMaxProblems)
    problems_.push_back({offset, code, std::string(item.substr(0, 32))});
}

RtfTokenizer::RawResult RtfTokenizer::ReadControl(RtfToken& token) {
  const std::size_t size = data_.size();
  const std::size_t start = pos_;
  if (start + 1 >= size) {
    if (!final_)
      return RawResult::kNeedMore;
    AddProblem(base_ + start, RtfProblemCode::kTruncatedControl, "\\");
    pos_ = size;
    return RawResult::kSkip;
  }
  const char c = data_[start + 1];
  if (IsLetter(c)) {
    std::size_t i = start + 1;
    while (i < size && IsLetter(data_[i]))
      ++i;
    if (i == size && !final_)
      return RawResult::kNeedMore;
    token.kind = RtfTokenKind::kControlWord;
    token.text = data_.substr(start + 1, i - start - 1);
    // A "-" belongs to the parameter only when a digit follows it.
    bool negative = false;
    if (i < size && data_[i] == '-') {
      if (i + 1 == size && !final_)
        return RawResult::kNeedMore;
      if (i + 1 < size && IsDigit(data_[i + 1])) {
        negative = true;
        ++i;
      }
    }
    if (i < size && IsDigit(data_[i])) {
      int64_t value = 0;
      while (i < size && IsDigit(data_[i])) {
        value = std::min(kParamLimit, value * 10 + (data_[i] - '0'));
        ++i;
      }
      if (i == size && !final_)
        return RawResult::kNeedMore;
      token.hasParam = true;
      token.param = negative ? -value : value;
    }
    // One space delimits the word and is part of it.
    if (i < size && data_[i] == ' ')
      ++i;
    else if (i == size && !final_)
      return RawResult::kNeedMore;
    if (token.text == "bin" && token.hasParam && token.param > 0) {
      const std::size_t available = size - i;
      std::size_t length =
          static_cast<std::size_t>(std::min<int64_t>(token.param, static_cast<int64_t>(available)));
      if (static_cast<uint64_t>(token.param) > available) {
        if (!final_)
          return RawResult::kNeedMore;
        AddProblem(base_ + start, RtfProblemCode::kBinaryTruncated, "bin");
      }
      token.kind = RtfTokenKind::kBinary;
      token.text = data_.substr(i, length);
      i += length;
    }
    pos_ = i;
    return RawResult::kToken;
  }
  if (c == '\'') {
    if (start + 3 >= size && !final_)
      return RawResult::kNeedMore;
    const int high = start + 2 < size ? HexValue(data_[start + 2]) : -1;
    const int low = start + 3 < size ? HexValue(data_[start + 3]) : -1;
    if (high >= 0 && low >= 0) {
      token.kind = RtfTokenKind::kHexByte;
      token.byte = static_cast<uint8_t>(high * 16 + low);
      pos_ = start + 4;
      return RawResult::kToken;
    }
    AddProblem(base_ + start, RtfProblemCode::kBadHexEscape, data_.substr(start, 4));
    // Drop the escape and the one digit it has, if any; what follows is ordinary input again.
    pos_ = std::min(size, start + (high >= 0 ? 3 : 2));
    return RawResult::kSkip;
  }
  pos_ = start + 2;
  if (c == '\r' || c == '\n') {
    // A backslash before a line break is an old spelling of \par.
    token.kind = RtfTokenKind::kControlWord;
    token.text = "par";
    return RawResult::kToken;
  }
  token.kind = RtfTokenKind::kControlSymbol;
  token.symbol = c;
  return RawResult::kToken;
}

RtfTokenizer::RawResult RtfTokenizer::ReadRaw(RtfToken& token) {
  const std::size_t size = data_.size();
  if (pos_ >= size)
    return RawResult::kNeedMore;
  token.offset = base_ + pos_;
  const char c = data_[pos_];
  switch (c) {
  case '{':
    ++pos_;
    token.kind = RtfTokenKind::kGroupStart;
    return RawResult::kToken;
  case '}':
    ++pos_;
    token.kind = RtfTokenKind::kGroupEnd;
    return RawResult::kToken;
  case '\\':
    return ReadControl(token);
  case '\r':
  case '\n':
  case '\0':
    ++pos_;
    return RawResult::kSkip;
  default:
    break;
  }
  std::size_t i = pos_ + 1;
  while (i < size && !kSpecial.special[static_cast<unsigned char>(data_[i])])
    ++i;
  token.kind = RtfTokenKind::kText;
  token.text = data_.substr(pos_, i - pos_);
  pos_ = i;
  return RawResult::kToken;
}

RtfToken RtfTokenizer::Next() {
  for (;;) {
    RtfToken token;
    const std::size_t start = pos_;
    RawResult result = ReadRaw(token);
    if (result == RawResult::kNeedMore) {
      pos_ = start;
      if (!final_) {
        token.kind = RtfTokenKind::kNeedMoreInput;
        return token;
      }
      if (!endReported_) {
        endReported_ = true;
        if (depth_ > 0 || flattened_ > 0)
          AddProblem(base_ + pos_, RtfProblemCode::kUnclosedGroups, "}");
      }
      token.kind = RtfTokenKind::kEnd;
      token.offset = base_ + pos_;
      return token;
    }
    if (result == RawResult::kSkip)
      continue;

    if (token.kind == RtfTokenKind::kGroupStart || token.kind == RtfTokenKind::kGroupEnd) {
      // Fallback text never crosses a group boundary.
      skip_ = 0;
      if (token.kind == RtfTokenKind::kGroupStart) {
        if (depth_ >= kMaxGroupDepth) {
          if (flattened_++ == 0)
            AddProblem(token.offset, RtfProblemCode::kGroupTooDeep, "{");
          continue;
        }
        uc_[depth_ + 1] = uc_[depth_];
        ++depth_;
      } else {
        if (flattened_ > 0) {
          --flattened_;
          continue;
        }
        if (depth_ == 0) {
          AddProblem(token.offset, RtfProblemCode::kUnbalancedGroupEnd, "}");
          continue;
        }
        --depth_;
      }
      return token;
    }

    if (skip_ > 0) {
      if (token.kind == RtfTokenKind::kText) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(skip_), token.text.size());
        skip_ -= static_cast<int>(n);
        token.text.remove_prefix(n);
        token.offset += n;
        if (token.text.empty())
          continue;
        return token;
      }
      --skip_;
      continue;
    }

    if (token.kind == RtfTokenKind::kControlWord && token.text.size() <= 2) {
      if (token.text == "uc") {
        uc_[depth_] = std::clamp(token.ParamOr(1), 0, 16);
      } else if (token.text == "u" && token.hasParam) {
        int64_t value = token.param;
        if (value < 0)
          value += 65536; // writers store code units above 32767 as negative numbers
        token.kind = RtfTokenKind::kUnicode;
        token.unit = static_cast<char16_t>(value & 0xFFFF);
        skip_ = uc_[depth_];
      }
    }
    return token;
  }
}

unsigned RtfCharsetToCodePage(int fcharset) {
  switch (fcharset) {
  case 0:
    return 1252;
  case 2:
    return 1252; // symbol fonts: no code page maps their glyphs; keep the bytes readable
  case 77:
    return 10000;
  case 78:
    return 10001;
  case 79:
    return 10003;
  case 80:
    return 10008;
  case 81:
    return 10002;
  case 83:
    return 10005;
  case 84:
    return 10004;
  case 85:
    return 10006;
  case 86:
    return 10081;
  case 87:
    return 10021;
  case 88:
    return 10029;
  case 89:
    return 10007;
  case 128:
    return 932;
  case 129:
    return 949;
  case 130:
    return 1361;
  case 134:
    return 936;
  case 136:
    return 950;
  case 161:
    return 1253;
  case 162:
    return 1254;
  case 163:
    return 1258;
  case 177:
  case 181:
    return 1255;
  case 178:
  case 179:
  case 180:
    return 1256;
  case 186:
    return 1257;
  case 204:
    return 1251;
  case 222:
    return 874;
  case 238:
    return 1250;
  case 254:
    return 437;
  case 255:
    return 850;
  default:
    return 0;
  }
}

unsigned RtfUsableCodePage(unsigned codePage) {
  if (codePage == 65001 || codePage == 1252)
    return codePage;
  if (codePage == 0 || codePage > 65535 || !IcuConverterName(codePage))
    return 1252;
  return codePage;
}

namespace {

// Code pages in which a byte below 0x80 always stands for the ASCII character, whatever
// surrounds it; text in them that is pure ASCII needs no converter.
bool IsAsciiTransparent(unsigned codePage) {
  return (codePage >= 1250 && codePage <= 1258) || codePage == 65001 || codePage == 874 ||
         codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
         codePage == 437 || codePage == 850 || codePage == 10000 ||
         (codePage >= 28591 && codePage <= 28605);
}

bool IsAscii(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}

} // namespace

void RtfTextDecoder::AppendBytes(std::string_view bytes, unsigned codePage) {
  if (bytes.empty())
    return;
  if (!bytes_.empty() && codePage != bytesCodePage_)
    DecodeBytes();
  bytesCodePage_ = codePage;
  bytes_.append(bytes);
}

void RtfTextDecoder::AppendByte(uint8_t byte, unsigned codePage) {
  const char c = static_cast<char>(byte);
  AppendBytes(std::string_view(&c, 1), codePage);
}

void RtfTextDecoder::AppendUnit(char16_t unit) {
  if (!bytes_.empty())
    DecodeBytes();
  units_ += unit;
}

void RtfTextDecoder::AppendCodePoint(char32_t codePoint) {
  if (codePoint >= 0x10000 && codePoint <= 0x10FFFF) {
    AppendUnit(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
    AppendUnit(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
  } else {
    AppendUnit(codePoint > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(codePoint));
  }
}

void RtfTextDecoder::DecodeBytes() {
  if (bytes_.empty())
    return;
  if (IsAsciiTransparent(bytesCodePage_) && IsAscii(bytes_)) {
    FlushUnits();
    WriteUtf8(bytes_);
  } else {
    units_ += CodePageToWide(bytes_, bytesCodePage_);
  }
  bytes_.clear();
}

void RtfTextDecoder::FlushUnits() {
  if (units_.empty())
    return;
  const std::string utf8 = EncodeUtf8(units_);
  units_.clear();
  WriteUtf8(utf8);
}

void RtfTextDecoder::Flush() {
  DecodeBytes();
  FlushUnits();
}

void RtfTextDecoder::SetTarget(std::string* target) {
  Flush();
  target_ = target;
}

void RtfTextDecoder::WriteUtf8(std::string_view utf8) {
  if (!target_)
    return;
  if (!escapeHtml_) {
    target_->append(utf8);
    return;
  }
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char* entity = nullptr;
    const char c = utf8[i];
    switch (c) {
    case '&':
      entity = "&amp;";
      break;
    case '<':
      entity = "&lt;";
      break;
    case '>':
      entity = "&gt;";
      break;
    case '"':
      entity = "&quot;";
      break;
    case ' ':
      if (lastWasSpace_)
        entity = "&nbsp;";
      break;
    default:
      break;
    }
    lastWasSpace_ = c == ' ';
    if (!entity)
      continue;
    target_->append(utf8.substr(runStart, i - runStart));
    target_->append(entity);
    runStart = i + 1;
  }
  target_->append(utf8.substr(runStart));
}

namespace {

constexpr std::string_view kNonTextDestinations[] = {
    "aftncn",
    "aftnsep",
    "aftnsepc",
    "annotation",
    "atnauthor",
    "atndate",
    "atnicn",
    "atnid",
    "atnparent",
    "atnref",
    "atntime",
    "atrfend",
    "atrfstart",
    "author",
    "background",
    "bkmkend",
    "bkmkstart",
    "blipuid",
    "buptim",
    "category",
    "colorschememapping",
    "colortbl",
    "comment",
    "company",
    "creatim",
    "datafield",
    "datastore",
    "defchp",
    "defpap",
    "do",
    "doccomm",
    "docvar",
    "dptxbxtext",
    "ebcend",
    "ebcstart",
    "factoidname",
    "falt",
    "fchars",
    "ffdeftext",
    "ffentrymcr",
    "ffexitmcr",
    "ffformat",
    "ffhelptext",
    "ffl",
    "ffname",
    "ffstattext",
    "file",
    "filetbl",
    "fldinst",
    "fldtype",
    "fname",
    "fontemb",
    "fontfile",
    "footer",
    "footerf",
    "footerl",
    "footerr",
    "footnote",
    "formfield",
    "ftncn",
    "ftnsep",
    "ftnsepc",
    "generator",
    "gridtbl",
    "header",
    "headerf",
    "headerl",
    "headerr",
    "hl",
    "hlfr",
    "hlinkbase",
    "hlloc",
    "hlsrc",
    "hsv",
    "htmltag",
    "info",
    "keycode",
    "keywords",
    "latentstyles",
    "lchars",
    "levelnumbers",
    "leveltext",
    "lfolevel",
    "linkval",
    "list",
    "listlevel",
    "listname",
    "listoverride",
    "listoverridetable",
    "listpicture",
    "liststylename",
    "listtable",
    "listtext",
    "lsdlockedexcept",
    "macc",
    "maccPr",
    "mailmerge",
    "manager",
    "mhtmltag",
    "mmathPr",
    "mnary",
    "mnaryPr",
    "mod",
    "movefrom",
    "moveto",
    "nesttableprops",
    "nextfile",
    "nonesttables",
    "nonshppict",
    "objalias",
    "objclass",
    "objdata",

    "objname",
    "objsect",
    "objtime",
    "oldcprops",
    "oldpprops",
    "oldsprops",
    "oldtprops",
    "operator",
    "panose",
    "password",
    "passwordhash",
    "pgp",
    "pgptbl",
    "picprop",
    "pict",
    "pn",
    "pnseclvl",
    "pntext",
    "pntxta",
    "pntxtb",
    "printim",
    "private",
    "propname",
    "protend",
    "protstart",
    "protusertbl",
    "pxe",
    "revtbl",
    "revtim",
    "rsidtbl",
    "rxe",
    "shpgrp",
    "shpinst",
    "shptxt",
    "sn",
    "sp",
    "staticval",
    "stylesheet",
    "subject",
    "sv",
    "svb",
    "tc",
    "template",
    "themedata",
    "title",
    "txe",
    "upr",
    "userprops",
    "wgrffmtfilter",
    "windowcaption",
    "writereservation",
    "writereservhash",
    "xe",
    "xform",
    "xmlattrname",
    "xmlattrvalue",
    "xmlclose",
    "xmlname",
    "xmlnstbl",
    "xmlopen",
};

} // namespace

bool RtfIsNonTextDestination(std::string_view word) {
  // Sorted once; lookups are a binary search.
  static const std::vector<std::string_view> sorted = [] {
    std::vector<std::string_view> v(std::begin(kNonTextDestinations),
                                    std::end(kNonTextDestinations));
    std::sort(v.begin(), v.end());
    return v;
  }();
  return std::binary_search(sorted.begin(), sorted.end(), word);
}

char32_t RtfSpecialCharacter(std::string_view word) {
  struct Special {
    std::string_view word;
    char32_t character;
  };
  static constexpr Special kSpecials[] = {
      {"bullet", 0x2022},  {"emdash", 0x2014},    {"emspace", 0x2003}, {"endash", 0x2013},
      {"enspace", 0x2002}, {"ldblquote", 0x201C}, {"lquote", 0x2018},  {"ltrmark", 0x200E},
      {"qmspace", 0x2005}, {"rdblquote", 0x201D}, {"rquote", 0x2019},  {"rtlmark", 0x200F},
      {"zwbo", 0x200B},    {"zwj", 0x200D},       {"zwnj", 0x200C},
  };
  if (word.size() < 3 || word.size() > 9)
    return 0;
  for (const Special& s : kSpecials)
    if (s.word == word)
      return s.character;
  return 0;
}

void RtfFontTable::SetDocumentCodePage(unsigned codePage) {
  documentCodePage_ = RtfUsableCodePage(codePage);
  cachedCodePage_ = 0;
}

RtfFontTable::Entry* RtfFontTable::Current() {
  if (!haveCurrent_)
    return nullptr;
  return &entries_[current_];
}

void RtfFontTable::SelectEntry(int font) {
  current_ = font;
  haveCurrent_ = true;
  entries_[font];
  cachedCodePage_ = 0;
}

void RtfFontTable::SetCharset(int fcharset) {
  if (Entry* e = Current())
    e->charset = fcharset;
  cachedCodePage_ = 0;
}

void RtfFontTable::SetCodePage(int cpg) {
  if (Entry* e = Current())
    e->cpg = cpg;
  cachedCodePage_ = 0;
}

void RtfFontTable::SetFamily(Family family) {
  if (Entry* e = Current())
    e->family = family;
}

void RtfFontTable::AppendNameBytes(std::string_view bytes) {
  Entry* e = Current();
  if (!e || e->nameDone)
    return;
  const std::size_t semicolon = bytes.find(';');
  if (semicolon != std::string_view::npos) {
    bytes = bytes.substr(0, semicolon);
    e->nameDone = true;
  }
  // A font name is short; a longer one is damage or hostility, not a name.
  if (e->nameBytes.size() + bytes.size() <= 256)
    e->nameBytes.append(bytes);
}

unsigned RtfFontTable::CodePageOf(int font) {
  if (font < 0)
    font = defaultFont_;
  if (cachedCodePage_ != 0 && cachedFont_ == font)
    return cachedCodePage_;
  unsigned codePage = documentCodePage_;
  auto it = entries_.find(font);
  if (it != entries_.end()) {
    if (it->second.cpg > 0)
      codePage = RtfUsableCodePage(static_cast<unsigned>(it->second.cpg));
    else if (unsigned fromCharset = RtfCharsetToCodePage(it->second.charset))
      codePage = RtfUsableCodePage(fromCharset);
  }
  cachedFont_ = font;
  cachedCodePage_ = codePage;
  return codePage;
}

bool RtfFontTable::Describe(int font, std::string& name, Family& family) {
  if (font < 0)
    font = defaultFont_;
  auto it = entries_.find(font);
  if (it == entries_.end())
    return false;
  family = it->second.family;
  name.clear();
  RtfTextDecoder decoder(&name);
  decoder.AppendBytes(it->second.nameBytes, CodePageOf(font));
  decoder.Flush();
  return true;
}

} // namespace orlendo
