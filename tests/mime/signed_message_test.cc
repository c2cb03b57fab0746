// Signed messages: the signed content read as the message's own, the signature checked against
// a test authority made here (valid, changed content, unknown authority, expired certificate),
// and the EML of a signed message still verifying with the openssl program.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "crypto/signatures.h"
#include "export/eml_writer.h"
#include "mime/mime_test_util.h"
#include "mime/signed_content.h"
#include "mime/smime_cms.h"
#include "msg/compound_file.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/base64.h"

namespace orlendo {
namespace {

using mimetest::Load;
using mimetest::U8;
using testutil::CorpusPath;
using testutil::RunProcess;
using testutil::TempDir;

struct KeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertFree {
  void operator()(X509* p) const { X509_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

// A certificate for key, issued by issuer (itself when null), valid from `from` to `to` days
// from now.
CertPtr MakeCert(EVP_PKEY* key, const std::string& name, const std::string& email, X509* issuer,
                 EVP_PKEY* issuerKey, long from, long to, bool ca) {
  CertPtr cert(X509_new());
  X509_set_version(cert.get(), 2);
  static long serial = 1;
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), from * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), to * 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : subject);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
  const auto add = [&](int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    ASSERT_NE(ext, nullptr);
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  };
  if (ca) {
    add(NID_basic_constraints, "critical,CA:TRUE");
    add(NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add(NID_basic_constraints, "CA:FALSE");
    add(NID_key_usage, "digitalSignature,nonRepudiation");
    add(NID_ext_key_usage, "emailProtection");
    add(NID_subject_alt_name, "email:" + email);
  }
  X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256());
  return cert;
}

KeyPtr NewKey() {
  return KeyPtr(EVP_EC_gen("P-256"));
}

const char kContent[] = "Content-Type: multipart/mixed; boundary=\"inner\"\r\n"
                        "\r\n"
                        "--inner\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\n"
                        "\r\n"
                        "Hello from the signed part.\r\n"
                        "--inner\r\n"
                        "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n"
                        "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                        "\r\n"
                        "AAECAwQFBgc=\r\n"
                        "--inner--\r\n";

const char kHeaders[] = "From: Alice Example <alice@example.org>\r\n"
                        "To: bob@example.org\r\n"
                        "Subject: Signed test\r\n"
                        "Date: Tue, 08 Dec 2026 10:00:00 +0000\r\n"
                        "MIME-Version: 1.0\r\n";

std::string Der(CMS_ContentInfo* cms) {
  unsigned char* out = nullptr;
  const int n = i2d_CMS_ContentInfo(cms, &out);
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return der;
}

std::string Lines76(const std::string& base64) {
  std::string out;
  for (size_t i = 0; i < base64.size(); i += 76)
    out += base64.substr(i, 76) + "\r\n";
  return out;
}

class SignedMessageTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    caKey_ = NewKey().release();
    ca_ = MakeCert(caKey_, "Orlendo Test CA", "", nullptr, nullptr, -1, 365, true).release();
    signerKey_ = NewKey().release();
    signer_ =
        MakeCert(signerKey_, "Alice Example", "alice@example.org", ca_, caKey_, -1, 365, false)
            .release();
    expired_ =
        MakeCert(signerKey_, "Alice Example", "alice@example.org", ca_, caKey_, -30, -1, false)
            .release();
    strangerKey_ = NewKey().release();
    stranger_ = MakeCert(strangerKey_, "Unknown CA", "", nullptr, nullptr, -1, 365, true).release();
    foreign_ = MakeCert(signerKey_, "Alice Example", "alice@example.org", stranger_, strangerKey_,
                        -1, 365, false)
                   .release();
    dir_ = new TempDir();
    FILE* file = std::fopen(dir_->File("ca.pem").c_str(), "w");
    PEM_write_X509(file, ca_);
    std::fclose(file);
  }

  // A multipart/signed message whose first part is kContent, signed by cert.
  static std::string ClearSigned(X509* cert) {
    BIO* in = BIO_new_mem_buf(kContent, -1);
    CMS_ContentInfo* cms = CMS_sign(cert, signerKey_, nullptr, in, CMS_DETACHED | CMS_BINARY);
    BIO_free(in);
    const std::string der = Der(cms);
    CMS_ContentInfo_free(cms);
    // The line end before a delimiter belongs to the delimiter: kContent's own last one stays.
    const std::string content(kContent);
    return std::string(kHeaders) +
           "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\";\r\n"
           "\tmicalg=sha-256; boundary=\"sig\"\r\n"
           "\r\n"
           "This is a signed message.\r\n"
           "--sig\r\n" +
           content +
           "\r\n--sig\r\n"
           "Content-Type: application/pkcs7-signature; name=\"smime.p7s\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"smime.p7s\"\r\n"
           "\r\n" +
           Lines76(EncodeBase64(der)) + "--sig--\r\n";
  }

  static std::string OpaqueSigned() {
    BIO* in = BIO_new_mem_buf(kContent, -1);
    CMS_ContentInfo* cms = CMS_sign(signer_, signerKey_, nullptr, in, CMS_BINARY);
    BIO_free(in);
    const std::string der = Der(cms);
    CMS_ContentInfo_free(cms);
    return std::string(kHeaders) +
           "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=\"smime.p7m\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"smime.p7m\"\r\n"
           "\r\n" +
           Lines76(EncodeBase64(der));
  }

  static TTrustAnchors TestAuthority() {
    TTrustAnchors anchors;
    anchors.System = false;
    anchors.Files = {dir_->File("ca.pem")};
    return anchors;
  }

  // The files a view lists: not the signature, which its reader marks hidden.
  static std::vector<std::string> AttachmentNames(const TMSGProperties& level) {
    std::vector<std::string> names;
    for (int i = 0; i < level.AttachmentCount(); ++i) {
      const TMSGProperty* hidden =
          level.GetAttachment(i)->SubProperties().FindProperty(0x7FFE000B, false, false);
      if (hidden == nullptr || hidden->Value.ToInt64() == 0)
        names.push_back(level.GetAttachment(i)->GetAttachmentFileName(i));
    }
    return names;
  }

  static inline EVP_PKEY *caKey_, *signerKey_, *strangerKey_;
  static inline X509 *ca_, *signer_, *expired_, *stranger_, *foreign_;
  static inline TempDir* dir_;
};

