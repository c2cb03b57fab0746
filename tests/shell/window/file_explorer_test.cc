#include "shell/window/file_explorer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "app/settings.h"
#include "model/qvmsg.h"
#include "shell/window/desktop.h"
#include "shell/window/main_window.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

const std::string kCorpus = fs::canonical(ORLENDO_CORPUS_DIR).string();
const std::string kAscii = kCorpus + "/msg/mprs_ascii.msg";
const std::string kEml = kCorpus + "/eml/mimekit_simple-embedded-message.eml";

// A window per test without a settings file, with a private folder of files to browse, and
// the desktop's boxes answered by the test.
class ExplorerTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = DesktopHooks();
    DesktopHooks().ShowMessage = [this](QWidget*, const QString& text) { messages_ << text; };
    DesktopHooks().Beep = [] {};
    DesktopHooks().Confirm = [this](QWidget*, const QString& text) {
      questions_ << text;
      return answer_;
    };
    fs::remove(GetIniFileName(true));
    char folder[] = "/tmp/quillet-explorer-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    dir_ = folder;
  }
  void TearDown() override {
    DesktopHooks() = saved_;
    fs::remove_all(dir_);
  }

  static std::unique_ptr<TfrmMain> Start(std::vector<std::string> args = {}) {
    return std::make_unique<TfrmMain>(args);
  }
  static void WriteIni(const std::string& text) { std::ofstream(GetIniFileName(true)) << text; }
  void Touch(const std::string& name, const std::string& copyOf = {}) const {
    if (copyOf.empty())
      std::ofstream(dir_ + "/" + name) << "x";
    else
      fs::copy_file(copyOf, dir_ + "/" + name);
  }

  // The file-tree node of path, expanding every folder on the way from the root node.
  static QTreeWidgetItem* Reveal(TFileExplorer& pane, const std::string& path) {
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < pane.tvFiles->topLevelItemCount(); ++i)
      if (TFileExplorer::NodeFileName(pane.tvFiles->topLevelItem(i)) == "/")
        node = pane.tvFiles->topLevelItem(i);
    std::string prefix;
    for (const auto& part : fs::path(path).relative_path()) {
      prefix += "/" + part.string();
      if (!node)
        return nullptr;
      node->setExpanded(true); // lists the folder through the tree's expand signal
      QTreeWidgetItem* next = nullptr;
      for (int i = 0; i < node->childCount(); ++i)
        if (TFileExplorer::NodeFileName(node->child(i)) == prefix)
          next = node->child(i);
      node = next;
    }
    return node;
  }
  // The children of folder listed anew under the current filter: name -> icon.
  static std::map<QString, int> Listing(TFileExplorer& pane, QTreeWidgetItem* folder) {
    qDeleteAll(folder->takeChildren());
    folder->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    pane.tvFilesExpanding(folder);
    std::map<QString, int> shown;
    for (int i = 0; i < folder->childCount(); ++i)
      shown[folder->child(i)->text(0)] = folder->child(i)->data(0, Qt::UserRole + 1).toInt();
    return shown;
  }
  static QTreeWidgetItem* Group(TFileExplorer& pane, const QString& caption) {
    const auto found = pane.tvWorkspace->findItems(caption, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found[0];
  }
  static QStringList Entries(const QTreeWidgetItem* group) {
    QStringList names;
    for (int i = 0; group && i < group->childCount(); ++i)
      names << group->child(i)->text(0);
    return names;
  }
  static std::array<bool, 3> Enabled(const TFileExplorer& pane) {
    return {pane.mniAddFileToFaforites->isEnabled(), pane.mniDeleteFromFavorites->isEnabled(),
            pane.miDeleteFromRecent->isEnabled()};
  }

  TDesktopHooks saved_;
  QStringList messages_;
  QStringList questions_;
  bool answer_ = false;
  std::string dir_;
};

