// The window on damaged and hostile files: compound files patched through their own header, FAT
// and DIFAT the way the fuzz corpora damage them, truncations, the fuzzers' crash files and a
// language file of wrong values. The window must come up, say what is wrong, and still answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/settings.h"
#include "components/display_limits.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"
#include "shell/window/desktop.h"
#include "shell/window/header_page.h"
#include "shell/window/main_window.h"
#include "shell/window/options_dialog.h"
#include "shell/window/properties_page.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

const std::string kCorpus = fs::canonical(ORLENDO_CORPUS_DIR).string();
const std::string kGood = kCorpus + "/msg/mrdr_EmailWithAttachments.msg";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A version 3 compound file (512-byte sectors) patched through its own structures.
struct Image {
  std::string bytes;
  uint32_t U32(size_t at) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  void SetU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = char(v >> (8 * i));
  }
  static size_t SectorOffset(uint32_t s) { return 512 + size_t(s) * 512; }
  size_t FatEntry(uint32_t s) const {
    return SectorOffset(U32(76 + 4 * (s / 128))) + 4 * (s % 128);
  }
};

struct THostileCase {
  std::string name;
  std::string bytes;
};

std::vector<THostileCase> HostileFiles() {
  const Image good{ReadFile(kGood)};
  std::vector<THostileCase> cases;
  const uint32_t firstFat = good.U32(76);
  {
    Image i = good; // the DIFAT chain comes back to its own first sector
    i.SetU32(44, 300);
    i.SetU32(68, firstFat);
    i.SetU32(72, 3);
    i.SetU32(Image::SectorOffset(firstFat) + 508, firstFat);
    cases.push_back({"difat-loop.msg", i.bytes});
  }
  {
    Image i = good; // every FAT sector zeroed: every chain leads to sector 0
    for (uint32_t k = 0; k < good.U32(44) && k < 109; ++k)
      i.bytes.replace(Image::SectorOffset(good.U32(76 + 4 * k)), 512, 512, '\0');
    cases.push_back({"fat-zero.msg", i.bytes});
  }
  {
    Image i = good; // the directory chain points back at itself
    const uint32_t dir = good.U32(48);
    i.SetU32(good.FatEntry(dir), dir);
    cases.push_back({"fat-loop-directory.msg", i.bytes});
  }
  {
    Image i = good; // more FAT sectors than the file could hold
    i.SetU32(44, 0x00FFFFFF);
    cases.push_back({"fat-count.msg", i.bytes});
  }
  {
    Image i = good; // the root's first stream starts far beyond the end
    i.SetU32(Image::SectorOffset(good.U32(48)) + 116, 0x7FFFFFF0);
    cases.push_back({"root-start.msg", i.bytes});
  }
  cases.push_back({"cut-600.msg", good.bytes.substr(0, 600)});
  cases.push_back({"cut-1024.msg", good.bytes.substr(0, 1024)});
  cases.push_back({"cut-header.msg", good.bytes.substr(0, 100)});
  cases.push_back({"empty.msg", ""});
  cases.push_back({"empty.eml", ""});
  cases.push_back({"signature-only.msg", good.bytes.substr(0, 8) + std::string(4000, '\xFF')});
  // What the fuzzers once found, under the name that picks the reader they found it in.
  const struct {
    const char* folder;
    const char* extension;
  } crashes[] = {{"msg", ".msg"}, {"cfb", ".msg"}, {"mime", ".eml"}, {"mime_reader", ".mht"}};
  const fs::path root = fs::path(ORLENDO_CORPUS_DIR).parent_path().parent_path().parent_path();
  for (const auto& c : crashes) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root / "fuzz" / "crashes" / c.folder, ec))
      cases.push_back({std::string(c.folder) + "-" + entry.path().filename().string() + c.extension,
                       ReadFile(entry.path().string())});
  }
  return cases;
}

class HostileInputTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = DesktopHooks();
    DesktopHooks().ShowMessage = [this](QWidget*, const QString& text) { messages_ << text; };
    DesktopHooks().OpenUrl = [](const QUrl&) {};
    DesktopHooks().Beep = [] {};
    fs::remove(GetIniFileName(true));
  }
  void TearDown() override { DesktopHooks() = saved_; }

  // The window still does its work: every page can be shown, and a good file opens and fills
  // the pages.
  void ExpectAnswers(TfrmMain& w) {
    for (int page = 0; page < w.PageControl->count(); ++page) {
      w.PageControl->setCurrentIndex(page);
      QApplication::processEvents();
    }
    messages_.clear();
    w.cbFileName->setEditText(QString::fromStdString(kGood));
    w.LoadMessage();
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
    ASSERT_NE(w.Message(), nullptr);
    EXPECT_FALSE(w.frmMessage->edSubject->text().isEmpty());
    EXPECT_TRUE(w.PageControl->isTabVisible(w.PageControl->indexOf(w.tsStructure)));
  }

  TDesktopHooks saved_;
  QStringList messages_;
  testutil::TempDir tmp_;
};

