#include "shell/window/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>

#include "app/message_strings.h"
#include "app/program_version.h"
#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/interface_locale.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"
#include "model/qvmsgcnst.h"
#include "model/stream.h"
#include "shell/command_line.h"
#include "shell/file_association.h"
#include "shell/window/desktop.h"
#include "shell/window/flags_page.h"
#include "shell/window/header_page.h"
#include "shell/window/properties_page.h"
#include "shell/window/property_tree_model.h"
#include "shell/window/structure_page.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

// The window shows the full path, without "..".
const std::string kCorpus = std::filesystem::canonical(ORLENDO_CORPUS_DIR).string();
const std::string kWithAttachments = kCorpus + "/msg/mrdr_EmailWithAttachments.msg";
const std::string kPlain = kCorpus + "/msg/mprs_ascii.msg";
const std::string kEml = kCorpus + "/eml/mimekit_simple-embedded-message.eml";
const std::string kNotMsg = kCorpus + "/msg/oxmsg_not-a-MSG-file.msg";

// Catches what the window would show or open, and starts each test without a settings file.
class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = DesktopHooks();
    DesktopHooks().ShowMessage = [this](QWidget*, const QString& text) { messages_ << text; };
    DesktopHooks().OpenUrl = [this](const QUrl& url) { urls_ << url; };
    DesktopHooks().Beep = [this] { ++beeps_; };
    std::filesystem::remove(GetIniFileName(true));
  }
  void TearDown() override { DesktopHooks() = saved_; }

  std::unique_ptr<TfrmMain> Start(std::vector<std::string> args) {
    return std::make_unique<TfrmMain>(args);
  }
  void WriteIni(const std::string& text) { std::ofstream(GetIniFileName(true)) << text; }
  static std::vector<QString> VisibleTabs(const TfrmMain& w) {
    std::vector<QString> tabs;
    for (int i = 0; i < w.PageControl->count(); ++i)
      if (w.PageControl->isTabVisible(i))
        tabs.push_back(w.PageControl->widget(i)->objectName());
    return tabs;
  }

  TDesktopHooks saved_;
  QStringList messages_;
  QList<QUrl> urls_;
  int beeps_ = 0;
};

TEST_F(WindowTest, StartUpOpensOnlyWhatTheCommandLineNames) {
  WriteIni("[Options]\nLastOpened=1\n[Recent]\nCount=1\nItem1=" + kPlain + "\n");
  struct Case {
    std::vector<std::string> args;
    bool opened;
    QString boxText;
  } cases[] = {
      {{}, true, QString::fromStdString(kPlain)}, // LastOpened opens the first recent file
      {{"/SIMPLE"}, false, QString()},            // any argument: no suggestion, no open
      {{kWithAttachments, "/NOINI"}, true, QString::fromStdString(kWithAttachments)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no argument" : c.args[0]);
    auto w = Start(c.args);
    // The title names the open file.
    EXPECT_EQ(w->windowTitle(),
              c.opened ? QFileInfo(c.boxText).fileName() + QString::fromUtf8(" — Orlendo")
                       : QString("Orlendo (*.msg)"));
    EXPECT_EQ(w->Message() != nullptr, c.opened);
    EXPECT_EQ(w->PageControl->isVisibleTo(w.get()), c.opened);
    EXPECT_EQ(w->lblNoFile->isVisibleTo(w.get()), !c.opened);
    EXPECT_EQ(w->miFileSaveAs->isEnabled(), c.opened);
    EXPECT_EQ(w->miFileReply->isEnabled(), c.opened);
    EXPECT_EQ(w->cbFileName->currentText(), c.boxText);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
  }
}

TEST_F(WindowTest, EveryTabShowsAtTheDesignSize) {
  for (const std::string lang : {"", "/LANG=german.lng"}) {
    SCOPED_TRACE(lang);
    std::vector<std::string> args = {kPlain, "/NOINI"};
    if (!lang.empty())
      args.push_back(lang);
    auto w = Start(args);
    w->resize(687, 450);
    w->show();
    QApplication::processEvents();
    EXPECT_EQ(w->width(), 687) << "a part of the window asks for more than the design width";
    const QTabBar* bar = w->PageControl->tabBar();
    for (int i = 0; i < w->PageControl->count(); ++i) {
      if (w->PageControl->isTabVisible(i)) {
        EXPECT_TRUE(bar->rect().contains(bar->tabRect(i))) << i;
      }
    }
    // The tabs have the room they ask for: no caption is shortened to "Pre…".
    EXPECT_GE(bar->width(), bar->sizeHint().width());
  }
}

TEST_F(WindowTest, GermanReachesQtsOwnButtonsTheStructureGridTheFlagsAndTheDates) {
  auto w = Start({kWithAttachments, "/NOINI", "/LANG=german.lng"});
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "&Ja");
  EXPECT_EQ(w->pnlStructure->StatisticsGrid()->item(3, 0)->text(), QString::fromUtf8("Größe"));
  // The Flags page: its column captions and descriptions; the flag names are MAPI's.
  const QTableWidget* flags = w->pnlFlags->FlagList();
  EXPECT_EQ(flags->horizontalHeaderItem(1)->text(), "Beschreibung");
  EXPECT_EQ(flags->item(4, 1)->text(), "Die Nachricht hat mindestens eine Anlage");
  EXPECT_EQ(flags->item(4, 1)->toolTip(), flags->item(4, 1)->text());
  EXPECT_EQ(flags->item(4, 0)->text(), "MSGFLAG_HASATTACH");
  // 09.12.2025, not 12/09/25.
  EXPECT_TRUE(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4}")
                  .match(w->frmMessage->edSent->text())
                  .hasMatch())
      << w->frmMessage->edSent->text().toStdString();
  SetInterfaceLanguage(QString());
  ResetMessageStrings();
}

