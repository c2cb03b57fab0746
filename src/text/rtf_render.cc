#include "text/rtf_render.h"
#include "text/ascii.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <unordered_map>

namespace orlendo {

namespace {

enum class Dest : uint8_t {
  kBody,          // document text
  kSkip,          // not shown
  kFontTable,     // \fonttbl
  kColorTable,    // \colortbl
  kListTable,     // \listtable: the numbering format of each list level
  kListOverrides, // \listoverridetable: which list a \lsN paragraph uses
  kListText,      // \listtext, \pntext: the number or bullet as text
  kPn,            // old-style paragraph numbering
  kPict,          // picture data
  kFieldInst,     // field instruction
  kUpr,           // \upr: its plain part is skipped, its \ud part read
  kBackground,    // \background: the page's fill, a shape's properties
  kShapeName,     // \sn of a shape property
  kShapeValue,    // \sv of a shape property
};

enum class ListKind : uint8_t {
  kNone,
  kBullet,
  kDecimal,
  kUpperAlpha,
  kLowerAlpha,
  kUpperRoman,
  kLowerRoman
};

struct CharProps {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  bool hidden = false;
  uint8_t vertical = 0; // 1 superscript, 2 subscript
  int font = -1;        // -1: the default font
  int size = 24;        // half-points
  int color = -1;       // colour table index, -1 automatic
  int background = -1;  // colour table index, -1 none
  int link = -1;        // index into the renderer's links

  bool operator==(const CharProps&) const = default;
};

struct ParaProps {
  uint8_t align = 0; // 0 left, 1 centre, 2 right, 3 justified
  int leftIndent = 0;
  int rightIndent = 0;
  int firstIndent = 0;
  int spaceBefore = 0;
  int spaceAfter = 0;
  bool inTable = false;
  int ls = 0;    // list override number, 0 for none
  int level = 0; // list level
  ListKind pn = ListKind::kNone;
  int pnStart = 1;

  bool operator==(const ParaProps&) const = default;
};

struct GroupState {
  Dest dest = Dest::kBody;
  Dest resume = Dest::kBody;
  CharProps chr;
  ParaProps para;
  int field = -1;
};

struct ListLevel {
  ListKind kind = ListKind::kBullet;
  int start = 1;
};

struct ListDef {
  std::vector<ListLevel> levels;
};

struct Field {
  std::string instruction;
  int link = -2; // -2 not yet looked at, -1 not a usable hyperlink
};

enum class PictKind : uint8_t { kUnknown, kPng, kJpeg };

constexpr int kMaxListLevels = 9;

ListKind ListKindOfNfc(int nfc) {
  switch (nfc) {
  case 0:
    return ListKind::kDecimal;
  case 1:
    return ListKind::kUpperRoman;
  case 2:
    return ListKind::kLowerRoman;
  case 3:
    return ListKind::kUpperAlpha;
  case 4:
    return ListKind::kLowerAlpha;
  case 23:
  case 255:
    return ListKind::kBullet;
  default:
    return ListKind::kDecimal;
  }
}

// Hundredths as a short decimal: 1250 -> "12.5", -5 -> "-0.05".
std::string Decimal(int hundredths) {
  std::string out = hundredths < 0 ? "-" : "";
  const int magnitude = hundredths < 0 ? -hundredths : hundredths;
  out += std::to_string(magnitude / 100);
  if (int fraction = magnitude % 100) {
    out += '.';
    out += static_cast<char>('0' + fraction / 10);
    if (fraction % 10)
      out += static_cast<char>('0' + fraction % 10);
  }
  return out;
}

// Twips as CSS points.
std::string Points(int twips) {
  return Decimal(std::clamp(twips, -31680, 31680) * 5) + "pt";
}

std::string EscapeAttribute(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      if (static_cast<unsigned char>(c) >= 0x20)
        out += c;
    }
  }
  return out;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i])
      return false;
  }
  return true;
}

// The target of a HYPERLINK field instruction, or "" when it has none that the view may follow.
// Only web, mail and in-document targets qualify: a link in a message must not run a script or
// open a local file.
std::string HyperlinkTarget(std::string_view instruction) {
  std::size_t i = 0;
  auto skipSpaces = [&] {
    while (i < instruction.size() && (instruction[i] == ' ' || instruction[i] == '\t'))
      ++i;
  };
  auto readArgument = [&]() -> std::string {
    skipSpaces();
    std::string arg;
    if (i < instruction.size() && instruction[i] == '"') {
      ++i;
      while (i < instruction.size() && instruction[i] != '"')
        arg += instruction[i++];
      ++i;
    } else {
      while (i < instruction.size() && instruction[i] != ' ' && instruction[i] != '\t')
        arg += instruction[i++];
    }
    return arg;
  };
  skipSpaces();
  if (!StartsWithIgnoreCase(instruction.substr(i), "hyperlink"))
    return {};
  i += 9;
  std::string url;
  std::string anchor;
  while (i < instruction.size()) {
    skipSpaces();
    if (i >= instruction.size())
      break;
    if (instruction[i] == '\\' && i + 1 < instruction.size()) {
      const char option = instruction[i + 1];
      i += 2;
      if (option == 'l')
        anchor = readArgument();
      else if (option == 'o' || option == 't')
        readArgument(); // tooltip, target frame
      continue;
    }
    std::string arg = readArgument();
    if (url.empty())
      url = std::move(arg);
  }
  if (url.empty() && !anchor.empty())
    return "#" + anchor;
  static constexpr std::string_view kSchemes[] = {"http://", "https://", "mailto:", "ftp://"};
  for (std::string_view scheme : kSchemes)
    if (StartsWithIgnoreCase(url, scheme))
      return anchor.empty() ? url : url + "#" + anchor;
  return {};
}

