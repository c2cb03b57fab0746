// File > Convert files...: many files or folders converted at once by the batch engine, on a
// worker thread, with a progress dialog that can be cancelled and a summary at the end that
// offers to open the target folder.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <thread>

#include "app/batch_convert.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QProgressDialog;
class QPushButton;

namespace orlendo {

class TfrmConvert : public QDialog {
  Q_OBJECT
public:
  explicit TfrmConvert(QWidget* parent = nullptr);
  ~TfrmConvert() override;

  // Adds files or folders to convert.
  void AddInputs(const QStringList& paths);
  // Runs the conversion of the listed inputs into the target; returns at once. The progress
  // dialog shows until the run ends; then the summary is shown (Confirm, which offers to open
  // the target folder) and Finished is emitted. Missing inputs or target are said and nothing
  // runs.
  void Start();
  bool Running() const { return worker_.joinable(); }
  // Ends the run early: files not yet begun are not converted.
  void Cancel() { cancel_ = true; }
  // The summary of the last run, as shown.
  const QString& SummaryText() const { return summary_; }

  void btnAddFilesClick();
  void btnAddFolderClick();
  void btnTargetClick();

  QListWidget* lvInputs = nullptr;
  QCheckBox* cbRecursive = nullptr;
  QComboBox* cbFormat = nullptr;
  QLineEdit* edTarget = nullptr;
  QPushButton* btnConvert = nullptr;
  QPushButton* btnClose = nullptr;
  QProgressDialog* dlgProgress = nullptr;

signals:
  void Finished();

protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

private:
  void Progress(const TConvertProgress& progress);
  void Done(const TConvertSummary& summary);
  QString TargetFolder() const;

  std::thread worker_;
  std::atomic<bool> cancel_{false};
  TConvertOptions options_;
  std::vector<std::string> paths_;
  QString summary_;
};

// Opens the dialog modally (translated like every other dialog).
void ConvertFilesCommand(QWidget* parent);

} // namespace orlendo