// What a load could not read as the file asked (a charset nobody knows) is said above the
// header, in the interface's language, without a box to close; the next file takes it away.
TEST_F(WindowTest, LoadNotesShowAboveTheHeaderInTheInterfaceLanguage) {
  testutil::TempDir tmp;
  const std::string file = tmp.File("unknown-charset.eml");
  std::ofstream(file, std::ios::binary)
      << "From: ann@example.org\r\nSubject: =?x-martian?Q?hallo?=\r\n"
         "Content-Type: text/plain; charset=x-venusian\r\n\r\nbody\r\n";
  for (const std::string lang : {"", "/LANG=german.lng"}) {
    SCOPED_TRACE(lang);
    std::vector<std::string> args = {file, "/NOINI"};
    if (!lang.empty())
      args.push_back(lang);
    auto w = Start(args);
    w->show();
    QApplication::processEvents();
    QLabel* notes = w->frmMessage->findChild<QLabel*>("lblLoadNotes");
    ASSERT_NE(notes, nullptr);
    EXPECT_TRUE(notes->isVisible());
    const QStringList lines = notes->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    if (lang.empty()) {
      EXPECT_EQ(lines[0].toStdString(), FormatMessageText(SUnknownCharset, {"x-martian"}));
      EXPECT_EQ(lines[1].toStdString(), FormatMessageText(SUnknownCharset, {"x-venusian"}));
    } else {
      EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8("Der Zeichensatz „x-venusian“")))
          << lines[1].toStdString();
    }
    // Above the header, and the message shows all the same.
    EXPECT_LT(notes->geometry().bottom(), w->frmMessage->pnlHeader->geometry().top());
    EXPECT_EQ(w->frmMessage->edSubject->text(), "hallo");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
    w->cbFileName->setEditText(QString::fromStdString(kPlain));
    w->LoadMessage();
    EXPECT_FALSE(notes->isVisible());
  }
  SetInterfaceLanguage(QString());
  ResetMessageStrings();
}

TEST_F(WindowTest, WithoutLastOpenedTheFirstRecentFileIsOnlySuggested) {
  WriteIni("[Recent]\nCount=1\nItem1=" + kPlain + "\n");
  auto w = Start({});
  EXPECT_EQ(w->Message(), nullptr);
  EXPECT_EQ(w->cbFileName->currentText().toStdString(), kPlain);
  EXPECT_TRUE(w->miFileReopen->isEnabled());
}

