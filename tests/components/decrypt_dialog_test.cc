// The Decrypt dialog driven as a user would: the key file's bytes and the password reach the
// caller's check, a refusal keeps the dialog open with its reason, and cancelling gives nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <vector>

#include "components/decrypt_dialog.h"
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

} // namespace
} // namespace orlendo
