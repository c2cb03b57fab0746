// The property tree of one message as a Qt item model. Nodes are the records themselves: the
// model keeps no copy of the tree and computes names and icons when a view asks for them, so a
// message of any size opens at once and only what is expanded is ever looked at.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <unordered_map>

#include "model/qvmsg.h"

namespace orlendo {

class TPropertyTreeModel : public QAbstractItemModel {
  Q_OBJECT

public:
  // The message's top-level records beyond this many are not shown.
  static constexpr int kMaxTopLevelRecords = 1002;
  // The node icon indexes: envelope, inside an envelope, recipient, inside a recipient,
  // attachment, inside an attachment, property stream, address book, non-transmittable,
  // message, user property, status.
  static constexpr int kIconCount = 12;

  explicit TPropertyTreeModel(QObject* parent = nullptr);

  // Shows the tree of root (nullptr: nothing). The records must outlive their showing: set
  // another root (or none) before the message is destroyed.
  void SetRoot(const TMSGProperties* root);
  const TMSGProperties* Root() const { return root_; }

  // The record of an index (nullptr for the invisible root or an invalid index).
  static const TMSGProperty* Record(const QModelIndex& index);
  QModelIndex IndexOf(const TMSGProperty* record) const;

  // The node text and icon index (-1: none) of a record, as the tree shows them.
  QString NodeName(const TMSGProperty& record) const;
  int NodeIcon(const TMSGProperty& record) const;

  // The property icons, shared by every model.
  static const std::array<QIcon, kIconCount>& Icons();

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
  // The category's part of the node text and icon, before the leaf rules.
  struct TNodeLook {
    std::string name;
    int icon = -1;
  };
  TNodeLook Look(const TMSGProperty& record) const;
  int RowOf(const TMSGProperty* record) const;
  bool IsTopLevel(const TMSGProperty& record) const;

  const TMSGProperties* root_ = nullptr;
  // Rows of records, filled a whole collection at a time, because a collection finds the index
  // of a record only by a scan.
  mutable std::unordered_map<const TMSGProperty*, int> rows_;
  mutable std::unordered_map<const TMSGProperty*, int> icons_;
};

} // namespace orlendo
