// The dialog that asks for the key an encrypted message is opened with: a PKCS#12 key file
// (.p12, .pfx) and its password. It reads the key file into memory and hands the bytes and the
// password to the caller's check; a wrong password or key keeps it open with the reason, so the
// user can try again without starting over.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QStringList>
#include <functional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orlendo {

// Tries a key: the bytes of the key file and the password as UTF-8. Returns "" when the message
// opened, else the reason to show ("The password is wrong, ...").
using TDecryptAttempt =
    std::function<QString(const QByteArray& keyFile, const QByteArray& password)>;

class TDecryptDialog : public QDialog {
  Q_OBJECT
public:
  // recipients: one line each ("issuer, serial 01"), shown above the fields.
  TDecryptDialog(const QStringList& recipients, TDecryptAttempt attempt, QWidget* parent = nullptr);
  ~TDecryptDialog() override;

  QLabel* lblRecipients;
  QLineEdit* edKeyFile;
  QPushButton* btnBrowse;
  QLineEdit* edPassword;
  QLabel* lblError;
  QDialogButtonBox* buttons;

  // Larger files are no key files; reading them would only waste memory.
  static constexpr qint64 kMaxKeyFileSize = 1 << 20;

  void accept() override;

private:
  void Browse();
  void UpdateOk();

  TDecryptAttempt attempt_;
};

// Shows the dialog modally until a key opens the message (true) or the user cancels (false).
bool ShowDecryptDialog(QWidget* parent, const QStringList& recipients,
                       const TDecryptAttempt& attempt);

} // namespace orlendo
