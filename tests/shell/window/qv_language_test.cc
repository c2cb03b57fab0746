#include "shell/window/qv_language.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <fstream>

#include "app/message_strings.h"
#include "app/settings.h"
#include "components/form_preparation.h"
#include "components/qv_ilogon.h"
#include "model/stream.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

template <class T> T* Make(QWidget* parent, const char* name) {
  auto* w = new T(parent);
  w->setObjectName(name);
  return w;
}

// A window in the shape of the program's forms: a menu action, a drop-down list, a list, a tab
// page, a radio group, a multi-line text, a label and a button.
struct TestForm {
  TestForm() {
    window.setObjectName("frmLangTest");
    window.setWindowTitle("Test");
    auto* central = Make<QWidget>(&window, "pnlCentral");
    window.setCentralWidget(central);
    QMenu* file = window.menuBar()->addMenu("&File");
    file->setObjectName("miFile");
    open = file->addAction("&Open...\tCtrl+O");
    open->setObjectName("miOpen");
    format = Make<QComboBox>(central, "cbDefaultFormat");
    format->addItems({"any", "Text format", "Richtext format", "HTML format"});
    format->setCurrentIndex(2);
    list = Make<QListWidget>(central, "lbList");
    list->addItems({"one", "two"});
    tabs = Make<QTabWidget>(central, "pcPages");
    tabs->addTab(Make<QWidget>(nullptr, "tsGeneral"), "General");
    tabs->addTab(Make<QWidget>(nullptr, "tsMode"), "Mode");
    saveMode = Make<QGroupBox>(tabs->widget(1), "rgSaveMode");
    Make<QRadioButton>(saveMode, "rb0")->setText("all original properties");
    Make<QRadioButton>(saveMode, "rb1")->setText("only common used properties");
    notes = Make<QPlainTextEdit>(central, "meNotes");
    label = Make<QLabel>(central, "lblName");
    label->setText("Name:");
    ok = Make<QPushButton>(central, "btnOk");
    ok->setText("&OK");
    ok->resize(75, 25);
    window.show();
  }
  QMainWindow window;
  QAction* open;
  QComboBox* format;
  QListWidget* list;
  QTabWidget* tabs;
  QGroupBox* saveMode;
  QPlainTextEdit* notes;
  QLabel* label;
  QPushButton* ok;
};

class LanguageFile : public ::testing::Test {
protected:
  QString Write(const std::string& name, const std::string& text) {
    const std::string path = tmp_.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return QString::fromStdString(path);
  }
  void TearDown() override {
    ResetMessageStrings();
    FormPreparation() = nullptr;
  }
  testutil::TempDir tmp_;
};

const char* kGerman = "\xEF\xBB\xBF; a translator's comment\r\n"
                      "[Translations]\r\n"
                      "frmLangTest.miFile.Caption=&Datei\r\n"
                      "frmLangTest.miOpen.Caption=&\xC3\x96"
                      "ffnen...~Strg+O\r\n"
                      "FRMLANGTEST.cbDefaultFormat.Items=beliebig|Text|RTF|HTML|\r\n"
                      "frmLangTest.lbList.Items=eins\r\n"
                      "frmLangTest.tsMode.Caption=Modus\r\n"
                      "frmLangTest.pcPages.rgSaveMode.Items=alle | nur gebr\xC3\xA4uchliche\r\n"
                      "frmLangTest.meNotes.Lines=erste|zweite\r\n"
                      "frmLangTest.btnOk.Hint=Best\xC3\xA4tigen|Schlie\xC3\x9ft den Dialog\r\n"
                      "frmLangTest.lblName.Caption=Name (1):\r\n"
                      "frmLangTest.lblName.Caption=Name (2):\r\n"
                      "frmLangTest.btnOk.Width=120\r\n"
                      "frmLangTest.noSuchWidget.Caption=x\r\n"
                      "frmLangTest.btnOk.NoSuchProperty=x\r\n"
                      "frmLangTest.btnOk.Caption=\r\n"
                      "noSuchForm.btnOk.Caption=x\r\n"
                      "\r\n"
                      "[Custom]\r\n"
                      "strFileRecent=Zuletzt ge\xC3\xB6"
                      "ffnet\r\n"
                      "strSetDefaultLanguage=Neustart n\xC3\xB6tig\r\n";

