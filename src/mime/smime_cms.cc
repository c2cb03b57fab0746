#include "mime/smime_cms.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <ctime>
#include <memory>

namespace orlendo {

namespace {

constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";
constexpr char kSystemFolder[] = "/etc/ssl/certs";

struct CmsFree {
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct StoreFree {
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
};
struct CertsFree {
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

BioPtr MemoryBio(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX))
    return nullptr;
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

CmsPtr ReadCms(std::string_view der) {
  BioPtr bio = MemoryBio(der);
  if (bio == nullptr)
    return nullptr;
  return CmsPtr(d2i_CMS_bio(bio.get(), nullptr));
}

std::string Utf8(const ASN1_STRING* text) {
  unsigned char* out = nullptr;
  const int n = ASN1_STRING_to_UTF8(&out, text);
  if (n < 0)
    return {};
  std::string result(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return result;
}

std::string NameEntry(const X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0)
    return {};
  return Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

void DescribeSigner(X509* cert, TSignatureStatus& status) {
  const X509_NAME* subject = X509_get_subject_name(cert);
  status.SignerName = NameEntry(subject, NID_commonName);
  status.SignerAddress = NameEntry(subject, NID_pkcs9_emailAddress);
  if (status.SignerAddress.empty()) {
    auto* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
      const GENERAL_NAME* item = sk_GENERAL_NAME_value(names, i);
      if (item->type == GEN_EMAIL) {
        status.SignerAddress = Utf8(item->d.rfc822Name);
        break;
      }
    }
    GENERAL_NAMES_free(names);
  }
  if (status.SignerName.empty())
    status.SignerName = NameEntry(subject, NID_organizationName);
}

void ReadSigningTime(CMS_SignerInfo* signer, TSignatureStatus& status) {
  const int index = CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1);
  if (index < 0)
    return;
  X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, index);
  const ASN1_TYPE* value = attribute != nullptr ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
  if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
    return;
  std::tm tm{};
  if (ASN1_TIME_to_tm(value->value.utctime, &tm) != 1)
    return;
  status.SigningTime = static_cast<int64_t>(timegm(&tm));
  status.HasSigningTime = true;
}

std::string LastErrorText() {
  const unsigned long error = ERR_peek_last_error();
  const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
  return reason != nullptr ? reason : "the signature cannot be read";
}

// The signer's certificate checked against the trusted authorities: empty when it leads to one
// and is valid, else why not.
std::string CheckChain(X509* signer, STACK_OF(X509) * untrusted, const TTrustAnchors& anchors) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  if (store == nullptr)
    return "out of memory";
  if (anchors.System) {
    X509_STORE_load_file(store.get(), kSystemBundle);
    X509_STORE_load_path(store.get(), kSystemFolder);
  }
  for (const std::string& file : anchors.Files)
    X509_STORE_load_file(store.get(), file.c_str());
  for (const std::string& folder : anchors.Folders)
    X509_STORE_load_path(store.get(), folder.c_str());
  // A store file that is missing or unreadable leaves fewer authorities, not an error.
  ERR_clear_error();
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> context(X509_STORE_CTX_new());
  if (context == nullptr || X509_STORE_CTX_init(context.get(), store.get(), signer, untrusted) != 1)
    return "out of memory";
  X509_STORE_CTX_set_default(context.get(), "smime_sign");
  if (anchors.At != 0)
    X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()),
                               static_cast<time_t>(anchors.At));
  if (X509_verify_cert(context.get()) == 1)
    return {};
  const int error = X509_STORE_CTX_get_error(context.get());
  ERR_clear_error();
  return X509_verify_cert_error_string(error);
}

TSignatureStatus Verify(std::string_view der, const std::string* detachedContent,
                        const TTrustAnchors& anchors) {
  TSignatureStatus status;
  status.Protocol = TSignatureProtocol::Smime;
  status.Verdict = TSignatureVerdict::CannotCheck;
  CmsPtr cms = ReadCms(der);
  if (cms == nullptr || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    status.Reason = "the signature cannot be read";
    return status;
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  if (signers == nullptr || sk_CMS_SignerInfo_num(signers) == 0) {
    status.Reason = "the signature names no signer";
    return status;
  }
  CMS_SignerInfo* first = sk_CMS_SignerInfo_value(signers, 0);
  ReadSigningTime(first, status);
  // The signers' certificates from those the signature carries.
  CMS_set1_signers_certs(cms.get(), nullptr, 0);
  X509* signer = nullptr;
  CMS_SignerInfo_get0_algs(first, nullptr, &signer, nullptr, nullptr);
  if (signer == nullptr) {
    status.Reason = "the signer's certificate is not in the message";
    return status;
  }
  DescribeSigner(signer, status);

  // First the signature against the content alone, so that a changed content is told apart
  // from a signer who is not trusted.
  BioPtr content;
  if (detachedContent != nullptr) {
    content = MemoryBio(*detachedContent);
    if (content == nullptr) {
      status.Reason = "the signed content is too large";
      return status;
    }
  }
  BioPtr sink(BIO_new(BIO_s_null()));
  const unsigned flags = CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY;
  if (CMS_verify(cms.get(), nullptr, nullptr, content.get(), sink.get(), flags) != 1) {
    const unsigned long error = ERR_peek_last_error();
    const int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) == ERR_LIB_CMS &&
        (reason == CMS_R_VERIFICATION_FAILURE || reason == CMS_R_CONTENT_VERIFY_ERROR)) {
      status.Verdict = TSignatureVerdict::Invalid;
      status.Reason = "the content was changed after it was signed";
    } else {
      status.Reason = LastErrorText();
    }
    ERR_clear_error();
    return status;
  }
  std::unique_ptr<STACK_OF(X509), CertsFree> carried(CMS_get1_certs(cms.get()));
  status.Reason = CheckChain(signer, carried.get(), anchors);
  status.Verdict = status.Reason.empty() ? TSignatureVerdict::Valid : TSignatureVerdict::Untrusted;
  return status;
}

} // namespace

bool ExtractSignedContent(std::string_view der, std::string& content) {
  CmsPtr cms = ReadCms(der);
  ERR_clear_error();
  if (cms == nullptr || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
    return false;
  ASN1_OCTET_STRING** inner = CMS_get0_content(cms.get());
  if (inner == nullptr || *inner == nullptr)
    return false;
  content.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*inner)),
                 static_cast<size_t>(ASN1_STRING_length(*inner)));
  return true;
}

bool IsEnvelopedData(std::string_view der) {
  CmsPtr cms = ReadCms(der);
  ERR_clear_error();
  if (cms == nullptr)
    return false;
  const int type = OBJ_obj2nid(CMS_get0_type(cms.get()));
  return type == NID_pkcs7_enveloped || type == NID_id_smime_ct_authEnvelopedData;
}

TSignatureStatus VerifyCmsSignature(std::string_view der, const std::string* detachedContent,
                                    const TTrustAnchors& anchors) {
  try {
    return Verify(der, detachedContent, anchors);
  } catch (const std::bad_alloc&) {
    ERR_clear_error();
    TSignatureStatus status;
    status.Reason = "out of memory";
    return status;
  }
}

} // namespace orlendo
