// OpenPGP in mail (RFC 3156): checking the detached signature of a multipart/signed entity and
// opening a multipart/encrypted one, with the user's GnuPG keyring ($GNUPGHOME, else
// ~/.gnupg).
//
// Nothing here ever waits on the user or the network: no passphrase is asked for (a protected
// secret key is reported, not unlocked), keys are never fetched from a key server, and only the
// keys already in the keyring are used. Clear text stays in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mime/message_security.h"

namespace orlendo {

enum class TPgpVerdict {
  Valid,       // the signature is good and the key is trusted
  NotTrusted,  // the signature is good, but the key is not certified, expired or revoked
  Invalid,     // the signature does not match the content: the content was changed
  NoPublicKey, // the signer's key is not in the keyring: cannot check
  CannotCheck, // anything else that kept the signature from being checked
};

struct TPgpSignature {
  TPgpVerdict Verdict = TPgpVerdict::CannotCheck;
  std::string UserId;      // the key's primary user id as written ("Name <address>"), if known
  std::string Name;        // its name part
  std::string Address;     // its address part
  std::string KeyId;       // the 16 hex digits of the signing (sub)key, upper case
  std::string Fingerprint; // the signing key's fingerprint when the signature names it
  int64_t SigningTime = 0; // seconds since 1970 (UTC); 0 when unknown
  std::string Detail;      // why it is not trusted or cannot be checked, in English
};

struct TPgpVerification {
  // One entry per signature; empty when nothing could be checked (see Error).
  std::vector<TPgpSignature> Signatures;
  std::string Error;
};

// Checks a detached signature (ASCII-armoured or binary) over signedEntity, the bytes of the
// first part of the multipart/signed entity exactly as they stand in the message; their line
// ends are made CR LF first, as RFC 3156 signs them. gnupgHome overrides $GNUPGHOME when set.
TPgpVerification VerifyPgpDetached(std::string_view signedEntity, std::string_view signature,
                                   const std::string& gnupgHome = {});

// The first signature of a check as the banner shows it; CannotCheck with the error when there
// is none. A signer whose key is not in the keyring is named by its key id.
TSignatureStatus PgpSignatureStatus(const TPgpVerification& verification);

// Finds the first PGP/MIME multipart/signed entity in a message (or in a part of its
// multiparts) and checks it. False when the message has none; then result is unchanged.
bool VerifyPgpMimeMessage(std::string_view message, TPgpVerification& result,
                          const std::string& gnupgHome = {});

// A public-key encrypted session key of an OpenPGP message: whom it was encrypted to.
struct TPgpRecipient {
  std::string KeyId;  // 16 hex digits, upper case; "0000000000000000" for a hidden recipient
  int Algorithm = 0;  // OpenPGP public-key algorithm number (1 RSA, 16 Elgamal, 18 ECDH, ...)
  std::string UserId; // the key's primary user id when the keyring has the key, else ""
};

// The recipients of OpenPGP encrypted data (armoured or binary), read from its packets without
// running GnuPG. Unreadable data gives what was read before the damage.
std::vector<TPgpRecipient> PgpRecipients(std::string_view encrypted);

// The same with each recipient's user id looked up in the keyring.
std::vector<TPgpRecipient> PgpRecipientsWithNames(std::string_view encrypted,
                                                  const std::string& gnupgHome = {});

struct TPgpDecryption {
  bool Ok = false;
  std::string Content; // the clear text: for PGP/MIME the MIME entity that was encrypted
  std::string Error;   // why it failed, in English
  std::vector<TPgpRecipient> Recipients;
  // The signatures of signed-and-encrypted data, checked while decrypting.
  std::vector<TPgpSignature> Signatures;
};

// Decrypts OpenPGP data with a secret key of the keyring. A key protected by a passphrase is not
// unlocked (no prompt): that is reported as the error.
TPgpDecryption DecryptPgp(std::string_view encrypted, const std::string& gnupgHome = {});

// The encrypted data of the first PGP/MIME multipart/encrypted entity of a message (the decoded
// body of its second part); false when there is none.
bool FindPgpMimeEncrypted(std::string_view message, std::string& encrypted);

} // namespace orlendo
