// The shipped German language file, the language submenu, and the translation of the window and
// of every dialog.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/ini_file.h"
#include "app/message_strings.h"
#include "app/settings.h"
#include "components/form_preparation.h"
#include "components/msg_panel.h"
#include "components/qv_ilogon.h"
#include "model/qvmsg.h"
#include "shell/window/about_box.h"
#include "shell/window/att_select.h"
#include "shell/window/convert_dialog.h"
#include "shell/window/desktop.h"
#include "shell/window/language_menu.h"
#include "shell/window/main_window.h"
#include "shell/window/options_dialog.h"
#include "shell/window/qv_language.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

const QString kGerman = GetLanguagesFolder() + "german.lng";
const std::string kWithAttachments =
    std::string(ORLENDO_CORPUS_DIR) + "/msg/mrdr_EmailWithAttachments.msg";
const std::string kWithInnerMail =
    std::string(ORLENDO_CORPUS_DIR) + "/msg/mrdr_EmailWithInnerMailAndAttachments.msg";

struct Caption {
  QString where;
  QString text;
};

// Every text of form a user reads and a language file can reach: titles, menu and action
// captions, button, label and group captions, tab captions, tool tips set on buttons and the
// items of drop-down lists. Texts that are data, not captions, are left out: the reopen list and
// the language items (they carry data), identifiers, addresses, the version and the product
// name.
std::vector<Caption> Captions(QWidget* form) {
  static const QStringList kData = {"lblVersion", "lblHomePage", "lblMail", "lblNorvane",
                                    "cbFileName", "cbPropCategory", "cbPropType",
                                    // rebuilt from the attachment each time the popup opens
                                    "miEncoding"};
  std::vector<Caption> out;
  auto add = [&](QObject* o, const char* property, const QString& text) {
    // The same in German, or fixed: the product name and the window's caption.
    static const QStringList kSame = {"Orlendo", "Orlendo (*.msg)", "...", "OK", "&OK"};
    if (text.trimmed().isEmpty() || kSame.contains(text) || kData.contains(o->objectName()))
      return;
    out.push_back(
        {o->objectName() + "." + property + " (" + o->metaObject()->className() + ")", text});
  };
  QList<QObject*> all = form->findChildren<QObject*>();
  all.prepend(form);
  for (QObject* o : all) {
    if (auto* a = qobject_cast<QAction*>(o)) {
      if (!a->isSeparator() && !a->data().isValid() && !a->menu())
        add(o, "Caption", a->text());
    } else if (auto* m = qobject_cast<QMenu*>(o)) {
      add(o, "Caption", m->title());
    } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
      add(o, "Caption", g->title());
    } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
      if (!qobject_cast<QToolButton*>(o)) // tool-bar buttons show their action's icon
        add(o, "Caption", b->text());
      add(o, "Hint", b->toolTip());
    } else if (auto* l = qobject_cast<QLabel*>(o)) {
      add(o, "Caption", l->text());
    } else if (auto* c = qobject_cast<QComboBox*>(o)) {
      if (!c->isEditable())
        for (int i = 0; i < c->count(); ++i)
          add(o, "Items", c->itemText(i));
    } else if (auto* t = qobject_cast<QTabWidget*>(o)) {
      for (int i = 0; i < t->count(); ++i)
        add(t->widget(i), "Caption", t->tabText(i));
    }
  }
  if (form->isWindow())
    add(form, "Caption", form->windowTitle());
  return out;
}

class Translation : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = DesktopHooks();
    DesktopHooks().ShowMessage = [this](QWidget*, const QString& text) { messages_ << text; };
    DesktopHooks().Beep = [] {};
    std::filesystem::remove(GetIniFileName(true));
  }
  void TearDown() override {
    DesktopHooks() = saved_;
    ResetMessageStrings();
    FormPreparation() = nullptr;
    std::filesystem::remove(GetIniFileName(true));
  }
  TDesktopHooks saved_;
  QStringList messages_;
};

