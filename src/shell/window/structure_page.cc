#include "shell/window/structure_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "components/interface_locale.h"
#include "msg/qvmsgfile.h"
#include "shell/window/inspector_icons.h"
#include "text/datetime.h"

namespace orlendo {

const char* const TStructurePage::kStatisticLabels[11] = {
    "Name", "Type",  "Size",  "Modification time", "Created time", "Last access time",
    "Mode", "Locks", "clsid", "State bits",        "Reserved"};

namespace {

constexpr int kStatRole = Qt::UserRole;

QIcon StructureIcon(int index) {
  return InspectorIcon(QStringLiteral("structure_%1").arg(index));
}

QString TypeText(cfb::EntryKind kind) {
  switch (kind) {
  case cfb::EntryKind::Storage:
    return QStringLiteral("storage");
  case cfb::EntryKind::Stream:
    return QStringLiteral("stream");
  case cfb::EntryKind::LockBytes:
    return QStringLiteral("lock bytes");
  case cfb::EntryKind::Property:
    return QStringLiteral("property");
  default:
    return QStringLiteral("unknown");
  }
}

// A FILETIME as FormatFileTime gives it, in the interface language's conventions.
QString FileTimeText(uint64_t fileTime) {
  if (FormatFileTime(fileTime).empty())
    return QString();
  return InterfaceDateTimeText(FileTimeToLocalDateTime(fileTime));
}

QString Wide(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::string FormatFileTime(uint64_t fileTime) {
  if (fileTime == 0)
    return {};
  const TDateTime local = FileTimeToLocalDateTime(fileTime);
  return local == 0 ? std::string() : DateTimeToText(local);
}

TStructurePage::TStructurePage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  layout->addWidget(splitter);

  tvStructure = new QTreeWidget(splitter);
  tvStructure->setObjectName(QStringLiteral("tvStructure"));
  tvStructure->setHeaderHidden(true);
  tvStructure->setColumnCount(1);
  tvStructure->setUniformRowHeights(true);
  connect(tvStructure, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { tvStructureChange(current); });

  auto* right = new QWidget(splitter);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  sgStructureItem = new QTableWidget(12, 2, right);
  sgStructureItem->setObjectName(QStringLiteral("sgStructureItem"));
  sgStructureItem->horizontalHeader()->hide();
  sgStructureItem->verticalHeader()->hide();
  sgStructureItem->verticalHeader()->setDefaultSectionSize(19);
  sgStructureItem->setRowHeight(0, 5);
  sgStructureItem->setColumnWidth(0, 110);
  sgStructureItem->horizontalHeader()->setStretchLastSection(true);
  sgStructureItem->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int row = 0; row < 12; ++row) {
    for (int column = 0; column < 2; ++column)
      sgStructureItem->setItem(row, column, new QTableWidgetItem);
  }
  for (int row = 1; row < 12; ++row)
    sgStructureItem->item(row, 0)->setText(QString::fromLatin1(kStatisticLabels[row - 1]));
  sgStructureItem->resizeColumnToContents(0);
  sgStructureItem->setColumnWidth(0, std::max(sgStructureItem->columnWidth(0), 110));
  rightLayout->addWidget(sgStructureItem, 1);

  tvLegend = new QTreeWidget(right);
  tvLegend->setObjectName(QStringLiteral("tvLegend"));
  tvLegend->setHeaderHidden(true);
  tvLegend->setRootIsDecorated(false);
  tvLegend->setSelectionMode(QAbstractItemView::NoSelection);
  tvLegend->setFocusPolicy(Qt::NoFocus);
  const char* const legend[] = {"Storage", "Stream", "Lock bytes", "Property"};
  for (int i = 0; i < 4; ++i) {
    auto* item = new QTreeWidgetItem(tvLegend, QStringList(QString::fromLatin1(legend[i])));
    item->setIcon(0, StructureIcon(i));
  }
  tvLegend->setFixedHeight(4 * 20 + 2 * tvLegend->frameWidth() + 4);
  rightLayout->addWidget(tvLegend);

  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);
}

TStructurePage::~TStructurePage() = default;

void TStructurePage::Clear() {
  tvStructure->clear();
  stats_.clear();
  for (int row = 1; row < 12; ++row)
    sgStructureItem->item(row, 1)->setText(QString());
}

bool TStructurePage::Build(const std::string& fileName) {
  Clear();
  if (!cfb::IsCompoundFile(fileName))
    return false;
  cfb::Storage root = cfb::OpenFile(fileName);

  // An explicit work list rather than recursion: a hostile file may nest storages deeply.
  struct TPending {
    cfb::Storage storage;
    QTreeWidgetItem* parent;
  };
  std::vector<TPending> pending{{root, nullptr}};
  tvStructure->setUpdatesEnabled(false);
  std::vector<QTreeWidgetItem*> topLevel;
  while (!pending.empty()) {
    TPending level = std::move(pending.back());
    pending.pop_back();
    std::vector<cfb::EntryStat> children;
    try {
      children = level.storage.Children();
    } catch (const std::exception&) {
      continue; // the node stays without children
    }
    for (cfb::EntryStat& element : children) {
      if (element.name.empty())
        continue;
      auto* item = new QTreeWidgetItem(QStringList(Wide(element.name)));
      const int kind = static_cast<int>(element.kind);
      if (kind >= 1 && kind <= 4)
        item->setIcon(0, StructureIcon(kind - 1));
      item->setData(0, kStatRole, static_cast<qulonglong>(stats_.size()));
      if (level.parent != nullptr)
        level.parent->addChild(item);
      else
        topLevel.push_back(item);
      if (element.kind == cfb::EntryKind::Storage) {
        try {
          pending.push_back({level.storage.OpenStorage(element.name), item});
        } catch (const std::exception&) {
        }
      }
      stats_.push_back(std::move(element));
    }
  }
  for (QTreeWidgetItem* item : topLevel)
    tvStructure->addTopLevelItem(item);
  tvStructure->expandAll();
  tvStructure->setUpdatesEnabled(true);
  if (tvStructure->topLevelItemCount() > 0) {
    tvStructure->setCurrentItem(tvStructure->topLevelItem(0));
    tvStructure->scrollToItem(tvStructure->topLevelItem(0));
  }
  return true;
}

void TStructurePage::tvStructureChange(QTreeWidgetItem* current) {
  if (current == nullptr)
    return;
  const auto index = current->data(0, kStatRole).toULongLong();
  if (index >= stats_.size())
    return;
  const cfb::EntryStat& stat = stats_[index];
  // The format keeps no open mode, lock support or reserved word for its elements.
  const QString cells[11] = {Wide(stat.name),
                             TypeText(stat.kind),
                             QString::number(stat.size),
                             FileTimeText(stat.modificationTime),
                             FileTimeText(stat.creationTime),
                             FileTimeText(stat.accessTime),
                             QStringLiteral("0"),
                             QStringLiteral("0"),
                             QString::fromStdString(GuidText(stat.clsid.data())),
                             QString::number(stat.stateBits),
                             QStringLiteral("0")};
  for (int row = 1; row < 12; ++row)
    sgStructureItem->item(row, 1)->setText(cells[row - 1]);
}

} // namespace orlendo
