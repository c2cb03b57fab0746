#include "shell/window/convert_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "components/file_dialogs.h"
#include "components/form_preparation.h"
#include "components/pdf_renderer.h"
#include "shell/window/desktop.h"

namespace orlendo {

namespace {

struct TFormatChoice {
  const char* caption;
  const char* word;
};
const TFormatChoice kFormats[] = {
    {"Mails (*.eml)", "eml"},       {"MS Outlook messages (*.msg)", "msg"},
    {"Text files (*.txt)", "txt"},  {"HTML files (*.html)", "html"},
    {"XML files (*.xml)", "xml"},   {"iCalendar files (*.ics)", "ics"},
    {"vCard files (*.vcf)", "vcf"}, {"PDF files (*.pdf)", "pdf"},
    {"One mbox file", "mbox"},      {"Maildir folder", "maildir"}};

} // namespace

TfrmConvert::TfrmConvert(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmConvert"));
  setWindowTitle(tr("Convert files"));
  resize(520, 380);
  auto* layout = new QVBoxLayout(this);
  auto* lblInputs = new QLabel(tr("Files and folders to convert:"), this);
  lblInputs->setObjectName(QStringLiteral("lblInputs"));
  layout->addWidget(lblInputs);
  auto* inputs = new QHBoxLayout;
  lvInputs = new QListWidget(this);
  lvInputs->setObjectName(QStringLiteral("lvInputs"));
  inputs->addWidget(lvInputs, 1);
  auto* inputButtons = new QVBoxLayout;
  auto* btnAddFiles = new QPushButton(tr("Add &files..."), this);
  btnAddFiles->setObjectName(QStringLiteral("btnAddFiles"));
  auto* btnAddFolder = new QPushButton(tr("Add f&older..."), this);
  btnAddFolder->setObjectName(QStringLiteral("btnAddFolder"));
  auto* btnRemove = new QPushButton(tr("&Remove"), this);
  btnRemove->setObjectName(QStringLiteral("btnRemove"));
  inputButtons->addWidget(btnAddFiles);
  inputButtons->addWidget(btnAddFolder);
  inputButtons->addWidget(btnRemove);
  inputButtons->addStretch();
  inputs->addLayout(inputButtons);
  layout->addLayout(inputs, 1);
  cbRecursive = new QCheckBox(tr("Include &subfolders"), this);
  cbRecursive->setObjectName(QStringLiteral("cbRecursive"));
  cbRecursive->setChecked(true);
  layout->addWidget(cbRecursive);

  auto* form = new QFormLayout;
  cbFormat = new QComboBox(this);
  cbFormat->setObjectName(QStringLiteral("cbFormat"));
  for (const TFormatChoice& f : kFormats)
    cbFormat->addItem(tr(f.caption), QString::fromLatin1(f.word));
  auto* lblFormat = new QLabel(tr("Format:"), this);
  lblFormat->setObjectName(QStringLiteral("lblFormat"));
  form->addRow(lblFormat, cbFormat);
  auto* target = new QHBoxLayout;
  edTarget = new QLineEdit(this);
  edTarget->setObjectName(QStringLiteral("edTarget"));
  auto* btnTarget = new QPushButton(tr("&Browse..."), this);
  btnTarget->setObjectName(QStringLiteral("btnTarget"));
  target->addWidget(edTarget, 1);
  target->addWidget(btnTarget);
  auto* lblTarget = new QLabel(tr("Target:"), this);
  lblTarget->setObjectName(QStringLiteral("lblTarget"));
  form->addRow(lblTarget, target);
  layout->addLayout(form);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnConvert = new QPushButton(tr("&Convert"), this);
  btnConvert->setObjectName(QStringLiteral("btnConvert"));
  btnConvert->setDefault(true);
  btnClose = new QPushButton(tr("Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  buttons->addWidget(btnConvert);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);

  connect(btnAddFiles, &QPushButton::clicked, this, &TfrmConvert::btnAddFilesClick);
  connect(btnAddFolder, &QPushButton::clicked, this, &TfrmConvert::btnAddFolderClick);
  connect(btnRemove, &QPushButton::clicked, this,
          [this] { qDeleteAll(lvInputs->selectedItems()); });
  connect(btnTarget, &QPushButton::clicked, this, &TfrmConvert::btnTargetClick);
  connect(btnConvert, &QPushButton::clicked, this, &TfrmConvert::Start);
  connect(btnClose, &QPushButton::clicked, this, &TfrmConvert::reject);
}

TfrmConvert::~TfrmConvert() {
  // The worker calls back into this dialog: it must end first.
  cancel_ = true;
  if (worker_.joinable())
    worker_.join();
}

void TfrmConvert::AddInputs(const QStringList& paths) {
  for (const QString& p : paths)
    if (!p.isEmpty() && lvInputs->findItems(p, Qt::MatchExactly).isEmpty())
      lvInputs->addItem(p);
}

void TfrmConvert::btnAddFilesClick() {
  AddInputs(QFileDialog::getOpenFileNames(
      this, tr("Add files"), QString(),
      tr("Messages (*.msg *.eml *.emlx *.mht *.mhtml);;All files (*)")));
}

void TfrmConvert::btnAddFolderClick() {
  const QString folder = FileDialogs().SelectFolder(this, tr("Select directory"), QString());
  if (!folder.isEmpty())
    AddInputs({folder});
}

void TfrmConvert::btnTargetClick() {
  if (cbFormat->currentData().toString() == QLatin1String("mbox")) {
    const QString file =
        FileDialogs().SaveFileName(this, tr("Target"), edTarget->text(),
                                   tr("mbox files (*.mbox);;All files (*)"), nullptr, {});
    if (!file.isEmpty())
      edTarget->setText(file);
    return;
  }
  const QString folder = FileDialogs().SelectFolder(this, tr("Select directory"), edTarget->text());
  if (!folder.isEmpty())
    edTarget->setText(folder);
}

QString TfrmConvert::TargetFolder() const {
  const QString target = edTarget->text();
  if (cbFormat->currentData().toString() == QLatin1String("mbox"))
    return QFileInfo(target).absolutePath();
  return target;
}

void TfrmConvert::Start() {
  if (Running())
    return;
  if (lvInputs->count() == 0) {
    ShowMessage(this, tr("Add the files or folders to convert."));
    return;
  }
  if (edTarget->text().trimmed().isEmpty()) {
    ShowMessage(this, tr("Choose the target."));
    return;
  }
  paths_.clear();
  for (int i = 0; i < lvInputs->count(); ++i)
    paths_.push_back(lvInputs->item(i)->text().toStdString());
  options_ = TConvertOptions();
  ParseConvertFormat(cbFormat->currentData().toString().toStdString(), options_.Format,
                     options_.Extension);
  options_.Out = edTarget->text().trimmed().toStdString();
  options_.Recursive = cbRecursive->isChecked();
  options_.NameList = nullptr;
  cancel_ = false;
  options_.Cancel = &cancel_;
  // The workers hand their PDFs to the renderer on this thread, one at a time.
  InstallPdfRenderer();
  // The worker only posts: the widgets are touched on the window's thread alone.
  options_.OnFile = [this](const TConvertResult&, const TConvertProgress& progress) {
    QMetaObject::invokeMethod(
        this, [this, progress] { Progress(progress); }, Qt::QueuedConnection);
  };

  dlgProgress = new QProgressDialog(tr("Converting files..."), tr("Cancel"), 0, 0, this);
  dlgProgress->setObjectName(QStringLiteral("dlgProgress"));
  dlgProgress->setWindowModality(Qt::WindowModal);
  dlgProgress->setMinimumDuration(0);
  dlgProgress->setAutoClose(false);
  dlgProgress->setAutoReset(false);
  connect(dlgProgress, &QProgressDialog::canceled, this, &TfrmConvert::Cancel);
  dlgProgress->show();
  btnConvert->setEnabled(false);

  worker_ = std::thread([this] {
    const TConvertSummary summary = ConvertFiles(paths_, options_);
    QMetaObject::invokeMethod(
        this, [this, summary] { Done(summary); }, Qt::QueuedConnection);
  });
}

void TfrmConvert::Progress(const TConvertProgress& p) {
  if (!dlgProgress)
    return;
  dlgProgress->setLabelText(
      tr("Converting files... %1 of %2, %3 failed").arg(p.Done()).arg(p.Found).arg(p.Failed));
  if (p.Listed && dlgProgress->maximum() != static_cast<int>(p.Found))
    dlgProgress->setMaximum(static_cast<int>(p.Found));
  // Last: a window-modal progress dialog handles the pending events in setValue, among them
  // perhaps the end of the run, which takes the dialog away.
  dlgProgress->setValue(static_cast<int>(p.Done()));
}

void TfrmConvert::Done(const TConvertSummary& s) {
  if (worker_.joinable())
    worker_.join();
  if (dlgProgress) {
    dlgProgress->deleteLater();
    dlgProgress = nullptr;
  }
  btnConvert->setEnabled(true);
  if (!s.Started) {
    summary_ = QString::fromStdString(s.Error);
    ShowMessage(this, summary_);
    emit Finished();
    return;
  }
  summary_ = tr("%1 converted, %2 failed, %3 skipped.")
                 .arg(s.Totals.Converted)
                 .arg(s.Totals.Failed)
                 .arg(s.Totals.Skipped);
  if (s.Cancelled)
    summary_ += QLatin1Char(' ') + tr("Cancelled.");
  if (!s.Error.empty())
    summary_ += QLatin1Char('\n') + QString::fromStdString(s.Error);
  if (Confirm(this, summary_ + QLatin1String("\n\n") + tr("Open the target folder?")))
    OpenUrl(QUrl::fromLocalFile(TargetFolder()));
  emit Finished();
}

void TfrmConvert::closeEvent(QCloseEvent* event) {
  if (Running()) {
    Cancel();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TfrmConvert::reject() {
  // While a run goes on, closing cancels it; the dialog closes once it has ended.
  if (Running()) {
    Cancel();
    return;
  }
  QDialog::reject();
}

void ConvertFilesCommand(QWidget* parent) {
  TfrmConvert dialog(parent);
  PrepareForm(&dialog);
  dialog.exec();
}

} // namespace orlendo
