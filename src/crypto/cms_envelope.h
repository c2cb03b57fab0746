// S/MIME encrypted mail (RFC 8551, RFC 5652): whom an enveloped-data message is encrypted to,
// and opening it with the recipient's PKCS#12 key file. Everything stays in memory: neither the
// key nor the clear text is ever written anywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orlendo {

// One RecipientInfo: the certificate it was encrypted for.
struct TCmsRecipient {
  // "key transport" (RSA), "key agreement" (ECDH), "key encryption key", "password", "other".
  std::string Kind;
  // The certificate's issuer, one line as OpenSSL prints it ("C=NL, O=Example CA, CN=...");
  // empty when the recipient is named by its subject key identifier.
  std::string Issuer;
  // The certificate's serial number in hexadecimal, upper case, an even number of digits ("01").
  std::string Serial;
  // The subject key identifier in hexadecimal, when the recipient is named by it.
  std::string SubjectKeyId;
};

struct TCmsEnvelope {
  bool Ok = false;   // the data is a CMS enveloped-data (or authenticated-enveloped) structure
  std::string Error; // why not, in English
  bool Authenticated = false; // authEnvelopedData (AES-GCM) rather than envelopedData
  std::vector<TCmsRecipient> Recipients;
};

// Reads the recipients of a CMS structure: DER, PEM, or base64 text as an .eml part holds it.
TCmsEnvelope ReadCmsEnvelope(std::string_view cms);

enum class TCmsDecryptFailure {
  None,
  NotEnveloped,  // the data is not an encrypted CMS structure
  BadKeyFile,    // the key file is not a PKCS#12 file or holds no key and certificate
  WrongPassword, // the password does not open the key file
  NotRecipient,  // the key is not one the message was encrypted to
  Damaged,       // the key fits, but the content does not decrypt
};

struct TCmsDecryption {
  bool Ok = false;
  // The clear text: for S/MIME the MIME entity that was encrypted (headers and body).
  std::string Content;
  TCmsDecryptFailure Failure = TCmsDecryptFailure::None;
  std::string Error; // the failure in English, for the user
};

// Decrypts with the key and certificate of a PKCS#12 file (its bytes) opened by password.
TCmsDecryption DecryptCmsEnvelope(std::string_view cms, std::string_view pkcs12,
                                  std::string_view password);

// The CMS bytes of the first S/MIME encrypted entity of a message (application/pkcs7-mime or
// application/x-pkcs7-mime whose smime-type is enveloped-data or authEnveloped-data, or an
// smime.p7m without smime-type that holds enveloped data): the message itself or one of its
// parts. False when there is none.
bool FindSmimeEnvelope(std::string_view message, std::string& cms);

} // namespace orlendo
