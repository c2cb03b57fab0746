// The Decrypt dialog driven as a user would: the key file's bytes and the password reach the
// caller's check, a refusal keeps the dialog open with its reason, and cancelling gives nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <vector>

#include "components/decrypt_dialog.h"
#include "components/msg_panel.h"
#include "mime/qvemlfile.h"
#include "preview_util.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

// Runs each step on the dialog once it is up, one step per poll, so that the dialog handles
// the events of one step before the next.
void DriveDialog(std::vector<std::function<void(TDecryptDialog*)>> steps) {
  auto* poll = new QTimer;
  auto remaining = std::make_shared<std::vector<std::function<void(TDecryptDialog*)>>>(steps);
  QObject::connect(poll, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<TDecryptDialog*>(QApplication::activeModalWidget());
    if (!dialog)
      return;
    auto step = remaining->front();
    remaining->erase(remaining->begin());
    if (remaining->empty()) {
      poll->stop();
      poll->deleteLater();
    }
    step(dialog);
  });
  poll->start(10);
}

void Click(TDecryptDialog* d, QDialogButtonBox::StandardButton which) {
  d->buttons->button(which)->click();
}

TEST(DecryptDialog, KeyAndPasswordReachTheCheckUntilItAccepts) {
  testutil::TempDir dir;
  const std::string keyBytes("\x30\x82\x00\x01key\0bytes", 13);
  std::ofstream(dir.File("me.p12"), std::ios::binary) << keyBytes;

  std::vector<std::pair<QByteArray, QByteArray>> tried;
  TDecryptAttempt attempt = [&](const QByteArray& key, const QByteArray& password) {
    tried.emplace_back(key, password);
    return password == "p\xc3\xa4ss" ? QString() : QString("The password is wrong.");
  };
  QString shownError, recipientsText;
  bool stayedOpen = false, okAtFirst = true;
  DriveDialog({
      [&](TDecryptDialog* d) {
        recipientsText = d->lblRecipients->text();
        EXPECT_EQ(d->edPassword->echoMode(), QLineEdit::Password);
        okAtFirst = d->buttons->button(QDialogButtonBox::Ok)->isEnabled();
        d->edKeyFile->setText(QString::fromStdString(dir.File("missing.p12")));
        Click(d, QDialogButtonBox::Ok);
      },
      [&](TDecryptDialog* d) {
        EXPECT_TRUE(d->lblError->text().contains("cannot be read"))
            << d->lblError->text().toStdString();
        d->edKeyFile->setText(QString::fromStdString(dir.File("me.p12")));
        d->edPassword->setText("wrong");
        Click(d, QDialogButtonBox::Ok);
      },
      [&](TDecryptDialog* d) {
        shownError = d->lblError->text();
        stayedOpen = d->isVisible();
        d->edPassword->setText(QString::fromUtf8("p\xc3\xa4ss"));
        Click(d, QDialogButtonBox::Ok);
      },
  });
  EXPECT_TRUE(
      ShowDecryptDialog(nullptr, {"C=NL, O=Test CA, serial 01", "CN=Other, serial 0A"}, attempt));
  EXPECT_FALSE(okAtFirst);
  EXPECT_EQ(recipientsText,
            "The message is encrypted to:\nC=NL, O=Test CA, serial 01\nCN=Other, serial 0A");
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(shownError, "The password is wrong.");
  // The missing file never reached the check.
  ASSERT_EQ(tried.size(), 2u);
  EXPECT_EQ(tried[0].first.toStdString(), keyBytes);
  EXPECT_EQ(tried[0].second, "wrong");
  EXPECT_EQ(tried[1].second, "p\xc3\xa4ss");
}

TEST(DecryptDialog, CancelGivesNothing) {
  int calls = 0;
  DriveDialog({[](TDecryptDialog* d) {
    d->edKeyFile->setText("/nonexistent.p12");
    d->edPassword->setText("x");
    Click(d, QDialogButtonBox::Cancel);
  }});
  EXPECT_FALSE(ShowDecryptDialog(nullptr, {}, [&](const QByteArray&, const QByteArray&) {
    ++calls;
    return QString();
  }));
  EXPECT_EQ(calls, 0);
}

