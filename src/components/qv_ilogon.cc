#include "components/qv_ilogon.h"

#include "components/form_preparation.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

namespace orlendo {
namespace {

// A key drawn in the palette's text colour, for desktops whose theme has no password icon.
QPixmap KeyPixmap(const QColor& color) {
  QPixmap pm(24, 24);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(color, 2.5));
  p.drawEllipse(QRectF(2.5, 2.5, 9, 9));
  p.drawLine(QPointF(10.5, 10.5), QPointF(21, 21));
  p.drawLine(QPointF(17, 17), QPointF(14, 20));
  p.drawLine(QPointF(20, 20), QPointF(17.5, 22.5));
  return pm;
}

} // namespace

TfrmQvILogon::TfrmQvILogon(QWidget* parent) : QDialog(parent) {
  setObjectName("frmQvILogon");
  setWindowTitle("Enter Password");
  setFixedSize(305, 105);

  imgKey = new QLabel(this);
  imgKey->setObjectName("imgKey");
  imgKey->setGeometry(16, 8, 24, 24);
  const QIcon themed = QIcon::fromTheme("dialog-password");
  imgKey->setPixmap(themed.isNull() ? KeyPixmap(palette().color(QPalette::WindowText))
                                    : themed.pixmap(24, 24));

  lblLogin = new QLabel("User ID:", this);
  lblLogin->setObjectName("lblLogin");
  lblLogin->setGeometry(48, 12, 88, 16);
  lblLogin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblPassword = new QLabel("Password:", this);
  lblPassword->setObjectName("lblPassword");
  lblPassword->setGeometry(16, 37, 120, 16);
  lblPassword->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  edLogin = new QLineEdit(this);
  edLogin->setObjectName("edLogin");
  edLogin->setGeometry(144, 8, 150, 21);
  edPassword = new QLineEdit(this);
  edPassword->setObjectName("edPassword");
  edPassword->setGeometry(144, 32, 150, 21);
  // A proxy password is a secret: it is not shown to whoever watches the screen.
  edPassword->setEchoMode(QLineEdit::Password);
  lblLogin->setBuddy(edLogin);
  lblPassword->setBuddy(edPassword);

  bvlButtons = new QFrame(this);
  bvlButtons->setObjectName("bvlButtons");
  bvlButtons->setFrameShape(QFrame::HLine);
  bvlButtons->setFrameShadow(QFrame::Sunken);
  bvlButtons->setGeometry(8, 64, 289, 2);

  btnOk = new QPushButton("&OK", this);
  btnOk->setObjectName("btnOk");
  btnOk->setGeometry(139, 72, 75, 25);
  btnOk->setDefault(true);
  btnOk->setAutoDefault(true);
  btnCancel = new QPushButton("&Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(219, 72, 75, 25);
  btnCancel->setAutoDefault(false);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(edLogin, edPassword);
  setTabOrder(edPassword, btnOk);
  setTabOrder(btnOk, btnCancel);
  edLogin->setFocus();
}

bool ShowLogonDialog(const QString& caption, QString& login, QString& password) {
  TfrmQvILogon dialog;
  PrepareForm(&dialog); // first, so that the caller's caption stands over a translated one
  if (!caption.isEmpty())
    dialog.setWindowTitle(caption);
  dialog.edLogin->setText(login);
  dialog.edPassword->setText(password);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  login = dialog.edLogin->text();
  password = dialog.edPassword->text();
  return true;
}

} // namespace orlendo
