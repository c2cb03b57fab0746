// The inspector pages on real messages: the property tree's names and icons, the details of a
// selected record with its stored bytes, the structure grid, and the flag list.
#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "components/hex_dump.h"
#include "model/named_properties.h"
#include "msg/qvmsgfile.h"
#include "shell/window/flags_page.h"
#include "shell/window/header_page.h"
#include "shell/window/properties_page.h"
#include "shell/window/property_tree_model.h"
#include "shell/window/structure_page.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::CorpusPath;

std::unique_ptr<TQvMSGFile> Load(const std::string& corpusFile) {
  auto message = std::make_unique<TQvMSGFile>();
  message->LoadFromFile(CorpusPath(corpusFile));
  return message;
}

// The first index of the model, depth first, whose record satisfies match.
QModelIndex FindIndex(const QAbstractItemModel& model,
                      const std::function<bool(const TMSGProperty&)>& match,
                      const QModelIndex& parent = {}) {
  for (int row = 0; row < model.rowCount(parent); ++row) {
    const QModelIndex index = model.index(row, 0, parent);
    if (match(*TPropertyTreeModel::Record(index)))
      return index;
    const QModelIndex below = FindIndex(model, match, index);
    if (below.isValid())
      return below;
  }
  return {};
}

bool IsLeaf(const TMSGProperty& r) {
  return r.SubProperties().Count() == 0;
}
bool ParentTag(const TMSGProperty& r, uint32_t tag) {
  const TMSGProperty* up = r.Collection()->ParentProperty;
  return up != nullptr && up->TagID == tag;
}