TEST_F(Translation, GermanFileCoversEveryCaptionAndMessageString) {
  ASSERT_TRUE(QFileInfo(kGerman).isFile()) << kGerman.toStdString();
  TSettings settings;
  TfrmMain window({"/NOINI"});
  TfrmMessage preview(nullptr, &settings);
  TfrmOptions options(settings);
  TfrmAbout about;
  TfrmAttachments attachments;
  TfrmQvILogon logon;
  TfrmConvert convert;
  QWidget* forms[] = {&window, &preview, &options, &about, &attachments, &logon, &convert};
  std::vector<std::vector<Caption>> english;
  for (QWidget* form : forms)
    english.push_back(Captions(form));

  settings.LangFile = kGerman.toStdString();
  TranslateForm(*window.QvLanguage, settings, nullptr, &window, [](const QString&) {});

  std::string untranslated;
  size_t checked = 0;
  for (size_t f = 0; f < std::size(forms); ++f) {
    const std::vector<Caption> german = Captions(forms[f]);
    for (const Caption& before : english[f]) {
      ++checked;
      for (const Caption& after : german)
        if (after.where == before.where && after.text == before.text)
          untranslated += "\n  " + forms[f]->objectName().toStdString() + ": " +
                          before.where.toStdString() + " = \"" + before.text.toStdString() + "\"";
    }
  }
  EXPECT_GT(checked, 100u);
  EXPECT_EQ(untranslated, "") << "captions the German file leaves in English:";

  const TIniFile ini(kGerman.toStdString());
  for (const TMessageString& s : MessageStringTable()) {
    EXPECT_TRUE(ini.ValueExists("Custom", s.Key)) << s.Key;
    EXPECT_NE(MessageString(s.Key), s.Default) << s.Key;
  }
  EXPECT_EQ(window.findChild<QLabel*>("lblFileName")->text(), "Dateiname:");
  EXPECT_EQ(window.windowTitle(), "Orlendo (*.msg)");
}

TEST_F(Translation, LanguageMenuListsFilesSortedWithIcons) {
  testutil::TempDir dir;
  for (const char* name : {"german.lng", "FRENCH.lng", "abc.lng", "notes.txt"})
    std::ofstream(dir.File(name)) << "[Translations]\n";
  QImage flag(32, 20, QImage::Format_RGB32);
  flag.fill(Qt::red);
  ASSERT_TRUE(flag.save(QString::fromStdString(dir.File("GERMAN.BMP")), "BMP"));
  std::ofstream(dir.File("abc.bmp")) << "not a picture";

  QMenu menu;
  QAction line(&menu);
  std::vector<QAction*> chosen;
  EXPECT_EQ(BuildLanguageMenu(&menu, &line, QString::fromStdString(dir.Path()), 16,
                              [&](QAction* item) { chosen.push_back(item); }),
            3);
  QStringList captions;
  for (QAction* a : menu.actions())
    captions << a->text();
  EXPECT_EQ(captions, QStringList({"use default language", "Abc", "French", "German"}));
  const QList<QAction*> items = menu.actions();
  EXPECT_EQ(items[0]->property("tag").toInt(), 1000);
  EXPECT_TRUE(items[1]->icon().isNull());
  EXPECT_TRUE(items[2]->icon().isNull());
  ASSERT_FALSE(items[3]->icon().isNull());
  EXPECT_EQ(items[3]->icon().availableSizes().value(0), QSize(16, 16));
  EXPECT_EQ(items[2]->data().toString(), QString::fromStdString(dir.File("FRENCH.lng")));
  EXPECT_TRUE(menu.menuAction()->isVisible() && line.isVisible());
  items[3]->trigger();
  items[0]->trigger();
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0], items[3]);
  EXPECT_EQ(chosen[1], items[0]);

  // Only the default item: the submenu and its separator are hidden.
  testutil::TempDir empty;
  EXPECT_EQ(BuildLanguageMenu(&menu, &line, QString::fromStdString(empty.Path()), 16, {}), 0);
  EXPECT_EQ(menu.actions().size(), 1);
  EXPECT_FALSE(menu.menuAction()->isVisible() || line.isVisible());
}