TEST_F(SignedMessageTest, VerdictsOfClearAndOpaqueSignatures) {
  std::string tampered = ClearSigned(signer_);
  const size_t at = tampered.find("Hello from");
  ASSERT_NE(at, std::string::npos);
  tampered[at] = 'J';
  // Saved with bare line feeds, as some programs keep mail: it was signed with CR LF.
  std::string bareLf = ClearSigned(signer_);
  for (size_t p; (p = bareLf.find("\r\n")) != std::string::npos;)
    bareLf.erase(p, 1);
  const struct {
    const char* name;
    std::string message;
    TSignatureVerdict verdict;
    const char* reason;
  } cases[] = {
      {"valid", ClearSigned(signer_), TSignatureVerdict::Valid, ""},
      {"bare LF", bareLf, TSignatureVerdict::Valid, ""},
      {"opaque", OpaqueSigned(), TSignatureVerdict::Valid, ""},
      {"tampered", tampered, TSignatureVerdict::Invalid, "changed"},
      {"expired", ClearSigned(expired_), TSignatureVerdict::Untrusted, "expired"},
      {"unknown CA", ClearSigned(foreign_), TSignatureVerdict::Untrusted, "issuer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto message = Load(c.message);
    const std::vector<TSignedEntity> entities = FindSignedEntities(message->Properties());
    ASSERT_EQ(entities.size(), 1u);
    const TMessageSecurity security = CheckSignatures(entities, TestAuthority());
    ASSERT_EQ(security.Signatures.size(), 1u);
    const TSignatureStatus& status = security.Signatures[0];
    EXPECT_EQ(status.Verdict, c.verdict) << status.Reason;
    EXPECT_NE(status.Reason.find(c.reason), std::string::npos) << status.Reason;
    EXPECT_EQ(status.SignerName, "Alice Example");
    EXPECT_EQ(status.SignerAddress, "alice@example.org");
    EXPECT_TRUE(status.HasSigningTime);
    EXPECT_LE(std::llabs(status.SigningTime - static_cast<int64_t>(std::time(nullptr))), 600);
    // The signed content is the message's: its text and its file, not the signature.
    EXPECT_NE(U8(message->Properties().GetBody())
                  .find(c.verdict == TSignatureVerdict::Invalid ? "Jello from"
                                                                : "Hello from the signed part."),
              std::string::npos);
    EXPECT_EQ(AttachmentNames(message->Properties()), std::vector<std::string>{"data.bin"});
  }
  // Without the test authority the valid message is signed by someone not known.
  auto message = Load(ClearSigned(signer_));
  TTrustAnchors none;
  none.System = false;
  EXPECT_EQ(CheckSignatures(FindSignedEntities(message->Properties()), none).Signatures[0].Verdict,
            TSignatureVerdict::Untrusted);
}

TEST_F(SignedMessageTest, DamagedSignaturesCannotBeChecked) {
  std::string cut = ClearSigned(signer_);
  cut.resize(cut.find("--sig\r\nContent-Type: application/pkcs7") + 40);
  std::string garbage = ClearSigned(signer_);
  const size_t body = garbage.find("\r\n\r\n", garbage.find("smime.p7s\"\r\n\r\n") - 5);
  garbage.replace(body + 4, 20, "AAAAAAAAAAAAAAAAAAAA");
  for (const std::string& text : {cut, garbage}) {
    auto message = Load(text);
    const TMessageSecurity security =
        CheckSignatures(FindSignedEntities(message->Properties()), TestAuthority());
    ASSERT_EQ(security.Signatures.size(), 1u);
    EXPECT_EQ(security.Signatures[0].Verdict, TSignatureVerdict::CannotCheck);
    EXPECT_FALSE(security.Signatures[0].Reason.empty());
  }
}

// The EML we write of a signed message is the signed entity byte for byte: the openssl program
// verifies it, with the test authority, and the signature alone (-noverify) of corpus messages.
TEST_F(SignedMessageTest, WrittenEmlStillVerifies) {
  if (RunProcess("/usr/bin/openssl", {"version"}).exitCode != 0)
    GTEST_SKIP() << "no openssl program";
  TempDir out;
  const auto verify = [&](const TQvMessage& message, const std::string& name,
                          std::vector<std::string> trust) {
    const std::string path = out.File(name);
    SaveToEMLFile(message.Properties(), path);
    std::vector<std::string> args = {"smime", "-verify", "-in", path, "-out", "/dev/null"};
    args.insert(args.end(), trust.begin(), trust.end());
    const auto result = RunProcess("/usr/bin/openssl", args);
    EXPECT_EQ(result.exitCode, 0) << name << ": " << result.err;
    // The header block is ours: the sender and subject of the message.
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind("From: ", 0), 0u) << name;
  };
  const std::string ca = dir_->File("ca.pem");
  verify(*Load(ClearSigned(signer_)), "clear.eml", {"-CAfile", ca});
  verify(*Load(OpaqueSigned()), "opaque.eml", {"-CAfile", ca});
  for (const char* file :
       {"msg/omp_S_MIME_test_message_signed.msg", "msg/poi_logsat.com_signatures_valid.msg",
        "msg/omp_OutlookMessage_with_X500_dual_address.msg"}) {
    TQvMSGFile message;
    message.LoadFromFile(CorpusPath(file));
    verify(message, std::string(file).substr(4) + ".eml", {"-noverify"});
  }
  TQvEMLFile thunderbird;
  thunderbird.LoadFromFile(CorpusPath("eml/mimekit_thunderbird-signed.eml"));
  verify(thunderbird, "thunderbird.eml", {"-noverify"});
}