void AppendBase64(std::string& out, std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(data[i]) << 16) |
                       (static_cast<uint8_t>(data[i + 1]) << 8) | static_cast<uint8_t>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    uint32_t v = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size())
      v |= static_cast<uint8_t>(data[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
}

} // namespace

class RtfHtmlRenderer::Impl {
public:
  Impl(std::string_view completeInput, bool complete)
      : decoder_(&content_, true), instructionDecoder_(nullptr) {
    if (complete)
      tokenizer_.Reset(completeInput);
    stack_.reserve(RtfTokenizer::kMaxGroupDepth + 1);
    stack_.push_back(GroupState{});
  }

  void Write(std::string_view chunk) {
    tokenizer_.Feed(chunk);
    Pump();
  }

  std::string Finish() {
    tokenizer_.Finish();
    Pump();
    // A truncated document: finish what its open groups were reading (a picture, a number).
    while (stack_.size() > 1)
      EndGroup();
    CloseBlock();
    CloseLists();
    CloseTable();
    decoder_.Flush();

    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title></title>"
                       "</head>\n<body style=\"";
    const std::string font = FontCss(-1);
    if (!font.empty())
      html += "font-family:" + font + ";";
    html += "font-size:12pt";
    if (const std::string page = PageBackgroundCss(); !page.empty())
      html += ";" + page.substr(0, page.size() - 1);
    html += "\">";
    html += content_;
    html += "</body></html>\n";
    return html;
  }

  const std::vector<RtfProblem>& Problems() const { return tokenizer_.Problems(); }

private:
  void Pump() {
    for (;;) {
      const RtfToken token = tokenizer_.Next();
      if (token.kind == RtfTokenKind::kNeedMoreInput || token.kind == RtfTokenKind::kEnd)
        return;
      Handle(token);
    }
  }

  GroupState& Top() { return stack_.back(); }

  // ---- Output primitives ----

  void Markup(std::string_view html) {
    decoder_.Flush();
    content_.append(html);
  }

  bool ShowsText() {
    const GroupState& s = Top();
    return s.dest == Dest::kBody && !s.chr.hidden && tokenizer_.Depth() > 0;
  }

  // Makes the output ready for inline content in the current paragraph and character format.
  void PrepareText() {
    EnsureBlock();
    EnsureRun();
  }

  void EnsureRun() {
    const CharProps& want = Top().chr;
    if (runOpen_ && openRun_ == want)
      return;
    CloseRun();
    // Documents use few distinct formats: build the markup of each once.
    const RunMarkup* markup = nullptr;
    for (const RunMarkup& cached : runCache_)
      if (cached.props == want)
        markup = &cached;
    if (!markup) {
      if (runCache_.size() >= 64)
        runCache_.clear();
      runCache_.push_back(BuildRunMarkup(want));
      markup = &runCache_.back();
    }
    Markup(markup->open);
    runClose_ = markup->close;
    openRun_ = want;
    runOpen_ = true;
  }

  struct RunMarkup {
    CharProps props;
    std::string open;
    std::string close;
  };

  RunMarkup BuildRunMarkup(const CharProps& want) {
    RunMarkup m{want, {}, {}};
    std::string& open = m.open;
    std::string& close = m.close;
    if (want.link >= 0) {
      open += "<a href=\"" + links_[static_cast<std::size_t>(want.link)] + "\">";
      close = "</a>";
    }
    std::string style;
    if (want.font >= 0 && want.font != fonts_.DefaultFont()) {
      const std::string family = FontCss(want.font);
      if (!family.empty())
        style += "font-family:" + family + ";";
    }
    if (want.size != 24)
      style += "font-size:" + Decimal(std::clamp(want.size, 2, 3276) * 50) + "pt;";
    if (const std::string c = ColorCss(want.color); !c.empty())
      style += "color:" + c + ";";
    if (const std::string c = ColorCss(want.background); !c.empty())
      style += "background-color:" + c + ";";
    if (!style.empty()) {
      style.pop_back();
      open += "<span style=\"" + style + "\">";
      close.insert(0, "</span>");
    }
    auto tag = [&](bool on, const char* name) {
      if (!on)
        return;
      open += "<" + std::string(name) + ">";
      close.insert(0, "</" + std::string(name) + ">");
    };
    tag(want.bold, "b");
    tag(want.italic, "i");
    tag(want.underline, "u");
    tag(want.strike, "s");
    tag(want.vertical == 1, "sup");
    tag(want.vertical == 2, "sub");
    return m;
  }

  void CloseRun() {
    if (!runOpen_)
      return;
    Markup(runClose_);
    runOpen_ = false;
  }

  // ---- Blocks: paragraphs, list items, table cells ----