TEST_F(HostileInputTest, DamagedFilesKeepTheWindowUp) {
  for (const THostileCase& c : HostileFiles()) {
    SCOPED_TRACE(c.name);
    const std::string path = tmp_.File(c.name);
    std::ofstream(path, std::ios::binary) << c.bytes;
    messages_.clear();
    std::unique_ptr<TfrmMain> w;
    ASSERT_NO_THROW(w = std::make_unique<TfrmMain>(std::vector<std::string>{path, "/NOINI"}));
    w->show();
    QApplication::processEvents();
    // At most one box for one damaged file: the structure does not repeat the load's error.
    EXPECT_LE(messages_.size(), 1) << messages_.join("\n").toStdString();
    EXPECT_TRUE(w->PageControl->isVisible());
    ExpectAnswers(*w);
  }
}

TEST_F(HostileInputTest, AHugeOneLineMessageGivesNoWidgetMoreThanItCanShow) {
  // 4 MB without a line end: one Subject header, which is also the whole transport header.
  const std::string path = tmp_.File("one_line.eml");
  {
    std::ofstream out(path, std::ios::binary);
    out << "Subject: ";
    for (int i = 0; i < 100000; ++i)
      out << "one line of four megabytes without end ";
  }
  auto w = std::make_unique<TfrmMain>(std::vector<std::string>{path, "/NOINI"});
  w->resize(687, 450);
  w->show();
  QApplication::processEvents();
  EXPECT_LE(w->frmMessage->edSubject->text().size(), kOneLineChars + 1);
  EXPECT_LE(w->pnlHeader->findChild<QPlainTextEdit*>("reTransport")->toPlainText().size(),
            kViewChars + 100);
  // Selecting each property, the subject included, shows a bounded value that says so.
  w->PageControl->setCurrentWidget(w->tsProperties);
  QTreeView* tree = w->pnlProperties->PropertyTree();
  bool sawCut = false;
  for (int row = 0; row < tree->model()->rowCount(); ++row) {
    tree->setCurrentIndex(tree->model()->index(row, 0));
    QApplication::processEvents();
    const QString value = w->tsProperties->findChild<QPlainTextEdit*>("rePropValue")->toPlainText();
    EXPECT_LE(value.size(), kValueChars + 100);
    sawCut = sawCut || value.contains("more characters");
  }
  EXPECT_TRUE(sawCut);
  EXPECT_EQ(w->width(), 687) << "a long value widened the window";
}

TEST_F(HostileInputTest, EnterOnTheErrorBoxDoesNotOpenTheFileAgain) {
  auto w = std::make_unique<TfrmMain>(std::vector<std::string>{"/NOINI"});
  w->show();
  QLineEdit* edit = w->cbFileName->lineEdit();
  edit->setText(QString::fromStdString(tmp_.File("missing.msg")));
  QTest::keyPress(edit, Qt::Key_Return);
  QTest::keyRelease(edit, Qt::Key_Return);
  ASSERT_EQ(messages_.size(), 1);
  // The Enter that closes the box goes down in the box; only its release reaches the edit.
  QTest::keyRelease(edit, Qt::Key_Return);
  EXPECT_EQ(messages_.size(), 1);
}

TEST_F(HostileInputTest, LanguageFileWithWrongValuesLoads) {
  const std::string lng = tmp_.File("wrong.lng");
  std::ofstream(lng) << "[Translations]\n"
                        "frmMain.Width=abc\n"
                        "frmMain.Left=\n"
                        "frmMain.miFile.Caption=&Datei\n"
                        "frmMain.PageControl.tsFlags.Tag=9999999999999999999\n"
                        "frmMain.nothing.here.Caption=x\n"
                        "[Custom]\nstrFileName=Dateiname:\n";
  std::unique_ptr<TfrmMain> w;
  ASSERT_NO_THROW(
      w = std::make_unique<TfrmMain>(std::vector<std::string>{kGood, "/NOINI", "/LANG=" + lng}));
  // The wrong value is named; the lines after it still apply.
  ASSERT_FALSE(messages_.isEmpty());
  EXPECT_TRUE(messages_.front().contains("abc")) << messages_.front().toStdString();
  EXPECT_EQ(w->miFile->title(), "&Datei");
  ExpectAnswers(*w);
}

TEST_F(HostileInputTest, ExtendedModeFillsThePagesOfTheOpenMessage) {
  auto w = std::make_unique<TfrmMain>(std::vector<std::string>{kGood, "/NOINI", "/BASIC"});
  ASSERT_NE(w->Message(), nullptr);
  EXPECT_FALSE(w->PageControl->isTabVisible(w->PageControl->indexOf(w->tsProperties)));
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->rbModeExtended->setChecked(true);
    dialog->accept();
  });
  w->miViewOptions->trigger();
  EXPECT_TRUE(w->PageControl->isTabVisible(w->PageControl->indexOf(w->tsProperties)));
  EXPECT_TRUE(w->PageControl->isTabVisible(w->PageControl->indexOf(w->tsStructure)));
  auto* structure = w->tsStructure->findChild<QTreeView*>("tvStructure");
  ASSERT_NE(structure, nullptr);
  EXPECT_GT(structure->model()->rowCount(), 0);
  auto* properties = w->tsProperties->findChild<QTreeView*>("tvProperties");
  ASSERT_NE(properties, nullptr);
  EXPECT_GT(properties->model()->rowCount(), 0);
}

} // namespace
} // namespace orlendo
