// The Options dialog ("Preferences"): the settings of the General, Mode, Attachments and Save
// pages.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace orlendo {

struct TSettings;

class TfrmOptions : public QDialog {
  Q_OBJECT
public:
  // Shows what settings hold; settings must outlive the dialog.
  explicit TfrmOptions(TSettings& settings, QWidget* parent = nullptr);

  // "&OK": reads every value back into the settings and marks them changed.
  void accept() override;
  // Translates the dialog, fixes its size (the designed one, or more when the translated texts
  // need it) and centres it on the screen: what is done before it is shown.
  void Prepare();

  void btnDefaultDirectoryClick();
  void btnAttachDirClick();
  // Enables the custom attachment folder exactly when "define custom directory" is checked.
  void rbAttachAppDirClick();

  QTabWidget* pcOptions = nullptr;
  QCheckBox* cbOpenLast = nullptr;
  QCheckBox* cbBeep = nullptr;
  QCheckBox* cbExtAssociate = nullptr;
  QCheckBox* chkSaveFormSize = nullptr;
  QCheckBox* chkDisableMessageDialog = nullptr;
  QLineEdit* edDefaultDirectory = nullptr;
  QPushButton* btnDefaultDirectory = nullptr;
  QComboBox* cbDefaultFormat = nullptr;
  QRadioButton* rbModeExtended = nullptr;
  QRadioButton* rbModeSimple = nullptr;
  QRadioButton* rbModeBasic = nullptr;
  QCheckBox* chkHideLogo = nullptr;
  QRadioButton* rbAttachAppDir = nullptr;
  QRadioButton* rbAttachLastUsedDir = nullptr;
  QRadioButton* rbAttachMailDir = nullptr;
  QRadioButton* rbAttachFixedDir = nullptr;
  QLineEdit* edAttachDir = nullptr;
  QPushButton* btnAttachDir = nullptr;
  QGroupBox* rgSaveMode = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

private:
  TSettings& settings_;
};

// Creates the dialog, translates it and shows it modally; true when the user confirmed (the
// settings then hold the new values).
bool ShowOptionsDialog(QWidget* owner, TSettings& settings);

} // namespace orlendo
