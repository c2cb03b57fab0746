#include "shell/window/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/form_preparation.h"

namespace orlendo {
namespace {

template <class T> T* Make(QWidget* parent, const char* name, const QString& text = {}) {
  auto* w = new T(parent);
  w->setObjectName(QLatin1String(name));
  if constexpr (requires { w->setText(text); })
    if (!text.isEmpty())
      w->setText(text);
  return w;
}

QWidget* NewPage(QTabWidget* tabs, const char* name, const QString& caption) {
  auto* page = new QWidget;
  page->setObjectName(QLatin1String(name));
  tabs->addTab(page, caption);
  return page;
}

// A mode's radio button with its note indented below it.
void AddMode(QVBoxLayout* layout, QRadioButton* radio, QLabel* note) {
  note->setWordWrap(true);
  note->setContentsMargins(22, 0, 0, 4);
  layout->addWidget(radio);
  layout->addWidget(note);
}

// A line edit and its "..." button side by side.
QHBoxLayout* FolderRow(QLineEdit* edit, QPushButton* button) {
  button->setText(QStringLiteral("..."));
  button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(button);
  return row;
}

} // namespace

TfrmOptions::TfrmOptions(TSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowTitle(tr("Preferences"));
  pcOptions = Make<QTabWidget>(this, "pcOptions");

  // General.
  QWidget* general = NewPage(pcOptions, "tsGeneral", tr("General"));
  cbOpenLast =
      Make<QCheckBox>(general, "cbOpenLast", tr("Automatically open last file on starting"));
  cbBeep = Make<QCheckBox>(general, "cbBeep", tr("Beep after completed operation"));
  cbExtAssociate =
      Make<QCheckBox>(general, "cbExtAssociate", tr("Associate with these file types"));
  cbExtAssociate->setEnabled(false); // the View menu registers the viewer
  chkSaveFormSize =
      Make<QCheckBox>(general, "chkSaveFormSize", tr("Save main form size and position"));
  chkDisableMessageDialog = Make<QCheckBox>(general, "chkDisableMessageDialog",
                                            tr("Disable message dialog after save/export"));
  auto* lblDefaultDirectory =
      Make<QLabel>(general, "lblDefaultDirectory", tr("Default directory:"));
  edDefaultDirectory = Make<QLineEdit>(general, "edDefaultDirectory");
  btnDefaultDirectory = Make<QPushButton>(general, "btnDefaultDirectory");
  lblDefaultDirectory->setBuddy(edDefaultDirectory);
  auto* lblDefaultFormat =
      Make<QLabel>(general, "lblDefaultFormat", tr("Preferred default message format:"));
  cbDefaultFormat = Make<QComboBox>(general, "cbDefaultFormat");
  cbDefaultFormat->addItems(
      {tr("any"), tr("Text format"), tr("Richtext format"), tr("HTML format")});
  lblDefaultFormat->setBuddy(cbDefaultFormat);
  auto* generalLayout = new QVBoxLayout(general);
  for (QWidget* w :
       {static_cast<QWidget*>(cbOpenLast), static_cast<QWidget*>(cbBeep),
        static_cast<QWidget*>(cbExtAssociate), static_cast<QWidget*>(chkSaveFormSize),
        static_cast<QWidget*>(chkDisableMessageDialog), static_cast<QWidget*>(lblDefaultDirectory)})
    generalLayout->addWidget(w);
  generalLayout->addLayout(FolderRow(edDefaultDirectory, btnDefaultDirectory));
  auto* formatRow = new QHBoxLayout;
  formatRow->addWidget(lblDefaultFormat);
  formatRow->addWidget(cbDefaultFormat, 1);
  generalLayout->addLayout(formatRow);
  generalLayout->addStretch(1);

  // Mode.
  QWidget* mode = NewPage(pcOptions, "tsMode", tr("Mode"));
  auto* modeLayout = new QVBoxLayout(mode);
  rbModeExtended = Make<QRadioButton>(mode, "rbModeExtended", tr("Extended"));
  rbModeSimple = Make<QRadioButton>(mode, "rbModeSimple", tr("Simple"));
  rbModeBasic = Make<QRadioButton>(mode, "rbModeBasic", tr("Basic"));
  AddMode(modeLayout, rbModeExtended,
          Make<QLabel>(mode, "lblModeExtended",
                       tr("full information from message displayed in dialog tabs")));
  AddMode(modeLayout, rbModeSimple,
          Make<QLabel>(mode, "lblModeSimple",
                       tr("only basic information and transport header displayed from message "
                          "file")));
  AddMode(modeLayout, rbModeBasic,
          Make<QLabel>(mode, "lblModeBasic",
                       tr("displayed only short information about sender, recipient, body and "
                          "attachments from loaded message")));
  chkHideLogo = Make<QCheckBox>(mode, "chkHideLogo", tr("hide graphic logo in dialog"));
  modeLayout->addWidget(chkHideLogo);
  modeLayout->addStretch(1);

  // Attachments.
  QWidget* attachments = NewPage(pcOptions, "tsAttachments", tr("Attachments"));
  auto* gbAttachDir = Make<QGroupBox>(attachments, "gbAttachDir");
  gbAttachDir->setTitle(tr("Default directory to save attachments"));
  rbAttachAppDir = Make<QRadioButton>(gbAttachDir, "rbAttachAppDir", tr("home folder"));
  rbAttachLastUsedDir =
      Make<QRadioButton>(gbAttachDir, "rbAttachLastUsedDir", tr("save the last used directory"));
  rbAttachMailDir = Make<QRadioButton>(gbAttachDir, "rbAttachMailDir",
                                       tr("directory where original message stored"));
  rbAttachFixedDir =
      Make<QRadioButton>(gbAttachDir, "rbAttachFixedDir", tr("define custom directory"));
  edAttachDir = Make<QLineEdit>(gbAttachDir, "edAttachDir");
  btnAttachDir = Make<QPushButton>(gbAttachDir, "btnAttachDir");
  auto* attachLayout = new QVBoxLayout(gbAttachDir);
  for (QRadioButton* r : {rbAttachAppDir, rbAttachLastUsedDir, rbAttachMailDir, rbAttachFixedDir}) {
    attachLayout->addWidget(r);
    connect(r, &QRadioButton::toggled, this, [this] { rbAttachAppDirClick(); });
  }
  attachLayout->addLayout(FolderRow(edAttachDir, btnAttachDir));
  auto* attachmentsLayout = new QVBoxLayout(attachments);
  attachmentsLayout->addWidget(gbAttachDir);
  attachmentsLayout->addStretch(1);

  // Save.
  QWidget* save = NewPage(pcOptions, "tsSave", tr("Save"));
  rgSaveMode = Make<QGroupBox>(save, "rgSaveMode");
  rgSaveMode->setTitle(tr("Save mode"));
  auto* saveModeLayout = new QVBoxLayout(rgSaveMode);
  saveModeLayout->addWidget(
      Make<QRadioButton>(rgSaveMode, "rbSaveAll", tr("all original properties")));
  saveModeLayout->addWidget(
      Make<QRadioButton>(rgSaveMode, "rbSaveCommon", tr("only common used properties")));
  auto* saveLayout = new QVBoxLayout(save);
  saveLayout->addWidget(rgSaveMode);
  saveLayout->addStretch(1);

  btnOK = Make<QPushButton>(this, "btnOK", tr("&OK"));
  btnOK->setDefault(true);
  btnCancel = Make<QPushButton>(this, "btnCancel", tr("&Cancel"));
  connect(btnOK, &QPushButton::clicked, this, &TfrmOptions::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmOptions::reject);
  connect(btnDefaultDirectory, &QPushButton::clicked, this, &TfrmOptions::btnDefaultDirectoryClick);
  connect(btnAttachDir, &QPushButton::clicked, this, &TfrmOptions::btnAttachDirClick);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcOptions, 1);
  layout->addLayout(buttons);

