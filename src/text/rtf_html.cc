#include "text/rtf_html.h"

#include <algorithm>
#include <cctype>

namespace orlendo {

namespace {

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoreCase(std::string_view text, std::size_t at, std::string_view prefix) {
  if (at > text.size() || text.size() - at < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[at + i]) != prefix[i])
      return false;
  return true;
}

// The recovered HTML is UTF-8 whatever the original declared: make every <meta> charset say so,
// so that the view does not decode the text a second time in the old charset.
std::string RewriteMetaCharsets(std::string html) {
  std::size_t pos = 0;
  while ((pos = html.find('<', pos)) != std::string::npos) {
    if (!StartsWithIgnoreCase(html, pos + 1, "meta")) {
      ++pos;
      continue;
    }
    const std::size_t end = html.find('>', pos);
    if (end == std::string::npos)
      break;
    std::size_t at = pos;
    while (at < end) {
      if (!StartsWithIgnoreCase(html, at, "charset")) {
        ++at;
        continue;
      }
      std::size_t v = at + 7;
      while (v < end && (html[v] == ' ' || html[v] == '\t'))
        ++v;
      if (v >= end || html[v] != '=') {
        at = v;
        continue;
      }
      ++v;
      while (v < end && (html[v] == ' ' || html[v] == '\t'))
        ++v;
      const bool quoted = v < end && (html[v] == '"' || html[v] == '\'');
      const std::size_t valueStart = quoted ? v + 1 : v;
      std::size_t valueEnd = valueStart;
      while (valueEnd < end && html[valueEnd] != '"' && html[valueEnd] != '\'' &&
             html[valueEnd] != ' ' && html[valueEnd] != ';' && html[valueEnd] != '/')
        ++valueEnd;
      html.replace(valueStart, valueEnd - valueStart, "utf-8");
      break;
    }
    pos = html.find('>', pos);
    if (pos == std::string::npos)
      break;
  }
  return html;
}

} // namespace

namespace {

enum class RtfOrigin { kUnknown, kText, kHtml };

// What the document's header says it was made from. The writer puts the marker (\fromtext, or
// \fromhtml1) right after \rtf1 and the character set words; looking further would find the
// word in documents that merely quote it.
RtfOrigin DeclaredOrigin(const std::string& rtf) {
  RtfTokenizer tokenizer(rtf);
  for (int seen = 0; seen < 10;) {
    const RtfToken token = tokenizer.Next();
    switch (token.kind) {
    case RtfTokenKind::kGroupStart:
      ++seen;
      break;
    case RtfTokenKind::kControlWord:
      if (token.text == "fromtext")
        return RtfOrigin::kText;
      if (token.text == "fromhtml")
        return token.ParamOr(0) == 1 ? RtfOrigin::kHtml : RtfOrigin::kUnknown;
      ++seen;
      break;
    case RtfTokenKind::kControlSymbol:
    case RtfTokenKind::kGroupEnd:
      break;
    default:
      return RtfOrigin::kUnknown; // text, or the end, before the marker
    }
  }
  return RtfOrigin::kUnknown;
}

} // namespace

bool IsRtfEncapsulatedHtml(const std::string& rtf) {
  if (rtf.empty() || !Contains(rtf, "\\fromhtml") || !Contains(rtf, "{\\*\\htmltag"))
    return false;
  // A header that declares \fromhtml1 says by itself that the document was made from HTML, also
  // when that HTML is a fragment or spells its tags in upper case.
  return Contains(rtf, "<!DOCTYPE html") || Contains(rtf, "<!DOCTYPE HTML") ||
         Contains(rtf, "<html ") || Contains(rtf, "<html>") ||
         DeclaredOrigin(rtf) == RtfOrigin::kHtml;
}

bool IsRtfEncapsulatedText(const std::string& rtf) {
  return DeclaredOrigin(rtf) == RtfOrigin::kText;
}

bool MatchControlWord(std::string_view text, std::string_view word, bool skipDigits,
                      std::size_t& pos, bool requireDigit) {
  if (pos < 1 || pos > text.size() || word.empty())
    return false;
  const std::size_t at = pos - 1;
  if (text.substr(at, word.size()) != word)
    return false;
  std::size_t next = at + word.size();
  if (requireDigit && (next >= text.size() || !IsDigit(text[next])))
    return false;
  if (skipDigits)
    while (next < text.size() && IsDigit(text[next]))
      ++next;
  pos = next + 1;
  return true;
}

