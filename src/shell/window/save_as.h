// "Save As": the whole message converted into the format that the chosen file name's extension
// names, through the save dialog with one filter entry per format.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace orlendo {

class TQvMessage;
struct TSettings;

// The dialog's filter entries, in order: text, HTML, XML, EML, .msg, all files, iCalendar,
// vCard, PDF.
QString SaveAsFilter();
// The extension of filter entry index (0-based): ".txt", ".htm", ".xml", ".eml", ".msg", "" for
// all files, ".ics", ".vcf", ".pdf"; "" for anything else.
QString SaveAsFilterExtension(int index);
// name with its extension replaced by extension (removed when extension is empty). Only the last
// path component's extension counts.
QString ReplaceExtension(const QString& name, const QString& extension);

// Asks for a file name (starting from fileNameBoxText with the current entry's extension; the
// entry last chosen is remembered for the run), writes the message with the writer that the
// chosen name's upper-cased extension selects (ExportMessage: all properties unless SaveMode is
// 1), and says so unless DisableDialogAfterSave. Nothing happens without a message or when the
// dialog is cancelled. False when nothing was written; a failing writer is shown.
bool SaveMessageAs(QWidget* parent, const TQvMessage* message, const TSettings& settings,
                   const std::string& fileNameBoxText);

} // namespace orlendo
