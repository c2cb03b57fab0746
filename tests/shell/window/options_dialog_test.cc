#include "shell/window/options_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <tuple>

#include "app/settings.h"
#include "components/file_dialogs.h"

namespace orlendo {
namespace {

// Every setting the dialog edits.
auto Edited(const TSettings& s) {
  return std::make_tuple(s.LastOpened, s.BeepAfter, s.SaveFormPosition, s.DisableDialogAfterSave,
                         s.DefaultDir, s.DefaultFormat, s.AppMode, s.HideLogo, s.DirKind,
                         s.CustomDir, s.SaveMode);
}

TSettings Sample(bool flag, uint8_t small, const std::string& folder) {
  TSettings s;
  s.LastOpened = s.SaveFormPosition = s.HideLogo = flag;
  s.BeepAfter = s.DisableDialogAfterSave = !flag;
  s.DefaultDir = folder + "/open";
  s.CustomDir = folder + "/attachments";
  s.DefaultFormat = small;
  s.AppMode = small % 3;
  s.DirKind = small;
  s.SaveMode = small % 2;
  return s;
}

// Puts the values of want into the dialog's controls the way a user does: clicks and typing.
void Enter(TfrmOptions& d, const TSettings& want) {
  auto tick = [](QCheckBox* box, bool on) {
    if (box->isChecked() != on)
      box->click();
  };
  tick(d.cbOpenLast, want.LastOpened);
  tick(d.cbBeep, want.BeepAfter);
  tick(d.chkSaveFormSize, want.SaveFormPosition);
  tick(d.chkDisableMessageDialog, want.DisableDialogAfterSave);
  tick(d.chkHideLogo, want.HideLogo);
  d.edDefaultDirectory->setText(QString::fromStdString(want.DefaultDir));
  d.cbDefaultFormat->setCurrentIndex(want.DefaultFormat);
  QRadioButton* modes[] = {d.rbModeExtended, d.rbModeSimple, d.rbModeBasic};
  modes[want.AppMode]->click();
  QRadioButton* kinds[] = {d.rbAttachAppDir, d.rbAttachLastUsedDir, d.rbAttachFixedDir,
                           d.rbAttachMailDir};
  d.rbAttachFixedDir->click(); // the folder can be typed only while it is enabled
  d.edAttachDir->setText(QString::fromStdString(want.CustomDir));
  kinds[want.DirKind]->click();
  d.rgSaveMode->findChildren<QRadioButton*>()[want.SaveMode]->click();
}

TEST(OptionsDialog, RoundTripsEverySetting) {
  TSettings defaults;
  ASSERT_EQ(TfrmOptions(defaults).pcOptions->count(), 4);
  for (uint8_t small = 0; small < 4; ++small) {
    SCOPED_TRACE(small);
    const TSettings before = Sample(small % 2 == 0, small, "/tmp/a" + std::to_string(small));
    const TSettings after = Sample(small % 2 != 0, static_cast<uint8_t>(3 - small), "/srv/b");

    // Accepting without edits gives back what the dialog was shown.
    TSettings settings = before;
    {
      TfrmOptions dialog(settings);
      EXPECT_FALSE(dialog.cbExtAssociate->isEnabled());
      EXPECT_EQ(dialog.edAttachDir->isEnabled(), before.DirKind == 2);
      EXPECT_EQ(dialog.btnAttachDir->isEnabled(), before.DirKind == 2);
      dialog.btnOK->click();
    }
    EXPECT_EQ(Edited(settings), Edited(before));
    EXPECT_TRUE(settings.SettingsChanged);

    // Edited values reach the settings; a cancelled dialog changes nothing.
    settings = before;
    {
      TfrmOptions dialog(settings);
      Enter(dialog, after);
      dialog.btnCancel->click();
    }
    EXPECT_EQ(Edited(settings), Edited(before));
    EXPECT_FALSE(settings.SettingsChanged);
    {
      TfrmOptions dialog(settings);
      Enter(dialog, after);
      dialog.btnOK->click();
    }
    EXPECT_EQ(Edited(settings), Edited(after));
  }
}

TEST(OptionsDialog, OddStoredValuesAndTheFolderButtons) {
  TSettings settings;
  settings.DirKind = 7; // not a kind: the application folder
  settings.AppMode = 5; // no mode radio: the mode stays
  settings.CustomDir = "/keep";
  TFileDialogs saved = FileDialogs();
  QStringList asked;
  QString answer;
  FileDialogs().SelectFolder = [&](QWidget*, const QString& title, const QString& start) {
    asked << title + " @ " + start;
    return answer;
  };
  {
    TfrmOptions dialog(settings);
    EXPECT_TRUE(dialog.rbAttachAppDir->isChecked());
    EXPECT_FALSE(dialog.rbModeExtended->isChecked() || dialog.rbModeSimple->isChecked() ||
                 dialog.rbModeBasic->isChecked());
    // The custom folder is editable only while its radio is checked.
    dialog.rbAttachFixedDir->click();
    EXPECT_TRUE(dialog.edAttachDir->isEnabled() && dialog.btnAttachDir->isEnabled());
    dialog.rbAttachMailDir->click();
    EXPECT_FALSE(dialog.edAttachDir->isEnabled() || dialog.btnAttachDir->isEnabled());
    dialog.rbAttachFixedDir->click();
    dialog.btnAttachDir->click(); // cancelled: the text stays
    EXPECT_EQ(dialog.edAttachDir->text(), "/keep");
    answer = "/chosen";
    dialog.btnAttachDir->click();
    dialog.edDefaultDirectory->setText("/start");
    dialog.btnDefaultDirectory->click();
    dialog.btnOK->click();
  }
  FileDialogs() = saved;
  EXPECT_EQ(asked, QStringList({"Select directory for attachments @ /keep",
                                "Select directory for attachments @ /keep",
                                "Select default directory @ /start"}));
  EXPECT_EQ(settings.CustomDir, "/chosen");
  EXPECT_EQ(settings.DefaultDir, "/chosen");
  EXPECT_EQ(settings.DirKind, 2);
  EXPECT_EQ(settings.AppMode, 5);
}

} // namespace
} // namespace orlendo
