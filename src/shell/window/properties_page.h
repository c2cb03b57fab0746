// The Properties page: the whole property tree of the open message, and the details of the
// selected record (category, tag, name, size, type, the value as text and its stored bytes).
#pragma once

#include <QWidget>
#include <string>

#include "model/qvmsg.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTreeView;

namespace orlendo {

class THexDump;
class TPropertyTreeModel;

class TPropertiesPage : public QWidget {
  Q_OBJECT

public:
  explicit TPropertiesPage(QWidget* parent = nullptr);
  ~TPropertiesPage() override;

  // Shows the tree of message (nullptr: nothing). The page refers to the message's records:
  // call Clear (or SetMessage with another message) before the message is destroyed.
  void SetMessage(const TQvMessage* message);
  void Clear();

  QTreeView* PropertyTree() const { return tvProperties; }
  TPropertyTreeModel* PropertyModel() const { return model_; }
  THexDump* HexDump() const { return hexDump_; }

private:
  void tvPropertiesChange(const QModelIndex& current);
  void ShowRecord(const TMSGProperty* record);

  TPropertyTreeModel* model_;
  QSplitter* splitter_;
  QTreeView* tvProperties;
  QGroupBox* gbPropInfo;
  QComboBox* cbPropCategory;
  QLineEdit* edPropID;
  QLineEdit* edPropSize;
  QLineEdit* edPropName;
  QComboBox* cbPropType;
  QTabWidget* pcPropValue;
  QPlainTextEdit* rePropValue;
  THexDump* hexDump_;
  // The bytes the hex dump shows when they are not the record's own value bytes; kept until the
  // next selection, since the dump does not copy them.
  std::string hexBytes_;
};

// The bytes a record's value is stored as: byte strings as they are, wide strings as UTF-16LE,
// numbers little-endian in their stored width, a GUID as its 16 bytes. Returns a pointer into
// the record's value when it holds the bytes itself, else into scratch, which it fills.
std::string_view StoredValueBytes(const TMSGProperty& record, std::string& scratch);

} // namespace orlendo