void Openssl(std::vector<std::string> args) {
  auto done = testutil::RunProcess("/usr/bin/openssl", args);
  ASSERT_EQ(done.exitCode, 0) << args[0] << ": " << done.err;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The banner of the Outlook encrypted messages of the corpus names their recipient and offers
// to decrypt them.
TEST(EncryptedPreview, OutlookEncryptedMessageNamesItsRecipient) {
  for (const char* name : {"msg/omp_S_MIME_test_message_encrypted.msg",
                           "msg/omp_S_MIME_test_message_signed_and_encrypted.msg"}) {
    SCOPED_TRACE(name);
    auto message = previewtest::Load(previewtest::Corpus(name));
    previewtest::ShownPanel shown;
    shown.panel.DisplayMessage(&message->Properties());
    ASSERT_TRUE(previewtest::WaitFor([&] { return !shown.panel.CheckingSignatures(); }));
    EXPECT_TRUE(shown.panel.lblSecurity->isVisible());
    EXPECT_EQ(shown.panel.lblSecurity->text(),
              "This message is encrypted to C=NL, ST=Friesland, O=Simple Java Mail CA (01).");
    EXPECT_TRUE(shown.panel.btnDecrypt->isVisible());
    shown.panel.Clear();
    EXPECT_FALSE(shown.panel.btnDecrypt->isVisible());
  }
}

// A message signed, then encrypted, as mail programs send it: after Decrypt... the preview shows
// the content with the outer header, and the signature inside is checked.
TEST(EncryptedPreview, DecryptShowsTheSignedContent) {
  testutil::TempDir dir;
  auto f = [&](const char* n) { return dir.File(n); };
  Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f("ca.key"), "-out",
           f("ca.crt"), "-subj", "/O=Preview Test CA", "-days", "2"});
  Openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", f("me.key"), "-out", f("me.csr"),
           "-subj", "/CN=Mia Muster/emailAddress=mia@example.org"});
  Openssl({"x509", "-req", "-in", f("me.csr"), "-CA", f("ca.crt"), "-CAkey", f("ca.key"),
           "-set_serial", "0x2A", "-days", "2", "-out", f("me.crt")});
  Openssl({"pkcs12", "-export", "-inkey", f("me.key"), "-in", f("me.crt"), "-passout",
           "pass:open sesame", "-out", f("me.p12")});
  std::ofstream(f("content.eml"), std::ios::binary)
      << "Content-Type: text/plain; charset=us-ascii\r\n\r\nMeet me at the old mill.\r\n";
  Openssl({"cms", "-sign", "-in", f("content.eml"), "-signer", f("me.crt"), "-inkey", f("me.key"),
           "-out", f("signed.eml")});
  Openssl({"cms", "-encrypt", "-in", f("signed.eml"), "-aes-256-cbc", "-out", f("encrypted.eml"),
           f("me.crt")});
  const std::string message = "From: Mia Muster <mia@example.org>\r\nTo: you@example.org\r\n"
                              "Subject: The plan\r\n" +
                              ReadAll(f("encrypted.eml"));
  TQvEMLFile eml;
  TMemoryStream stream(message);
  eml.LoadFromStream(stream);

  previewtest::ShownPanel shown;
  TTrustAnchors anchors;
  anchors.System = false;
  anchors.Files = {f("ca.crt")};
  shown.panel.SetTrustAnchors(anchors);
  shown.panel.DisplayMessage(&eml.Properties());
  ASSERT_TRUE(previewtest::WaitFor([&] { return !shown.panel.CheckingSignatures(); }));
  EXPECT_EQ(shown.panel.lblSecurity->text(),
            "This message is encrypted to O=Preview Test CA (2A).");
  ASSERT_TRUE(shown.panel.btnDecrypt->isVisible());
  EXPECT_FALSE(shown.panel.reBody->toPlainText().contains("old mill"));

  QString refusal;
  DriveDialog({
      [&](TDecryptDialog* d) {
        d->edKeyFile->setText(QString::fromStdString(f("me.p12")));
        d->edPassword->setText("closed sesame");
        Click(d, QDialogButtonBox::Ok);
      },
      [&](TDecryptDialog* d) {
        refusal = d->lblError->text();
        d->edPassword->setText("open sesame");
        Click(d, QDialogButtonBox::Ok);
      },
  });
  shown.panel.btnDecrypt->click();
  EXPECT_EQ(refusal, "The password is wrong, or the key file is damaged.");
  ASSERT_TRUE(previewtest::WaitFor([&] { return !shown.panel.CheckingSignatures(); }));
  EXPECT_TRUE(shown.panel.reBody->toPlainText().contains("Meet me at the old mill."))
      << shown.panel.reBody->toPlainText().toStdString();
  EXPECT_EQ(shown.panel.edSubject->text(), "The plan");
  EXPECT_TRUE(shown.panel.edFrom->text().contains("Mia Muster"));
  EXPECT_FALSE(shown.panel.btnDecrypt->isVisible());
  const QString banner = shown.panel.lblSecurity->text();
  EXPECT_TRUE(banner.startsWith("Signed by Mia Muster <mia@example.org>")) << banner.toStdString();
  EXPECT_TRUE(banner.contains("The signature is valid.")) << banner.toStdString();
  EXPECT_TRUE(banner.endsWith("This message is encrypted; it is shown decrypted."))
      << banner.toStdString();
}

// PGP/MIME signatures reach the banner; without the signer's key it says so.
TEST(EncryptedPreview, PgpSignatureWithoutKey) {
  testutil::TempDir home;
  const QByteArray saved = qgetenv("GNUPGHOME");
  qputenv("GNUPGHOME", QByteArray::fromStdString(home.Path()));
  auto message =
      previewtest::Load(previewtest::Corpus("eml/mimekit_gnupg-announce-pgp-signed.eml"));
  previewtest::ShownPanel shown;
  shown.panel.DisplayMessage(&message->Properties());
  ASSERT_TRUE(previewtest::WaitFor([&] { return !shown.panel.CheckingSignatures(); }));
  const QString banner = shown.panel.lblSecurity->text();
  EXPECT_TRUE(banner.startsWith("Signed by OpenPGP key 4F0540D577F95F95")) << banner.toStdString();
  EXPECT_TRUE(banner.endsWith("The signature cannot be checked: no public key."))
      << banner.toStdString();
  EXPECT_FALSE(shown.panel.btnDecrypt->isVisible());
  shown.panel.Clear();
  testutil::RunProcess("/usr/bin/gpgconf", {"--homedir", home.Path(), "--kill", "all"});
  if (saved.isNull())
    qunsetenv("GNUPGHOME");
  else
    qputenv("GNUPGHOME", saved);
}

} // namespace
} // namespace orlendo
