#include "components/file_dialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include "app/message_strings.h"
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
  d.AskReplace = [](QWidget* parent, const QString& path) {
    auto text = [](const char* key) { return QString::fromStdString(MessageString(key)); };
    QMessageBox box(QMessageBox::Question, QString(),
                    text("strFileExists").replace(QLatin1String("%s"), QFileInfo(path).fileName()),
                    QMessageBox::NoButton, parent);
    box.setInformativeText(QFileInfo(path).absolutePath());
    QPushButton* replace = box.addButton(text("strReplaceFile"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(text("strKeepBothFiles"), QMessageBox::ActionRole);
    QPushButton* skip = box.addButton(text("strSkipFile"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(skip);
    auto* all = new QCheckBox(text("strForAllFiles"), &box);
    box.setCheckBox(all);
    box.exec();
    TReplaceAnswer answer;
    answer.choice = box.clickedButton() == replace ? TReplaceAnswer::Replace
                    : box.clickedButton() == keep  ? TReplaceAnswer::KeepBoth
                                                   : TReplaceAnswer::Skip;
    answer.forAll = all->isChecked();
    return answer;
  };
  d.AskYesNo = [](QWidget* parent, const QString& text) {
    return QMessageBox::warning(parent, QString(), text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
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
