// Quoted-printable decoding (MIME bodies and the Q form of RFC 2047 words).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orlendo {

// Incremental decoder: feed the input in chunks of any size with Filter, then call Complete
// once; the output is the same for every way of cutting the input. Never fails.
//
// Rules: "=" and two hex digits (either case) give that byte; "=" and one hex digit give the
// byte of that digit ("end=4" gives "end" and 0x04). "=" followed by something else is a soft
// line break: it is dropped together with up to two following CR or LF characters, so "=" and
// any other character just loses the "=" ("a=Zb" gives "aZb"). An encoded space directly before
// a line break keeps the line break, normalised to CR LF. Blanks (space, TAB, CR, LF) at the very
// end of the input are dropped, except its CR and LF characters. Underscores stay underscores.
class QuotedPrintableDecoder {
public:
  // Appends the bytes decoded from `input` to `out`. Trailing blanks of a chunk are held back
  // until it is known whether more text follows them.
  void Filter(std::string_view input, std::string& out);
  // Decodes the last chunk (may be empty) and flushes everything held back. The decoder is then
  // ready for a new input.
  void Complete(std::string_view input, std::string& out);
  // Forgets everything held back, for a new input.
  void Reset();

private:
  enum class State : uint8_t { Text, Equals, OneDigit, SkipBreak, SkipBreakOnce, Space };
  void Step(unsigned char c, std::string& out);

  State state_ = State::Text;
  unsigned char firstDigit_ = 0;
  std::string blanks_; // a run of blanks not yet known to be inside the text
};

// The decoded bytes of `text` (one call of QuotedPrintableDecoder::Complete).
std::string DecodeQuotedPrintable(std::string_view text);

} // namespace orlendo
