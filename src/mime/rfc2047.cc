#include "mime/rfc2047.h"

#include <algorithm>

#include "text/internet_encodings.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

// In the Q form an underscore stands for a space (an encoded "=5F" is a real underscore); the
// quoted-printable decoder of bodies must not know that rule.
std::string UnderscoresToSpaces(std::string_view encoded) {
  std::string text(encoded);
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

} // namespace

std::u16string DecodeEncodedWords(std::string_view value, const TQvMSGConvertCodepage& hook,
                                  void* sender) {
  std::u16string out;
  out.reserve(value.size());
  size_t pos = 0;         // start of the text not yet copied to out
  bool afterWord = false; // the text at pos follows an encoded word
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
    if (!decoded.empty() && hook)
      hook(sender, charset, decoded);
    else
      DefaultDecodeCodepage(sender, charset, decoded);

    // Only white space between two encoded words is dropped: a word split into two encoded words
    // (to change charset, or to keep lines short) reads unbroken.
    const std::string_view between = value.substr(pos, start - pos);
    if (!afterWord || between.find_first_not_of(" \t\r\n") != std::string_view::npos)
      out += SystemToWide(between);
    out += SystemToWide(decoded);
    pos = close + 2;
    afterWord = true;
  }
  out += SystemToWide(value.substr(pos));
  return out;
}

} // namespace orlendo