TEST_F(ExplorerTest, CommandAndCloseMarkSwitchThePaneAndTheSettingSurvivesARestart) {
  WriteIni("[Options]\nSaveFormPosition=1\n");
  {
    auto w = Start();
    TFileExplorer& pane = *w->pnlFolders;
    EXPECT_TRUE(pane.isHidden());
    EXPECT_FALSE(pane.DrivesBuilt());
    w->miViewFileTree->trigger(); // the menu command
    EXPECT_TRUE(w->miViewFileTree->isChecked());
    EXPECT_FALSE(pane.isHidden());
    EXPECT_FALSE(w->pnlLeft->isHidden());
    EXPECT_TRUE(w->imgLogo->isHidden()); // the pane takes the logo's place
    // The drive level: the root and the home folder, each without its children yet.
    ASSERT_TRUE(pane.DrivesBuilt());
    EXPECT_EQ(TFileExplorer::NodeFileName(pane.tvFiles->topLevelItem(0)), "/");
    std::string home = HomeFolder();
    home.pop_back();
    EXPECT_EQ(TFileExplorer::NodeFileName(pane.tvFiles->topLevelItem(1)), home);
    EXPECT_EQ(pane.tvFiles->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(pane.cbFileFilter->count(), 4);
    EXPECT_EQ(pane.cbFileFilter->currentText(), QStringLiteral("*.*"));

    // A press left of the close mark does nothing; on it, the pane closes.
    pane.pbCaption->resize(150, 15);
    QTest::mouseClick(pane.pbCaption, Qt::LeftButton, {}, QPoint(100, 7));
    EXPECT_FALSE(pane.isHidden());
    QTest::mouseClick(pane.pbCaption, Qt::LeftButton, {}, QPoint(144, 7));
    EXPECT_TRUE(pane.isHidden());
    EXPECT_FALSE(w->miViewFileTree->isChecked());
    EXPECT_FALSE(w->imgLogo->isHidden());
    w->miViewFileTreeClick();
  }
  {
    auto w = Start();
    EXPECT_TRUE(w->miViewFileTree->isChecked());
    EXPECT_FALSE(w->pnlFolders->isHidden());
    EXPECT_TRUE(w->pnlFolders->DrivesBuilt());
    w->miViewFileTreeClick();
  }
  EXPECT_TRUE(Start()->pnlFolders->isHidden());

  // Without the stored geometry the pane's state is not kept either.
  WriteIni("[Options]\nSaveFormPosition=0\n");
  Start()->miViewFileTreeClick();
  EXPECT_TRUE(Start()->pnlFolders->isHidden());
}

TEST_F(ExplorerTest, FilterLimitsTheFilesOfFoldersExpandedAfterwards) {
  for (const char* name : {"a.msg", "B.MSG", "c.eml", "d.mht", "e.txt", "noext", "report1.msg",
                           "report10.msg", "new\nline.msg", "bad\xff.msg"})
    Touch(name);
  fs::create_directory(dir_ + "/sub.msg.d");
  auto w = Start({"/NOINI"});
  w->miViewFileTreeClick();
  TFileExplorer& pane = *w->pnlFolders;
  QTreeWidgetItem* folder = Reveal(pane, dir_);
  ASSERT_NE(folder, nullptr);

  const QString newline = QStringLiteral("new\u240Aline.msg"),
                bad = QStringLiteral("bad\uFFFD.msg");
  const int msg = eimMessage, other = eimFile, dir = eimFolder;
  struct Case {
    QString filter;
    std::map<QString, int> shown;
  } cases[] = {
      // Every file; only message types open, and a name that is not UTF-8 cannot be named.
      {"*.*",
       {{"a.msg", msg},
        {"B.MSG", msg},
        {bad, other},
        {"c.eml", msg},
        {"d.mht", msg},
        {"e.txt", other},
        {newline, msg},
        {"noext", other},
        {"report1.msg", msg},
        {"report10.msg", msg},
        {"sub.msg.d", dir}}},
      {"*.msg",
       {{"a.msg", msg},
        {"B.MSG", msg},
        {bad, other},
        {newline, msg},
        {"report1.msg", msg},
        {"report10.msg", msg},
        {"sub.msg.d", dir}}},
      {"*.EML", {{"c.eml", msg}, {"sub.msg.d", dir}}},
      {"report?.msg", {{"report1.msg", msg}, {"sub.msg.d", dir}}},
      {"*.txt", {{"e.txt", other}, {"sub.msg.d", dir}}},
  };
  for (const Case& c : cases) {
    pane.cbFileFilter->setEditText(c.filter);
    EXPECT_EQ(Listing(pane, folder), c.shown) << c.filter.toStdString();
  }
  // A folder that is already listed keeps its nodes; an empty one loses its mark.
  const int listed = folder->childCount();
  pane.cbFileFilter->setCurrentIndex(0);
  pane.tvFilesExpanding(folder);
  EXPECT_EQ(folder->childCount(), listed);
  QTreeWidgetItem* empty = Reveal(pane, dir_ + "/sub.msg.d");
  ASSERT_NE(empty, nullptr);
  empty->setExpanded(true);
  EXPECT_EQ(empty->childCount(), 0);
  EXPECT_EQ(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
}

TEST_F(ExplorerTest, DoubleClickOpensMessageFilesOnly) {
  Touch("notes.txt");
  Touch("new\nline.msg", kAscii);
  auto w = Start({"/NOINI"});
  w->miViewFileTreeClick();
  TFileExplorer& pane = *w->pnlFolders;
  struct Case {
    std::string file;
    std::u16string subject;
  } cases[] = {
      {kAscii, u"creating an outlook message file"},
      {kEml, u"test of simple embedded message/rfc822 part"},
      {dir_ + "/new\nline.msg", u"creating an outlook message file"},
  };
  for (const Case& c : cases) {
    QTreeWidgetItem* node = Reveal(pane, c.file);
    ASSERT_NE(node, nullptr) << c.file;
    pane.tvFiles->setCurrentItem(node);
    pane.tvFilesDblClick(pane.tvFiles);
    ASSERT_NE(w->Message(), nullptr) << c.file;
    EXPECT_EQ(w->Message()->Subject(), c.subject) << c.file;
    EXPECT_EQ(w->cbFileName->currentText().toStdString(), c.file);
  }
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();

  // A text file and a folder open nothing.
  const TQvMessage* before = w->Message();
  for (const std::string& path : {dir_ + "/notes.txt", dir_}) {
    pane.tvFiles->setCurrentItem(Reveal(pane, path));
    pane.tvFilesDblClick(pane.tvFiles);
    EXPECT_EQ(w->Message(), before) << path;
  }

  // The workspace: the open file, the other recent files, and a recent one opens from there.
  QTreeWidgetItem* opened = Group(pane, QStringLiteral("Opened files"));
  QTreeWidgetItem* recent = Group(pane, QStringLiteral("Recent files"));
  EXPECT_EQ(Entries(opened),
            QStringList{QStringLiteral("%1/new\u240Aline.msg").arg(QString::fromStdString(dir_))});
  EXPECT_EQ(Entries(recent),
            (QStringList{QString::fromStdString(kEml), QString::fromStdString(kAscii)}));
  pane.tvWorkspace->setCurrentItem(recent->child(0));
  pane.tvFilesDblClick(pane.tvWorkspace);
  EXPECT_EQ(w->Message()->Subject(), u"test of simple embedded message/rfc822 part");
  EXPECT_EQ(Entries(Group(pane, QStringLiteral("Opened files"))),
            QStringList{QString::fromStdString(kEml)});
}

TEST_F(ExplorerTest, PopupCommandsAskFirstAndTouchOnlyTheChosenEntry) {
  for (const char* name : {"one.msg", "two.msg", "three.msg"})
    Touch(name);
  fs::create_directory(dir_ + "/folder");
  const std::string one = dir_ + "/one.msg", two = dir_ + "/two.msg", three = dir_ + "/three.msg";
  WriteIni("[Recent]\nCount=3\nItem1=" + one + "\nItem2=" + two + "\nItem3=" + three +
           "\n[FavoriteFiles]\nCount=2\nItem1=" + two + "\nItem2=" + three + "\n");
  auto w = Start();
  w->miViewFileTreeClick();
  TFileExplorer& pane = *w->pnlFolders;
  TSettings& s = w->Settings();
  auto favorites = [&pane] { return Group(pane, QStringLiteral("Favorites")); };
  auto recent = [&pane] { return Group(pane, QStringLiteral("Recent files")); };
  auto popupOn = [&pane](QTreeWidget* tree, QTreeWidgetItem* node) {
    tree->setCurrentItem(node);
    pane.pmFileExplorerPopup(tree);
  };

  // What the menu offers, by where it is opened: {add, delete favourite, delete recent}.
  popupOn(pane.tvWorkspace, favorites());
  EXPECT_EQ(Enabled(pane), (std::array{false, false, false}));
  popupOn(pane.tvWorkspace, favorites()->child(0));
  EXPECT_EQ(Enabled(pane), (std::array{false, true, false}));
  popupOn(pane.tvWorkspace, recent()->child(1));
  EXPECT_EQ(Enabled(pane), (std::array{true, false, true}));
  popupOn(pane.tvFiles, pane.tvFiles->topLevelItem(0));
  EXPECT_EQ(Enabled(pane), (std::array{false, false, false}));
  popupOn(pane.tvFiles, Reveal(pane, dir_ + "/folder")); // not expanded yet
  EXPECT_EQ(Enabled(pane), (std::array{true, false, false}));
  pane.pmFileExplorerPopup(nullptr);
  EXPECT_EQ(Enabled(pane), (std::array{false, false, false}));

  // "No" keeps the favourite; "Yes" removes that one entry and nothing else.
  popupOn(pane.tvWorkspace, favorites()->child(1));
  pane.mniDeleteFromFavorites->trigger();
  ASSERT_EQ(questions_.size(), 1);
  EXPECT_EQ(questions_[0], QStringLiteral("Are you sure that you want to delete the selected file "
                                          "(%1) from Favorites?")
                               .arg(QString::fromStdString(three)));
  EXPECT_EQ(s.FavoriteFiles.Items(), (std::vector<std::string>{two, three}));
  answer_ = true;
  pane.mniDeleteFromFavorites->trigger();
  EXPECT_EQ(s.FavoriteFiles.Items(), std::vector<std::string>{two});
  EXPECT_EQ(Entries(favorites()), QStringList{QString::fromStdString(two)});
  EXPECT_EQ(s.RecentFiles.Count(), 3);

  // The same for the recent list, whose Reopen menu follows.
  answer_ = false;
  popupOn(pane.tvWorkspace, recent()->child(0));
  pane.miDeleteFromRecent->trigger();
  EXPECT_EQ(s.RecentFiles.Count(), 3);
  answer_ = true;
  pane.miDeleteFromRecent->trigger();
  ASSERT_EQ(questions_.size(), 4);
  EXPECT_TRUE(questions_[3].endsWith(QStringLiteral("(%1) from Recent?").arg(one.c_str())));
  EXPECT_EQ(s.RecentFiles.Items(), (std::vector<std::string>{two, three}));
  EXPECT_EQ(w->miFileReopen->actions().size(), 2);
  EXPECT_EQ(w->cbFileName->count(), 2);
  EXPECT_EQ(Entries(favorites()), QStringList{QString::fromStdString(two)});

  // Adding from the file tree appends once; no file on disk was touched by any of it.
  for (int i = 0; i < 2; ++i) {
    popupOn(pane.tvFiles, Reveal(pane, one));
    pane.mniAddFileToFaforites->trigger();
  }
  EXPECT_EQ(s.FavoriteFiles.Items(), (std::vector<std::string>{two, one}));
  EXPECT_EQ(Entries(favorites()).size(), 2);
  for (const std::string& f : {one, two, three})
    EXPECT_TRUE(fs::exists(f)) << f;

  // Deleting the last favourite leaves the group empty.
  popupOn(pane.tvWorkspace, favorites()->child(0));
  pane.mniDeleteFromFavorites->trigger();
  popupOn(pane.tvWorkspace, favorites()->child(0));
  pane.mniDeleteFromFavorites->trigger();
  ASSERT_NE(favorites(), nullptr);
  EXPECT_EQ(favorites()->childCount(), 0);
  EXPECT_TRUE(s.FavoriteFiles.Items().empty());
}

} // namespace
} // namespace orlendo
