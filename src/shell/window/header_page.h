// The Transport Header page: the Internet header of the open message as plain text.
#pragma once

#include <QWidget>

#include "model/qvmsg.h"

class QPlainTextEdit;

namespace orlendo {

class THeaderPage : public QWidget {
  Q_OBJECT

public:
  explicit THeaderPage(QWidget* parent = nullptr);

  // Shows the transport headers of root (nullptr or none: an empty page).
  void Fill(const TMSGProperties* root);
  void Clear();

  QPlainTextEdit* HeaderText() const { return reTransport; }

private:
  QPlainTextEdit* reTransport;
};

} // namespace orlendo