  bool ListFor(const ParaProps& p, ListKind& kind, int& key, int& level, int& start) {
    if (p.ls > 0) {
      key = p.ls;
      level = std::clamp(p.level, 0, kMaxListLevels - 1);
      kind = ListKind::kBullet;
      start = 1;
      auto o = overrideToList_.find(p.ls);
      if (o != overrideToList_.end()) {
        auto l = listIdToDef_.find(o->second);
        if (l != listIdToDef_.end()) {
          const ListDef& def = lists_[l->second];
          if (static_cast<std::size_t>(level) < def.levels.size()) {
            kind = def.levels[static_cast<std::size_t>(level)].kind;
            start = def.levels[static_cast<std::size_t>(level)].start;
          }
        }
      }
      return true;
    }
    if (p.pn != ListKind::kNone) {
      key = -1;
      level = 0;
      kind = p.pn;
      start = p.pnStart;
      return true;
    }
    return false;
  }

  void OpenListItem(ListKind kind, int key, int level, int start) {
    const std::size_t depth = static_cast<std::size_t>(level) + 1;
    while (openLists_.size() > depth)
      CloseTopList();
    if (openLists_.size() == depth &&
        (openLists_.back().kind != kind || openLists_.back().key != key))
      CloseTopList();
    while (openLists_.size() < depth) {
      if (!openLists_.empty() && !openLists_.back().itemOpen) {
        Markup("<li>");
        openLists_.back().itemOpen = true;
      }
      std::string open;
      switch (kind) {
      case ListKind::kBullet:
        open = "<ul style=\"margin-top:0;margin-bottom:0\">";
        break;
      default: {
        open = "<ol style=\"margin-top:0;margin-bottom:0\"";
        const char* type = kind == ListKind::kUpperAlpha   ? "A"
                           : kind == ListKind::kLowerAlpha ? "a"
                           : kind == ListKind::kUpperRoman ? "I"
                           : kind == ListKind::kLowerRoman ? "i"
                                                           : nullptr;
        if (type)
          open += std::string(" type=\"") + type + "\"";
        if (start != 1)
          open += " start=\"" + std::to_string(start) + "\"";
        open += ">";
      }
      }
      Markup(open);
      openLists_.push_back({kind, key, false});
    }
    if (openLists_.back().itemOpen)
      Markup("</li>");
    Markup("<li>");
    openLists_.back().itemOpen = true;
  }

  void CloseTopList() {
    CloseRun();
    const OpenList& top = openLists_.back();
    if (top.itemOpen)
      Markup("</li>");
    Markup(top.kind == ListKind::kBullet ? "</ul>" : "</ol>");
    openLists_.pop_back();
  }

  void CloseLists() {
    while (!openLists_.empty())
      CloseTopList();
  }

  void CloseTable() {
    CloseRun();
    if (cellOpen_)
      Markup("</td>");
    if (rowOpen_)
      Markup("</tr>");
    if (tableOpen_)
      Markup("</table>");
    cellOpen_ = rowOpen_ = tableOpen_ = false;
    cellNeedsBreak_ = false;
  }

  const std::string& ParagraphStyle(const ParaProps& p) {
    if (haveParagraphStyle_ && paragraphStyleOf_ == p)
      return paragraphStyle_;
    std::string style = "margin:" + Points(p.spaceBefore) + " " + Points(p.rightIndent) + " " +
                        Points(p.spaceAfter) + " " + Points(p.leftIndent);
    if (p.firstIndent != 0)
      style += ";text-indent:" + Points(p.firstIndent);
    static constexpr const char* kAlign[] = {nullptr, "center", "right", "justify"};
    if (p.align > 0 && p.align < 4)
      style += std::string(";text-align:") + kAlign[p.align];
    paragraphStyle_ = std::move(style);
    paragraphStyleOf_ = p;
    haveParagraphStyle_ = true;
    return paragraphStyle_;
  }

  void EnsureBlock() {
    if (blockOpen_)
      return;
    const ParaProps& p = Top().para;
    bool listItem = false;
    if (p.inTable) {
      CloseLists();
      if (!tableOpen_) {
        Markup("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" "
               "style=\"border-collapse:collapse\">");
        tableOpen_ = true;
      }
      if (!rowOpen_) {
        Markup("<tr>");
        rowOpen_ = true;
      }
      if (!cellOpen_) {
        Markup("<td>");
        cellOpen_ = true;
      } else if (cellNeedsBreak_) {
        Markup("<br>");
      }
      cellNeedsBreak_ = false;
      paragraphIsP_ = false;
    } else {
      CloseTable();
      ListKind kind;
      int key = 0;
      int level = 0;
      int start = 1;
      if (ListFor(p, kind, key, level, start)) {
        OpenListItem(kind, key, level, start);
        paragraphIsP_ = false;
        listItem = true;
      } else {
        CloseLists();
        Markup("<p style=\"" + ParagraphStyle(p) + "\">");
        paragraphIsP_ = true;
      }
    }
    blockOpen_ = true;
    decoder_.MarkLineStart();
    if (!listText_.empty()) {
      // The number or bullet as the writer spelled it: needed only where no list shows one.
      if (!listItem) {
        EnsureRun();
        Markup(listText_);
      }
      listText_.clear();
    }
  }

  // Ends the current paragraph (a list item stays open for a nested list).
  void CloseBlock() {
    CloseRun();
    if (blockOpen_ && paragraphIsP_)
      Markup("</p>");
    blockOpen_ = false;
    paragraphIsP_ = false;
  }