// A signed .msg saved as .msg is the signed message it was: the signed attachment with its own
// bytes, without the files read out of it, which reading it again brings back.
TEST_F(SignedMessageTest, SavedMsgKeepsTheSignedAttachment) {
  TempDir out;
  for (const char* file :
       {"msg/omp_S_MIME_test_message_signed.msg", "msg/poi_logsat.com_signatures_valid.msg"}) {
    SCOPED_TRACE(file);
    TQvMSGFile first;
    first.LoadFromFile(CorpusPath(file));
    const TMSGProperty* entity = OuterSignedEntity(first.Properties());
    ASSERT_NE(entity, nullptr);
    first.SaveToMSG(out.File("saved.msg"), true);
    // The file as Outlook sees it: one attachment, the signed entity.
    const cfb::Storage root = cfb::OpenFile(out.File("saved.msg"));
    std::vector<std::u16string> storages;
    for (const cfb::EntryStat& child : root.Children())
      if (child.kind == cfb::EntryKind::Storage && child.name.view().starts_with(u"__attach"))
        storages.push_back(child.name.str());
    ASSERT_EQ(storages.size(), 1u);
    EXPECT_EQ(root.OpenStorage(storages[0]).OpenStream(u"__substg1.0_37010102").ReadAll(),
              entity->Value.Bytes());
    TQvMSGFile again;
    again.LoadFromFile(out.File("saved.msg"));
    EXPECT_EQ(AttachmentNames(again.Properties()), AttachmentNames(first.Properties()));
    EXPECT_EQ(again.Properties().GetBody(), first.Properties().GetBody());
  }
}

