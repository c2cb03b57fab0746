// Rendering of an ordinary RTF document as HTML, for the rich-text view.
//
// The renderer reads the RTF as a word processor would (groups scope the formatting, fonts and
// colours come from their tables, unknown destinations are skipped) and writes what a simple
// HTML view can show: paragraphs with alignment, indents and spacing; line breaks and tabs;
// bold, italic, underline, strike-through, superscript and subscript; font family, size,
// colour and highlight; hyperlink fields; bulleted and numbered lists (from the list tables or
// from old-style paragraph numbering); simple tables; PNG and JPEG pictures as data: URLs.
// Hidden text is left out. Whatever else the RTF holds is dropped, never shown as RTF source.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/rtf_tokenizer.h"

namespace orlendo {

// A complete HTML document in UTF-8 (with <meta charset="utf-8">) that shows `rtf`. Input that is
// not RTF, or damaged RTF, gives a document with whatever text could be read.
std::string RtfToHtml(const std::string& rtf);

// The renderer, usable on input that arrives in pieces: Write chunks of any size, then Finish.
// The result does not depend on how the input was cut.
class RtfHtmlRenderer {
public:
  RtfHtmlRenderer();
  // Reads a complete input without copying it; Finish then does all the work.
  explicit RtfHtmlRenderer(std::string_view completeInput);
  ~RtfHtmlRenderer();
  RtfHtmlRenderer(const RtfHtmlRenderer&) = delete;
  RtfHtmlRenderer& operator=(const RtfHtmlRenderer&) = delete;

  void Write(std::string_view chunk);
  std::string Finish();
  const std::vector<RtfProblem>& Problems() const;

private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace orlendo