TEST_F(LanguageFile, TranslatesCaptionsItemsHintsAndLines) {
  TestForm form;
  TQvLanguage language;
  language.SetStringsSeparator("|");
  std::vector<std::pair<QString, QString>> seen; // (object, old value)
  int before = 0, after = 0;
  language.OnBeforeTranslation = [&](TQvLanguage*) { ++before; };
  language.OnAfterTranslation = [&](TQvLanguage*) { ++after; };
  language.OnTranslate = [&](TQvLanguage*, QObject* component, QString& value,
                             const QString& oldValue, const QString& property) {
    seen.emplace_back(component->objectName() + "." + property, oldValue);
    if (component->objectName() == "meNotes")
      value += "|dritte";
  };
  language.Translate(Write("german.lng", kGerman));

  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(form.window.findChild<QMenu*>("miFile")->title(), "&Datei");
  EXPECT_EQ(form.open->text(), QString::fromUtf8("&\xC3\x96"
                                                 "ffnen...\tStrg+O"));
  ASSERT_EQ(form.format->count(), 4); // the empty last piece is dropped
  EXPECT_EQ(form.format->itemText(0), "beliebig");
  EXPECT_EQ(form.format->currentIndex(), 2);
  ASSERT_EQ(form.list->count(), 1);
  EXPECT_EQ(form.list->item(0)->text(), "eins");
  EXPECT_EQ(form.tabs->tabText(1), "Modus");
  EXPECT_EQ(form.saveMode->findChild<QRadioButton*>("rb1")->text(),
            QString::fromUtf8("nur gebr\xC3\xA4uchliche"));
  EXPECT_EQ(form.notes->toPlainText(), "erste\nzweite\ndritte");
  EXPECT_EQ(form.ok->toolTip(), QString::fromUtf8("Best\xC3\xA4tigen"));
  EXPECT_EQ(form.ok->statusTip(), QString::fromUtf8("Schlie\xC3\x9ft den Dialog"));
  EXPECT_EQ(form.ok->width(), 120);
  EXPECT_EQ(form.ok->text(), "&OK"); // an empty value is ignored
  // Two lines with one name: both apply the first line's value.
  EXPECT_EQ(form.label->text(), "Name (1):");
  int labelCalls = 0;
  for (const auto& [name, old] : seen)
    if (name == "lblName.Caption")
      ++labelCalls;
  EXPECT_EQ(labelCalls, 2);
  EXPECT_EQ(seen.front(), std::make_pair(QString("miFile.Caption"), QString("&File")));

  EXPECT_EQ(language.ReadCustomString("strFileRecent", "x"), "x") << "no ResourceFile yet";
  language.SetResourceFile(Write("german.lng", kGerman));
  EXPECT_EQ(language.ReadCustomString("strFileRecent", "x"), QString::fromUtf8("Zuletzt ge\xC3\xB6"
                                                                               "ffnet"));
  EXPECT_EQ(language.ReadCustomString("strMissing", "default"), "default");
}

TEST_F(LanguageFile, SeparatorBadIntegersAndMissingFiles) {
  TestForm form;
  TQvLanguage language;
  // Without a separator the whole value is one item; a blank separator stands for CR LF.
  language.Translate(Write("a.lng", "[Translations]\nfrmLangTest.lbList.Items= a|b \n"));
  ASSERT_EQ(form.list->count(), 1);
  EXPECT_EQ(form.list->item(0)->text(), "a|b");
  language.SetStringsSeparator("  ");
  EXPECT_EQ(language.StringsSeparator(), "\r\n");

  EXPECT_THROW(language.Translate(Write("b.lng", "[Translations]\nfrmLangTest.btnOk.Width=wide\n"
                                                 "frmLangTest.lblName.Caption=later\n")),
               EMSGError);
  EXPECT_EQ(form.label->text(), "later") << "the lines after the bad one still apply";
  form.label->setText("Name:");

  language.Translate(QString::fromStdString(tmp_.File("missing.lng")));
  EXPECT_EQ(form.label->text(), "Name:");
}

TEST_F(LanguageFile, TranslateFormAppliesStoresAndReloadsMessageStrings) {
  TestForm form;
  TQvLanguage language;
  TSettings settings;
  std::vector<QString> shown;
  auto show = [&](const QString& text) { shown.push_back(text); };

  // The built-in English needs no file.
  settings.LangFile = Write("english.lng", kGerman).toStdString();
  TranslateForm(language, settings, nullptr, &form.window, show);
  EXPECT_EQ(form.label->text(), "Name:");

  settings.LangFile = Write("german.lng", kGerman).toStdString();
  TranslateForm(language, settings, nullptr, &form.window, show);
  EXPECT_EQ(form.label->text(), "Name (1):");
  EXPECT_EQ(form.window.windowTitle(), "Orlendo (*.msg)");
  EXPECT_EQ(MessageString("strFileRecent"), "Zuletzt ge\xC3\xB6"
                                            "ffnet");
  EXPECT_EQ(MessageString("strFileOpened"), "Opened files");
  EXPECT_FALSE(settings.SettingsChanged);

  // A language item of the menu stores its file; "use default language" clears it and says
  // so, in the current language, and the texts stay until a restart.
  QAction german("&German");
  german.setData(QString::fromStdString(tmp_.File("german.lng")));
  settings.LangFile.clear();
  TranslateForm(language, settings, &german, &form.window, show);
  EXPECT_EQ(settings.LangFile, tmp_.File("german.lng"));
  EXPECT_TRUE(settings.SettingsChanged);
  QAction byDefault("use default language");
  byDefault.setProperty("tag", 1000);
  TranslateForm(language, settings, &byDefault, &form.window, show);
  EXPECT_EQ(settings.LangFile, "");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], QString::fromUtf8("Neustart n\xC3\xB6tig"));
  EXPECT_EQ(form.label->text(), "Name (1):");
  EXPECT_EQ(MessageString("strFileRecent"), "Zuletzt ge\xC3\xB6"
                                            "ffnet");
}

TEST_F(LanguageFile, DialogsAreTranslatedBeforeTheyShow) {
  TQvLanguage language;
  TSettings settings;
  settings.LangFile = Write("german.lng", "[Translations]\n"
                                          "frmQvILogon.Caption=Kennwort eingeben\n"
                                          "frmQvILogon.lblLogin.Caption=Benutzer:\n"
                                          "frmQvILogon.btnCancel.Caption=&Abbrechen\n")
                          .toStdString();
  FormPreparation() = [&](QWidget* form) {
    TranslateForm(language, settings, form, nullptr, [](const QString&) {});
  };
  QString title, label, cancel;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TfrmQvILogon*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    label = dialog->lblLogin->text();
    cancel = dialog->btnCancel->text();
    dialog->reject();
  });
  QString login, password;
  ShowLogonDialog("", login, password);
  EXPECT_EQ(title, "Kennwort eingeben");
  EXPECT_EQ(label, "Benutzer:");
  EXPECT_EQ(cancel, "&Abbrechen");
}

} // namespace
} // namespace orlendo
