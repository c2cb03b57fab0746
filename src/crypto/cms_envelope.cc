#include "crypto/cms_envelope.h"

// cms.h declares its PEM functions only after pem.h.
#include <openssl/pem.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "crypto/raw_mime.h"
#include "text/base64.h"

namespace orlendo {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
  void operator()(T* p) const { Free(p); }
};
void FreeBio(BIO* b) {
  BIO_free_all(b);
}
using Bio = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using P12 = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
void FreeCertStack(STACK_OF(X509) * s) {
  sk_X509_pop_free(s, X509_free);
}
using CertStack = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeCertStack>>;

// Key files exported by Windows and older mail programs are protected with RC2 or 3DES-SHA1,
// and old messages are encrypted with RC2: OpenSSL 3 keeps those in its legacy provider. The
// default provider stays loaded beside it, for the life of the process.
OSSL_PROVIDER* legacyProvider = nullptr;

void LoadLegacyAlgorithms() {
  static std::once_flag once;
  std::call_once(once, [] {
    legacyProvider = OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
    // Unloaded before OpenSSL's own clean-up at exit, which would otherwise drop the module
    // while what it made is still held.
    if (legacyProvider != nullptr)
      std::atexit([] { OSSL_PROVIDER_unload(legacyProvider); });
  });
}

Bio MemoryBio(std::string_view bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

// The last OpenSSL error as text, and the queue emptied.
std::string OpenSslError() {
  unsigned long code = ERR_peek_last_error();
  std::string text;
  if (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text = buffer;
  }
  ERR_clear_error();
  return text;
}

bool LooksLikeText(std::string_view data) {
  size_t probe = std::min<size_t>(data.size(), 64);
  for (size_t i = 0; i < probe; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x09 || (c > 0x0D && c < 0x20) || c >= 0x7F)
      return false;
  }
  return !data.empty();
}

// DER as it is; PEM or bare base64 decoded.
Cms ParseCms(std::string_view data) {
  if (data.size() > static_cast<size_t>(INT32_MAX))
    return nullptr;
  if (!LooksLikeText(data)) {
    Bio bio = MemoryBio(data);
    return Cms(d2i_CMS_bio(bio.get(), nullptr));
  }
  if (data.find("-----BEGIN") != std::string_view::npos) {
    Bio bio = MemoryBio(data);
    return Cms(PEM_read_bio_CMS(bio.get(), nullptr, nullptr, nullptr));
  }
  std::string der = DecodeBase64(data);
  Bio bio = MemoryBio(der);
  return Cms(d2i_CMS_bio(bio.get(), nullptr));
}

std::string Hex(const unsigned char* bytes, int count) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

std::string NameText(const X509_NAME* name) {
  if (name == nullptr)
    return {};
  Bio bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0,
                     XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | ASN1_STRFLGS_ESC_2253 |
                         ASN1_STRFLGS_ESC_CTRL | ASN1_STRFLGS_UTF8_CONVERT |
                         ASN1_STRFLGS_DUMP_UNKNOWN | ASN1_STRFLGS_DUMP_DER);
  return BioText(bio.get());
}

std::string SerialText(const ASN1_INTEGER* serial) {
  if (serial == nullptr)
    return {};
  std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> bn(ASN1_INTEGER_to_BN(serial, nullptr));
  if (!bn)
    return {};
  char* hex = BN_bn2hex(bn.get());
  std::string out = hex ? hex : "";
  OPENSSL_free(hex);
  if (out.size() % 2 == 1)
    out.insert(0, "0");
  return out;
}

void NameRecipient(TCmsRecipient& out, ASN1_OCTET_STRING* keyId, X509_NAME* issuer,
                   ASN1_INTEGER* serial) {
  if (issuer != nullptr) {
    out.Issuer = NameText(issuer);
    out.Serial = SerialText(serial);
  }
  if (keyId != nullptr)
    out.SubjectKeyId = Hex(ASN1_STRING_get0_data(keyId), ASN1_STRING_length(keyId));
}

bool IsEnveloped(const CMS_ContentInfo* cms, bool& authenticated) {
  int type = OBJ_obj2nid(CMS_get0_type(cms));
  authenticated = type == NID_id_smime_ct_authEnvelopedData;
  return type == NID_pkcs7_enveloped || authenticated;
}

