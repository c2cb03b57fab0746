#include "crypto/pgp_mime.h"

#include <gpgme.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "crypto/raw_mime.h"
#include "text/base64.h"

namespace orlendo {

namespace {

void InitGpgme() {
  static std::once_flag once;
  std::call_once(once, [] { gpgme_check_version(nullptr); });
}

struct CtxDeleter {
  void operator()(gpgme_ctx_t ctx) const { gpgme_release(ctx); }
};
using Ctx = std::unique_ptr<std::remove_pointer_t<gpgme_ctx_t>, CtxDeleter>;

struct DataDeleter {
  void operator()(gpgme_data_t data) const { gpgme_data_release(data); }
};
using Data = std::unique_ptr<std::remove_pointer_t<gpgme_data_t>, DataDeleter>;

struct KeyDeleter {
  void operator()(gpgme_key_t key) const { gpgme_key_unref(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<gpgme_key_t>, KeyDeleter>;

std::string ErrorText(gpgme_error_t err) {
  return gpgme_strerror(err);
}

// A context that can neither prompt nor reach the network: pinentry requests are cancelled, and
// offline mode keeps gpg from starting dirmngr, so "auto-key-retrieve" in the user's gpg.conf
// fetches nothing.
Ctx NewContext(const std::string& gnupgHome, std::string& error) {
  InitGpgme();
  gpgme_error_t err = gpgme_engine_check_version(GPGME_PROTOCOL_OpenPGP);
  if (err) {
    error = "GnuPG is not installed (" + ErrorText(err) + ")";
    return nullptr;
  }
  gpgme_ctx_t raw = nullptr;
  err = gpgme_new(&raw);
  if (err) {
    error = ErrorText(err);
    return nullptr;
  }
  Ctx ctx(raw);
  gpgme_set_protocol(raw, GPGME_PROTOCOL_OpenPGP);
  if (!gnupgHome.empty())
    gpgme_ctx_set_engine_info(raw, GPGME_PROTOCOL_OpenPGP, nullptr, gnupgHome.c_str());
  gpgme_set_pinentry_mode(raw, GPGME_PINENTRY_MODE_CANCEL);
  gpgme_set_offline(raw, 1);
  gpgme_set_keylist_mode(raw, GPGME_KEYLIST_MODE_LOCAL);
  return ctx;
}

Data DataFromMemory(std::string_view bytes) {
  gpgme_data_t raw = nullptr;
  // copy = 0: the caller's buffer outlives the operation.
  if (gpgme_data_new_from_mem(&raw, bytes.data(), bytes.size(), 0))
    return nullptr;
  return Data(raw);
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The key's first valid user id; and, where the caller knows only a key id (a bad signature
// names no fingerprint), the fingerprint of the (sub)key with that id.
void FillUserId(gpgme_ctx_t ctx, const char* pattern, std::string& userId, std::string* name,
                std::string* address, std::string* fingerprint = nullptr) {
  if (pattern == nullptr || *pattern == 0)
    return;
  gpgme_key_t raw = nullptr;
  if (gpgme_get_key(ctx, pattern, &raw, 0) || raw == nullptr)
    return;
  Key key(raw);
  if (fingerprint != nullptr && fingerprint->empty()) {
    std::string keyId = Upper(pattern);
    for (gpgme_subkey_t sub = raw->subkeys; sub != nullptr; sub = sub->next)
      if (sub->keyid && sub->fpr && Upper(sub->keyid) == keyId)
        *fingerprint = Upper(sub->fpr);
  }
  for (gpgme_user_id_t uid = raw->uids; uid != nullptr; uid = uid->next) {
    if (uid->revoked || uid->invalid)
      continue;
    userId = uid->uid ? uid->uid : "";
    if (name)
      *name = uid->name ? uid->name : "";
    if (address)
      *address = uid->email ? uid->email : "";
    return;
  }
}

TPgpSignature ReadSignature(gpgme_ctx_t ctx, gpgme_signature_t sig) {
  TPgpSignature out;
  std::string fpr = sig->fpr ? Upper(sig->fpr) : "";
  out.KeyId = fpr.size() > 16 ? fpr.substr(fpr.size() - 16) : fpr;
  if (fpr.size() > 16)
    out.Fingerprint = fpr;
  out.SigningTime = static_cast<int64_t>(sig->timestamp);
  switch (gpgme_err_code(sig->status)) {
  case GPG_ERR_NO_ERROR:
    if (sig->summary & GPGME_SIGSUM_VALID) {
      out.Verdict = TPgpVerdict::Valid;
    } else {
      out.Verdict = TPgpVerdict::NotTrusted;
      out.Detail = "the key is not certified by a trusted key";
    }
    break;
  case GPG_ERR_BAD_SIGNATURE:
    out.Verdict = TPgpVerdict::Invalid;
    out.Detail = "the content was changed after it was signed";
    break;
  case GPG_ERR_NO_PUBKEY:
    out.Verdict = TPgpVerdict::NoPublicKey;
    out.Detail = "cannot check: no public key";
    break;
  case GPG_ERR_KEY_EXPIRED:
    out.Verdict = TPgpVerdict::NotTrusted;
    out.Detail = "the key has expired";
    break;
  case GPG_ERR_SIG_EXPIRED:
    out.Verdict = TPgpVerdict::NotTrusted;
    out.Detail = "the signature has expired";
    break;
  case GPG_ERR_CERT_REVOKED:
    out.Verdict = TPgpVerdict::NotTrusted;
    out.Detail = "the key has been revoked";
    break;
  default:
    out.Verdict = TPgpVerdict::CannotCheck;
    out.Detail = "cannot check: " + ErrorText(sig->status);
    break;
  }
  if (out.Verdict != TPgpVerdict::NoPublicKey)
    FillUserId(ctx, sig->fpr, out.UserId, &out.Name, &out.Address, &out.Fingerprint);
  return out;
}

std::vector<TPgpSignature> ReadSignatures(gpgme_ctx_t ctx, gpgme_verify_result_t result) {
  std::vector<TPgpSignature> out;
  if (result == nullptr)
    return out;
  for (gpgme_signature_t sig = result->signatures; sig != nullptr; sig = sig->next)
    out.push_back(ReadSignature(ctx, sig));
  return out;
}

// The binary packets of OpenPGP data: as they are, or taken out of their ASCII armour.
std::string Dearmor(std::string_view data) {
  if (!data.empty() && (static_cast<unsigned char>(data[0]) & 0x80) != 0)
    return std::string(data);
  size_t begin = data.find("-----BEGIN PGP");
  if (begin == std::string_view::npos)
    return std::string(data);
  std::vector<std::string_view> lines;
  size_t cursor = data.find('\n', begin);
  while (cursor != std::string_view::npos && cursor + 1 <= data.size()) {
    size_t start = cursor + 1;
    cursor = data.find('\n', start);
    std::string_view line = data.substr(
        start, cursor == std::string_view::npos ? std::string_view::npos : cursor - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    if (line.rfind("-----END PGP", 0) == 0)
      break;
    lines.push_back(line);
  }
  // Armour headers ("Version: ...") end at the first empty line; some writers leave both out.
  size_t first = 0;
  while (first < lines.size() && !lines[first].empty() &&
         lines[first].find(':') != std::string_view::npos)
    ++first;
  if (first < lines.size() && lines[first].empty())
    ++first;
  std::string text;
  for (size_t i = first; i < lines.size(); ++i) {
    // The CRC-24 line ("=abcd") is not data.
    if (!lines[i].empty() && lines[i][0] == '=')
      break;
    text += lines[i];
  }
  return DecodeBase64(text);
}

std::string Hex(const unsigned char* bytes, size_t count) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

} // namespace

TPgpVerification VerifyPgpDetached(std::string_view signedEntity, std::string_view signature,
                                   const std::string& gnupgHome) {
  TPgpVerification result;
  Ctx ctx = NewContext(gnupgHome, result.Error);
  if (!ctx)
    return result;
  std::string canonical = CanonicalCrlf(signedEntity);
  Data sig = DataFromMemory(signature);
  Data text = DataFromMemory(canonical);
  if (!sig || !text) {
    result.Error = "out of memory";
    return result;
  }
  gpgme_error_t err = gpgme_op_verify(ctx.get(), sig.get(), text.get(), nullptr);
  gpgme_verify_result_t verify = gpgme_op_verify_result(ctx.get());
  result.Signatures = ReadSignatures(ctx.get(), verify);
  if (result.Signatures.empty())
    result.Error = err ? "cannot check: " + ErrorText(err) : "cannot check: no signature found";
  return result;
}

TSignatureStatus PgpSignatureStatus(const TPgpVerification& verification) {
  TSignatureStatus status;
  status.Protocol = TSignatureProtocol::OpenPgp;
  auto withoutPrefix = [](std::string text) {
    const std::string prefix = "cannot check: ";
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
  };
  if (verification.Signatures.empty()) {
    status.Verdict = TSignatureVerdict::CannotCheck;
    status.Reason = withoutPrefix(verification.Error);
    return status;
  }
  const TPgpSignature& sig = verification.Signatures.front();
  status.SignerName = sig.Name;
  status.SignerAddress = sig.Address;
  if (status.SignerName.empty() && status.SignerAddress.empty())
    status.SignerName = sig.UserId.empty() ? "OpenPGP key " + sig.KeyId : sig.UserId;
  status.SigningTime = sig.SigningTime;
  status.HasSigningTime = sig.SigningTime != 0;
  switch (sig.Verdict) {
  case TPgpVerdict::Valid:
    status.Verdict = TSignatureVerdict::Valid;
    break;
  case TPgpVerdict::NotTrusted:
    status.Verdict = TSignatureVerdict::Untrusted;
    status.Reason = sig.Detail;
    break;
  case TPgpVerdict::Invalid:
    status.Verdict = TSignatureVerdict::Invalid;
    status.Reason = sig.Detail;
    break;
  case TPgpVerdict::NoPublicKey:
  case TPgpVerdict::CannotCheck:
    status.Verdict = TSignatureVerdict::CannotCheck;
    status.Reason = withoutPrefix(sig.Detail);
    break;
  }
  return status;
}

bool VerifyPgpMimeMessage(std::string_view message, TPgpVerification& result,
                          const std::string& gnupgHome) {
  TRawSecuredParts parts;
  if (!FindRawSecured(message, "multipart/signed", {"application/pgp-signature"}, parts))
    return false;
  std::string signature = DecodedRawBody(SplitRawEntity(parts.Second));
  result = VerifyPgpDetached(parts.First, signature, gnupgHome);
  return true;
}

std::vector<TPgpRecipient> PgpRecipients(std::string_view encrypted) {
  std::vector<TPgpRecipient> out;
  std::string packets = Dearmor(encrypted);
  const auto* p = reinterpret_cast<const unsigned char*>(packets.data());
  size_t size = packets.size(), pos = 0;
  while (pos < size) {
    unsigned char first = p[pos++];
    if ((first & 0x80) == 0)
      break;
    int tag = 0;
    size_t length = 0;
    bool known = true;
    if (first & 0x40) {
      tag = first & 0x3F;
      if (pos >= size)
        break;
      unsigned char o1 = p[pos++];
      if (o1 < 192) {
        length = o1;
      } else if (o1 < 224) {
        if (pos >= size)
          break;
        length = ((o1 - 192) << 8) + p[pos++] + 192;
      } else if (o1 == 255) {
        if (size - pos < 4)
          break;
        length = (size_t(p[pos]) << 24) | (size_t(p[pos + 1]) << 16) | (size_t(p[pos + 2]) << 8) |
                 p[pos + 3];
        pos += 4;
      } else {
        known = false; // a partial body length: only the encrypted data itself is streamed so
      }
    } else {
      tag = (first >> 2) & 0x0F;
      int lengthType = first & 3;
      if (lengthType == 3) {
        known = false;
      } else {
        size_t bytes = size_t(1) << lengthType;
        if (size - pos < bytes)
          break;
        for (size_t i = 0; i < bytes; ++i)
          length = (length << 8) | p[pos + i];
        pos += bytes;
      }
    }
    // The session keys come first; the first packet of another kind is the encrypted data.
    if (tag != 1 && tag != 3 && tag != 10)
      break;
    if (!known || length > size - pos)
      break;
    if (tag == 1 && length >= 10 && p[pos] == 3) {
      TPgpRecipient recipient;
      recipient.KeyId = Hex(p + pos + 1, 8);
      recipient.Algorithm = p[pos + 9];
      out.push_back(recipient);
    }
    pos += length;
  }
  return out;
}

std::vector<TPgpRecipient> PgpRecipientsWithNames(std::string_view encrypted,
                                                  const std::string& gnupgHome) {
  std::vector<TPgpRecipient> out = PgpRecipients(encrypted);
  if (out.empty())
    return out;
  std::string error;
  Ctx ctx = NewContext(gnupgHome, error);
  if (!ctx)
    return out;
  for (TPgpRecipient& recipient : out)
    if (recipient.KeyId != "0000000000000000")
      FillUserId(ctx.get(), recipient.KeyId.c_str(), recipient.UserId, nullptr, nullptr);
  return out;
}

TPgpDecryption DecryptPgp(std::string_view encrypted, const std::string& gnupgHome) {
  TPgpDecryption result;
  result.Recipients = PgpRecipients(encrypted);
  Ctx ctx = NewContext(gnupgHome, result.Error);
  if (!ctx)
    return result;
  gpgme_set_ctx_flag(ctx.get(), "no-symkey-cache", "1");
  Data cipher = DataFromMemory(encrypted);
  gpgme_data_t rawPlain = nullptr;
  if (!cipher || gpgme_data_new(&rawPlain)) {
    result.Error = "out of memory";
    return result;
  }
  Data plain(rawPlain);
  gpgme_error_t err = gpgme_op_decrypt_verify(ctx.get(), cipher.get(), plain.get());
  if (err) {
    switch (gpgme_err_code(err)) {
    case GPG_ERR_NO_SECKEY:
      result.Error = "no secret key of a recipient is in the keyring";
      break;
    case GPG_ERR_CANCELED:
    case GPG_ERR_BAD_PASSPHRASE:
    case GPG_ERR_NO_PIN_ENTRY:
    case GPG_ERR_NO_PASSPHRASE:
      result.Error = "the secret key is protected by a passphrase; unlock it in GnuPG first";
      break;
    default:
      result.Error = ErrorText(err);
      break;
    }
    gpgme_decrypt_result_t decrypt = gpgme_op_decrypt_result(ctx.get());
    if (decrypt && decrypt->unsupported_algorithm)
      result.Error +=
          std::string(" (unsupported algorithm ") + decrypt->unsupported_algorithm + ")";
    return result;
  }
  size_t length = 0;
  char* bytes = gpgme_data_release_and_get_mem(plain.release(), &length);
  if (bytes != nullptr) {
    result.Content.assign(bytes, length);
    // The clear text must not linger in freed memory.
    volatile char* wipe = bytes;
    for (size_t i = 0; i < length; ++i)
      wipe[i] = 0;
    gpgme_free(bytes);
  }
  result.Signatures = ReadSignatures(ctx.get(), gpgme_op_verify_result(ctx.get()));
  result.Ok = true;
  return result;
}

bool FindPgpMimeEncrypted(std::string_view message, std::string& encrypted) {
  TRawSecuredParts parts;
  if (!FindRawSecured(message, "multipart/encrypted", {"application/pgp-encrypted"}, parts))
    return false;
  encrypted = DecodedRawBody(SplitRawEntity(parts.Second));
  return true;
}

} // namespace orlendo