bool SkipDestination(std::string_view text, std::string_view word, std::size_t& pos) {
  if (pos < 1 || pos > text.size() || word.empty())
    return false;
  const std::size_t at = pos - 1;
  if (text.substr(at, word.size()) != word)
    return false;
  std::size_t next = at + word.size();
  if (at > 0 && text[at - 1] == '{') {
    while (next < text.size() && text[next] != '\r' && text[next] != '\n' && text[next] != '}')
      ++next;
  }
  pos = next + 1;
  return true;
}

class RtfDeencapsulator::Impl {
public:
  Impl(Output output, std::string_view completeInput, bool complete)
      : output_(output), decoder_(&result_) {
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
    decoder_.Flush();
    if (output_ == Output::kHtml)
      return RewriteMetaCharsets(std::move(result_));
    return std::move(result_);
  }

  const std::vector<RtfProblem>& Problems() const { return tokenizer_.Problems(); }

private:
  enum class Dest : uint8_t {
    kBody,      // document text: the original's text where \htmlrtf is off
    kHtmlTag,   // encapsulated markup: copied
    kSkip,      // not text
    kFontTable, // read for the code pages of the fonts
    kUpr,       // \upr: its plain part is skipped, its \ud part read
  };

  struct GroupState {
    Dest dest = Dest::kBody;
    Dest resume = Dest::kBody; // for kUpr: what its \ud part is
    bool htmlrtf = false;
    int font = -1; // -1: the default font
  };

  void Pump() {
    for (;;) {
      const RtfToken token = tokenizer_.Next();
      if (token.kind == RtfTokenKind::kNeedMoreInput || token.kind == RtfTokenKind::kEnd)
        return;
      Handle(token);
    }
  }

  bool Emitting() const {
    const GroupState& s = stack_.back();
    if (s.dest == Dest::kHtmlTag)
      return true;
    return s.dest == Dest::kBody && !s.htmlrtf && tokenizer_.Depth() > 0;
  }

  unsigned TextCodePage() {
    const GroupState& s = stack_.back();
    // Markup is written in the document's code page; text in that of its font.
    if (s.dest == Dest::kHtmlTag)
      return fonts_.DocumentCodePage();
    return fonts_.CodePageOf(s.font);
  }

  void Handle(const RtfToken& token) {
    const bool groupStart = atGroupStart_;
    const bool star = starred_;
    atGroupStart_ = false;
    starred_ = false;
    GroupState& state = stack_.back();

    switch (token.kind) {
    case RtfTokenKind::kGroupStart:
      stack_.push_back(stack_.back());
      atGroupStart_ = true;
      return;
    case RtfTokenKind::kGroupEnd:
      if (stack_.size() > 1)
        stack_.pop_back();
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
      if (state.dest == Dest::kFontTable)
        fonts_.AppendNameBytes(token.text);
      else if (Emitting())
        decoder_.AppendBytes(token.text, TextCodePage());
      return;
    case RtfTokenKind::kHexByte:
      if (state.dest == Dest::kFontTable)
        fonts_.AppendNameBytes(std::string_view(reinterpret_cast<const char*>(&token.byte), 1));
      else if (Emitting())
        decoder_.AppendByte(token.byte, TextCodePage());
      return;
    case RtfTokenKind::kUnicode:
      if (state.dest != Dest::kFontTable && Emitting())
        decoder_.AppendUnit(token.unit);
      return;
    default:
      return;
    }
  }

  // Recognises the word that opens a group as a destination. True when it was one.
  bool StartDestination(const RtfToken& token, bool star) {
    GroupState& state = stack_.back();
    const Dest parent = stack_.size() > 1 ? stack_[stack_.size() - 2].dest : Dest::kBody;
    if (parent == Dest::kSkip) {
      state.dest = Dest::kSkip;
      return true;
    }
    if (parent == Dest::kFontTable) {
      // A font entry in braces; its \fN is an ordinary word of the table.
      if (star) {
        state.dest = Dest::kSkip;
        return true;
      }
      return false;
    }
    const std::string_view word = token.text;
    if (word == "htmltag" && output_ == Output::kHtml && parent != Dest::kHtmlTag) {
      // Inside an \htmlrtf run nothing is copied, markup included.
      state.dest = state.htmlrtf ? Dest::kSkip : Dest::kHtmlTag;
      return true;
    }
    if (word == "fonttbl") {
      state.dest = Dest::kFontTable;
      return true;
    }
    if (word == "ud" && parent == Dest::kUpr) {
      state.dest = stack_[stack_.size() - 2].resume;
      return true;
    }
    if (word == "upr") {
      state.resume = parent;
      state.dest = Dest::kUpr;
      return true;
    }
    if (star || RtfIsNonTextDestination(word)) {
      state.dest = Dest::kSkip;
      return true;
    }
    return false;
  }

