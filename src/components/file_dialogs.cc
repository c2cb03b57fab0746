#include "components/file_dialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace orlendo {

TFileDialogs StandardFileDialogs() {
  TFileDialogs d;
  d.SaveFileName = [](QWidget* parent, const QString& title, const QString& initialPath,
                      const QString& filter, QString* selectedFilter,
                      const std::function<QString(int, const QString&)>& onFilterChange) {
    // Qt's own dialog, so that the typed name can be read back when the filter changes.
    QFileDialog dialog(parent, title, initialPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = filter.split(";;");
    if (selectedFilter != nullptr && !selectedFilter->isEmpty())
      dialog.selectNameFilter(*selectedFilter);
    if (onFilterChange) {
      QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                       [&dialog, &filters, &onFilterChange](const QString& entry) {
                         auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
                         if (edit == nullptr)
                           return;
                         const QString name =
                             onFilterChange(static_cast<int>(filters.indexOf(entry)), edit->text());
                         if (!name.isEmpty())
                           edit->setText(name);
                       });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return QString();
    if (selectedFilter != nullptr)
      *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().first();
  };
  d.SelectFolder = [](QWidget* parent, const QString& title, const QString& initialFolder) {
    return QFileDialog::getExistingDirectory(parent, title, initialFolder);
  };
  d.Information = [](QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QString(), text, QMessageBox::Ok);
  };
  d.Error = [](QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QString(), text, QMessageBox::Ok);
  };
  return d;
}

TFileDialogs& FileDialogs() {
  static TFileDialogs dialogs = StandardFileDialogs();
  return dialogs;
}

} // namespace orlendo
