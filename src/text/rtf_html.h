// Recovery of the HTML or plain text that an RTF body encapsulates.
//
// A mail program that stores an HTML or plain-text message only as RTF keeps the original inside
// that RTF: the header declares \fromhtml1 (or \fromtext), the HTML markup sits in
// {\*\htmltagN ...} groups, the text between them is the HTML's own text, and RTF that the
// conversion added is bracketed by \htmlrtf ... \htmlrtf0. De-encapsulation is a real RTF reading
// of that document: groups scope the \htmlrtf state and the current font, escaped bytes are
// decoded in the code page of the current font (or, inside markup groups, of the document), \uN
// characters are kept, and no control word ever reaches the output.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/rtf_tokenizer.h"

namespace orlendo {

// True when `rtf` carries encapsulated HTML: it contains "\fromhtml", a "{\*\htmltag" group and
// either at least one of "<!DOCTYPE html", "<!DOCTYPE HTML", "<html " or "<html>"
// (case-sensitive), or a header that declares \fromhtml1 (then the HTML may be a fragment or be
// written in upper case).
bool IsRtfEncapsulatedHtml(const std::string& rtf);

// True when `rtf` declares \fromtext among its first ten group starts and control words, which
// is where an encapsulating writer puts it.
bool IsRtfEncapsulatedText(const std::string& rtf);

// The HTML encapsulated in `rtf`, as UTF-8, or "" when IsRtfEncapsulatedHtml is false. Damaged
// input gives what can be recovered. A charset declared by a <meta> element of the HTML is
// rewritten to utf-8, since that is what the returned bytes are.
std::string ExtractHtmlFromRtf(const std::string& rtf);

// The plain text encapsulated in `rtf` (\par and \line as CR LF, \tab as TAB), as UTF-8, or ""
// when IsRtfEncapsulatedText is false.
std::string ExtractTextFromRtf(const std::string& rtf);

// Small matching helpers over RTF source text. `pos` is a 1-based index into `text`.
//
// True when the characters of `text` from `pos` equal `word` exactly (case-sensitive) and, with
// `requireDigit`, the character right after them is a decimal digit. On success `pos` moves past
// `word` and, with `skipDigits`, past every decimal digit that follows; on failure it is
// unchanged. No delimiter is consumed, and a "-" before a number is not part of it.
bool MatchControlWord(std::string_view text, std::string_view word, bool skipDigits,
                      std::size_t& pos, bool requireDigit);

// True when `text` at `pos` equals `word`; then `pos` moves past `word` and, when the character
// before `word` is "{", on until it stands on the next CR, LF or "}" (which is not consumed) or
// one past the end of the text.
bool SkipDestination(std::string_view text, std::string_view word, std::size_t& pos);

// The de-encapsulating reader, usable on input that arrives in pieces. Write may be called with
// chunks of any size; Finish returns the whole result. The result does not depend on how the
// input was cut. The entry conditions are not checked here: the caller decides (see
// IsRtfEncapsulatedHtml) that the input is encapsulated.
class RtfDeencapsulator {
public:
  enum class Output { kHtml, kText };

  explicit RtfDeencapsulator(Output output);
  // Reads a complete input without copying it; Finish then does all the work.
  RtfDeencapsulator(Output output, std::string_view completeInput);
  ~RtfDeencapsulator();
  RtfDeencapsulator(const RtfDeencapsulator&) = delete;
  RtfDeencapsulator& operator=(const RtfDeencapsulator&) = delete;

  void Write(std::string_view chunk);
  std::string Finish();
  const std::vector<RtfProblem>& Problems() const;

private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace orlendo