  // The controls show the settings.
  cbOpenLast->setChecked(settings_.LastOpened);
  cbBeep->setChecked(settings_.BeepAfter);
  chkSaveFormSize->setChecked(settings_.SaveFormPosition);
  chkDisableMessageDialog->setChecked(settings_.DisableDialogAfterSave);
  edDefaultDirectory->setText(QString::fromStdString(settings_.DefaultDir));
  switch (settings_.DirKind) {
  case 1:
    rbAttachLastUsedDir->setChecked(true);
    break;
  case 2:
    rbAttachFixedDir->setChecked(true);
    break;
  case 3:
    rbAttachMailDir->setChecked(true);
    break;
  default:
    rbAttachAppDir->setChecked(true);
  }
  edAttachDir->setText(QString::fromStdString(settings_.CustomDir));
  rbModeExtended->setChecked(settings_.AppMode == 0);
  rbModeSimple->setChecked(settings_.AppMode == 1);
  rbModeBasic->setChecked(settings_.AppMode == 2);
  chkHideLogo->setChecked(settings_.HideLogo);
  cbDefaultFormat->setCurrentIndex(
      settings_.DefaultFormat < cbDefaultFormat->count() ? settings_.DefaultFormat : -1);
  const auto saveModes = rgSaveMode->findChildren<QRadioButton*>();
  if (settings_.SaveMode < saveModes.size())
    saveModes[settings_.SaveMode]->setChecked(true);
  rbAttachAppDirClick();
}