TEST_F(WindowTest, ModesShowTheirPages) {
  struct Case {
    std::vector<std::string> args;
    std::vector<QString> tabs;
  } cases[] = {
      {{kPlain}, {"tsPreview", "tsProperties", "tsStructure", "tsHeader", "tsFlags"}},
      {{kPlain, "/SIMPLE"}, {"tsPreview", "tsHeader", "tsFlags"}},
      {{kPlain, "/BASIC"}, {"tsPreview", "tsFlags"}},
      // Not a compound file: no structure to show.
      {{kEml}, {"tsPreview", "tsProperties", "tsHeader", "tsFlags"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    auto args = c.args;
    args.push_back("/NOINI");
    auto w = Start(args);
    EXPECT_EQ(VisibleTabs(*w), c.tabs);
    // The inspectors hold the open message; at start-up the file is read before the mode
    // hides pages, so a .msg file has its structure in every mode.
    const bool msg = c.args[0] != kEml;
    EXPECT_EQ(w->pnlStructure->StructureTree()->topLevelItemCount() > 0, msg);
    EXPECT_GT(w->pnlProperties->PropertyModel()->rowCount(), 0);
    EXPECT_EQ(w->pnlHeader->HeaderText()->toPlainText().isEmpty(),
              w->Message()->TransportHeaders().empty());
    EXPECT_GT(w->pnlFlags->FlagList()->rowCount(), 0);
  }
}

TEST_F(WindowTest, LoadErrorShowsTheReaderTextAndStillFillsThePages) {
  struct Case {
    std::string file;
    const char* text;
  } cases[] = {
      {kNotMsg, "is not valid file (compound storage)"},
      {"/nonexistent/x.msg", "File /nonexistent/x.msg is not found."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    messages_.clear();
    auto w = Start({c.file, "/NOINI"});
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains(QString::fromLatin1(c.text))) << messages_[0].toStdString();
    EXPECT_FALSE(messages_[0].startsWith("Orlendo"));
    EXPECT_TRUE(w->PageControl->isVisibleTo(w.get()));
    EXPECT_TRUE(w->miFileSaveAs->isEnabled());
    EXPECT_TRUE(w->miFileForward->isEnabled());
    EXPECT_NE(w->Message(), nullptr);
  }
}

TEST_F(WindowTest, FileNameBoxLoadsOnEnterNotWhileTyping) {
  auto w = Start({"/NOINI"});
  w->cbFileName->setFocus();
  w->cbFileName->lineEdit()->clear();
  QTest::keyClicks(w->cbFileName->lineEdit(), "/nonexistent/typed.msg");
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_EQ(w->Message(), nullptr);
  QTest::keyClick(w->cbFileName->lineEdit(), Qt::Key_Return);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(messages_[0], "File /nonexistent/typed.msg is not found.");

  // Picking an entry from the list opens it.
  w->Settings().RecentFiles.MoveToFront(kPlain);
  w->RebuildReopenMenu();
  const int index = w->cbFileName->findText(QString::fromStdString(kPlain));
  ASSERT_GE(index, 0);
  emit w->cbFileName->activated(index);
  EXPECT_EQ(messages_.size(), 1);
  ASSERT_NE(w->Message(), nullptr);
  EXPECT_GT(w->Message()->Properties().Count(), 0);
}

TEST_F(WindowTest, ReopenMenuListsTheLoadsMostRecentFirst) {
  auto w = Start({"/NOINI"});
  for (const std::string& f : {kPlain, kWithAttachments, kEml}) {
    w->cbFileName->setEditText(QString::fromStdString(f));
    w->LoadMessage();
  }
  const QList<QAction*> items = w->miFileReopen->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text().toStdString(), "&0 " + kEml);
  EXPECT_EQ(items[1]->text().toStdString(), "&1 " + kWithAttachments);
  EXPECT_EQ(items[2]->text().toStdString(), "&2 " + kPlain);
  EXPECT_EQ(w->cbFileName->count(), 3);

  items[2]->trigger();
  EXPECT_EQ(w->cbFileName->currentText().toStdString(), kPlain);
  EXPECT_EQ(w->miFileReopen->actions()[0]->text().toStdString(), "&0 " + kPlain);
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(WindowTest, SaveAttachmentsFollowsEveryLoadAndTheBeepComesOnceWhenIdle) {
  auto w = Start({"/NOINI"});
  struct Case {
    std::string file;
    bool attachments;
  } cases[] = {{kWithAttachments, true}, {kPlain, false}, {"/nonexistent/x.msg", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    beeps_ = 0;
    w->cbFileName->setEditText(QString::fromStdString(c.file));
    w->LoadMessage();
    EXPECT_EQ(w->miFileSaveAttachments->isEnabled(), c.attachments);
    EXPECT_EQ(beeps_, 0);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(w->miFileSaveAs->isEnabled());
  }
}

TEST_F(WindowTest, DroppingFilesOpensTheFirstOnly) {
  auto w = Start({"/NOINI"});
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(kPlain)),
                QUrl::fromLocalFile(QString::fromStdString(kWithAttachments))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.get(), &drop);
  EXPECT_EQ(w->cbFileName->currentText().toStdString(), kPlain);
  EXPECT_EQ(w->Settings().RecentFiles.Items(), std::vector<std::string>{kPlain});
}

TEST_F(WindowTest, NoMenuHidesMenuAndToolBarButKeepsShortcuts) {
  auto w = Start({"/NOMENU", "/NOINI"});
  w->show();
  EXPECT_FALSE(w->menuBar()->isVisible());
  EXPECT_FALSE(w->cbMain->isVisible());
  EXPECT_TRUE(w->actions().contains(w->miHelpContents));
  w->miHelpContents->trigger();
  ASSERT_EQ(urls_.size(), 1);
  EXPECT_TRUE(urls_[0].isLocalFile());
  EXPECT_TRUE(std::filesystem::exists(urls_[0].toLocalFile().toStdString()));
}

TEST_F(WindowTest, SettingsSurviveARestart) {
  WriteIni("[Options]\nSaveFormPosition=1\n");
  {
    auto w = Start({kPlain, "/LEFT=40", "/TOP=30", "/WIDTH=800", "/HEIGHT=500"});
    w->cbFileName->setEditText(QString::fromStdString(kWithAttachments));
    w->LoadMessage();
    w->Settings().SettingsChanged = true;
    w->Settings().LeftPaneWidth = 0; // taken from the splitter at exit
  }
  auto w = Start({});
  EXPECT_EQ(w->pos(), QPoint(40, 30));
  EXPECT_EQ(w->size(), QSize(800, 500));
  EXPECT_EQ(w->Settings().RecentFiles.Items(),
            (std::vector<std::string>{kWithAttachments, kPlain}));
  EXPECT_EQ(w->cbFileName->currentText().toStdString(), kWithAttachments);
  EXPECT_GT(w->Settings().LeftPaneWidth, 0);

  // "/NOINI" writes nothing.
  std::filesystem::remove(GetIniFileName(true));
  Start({kPlain, "/NOINI"}).reset();
  EXPECT_FALSE(std::filesystem::exists(GetIniFileName(true)));
}

TEST_F(WindowTest, PreviewShowsEachLoadAndLetsGoOfIt) {
  struct Case {
    std::string file;
    bool plain, rtf, html;
  } cases[] = {
      {kCorpus + "/msg/jotl_generated_base-message.msg", true, false, false},
      // RTF only: the HTML tab holds the HTML made from the RTF.
      {kCorpus + "/msg/mrdr_RtfWithShortRussianString.msg", true, true, true},
      // HTML only: the Plain text tab shows the text of the HTML.
      {kCorpus + "/msg/kmr_newOutlook_Microsoft_Outlook_test.msg", true, false, true},
      // A failed load leaves an empty panel, not the previous message.
      {"/nonexistent/x.msg", true, false, false},
  };
  auto w = Start({"/NOINI"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    w->cbFileName->setEditText(QString::fromStdString(c.file));
    w->LoadMessage();
    TfrmMessage* p = w->frmMessage;
    ASSERT_EQ(p->parentWidget(), w->tsPreview);
    EXPECT_EQ(p->MessageProperties(), &w->Message()->Properties());
    EXPECT_EQ(p->edSubject->text().toStdU16String(), w->Message()->Properties().GetSubject());
    EXPECT_EQ(p->pcBody->isTabVisible(TfrmMessage::kPlainTab), c.plain);
    EXPECT_EQ(p->pcBody->isTabVisible(TfrmMessage::kRtfTab), c.rtf);
    EXPECT_EQ(p->pcBody->isTabVisible(TfrmMessage::kHtmlTab), c.html);
  }
  EXPECT_TRUE(w->frmMessage->edSubject->text().isEmpty());
  w->ClearViews();
  EXPECT_EQ(w->frmMessage->MessageProperties(), nullptr);
}

// Answers the save questions without dialogs; a modal dialog that opens is confirmed.
struct SaveAnswers {
  QString file, folder;
  QStringList info;
  SaveAnswers() {
    FileDialogs().SaveFileName = [this](QWidget*, const QString&, const QString&, const QString&,
                                        QString*, const auto&) { return file; };
    FileDialogs().SelectFolder = [this](QWidget*, const QString&, const QString&) {
      return folder;
    };
    FileDialogs().Information = [this](QWidget*, const QString& t) { info << t; };
    FileDialogs().Error = [](QWidget*, const QString& t) { ADD_FAILURE() << t.toStdString(); };
  }
  ~SaveAnswers() { FileDialogs() = StandardFileDialogs(); }
  static void AcceptNextDialog() {
    QTimer::singleShot(0, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        dialog->accept();
    });
  }
};

TEST_F(WindowTest, SaveCommandsWriteWhatReadsBack) {
  testutil::TempDir tmp;
  auto w = Start({kCorpus + "/msg/mrdr_EmailWithInnerMailAndAttachments.msg", "/NOINI"});
  const TMSGProperties& root = w->Message()->Properties();
  SaveAnswers answers;
  for (const char* name : {"saved.msg", "saved.eml"}) {
    SCOPED_TRACE(name);
    answers.file = QString::fromStdString(tmp.File(name));
    w->miFileSaveAs->trigger();
    ASSERT_EQ(answers.info.size(), 1);
    answers.info.clear();
    auto back = CreateMessageForFile(tmp.File(name));
    back->LoadFromFile(tmp.File(name));
    EXPECT_EQ(back->Properties().GetSubject(), root.GetSubject());
    EXPECT_EQ(back->Properties().AttachmentCount(), root.AttachmentCount());
  }

  answers.folder = QString::fromStdString(tmp.File("attachments"));
  std::filesystem::create_directory(answers.folder.toStdString());
  ASSERT_TRUE(w->miFileSaveAttachments->isEnabled());
  SaveAnswers::AcceptNextDialog();
  w->miFileSaveAttachments->trigger();
  int files = 0;
  for (int i = 0; i < w->frmMessage->AttachmentCount(); ++i) {
    const QListWidgetItem* item = w->frmMessage->lvAttachments->item(i);
    if (item->data(TfrmMessage::kImageRole).toInt() != 0)
      continue;
    TMemoryStream stored;
    root.SaveAttachmentToStream(i, stored);
    std::ifstream in(answers.folder.toStdString() + "/" +
                         item->data(TfrmMessage::kFileNameRole).toString().toStdString(),
                     std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), stored.Data()) << i;
    ++files;
  }
  EXPECT_GT(files, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(answers.folder.toStdString()),
                          std::filesystem::directory_iterator()),
            files);
}

