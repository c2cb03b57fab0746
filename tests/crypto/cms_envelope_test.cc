// S/MIME encrypted messages: recipients and decryption against certificates, keys and PKCS#12
// files made by openssl for the test, and the recipients of the corpus messages, whose keys
// nobody here has.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "crypto/cms_envelope.h"
#include "crypto/encrypted_content.h"
#include "mime/qvemlfile.h"
#include "model/qvmsg.h"
#include "model/stream.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::RunProcess;
using testutil::TempDir;

const char* const kOpenssl = "/usr/bin/openssl";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void Openssl(std::vector<std::string> args) {
  auto done = RunProcess(kOpenssl, args);
  ASSERT_EQ(done.exitCode, 0) << args[0] << ": " << done.err;
}

const std::string kClear = "Content-Type: text/plain; charset=utf-8\r\n"
                           "Content-Transfer-Encoding: 8bit\r\n\r\n"
                           "The merger closes on Friday. \xc3\x84rger vermeiden.\r\n";

// Alice (RSA) and Carol (EC, key agreement) hold certificates of a test CA; Bob (RSA) one of his
// own making. The message is encrypted to Alice and Carol only.
class CmsEnvelope : public testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    auto f = [](const char* name) { return dir_->File(name); };
    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f("ca.key"), "-out",
             f("ca.crt"), "-subj", "/C=NL/O=Test Mail CA/CN=Test Root", "-days", "2"});
    struct Person {
      const char* name;
      const char* subject;
      const char* serial;
      std::vector<std::string> keyArgs;
    } people[] = {
        {"alice",
         "/CN=Alice/emailAddress=alice@example.org",
         "0x0A1B2C3D4E5F",
         {"-newkey", "rsa:2048"}},
        {"carol",
         "/CN=Carol/emailAddress=carol@example.org",
         "0x07",
         {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"}},
    };
    for (const Person& p : people) {
      std::string n = p.name;
      std::vector<std::string> req = {
          "req",   "-nodes", "-keyout", f((n + ".key").c_str()), "-out", f((n + ".csr").c_str()),
          "-subj", p.subject};
      req.insert(req.end(), p.keyArgs.begin(), p.keyArgs.end());
      Openssl(req);
      Openssl({"x509", "-req", "-in", f((n + ".csr").c_str()), "-CA", f("ca.crt"), "-CAkey",
               f("ca.key"), "-set_serial", p.serial, "-days", "2", "-out",
               f((n + ".crt").c_str())});
      Openssl({"pkcs12", "-export", "-inkey", f((n + ".key").c_str()), "-in",
               f((n + ".crt").c_str()), "-passout", "pass:right horse", "-out",
               f((n + ".p12").c_str())});
    }
    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f("bob.key"), "-out",
             f("bob.crt"), "-subj", "/CN=Bob", "-days", "2"});
    Openssl({"pkcs12", "-export", "-inkey", f("bob.key"), "-in", f("bob.crt"), "-passout",
             "pass:right horse", "-out", f("bob.p12")});
    // The protection Windows used to give exported keys (RC2 and 3DES with SHA-1).
    Openssl({"pkcs12", "-export", "-legacy", "-inkey", f("alice.key"), "-in", f("alice.crt"),
             "-passout", "pass:old", "-out", f("alice-legacy.p12")});
    Openssl({"pkcs12", "-export", "-inkey", f("alice.key"), "-in", f("alice.crt"), "-passout",
             "pass:", "-out", f("alice-nopass.p12")});
    WriteAll(f("clear.eml"), kClear);
    Openssl({"cms", "-encrypt", "-binary", "-aes-256-cbc", "-in", f("clear.eml"), "-outform", "DER",
             "-out", f("envelope.der"), f("alice.crt"), f("carol.crt")});
    Openssl({"cms", "-encrypt", "-binary", "-des3", "-in", f("clear.eml"), "-outform", "SMIME",
             "-out", f("envelope.eml"), f("alice.crt")});
    Openssl({"cms", "-encrypt", "-binary", "-aes-128-gcm", "-in", f("clear.eml"), "-outform", "PEM",
             "-out", f("envelope.pem"), f("alice.crt")});
    Openssl({"cms", "-encrypt", "-binary", "-aes-128-gcm", "-in", f("clear.eml"), "-outform", "DER",
             "-out", f("envelope-gcm.der"), f("alice.crt")});
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string File(const char* name) { return ReadAll(dir_->File(name)); }

  static TempDir* dir_;
};