// The password as the key file may have been made with: an empty one is often no password.
bool OpenKeyFile(PKCS12* p12, std::string_view password, EVP_PKEY** key, X509** cert,
                 STACK_OF(X509) * *chain, bool& wrongPassword) {
  std::string pass(password);
  wrongPassword = false;
  const char* candidates[2] = {pass.c_str(), nullptr};
  int tries = pass.empty() ? 2 : 1;
  bool opened = false;
  for (int i = 0; i < tries && !opened; ++i) {
    if (PKCS12_mac_present(p12) && !PKCS12_verify_mac(p12, candidates[i], candidates[i] ? -1 : 0))
      continue;
    opened = PKCS12_parse(p12, candidates[i], key, cert, chain) == 1;
  }
  OPENSSL_cleanse(pass.data(), pass.size());
  if (!opened)
    wrongPassword = true;
  return opened;
}

// Whether some RecipientInfo names cert (by issuer and serial, or by subject key identifier).
bool NamesRecipient(CMS_ContentInfo* cms, X509* cert) {
  STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms);
  for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
    CMS_RecipientInfo* ri = sk_CMS_RecipientInfo_value(infos, i);
    int type = CMS_RecipientInfo_type(ri);
    if (type == CMS_RECIPINFO_TRANS && CMS_RecipientInfo_ktri_cert_cmp(ri, cert) == 0)
      return true;
    if (type == CMS_RECIPINFO_AGREE) {
      STACK_OF(CMS_RecipientEncryptedKey)* keys = CMS_RecipientInfo_kari_get0_reks(ri);
      for (int k = 0; k < sk_CMS_RecipientEncryptedKey_num(keys); ++k)
        if (CMS_RecipientEncryptedKey_cert_cmp(sk_CMS_RecipientEncryptedKey_value(keys, k), cert) ==
            0)
          return true;
    }
  }
  return false;
}

} // namespace

TCmsEnvelope ReadCmsEnvelope(std::string_view data) {
  TCmsEnvelope result;
  Cms cms = ParseCms(data);
  if (!cms) {
    result.Error = "the data is not a CMS structure";
    ERR_clear_error();
    return result;
  }
  if (!IsEnveloped(cms.get(), result.Authenticated)) {
    result.Error = "the data is not encrypted (CMS content type " +
                   std::string(OBJ_nid2sn(OBJ_obj2nid(CMS_get0_type(cms.get())))) + ")";
    return result;
  }
  STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms.get());
  for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
    CMS_RecipientInfo* ri = sk_CMS_RecipientInfo_value(infos, i);
    switch (CMS_RecipientInfo_type(ri)) {
    case CMS_RECIPINFO_TRANS: {
      TCmsRecipient recipient;
      recipient.Kind = "key transport";
      ASN1_OCTET_STRING* keyId = nullptr;
      X509_NAME* issuer = nullptr;
      ASN1_INTEGER* serial = nullptr;
      if (CMS_RecipientInfo_ktri_get0_signer_id(ri, &keyId, &issuer, &serial))
        NameRecipient(recipient, keyId, issuer, serial);
      result.Recipients.push_back(recipient);
      break;
    }
    case CMS_RECIPINFO_AGREE: {
      // One key agreement names any number of recipients.
      STACK_OF(CMS_RecipientEncryptedKey)* keys = CMS_RecipientInfo_kari_get0_reks(ri);
      for (int k = 0; k < sk_CMS_RecipientEncryptedKey_num(keys); ++k) {
        TCmsRecipient recipient;
        recipient.Kind = "key agreement";
        ASN1_OCTET_STRING* keyId = nullptr;
        X509_NAME* issuer = nullptr;
        ASN1_INTEGER* serial = nullptr;
        if (CMS_RecipientEncryptedKey_get0_id(sk_CMS_RecipientEncryptedKey_value(keys, k), &keyId,
                                              nullptr, nullptr, &issuer, &serial))
          NameRecipient(recipient, keyId, issuer, serial);
        result.Recipients.push_back(recipient);
      }
      break;
    }
    case CMS_RECIPINFO_KEK:
      result.Recipients.push_back({"key encryption key", {}, {}, {}});
      break;
    case CMS_RECIPINFO_PASS:
      result.Recipients.push_back({"password", {}, {}, {}});
      break;
    default:
      result.Recipients.push_back({"other", {}, {}, {}});
      break;
    }
  }
  result.Ok = true;
  ERR_clear_error();
  return result;
}

