// The small dialog that asks for a user ID and a password (proxy credentials of the update
// check).
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QFrame;

namespace orlendo {

class TfrmQvILogon : public QDialog {
  Q_OBJECT
public:
  explicit TfrmQvILogon(QWidget* parent = nullptr);

  QLabel* imgKey;
  QLabel* lblLogin;
  QLabel* lblPassword;
  QLineEdit* edLogin;
  QLineEdit* edPassword;
  QFrame* bvlButtons;
  QPushButton* btnOk;
  QPushButton* btnCancel;
};

// Shows the dialog modally with caption (the default "Enter Password" when empty) and the two
// edits filled from login and password. OK stores the edits' texts in them and returns true;
// Cancel, Escape or closing the window returns false and leaves both as they were.
bool ShowLogonDialog(const QString& caption, QString& login, QString& password);

} // namespace orlendo
