// The preview panel on corpus messages and on small messages made here: which body tabs show,
// the banner, the header rows, the attachment list and its commands.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/attachment_files.h"
#include "components/display_limits.h"
#include "components/file_dialogs.h"
#include "components/interface_locale.h"
#include "components/item_view.h"
#include "export/html_body.h"
#include "mime/tnef_message.h"
#include "model/stream.h"
#include "preview_util.h"
#include "testutil/run_process.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"
#include "url_catcher.h"

namespace orlendo {
namespace {

using previewtest::Corpus;
using previewtest::Load;
using previewtest::ShownPanel;
using previewtest::WaitFor;

struct TabCase {
  const char* file;
  bool plain, rtf, html;
  int current;
};

TEST(PreviewTabs, VisibilityAndDefaultTabFollowTheBodies) {
  const TabCase cases[] = {
      // Plain body only.
      {"msg/jotl_generated_base-message.msg", true, false, false, TfrmMessage::kPlainTab},
      // Native RTF without HTML inside: rich text, no HTML tab.
      {"msg/mrdr_RtfSampleEmail.msg", true, true, false, TfrmMessage::kRtfTab},
      // RTF that encapsulates HTML and no HTML body: the HTML tab is made from the RTF.
      {"msg/mrdr_RtfWithShortRussianString.msg", true, true, true, TfrmMessage::kHtmlTab},
      // HTML only, empty plain body: the Plain text tab shows the text of the HTML.
      {"msg/kmr_newOutlook_Microsoft_Outlook_test.msg", true, false, true, TfrmMessage::kHtmlTab},
  };
  for (const TabCase& c : cases) {
    SCOPED_TRACE(c.file);
    auto message = Load(Corpus(c.file));
    ShownPanel shown;
    ASSERT_TRUE(shown.Display(message->Properties()));
    QTabWidget* tabs = shown.panel.pcBody;
    EXPECT_EQ(tabs->isTabVisible(TfrmMessage::kPlainTab), c.plain);
    EXPECT_EQ(tabs->isTabVisible(TfrmMessage::kRtfTab), c.rtf);
    EXPECT_EQ(tabs->isTabVisible(TfrmMessage::kHtmlTab), c.html);
    EXPECT_EQ(tabs->currentIndex(), c.current);
    if (message->Properties().GetBody().empty()) {
      EXPECT_EQ(shown.panel.reBody->toPlainText().toStdU16String(),
                GetPlainTextBody(message->Properties()));
      EXPECT_FALSE(shown.panel.reBody->toPlainText().trimmed().isEmpty());
    }
  }
}

TEST(PreviewTabs, DefaultFormatChoosesAmongVisibleTabs) {
  auto message = Load(Corpus("msg/poi_outlook_30_msg.msg")); // plain, HTML and RTF
  const std::pair<uint8_t, int> cases[] = {{0, TfrmMessage::kHtmlTab},
                                           {1, TfrmMessage::kPlainTab},
                                           {2, TfrmMessage::kRtfTab},
                                           {3, TfrmMessage::kHtmlTab}};
  for (auto [format, tab] : cases) {
    ShownPanel shown(format);
    ASSERT_TRUE(shown.Display(message->Properties()));
    EXPECT_EQ(shown.panel.pcBody->currentIndex(), tab) << int(format);
  }
}

struct BannerCase {
  int32_t priorityValue; // PR_PRIORITY as stored: level - 2
  bool visible;
  const char* text;
  QColor colour;
};

TEST(PreviewHeader, ImportanceBanner) {
  const BannerCase cases[] = {
      {-2, true, "   || This message was sent with Lowest importance.", QColor(0xFF, 0xFF, 0x00)},
      {-1, true, "   | This message was sent with Low importance.", QColor(0xFF, 0xFF, 0x00)},
      {0, false, "", QColor()},
      {1, true, "   ! This message was sent with High importance.", QColor(0xC1, 0xD2, 0xEE)},
      {2, true, "   !! This message was sent with Highest importance.", QColor(0xC1, 0xD2, 0xEE)},
  };
  for (const BannerCase& c : cases) {
    TQvMessage message;
    message.Properties().AddProperty(0x00260003, TVariant::FromInteger(c.priorityValue));
    ShownPanel shown;
    shown.Display(message.Properties());
    QLabel* banner = shown.panel.lblImportance;
    EXPECT_EQ(banner->isVisible(), c.visible) << c.priorityValue;
    if (c.visible) {
      EXPECT_EQ(banner->text(), c.text);
      EXPECT_EQ(banner->palette().color(QPalette::WindowText), c.colour);
      EXPECT_EQ(banner->palette().color(QPalette::Window), QColor(0x33, 0x66, 0xCC));
    }
  }
  // IMPORTANCE normal, the value of almost every Outlook message, shows no banner; high and
  // low show the High and Low ones.
  const std::pair<int, const char*> importances[] = {
      {1, ""},
      {2, "   ! This message was sent with High importance."},
      {0, "   | This message was sent with Low importance."}};
  for (const auto& [value, text] : importances) {
    TQvMessage message;
    message.Properties().AddProperty(0x00170003, TVariant::FromInteger(value));
    ShownPanel shown;
    shown.Display(message.Properties());
    EXPECT_EQ(shown.panel.lblImportance->isVisible(), *text != '\0') << value;
    if (*text != '\0')
      EXPECT_EQ(shown.panel.lblImportance->text(), text);
  }
}

// A winmail.dat that could not be read whole: a note says what could not, above the header; one
// read whole leaves no note and gives way to its files.
TEST(PreviewHeader, DamagedWinmailDatIsNoted) {
  std::ifstream in(Corpus("tnef/two-files.tnef"), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const bool damaged : {false, true}) {
    const std::string tnef = damaged ? whole.substr(0, whole.size() - 40) : whole;
    TQvMessage message;
    TMSGProperty* node = message.Properties().Add();
    node->TagID = TAG_ATTACHMENT_NODE;
    node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(u"winmail.dat"));
    node->SubProperties().AddProperty(TAG_ATTACH_DATA_BIN, TVariant::FromBytes(tnef));
    ExpandTnefAttachments(message.Properties());
    ShownPanel shown;
    shown.Display(message.Properties());
    EXPECT_EQ(shown.panel.lblTnefDamage->isVisible(), damaged);
    if (damaged) {
      EXPECT_TRUE(shown.panel.lblTnefDamage->text().startsWith("winmail.dat (damaged TNEF: "))
          << shown.panel.lblTnefDamage->text().toStdString();
    }
    // The files are listed; a damaged stream stays beside them.
    EXPECT_EQ(shown.panel.lvAttachments->count(), damaged ? 3 : 2);
  }
}

TEST(PreviewHeader, BccTakesTheCcRowWhenCcIsEmpty) {
  auto panelHeight = [](bool withCc, int& bccTop, int& ccTop, bool& ccShown) {
    TQvMessage message;
    auto& p = message.Properties();
    p.AddProperty(0x0037001F, TVariant::FromWide(u"Rows"));
    if (withCc)
      p.AddProperty(0x0E03001F, TVariant::FromWide(u"Carol <carol@example.com>"));
    p.AddProperty(0x0E02001F, TVariant::FromWide(u"Blind <bcc@example.com>"));
    ShownPanel shown;
    shown.Display(p);
    bccTop = shown.panel.edBCC->y();
    ccTop = shown.panel.edCC->y();
    ccShown = shown.panel.edCC->isVisible() && shown.panel.lblCC->isVisible();
    EXPECT_TRUE(shown.panel.edBCC->isVisible());
    EXPECT_EQ(shown.panel.lblBCC->y(), bccTop);
    return shown.panel.pnlHeader->height();
  };
  int bccWith, ccWith, bccWithout, ccWithout;
  bool ccShownWith, ccShownWithout;
  const int with = panelHeight(true, bccWith, ccWith, ccShownWith);
  const int without = panelHeight(false, bccWithout, ccWithout, ccShownWithout);
  EXPECT_TRUE(ccShownWith);
  EXPECT_FALSE(ccShownWithout);
  EXPECT_GT(bccWith, ccWith);
  EXPECT_EQ(bccWithout, ccWith);
  EXPECT_EQ(with - without, bccWith - ccWith);
}

TEST(PreviewHeader, FieldsDateAndFormat) {
  auto message = Load(Corpus("msg/mrdr_EmailWithAttachments.msg"));
  ShownPanel shown;
  shown.Display(message->Properties());
  const TMSGProperties& p = message->Properties();
  EXPECT_EQ(shown.panel.edSubject->text().toStdU16String(), p.GetSubject());
  EXPECT_EQ(shown.panel.edFrom->text().toStdU16String(), p.GetFrom());
  EXPECT_FALSE(shown.panel.edSent->text().isEmpty());
  EXPECT_EQ(shown.panel.cbMessageFormat->currentIndex(), p.BodyFormat);
  EXPECT_FALSE(shown.panel.cbMessageFormat->isEnabled());

  // At exactly midnight the time is left out.
  TQvMessage midnight;
  midnight.Properties().AddProperty(0x00390040, TVariant::FromDateTime(45000.0));
  midnight.Properties().AddProperty(0x00390040, TVariant::FromDateTime(45000.0));
  ShownPanel other;
  other.Display(midnight.Properties());
  const QString date = other.panel.edSent->text();
  EXPECT_FALSE(date.isEmpty());
  EXPECT_FALSE(date.contains(':')) << date.toStdString();
}

// Answers the save dialog with a fixed path and records what it proposed.
struct FakeDialogs {
  QString answer;
  QString proposed;
  QStringList errors;
  FakeDialogs() {
    FileDialogs().SaveFileName = [this](QWidget*, const QString&, const QString& initial,
                                        const QString&, QString*,
                                        const std::function<QString(int, const QString&)>&) {
      proposed = initial;
      return answer;
    };
    FileDialogs().Error = [this](QWidget*, const QString& text) { errors << text; };
  }
  ~FakeDialogs() { FileDialogs() = StandardFileDialogs(); }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PreviewAttachments, ListOfEmbeddedMessageAndFiles) {
  auto message = Load(Corpus("msg/mrdr_EmailWithInnerMailAndAttachments.msg"));
  ShownPanel shown;
  shown.Display(message->Properties());
  QListWidget* list = shown.panel.lvAttachments;
  ASSERT_EQ(shown.panel.AttachmentCount(), message->Properties().AttachmentCount());
  ASSERT_EQ(list->count(), 3);
  EXPECT_TRUE(list->isVisible());
  int files = 0, messages = 0;
  for (int i = 0; i < list->count(); ++i) {
    const int image = list->item(i)->data(TfrmMessage::kImageRole).toInt();
    files += image == 0;
    messages += image == 1;
    EXPECT_FALSE(list->item(i)->icon().isNull());
  }
  EXPECT_EQ(files, 2);
  EXPECT_EQ(messages, 1);

  // The popup's first item names the encoding; an OLE object could not be saved.
  for (int i = 0; i < list->count(); ++i) {
    list->setCurrentRow(i);
    shown.panel.pmAttachmentPopup();
    const bool isMessage = list->item(i)->data(TfrmMessage::kImageRole).toInt() == 1;
    EXPECT_EQ(shown.panel.miEncoding->text(),
              isMessage ? QString("Encoding:  forwarded message")
                        : "Encoding: " + list->item(i)->data(TfrmMessage::kMimeTagRole).toString());
    EXPECT_TRUE(shown.panel.miAttachSave->isEnabled());
  }
}

TEST(PreviewAttachments, OpeningAnEmbeddedMessageShowsItsSubject) {
  auto message = Load(Corpus("msg/mrdr_EmailWithInnerMailAndAttachments.msg"));
  ShownPanel shown;
  shown.Display(message->Properties());
  QListWidget* list = shown.panel.lvAttachments;
  int row = -1;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->data(TfrmMessage::kImageRole).toInt() == 1)
      row = i;
  ASSERT_GE(row, 0);
  const TMSGProperty* node = message->Properties().GetAttachment(row);
  const TMSGProperty* inner = node->SubProperties().FindProperty(0x37010000, true, true);
  const QString expected = QString::fromStdU16String(inner->SubProperties().GetSubject());
  ASSERT_FALSE(expected.isEmpty());