TCmsDecryption DecryptCmsEnvelope(std::string_view data, std::string_view pkcs12,
                                  std::string_view password) {
  TCmsDecryption result;
  LoadLegacyAlgorithms();
  Cms cms = ParseCms(data);
  bool authenticated = false;
  if (!cms || !IsEnveloped(cms.get(), authenticated)) {
    result.Failure = TCmsDecryptFailure::NotEnveloped;
    result.Error = "The message holds no encrypted content.";
    ERR_clear_error();
    return result;
  }
  Bio keyBio = MemoryBio(pkcs12);
  P12 p12(pkcs12.size() <= static_cast<size_t>(INT32_MAX) ? d2i_PKCS12_bio(keyBio.get(), nullptr)
                                                          : nullptr);
  if (!p12) {
    result.Failure = TCmsDecryptFailure::BadKeyFile;
    result.Error = "The key file is not a PKCS#12 file (.p12, .pfx).";
    ERR_clear_error();
    return result;
  }
  EVP_PKEY* rawKey = nullptr;
  X509* rawCert = nullptr;
  STACK_OF(X509)* rawChain = nullptr;
  bool wrongPassword = false;
  bool opened = OpenKeyFile(p12.get(), password, &rawKey, &rawCert, &rawChain, wrongPassword);
  Pkey key(rawKey);
  Cert cert(rawCert);
  CertStack chain(rawChain);
  if (!opened) {
    result.Failure = TCmsDecryptFailure::WrongPassword;
    result.Error = "The password is wrong, or the key file is damaged.";
    ERR_clear_error();
    return result;
  }
  if (!key || !cert) {
    result.Failure = TCmsDecryptFailure::BadKeyFile;
    result.Error = "The key file holds no private key with its certificate.";
    ERR_clear_error();
    return result;
  }
  if (!NamesRecipient(cms.get(), cert.get())) {
    result.Failure = TCmsDecryptFailure::NotRecipient;
    result.Error = "The message was not encrypted to this key.";
    ERR_clear_error();
    return result;
  }
  Bio out(BIO_new(BIO_s_mem()));
  ERR_clear_error();
  if (CMS_decrypt(cms.get(), key.get(), cert.get(), nullptr, out.get(), 0) != 1) {
    std::string why = OpenSslError();
    result.Failure = TCmsDecryptFailure::Damaged;
    result.Error = "The message could not be decrypted with this key" +
                   (why.empty() ? std::string(".") : " (" + why + ").");
    return result;
  }
  result.Content = BioText(out.get());
  result.Ok = true;
  ERR_clear_error();
  return result;
}

namespace {

constexpr int kMaxEnvelopeDepth = 8;

bool SearchEnvelope(std::string_view entity, std::string& cms, int depth) {
  TRawEntity parts = SplitRawEntity(entity);
  std::string contentType = RawHeaderField(parts.Header, "Content-Type");
  std::string type = RawMediaType(contentType);
  if (type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime") {
    std::string smimeType;
    for (char c : RawParameter(contentType, "smime-type"))
      smimeType += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (smimeType == "enveloped-data" || smimeType == "authenveloped-data" || smimeType.empty()) {
      std::string body = DecodedRawBody(parts);
      if (smimeType.empty() && !ReadCmsEnvelope(body).Ok)
        return false;
      cms = std::move(body);
      return true;
    }
    return false;
  }
  if (type.rfind("multipart/", 0) != 0 || depth >= kMaxEnvelopeDepth)
    return false;
  for (std::string_view child :
       SplitRawMultipart(parts.Body, RawParameter(contentType, "boundary")))
    if (SearchEnvelope(child, cms, depth + 1))
      return true;
  return false;
}

} // namespace

bool FindSmimeEnvelope(std::string_view message, std::string& cms) {
  return SearchEnvelope(message, cms, 0);
}

} // namespace orlendo
