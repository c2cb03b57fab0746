// Save As and Save attachments: which writer a chosen name selects, the filter's type-change
// rule, the confirmation, and the attachment selection with its ticks and safe file names.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"
#include "model/stream.h"
#include "shell/command_line.h"
#include "shell/window/att_select.h"
#include "shell/window/save_as.h"

namespace orlendo {
namespace {

std::string Corpus(const std::string& name) {
  return std::string(ORLENDO_CORPUS_DIR) + "/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<TQvMessage> Load(const std::string& path) {
  auto message = CreateMessageForFile(path);
  message->LoadFromFile(path);
  return message;
}

struct Answers {
  QString file, folder;
  int filterChangeIndex = -1;
  QString filterChangeName, filterChangeResult, selectedFilter;
  QStringList info, errors;
  int folderQuestions = 0;
  Answers() {
    FileDialogs().SaveFileName = [this](QWidget*, const QString&, const QString&, const QString&,
                                        QString* selected,
                                        const std::function<QString(int, const QString&)>& change) {
      if (change && filterChangeIndex >= 0)
        filterChangeResult = change(filterChangeIndex, filterChangeName);
      if (selected != nullptr && !selectedFilter.isEmpty())
        *selected = selectedFilter;
      return file;
    };
    FileDialogs().SelectFolder = [this](QWidget*, const QString&, const QString&) {
      ++folderQuestions;
      return folder;
    };
    FileDialogs().Information = [this](QWidget*, const QString& t) { info << t; };
    FileDialogs().Error = [this](QWidget*, const QString& t) { errors << t; };
  }
  ~Answers() { FileDialogs() = StandardFileDialogs(); }
};

TEST(SaveAs, TheTypedExtensionChoosesTheWriter) {
  auto message = Load(Corpus("msg/mrdr_EmailWithAttachments.msg"));
  const std::string dir = testing::TempDir() + "save_as/";
  std::filesystem::create_directories(dir);
  struct Case {
    const char* name;
    const char* filter;
    const char* writtenAs; // the file that appears
    const char* starts;    // how the written file begins
  };
  const Case cases[] = {
      {"a.html", "Text files (*.txt)", "a.html", "<"},
      {"b.xml", "Text files (*.txt)", "b.xml", "<?xml"},
      {"c.msg", "All files (*)", "c.msg", "\xD0\xCF\x11\xE0"},
      {"d", "All files (*)", "d.txt", ""},
      {"e", "Mails (*.eml)", "e.eml", ""},
  };
  for (const Case& c : cases) {
    Answers answers;
    answers.file = QString::fromStdString(dir + c.name);
    answers.selectedFilter = c.filter;
    TSettings settings;
    ASSERT_TRUE(SaveMessageAs(nullptr, message.get(), settings, "/x/message.msg")) << c.name;
    const std::string written = ReadFile(dir + c.writtenAs);
    ASSERT_FALSE(written.empty()) << c.writtenAs;
    EXPECT_EQ(written.rfind(c.starts, 0), 0u) << c.writtenAs;
    ASSERT_EQ(answers.info.size(), 1);
    EXPECT_EQ(answers.info[0],
              QString::fromStdString(dir + c.writtenAs) + " file created succesfully.");
  }
  // The text writer and the EML writer differ.
  EXPECT_NE(ReadFile(dir + "d.txt"), ReadFile(dir + "e.eml"));

  Answers quiet;
  quiet.file = QString::fromStdString(dir + "quiet.txt");
  TSettings settings;
  settings.DisableDialogAfterSave = true;
  ASSERT_TRUE(SaveMessageAs(nullptr, message.get(), settings, "m.msg"));
  EXPECT_TRUE(quiet.info.isEmpty());
  EXPECT_FALSE(SaveMessageAs(nullptr, nullptr, settings, "m.msg"));
}

TEST(SaveAs, FilterChangeReplacesTheExtension) {
  const std::pair<int, const char*> cases[] = {{0, "/home/u/letter.txt"}, {1, "/home/u/letter.htm"},
                                               {2, "/home/u/letter.xml"}, {3, "/home/u/letter.eml"},
                                               {4, "/home/u/letter.msg"}, {5, ""}};
  auto message = Load(Corpus("msg/jotl_generated_base-message.msg"));
  for (auto [index, expected] : cases) {
    Answers answers; // cancelled: only the type change is looked at
    answers.filterChangeIndex = index;
    answers.filterChangeName = "/home/u/letter.msg";
    TSettings settings;
    EXPECT_FALSE(SaveMessageAs(nullptr, message.get(), settings, "x.msg"));
    EXPECT_EQ(answers.filterChangeResult, expected) << index;
  }
  EXPECT_EQ(ReplaceExtension("/a.b/name", ".txt"), "/a.b/name.txt");
  EXPECT_EQ(ReplaceExtension("/a/name.msg", ""), "/a/name");
}

TEST(SaveAttachments, TicksFilesOnlyAndWritesTheStoredBytes) {
  auto message = Load(Corpus("msg/mrdr_EmailWithInnerMailAndAttachments.msg"));
  TfrmMessage panel;
  panel.DisplayMessage(&message->Properties());
  TfrmAttachments dialog;
  dialog.CopyItems(*panel.lvAttachments);
  ASSERT_EQ(dialog.lvAttachments->topLevelItemCount(), 3);
  int ticked = 0;
  for (int i = 0; i < 3; ++i) {
    const bool isFile = panel.lvAttachments->item(i)->data(TfrmMessage::kImageRole).toInt() == 0;
    const bool checked = dialog.lvAttachments->topLevelItem(i)->checkState(0) == Qt::Checked;
    EXPECT_EQ(checked, isFile) << i;
    ticked += checked;
  }
  dialog.miSelectAllClick(2);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(dialog.lvAttachments->topLevelItem(i)->checkState(0) == Qt::Checked,
              panel.lvAttachments->item(i)->data(TfrmMessage::kImageRole).toInt() != 0);
  dialog.miSelectAllClick(1);
  dialog.miSelectAllClick(0);

  const std::string folder = testing::TempDir() + "save_attachments";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  Answers answers;
  answers.folder = QString::fromStdString(folder);
  // Everything ticked: the embedded message is still skipped.
  EXPECT_EQ(dialog.SaveChecked(message->Properties(), "/start/"), ticked);
  EXPECT_EQ(answers.folderQuestions, 1);
  for (int i = 0; i < 3; ++i) {
    if (panel.lvAttachments->item(i)->data(TfrmMessage::kImageRole).toInt() != 0)
      continue;
    TMemoryStream stored;
    message->Properties().SaveAttachmentToStream(i, stored);
    const std::string name = dialog.lvAttachments->topLevelItem(i)->text(1).toStdString();
    EXPECT_EQ(ReadFile(folder + "/" + name), stored.Data()) << name;
  }
}

TEST(SaveAttachments, OnlyAnEmbeddedMessageAsksNothingAndHostileNamesStayInside) {
  TQvMessage message;
  auto addFile = [&](const std::u16string& name, const std::string& data) {
    TMSGProperty* node = message.Properties().Add();
    node->TagID = TAG_ATTACHMENT_NODE;
    node->Value = TVariant::FromBytes("__attach_version1.0_#0000000" +
                                      std::to_string(message.Properties().Count() - 1));
    node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(name));
    node->SubProperties().AddProperty(0x37010102, TVariant::FromBytes(data))->DataSize =
        static_cast<int32_t>(data.size());
  };
  addFile(u"../../x", "first");
  addFile(u"..", "second");
  addFile(u"C:\\Windows\\evil.bat", "third");
  TfrmMessage panel;
  panel.DisplayMessage(&message.Properties());
  TfrmAttachments dialog;
  dialog.CopyItems(*panel.lvAttachments);
  const std::string root = testing::TempDir() + "hostile_names";
  std::filesystem::remove_all(root);
  const std::string folder = root + "/inside/deeper";
  std::filesystem::create_directories(folder);
  Answers answers;
  answers.folder = QString::fromStdString(folder);
  EXPECT_EQ(dialog.SaveChecked(message.Properties(), "/"), 3);
  EXPECT_EQ(ReadFile(folder + "/x"), "first");
  EXPECT_EQ(ReadFile(folder + "/attachment"), "second");
  EXPECT_EQ(ReadFile(folder + "/evil.bat"), "third");
  EXPECT_FALSE(std::filesystem::exists(root + "/x"));
  EXPECT_FALSE(std::filesystem::exists(root + "/inside/x"));

  // A message whose only attachment is an embedded message: nothing ticked, nothing asked.
  auto embedded = Load(Corpus("msg/poi_58214_with_attachment.msg"));
  TfrmMessage other;
  other.DisplayMessage(&embedded->Properties());
  TfrmAttachments onlyMessage;
  onlyMessage.CopyItems(*other.lvAttachments);
  ASSERT_EQ(onlyMessage.lvAttachments->topLevelItemCount(), 1);
  EXPECT_EQ(onlyMessage.lvAttachments->topLevelItem(0)->checkState(0), Qt::Unchecked);
  onlyMessage.miSelectAllClick(0);
  Answers none;
  EXPECT_EQ(onlyMessage.SaveChecked(embedded->Properties(), "/"), 0);
  EXPECT_EQ(none.folderQuestions, 0);
}

} // namespace
} // namespace orlendo