TEST_F(Translation, WindowAppliesStoredLanguageAndTheMenuChangesIt) {
  std::ofstream(GetIniFileName(true)) << "[Options]\nLangFile=" << kGerman.toStdString() << "\n";
  TfrmMain window({"/NOINI"});
  EXPECT_EQ(window.miFile->title(), "&Datei");
  EXPECT_EQ(window.PageControl->tabText(0), "Vorschau");
  EXPECT_EQ(MessageString("strFileRecent"), "Zuletzt geöffnete Dateien");
  ASSERT_TRUE(window.miViewLanguage->menuAction()->isVisible());
  QAction* german = window.miViewLanguage->findChild<QAction*>("miLanguageGerman");
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(german->text(), "German");

  window.Settings().LangFile.clear();
  german->trigger();
  EXPECT_EQ(window.Settings().LangFile, kGerman.toStdString());
  EXPECT_TRUE(window.Settings().SettingsChanged);

  // The default language comes back only after a restart: the texts stay, the file is gone.
  window.miViewLanguage->actions().front()->trigger();
  EXPECT_EQ(window.Settings().LangFile, "");
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].startsWith("Die Standardsprache")) << messages_[0].toStdString();
  EXPECT_EQ(window.miFile->title(), "&Datei");
}

TEST_F(Translation, EveryDialogIsTranslatedBeforeItShows) {
  std::ofstream(GetIniFileName(true)) << "[Options]\nLangFile=" << kGerman.toStdString() << "\n";
  TfrmMain window({"/NOINI"});
  // What the dialog showed when it came up, before it is closed again.
  auto capture = [](QString& title, QString& button) {
    QTimer::singleShot(0, [&title, &button] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      title = dialog->windowTitle();
      for (const char* name : {"btnCancel", "lblCopyright", "lblFrom"})
        if (auto* w = dialog->findChild<QWidget*>(name))
          button = w->property("text").toString();
      qobject_cast<QDialog*>(dialog)->reject();
    });
  };
  struct Seen {
    QString title, text;
  } about, options, attachments, logon, embedded;
  capture(about.title, about.text);
  window.miHelpAboutClick();
  capture(options.title, options.text);
  window.miViewOptionsClick();

  auto message = CreateMessageForFile(kWithAttachments);
  message->LoadFromFile(kWithAttachments);
  TfrmMessage panel(nullptr, &window.Settings());
  panel.DisplayMessage(&message->Properties());
  capture(attachments.title, attachments.text);
  SaveAttachmentsCommand(nullptr, panel, window.Settings(), kWithAttachments);

  // The window of an embedded message, opened from the docked preview.
  window.cbFileName->setEditText(QString::fromStdString(kWithInnerMail));
  window.LoadMessage();
  QListWidget* list = window.frmMessage->lvAttachments;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->data(TfrmMessage::kImageRole).toInt() == 1)
      list->setCurrentRow(i);
  ASSERT_GE(list->currentRow(), 0);
  capture(embedded.title, embedded.text);
  window.frmMessage->lvAttachmentsDblClick();

  capture(logon.title, logon.text);
  QString user, password;
  ShowLogonDialog("", user, password);

  EXPECT_EQ(about.title, "Über Orlendo...");
  EXPECT_EQ(about.text, "Copyright (c) Norvane Software. Alle Rechte vorbehalten.");
  EXPECT_EQ(options.title, "Einstellungen");
  EXPECT_EQ(options.text, "&Abbrechen");
  EXPECT_EQ(attachments.title, "Zu speichernde Anlagen auswählen");
  EXPECT_EQ(attachments.text, "&Abbrechen");
  EXPECT_EQ(embedded.text, "Von:");
  EXPECT_EQ(logon.title, "Kennwort eingeben");
  EXPECT_EQ(logon.text, "&Abbrechen");
}

} // namespace
} // namespace orlendo
