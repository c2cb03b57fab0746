#include "components/decrypt_dialog.h"

#include "components/form_preparation.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orlendo {

namespace {

// A password or key should not linger in freed memory longer than it must.
void Wipe(QByteArray& bytes) {
  bytes.fill('\0');
  bytes.clear();
}

} // namespace

TDecryptDialog::TDecryptDialog(const QStringList& recipients, TDecryptAttempt attempt,
                               QWidget* parent)
    : QDialog(parent), attempt_(std::move(attempt)) {
  setObjectName("frmDecrypt");
  setWindowTitle("Decrypt Message");

  auto* layout = new QVBoxLayout(this);
  lblRecipients = new QLabel(this);
  lblRecipients->setObjectName("lblRecipients");
  lblRecipients->setWordWrap(true);
  lblRecipients->setTextFormat(Qt::PlainText);
  lblRecipients->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblRecipients->setText(recipients.isEmpty()
                             ? QString("The message is encrypted.")
                             : "The message is encrypted to:\n" + recipients.join('\n'));
  layout->addWidget(lblRecipients);

  auto* form = new QFormLayout;
  edKeyFile = new QLineEdit(this);
  edKeyFile->setObjectName("edKeyFile");
  edKeyFile->setMinimumWidth(280);
  btnBrowse = new QPushButton("&Browse...", this);
  btnBrowse->setObjectName("btnBrowse");
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(edKeyFile, 1);
  fileRow->addWidget(btnBrowse);
  auto* lblKeyFile = new QLabel("&Key file (.p12, .pfx):", this);
  lblKeyFile->setObjectName("lblKeyFile");
  lblKeyFile->setBuddy(edKeyFile);
  form->addRow(lblKeyFile, fileRow);

  edPassword = new QLineEdit(this);
  edPassword->setObjectName("edPassword");
  // Whoever watches the screen must not read the password.
  edPassword->setEchoMode(QLineEdit::Password);
  auto* lblPassword = new QLabel("&Password:", this);
  lblPassword->setObjectName("lblPassword");
  lblPassword->setBuddy(edPassword);
  form->addRow(lblPassword, edPassword);
  layout->addLayout(form);

  lblError = new QLabel(this);
  lblError->setObjectName("lblError");
  lblError->setWordWrap(true);
  lblError->setTextFormat(Qt::PlainText);
  QPalette warning = lblError->palette();
  warning.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
  lblError->setPalette(warning);
  lblError->hide();
  layout->addWidget(lblError);

  buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  buttons->button(QDialogButtonBox::Ok)->setText("&Decrypt");
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &TDecryptDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btnBrowse, &QPushButton::clicked, this, &TDecryptDialog::Browse);
  connect(edKeyFile, &QLineEdit::textChanged, this, &TDecryptDialog::UpdateOk);
  UpdateOk();
  edKeyFile->setFocus();
}

TDecryptDialog::~TDecryptDialog() {
  edPassword->clear();
}

void TDecryptDialog::UpdateOk() {
  buttons->button(QDialogButtonBox::Ok)->setEnabled(!edKeyFile->text().trimmed().isEmpty());
}

void TDecryptDialog::Browse() {
  const QString start =
      edKeyFile->text().isEmpty() ? QDir::homePath() : QFileInfo(edKeyFile->text()).path();
  const QString chosen = QFileDialog::getOpenFileName(
      this, "Key File", start, "PKCS#12 key files (*.p12 *.pfx);;All files (*)");
  if (!chosen.isEmpty()) {
    edKeyFile->setText(QDir::toNativeSeparators(chosen));
    edPassword->setFocus();
  }
}

void TDecryptDialog::accept() {
  auto fail = [this](const QString& reason, QLineEdit* focus) {
    lblError->setText(reason);
    lblError->show();
    focus->setFocus();
    focus->selectAll();
  };
  const QString path = edKeyFile->text().trimmed();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    fail(QString("The key file %1 cannot be read: %2").arg(path, file.errorString()), edKeyFile);
    return;
  }
  if (file.size() > kMaxKeyFileSize) {
    fail(QString("%1 is too large for a key file.").arg(path), edKeyFile);
    return;
  }
  QByteArray key = file.readAll();
  QByteArray password = edPassword->text().toUtf8();
  const QString reason = attempt_ ? attempt_(key, password) : QString("Nothing to decrypt.");
  Wipe(key);
  Wipe(password);
  if (!reason.isEmpty()) {
    fail(reason, edPassword);
    return;
  }
  edPassword->clear();
  QDialog::accept();
}

bool ShowDecryptDialog(QWidget* parent, const QStringList& recipients,
                       const TDecryptAttempt& attempt) {
  TDecryptDialog dialog(recipients, attempt, parent);
  PrepareForm(&dialog);
  return dialog.exec() == QDialog::Accepted;
}

} // namespace orlendo