  QString seenSubject, seenTitle;
  QTimer::singleShot(0, [&] {
    WaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr)
      return;
    seenTitle = modal->windowTitle();
    if (auto* inner = modal->findChild<TfrmMessage*>())
      seenSubject = inner->edSubject->text();
    modal->close();
  });
  list->setCurrentRow(row);
  shown.panel.lvAttachmentsDblClick();
  EXPECT_EQ(seenSubject, expected);
  EXPECT_EQ(seenTitle, list->item(row)->text());
}

TEST(PreviewAttachments, SaveWritesTheStoredBytesAndEmbeddedMessagesAsMsg) {
  auto message = Load(Corpus("msg/mrdr_EmailWithInnerMailAndAttachments.msg"));
  const TMSGProperties& p = message->Properties();
  ShownPanel shown;
  shown.settings.DirKind = 1;
  shown.Display(p);
  const std::string folder = testing::TempDir() + "preview_save/";
  std::filesystem::create_directories(folder);
  FakeDialogs dialogs;
  for (int i = 0; i < shown.panel.lvAttachments->count(); ++i) {
    QListWidgetItem* item = shown.panel.lvAttachments->item(i);
    const std::string target = folder + "out" + std::to_string(i);
    dialogs.answer = QString::fromStdString(target);
    shown.panel.lvAttachments->setCurrentRow(i);
    shown.panel.miAttachSaveClick(2);
    if (item->data(TfrmMessage::kImageRole).toInt() == 0) {
      TMemoryStream stored;
      p.SaveAttachmentToStream(i, stored);
      EXPECT_EQ(ReadFile(target), stored.Data()) << i;
      EXPECT_TRUE(dialogs.proposed.endsWith(item->data(TfrmMessage::kFileNameRole).toString()));
    } else {
      QString name = item->text() + ".msg";
      name.replace('/', '_').replace(':', '_');
      EXPECT_TRUE(dialogs.proposed.endsWith(name)) << dialogs.proposed.toStdString();
      auto saved = Load(target);
      EXPECT_FALSE(saved->Properties().GetSubject().empty());
    }
    EXPECT_EQ(shown.settings.LastUsedDir + "/", folder);
    EXPECT_TRUE(shown.settings.SettingsChanged);
  }
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST(PreviewAttachments, OpenSavesIntoThePrivateFolderUnderASafeName) {
  TQvMessage message;
  TMSGProperty* node = message.Properties().Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  node->Value = TVariant::FromBytes("__attach_version1.0_#00000000");
  node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(u"../../evil\x01name.txt"));
  TMSGProperty* data =
      node->SubProperties().AddProperty(0x37010102, TVariant::FromBytes("payload"));
  data->DataSize = 7;
  ShownPanel shown;
  shown.Display(message.Properties());
  previewtest::UrlCatcher catcher({"file"});
  shown.panel.lvAttachments->setCurrentRow(0);
  shown.panel.miAttachSaveClick(1);
  ASSERT_EQ(catcher.Urls.size(), 1);
  ASSERT_TRUE(catcher.Urls[0].isLocalFile());
  const std::string path = catcher.Urls[0].toLocalFile().toStdString();
  const std::string folder = TTempFiles::Instance().Folder();
  EXPECT_EQ(path.rfind(folder, 0), 0u) << path;
  EXPECT_EQ(std::filesystem::path(path).filename(), "evilname.txt");
  EXPECT_EQ(ReadFile(path), "payload");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

TEST(PreviewAttachments, OpeningWhatRunsAsAProgramAsksFirst) {
  const struct {
    std::u16string name;
    std::string data;
    bool asks;
  } cases[] = {
      {u"notes.txt", "plain words", false},
      {u"photo.JPG", "\xFF\xD8\xFF", false},
      {u"launch.desktop", "[Desktop Entry]\nExec=rm -rf ~\n", true},
      {u"setup.sh", "echo hi", true},
      {u"tool.jar", "PK\x03\x04", true},
      {u"invoice.exe", "MZ\x90", true},
      {u"Viewer.AppImage",
       "\x7F"
       "ELF",
       true},
      {u"report.py", "print(1)", true},
      {u"script.pl", "print 1", true},
      {u"readme", "#!/bin/sh\nrm -rf ~", true}, // no extension, but a script all the same
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    for (bool yes : {false, true}) {
      TQvMessage message;
      TMSGProperty* node = message.Properties().Add();
      node->TagID = TAG_ATTACHMENT_NODE;
      node->Value = TVariant::FromBytes("__attach_version1.0_#00000000");
      node->SubProperties().AddProperty(0x3707001F, TVariant::FromWide(c.name));
      node->SubProperties().AddProperty(0x37010102, TVariant::FromBytes(c.data))->DataSize =
          static_cast<int32_t>(c.data.size());
      ShownPanel shown;
      shown.Display(message.Properties());
      previewtest::UrlCatcher catcher({"file"});
      QStringList questions;
      FileDialogs().AskYesNo = [&](QWidget*, const QString& text) {
        questions << text;
        return yes;
      };
      shown.panel.lvAttachments->setCurrentRow(0);
      shown.panel.miAttachSaveClick(1);
      FileDialogs() = StandardFileDialogs();
      EXPECT_EQ(questions.size(), c.asks ? 1 : 0);
      if (c.asks) {
        EXPECT_TRUE(questions[0].contains(QString::fromStdU16String(c.name)));
      }
      ASSERT_EQ(catcher.Urls.size(), !c.asks || yes ? 1 : 0);
      if (!catcher.Urls.isEmpty()) {
        const auto perms =
            std::filesystem::status(catcher.Urls[0].toLocalFile().toStdString()).permissions();
        EXPECT_EQ(perms & (std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                           std::filesystem::perms::others_exec),
                  std::filesystem::perms::none);
      }
    }
  }
}

TEST(PreviewHeader, DatesFollowTheInterfaceLanguageAndLongTextsAreCut) {
  TQvMessage message;
  // 9 December 2025, 14:30, and a subject far longer than a field can show.
  message.Properties().AddProperty(0x00390040, TVariant::FromDateTime(46000 + 14.5 / 24));
  message.Properties().AddProperty(0x0037001F,
                                   TVariant::FromWide(std::u16string(3'000'000, u'x') + u"END"));
  SetInterfaceLanguage(QStringLiteral("/somewhere/languages/german.lng"));
  ShownPanel shown;
  shown.Display(message.Properties());
  EXPECT_EQ(shown.panel.edSent->text(), "09.12.2025 14:30");
  EXPECT_LE(shown.panel.edSubject->text().size(), kOneLineChars + 1);
  EXPECT_TRUE(shown.panel.edSubject->text().startsWith("xxx"));
  SetInterfaceLanguage(QString());
  shown.Display(message.Properties());
  EXPECT_EQ(shown.panel.edSent->text().toStdString(), DateTimeToText(46000 + 14.5 / 24));
}

TEST(DisplayLimits, LongLinesAndLongTextsAreCutAndSaySo) {
  EXPECT_EQ(BoundedText(u"short\r\nlines\r\n"), "short\r\nlines\r\n"); // within: unchanged
  const QString cut = BoundedText(u"ab\r\n" + std::u16string(50, u'y') + u"\nz", 1000, 10);
  EXPECT_EQ(cut, QString("ab\n") + QString(10, 'y') +
                     QString::fromUtf8("\u2026 [40 more characters]") + "\nz");
  const QString total =
      BoundedText(std::u16string(30, u'a') + u"\n" + std::u16string(30, u'b'), 20, 100);
  EXPECT_TRUE(total.startsWith(QString(30, 'a') + "\n"));
  EXPECT_TRUE(total.endsWith("[30 more characters not shown]")) << total.toStdString();
  // A surrogate pair is never cut in half.
  const QString pair = BoundedText(std::u16string(9, u'a') + u"\U0001F600" + u"tail", 1000, 10);
  EXPECT_TRUE(pair.startsWith(QString(9, 'a') + QString::fromUtf8("\u2026"))) << pair.toStdString();
}

// A value that reads as UTF-8 is bounded from its bytes: what the views show is what they show of
// its wide text.
TEST(DisplayLimits, Utf8TextIsBoundedAsItsWideText) {
  const std::string lines[] = {"short\r\nlines\r\n", "ab\r\n" + std::string(50, 'y') + "\nz",
                               std::string(30, 'a') + "\n" + std::string(30, 'b'),
                               std::string(9, 'a') + "\xF0\x9F\x98\x80" + "tail",
                               "\xC3\xA4\xE2\x82\xAC" + std::string(12, 'x') + "\r" +
                                   "\xE4\xB8\xAD"};
  for (const std::string& text : lines) {
    const std::u16string wide =
        QString::fromUtf8(text.data(), qsizetype(text.size())).toStdU16String();
    for (const auto& [chars, line] : {std::pair{1000, 10}, std::pair{20, 100}, std::pair{8, 4}})
      EXPECT_EQ(BoundedUtf8Text(text, chars, line), BoundedText(wide, chars, line))
          << text << " " << chars << " " << line;
    EXPECT_EQ(OneLineUtf8Text(text), OneLineText(wide));
  }
  const std::string huge(kOneLineChars + 5, 'q');
  EXPECT_EQ(OneLineUtf8Text(huge), OneLineText(std::u16string(huge.begin(), huge.end())));
}

TEST(PreviewBody, FindSelectsTheFirstOccurrenceOrSaysItIsMissing) {
  TQvMessage message;
  message.Properties().AddProperty(0x1000001F, TVariant::FromWide(u"one two\r\nthree two"));
  ShownPanel shown;
  shown.Display(message.Properties());
  FakeDialogs dialogs;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(shown.panel.FindDialogFind("two"));
    EXPECT_EQ(shown.panel.reBody->textCursor().selectionStart(), 4);
    EXPECT_EQ(shown.panel.reBody->textCursor().selectedText(), "two");
  }
  EXPECT_FALSE(shown.panel.FindDialogFind("Two"));
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_EQ(dialogs.errors[0], "Could not find \"Two\" in body.");
}

