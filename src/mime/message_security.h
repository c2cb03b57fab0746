// What a message's cryptographic wrapping says about it: who signed it and whether the signature
// holds, or to whom it is encrypted. The readers unwrap signed content into the message model;
// the checks that fill these records run apart from the readers (they may take a while, and a
// view runs them off its own thread), and the preview shows the records in a banner above the
// header.
//
// Plain values only, so that a record can be made on one thread and shown on another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orlendo {

// How a message's signature was made.
enum class TSignatureProtocol {
  Smime,  // CMS signed-data: multipart/signed with application/pkcs7-signature, or smime.p7m
  OpenPgp // multipart/signed with application/pgp-signature
};

// The outcome of checking one signature.
enum class TSignatureVerdict {
  // The content is what the signer signed and the signer's certificate (or key) is trusted.
  Valid,
  // The signature does not match the content: the content was changed after signing.
  Invalid,
  // The content is what the signer signed, but the signer is not known to be who it says:
  // an unknown issuer, an expired or revoked certificate, a key without trust.
  Untrusted,
  // The signature could not be checked at all: no certificate or public key, an algorithm or
  // structure that cannot be read. Says nothing about the content.
  CannotCheck
};

// One signature of a message.
struct TSignatureStatus {
  TSignatureProtocol Protocol = TSignatureProtocol::Smime;
  TSignatureVerdict Verdict = TSignatureVerdict::CannotCheck;
  // The signer as its certificate (or key's user id) names it, UTF-8; empty when unknown.
  std::string SignerName;
  std::string SignerAddress;
  // When the signer says it signed, in seconds since 1970-01-01 UTC; HasSigningTime is false
  // when the signature carries no time.
  int64_t SigningTime = 0;
  bool HasSigningTime = false;
  // Why the verdict is not Valid, in words for people ("certificate has expired", "no public
  // key"); empty for a valid signature.
  std::string Reason;
};

// One recipient an encrypted message can be opened by: the issuer and serial number of the
// recipient's certificate (S/MIME), or a key id (OpenPGP) in Serial with Issuer empty.
struct TEncryptionRecipient {
  std::string Issuer; // distinguished name, UTF-8, as one line ("CN=..., O=...")
  std::string Serial; // hexadecimal
};

// Everything the banner shows for one message.
struct TMessageSecurity {
  // The signatures found, outermost first; empty for a message that is not signed.
  std::vector<TSignatureStatus> Signatures;
  // The message (or a part of it) is encrypted; Recipients are those it is encrypted to.
  bool Encrypted = false;
  std::vector<TEncryptionRecipient> Recipients;
  // The encrypted content was opened (with a key the user gave) and is what is shown.
  bool Decrypted = false;

  bool Empty() const { return Signatures.empty() && !Encrypted; }
};

} // namespace orlendo
