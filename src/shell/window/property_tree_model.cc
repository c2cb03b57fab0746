#include "shell/window/property_tree_model.h"

#include "model/named_properties.h"

#include "shell/window/inspector_icons.h"

namespace orlendo {

TPropertyTreeModel::TPropertyTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void TPropertyTreeModel::SetRoot(const TMSGProperties* root) {
  beginResetModel();
  root_ = root;
  rows_.clear();
  icons_.clear();
  endResetModel();
}

const std::array<QIcon, TPropertyTreeModel::kIconCount>& TPropertyTreeModel::Icons() {
  static const std::array<QIcon, kIconCount> icons = [] {
    std::array<QIcon, kIconCount> result;
    for (int i = 0; i < kIconCount; ++i)
      result[static_cast<size_t>(i)] =
          InspectorIcon(QStringLiteral("property_%1").arg(i, 2, 10, QLatin1Char('0')));
    return result;
  }();
  return icons;
}

const TMSGProperty* TPropertyTreeModel::Record(const QModelIndex& index) {
  return index.isValid() ? static_cast<const TMSGProperty*>(index.internalPointer()) : nullptr;
}

bool TPropertyTreeModel::IsTopLevel(const TMSGProperty& record) const {
  return record.Collection() == root_;
}

int TPropertyTreeModel::RowOf(const TMSGProperty* record) const {
  auto found = rows_.find(record);
  if (found != rows_.end())
    return found->second;
  const TMSGProperties* collection = record->Collection();
  if (collection == nullptr)
    return -1;
  for (int i = 0; i < collection->Count(); ++i)
    rows_.emplace(collection->Items(i), i);
  found = rows_.find(record);
  return found != rows_.end() ? found->second : -1;
}

QModelIndex TPropertyTreeModel::IndexOf(const TMSGProperty* record) const {
  if (record == nullptr || root_ == nullptr)
    return {};
  const int row = RowOf(record);
  if (row < 0 || (IsTopLevel(*record) && row >= kMaxTopLevelRecords))
    return {};
  // Only records of the shown tree have an index.
  for (const TMSGProperty* up = record; !IsTopLevel(*up);) {
    up = up->Collection() != nullptr ? up->Collection()->ParentProperty : nullptr;
    if (up == nullptr)
      return {};
  }
  return createIndex(row, 0, const_cast<TMSGProperty*>(record));
}

QModelIndex TPropertyTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (root_ == nullptr || column != 0 || row < 0 || row >= rowCount(parent))
    return {};
  const TMSGProperties& level = parent.isValid() ? Record(parent)->SubProperties() : *root_;
  return createIndex(row, 0, level.Items(row));
}

QModelIndex TPropertyTreeModel::parent(const QModelIndex& child) const {
  const TMSGProperty* record = Record(child);
  if (record == nullptr || IsTopLevel(*record))
    return {};
  const TMSGProperty* up = record->Collection()->ParentProperty;
  if (up == nullptr)
    return {};
  return createIndex(RowOf(up), 0, const_cast<TMSGProperty*>(up));
}

int TPropertyTreeModel::rowCount(const QModelIndex& parent) const {
  if (root_ == nullptr)
    return 0;
  if (!parent.isValid())
    return std::min(root_->Count(), kMaxTopLevelRecords);
  return Record(parent)->SubProperties().Count();
}

int TPropertyTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

bool TPropertyTreeModel::hasChildren(const QModelIndex& parent) const {
  return rowCount(parent) > 0;
}

TPropertyTreeModel::TNodeLook TPropertyTreeModel::Look(const TMSGProperty& record) const {
  switch (record.Category()) {
  case mpcAttachment:
    if (record.TagID == TAG_ATTACH_DATA_OBJ)
      return {record.GetName(false, true), 0};
    return {"Attachment", 4};
  case mpcRecipient:
    return {"Recipient", 2};
  case mpcEnvelope:
  case mpcTransportEnvelope:
    return {{}, 0};
  case mpcAddressBook:
    return {{}, 7};
  case mpcNonTransmittable:
  case mpcUserNonTransmittable:
    return {{}, 8};
  case mpcMessage:
  case mpcMessageStore:
    return {{}, 9};
  case mpcUserProperty:
  case mpcUser:
    return {{}, 10};
  case mpcStatus:
    return {{}, 11};
  case mpcTransportRecipient:
    return {{}, 2};
  default:
    return {{}, -1};
  }
}

namespace {

// A record named neither by its category nor by the dictionary shows its tag.
std::string LeafName(const TMSGProperty& record) {
  // Named properties by the file's map, as the Name field shows them.
  std::string name = PropertyDisplayName(record, false);
  if (name.empty()) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", record.TagID);
    name = text;
  }
  return name;
}

bool UsesLeafRules(const std::string& name, const TMSGProperty& record) {
  return name.empty() || record.SubProperties().Count() == 0;
}

} // namespace

QString TPropertyTreeModel::NodeName(const TMSGProperty& record) const {
  TNodeLook look = Look(record);
  if (UsesLeafRules(look.name, record))
    look.name = LeafName(record);
  return QString::fromStdString(look.name);
}

int TPropertyTreeModel::NodeIcon(const TMSGProperty& record) const {
  auto found = icons_.find(&record);
  if (found != icons_.end())
    return found->second;
  TNodeLook look = Look(record);
  if (UsesLeafRules(look.name, record) && !IsTopLevel(record)) {
    // Records inside an envelope, recipient or attachment node take that node's inner icon.
    const TMSGProperty* up = record.Collection()->ParentProperty;
    const int upIcon = up != nullptr ? NodeIcon(*up) : -1;
    if (upIcon == 0 || upIcon == 2 || upIcon == 4)
      look.icon = upIcon + 1;
  }
  if (record.TagID == 0)
    look.icon = 6;
  icons_.emplace(&record, look.icon);
  return look.icon;
}

QVariant TPropertyTreeModel::data(const QModelIndex& index, int role) const {
  const TMSGProperty* record = Record(index);
  if (record == nullptr)
    return {};
  switch (role) {
  case Qt::DisplayRole:
    return NodeName(*record);
  case Qt::DecorationRole: {
    const int icon = NodeIcon(*record);
    if (icon < 0)
      return {};
    return Icons()[static_cast<size_t>(icon)];
  }
  default:
    return {};
  }
}

} // namespace orlendo
