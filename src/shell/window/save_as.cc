#include "shell/window/save_as.h"

#include <QFileInfo>
#include <QStringList>

#include "app/message_strings.h"
#include "app/settings.h"
#include "components/file_dialogs.h"
#include "components/pdf_renderer.h"
#include "model/qvmsg.h"
#include "shell/command_line.h"

namespace orlendo {

namespace {

QStringList FilterEntries() {
  return {QObject::tr("Text files (*.txt)"), QObject::tr("HTML files (*.htm *.html)"),
          QObject::tr("XML files (*.xml)"), QObject::tr("Mails (*.eml)"),
          QObject::tr("MS Outlook messages (*.msg)"), QObject::tr("All files (*)"),
          // Calendar items, tasks and contacts; after "All files", whose place the others keep.
          QObject::tr("iCalendar (*.ics)"), QObject::tr("vCard (*.vcf)"),
          QObject::tr("PDF (*.pdf)")};
}

// The entry the user chose last, kept for the run like the window's one save dialog.
QString& RememberedEntry() {
  static QString entry = FilterEntries().first();
  return entry;
}

} // namespace

QString SaveAsFilter() {
  return FilterEntries().join(";;");
}

QString SaveAsFilterExtension(int index) {
  static const char* const kExtensions[] = {".txt", ".htm", ".xml", ".eml", ".msg",
                                            "",     ".ics", ".vcf", ".pdf"};
  return index >= 0 && index < 9 ? QString(kExtensions[index]) : QString();
}

QString ReplaceExtension(const QString& name, const QString& extension) {
  const qsizetype slash = name.lastIndexOf('/');
  const qsizetype dot = name.lastIndexOf('.');
  const QString stem = dot > slash + 1 ? name.left(dot) : name;
  return stem + extension;
}

bool SaveMessageAs(QWidget* parent, const TQvMessage* message, const TSettings& settings,
                   const std::string& fileNameBoxText) {
  if (message == nullptr)
    return false;
  const QStringList entries = FilterEntries();
  QString entry = RememberedEntry();
  const int current = static_cast<int>(entries.indexOf(entry));
  const QString initial =
      ReplaceExtension(QString::fromStdString(fileNameBoxText), SaveAsFilterExtension(current));
  auto typeChange = [](int index, const QString& name) {
    const QString extension = SaveAsFilterExtension(index);
    return extension.isEmpty() ? QString() : ReplaceExtension(name, extension);
  };
  QString path =
      FileDialogs().SaveFileName(parent, QString(), initial, SaveAsFilter(), &entry, typeChange);
  if (path.isEmpty())
    return false;
  RememberedEntry() = entry;
  // A name typed without extension takes the entry's, or ".txt" under "All files".
  if (QFileInfo(path).suffix().isEmpty()) {
    const QString extension = SaveAsFilterExtension(static_cast<int>(entries.indexOf(entry)));
    path += extension.isEmpty() ? QString(".txt") : extension;
  }
  const QString extension = "." + QFileInfo(path).suffix().toUpper();
  // PDF is drawn on this thread; the renderer starts the web engine only for an HTML body.
  InstallPdfRenderer();
  try {
    ExportMessage(*message, path.toStdString(), extension.toStdString(), settings.SaveMode == 0);
  } catch (const std::exception& e) {
    FileDialogs().Error(parent, QString::fromUtf8(e.what()));
    return false;
  }
  if (!settings.DisableDialogAfterSave)
    FileDialogs().Information(parent, QString::fromStdString(MessageString("strSavedSuccesfully"))
                                          .replace(QLatin1String("%s"), path));
  return true;
}

} // namespace orlendo
