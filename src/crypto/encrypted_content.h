// Encrypted messages in the message model: where a message keeps its encrypted content, to whom
// it is encrypted, and the decrypted content read back as a message.
//
// Outlook stores an S/MIME encrypted message (IPM.Note.SMIME) as one smime.p7m attachment
// holding the CMS envelope; an Internet message holds it as its application/pkcs7-mime body,
// which the reader keeps as an attachment node. A PGP/MIME message (multipart/encrypted) keeps
// its OpenPGP data in the part after the application/pgp-encrypted control part.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mime/message_security.h"

namespace orlendo {

class TMSGProperties;
class TQvEMLFile;

struct TEncryptedContent {
  enum class TKind { None, Cms, OpenPgp };
  TKind Kind = TKind::None;
  // The CMS structure (DER) or the OpenPGP data, as the attachment holds it.
  std::string Data;
  // Whom it is encrypted to: the certificates' issuers and serials, or OpenPGP key ids in
  // Serial (Issuer empty).
  std::vector<TEncryptionRecipient> Recipients;
};

// The encrypted content of the message level (its own attachments, not those of embedded
// messages); Kind None when it has none. Fast: nothing runs GnuPG, so a view may call it as it
// shows a message.
TEncryptedContent FindEncryptedContent(const TMSGProperties& level);

// Reads the decrypted MIME entity as a message. The entity rarely has a header of its own beyond
// its Content-Type, so the outer message's properties (subject, sender, recipients, dates) fill
// what it lacks; its bodies and attachments are its own.
std::unique_ptr<TQvEMLFile> ReadDecryptedMessage(std::string content, const TMSGProperties& outer);

} // namespace orlendo
