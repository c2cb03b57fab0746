// Feeds the input to the parsers of signed and encrypted mail: the byte-exact MIME splitter, the
// OpenPGP packet reader, OpenSSL's CMS parsing of signed and enveloped data, and the signature
// check against an empty set of authorities (so no certificate store is read per input). GnuPG
// itself is never started here: it is a separate process and would make each input slow.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/cms_envelope.h"
#include "crypto/pgp_mime.h"
#include "crypto/raw_mime.h"
#include "mime/signed_content.h"
#include "mime/smime_cms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  (void)PgpRecipients(bytes);
  std::string found;
  if (FindPgpMimeEncrypted(bytes, found))
    (void)PgpRecipients(found);
  if (FindSmimeEnvelope(bytes, found))
    (void)ReadCmsEnvelope(found);
  (void)ReadCmsEnvelope(bytes);

  TRawSecuredParts parts;
  if (FindRawSecured(bytes, "multipart/signed",
                     {"application/pkcs7-signature", "application/x-pkcs7-signature",
                      "application/pgp-signature"},
                     parts)) {
    (void)SplitRawEntity(parts.Second);
    (void)CanonicalCrlf(parts.First);
  }
  TSignedParts signedParts;
  if (SplitMultipartSigned(bytes, signedParts))
    (void)EntityContentHeaders(bytes);
  (void)EntityBody(bytes);
  (void)DecodedRawBody(SplitRawEntity(bytes));

  std::string content;
  (void)ExtractSignedContent(bytes, content);
  (void)IsEnvelopedData(bytes);
  TTrustAnchors none;
  none.System = false;
  (void)VerifyCmsSignature(bytes, nullptr, none);
  const std::string detached = "Content-Type: text/plain\r\n\r\nx\r\n";
  (void)VerifyCmsSignature(bytes, &detached, none);
  return 0;
}
