// The small decoders: base64, quoted-printable, RFC 2047 words, RFC 822 dates, UTF-8 and HTML
// character references. The first byte picks the decoder so that each gets the whole budget.
#include <cstdint>
#include <string>

#include "mime/rfc2047.h"
#include "text/base64.h"
#include "text/html_entities.h"
#include "text/quoted_printable.h"
#include "text/qvmsgcp.h"
#include "text/rfc822_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 7) {
    case 0: {
      std::string decoded = DecodeBase64(input);
      if (DecodeBase64(EncodeBase64(decoded)) != decoded) __builtin_trap();
      break;
    }
    case 1:
      (void)DecodeQuotedPrintable(input);
      break;
    case 2:
      (void)DecodeEncodedWords(input, TQvMSGConvertCodepage(), nullptr);
      break;
    case 3: {
      TDateTime when = 0;
      (void)TryParseRfc822Date(input, when);
      break;
    }
    case 4: {
      std::u16string wide = DecodeUtf8(input);
      (void)EncodeUtf8(wide);
      (void)SystemToWide(input);
      break;
    }
    case 5:
      (void)DecodeHtmlEntities(input);
      break;
    case 6:
      if (!input.empty()) (void)CodePageToWide(input.substr(1), 932 + (input[0] & 0x3F));
      break;
  }
  return 0;
}
