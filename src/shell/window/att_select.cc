#include "shell/window/att_select.h"

#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <optional>

#include "app/attachment_files.h"
#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/form_preparation.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"

namespace orlendo {

namespace {
constexpr int kIndexRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
} // namespace

TfrmAttachments::TfrmAttachments(QWidget* parent, const QString& nameCaption) : QDialog(parent) {
  setObjectName("frmAttachments");
  setWindowTitle(tr("Select attachments to save"));
  resize(402, 333);
  lvAttachments = new QTreeWidget(this);
  lvAttachments->setObjectName("lvAttachments");
  lvAttachments->setRootIsDecorated(false);
  lvAttachments->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvAttachments->setHeaderLabels({nameCaption, "FileName"});
  lvAttachments->setColumnHidden(1, true);
  lvAttachments->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lvAttachments->setContextMenuPolicy(Qt::CustomContextMenu);
  pmAttachments = new QMenu(this);
  pmAttachments->setObjectName("pmAttachments");
  pmAttachments->addAction(tr("Select All"), this, [this] { miSelectAllClick(0); })
      ->setObjectName("miSelectAll");
  pmAttachments->addAction(tr("Unselect All"), this, [this] { miSelectAllClick(1); })
      ->setObjectName("miUnselectAll");
  pmAttachments->addAction(tr("Invert Selection"), this, [this] { miSelectAllClick(2); })
      ->setObjectName("miInvertSelection");
  connect(lvAttachments, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    pmAttachments->popup(lvAttachments->viewport()->mapToGlobal(at));
  });

  pnlButtons = new QWidget(this);
  pnlButtons->setFixedHeight(41);
  pnlButtons->setObjectName("pnlButtons");
  btnSave = new QPushButton(tr("&Save"), pnlButtons);
  btnSave->setObjectName("btnSave");
  btnSave->setDefault(true);
  btnCancel = new QPushButton(tr("&Cancel"), pnlButtons);
  btnCancel->setObjectName("btnCancel");
  connect(btnSave, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(lvAttachments, 1);
  layout->addWidget(pnlButtons);
  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());
}

void TfrmAttachments::CopyItems(const QListWidget& attachments) {
  lvAttachments->clear();
  for (int i = 0; i < attachments.count(); ++i) {
    const QListWidgetItem* source = attachments.item(i);
    auto* item = new QTreeWidgetItem(lvAttachments);
    item->setText(0, source->text());
    item->setIcon(0, source->icon());
    item->setText(1, source->data(TfrmMessage::kFileNameRole).toString());
    const int image = source->data(TfrmMessage::kImageRole).toInt();
    item->setData(0, kIndexRole, source->data(TfrmMessage::kAttachmentIndexRole));
    item->setData(0, kImageRole, image);
    item->setCheckState(0, image == 0 ? Qt::Checked : Qt::Unchecked);
  }
  lvAttachments->resizeColumnToContents(0);
}

void TfrmAttachments::miSelectAllClick(int tag) {
  for (int i = 0; i < lvAttachments->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lvAttachments->topLevelItem(i);
    const bool checked = item->checkState(0) == Qt::Checked;
    const bool now = tag == 0 ? true : tag == 1 ? false : !checked;
    item->setCheckState(0, now ? Qt::Checked : Qt::Unchecked);
  }
}

void TfrmAttachments::pnlButtonsResize() {
  const int w = pnlButtons->width();
  const int top = (pnlButtons->height() - btnCancel->sizeHint().height()) / 2;
  const QSize size = btnCancel->sizeHint().expandedTo(QSize(75, 25));
  btnCancel->setGeometry(w - 10 - size.width(), top, size.width(), size.height());
  btnSave->setGeometry(btnCancel->x() - 10 - size.width(), top, size.width(), size.height());
}

void TfrmAttachments::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  pnlButtonsResize();
}

int TfrmAttachments::SaveChecked(const TMSGProperties& root, const std::string& startFolder) {
  std::string folder;
  int saved = 0;
  std::vector<std::string> written; // names of this save: two attachments never share one
  std::optional<TReplaceAnswer> forAll;
  for (int i = 0; i < lvAttachments->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lvAttachments->topLevelItem(i);
    const int image = item->data(0, kImageRole).toInt();
    if (item->checkState(0) != Qt::Checked || image == 2)
      continue;
    if (folder.empty()) {
      folder = FileDialogs()
                   .SelectFolder(this, tr("Select directory"), QString::fromStdString(startFolder))
                   .toStdString();
      if (folder.empty())
        return saved;
    }
    // The stored name is the sender's: it names a file in the chosen folder and nothing else.
    const int index = item->data(0, kIndexRole).toInt();
    // An attached message is saved as a message file named after its subject.
    std::string name = SafeFileName(image == 1 ? EmbeddedMessageFileName(item->text(0).toStdString())
                                               : item->text(1).toStdString());
    if (std::find(written.begin(), written.end(), name) != written.end()) {
      name = DistinctFileName(folder, name, written);
    } else if (std::error_code ec; std::filesystem::exists(PathInFolder(folder, name), ec)) {
      // A file that was there before: the user decides.
      TReplaceAnswer answer =
          forAll
              ? *forAll
              : FileDialogs().AskReplace(this, QString::fromStdString(PathInFolder(folder, name)));
      if (answer.forAll)
        forAll = answer;
      if (answer.choice == TReplaceAnswer::Skip)
        continue;
      if (answer.choice == TReplaceAnswer::KeepBoth)
        name = DistinctFileName(folder, name, written);
    }
    written.push_back(name);
    if (image == 1)
      SaveEmbeddedMessage(root, index, PathInFolder(folder, name));
    else
      root.SaveAttachmentToFile(index, PathInFolder(folder, name));
    ++saved;
  }
  return saved;
}

void SaveAttachmentsCommand(QWidget* parent, const TfrmMessage& panel, const TSettings& settings,
                            const std::string& messageFileName) {
  if (panel.MessageProperties() == nullptr)
    return;
  TfrmAttachments dialog(parent);
  dialog.CopyItems(*panel.lvAttachments);
  PrepareForm(&dialog);
  if (dialog.exec() != QDialog::Accepted)
    return;
  try {
    dialog.SaveChecked(*panel.MessageProperties(), GetAttachmentFolder(settings, messageFileName));
  } catch (const std::exception& e) {
    FileDialogs().Error(parent, QString::fromUtf8(e.what()));
  }
}

} // namespace orlendo
