#include "shell/window/header_page.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "components/display_limits.h"

namespace orlendo {

namespace {
constexpr uint32_t kTransportHeadersA = 0x007D001E;
constexpr uint32_t kTransportHeadersW = 0x007D001F;
} // namespace

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
  // The headers as GetTransportHeaders chooses them; bytes that read as UTF-8 unchanged go to
  // the view without a wide copy of megabytes of them.
  for (const uint32_t tag : {kTransportHeadersA, kTransportHeadersW}) {
    const TMSGProperty* record = root->FindProperty(tag, false, !root->IsRoot());
    if (record == nullptr)
      continue;
    if (record->TextIsBytesAsUtf8()) {
      if (record->Value.Bytes().empty())
        continue;
      reTransport->setPlainText(BoundedUtf8Text(record->Value.Bytes()));
      return;
    }
    const std::u16string headers = record->GetValueText();
    if (!headers.empty()) {
      reTransport->setPlainText(BoundedText(headers));
      return;
    }
  }
}

void THeaderPage::Clear() {
  reTransport->clear();
}

} // namespace orlendo
