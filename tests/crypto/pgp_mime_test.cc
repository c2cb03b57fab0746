// PGP/MIME signatures and encryption against keys made by gpg for the test, in keyrings of
// their own, and the corpus messages whose keys nobody here has.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "crypto/pgp_mime.h"
#include "crypto/raw_mime.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::RunProcess;
using testutil::TempDir;

const char* const kGpg = "/usr/bin/gpg";

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

testutil::ProcessResult Gpg(const std::string& home, std::vector<std::string> args) {
  std::vector<std::string> all = {"--homedir", home, "--batch", "--no-tty", "--quiet"};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess(kGpg, all);
}

// One keyring with the signer's key pair (ultimately trusted, being its own), one with only the
// public key imported (valid signatures, but the key is not certified), one empty, and one whose
// secret key is protected by a passphrase.
class PgpMime : public testing::Test {
protected:
  static void SetUpTestSuite() {
    own_ = new TempDir;
    stranger_ = new TempDir;
    empty_ = new TempDir;
    locked_ = new TempDir;
    work_ = new TempDir;
    auto made = Gpg(own_->Path(),
                    {"--passphrase", "", "--pinentry-mode", "loopback", "--quick-gen-key",
                     "Test Signer <signer@example.org>", "future-default", "default", "never"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    auto exported = Gpg(own_->Path(), {"--armor", "--export", "signer@example.org"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    WriteAll(work_->File("public.asc"), exported.out);
    ASSERT_EQ(Gpg(stranger_->Path(), {"--import", work_->File("public.asc")}).exitCode, 0);
    auto locked = Gpg(locked_->Path(),
                      {"--passphrase", "secret", "--pinentry-mode", "loopback", "--quick-gen-key",
                       "Locked <locked@example.org>", "future-default", "default", "never"});
    ASSERT_EQ(locked.exitCode, 0) << locked.err;
    auto colons = Gpg(own_->Path(), {"--with-colons", "--list-keys", "signer@example.org"});
    std::istringstream lines(colons.out);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> fields;
      std::istringstream f(line);
      for (std::string field; std::getline(f, field, ':');)
        fields.push_back(field);
      if (fields.size() > 4 && fields[0] == "pub")
        signKeyId_ = fields[4];
      if (fields.size() > 4 && fields[0] == "sub")
        encryptKeyId_ = fields[4];
      if (fields.size() > 9 && fields[0] == "fpr" && fingerprint_.empty())
        fingerprint_ = fields[9];
    }
  }
  static void TearDownTestSuite() {
    for (TempDir* home : {own_, stranger_, empty_, locked_})
      RunProcess("/usr/bin/gpgconf", {"--homedir", home->Path(), "--kill", "all"});
    for (TempDir* dir : {own_, stranger_, empty_, locked_, work_})
      delete dir;
  }

  static std::string Sign(std::string_view entity) {
    WriteAll(work_->File("entity"), entity);
    std::remove(work_->File("entity.asc").c_str());
    auto signedIt =
        Gpg(own_->Path(), {"--armor", "--detach-sign", "--local-user", "signer@example.org",
                           "--output", work_->File("entity.asc"), work_->File("entity")});
    EXPECT_EQ(signedIt.exitCode, 0) << signedIt.err;
    return ReadAll(work_->File("entity.asc"));
  }

  static std::string Encrypt(const std::string& home, std::string_view recipient,
                             std::string_view clear, bool sign = false) {
    WriteAll(work_->File("clear"), clear);
    std::remove(work_->File("clear.asc").c_str());
    std::vector<std::string> args = {
        "--armor",  "--trust-model",         "always", "--recipient", std::string(recipient),
        "--output", work_->File("clear.asc")};
    if (sign)
      args.insert(args.end(), {"--sign", "--local-user", std::string(recipient)});
    args.insert(args.end(), {"--encrypt", work_->File("clear")});
    auto done = Gpg(home, args);
    EXPECT_EQ(done.exitCode, 0) << done.err;
    return ReadAll(work_->File("clear.asc"));
  }

  static TempDir *own_, *stranger_, *empty_, *locked_, *work_;
  static std::string signKeyId_, encryptKeyId_, fingerprint_;
};

TempDir *PgpMime::own_, *PgpMime::stranger_, *PgpMime::empty_, *PgpMime::locked_, *PgpMime::work_;
std::string PgpMime::signKeyId_, PgpMime::encryptKeyId_, PgpMime::fingerprint_;

const std::string kEntity = "Content-Type: text/plain; charset=us-ascii\r\n"
                            "Content-Transfer-Encoding: 7bit\r\n\r\n"
                            "The invoice is attached.\r\nPay by Friday.\r\n";

TEST_F(PgpMime, VerdictsForKeyringsAndContent) {
  std::string signature = Sign(kEntity);
  std::string tampered = kEntity;
  tampered.replace(tampered.find("Friday"), 6, "Monday");
  std::string unixLines = kEntity;
  for (size_t at; (at = unixLines.find("\r\n")) != std::string::npos;)
    unixLines.erase(at, 1);
  struct Case {
    const char* what;
    TempDir* home;
    std::string entity;
    TPgpVerdict verdict;
  } cases[] = {
      {"own key", own_, kEntity, TPgpVerdict::Valid},
      // Saved with LF alone: the signed data is still the CR LF form.
      {"LF line ends", own_, unixLines, TPgpVerdict::Valid},
      {"content changed", own_, tampered, TPgpVerdict::Invalid},
      {"key imported, not certified", stranger_, kEntity, TPgpVerdict::NotTrusted},
      {"no key", empty_, kEntity, TPgpVerdict::NoPublicKey},
  };
  time_t now = time(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPgpVerification result = VerifyPgpDetached(c.entity, signature, c.home->Path());
    ASSERT_EQ(result.Signatures.size(), 1u) << result.Error;
    const TPgpSignature& sig = result.Signatures[0];
    EXPECT_EQ(sig.Verdict, c.verdict) << sig.Detail;
    EXPECT_EQ(sig.KeyId, signKeyId_);
    // A bad signature is reported without its time.
    if (c.verdict != TPgpVerdict::Invalid)
      EXPECT_NEAR(static_cast<double>(sig.SigningTime), static_cast<double>(now), 600.0);
    if (c.verdict == TPgpVerdict::NoPublicKey) {
      EXPECT_EQ(sig.Detail, "cannot check: no public key");
      EXPECT_EQ(sig.Name, "");
    } else {
      EXPECT_EQ(sig.Fingerprint, fingerprint_);
      EXPECT_EQ(sig.Name, "Test Signer");
      EXPECT_EQ(sig.Address, "signer@example.org");
      EXPECT_EQ(sig.UserId, "Test Signer <signer@example.org>");
    }
  }
}

TEST_F(PgpMime, WholeMessageVerifiesNestedSignedPart) {
  std::string signature = Sign(kEntity);
  // As a mailing list passes it on: the signed part inside a multipart/mixed with a footer.
  std::string message = "From: signer@example.org\r\nSubject: invoice\r\nMIME-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
                        "--outer\r\n"
                        "Content-Type: multipart/signed; micalg=pgp-sha256;\r\n"
                        " protocol=\"application/pgp-signature\"; boundary=\"=-inner-=\"\r\n\r\n"
                        "This is an OpenPGP/MIME signed message.\r\n"
                        "--=-inner-=\r\n" +
                        kEntity + "\r\n--=-inner-=\r\n" +
                        "Content-Type: application/pgp-signature; name=\"signature.asc\"\r\n\r\n" +
                        signature +
                        "\r\n--=-inner-=--\r\n\r\n--outer\r\n"
                        "Content-Type: text/plain\r\n\r\nlist footer\r\n--outer--\r\n";
  TPgpVerification result;
  ASSERT_TRUE(VerifyPgpMimeMessage(message, result, own_->Path()));
  ASSERT_EQ(result.Signatures.size(), 1u) << result.Error;
  EXPECT_EQ(result.Signatures[0].Verdict, TPgpVerdict::Valid) << result.Signatures[0].Detail;

  // One changed byte in the signed part, none elsewhere.
  std::string changed = message;
  changed[changed.find("invoice is")] = 'I';
  ASSERT_TRUE(VerifyPgpMimeMessage(changed, result, own_->Path()));
  ASSERT_EQ(result.Signatures.size(), 1u);
  EXPECT_EQ(result.Signatures[0].Verdict, TPgpVerdict::Invalid);

  EXPECT_FALSE(VerifyPgpMimeMessage(kEntity, result, own_->Path()));
}

// A keyring whose gpg.conf asks for missing keys to be fetched: the check must neither wait on a
// key server nor fail for it, only say that the key is missing.
TEST_F(PgpMime, MissingKeyIsNeverFetched) {
  TempDir fetching;
  WriteAll(fetching.File("gpg.conf"),
           "auto-key-retrieve\nkeyserver hkps://keys.invalid\nauto-key-locate wkd,keyserver\n");
  TPgpVerification result = VerifyPgpDetached(kEntity, Sign(kEntity), fetching.Path());
  RunProcess("/usr/bin/gpgconf", {"--homedir", fetching.Path(), "--kill", "all"});
  ASSERT_EQ(result.Signatures.size(), 1u) << result.Error;
  EXPECT_EQ(result.Signatures[0].Verdict, TPgpVerdict::NoPublicKey) << result.Signatures[0].Detail;
}

TEST_F(PgpMime, CorpusSignaturesWithoutTheirKeys) {
  struct Case {
    const char* file;
    const char* keyId;
    int64_t signingTime; // 0: not compared
  } cases[] = {
      {"eml/mimekit_gnupg-announce-pgp-signed.eml", "4F0540D577F95F95", 1491251075},
      {"eml/eom_gpg_signed.eml", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string message = ReadAll(testutil::CorpusPath(c.file));
    TPgpVerification result;
    ASSERT_TRUE(VerifyPgpMimeMessage(message, result, empty_->Path()));
    ASSERT_EQ(result.Signatures.size(), 1u) << result.Error;
    const TPgpSignature& sig = result.Signatures[0];
    EXPECT_EQ(sig.Verdict, TPgpVerdict::NoPublicKey) << sig.Detail;
    EXPECT_EQ(sig.KeyId.size(), 16u);
    if (c.keyId)
      EXPECT_EQ(sig.KeyId, c.keyId);
    if (c.signingTime)
      EXPECT_EQ(sig.SigningTime, c.signingTime);
  }
}

TEST_F(PgpMime, DamagedSignatureIsReportedNotThrown) {
  for (std::string signature : {std::string(),
                                std::string("-----BEGIN PGP SIGNATURE-----\n\nAAAA\n-----END PGP "
                                            "SIGNATURE-----\n"),
                                std::string("\x88\xff\xff\xff", 4)}) {
    TPgpVerification result = VerifyPgpDetached(kEntity, signature, own_->Path());
    if (result.Signatures.empty())
      EXPECT_FALSE(result.Error.empty());
    for (const TPgpSignature& sig : result.Signatures)
      EXPECT_NE(sig.Verdict, TPgpVerdict::Valid);
  }
}

TEST_F(PgpMime, EncryptedRecipientsAndDecryption) {
  std::string clear = "Content-Type: text/plain\r\n\r\nThe secret plan.\r\n";
  std::string encrypted = Encrypt(own_->Path(), "signer@example.org", clear);

  std::vector<TPgpRecipient> recipients = PgpRecipients(encrypted);
  ASSERT_EQ(recipients.size(), 1u);
  EXPECT_EQ(recipients[0].KeyId, encryptKeyId_);
  EXPECT_EQ(recipients[0].Algorithm, 18); // ECDH over Curve25519
  recipients = PgpRecipientsWithNames(encrypted, own_->Path());
  ASSERT_EQ(recipients.size(), 1u);
  EXPECT_EQ(recipients[0].UserId, "Test Signer <signer@example.org>");

  TPgpDecryption opened = DecryptPgp(encrypted, own_->Path());
  ASSERT_TRUE(opened.Ok) << opened.Error;
  EXPECT_EQ(opened.Content, clear);
  EXPECT_TRUE(opened.Signatures.empty());

  for (TempDir* home : {stranger_, empty_}) {
    TPgpDecryption refused = DecryptPgp(encrypted, home->Path());
    EXPECT_FALSE(refused.Ok);
    EXPECT_TRUE(refused.Content.empty());
    EXPECT_EQ(refused.Error, "no secret key of a recipient is in the keyring");
    ASSERT_EQ(refused.Recipients.size(), 1u);
  }

  std::string both = Encrypt(own_->Path(), "signer@example.org", clear, true);
  opened = DecryptPgp(both, own_->Path());
  ASSERT_TRUE(opened.Ok) << opened.Error;
  EXPECT_EQ(opened.Content, clear);
  ASSERT_EQ(opened.Signatures.size(), 1u);
  EXPECT_EQ(opened.Signatures[0].Verdict, TPgpVerdict::Valid);
  EXPECT_EQ(opened.Signatures[0].Address, "signer@example.org");
}

// A key behind a passphrase must be reported at once: a prompt would hang the window.
TEST_F(PgpMime, ProtectedSecretKeyIsNotPromptedFor) {
  std::string encrypted = Encrypt(locked_->Path(), "locked@example.org", "hidden");
  TPgpDecryption result = DecryptPgp(encrypted, locked_->Path());
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(result.Content.empty());
  EXPECT_NE(result.Error.find("passphrase"), std::string::npos) << result.Error;
}

TEST_F(PgpMime, PgpMimeEncryptedMessage) {
  std::string clear = "Content-Type: text/plain\r\n\r\nInside.\r\n";
  std::string armored = Encrypt(own_->Path(), "signer@example.org", clear);
  std::string message = "Subject: x\r\nMIME-Version: 1.0\r\n"
                        "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\";"
                        "\r\n boundary=\"b1\"\r\n\r\n--b1\r\n"
                        "Content-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n\r\n--b1\r\n"
                        "Content-Type: application/octet-stream; name=\"encrypted.asc\"\r\n\r\n" +
                        armored + "\r\n--b1--\r\n";
  std::string found;
  ASSERT_TRUE(FindPgpMimeEncrypted(message, found));
  EXPECT_EQ(PgpRecipients(found).size(), 1u);
  TPgpDecryption opened = DecryptPgp(found, own_->Path());
  ASSERT_TRUE(opened.Ok) << opened.Error;
  EXPECT_EQ(opened.Content, clear);
  EXPECT_FALSE(FindPgpMimeEncrypted(kEntity, found));
}

TEST(PgpPackets, RecipientsOfDamagedOrForeignData) {
  // Two session keys (old-format packet headers), then the start of encrypted data.
  std::string packets;
  for (const char* keyId : {"\x01\x02\x03\x04\x05\x06\x07\x08", "\0\0\0\0\0\0\0\0"}) {
    packets += std::string("\x84\x0b\x03", 3) + std::string(keyId, 8) + std::string("\x01\x00", 2);
  }
  packets += std::string("\xd2\x05\x01\xaa\xbb\xcc\xdd", 7);
  std::vector<TPgpRecipient> recipients = PgpRecipients(packets);
  ASSERT_EQ(recipients.size(), 2u);
  EXPECT_EQ(recipients[0].KeyId, "0102030405060708");
  EXPECT_EQ(recipients[0].Algorithm, 1);
  EXPECT_EQ(recipients[1].KeyId, "0000000000000000");
  // Cut inside the second packet: the first is kept.
  EXPECT_EQ(PgpRecipients(packets.substr(0, 20)).size(), 1u);
  EXPECT_TRUE(PgpRecipients("not OpenPGP at all").empty());
  EXPECT_TRUE(PgpRecipients(std::string("\x84\xff", 2)).empty());
}

} // namespace
} // namespace orlendo
