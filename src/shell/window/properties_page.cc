#include "shell/window/properties_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "components/display_limits.h"
#include "components/hex_dump.h"
#include "model/named_properties.h"
#include "model/qvmsgtags.h"
#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "shell/window/property_tree_model.h"

namespace orlendo {

std::string_view StoredValueBytes(const TMSGProperty& record, std::string& scratch) {
  scratch.clear();
  const TVariant& value = record.Value;
  if (value.IsEmptyOrNull())
    return {};
  // A GUID is held as its text; every other byte string is what the file stores.
  if (value.IsBytes() && PropType(record.TagID) != 0x0048)
    return value.Bytes();
  // Everything else is stored in the form the .msg writer gives it: that is the one definition
  // of each type's bytes, so the dump follows it; a string from the value itself (a subject of
  // megabytes is not copied into a stream and out again), any other through a scratch stream.
  if (const std::optional<std::string_view> text = StoredStringBytes(record, scratch))
    return *text;
  try {
    cfb::Storage storage = cfb::CreateMemory();
    cfb::Stream stream = storage.CreateStream(u"value");
    WriteValue(record, stream);
    scratch = stream.ReadAll();
  } catch (const std::exception&) {
    scratch.clear(); // a value with no stored form (a malformed GUID text) shows no bytes
  }
  return scratch;
}

TPropertiesPage::TPropertiesPage(QWidget* parent)
    : QWidget(parent), model_(new TPropertyTreeModel(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  splitter_ = new QSplitter(Qt::Horizontal, this);
  layout->addWidget(splitter_);

  tvProperties = new QTreeView(splitter_);
  tvProperties->setObjectName(QStringLiteral("tvProperties"));
  tvProperties->setHeaderHidden(true);
  tvProperties->setUniformRowHeights(true);
  tvProperties->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvProperties->setModel(model_);
  // Long names scroll rather than being cut; only the rows in view are measured.
  tvProperties->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tvProperties->header()->setStretchLastSection(false);
  tvProperties->setMinimumWidth(220);
  connect(tvProperties->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { tvPropertiesChange(current); });

  gbPropInfo = new QGroupBox(QStringLiteral(" Property Information "), splitter_);
  gbPropInfo->setObjectName(QStringLiteral("gbPropInfo"));
  auto* info = new QVBoxLayout(gbPropInfo);
  auto* form = new QFormLayout;
  cbPropCategory = new QComboBox(gbPropInfo);
  cbPropCategory->setObjectName(QStringLiteral("cbPropCategory"));
  for (const char* name : CategoryNames())
    cbPropCategory->addItem(QString::fromLatin1(name));
  cbPropCategory->setEnabled(false);
  edPropID = new QLineEdit(gbPropInfo);
  edPropID->setObjectName(QStringLiteral("edPropID"));
  edPropID->setReadOnly(true);
  edPropSize = new QLineEdit(gbPropInfo);
  edPropSize->setObjectName(QStringLiteral("edPropSize"));
  edPropSize->setReadOnly(true);
  edPropName = new QLineEdit(gbPropInfo);
  edPropName->setObjectName(QStringLiteral("edPropName"));
  edPropName->setReadOnly(true);
  cbPropType = new QComboBox(gbPropInfo);
  cbPropType->setObjectName(QStringLiteral("cbPropType"));
  for (const TPropertyTypeName& type : PropertyTypeNames())
    cbPropType->addItem(QString::fromLatin1(type.Text));
  cbPropType->setEnabled(false);
  // The longest type text would otherwise set the least width of the page, and with it of the
  // whole window: the combos take the width the page gives them.
  for (QComboBox* combo : {cbPropCategory, cbPropType}) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(12);
  }
  // Named labels, so that a language file can reach them.
  auto label = [this](const char* name, const char* caption) {
    auto* l = new QLabel(QLatin1String(caption), gbPropInfo);
    l->setObjectName(QLatin1String(name));
    return l;
  };
  auto* idRow = new QHBoxLayout;
  idRow->addWidget(edPropID);
  idRow->addWidget(label("lblPropSize", "Size:"));
  idRow->addWidget(edPropSize);
  form->addRow(label("lblPropCategory", "Category:"), cbPropCategory);
  form->addRow(label("lblPropID", "ID:"), idRow);
  form->addRow(label("lblPropName", "Name:"), edPropName);
  form->addRow(label("lblPropType", "Type:"), cbPropType);
  info->addLayout(form);

  pcPropValue = new QTabWidget(gbPropInfo);
  pcPropValue->setObjectName(QStringLiteral("pcPropValue"));
  rePropValue = new QPlainTextEdit;
  rePropValue->setObjectName(QStringLiteral("rePropValue"));
  rePropValue->setReadOnly(true);
  rePropValue->setLineWrapMode(QPlainTextEdit::NoWrap);
  rePropValue->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  rePropValue->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pcPropValue->addTab(rePropValue, QStringLiteral("Value"));
  auto* hexPage = new QWidget;
  hexPage->setObjectName(QStringLiteral("tsPropHex"));
  hexDump_ = THexDump::CreateHexDump(hexPage);
  hexDump_->setObjectName(QStringLiteral("hdPropValue"));
  hexDump_->SetRelativeAddress(true);
  pcPropValue->addTab(hexPage, QStringLiteral("Value (as Hex)"));
  info->addWidget(pcPropValue, 1);

  splitter_->setStretchFactor(0, 2);
  splitter_->setStretchFactor(1, 3);
  gbPropInfo->hide();
}

TPropertiesPage::~TPropertiesPage() = default;

void TPropertiesPage::SetMessage(const TQvMessage* message) {
  ShowRecord(nullptr);
  gbPropInfo->hide();
  model_->SetRoot(message != nullptr ? &message->Properties() : nullptr);
}

void TPropertiesPage::Clear() {
  SetMessage(nullptr);
}

void TPropertiesPage::tvPropertiesChange(const QModelIndex& current) {
  gbPropInfo->setVisible(current.isValid());
  ShowRecord(TPropertyTreeModel::Record(current));
}

void TPropertiesPage::ShowRecord(const TMSGProperty* record) {
  // The dump lets go of the old bytes before they are replaced.
  hexDump_->SetDataPointer(nullptr);
  hexBytes_.clear();
  if (record == nullptr) {
    cbPropCategory->setCurrentIndex(-1);
    cbPropType->setCurrentIndex(-1);
    edPropID->clear();
    edPropName->clear();
    edPropSize->clear();
    rePropValue->clear();
    return;
  }
  cbPropCategory->setCurrentIndex(static_cast<int>(record->Category()));
  char id[16];
  std::snprintf(id, sizeof id, "0x%08X", record->TagID);
  edPropID->setText(QString::fromLatin1(id));
  edPropName->setText(QString::fromStdString(PropertyDisplayName(*record, true)));
  edPropSize->setText(QString::number(record->DataSize));
  cbPropType->setCurrentIndex(PropertyTypeIndex(PropType(record->TagID)));
  // A value of megabytes goes to the page as its first part, without a whole copy of it first.
  if (const std::optional<std::string_view> utf8 = record->Utf8ValueView())
    rePropValue->setPlainText(BoundedUtf8Text(*utf8, kValueChars));
  else if (record->Value.IsWide() && !record->Value.IsMulti())
    rePropValue->setPlainText(BoundedText(record->Value.Wide(), kValueChars));
  else
    rePropValue->setPlainText(BoundedText(record->GetValueText(), kValueChars));
  const std::string_view bytes = StoredValueBytes(*record, hexBytes_);
  if (!bytes.empty()) {
    hexDump_->SetDataPointer(bytes.data());
    hexDump_->SetDataLength(
        static_cast<int32_t>(std::min<size_t>(bytes.size(), static_cast<size_t>(INT32_MAX))));
  }
}

} // namespace orlendo
