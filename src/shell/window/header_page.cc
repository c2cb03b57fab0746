#include "shell/window/header_page.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "components/display_limits.h"

namespace orlendo {

THeaderPage::THeaderPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  reTransport = new QPlainTextEdit(this);
  reTransport->setObjectName(QStringLiteral("reTransport"));
  reTransport->setReadOnly(true);
  reTransport->setLineWrapMode(QPlainTextEdit::NoWrap);
  reTransport->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reTransport->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(reTransport);
}

void THeaderPage::Fill(const TMSGProperties* root) {
  Clear();
  if (root == nullptr)
    return;
  const std::u16string headers = root->GetTransportHeaders();
  reTransport->setPlainText(BoundedText(headers));
}

void THeaderPage::Clear() {
  reTransport->clear();
}

} // namespace orlendo