TEST(PropertyTree, NamesAndIconsOfAMessageWithRecipientsAttachmentsAndAnEmbeddedMessage) {
  auto message = Load("msg/mprs_test_email.msg");
  TPropertyTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetRoot(&message->Properties());
  ASSERT_EQ(model.rowCount(), message->Properties().Count());

  struct Case {
    const char* what;
    std::function<bool(const TMSGProperty&)> match;
    std::string name; // "" : the record's dictionary name
    int icon;
  } cases[] = {
      {"recipient node", [](auto& r) { return r.TagID == TAG_RECIPIENT_NODE; }, "Recipient", 2},
      {"leaf in a recipient",
       [](auto& r) { return IsLeaf(r) && r.TagID != 0 && ParentTag(r, TAG_RECIPIENT_NODE); }, "",
       3},
      {"attachment node", [](auto& r) { return r.TagID == TAG_ATTACHMENT_NODE; }, "Attachment", 4},
      {"file name in an attachment",
       [](auto& r) { return PropId(r.TagID) == 0x3707 && ParentTag(r, TAG_ATTACHMENT_NODE); },
       "ATTACH_LONG_FILENAME", 5},
      {"embedded message", [](auto& r) { return r.TagID == TAG_ATTACH_DATA_OBJ && !IsLeaf(r); },
       "ATTACH_DATA_OBJ", 0},
      {"subject of the embedded message",
       [](auto& r) { return PropId(r.TagID) == 0x0037 && ParentTag(r, TAG_ATTACH_DATA_OBJ); },
       "SUBJECT", 1},
      {"property stream", [](auto& r) { return r.TagID == 0 && !IsLeaf(r); },
       "__properties_version1.0", 6},
      {"named-property map", [](auto& r) { return r.TagID == TAG_NAMEID_NODE; },
       "__nameid_version1.0", 0},
      {"subject", [](auto& r) { return PropId(r.TagID) == 0x0037 && r.Collection()->IsRoot(); },
       "SUBJECT", 0},
      {"body", [](auto& r) { return PropId(r.TagID) == 0x1000 && r.Collection()->IsRoot(); },
       "BODY", 9},
      {"non-transmittable",
       [](auto& r) { return PropId(r.TagID) == 0x0E1D && r.Collection()->IsRoot(); },
       "NORMALIZED_SUBJECT", 8},
      {"named property",
       [](auto& r) { return PropId(r.TagID) >= 0x8000 && r.Collection()->IsRoot(); }, "", 10},
      {"status", [](auto& r) { return PropId(r.TagID) == 0x3FFA && r.Collection()->IsRoot(); },
       "LAST_MODIFIER_NAME", 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QModelIndex index = FindIndex(model, c.match);
    ASSERT_TRUE(index.isValid());
    const TMSGProperty& record = *TPropertyTreeModel::Record(index);
    // Named properties by the file's map, as the Name field shows them.
    std::string expected = c.name.empty() ? PropertyDisplayName(record, false) : c.name;
    if (expected.empty()) {
      char tag[16];
      std::snprintf(tag, sizeof tag, "0x%08X", record.TagID);
      expected = tag;
    }
    EXPECT_EQ(index.data().toString().toStdString(), expected);
    EXPECT_EQ(model.NodeIcon(record), c.icon);
    EXPECT_FALSE(index.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(model.IndexOf(&record), index);
  }
}

TEST(PropertyTree, UnnamedRecordsShowTheirTagAndAtMost1002TopLevelRecordsShow) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  for (int i = 0; i < 1500; ++i)
    root.AddProperty(0x7F000003u + (static_cast<uint32_t>(i) << 16 & 0x00FF0000),
                     TVariant::FromInteger(i));
  TPropertyTreeModel model;
  model.SetRoot(&root);
  EXPECT_EQ(model.rowCount(), TPropertyTreeModel::kMaxTopLevelRecords);
  EXPECT_EQ(TPropertyTreeModel::Record(model.index(1001, 0)), root.Items(1001));
  EXPECT_FALSE(model.index(1002, 0).isValid());
  EXPECT_FALSE(model.IndexOf(root.Items(1002)).isValid());
  // No dictionary row and a category without an icon.
  EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("0x7F000003"));
  EXPECT_TRUE(model.index(0, 0).data(Qt::DecorationRole).isNull());
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string ShownBytes(const THexDump& dump) {
  if (dump.DataPointer() == nullptr)
    return {};
  return std::string(reinterpret_cast<const char*>(dump.DataPointer()),
                     static_cast<size_t>(dump.DataLength()));
}

TEST(PropertiesPage, SelectingARecordShowsItsDetailsAndItsStoredBytes) {
  struct Case {
    const char* file;
    uint16_t type;
    int typeItem;
    std::function<std::string(const TMSGProperty&)> bytes;
  } cases[] = {
      {"msg/mprs_test_email.msg", 0x000B, 10,
       [](auto& r) {
         return std::string{r.Value.AsBoolean() ? '\1' : '\0', '\0'};
       }},
      {"msg/mprs_test_email.msg", 0x0003, 4,
       [](auto& r) {
         const auto v = static_cast<uint32_t>(r.Value.AsInteger());
         return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
       }},
      {"msg/poi_attachment_msg_pdf.msg", 0x0102, 17, [](auto& r) { return r.Value.Bytes(); }},
      {"msg/mprs_test_email.msg", 0x001F, 14, [](auto& r) { return Utf16Le(r.Value.Wide()); }},
      {"msg/mprs_test_email.msg", 0x101F, -1, [](auto& r) { return *r.Value.Multi().Stored; }},
  };
  TPropertiesPage page;
  page.resize(900, 600);
  auto* tree = page.PropertyTree();
  auto* info = page.findChild<QWidget*>(QStringLiteral("gbPropInfo"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file << " type " << std::hex << c.type);
    auto message = Load(c.file);
    page.SetMessage(message.get());
    EXPECT_TRUE(info->isHidden());
    const QModelIndex index = FindIndex(*page.PropertyModel(), [&](const TMSGProperty& r) {
      return PropType(r.TagID) == c.type && r.DataSize > 0;
    });
    ASSERT_TRUE(index.isValid());
    const TMSGProperty& record = *TPropertyTreeModel::Record(index);
    tree->setCurrentIndex(index);
    EXPECT_FALSE(info->isHidden());
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", record.TagID);
    EXPECT_EQ(page.findChild<QLineEdit*>("edPropID")->text().toStdString(), id);
    EXPECT_EQ(page.findChild<QLineEdit*>("edPropSize")->text().toInt(), record.DataSize);
    EXPECT_EQ(page.findChild<QLineEdit*>("edPropName")->text().toStdString(),
              PropertyDisplayName(record, true));
    EXPECT_EQ(page.findChild<QComboBox*>("cbPropCategory")->currentIndex(),
              static_cast<int>(record.Category()));
    EXPECT_EQ(page.findChild<QComboBox*>("cbPropType")->currentIndex(), c.typeItem);
    const QString text = page.findChild<QPlainTextEdit*>("rePropValue")->toPlainText();
    if (c.type == 0x000B) {
      EXPECT_EQ(text, record.Value.AsBoolean() ? "True" : "False");
    } else {
      // A multi-valued record's text has one value per CR LF line; the edit box gives its
      // lines back separated by LF alone.
      QString expected = QString::fromStdU16String(record.GetValueText());
      expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      EXPECT_EQ(text, expected);
    }
    const std::string shown = ShownBytes(*page.HexDump());
    EXPECT_EQ(shown, c.bytes(record));
    if (c.type == 0x0102) { // the bytes themselves, not the UTF-16 of their text
      EXPECT_NE(shown, Utf16Le(record.GetValueText()));
    }
    EXPECT_TRUE(page.HexDump()->RelativeAddress());
    page.Clear();
    EXPECT_EQ(page.HexDump()->DataPointer(), nullptr);
    EXPECT_EQ(page.PropertyModel()->rowCount(), 0);
  }
}

TEST(PropertiesPage, ABooleanIsTrueOrFalseAndANodeWithoutRecordEmptiesTheDetails) {
  TQvMessage message;
  message.Properties().AddProperty(0x0E1B000B, TVariant::FromBoolean(false));
  message.Properties().AddProperty(0x0E1F000B, TVariant::FromBoolean(true));
  TPropertiesPage page;
  page.SetMessage(&message);
  auto* value = page.findChild<QPlainTextEdit*>("rePropValue");
  page.PropertyTree()->setCurrentIndex(page.PropertyModel()->index(0, 0));
  EXPECT_EQ(value->toPlainText(), "False");
  EXPECT_EQ(page.findChild<QLineEdit*>("edPropName")->text(), "HASATTACH (Has Attach)");
  page.PropertyTree()->setCurrentIndex(page.PropertyModel()->index(1, 0));
  EXPECT_EQ(value->toPlainText(), "True");
  EXPECT_EQ(ShownBytes(*page.HexDump()), std::string("\1\0", 2));
  page.PropertyTree()->setCurrentIndex(QModelIndex());
  EXPECT_TRUE(page.findChild<QWidget*>("gbPropInfo")->isHidden());
  EXPECT_TRUE(value->toPlainText().isEmpty());
  EXPECT_EQ(page.HexDump()->DataPointer(), nullptr);
}

int CountItems(const QTreeWidgetItem* item) {
  int n = 1;
  for (int i = 0; i < item->childCount(); ++i)
    n += CountItems(item->child(i));
  return n;
}
int CountElements(const cfb::Storage& storage) {
  int n = 0;
  for (const cfb::EntryStat& e : storage.Children()) {
    ++n;
    if (e.kind == cfb::EntryKind::Storage)
      n += CountElements(storage.OpenStorage(e.name));
  }
  return n;
}

TEST(StructurePage, TheTreeHoldsEveryElementAndTheGridShowsTheSelectedOne) {
  TStructurePage page;
  for (const char* file :
       {"eml/mimekit_startrek.eml", "msg/mprs_bad_outlook.msg", "msg/oxmsg_not-a-MSG-file.msg"}) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(page.Build(CorpusPath(file)));
    EXPECT_EQ(page.StructureTree()->topLevelItemCount(), 0);
  }
  QTableWidget* grid = page.StatisticsGrid();
  ASSERT_EQ(grid->rowCount(), 12);
  EXPECT_EQ(grid->item(1, 0)->text(), "Name");
  EXPECT_EQ(grid->item(11, 0)->text(), "Reserved");
  for (const char* file : {"msg/poi_attachment_msg_pdf.msg", "msg/kmr_longerFat.msg"}) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(page.Build(CorpusPath(file)));
    const cfb::Storage root = cfb::OpenFile(CorpusPath(file));
    QTreeWidget* tree = page.StructureTree();
    int items = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      items += CountItems(tree->topLevelItem(i));
    EXPECT_EQ(items, CountElements(root));
    // The first element is selected and shown.
    const cfb::EntryStat first = root.Children().front();
    ASSERT_EQ(tree->currentItem(), tree->topLevelItem(0));
    EXPECT_EQ(grid->item(1, 1)->text().toStdU16String(), first.name);
    // Every kind of row on a stream and on a storage.
    for (cfb::EntryKind kind : {cfb::EntryKind::Stream, cfb::EntryKind::Storage}) {
      const std::vector<cfb::EntryStat> children = root.Children();
      const auto element = std::find_if(children.begin(), children.end(),
                                        [&](const cfb::EntryStat& e) { return e.kind == kind; });
      ASSERT_NE(element, children.end());
      const int row = static_cast<int>(element - children.begin());
      tree->setCurrentItem(tree->topLevelItem(row));
      EXPECT_EQ(grid->item(1, 1)->text().toStdU16String(), element->name);
      EXPECT_EQ(grid->item(2, 1)->text(), kind == cfb::EntryKind::Stream ? "stream" : "storage");
      EXPECT_EQ(grid->item(3, 1)->text().toULongLong(), element->size);
      EXPECT_EQ(grid->item(4, 1)->text().isEmpty(), element->modificationTime == 0);
      EXPECT_TRUE(grid->item(6, 1)->text().isEmpty()); // the format keeps no access time
      EXPECT_TRUE(QRegularExpression("^\\{[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}\\}$")
                      .match(grid->item(9, 1)->text())
                      .hasMatch());
      EXPECT_EQ(grid->item(10, 1)->text().toUInt(), element->stateBits);
    }
  }
  page.Clear();
  EXPECT_EQ(page.StructureTree()->topLevelItemCount(), 0);
  EXPECT_TRUE(grid->item(1, 1)->text().isEmpty());
}

