// S/MIME signatures by OpenSSL's CMS functions: the content of an opaque signed-data, and the
// check of a signature against its content and of the signer's certificate against the trusted
// certificate authorities. (The check of a message's signatures of either kind, S/MIME and
// OpenPGP, is CheckSignatures in crypto/signatures.h.)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mime/message_security.h"
#include "mime/signed_content.h"

namespace orlendo {

// The certificate authorities a check trusts.
struct TTrustAnchors {
  // The system's store: the bundle /etc/ssl/certs/ca-certificates.crt and the hashed folder
  // /etc/ssl/certs.
  bool System = true;
  // PEM files of further certificates to trust, and hashed folders of them.
  std::vector<std::string> Files;
  std::vector<std::string> Folders;
  // The moment at which certificates must be valid, in seconds since 1970 UTC; 0 for now.
  int64_t At = 0;
  // The GnuPG home whose keyring OpenPGP signatures are checked against; empty for $GNUPGHOME,
  // else ~/.gnupg.
  std::string GnupgHome;
};

// The content that the CMS signed-data der holds (an opaque signature), in content. False for
// anything else: no CMS structure, another content type (enveloped-data), or a detached one.
bool ExtractSignedContent(std::string_view der, std::string& content);

// True when der is a CMS structure of type enveloped-data (or authenticated enveloped-data).
bool IsEnvelopedData(std::string_view der);

// Checks the CMS signed-data der: against detachedContent when given (a multipart/signed), else
// against the content it holds. The first signer decides the verdict: Invalid when its signature
// does not match the content, Untrusted when it matches but the signer's certificate does not
// lead to a trusted authority or is not valid at anchors.At, CannotCheck when the structure, the
// signer's certificate or an algorithm cannot be used. Never raises.
TSignatureStatus VerifyCmsSignature(std::string_view der, const std::string* detachedContent,
                                    const TTrustAnchors& anchors);

} // namespace orlendo
