#include "crypto/signatures.h"

#include "crypto/pgp_mime.h"

namespace orlendo {

TMessageSecurity CheckSignatures(const std::vector<TSignedEntity>& entities,
                                 const TTrustAnchors& anchors) {
  TMessageSecurity security;
  for (const TSignedEntity& entity : entities) {
    if (entity.Opaque) {
      security.Signatures.push_back(VerifyCmsSignature(entity.Bytes, nullptr, anchors));
      continue;
    }
    TSignedParts parts;
    TSignatureStatus status;
    status.Protocol = entity.Protocol;
    if (!SplitMultipartSigned(entity.Bytes, parts)) {
      status.Reason = "the signed message is incomplete";
    } else if (entity.Protocol == TSignatureProtocol::OpenPgp) {
      status =
          PgpSignatureStatus(VerifyPgpDetached(parts.Content, parts.Signature, anchors.GnupgHome));
    } else {
      status = VerifyCmsSignature(parts.Signature, &parts.Content, anchors);
    }
    security.Signatures.push_back(std::move(status));
  }
  return security;
}

} // namespace orlendo
