// Save As and Save attachments: which writer a chosen name selects, the filter's type-change
// rule, the confirmation, and the attachment selection with its ticks and safe file names.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/attachment_files.h"
#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/msg_panel.h"
#include "components/pdf_renderer.h"
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
  TReplaceAnswer replace;
  QStringList replaceQuestions;
  Answers() {
    FileDialogs().AskReplace = [this](QWidget*, const QString& path) {
      replaceQuestions << path;
      return replace;
    };
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
  InstallPdfRenderer();
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
      {"f", "PDF (*.pdf)", "f.pdf", "%PDF-"},
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

// A calendar item saved as iCalendar is written; a mail asked for as iCalendar or vCard gets the
// error and leaves no file.
TEST(SaveAs, CalendarAndCardFormatsTakeOnlyTheirKinds) {
  const std::string dir = testing::TempDir() + "save_as_items/";
  std::filesystem::create_directories(dir);
  const struct {
    const char* message;
    const char* name;
    const char* filter;
    bool written;
  } cases[] = {
      {"msg/kmr_Appointment_sample_EST.msg", "event", "iCalendar (*.ics)", true},
      {"msg/poi_msgClassContact.msg", "card", "vCard (*.vcf)", true},
      {"msg/mrdr_EmailWithAttachments.msg", "mail", "iCalendar (*.ics)", false},
      {"msg/mrdr_EmailWithAttachments.msg", "mail", "vCard (*.vcf)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.message) + " " + c.filter);
    auto message = Load(Corpus(c.message));
    Answers answers;
    answers.file = QString::fromStdString(dir + c.name);
    answers.selectedFilter = c.filter;
    TSettings settings;
    EXPECT_EQ(SaveMessageAs(nullptr, message.get(), settings, "/x/message.msg"), c.written);
    const std::string path =
        dir + c.name + (std::string(c.filter).find("ics") != std::string::npos ? ".ics" : ".vcf");
    EXPECT_EQ(std::filesystem::exists(path), c.written);
    if (c.written)
      EXPECT_EQ(ReadFile(path).rfind("BEGIN:V", 0), 0u);
    else
      EXPECT_EQ(answers.errors.size(), 1);
  }
}

TEST(SaveAs, FilterChangeReplacesTheExtension) {
  const std::pair<int, const char*> cases[] = {
      {0, "/home/u/letter.txt"}, {1, "/home/u/letter.htm"}, {2, "/home/u/letter.xml"},
      {3, "/home/u/letter.eml"}, {4, "/home/u/letter.msg"}, {5, ""},
      {6, "/home/u/letter.ics"}, {7, "/home/u/letter.vcf"}, {8, "/home/u/letter.pdf"}};
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
  // Everything ticked: the embedded message is written too, as a .msg named after it.
  EXPECT_EQ(dialog.SaveChecked(message->Properties(), "/start/"), 3);
  EXPECT_EQ(answers.folderQuestions, 1);
  for (int i = 0; i < 3; ++i) {
    if (panel.lvAttachments->item(i)->data(TfrmMessage::kImageRole).toInt() != 0) {
      const std::string caption = panel.lvAttachments->item(i)->text().toStdString();
      auto saved = Load(folder + "/" + EmbeddedMessageFileName(caption));
      EXPECT_FALSE(saved->Properties().GetSubject().empty()) << caption;
      continue;
    }
    TMemoryStream stored;
    message->Properties().SaveAttachmentToStream(i, stored);
    const std::string name = dialog.lvAttachments->topLevelItem(i)->text(1).toStdString();
    EXPECT_EQ(ReadFile(folder + "/" + name), stored.Data()) << name;
  }
}

TEST(SaveAttachments, NamesStayDistinctAndExistingFilesAreAskedFor) {
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
  addFile(u"a.txt", "first");
  addFile(u"a.txt", "second");
  addFile(u"b.txt", "third");
  addFile(u"c.txt", "fourth");
  TfrmMessage panel;
  panel.DisplayMessage(&message.Properties());
  TfrmAttachments dialog;
  dialog.CopyItems(*panel.lvAttachments);
  const std::string folder = testing::TempDir() + "distinct_names";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/b.txt") << "old b";
  std::ofstream(folder + "/c.txt") << "old c";

  Answers skip;
  skip.folder = QString::fromStdString(folder);
  skip.replace = {TReplaceAnswer::Skip, false};
  EXPECT_EQ(dialog.SaveChecked(message.Properties(), "/"), 2);
  EXPECT_EQ(ReadFile(folder + "/a.txt"), "first");
  EXPECT_EQ(ReadFile(folder + "/a (2).txt"), "second"); // the second of one name
  EXPECT_EQ(ReadFile(folder + "/b.txt"), "old b");      // skipped: the old file stays
  EXPECT_EQ(ReadFile(folder + "/c.txt"), "old c");
  EXPECT_EQ(skip.replaceQuestions.size(), 2); // b.txt and c.txt, each asked

  Answers keep;
  keep.folder = QString::fromStdString(folder);
  keep.replace = {TReplaceAnswer::KeepBoth, true};
  EXPECT_EQ(dialog.SaveChecked(message.Properties(), "/"), 4);
  EXPECT_EQ(keep.replaceQuestions.size(), 1); // "for all": asked once
  EXPECT_EQ(ReadFile(folder + "/b.txt"), "old b");
  EXPECT_EQ(ReadFile(folder + "/b (2).txt"), "third");
  EXPECT_EQ(ReadFile(folder + "/c (2).txt"), "fourth");
  EXPECT_EQ(ReadFile(folder + "/a.txt"), "first");

  Answers replace;
  replace.folder = QString::fromStdString(folder);
  replace.replace = {TReplaceAnswer::Replace, true};
  std::ofstream(folder + "/a.txt") << "old a";
  EXPECT_EQ(dialog.SaveChecked(message.Properties(), "/"), 4);
  EXPECT_EQ(replace.replaceQuestions.size(), 1);
  EXPECT_EQ(ReadFile(folder + "/a.txt"), "first");
  EXPECT_EQ(ReadFile(folder + "/b.txt"), "third");
  EXPECT_EQ(ReadFile(folder + "/c.txt"), "fourth");
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

  // A message whose only attachment is an embedded message: nothing ticked at first; ticked, it
  // is written.
  auto embedded = Load(Corpus("msg/poi_58214_with_attachment.msg"));
  TfrmMessage other;
  other.DisplayMessage(&embedded->Properties());
  TfrmAttachments onlyMessage;
  onlyMessage.CopyItems(*other.lvAttachments);
  ASSERT_EQ(onlyMessage.lvAttachments->topLevelItemCount(), 1);
  EXPECT_EQ(onlyMessage.lvAttachments->topLevelItem(0)->checkState(0), Qt::Unchecked);
  Answers none;
  EXPECT_EQ(onlyMessage.SaveChecked(embedded->Properties(), "/"), 0);
  EXPECT_EQ(none.folderQuestions, 0);
  onlyMessage.miSelectAllClick(0);
  none.folder = QString::fromStdString(folder);
  EXPECT_EQ(onlyMessage.SaveChecked(embedded->Properties(), "/"), 1);
  const std::string caption = onlyMessage.lvAttachments->topLevelItem(0)->text(0).toStdString();
  EXPECT_TRUE(std::filesystem::exists(folder + "/" + EmbeddedMessageFileName(caption)));
}

} // namespace
} // namespace orlendo
