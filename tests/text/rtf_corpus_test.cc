// The RTF converters against the corpus: what they recover from each message's RTF body must be
// the text of the message's own plain-text body.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/qvmsgcp.h"
#include "text/rtf_html.h"
#include "text/rtf_render.h"

namespace orlendo {
namespace {

constexpr uint32_t kRtfCompressed = 0x10090102;
constexpr uint32_t kBodyUnicode = 0x1000001F;
constexpr uint32_t kBodyString8 = 0x1000001E;

struct Message {
  std::string name;
  std::string rtf;
  std::string body; // UTF-8
};

std::vector<Message> CorpusMessagesWithRtf() {
  std::vector<Message> out;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    TQvMSGFile file;
    try {
      file.LoadFromFile(path);
    } catch (...) {
      continue; // not a compound file: no RTF to look at
    }
    const TMSGProperties& root = file.Properties();
    const TMSGProperty* rtf = root.FindProperty(kRtfCompressed, false, false);
    if (!rtf || !rtf->Value.IsBytes() || rtf->Value.Bytes().empty())
      continue;
    const TMSGProperty* body = root.FindProperty(kBodyUnicode, false, false);
    if (!body)
      body = root.FindProperty(kBodyString8, false, false);
    Message m;
    m.name = path.substr(path.rfind('/') + 1);
    m.rtf = rtf->Value.Bytes();
    if (body)
      m.body = EncodeUtf8(body->GetValueText());
    out.push_back(std::move(m));
  }
  return out;
}

// ---- Visible text of HTML ----

bool IsBlockTag(std::string_view name) {
  static const char* const kBlocks[] = {"p",     "div", "br", "td",         "th",    "tr",   "li",
                                        "table", "ul",  "ol", "h1",         "h2",    "h3",   "h4",
                                        "h5",    "h6",  "hr", "blockquote", "title", "body", "pre"};
  for (const char* b : kBlocks)
    if (name == b)
      return true;
  return false;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  std::u16string units;
  if (cp >= 0x10000) {
    units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  } else {
    units += static_cast<char16_t>(cp);
  }
  out += EncodeUtf8(units);
}

// Decodes the character references that matter for words; other named ones become a blank.
std::string DecodeEntities(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const std::size_t semi = text.find(';', i);
    if (semi == std::string::npos || semi - i > 10) {
      out += '&';
      continue;
    }
    const std::string name = text.substr(i + 1, semi - i - 1);
    if (!name.empty() && name[0] == '#') {
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      AppendCodePoint(out, static_cast<uint32_t>(
                               std::stoul("0" + name.substr(hex ? 2 : 1), nullptr, hex ? 16 : 10)));
    } else if (name == "amp") {
      out += '&';
    } else if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "quot") {
      out += '"';
    } else if (name == "apos") {
      out += '\'';
    } else {
      out += ' ';
    }
    i = semi;
  }
  return out;
}

struct Visible {
  std::string text;               // tags, head, style, script and comments removed
  std::vector<std::string> links; // href values
};

Visible VisibleText(const std::string& html) {
  Visible v;
  std::string raw;
  std::size_t i = 0;
  int hidden = 0; // inside head, style, script or title
  while (i < html.size()) {
    if (html[i] != '<') {
      if (hidden == 0)
        raw += html[i];
      ++i;
      continue;
    }
    if (html.compare(i, 4, "<!--") == 0) {
      const std::size_t end = html.find("-->", i + 4);
      i = end == std::string::npos ? html.size() : end + 3;
      continue;
    }
    const std::size_t end = html.find('>', i);
    if (end == std::string::npos)
      break;
    const std::string tag = html.substr(i + 1, end - i - 1);
    i = end + 1;
    const bool closing = !tag.empty() && tag[0] == '/';
    std::size_t nameEnd = closing ? 1 : 0;
    while (nameEnd < tag.size() &&
           (std::isalnum(static_cast<unsigned char>(tag[nameEnd])) || tag[nameEnd] == ':'))
      ++nameEnd;
    const std::string name = Lower(tag.substr(closing ? 1 : 0, nameEnd - (closing ? 1 : 0)));
    if (name == "head" || name == "style" || name == "script" || name == "title")
      hidden = std::max(0, hidden + (closing ? -1 : 1));
    if (IsBlockTag(name))
      raw += ' ';
    const std::string lowerTag = Lower(tag);
    const std::size_t href = lowerTag.find("href=");
    if (!closing && href != std::string::npos) {
      std::size_t s = href + 5;
      const char quote = s < tag.size() && (tag[s] == '"' || tag[s] == '\'') ? tag[s++] : ' ';
      const std::size_t e = tag.find(quote, s);
      v.links.push_back(DecodeEntities(tag.substr(s, e == std::string::npos ? e : e - s)));
    }
  }
  v.text = DecodeEntities(raw);
  return v;
}