TempDir* CmsEnvelope::dir_;

TEST_F(CmsEnvelope, RecipientsNameIssuerAndSerial) {
  TCmsEnvelope envelope = ReadCmsEnvelope(File("envelope.der"));
  ASSERT_TRUE(envelope.Ok) << envelope.Error;
  EXPECT_FALSE(envelope.Authenticated);
  ASSERT_EQ(envelope.Recipients.size(), 2u);
  EXPECT_EQ(envelope.Recipients[0].Kind, "key transport");
  EXPECT_EQ(envelope.Recipients[0].Issuer, "C=NL, O=Test Mail CA, CN=Test Root");
  EXPECT_EQ(envelope.Recipients[0].Serial, "0A1B2C3D4E5F");
  EXPECT_EQ(envelope.Recipients[1].Kind, "key agreement");
  EXPECT_EQ(envelope.Recipients[1].Issuer, "C=NL, O=Test Mail CA, CN=Test Root");
  EXPECT_EQ(envelope.Recipients[1].Serial, "07");

  TCmsEnvelope gcm = ReadCmsEnvelope(File("envelope.pem"));
  ASSERT_TRUE(gcm.Ok) << gcm.Error;
  EXPECT_TRUE(gcm.Authenticated);
  ASSERT_EQ(gcm.Recipients.size(), 1u);

  EXPECT_FALSE(ReadCmsEnvelope("no CMS here").Ok);
  EXPECT_FALSE(ReadCmsEnvelope(File("envelope.der").substr(0, 200)).Ok);
  EXPECT_FALSE(ReadCmsEnvelope("").Ok);
}

