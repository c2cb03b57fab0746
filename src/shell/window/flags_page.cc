#include "shell/window/flags_page.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace orlendo {

namespace {

constexpr uint32_t kTagMessageFlags = 0x0E070003;

} // namespace

const TMessageFlagRow TFlagsPage::kRows[13] = {
    {"MSGFLAG_READ", 0x0001, "The message is marked as having been read"},
    {"MSGFLAG_UNMODIFIED", 0x0002,
     "The outgoing message has not been modified since the first time that it was saved; the "
     "incoming message has not been modified since it was delivered"},
    {"MSGFLAG_SUBMIT", 0x0004, "The message is marked for sending"},
    {"MSGFLAG_UNSENT", 0x0008,
     "The message is still being composed. It is saved, but has not been sent"},
    {"MSGFLAG_HASATTACH", 0x0010, "The message has at least one attachment"},
    {"MSGFLAG_FROMME", 0x0020,
     "The messaging user sending was the messaging user receiving the message"},
    {"MSGFLAG_ASSOCIATED", 0x0040, "The message is an associated message of a folder"},
    {"MSGFLAG_RESEND", 0x0080,
     "The message includes a request for a resend operation with a nondelivery report"},
    {"MSGFLAG_RN_PENDING", 0x0100, "A read report needs to be sent for the message"},
    {"MSGFLAG_NRN_PENDING", 0x0200, "A nonread report needs to be sent for the message"},
    {"MSGFLAG_ORIGIN_X400", 0x1000, "The incoming message arrived over an X.400 link"},
    {"MSGFLAG_ORIGIN_INTERNET", 0x2000, "The incoming message arrived over the Internet"},
    {"MSGFLAG_ORIGIN_MISC_EXT", 0x8000,
     "The incoming message arrived over an external link other than X.400 or the Internet"},
};

TFlagsPage::TFlagsPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  lvMessageFlags = new QTableWidget(13, 2, this);
  lvMessageFlags->setObjectName(QStringLiteral("lvMessageFlags"));
  // A language file gives the column captions (Columns) and the descriptions (Items); the flag
  // names are MAPI's and stay.
  lvMessageFlags->setProperty("itemsColumn", 1);
  lvMessageFlags->setHorizontalHeaderLabels(
      {QStringLiteral("Flag"), QStringLiteral("Description")});
  lvMessageFlags->verticalHeader()->hide();
  lvMessageFlags->setShowGrid(true);
  lvMessageFlags->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvMessageFlags->setSelectionMode(QAbstractItemView::SingleSelection);
  lvMessageFlags->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvMessageFlags->setColumnWidth(1, 320);
  lvMessageFlags->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < 13; ++row) {
    auto* flag = new QTableWidgetItem(QString::fromLatin1(kRows[row].Flag));
    // Shown with a check box that has no user-checkable flag: clicks select the row but never
    // change the box.
    flag->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    flag->setCheckState(Qt::Unchecked);
    lvMessageFlags->setItem(row, 0, flag);
    auto* description = new QTableWidgetItem(QString::fromLatin1(kRows[row].Description));
    description->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    description->setToolTip(description->text());
    lvMessageFlags->setItem(row, 1, description);
  }
  // The flag names are whole in their column, whatever the font.
  lvMessageFlags->resizeColumnToContents(0);
  layout->addWidget(lvMessageFlags);
}

void TFlagsPage::Fill(const TMSGProperties* root) {
  const TMSGProperty* flags =
      root != nullptr ? root->FindProperty(kTagMessageFlags, false, true) : nullptr;
  const int64_t bits = flags != nullptr ? flags->Value.ToInt64() : 0;
  for (int row = 0; row < 13; ++row) {
    lvMessageFlags->item(row, 0)->setCheckState((bits & kRows[row].Bit) != 0 ? Qt::Checked
                                                                             : Qt::Unchecked);
  }
}

void TFlagsPage::Clear() {
  Fill(nullptr);
}

} // namespace orlendo