  void EndParagraph() {
    if (!blockOpen_) {
      EnsureBlock();
      // An empty paragraph is an empty line.
      if (paragraphIsP_)
        Markup("<br>");
    }
    if (cellOpen_ && !paragraphIsP_ && openLists_.empty()) {
      CloseRun();
      blockOpen_ = false;
      cellNeedsBreak_ = true;
    } else {
      CloseBlock();
    }
    listText_.clear();
  }

  void EndCell() {
    if (!cellOpen_) {
      CloseBlock();
      ParaProps& p = Top().para;
      const bool saved = p.inTable;
      p.inTable = true;
      EnsureBlock();
      p.inTable = saved;
    }
    CloseRun();
    Markup("</td>");
    cellOpen_ = false;
    blockOpen_ = false;
    cellNeedsBreak_ = false;
  }

  void EndRow() {
    CloseRun();
    if (cellOpen_)
      Markup("</td>");
    if (rowOpen_)
      Markup("</tr>");
    cellOpen_ = rowOpen_ = false;
    blockOpen_ = false;
    cellNeedsBreak_ = false;
  }

  // ---- Fonts, colours, links ----

  std::string FontCss(int font) {
    if (font < 0)
      font = fonts_.DefaultFont();
    auto cached = fontCss_.find(font);
    if (cached != fontCss_.end())
      return cached->second;
    std::string name;
    RtfFontTable::Family family = RtfFontTable::Family::kNil;
    std::string css;
    if (fonts_.Describe(font, name, family)) {
      std::string clean;
      for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 &&
            std::string_view("\"'<>&;{}\\").find(c) == std::string_view::npos)
          clean += c;
      while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
      if (!clean.empty())
        css = "'" + clean + "'";
      const char* generic = nullptr;
      switch (family) {
      case RtfFontTable::Family::kRoman:
        generic = "serif";
        break;
      case RtfFontTable::Family::kSwiss:
        generic = "sans-serif";
        break;
      case RtfFontTable::Family::kModern:
        generic = "monospace";
        break;
      case RtfFontTable::Family::kScript:
        generic = "cursive";
        break;
      case RtfFontTable::Family::kDecor:
        generic = "fantasy";
        break;
      default:
        break;
      }
      if (generic)
        css += (css.empty() ? "" : ",") + std::string(generic);
    }
    if (fontCss_.size() < 4096)
      fontCss_.emplace(font, css);
    return css;
  }

  std::string ColorCss(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= colors_.size())
      return {};
    const int rgb = colors_[static_cast<std::size_t>(index)];
    if (rgb < 0)
      return {};
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06x", rgb & 0xFFFFFF);
    return buf;
  }

  int LinkOfField(int field) {
    if (field < 0 || static_cast<std::size_t>(field) >= fields_.size())
      return -1;
    Field& f = fields_[static_cast<std::size_t>(field)];
    if (f.link == -2) {
      instructionDecoder_.Flush();
      const std::string target = HyperlinkTarget(f.instruction);
      f.link = -1;
      if (!target.empty()) {
        links_.push_back(EscapeAttribute(target));
        f.link = static_cast<int>(links_.size() - 1);
      }
    }
    return f.link;
  }

  // ---- Pictures ----

  void FinishPicture() {
    if ((pictKind_ == PictKind::kPng || pictKind_ == PictKind::kJpeg) && !pictData_.empty() &&
        ShowsText()) {
      PrepareText();
      std::string img = "<img src=\"data:image/";
      img += pictKind_ == PictKind::kPng ? "png" : "jpeg";
      img += ";base64,";
      AppendBase64(img, pictData_);
      img += "\"";
      // Twips at 96 pixels per inch, scaled as the document asks.
      auto pixels = [](int64_t goal, int64_t scale) {
        return std::clamp<int64_t>(goal * scale / 100 / 15, 1, 10000);
      };
      if (pictGoalWidth_ > 0)
        img += " width=\"" + std::to_string(pixels(pictGoalWidth_, pictScaleX_)) + "\"";
      if (pictGoalHeight_ > 0)
        img += " height=\"" + std::to_string(pixels(pictGoalHeight_, pictScaleY_)) + "\"";
      img += " alt=\"\">";
      Markup(img);
    }
    pictData_.clear();
    pictData_.shrink_to_fit();
  }

  void StartPicture() {
    pictKind_ = PictKind::kUnknown;
    pictData_.clear();
    pictHighNibble_ = -1;
    pictGoalWidth_ = pictGoalHeight_ = 0;
    pictScaleX_ = pictScaleY_ = 100;
  }

  void AppendPictureHex(std::string_view text) {
    for (char c : text) {
      const int v = HexValue(c);
      if (v < 0)
        continue;
      if (pictHighNibble_ < 0) {
        pictHighNibble_ = v;
      } else {
        pictData_ += static_cast<char>(pictHighNibble_ * 16 + v);
        pictHighNibble_ = -1;
      }
    }
  }

  // ---- Tokens ----

  void Handle(const RtfToken& token) {
    const bool groupStart = atGroupStart_;
    const bool star = starred_;
    atGroupStart_ = false;
    starred_ = false;

    switch (token.kind) {
    case RtfTokenKind::kGroupStart:
      stack_.push_back(stack_.back());
      atGroupStart_ = true;
      return;
    case RtfTokenKind::kGroupEnd:
      EndGroup();
      return;
    case RtfTokenKind::kControlSymbol:
      if (token.symbol == '*' && groupStart) {
        atGroupStart_ = true;
        starred_ = true;
        return;
      }
      HandleSymbol(token.symbol);
      return;
    case RtfTokenKind::kControlWord:
      if (groupStart && StartDestination(token, star))
        return;
      HandleWord(token);
      return;
    case RtfTokenKind::kText:
      HandleText(token.text);
      return;
    case RtfTokenKind::kHexByte:
      HandleText(std::string_view(reinterpret_cast<const char*>(&token.byte), 1), true);
      return;
    case RtfTokenKind::kUnicode:
      HandleUnit(token.unit);
      return;
    case RtfTokenKind::kBinary:
      if (Top().dest == Dest::kPict)
        pictData_.append(token.text);
      return;
    default:
      return;
    }
  }

  void EndGroup() {
    if (stack_.size() <= 1)
      return;
    const GroupState closed = stack_.back();
    stack_.pop_back();
    const Dest now = Top().dest;
    if (closed.dest == now)
      return;
    switch (closed.dest) {
    case Dest::kPict:
      FinishPicture();
      break;
    case Dest::kListText:
      decoder_.SetTarget(&content_);
      break;
    case Dest::kPn:
      Top().para.pn = pendingPn_;
      Top().para.pnStart = pendingPnStart_;
      break;
    case Dest::kFieldInst:
      instructionDecoder_.Flush();
      break;
    case Dest::kShapeValue:
      BackgroundProperty();
      break;
    default:
      break;
    }
  }

  // One property of the page's fill shape, once its value is read. Colours are 0xBBGGRR; a
  // value with a high byte names a scheme or system colour, which is not known here.
  void BackgroundProperty() {
    const auto number = [&](int& out) {
      char* end = nullptr;
      const long v = std::strtol(shapeValue_.c_str(), &end, 10);
      if (end == shapeValue_.c_str())
        return;
      out = static_cast<int>(v);
    };
    if (shapeName_ == "fillColor" || shapeName_ == "fillBackColor") {
      int bgr = -1;
      number(bgr);
      const int rgb = bgr >= 0 && bgr <= 0xFFFFFF
                          ? ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF)
                          : -1;
      (shapeName_ == "fillColor" ? pageFill_ : pageFillBack_) = rgb;
    } else if (shapeName_ == "fillType") {
      number(pageFillType_);
    } else if (shapeName_ == "fFilled") {
      int filled = 1;
      number(filled);
      pageFilled_ = filled != 0;
    }
    shapeName_.clear();
    shapeValue_.clear();
  }

  // The CSS of the page colour that \background gives: a solid fill, or a gradient between
  // its two colours for the shaded kinds. Text coloured for that page stays readable on it.
  std::string PageBackgroundCss() const {
    if (!pageFilled_ || pageFill_ < 0)
      return {};
    const auto hex = [](int rgb) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "#%06x", rgb & 0xFFFFFF);
      return std::string(buf);
    };
    std::string css = "background-color:" + hex(pageFill_) + ";";
    if (pageFillType_ >= 4 && pageFillType_ <= 8 && pageFillBack_ >= 0)
      css += "background-image:linear-gradient(" + hex(pageFill_) + "," + hex(pageFillBack_) +
             ");background-attachment:fixed;";
    return css;
  }

  bool StartDestination(const RtfToken& token, bool star) {
    GroupState& state = Top();
    const GroupState& parentState = stack_[stack_.size() - 2];
    const Dest parent = parentState.dest;
    const std::string_view word = token.text;
    switch (parent) {
    case Dest::kSkip:
    case Dest::kPict:
    case Dest::kPn:
    case Dest::kColorTable:
      state.dest = Dest::kSkip;
      return true;
    case Dest::kFontTable:
      if (star) {
        state.dest = Dest::kSkip;
        return true;
      }
      return false; // a font entry in braces
    case Dest::kListTable:
      if (word == "list") {
        lists_.emplace_back();
        return true;
      }
      if (word == "listlevel") {
        if (!lists_.empty() && lists_.back().levels.size() < kMaxListLevels)
          lists_.back().levels.emplace_back();
        return true;
      }
      state.dest = Dest::kSkip;
      return true;
    case Dest::kListOverrides:
      if (word == "listoverride") {
        pendingOverrideList_ = 0;
        return true;
      }
      state.dest = Dest::kSkip;
      return true;
    case Dest::kUpr:
      state.dest = word == "ud" ? parentState.resume : Dest::kSkip;
      return true;
    case Dest::kBackground:
      // The fill shape's groups stay in the background; only a property's name and value are
      // read.
      if (word == "sn") {
        state.dest = Dest::kShapeName;
        shapeName_.clear();
      } else if (word == "sv") {
        state.dest = Dest::kShapeValue;
        shapeValue_.clear();
      }
      return true;
    case Dest::kShapeName:
    case Dest::kShapeValue:
      state.dest = Dest::kSkip;
      return true;
    default:
      break;
    }
    if (word == "background") {
      state.dest = Dest::kBackground;
    } else if (word == "fonttbl") {
      state.dest = Dest::kFontTable;
    } else if (word == "colortbl") {
      state.dest = Dest::kColorTable;
      colorRed_ = colorGreen_ = colorBlue_ = 0;
      colorSet_ = false;
    } else if (word == "listtable") {
      state.dest = Dest::kListTable;
    } else if (word == "listoverridetable") {
      state.dest = Dest::kListOverrides;
    } else if (word == "listtext" || word == "pntext") {
      state.dest = Dest::kListText;
      listText_.clear();
      decoder_.SetTarget(&listText_);
    } else if (word == "pn") {
      state.dest = Dest::kPn;
      pendingPn_ = ListKind::kNone;
      pendingPnStart_ = 1;
    } else if (word == "pict") {
      state.dest = Dest::kPict;
      StartPicture();
    } else if (word == "shppict") {
      // The picture that shape-aware readers show: an ordinary picture for us.
    } else if (word == "fldinst") {
      state.dest = Dest::kFieldInst;
      if (state.field >= 0)
        instructionDecoder_.SetTarget(&fields_[static_cast<std::size_t>(state.field)].instruction);
      else
        state.dest = Dest::kSkip;
    } else if (word == "fldrslt") {
      const int link = LinkOfField(state.field);
      if (link >= 0)
        state.chr.link = link;
    } else if (word == "upr") {
      state.resume = parent;
      state.dest = Dest::kUpr;
    } else if (word == "field") {
      HandleWord(token);
    } else if (star || RtfIsNonTextDestination(word)) {
      state.dest = Dest::kSkip;
    } else {
      return false;
    }
    return true;
  }

  void HandleText(std::string_view text, bool escaped = false) {
    GroupState& state = Top();
    switch (state.dest) {
    case Dest::kBody:
      if (ShowsText()) {
        PrepareText();
        decoder_.AppendBytes(text, fonts_.CodePageOf(state.chr.font));
      }
      return;
    case Dest::kFontTable:
      fonts_.AppendNameBytes(text);
      return;
    case Dest::kColorTable:
      for (char c : text) {
        if (c != ';')
          continue;
        runCache_.clear();
        if (colors_.size() < 65536)
          colors_.push_back(colorSet_ ? (colorRed_ << 16) | (colorGreen_ << 8) | colorBlue_ : -1);
        colorRed_ = colorGreen_ = colorBlue_ = 0;
        colorSet_ = false;
      }
      return;
    case Dest::kListText:
      decoder_.AppendBytes(text, fonts_.CodePageOf(state.chr.font));
      return;
    case Dest::kFieldInst:
      instructionDecoder_.AppendBytes(text, fonts_.CodePageOf(state.chr.font));
      return;
    case Dest::kShapeName:
    case Dest::kShapeValue: {
      std::string& into = state.dest == Dest::kShapeName ? shapeName_ : shapeValue_;
      for (const char c : text) {
        if (into.size() < 64 && c != ' ' && c != '\r' && c != '\n')
          into.push_back(c);
      }
      return;
    }
    case Dest::kPict:
      // Picture data is hexadecimal text; an escaped byte inside it is damage.
      if (!escaped)
        AppendPictureHex(text);
      return;
    default:
      return;
    }
  }

  void HandleUnit(char16_t unit) {
    switch (Top().dest) {
    case Dest::kBody:
      if (ShowsText()) {
        PrepareText();
        decoder_.AppendUnit(unit);
      }
      return;
    case Dest::kListText:
      decoder_.AppendUnit(unit);
      return;
    case Dest::kFieldInst:
      instructionDecoder_.AppendUnit(unit);
      return;
    default:
      return;
    }
  }

  void HandleCharacter(char32_t c) {
    if (Top().dest == Dest::kListText) {
      decoder_.AppendCodePoint(c);
    } else if (ShowsText()) {
      PrepareText();
      decoder_.AppendCodePoint(c);
    }
  }

  void HandleSymbol(char symbol) {
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
      HandleText(std::string_view(&symbol, 1));
      break;
    case '~':
      HandleCharacter(0x00A0);
      break;
    case '_':
      HandleCharacter(0x2011);
      break;
    default:
      break;
    }
  }

  bool HandleTableWord(std::string_view word, const RtfToken& token) {
    GroupState& state = Top();
    switch (state.dest) {
    case Dest::kFontTable:
      if (word == "f")
        fonts_.SelectEntry(token.ParamOr(0));
      else if (word == "fcharset")
        fonts_.SetCharset(token.ParamOr(0));
      else if (word == "cpg")
        fonts_.SetCodePage(token.ParamOr(0));
      else if (word == "froman")
        fonts_.SetFamily(RtfFontTable::Family::kRoman);
      else if (word == "fswiss")
        fonts_.SetFamily(RtfFontTable::Family::kSwiss);
      else if (word == "fmodern")
        fonts_.SetFamily(RtfFontTable::Family::kModern);
      else if (word == "fscript")
        fonts_.SetFamily(RtfFontTable::Family::kScript);
      else if (word == "fdecor")
        fonts_.SetFamily(RtfFontTable::Family::kDecor);
      fontCss_.clear();
      runCache_.clear();
      return true;
    case Dest::kColorTable: {
      const int v = std::clamp(token.ParamOr(0), 0, 255);
      if (word == "red")
        colorRed_ = v;
      else if (word == "green")
        colorGreen_ = v;
      else if (word == "blue")
        colorBlue_ = v;
      else
        return true;
      colorSet_ = true;
      return true;
    }
    case Dest::kListTable:
      if (lists_.empty())
        return true;
      if (word == "listid") {
        listIdToDef_[token.ParamOr(0)] = lists_.size() - 1;
      } else if (!lists_.back().levels.empty()) {
        if (word == "levelnfc" || word == "levelnfcn")
          lists_.back().levels.back().kind = ListKindOfNfc(token.ParamOr(0));
        else if (word == "levelstartat")
          lists_.back().levels.back().start = std::clamp(token.ParamOr(1), 0, 1000000);
      }
      return true;
    case Dest::kListOverrides:
      if (word == "listid")
        pendingOverrideList_ = token.ParamOr(0);
      else if (word == "ls")
        overrideToList_[token.ParamOr(0)] = pendingOverrideList_;
      return true;
    case Dest::kPn:
      if (word == "pnlvlblt")
        pendingPn_ = ListKind::kBullet;
      else if (word == "pnlvlbody" && pendingPn_ == ListKind::kNone)
        pendingPn_ = ListKind::kDecimal;
      else if (word == "pndec" && pendingPn_ != ListKind::kBullet)
        pendingPn_ = ListKind::kDecimal;
      else if (word == "pnucltr" && pendingPn_ != ListKind::kBullet)
        pendingPn_ = ListKind::kUpperAlpha;
      else if (word == "pnlcltr" && pendingPn_ != ListKind::kBullet)
        pendingPn_ = ListKind::kLowerAlpha;
      else if (word == "pnucrm" && pendingPn_ != ListKind::kBullet)
        pendingPn_ = ListKind::kUpperRoman;
      else if (word == "pnlcrm" && pendingPn_ != ListKind::kBullet)
        pendingPn_ = ListKind::kLowerRoman;
      else if (word == "pnstart")
        pendingPnStart_ = std::clamp(token.ParamOr(1), 0, 1000000);
      return true;
    case Dest::kPict:
      if (word == "pngblip")
        pictKind_ = PictKind::kPng;
      else if (word == "jpegblip")
        pictKind_ = PictKind::kJpeg;
      else if (word == "emfblip" || word == "wmetafile" || word == "dibitmap" ||
               word == "wbitmap" || word == "macpict" || word == "pmmetafile")
        pictKind_ = PictKind::kUnknown;
      else if (word == "picwgoal")
        pictGoalWidth_ = std::clamp(token.ParamOr(0), 0, 1000000);
      else if (word == "pichgoal")
        pictGoalHeight_ = std::clamp(token.ParamOr(0), 0, 1000000);
      else if (word == "picscalex")
        pictScaleX_ = std::clamp(token.ParamOr(100), 1, 10000);
      else if (word == "picscaley")
        pictScaleY_ = std::clamp(token.ParamOr(100), 1, 10000);
      return true;
    case Dest::kSkip:
    case Dest::kUpr:
      return true;
    default:
      return false;
    }
  }

  void HandleWord(const RtfToken& token) {
    const std::string_view word = token.text;
    if (HandleTableWord(word, token))
      return;
    GroupState& state = Top();
    CharProps& chr = state.chr;
    ParaProps& para = state.para;
    const bool on = token.ParamOr(1) != 0;

    // Text and breaks.
    if (word == "par" || word == "page" || word == "sect") {
      if (state.dest == Dest::kBody)
        EndParagraph();
      return;
    }
    if (word == "line") {
      if (ShowsText()) {
        PrepareText();
        Markup("<br>");
        decoder_.MarkLineStart();
      }
      return;
    }
    if (word == "tab") {
      if (state.dest == Dest::kListText) {
        decoder_.AppendCodePoint(U' ');
      } else if (ShowsText()) {
        PrepareText();
        Markup("<span style=\"white-space:pre\">\t</span>");
      }
      return;
    }
    if (word == "cell") {
      if (state.dest == Dest::kBody)
        EndCell();
      return;
    }
    if (word == "row") {
      if (state.dest == Dest::kBody)
        EndRow();
      return;
    }
    if (word == "nestcell" || word == "nestrow") {
      // Tables inside tables are shown flattened into the outer cell.
      if (ShowsText()) {
        PrepareText();
        Markup(word == "nestcell" ? " " : "<br>");
      }
      return;
    }
    if (char32_t c = RtfSpecialCharacter(word)) {
      HandleCharacter(c);
      return;
    }

    // Character formatting.
    if (word == "b") {
      chr.bold = on;
    } else if (word == "i") {
      chr.italic = on;
    } else if (word == "ul" || word == "uld" || word == "uldash" || word == "uldashd" ||
               word == "uldashdd" || word == "uldb" || word == "ulth" || word == "ulw" ||
               word == "ulwave" || word == "ulhwave" || word == "ululdbwave" || word == "ulthd" ||
               word == "ulthdash" || word == "ulldash" || word == "ulthldash" ||
               word == "ulthdashd" || word == "ulthdashdd") {
      chr.underline = on;
    } else if (word == "ulnone") {
      chr.underline = false;
    } else if (word == "strike" || word == "striked") {
      chr.strike = on;
    } else if (word == "v") {
      chr.hidden = on;
    } else if (word == "super") {
      chr.vertical = 1;
    } else if (word == "sub") {
      chr.vertical = 2;
    } else if (word == "nosupersub") {
      chr.vertical = 0;
    } else if (word == "f") {
      chr.font = std::max(0, token.ParamOr(0));
    } else if (word == "fs") {
      chr.size = token.hasParam ? std::clamp(token.ParamOr(24), 1, 3276) : 24;
    } else if (word == "cf") {
      chr.color = token.ParamOr(0);
    } else if (word == "highlight" || word == "cb" || word == "chcbpat") {
      chr.background = token.ParamOr(0) > 0 ? token.ParamOr(0) : -1;
    } else if (word == "plain") {
      const int link = chr.link;
      chr = CharProps{};
      chr.link = link; // a hyperlink's text stays a link whatever its format
    }
    // Paragraph formatting.
    else if (word == "pard") {
      para = ParaProps{};
    } else if (word == "ql") {
      para.align = 0;
    } else if (word == "qc") {
      para.align = 1;
    } else if (word == "qr") {
      para.align = 2;
    } else if (word == "qj") {
      para.align = 3;
    } else if (word == "li") {
      para.leftIndent = token.ParamOr(0);
    } else if (word == "ri") {
      para.rightIndent = token.ParamOr(0);
    } else if (word == "fi") {
      para.firstIndent = token.ParamOr(0);
    } else if (word == "sb") {
      para.spaceBefore = token.ParamOr(0);
    } else if (word == "sa") {
      para.spaceAfter = token.ParamOr(0);
    } else if (word == "intbl") {
      para.inTable = true;
    } else if (word == "itap") {
      para.inTable = token.ParamOr(1) > 0;
    } else if (word == "ls") {
      para.ls = std::max(0, token.ParamOr(0));
    } else if (word == "ilvl") {
      para.level = std::clamp(token.ParamOr(0), 0, kMaxListLevels - 1);
    }
    // Document.
    else if (word == "field") {
      fields_.emplace_back();
      state.field = static_cast<int>(fields_.size() - 1);
    } else if (word == "ansicpg") {
      fonts_.SetDocumentCodePage(static_cast<unsigned>(std::max(0, token.ParamOr(0))));
    } else if (word == "mac" || word == "pc" || word == "pca") {
      fonts_.SetDocumentCodePage(word == "mac" ? 10000 : word == "pc" ? 437 : 850);
    } else if (word == "deff") {
      fonts_.SetDefaultFont(std::max(0, token.ParamOr(0)));
      fontCss_.clear();
      runCache_.clear();
    }
  }

  struct OpenList {
    ListKind kind;
    int key;
    bool itemOpen;
  };

  RtfTokenizer tokenizer_;
  std::string content_;
  // The page's fill from \background: colours as 0xRRGGBB, -1 unknown.
  std::string shapeName_;
  std::string shapeValue_;
  int pageFill_ = -1;
  int pageFillBack_ = -1;
  int pageFillType_ = 0;
  bool pageFilled_ = true;
  RtfTextDecoder decoder_;
  RtfTextDecoder instructionDecoder_;
  RtfFontTable fonts_;
  std::unordered_map<int, std::string> fontCss_;
  std::vector<int> colors_;
  int colorRed_ = 0;
  int colorGreen_ = 0;
  int colorBlue_ = 0;
  bool colorSet_ = false;
  std::vector<GroupState> stack_;
  bool atGroupStart_ = false;
  bool starred_ = false;

  // Output structure.
  std::vector<RunMarkup> runCache_;
  std::string paragraphStyle_;
  ParaProps paragraphStyleOf_;
  bool haveParagraphStyle_ = false;
  bool runOpen_ = false;
  CharProps openRun_;
  std::string runClose_;
  bool blockOpen_ = false;
  bool paragraphIsP_ = false;
  bool tableOpen_ = false;
  bool rowOpen_ = false;
  bool cellOpen_ = false;
  bool cellNeedsBreak_ = false;
  std::vector<OpenList> openLists_;
  std::string listText_;

  // Lists.
  std::vector<ListDef> lists_;
  std::unordered_map<int, std::size_t> listIdToDef_;
  std::unordered_map<int, int> overrideToList_;
  int pendingOverrideList_ = 0;
  ListKind pendingPn_ = ListKind::kNone;
  int pendingPnStart_ = 1;

  // Fields (a deque: the instruction decoder writes into an element while others are added).
  std::deque<Field> fields_;
  std::vector<std::string> links_;

  // The picture being read.
  PictKind pictKind_ = PictKind::kUnknown;
  std::string pictData_;
  int pictHighNibble_ = -1;
  int pictGoalWidth_ = 0;
  int pictGoalHeight_ = 0;
  int pictScaleX_ = 100;
  int pictScaleY_ = 100;
};

RtfHtmlRenderer::RtfHtmlRenderer() : impl_(std::make_unique<Impl>(std::string_view(), false)) {}

RtfHtmlRenderer::RtfHtmlRenderer(std::string_view completeInput)
    : impl_(std::make_unique<Impl>(completeInput, true)) {}

RtfHtmlRenderer::~RtfHtmlRenderer() = default;

void RtfHtmlRenderer::Write(std::string_view chunk) {
  impl_->Write(chunk);
}

std::string RtfHtmlRenderer::Finish() {
  return impl_->Finish();
}

const std::vector<RtfProblem>& RtfHtmlRenderer::Problems() const {
  return impl_->Problems();
}

std::string RtfToHtml(const std::string& rtf) {
  RtfHtmlRenderer renderer(rtf);
  return renderer.Finish();
}

} // namespace orlendo