// PGP/MIME signatures reach the banner's record through the same reading of the message: a key
// of the keyring's own (valid), a changed content, a keyring without the key. The corpus
// messages are signed by keys no test keyring has.
TEST(SignedMessagePgp, VerdictsAgainstAKeyring) {
  if (RunProcess("/usr/bin/gpg", {"--version"}).exitCode != 0)
    GTEST_SKIP() << "no gpg program";
  TempDir own, empty, work;
  const auto gpg = [](const TempDir& home, std::vector<std::string> args) {
    std::vector<std::string> all = {"--homedir", home.Path(), "--batch", "--no-tty", "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess("/usr/bin/gpg", all);
  };
  const auto made =
      gpg(own, {"--passphrase", "", "--pinentry-mode", "loopback", "--quick-gen-key",
                "Pat Signer <pat@example.org>", "future-default", "default", "never"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::ofstream(work.File("content"), std::ios::binary) << kContent;
  const auto signature =
      gpg(own, {"--armor", "--detach-sign", "--output", "-", work.File("content")});
  ASSERT_EQ(signature.exitCode, 0) << signature.err;
  const std::string message =
      std::string(kHeaders) +
      "Content-Type: multipart/signed; micalg=pgp-sha256;\r\n"
      "\tprotocol=\"application/pgp-signature\"; boundary=\"pgp\"\r\n\r\n"
      "--pgp\r\n" +
      kContent +
      "\r\n--pgp\r\nContent-Type: application/pgp-signature; name=\"signature.asc\"\r\n\r\n" +
      signature.out + "\r\n--pgp--\r\n";
  std::string tampered = message;
  tampered[tampered.find("Hello from")] = 'J';
  const struct {
    const char* name;
    std::string text;
    const TempDir& home;
    TSignatureVerdict verdict;
  } cases[] = {
      {"own key", message, own, TSignatureVerdict::Valid},
      {"tampered", tampered, own, TSignatureVerdict::Invalid},
      {"no key", message, empty, TSignatureVerdict::CannotCheck},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto loaded = Load(c.text);
    TTrustAnchors anchors;
    anchors.GnupgHome = c.home.Path();
    const TMessageSecurity security =
        CheckSignatures(FindSignedEntities(loaded->Properties()), anchors);
    ASSERT_EQ(security.Signatures.size(), 1u);
    const TSignatureStatus& status = security.Signatures[0];
    EXPECT_EQ(status.Protocol, TSignatureProtocol::OpenPgp);
    EXPECT_EQ(status.Verdict, c.verdict) << status.Reason;
    if (c.verdict == TSignatureVerdict::Valid) {
      EXPECT_EQ(status.SignerName, "Pat Signer");
      EXPECT_EQ(status.SignerAddress, "pat@example.org");
      EXPECT_TRUE(status.HasSigningTime);
    }
    if (c.verdict == TSignatureVerdict::CannotCheck)
      EXPECT_EQ(status.Reason, "no public key");
  }
  for (const char* file : {"msg/eom_gpg_signed.msg", "eml/mimekit_gnupg-announce-pgp-signed.eml"}) {
    SCOPED_TRACE(file);
    std::unique_ptr<TQvMessage> loaded;
    if (std::string(file).rfind("msg/", 0) == 0)
      loaded = std::make_unique<TQvMSGFile>();
    else
      loaded = std::make_unique<TQvEMLFile>();
    loaded->LoadFromFile(CorpusPath(file));
    TTrustAnchors anchors;
    anchors.GnupgHome = empty.Path();
    const TMessageSecurity security =
        CheckSignatures(FindSignedEntities(loaded->Properties()), anchors);
    ASSERT_EQ(security.Signatures.size(), 1u);
    EXPECT_EQ(security.Signatures[0].Verdict, TSignatureVerdict::CannotCheck);
    EXPECT_EQ(security.Signatures[0].Reason, "no public key");
    EXPECT_NE(security.Signatures[0].SignerName.find("key "), std::string::npos);
  }
  for (const TempDir* home : {&own, &empty})
    RunProcess("/usr/bin/gpgconf", {"--homedir", home->Path(), "--kill", "all"});
}

} // namespace
} // namespace orlendo