TEST_F(CmsEnvelope, DecryptsWithEachRecipientsKeyFile) {
  struct Case {
    const char* what;
    std::string cms;
    const char* keyFile;
    const char* password;
  } cases[] = {
      {"RSA recipient", File("envelope.der"), "alice.p12", "right horse"},
      {"EC recipient", File("envelope.der"), "carol.p12", "right horse"},
      {"legacy key file", File("envelope.der"), "alice-legacy.p12", "old"},
      {"key file without password", File("envelope.der"), "alice-nopass.p12", ""},
      {"AES-GCM, PEM", File("envelope.pem"), "alice.p12", "right horse"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TCmsDecryption result = DecryptCmsEnvelope(c.cms, File(c.keyFile), c.password);
    ASSERT_TRUE(result.Ok) << result.Error;
    EXPECT_EQ(result.Failure, TCmsDecryptFailure::None);
    EXPECT_EQ(result.Content, kClear);
  }
}

TEST_F(CmsEnvelope, FailuresSayWhy) {
  std::string cms = File("envelope.der");
  // The authentication tag is the last field: one changed bit there fails the check.
  std::string changed = File("envelope-gcm.der");
  changed.back() = static_cast<char>(changed.back() ^ 1);
  struct Case {
    const char* what;
    std::string cms;
    std::string key;
    const char* password;
    TCmsDecryptFailure failure;
  } cases[] = {
      {"wrong password", cms, File("alice.p12"), "wrong horse", TCmsDecryptFailure::WrongPassword},
      {"empty password for a protected file", cms, File("alice.p12"), "",
       TCmsDecryptFailure::WrongPassword},
      {"not a recipient", cms, File("bob.p12"), "right horse", TCmsDecryptFailure::NotRecipient},
      {"certificate instead of a key file", cms, File("alice.crt"), "right horse",
       TCmsDecryptFailure::BadKeyFile},
      {"empty key file", cms, "", "", TCmsDecryptFailure::BadKeyFile},
      {"content changed", changed, File("alice.p12"), "right horse", TCmsDecryptFailure::Damaged},
      {"not encrypted", kClear, File("alice.p12"), "right horse", TCmsDecryptFailure::NotEnveloped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TCmsDecryption result = DecryptCmsEnvelope(c.cms, c.key, c.password);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Failure, c.failure) << result.Error;
    EXPECT_FALSE(result.Error.empty());
    EXPECT_TRUE(result.Content.empty());
  }
}

TEST_F(CmsEnvelope, FoundInAnInternetMessage) {
  std::string message = "From: a@example.org\r\nSubject: secret\r\n" + File("envelope.eml");
  std::string cms;
  ASSERT_TRUE(FindSmimeEnvelope(message, cms));
  TCmsDecryption result = DecryptCmsEnvelope(cms, File("alice.p12"), "right horse");
  ASSERT_TRUE(result.Ok) << result.Error;
  EXPECT_EQ(result.Content, kClear);

  // The same as the attachment of a multipart/mixed, under its old x- name and no smime-type.
  std::string body = File("envelope.eml");
  body = body.substr(body.find("\n\n") != std::string::npos ? body.find("\n\n") + 2
                                                            : body.find("\r\n\r\n") + 4);
  std::string wrapped = "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n"
                        "Content-Type: text/plain\r\n\r\nsee attachment\r\n--x\r\n"
                        "Content-Type: application/x-pkcs7-mime; name=smime.p7m\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\n" +
                        body + "\r\n--x--\r\n";
  cms.clear();
  ASSERT_TRUE(FindSmimeEnvelope(wrapped, cms));
  EXPECT_TRUE(ReadCmsEnvelope(cms).Ok);
  EXPECT_FALSE(FindSmimeEnvelope(kClear, cms));
}

// The reader keeps the encrypted body as an attachment node; the decrypted entity is read as the
// message, with the outer header where the entity has none.
TEST_F(CmsEnvelope, EncryptedInternetMessageInTheModel) {
  std::string message = "From: Ann <ann@example.org>\r\nTo: b@example.org\r\n"
                        "Subject: Quarterly figures\r\n" +
                        File("envelope.eml");
  TQvEMLFile eml;
  TMemoryStream stream(message);
  eml.LoadFromStream(stream);
  TEncryptedContent found = FindEncryptedContent(eml.Properties());
  ASSERT_EQ(found.Kind, TEncryptedContent::TKind::Cms);
  ASSERT_EQ(found.Recipients.size(), 1u);
  EXPECT_EQ(found.Recipients[0].Issuer, "C=NL, O=Test Mail CA, CN=Test Root");
  EXPECT_EQ(found.Recipients[0].Serial, "0A1B2C3D4E5F");

  TCmsDecryption result = DecryptCmsEnvelope(found.Data, File("alice.p12"), "right horse");
  ASSERT_TRUE(result.Ok) << result.Error;
  std::unique_ptr<TQvEMLFile> clear = ReadDecryptedMessage(result.Content, eml.Properties());
  const TMSGProperties& shown = clear->Properties();
  EXPECT_EQ(shown.GetSubject(), u"Quarterly figures");
  EXPECT_NE(shown.GetFrom().find(u"ann@example.org"), std::u16string::npos);
  EXPECT_NE(shown.GetBody().find(u"The merger closes on Friday."), std::u16string::npos);
  EXPECT_EQ(shown.AttachmentCount(), 0);
  EXPECT_EQ(FindEncryptedContent(shown).Kind, TEncryptedContent::TKind::None);
}

// Outlook keeps the whole encrypted message as the smime.p7m attachment of an IPM.Note.SMIME.
TEST(CmsCorpus, RecipientsOfOutlookEncryptedMessages) {
  for (const char* name : {"msg/omp_S_MIME_test_message_encrypted.msg",
                           "msg/omp_S_MIME_test_message_signed_and_encrypted.msg"}) {
    SCOPED_TRACE(name);
    TQvMSGFile msg;
    msg.LoadFromFile(testutil::CorpusPath(name));
    const TMSGProperty* data = nullptr;
    for (int i = 0; i < msg.Properties().AttachmentCount() && data == nullptr; ++i)
      data = msg.Properties().GetAttachment(i)->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN,
                                                                             false, true);
    ASSERT_NE(data, nullptr);
    TCmsEnvelope envelope = ReadCmsEnvelope(data->Value.Bytes());
    ASSERT_TRUE(envelope.Ok) << envelope.Error;
    EXPECT_EQ(FindEncryptedContent(msg.Properties()).Kind, TEncryptedContent::TKind::Cms);
    ASSERT_EQ(envelope.Recipients.size(), 1u);
    EXPECT_EQ(envelope.Recipients[0].Kind, "key transport");
    EXPECT_EQ(envelope.Recipients[0].Issuer, "C=NL, ST=Friesland, O=Simple Java Mail CA");
    EXPECT_EQ(envelope.Recipients[0].Serial, "01");
  }
}

} // namespace
} // namespace orlendo