TEST(PreviewBody, WordWrapFollowsAndUpdatesTheSetting) {
  TQvMessage message;
  message.Properties().AddProperty(0x1000001F, TVariant::FromWide(u"text"));
  ShownPanel shown;
  shown.settings.WordWrap = true;
  shown.Display(message.Properties());
  EXPECT_TRUE(shown.panel.btnWordWrap->isChecked());
  EXPECT_EQ(shown.panel.reBody->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  shown.panel.btnWordWrapClick();
  EXPECT_FALSE(shown.settings.WordWrap);
  EXPECT_TRUE(shown.settings.SettingsChanged);
  EXPECT_FALSE(shown.panel.btnWordWrap->isChecked());
  EXPECT_EQ(shown.panel.reRTFBody->lineWrapMode(), QTextEdit::NoWrap);
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// Items that are not mail get their own block instead of the sender and recipient rows: an
// appointment its time in its zone and the reader's, a recurring one its pattern in words and
// its changes, a contact its card; mail keeps the rows and no block.
TEST(PreviewItems, AppointmentsAndContactsShowAsSuch) {
  struct Case {
    const char* file;
    bool block;
    std::vector<const char*> texts;
  };
  const Case cases[] = {
      {"msg/kmr_Appointment_sample_EST.msg",
       true,
       {"When:", "Sunday, 4 December 2022 08:00\xE2\x80\x93"
                 "08:30 (Eastern Standard Time)"}},
      {"msg/kmr_Lanch_time_every_friday_in_2023_chgs2.msg",
       true,
       {"Every Friday from 6 January 2023 until 31 December 2023", "Cancelled: 6 January 2023",
        "Moved: 13 January 2023 12:00 to 12 January 2023 12:00"}},
      {"msg/poi_msgClassContact.msg",
       true,
       {"Dr Quick Brown Fox Jr", "Fence Co", "quickbrown@gmail.com", "(456) 789-0123",
        "12 Lazy Dog Lane"}},
      {"msg/jotl_generated_base-message.msg", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto message = Load(Corpus(c.file));
    ShownPanel shown;
    ASSERT_TRUE(shown.Display(message->Properties()));
    EXPECT_EQ(!shown.panel.pnlItem->isHidden(), c.block);
    EXPECT_EQ(shown.panel.pnlHeader->isHidden(), c.block);
    const QString text = shown.panel.pnlItem->toPlainText();
    for (const char* t : c.texts)
      EXPECT_TRUE(text.contains(QString::fromUtf8(t))) << t << "\n" << text.toStdString();
  }
}

// Signed messages show the content that was signed (its images inline, its files listed, not the
// signature) under a banner that names the signer and says whether the signature holds; the
// check runs off the UI thread. Changing one letter of the signed text breaks the signature.
TEST(PreviewSecurity, SignedMessagesShowTheirContentUnderASignatureBanner) {
  testutil::TempDir dir;
  {
    std::ifstream in(Corpus("eml/mimekit_thunderbird-signed.eml"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find("being generated");
    ASSERT_NE(at, std::string::npos);
    text[at + 6] = 'G';
    std::ofstream(dir.File("tampered.eml"), std::ios::binary) << text;
  }
  const struct {
    std::string file;
    const char* banner;
    const char* listed;
  } cases[] = {
      {Corpus("msg/omp_S_MIME_test_message_signed.msg"), "Signed by Benny Bottema",
       "03-07-2005 errata SharnErrata.pdf"},
      {Corpus("eml/mimekit_thunderbird-signed.eml"), "Signed by ", "signed.jpg"},
      {dir.File("tampered.eml"), "The signature is NOT valid", "signed.jpg"},
      {Corpus("msg/poi_logsat.com_signatures_valid.msg"), "Signed by ", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto message = Load(c.file);
    ShownPanel shown;
    ASSERT_TRUE(shown.Display(message->Properties()));
    ASSERT_TRUE(WaitFor([&] { return !shown.panel.CheckingSignatures(); }));
    EXPECT_TRUE(shown.panel.lblSecurity->isVisible());
    EXPECT_TRUE(shown.panel.lblSecurity->text().contains(c.banner))
        << shown.panel.lblSecurity->text().toStdString();
    QStringList listed;
    for (int i = 0; i < shown.panel.lvAttachments->count(); ++i)
      listed << shown.panel.lvAttachments->item(i)->data(TfrmMessage::kFileNameRole).toString();
    EXPECT_EQ(listed, c.listed != nullptr ? QStringList{c.listed} : QStringList{})
        << listed.join(", ").toStdString();
  }
  // The image the signed HTML shows comes from inside the signed attachment.
  auto signedMsg = Load(Corpus("msg/omp_S_MIME_test_message_signed.msg"));
  ShownPanel shown;
  ASSERT_TRUE(shown.Display(signedMsg->Properties()));
  EXPECT_TRUE(WaitFor([&] {
    return shown
        .Js("document.images.length > 0 && document.images[0].complete && "
            "document.images[0].naturalWidth > 0")
        .toBool();
  }));
  // A message that is not signed has no banner.
  auto plain = Load(Corpus("msg/jotl_generated_base-message.msg"));
  shown.Display(plain->Properties());
  EXPECT_FALSE(shown.panel.lblSecurity->isVisible());
  EXPECT_FALSE(shown.panel.CheckingSignatures());
}

} // namespace
} // namespace orlendo
