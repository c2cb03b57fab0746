// The signatures of a message checked, whichever kind each is: S/MIME by OpenSSL's CMS
// functions, OpenPGP by GnuPG.
#pragma once

#include <vector>

#include "mime/message_security.h"
#include "mime/signed_content.h"
#include "mime/smime_cms.h"

namespace orlendo {

// Checks every signed entity; a multipart/signed whose protocol is OpenPGP is checked against
// the keyring of anchors.GnupgHome (a signer whose key is not there: CannotCheck, "no public
// key"). Never raises; may take a while (a view calls it off its own thread).
TMessageSecurity CheckSignatures(const std::vector<TSignedEntity>& entities,
                                 const TTrustAnchors& anchors);

} // namespace orlendo