// ---- Words ----

// Code points that are not part of words: ASCII other than letters and digits, and the
// punctuation, symbol and space blocks that mail text uses.
bool IsWordCharacter(uint32_t cp) {
  if (cp < 0x80)
    return std::isalnum(static_cast<int>(cp)) || cp == '_';
  if ((cp >= 0x80 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7)
    return false;
  if ((cp >= 0x2000 && cp <= 0x2BFF) || (cp >= 0x3000 && cp <= 0x303F) || cp == 0xFFFD)
    return false;
  if ((cp >= 0xFF00 && cp <= 0xFF0F) || (cp >= 0xFF1A && cp <= 0xFF20) ||
      (cp >= 0xFF3B && cp <= 0xFF40) || (cp >= 0xFF5B && cp <= 0xFF65))
    return false;
  return true;
}

std::vector<uint32_t> CodePoints(const std::string& utf8) {
  std::vector<uint32_t> out;
  const std::u16string units = SystemToWide(utf8);
  for (std::size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(cp);
  }
  return out;
}

std::map<std::string, int> Words(const std::string& text) {
  std::map<std::string, int> words;
  std::string word;
  for (uint32_t cp : CodePoints(text)) {
    if (IsWordCharacter(cp)) {
      AppendCodePoint(word,
                      cp < 0x80 ? static_cast<uint32_t>(std::tolower(static_cast<int>(cp))) : cp);
    } else if (!word.empty()) {
      ++words[word];
      word.clear();
    }
  }
  if (!word.empty())
    ++words[word];
  return words;
}

int Count(const std::map<std::string, int>& words) {
  int n = 0;
  for (const auto& [w, k] : words)
    n += k;
  return n;
}

// How many of the words of `of` (with repeats) are also in `in`.
int Shared(const std::map<std::string, int>& of, const std::map<std::string, int>& in) {
  int n = 0;
  for (const auto& [w, k] : of) {
    auto it = in.find(w);
    if (it != in.end())
      n += std::min(k, it->second);
  }
  return n;
}

// The recovered text and the plain body must share at least 90% of their words both ways: the
// body's words must be found in the text or among its link targets (a plain body spells out
// link targets), and the text's words must be found in the body.
void ExpectSameWords(const std::string& name, const Visible& recovered, const std::string& body) {
  std::map<std::string, int> shown = Words(recovered.text);
  std::map<std::string, int> withLinks = shown;
  for (const std::string& link : recovered.links)
    for (const auto& [w, k] : Words(link))
      withLinks[w] += k;
  const std::map<std::string, int> bodyWords = Words(body);
  if (Count(bodyWords) == 0) {
    EXPECT_EQ(Count(shown), 0) << name << ": text where the plain body has none";
    return;
  }
  const double recall = double(Shared(bodyWords, withLinks)) / Count(bodyWords);
  const double precision = double(Shared(shown, bodyWords)) / std::max(1, Count(shown));
  EXPECT_GE(recall, 0.9) << name << ": words of the plain body missing from the recovered text";
  EXPECT_GE(precision, 0.9) << name << ": words in the recovered text that the body lacks";
}

// Every non-Latin letter of the body (Cyrillic, CJK, ...) must be in the recovered text.
void ExpectNonLatinLettersKept(const std::string& name, const Visible& recovered,
                               const std::string& body) {
  std::map<uint32_t, bool> shown;
  for (uint32_t cp : CodePoints(recovered.text))
    shown[cp] = true;
  int letters = 0;
  int kept = 0;
  for (uint32_t cp : CodePoints(body)) {
    if (cp < 0x250 || !IsWordCharacter(cp))
      continue;
    ++letters;
    kept += shown.count(cp) ? 1 : 0;
  }
  if (letters > 0) {
    EXPECT_GE(double(kept) / letters, 0.95) << name << ": non-Latin letters lost";
  }
}

// RTF control words must not leak into the HTML: none in its visible text, and none of the
// words that a careless scanner copies anywhere in it (CSS escapes such as \30B4 are fine).
void ExpectNoControlWords(const std::string& name, const std::string& html,
                          const Visible& recovered) {
  static const std::regex kAnyWord(R"(\\[a-z]{1,32}(-?[0-9]+)?)");
  static const std::regex kRtfWords(
      R"(\\(htmlrtf|htmltag|mhtmltag|pard?|tab|line|plain|fonttbl|colortbl|f[0-9]+|fs[0-9]+|)"
      R"(lang[0-9]+|cf[0-9]+|ql|qc|li[0-9]+|fi-?[0-9]+|uc[0-9]|u-?[0-9]+|ltrch|rtlch|loch|hich|)"
      R"(dbch|field|fldinst|fldrslt)(?![a-z]))");
  EXPECT_FALSE(std::regex_search(recovered.text, kAnyWord)) << name;
  std::smatch m;
  EXPECT_FALSE(std::regex_search(html, m, kRtfWords)) << name << ": " << m.str();
}

TEST(RtfCorpus, EncapsulatedHtmlGivesTheMessageText) {
  int checked = 0;
  for (const Message& m : CorpusMessagesWithRtf()) {
    if (m.rtf.find("\\fromhtml") == std::string::npos)
      continue;
    if (!IsRtfEncapsulatedHtml(m.rtf)) {
      // Without \fromhtml1, an <html> or DOCTYPE tag the body is shown as rich text instead.
      ExpectSameWords(m.name, VisibleText(RtfToHtml(m.rtf)), m.body);
      continue;
    }
    const std::string html = ExtractHtmlFromRtf(m.rtf);
    ASSERT_FALSE(html.empty()) << m.name;
    const Visible visible = VisibleText(html);
    // This message's plain body ("magda") is not the text of its RTF body at all.
    if (m.name != "poi_unknown_properties.msg")
      ExpectSameWords(m.name, visible, m.body);
    ExpectNonLatinLettersKept(m.name, visible, m.body);
    ExpectNoControlWords(m.name, html, visible);
    // The result is UTF-8, whatever the RTF's code pages were.
    EXPECT_TRUE(IsValidUtf8(html)) << m.name;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

TEST(RtfCorpus, EncapsulatedTextGivesTheMessageText) {
  int checked = 0;
  for (const Message& m : CorpusMessagesWithRtf()) {
    if (!IsRtfEncapsulatedText(m.rtf))
      continue;
    const std::string text = ExtractTextFromRtf(m.rtf);
    ExpectSameWords(m.name, Visible{text, {}}, m.body);
    EXPECT_EQ(text.find('\\'), std::string::npos) << m.name;
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

TEST(RtfCorpus, RichTextBodiesRenderAsTheMessageText) {
  int checked = 0;
  for (const Message& m : CorpusMessagesWithRtf()) {
    if (m.rtf.find("\\fromhtml") != std::string::npos || IsRtfEncapsulatedText(m.rtf))
      continue;
    const std::string html = RtfToHtml(m.rtf);
    const Visible visible = VisibleText(html);
    ExpectSameWords(m.name, visible, m.body);
    ExpectNonLatinLettersKept(m.name, visible, m.body);
    ExpectNoControlWords(m.name, html, visible);
    EXPECT_TRUE(IsValidUtf8(html)) << m.name;
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

TEST(RtfCorpus, RtfSampleEmailKeepsItsFormatting) {
  TQvMSGFile file;
  file.LoadFromFile(testutil::CorpusPath("msg/mrdr_RtfSampleEmail.msg"));
  const TMSGProperty* rtf = file.Properties().FindProperty(kRtfCompressed, false, false);
  ASSERT_NE(rtf, nullptr);
  const std::string html = RtfToHtml(rtf->Value.Bytes());
  // Its runs: Courier New text, and two underlined hyperlinks in another colour.
  EXPECT_NE(html.find("<span style=\"font-family:'Courier New',monospace;font-size:10pt;"),
            std::string::npos);
  const std::regex link(
      R"(<a href="https?://[^"]+"><span style="[^"]*color:#[0-9a-f]{6}[^"]*"><u>)");
  auto links = std::sregex_iterator(html.begin(), html.end(), link);
  EXPECT_EQ(std::distance(links, std::sregex_iterator()), 2);
  // The document has no bold or italic run, and none is invented.
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_EQ(html.find("<i>"), std::string::npos);
  // Literal 8-bit text and \rquote-style words are the characters they stand for.
  EXPECT_NE(html.find("\xE2\x80\x9CWell, Prince"), std::string::npos);
  EXPECT_NE(html.find("don\xE2\x80\x99t"), std::string::npos);
  EXPECT_NE(html.find("Antichrist\xE2\x80\x94I really"), std::string::npos);
}

} // namespace
} // namespace orlendo