TEST(FlagsPage, RowsShowTheFlagBitsAndClicksDoNotChangeThem) {
  TQvMessage message;
  TFlagsPage page;
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  QTableWidget* list = page.FlagList();
  ASSERT_EQ(list->rowCount(), 13);
  EXPECT_EQ(list->item(12, 0)->text(), "MSGFLAG_ORIGIN_MISC_EXT");
  auto checked = [&] {
    std::vector<int> rows;
    for (int row = 0; row < 13; ++row) {
      if (list->item(row, 0)->checkState() == Qt::Checked)
        rows.push_back(row);
    }
    return rows;
  };
  page.Fill(&message.Properties());
  EXPECT_TRUE(checked().empty()); // no message-flags property
  // Found anywhere in the tree, here inside a property stream.
  TMSGProperty* stream = message.Properties().Add();
  stream->SubProperties().AddProperty(0x0E070003,
                                      TVariant::FromInteger(0x2000 | 0x0010 | 0x0001 | 0x8000));
  page.Fill(&message.Properties());
  EXPECT_EQ(checked(), (std::vector<int>{0, 4, 11, 12}));
  for (int row : {0, 1}) {
    const QRect cell = list->visualItemRect(list->item(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      cell.topLeft() + QPoint(8, cell.height() / 2));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       cell.topLeft() + QPoint(8, cell.height() / 2));
    QTest::keyClick(list, Qt::Key_Space);
  }
  EXPECT_EQ(checked(), (std::vector<int>{0, 4, 11, 12}));
  page.Clear();
  EXPECT_TRUE(checked().empty());

  // A corpus message: every row follows its bit.
  auto read = Load("msg/mprs_ascii.msg");
  const TMSGProperty* flags = read->Properties().FindProperty(0x0E070003, false, true);
  ASSERT_NE(flags, nullptr);
  page.Fill(&read->Properties());
  for (int row = 0; row < 13; ++row)
    EXPECT_EQ(list->item(row, 0)->checkState() == Qt::Checked,
              (flags->Value.ToInt64() & TFlagsPage::kRows[row].Bit) != 0);
}

TEST(HeaderPage, ShowsTheTransportHeadersOrNothing) {
  THeaderPage page;
  auto message = Load("msg/mprs_ascii.msg");
  page.Fill(&message->Properties());
  const QString text = page.HeaderText()->toPlainText();
  EXPECT_TRUE(text.contains(QStringLiteral("Message-ID: <c58b1b52f61f4789ba40339c6e993440>")))
      << text.left(200).toStdString();
  auto blank = Load("msg/poi_blank.msg");
  page.Fill(&blank->Properties());
  EXPECT_TRUE(page.HeaderText()->toPlainText().isEmpty());
}

} // namespace
} // namespace orlendo