TEST_F(WindowTest, MailRegisterAndUpdateCommandsReportTheirOutcome) {
  testutil::TempDir tmp;
  // A stand-in mail client records the subject it is given.
  const std::string mailer = tmp.File("xdg-email");
  // It runs detached from the window, so it writes its record whole, by a rename.
  std::ofstream(mailer) << "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = --subject ] && "
                           "printf '%s' \"$2\" > '"
                        << tmp.File("subject.part") << "' && mv '" << tmp.File("subject.part")
                        << "' '" << tmp.File("subject") << "'; shift; done\n";
  chmod(mailer.c_str(), 0755);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (tmp.Path() + ":" + path).c_str(), 1);
  auto w = Start({kPlain, "/NOINI"});
  const std::string subject =
      QString::fromStdU16String(w->Message()->Properties().GetSubject()).toStdString();
  for (auto [action, prefix] : {std::pair{w->miFileReply, "RE: "}, {w->miFileForward, "FW: "}}) {
    action->trigger();
    for (int i = 0; i < 100 && !std::filesystem::exists(tmp.File("subject")); ++i)
      QTest::qWait(100);
    std::ifstream in(tmp.File("subject"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), prefix + subject);
    std::filesystem::remove(tmp.File("subject"));
  }
  setenv("PATH", path.c_str(), 1);

  w->miHelpSendMail->trigger();
  ASSERT_EQ(urls_.size(), 1);
  EXPECT_EQ(urls_[0].scheme(), "mailto");
  EXPECT_TRUE(urls_[0].toString().contains(kSupportMailAddress));

  w->miViewRegister->trigger();
  EXPECT_TRUE(std::filesystem::exists(DesktopEntryPath()));
  w->miViewUnregister->trigger();
  EXPECT_FALSE(std::filesystem::exists(DesktopEntryPath()));
  EXPECT_EQ(messages_, QStringList({QString::fromStdString(RegisteredMessage()),
                                    QString::fromStdString(UnregisteredMessage())}));

  // Nothing listens there: the check says so instead of waiting.
  messages_.clear();
  w->Settings().UpdateUrl = "http://127.0.0.1:9/msg/quillet.xml";
  w->miHelpCheckUpdates->trigger();
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains("127.0.0.1")) << messages_[0].toStdString();
}

} // namespace
} // namespace orlendo