  void HandleWord(const RtfToken& token) {
    GroupState& state = stack_.back();
    const std::string_view word = token.text;
    if (state.dest == Dest::kSkip || state.dest == Dest::kUpr)
      return;
    if (state.dest == Dest::kFontTable) {
      if (word == "f")
        fonts_.SelectEntry(token.ParamOr(0));
      else if (word == "fcharset")
        fonts_.SetCharset(token.ParamOr(0));
      else if (word == "cpg")
        fonts_.SetCodePage(token.ParamOr(0));
      return;
    }
    // State words apply whether or not text is being copied.
    if (word == "htmlrtf") {
      state.htmlrtf = token.ParamOr(1) != 0;
      return;
    }
    if (word == "f") {
      state.font = std::max(0, token.ParamOr(0));
      return;
    }
    if (word == "plain") {
      state.font = -1;
      return;
    }
    if (word == "ansicpg") {
      fonts_.SetDocumentCodePage(static_cast<unsigned>(std::max(0, token.ParamOr(0))));
      return;
    }
    if (word == "deff") {
      fonts_.SetDefaultFont(std::max(0, token.ParamOr(0)));
      return;
    }
    if (word == "mac" || word == "pc" || word == "pca") {
      fonts_.SetDocumentCodePage(word == "mac" ? 10000 : word == "pc" ? 437 : 850);
      return;
    }
    if (!Emitting())
      return;
    if (word == "par" || word == "line" || (state.dest == Dest::kBody && word == "row")) {
      decoder_.AppendCodePoint(U'\r');
      decoder_.AppendCodePoint(U'\n');
    } else if (word == "tab" || (state.dest == Dest::kBody && word == "cell")) {
      decoder_.AppendCodePoint(U'\t');
    } else if (char32_t c = RtfSpecialCharacter(word)) {
      decoder_.AppendCodePoint(c);
    }
    // Every other control word is formatting: never text.
  }

  void HandleSymbol(char symbol) {
    const GroupState& state = stack_.back();
    if (state.dest == Dest::kFontTable || !Emitting())
      return;
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
      decoder_.AppendByte(static_cast<uint8_t>(symbol), TextCodePage());
      break;
    case '~':
      decoder_.AppendCodePoint(0x00A0);
      break;
    case '_':
      decoder_.AppendCodePoint(0x2011);
      break;
    default:
      break; // \- optional hyphen, \| \: index marks, unknown symbols: no text
    }
  }

  Output output_;
  RtfTokenizer tokenizer_;
  std::string result_;
  RtfTextDecoder decoder_;
  RtfFontTable fonts_;
  std::vector<GroupState> stack_;
  bool atGroupStart_ = false;
  bool starred_ = false;
};

RtfDeencapsulator::RtfDeencapsulator(Output output)
    : impl_(std::make_unique<Impl>(output, std::string_view(), false)) {}

RtfDeencapsulator::RtfDeencapsulator(Output output, std::string_view completeInput)
    : impl_(std::make_unique<Impl>(output, completeInput, true)) {}

RtfDeencapsulator::~RtfDeencapsulator() = default;

void RtfDeencapsulator::Write(std::string_view chunk) {
  impl_->Write(chunk);
}

std::string RtfDeencapsulator::Finish() {
  return impl_->Finish();
}

const std::vector<RtfProblem>& RtfDeencapsulator::Problems() const {
  return impl_->Problems();
}

std::string ExtractHtmlFromRtf(const std::string& rtf) {
  if (!IsRtfEncapsulatedHtml(rtf))
    return {};
  RtfDeencapsulator reader(RtfDeencapsulator::Output::kHtml, rtf);
  return reader.Finish();
}

std::string ExtractTextFromRtf(const std::string& rtf) {
  if (!IsRtfEncapsulatedText(rtf))
    return {};
  RtfDeencapsulator reader(RtfDeencapsulator::Output::kText, rtf);
  return reader.Finish();
}

} // namespace orlendo