void TfrmOptions::rbAttachAppDirClick() {
  const bool custom = rbAttachFixedDir->isChecked();
  edAttachDir->setEnabled(custom);
  btnAttachDir->setEnabled(custom);
}

void TfrmOptions::btnDefaultDirectoryClick() {
  const QString chosen =
      FileDialogs().SelectFolder(this, tr("Select default directory"), edDefaultDirectory->text());
  if (!chosen.isEmpty())
    edDefaultDirectory->setText(chosen);
}

void TfrmOptions::btnAttachDirClick() {
  const QString chosen =
      FileDialogs().SelectFolder(this, tr("Select directory for attachments"), edAttachDir->text());
  if (!chosen.isEmpty())
    edAttachDir->setText(chosen);
}

void TfrmOptions::accept() {
  settings_.SettingsChanged = true;
  settings_.LastOpened = cbOpenLast->isChecked();
  settings_.BeepAfter = cbBeep->isChecked();
  settings_.SaveFormPosition = chkSaveFormSize->isChecked();
  settings_.DisableDialogAfterSave = chkDisableMessageDialog->isChecked();
  settings_.DefaultDir = edDefaultDirectory->text().toStdString();
  settings_.DirKind = rbAttachLastUsedDir->isChecked() ? 1
                      : rbAttachFixedDir->isChecked()  ? 2
                      : rbAttachMailDir->isChecked()   ? 3
                                                       : 0;
  settings_.CustomDir = edAttachDir->text().toStdString();
  if (rbModeExtended->isChecked())
    settings_.AppMode = 0;
  else if (rbModeSimple->isChecked())
    settings_.AppMode = 1;
  else if (rbModeBasic->isChecked())
    settings_.AppMode = 2;
  settings_.HideLogo = chkHideLogo->isChecked();
  // An unselected list keeps the setting: the stored values are small counts, never -1.
  if (cbDefaultFormat->currentIndex() >= 0)
    settings_.DefaultFormat = static_cast<uint8_t>(cbDefaultFormat->currentIndex());
  const auto saveModes = rgSaveMode->findChildren<QRadioButton*>();
  for (int i = 0; i < saveModes.size(); ++i)
    if (saveModes[i]->isChecked())
      settings_.SaveMode = static_cast<uint8_t>(i);
  QDialog::accept();
}

void TfrmOptions::Prepare() {
  PrepareForm(this);
  // The folder this choice means, after the caption a language file may have set.
  QString home = QString::fromStdString(HomeFolder());
  if (home.size() > 1 && home.endsWith('/'))
    home.chop(1);
  rbAttachAppDir->setText(rbAttachAppDir->text() + QStringLiteral(" (%1)").arg(home));
  setFixedSize(sizeHint().expandedTo(QSize(396, 263)));
  if (QScreen* screen =
          parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

bool ShowOptionsDialog(QWidget* owner, TSettings& settings) {
  TfrmOptions dialog(settings, owner);
  dialog.Prepare();
  return dialog.exec() == QDialog::Accepted;
}

} // namespace orlendo
