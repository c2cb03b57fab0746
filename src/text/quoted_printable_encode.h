// Quoted-printable encoding of text (RFC 2045, section 6.7) for the parts of written messages.
//
// The input is the text of one part, already in the part's charset. Line breaks of the text
// (CR LF, and also a lone LF or a lone CR) become the hard line breaks CR LF of the encoding;
// every other byte outside the printable ASCII range, and "=", is written as "=" and two
// upper-case hex digits; a blank at the end of a line is encoded so that transports that strip
// trailing blanks cannot change the text; lines longer than 76 characters are split with soft
// line breaks ("=" CR LF). Decoding the output gives the text back with CR LF line breaks.
#pragma once

#include <string>
#include <string_view>

namespace orlendo {

// An incremental encoder: Filter may be called with the text in any chunking; the output of
// all calls followed by Complete equals the output of one call on the whole text.
class QuotedPrintableEncoder {
public:
  // The longest encoded line, soft-break "=" included (RFC 2045 allows at most 76).
  static constexpr size_t kMaxLineLength = 76;

  // Encodes input and appends the result to out. Bytes whose encoding depends on what follows
  // (a blank, a CR) are held back until the next call or Complete.
  void Filter(std::string_view input, std::string& out);
  // Appends what is held back; the text ends here. The encoder is then ready for a new text.
  void Complete(std::string& out);
  // Forgets everything held back, as newly constructed.
  void Reset();

private:
  void Put(std::string_view token, std::string& out);
  // Bytes of which each would go through Put on its own, with the same soft breaks.
  void PutRun(const char* run, size_t size, std::string& out);
  void PutEncoded(unsigned char c, std::string& out);
  void HardBreak(std::string& out);
  void FlushBlankBeforeBreak(std::string& out);

  size_t lineLength_ = 0;
  int pendingBlank_ = -1; // a space or TAB not yet written, or -1
  bool pendingCR_ = false;
};

// The whole text encoded at once.
std::string EncodeQuotedPrintable(std::string_view text);

} // namespace orlendo
