#include "mime/rfc2047.h"

#include <algorithm>

#include "text/internet_encodings.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

// In the Q form an underscore stands for a space (an encoded "=5F" is a real underscore); the
// quoted-printable decoder of bodies must not know that rule.
std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return out;
}

std::string UnderscoresToSpaces(std::string_view encoded) {
  std::string text(encoded);
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

// Header text outside encoded words: mail programs put raw UTF-8 there (RFC 6532), older ones
// raw bytes of the message's charset.
std::u16string RawText(std::string_view bytes, const std::string& charset) {
  if (IsValidUtf8(bytes))
    return SystemToWide(bytes);
  const bool usable = !charset.empty() && CharsetToCodePage(charset) != 65001 &&
                      AsciiLowerCopy(charset) != "utf-8" && IsKnownCharset(charset);
  return DecodeCharset(usable ? charset : std::string("windows-1252"), bytes);
}

} // namespace

std::u16string DecodeEncodedWords(std::string_view value, const TQvMSGConvertCodepage& hook,
                                  void* sender, const std::string& rawCharset) {
  // Most values hold no encoded word: decoded in one piece, without a second copy.
  if (value.find("=?") == std::string_view::npos)
    return RawText(value, rawCharset);
  std::u16string out;
  out.reserve(value.size());
  size_t pos = 0;         // start of the text not yet copied to out
  bool afterWord = false; // the text at pos follows an encoded word
  // The bytes of a run of adjacent encoded words in one charset, converted together: mail
  // programs split a long text between words without regard to its characters (a UTF-8 sequence
  // begun in one word ends in the next), and mail clients join them before decoding.
  std::string runCharset, runBytes;
  const auto flush = [&] {
    if (!runBytes.empty() && hook)
      hook(sender, runCharset, runBytes);
    else
      DefaultDecodeCodepage(sender, runCharset, runBytes);
    out += SystemToWide(runBytes);
    runBytes.clear();
  };
  while (pos < value.size()) {
    const size_t start = value.find("=?", pos);
    if (start == std::string_view::npos)
      break;
    const size_t charsetBegin = start + 2;
    const size_t question = value.find('?', charsetBegin);
    if (question == std::string_view::npos)
      break;
    // The letter and the "?" after it are taken whatever they are.
    const size_t encodedBegin = question + 3;
    if (encodedBegin > value.size())
      break;
    const size_t close = value.find("?=", encodedBegin);
    if (close == std::string_view::npos)
      break;

    const std::string charset(value.substr(charsetBegin, question - charsetBegin));
    const char letter = value[question + 1];
    const std::string_view encoded = value.substr(encodedBegin, close - encodedBegin);
    std::string decoded;
    if (letter == 'B' || letter == 'b')
      decoded = DecodeBase64(encoded);
    else if (letter == 'Q' || letter == 'q')
      decoded = DecodeQuotedPrintable(UnderscoresToSpaces(encoded));

    // Only white space between two encoded words is dropped: a word split into two encoded words
    // (to change charset, or to keep lines short) reads unbroken.
    const std::string_view between = value.substr(pos, start - pos);
    const bool adjacent =
        afterWord && between.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (!adjacent || AsciiLowerCopy(charset) != AsciiLowerCopy(runCharset)) {
      if (afterWord)
        flush();
      if (!adjacent)
        out += RawText(between, rawCharset);
      runCharset = charset;
    }
    runBytes += decoded;
    pos = close + 2;
    afterWord = true;
  }
  if (afterWord)
    flush();
  out += RawText(value.substr(pos), rawCharset);
  return out;
}

} // namespace orlendo
