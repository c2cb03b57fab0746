// The questions the preview and the save commands ask the user (a file to save to, a folder,
// an information or error box), behind one replaceable table: the window answers them with Qt's
// dialogs, tests answer them without a dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace orlendo {

// The answer to "a file of this name is already there".
struct TReplaceAnswer {
  enum Choice { Replace, KeepBoth, Skip } choice = Skip;
  bool forAll = false; // the same answer for every further file of this command
};

struct TFileDialogs {
  // Returns the chosen path, or "" when cancelled. initialPath is folder + proposed name; filter
  // in Qt's form ("All files (*)"); selectedFilter (in/out, may be null) the filter entry shown.
  // onFilterChange, when set, is called with the new entry's index while the dialog is open and
  // returns the name the file-name field should show ("" to leave it).
  std::function<QString(
      QWidget* parent, const QString& title, const QString& initialPath, const QString& filter,
      QString* selectedFilter,
      const std::function<QString(int index, const QString& name)>& onFilterChange)>
      SaveFileName;
  std::function<QString(QWidget* parent, const QString& title, const QString& initialFolder)>
      SelectFolder;
  // Asks whether the existing file path is to be replaced, kept beside the new one, or the new
  // one skipped; cancelling the box skips.
  std::function<TReplaceAnswer(QWidget* parent, const QString& path)> AskReplace;
  // A question with the buttons Yes and No, No the default; true for Yes.
  std::function<bool(QWidget* parent, const QString& text)> AskYesNo;
  std::function<void(QWidget* parent, const QString& text)> Information;
  std::function<void(QWidget* parent, const QString& text)> Error;
};

// The table in use; starts with the Qt dialogs.
TFileDialogs& FileDialogs();
// The Qt dialogs, to restore the table.
TFileDialogs StandardFileDialogs();

} // namespace orlendo
