// The small file and folder dialogs that several commands share, and the administrator test.
#pragma once

#include <QString>

class QWidget;

namespace orlendo {

// The system open (open true) or save file dialog. filter is "|"-separated description and
// pattern pairs ("MS Outlook messages (*.msg)|*.msg|All files (*.*)|*.*"); defaultExt (without
// the dot), title and initialFolder may be empty. fileName presets the dialog and, when the
// user confirms, receives the chosen path; a cancelled dialog returns false and leaves it as it
// was. The save form asks no overwrite question.
bool ShowFileDialog(QWidget* owner, const QString& defaultExt, const QString& filter, bool open,
                    QString& fileName, const QString& title, const QString& initialFolder);

// The Qt form of a "|"-separated filter: "description (patterns)" joined by ";;". The pattern
// "*.*" becomes "*", which on this platform also matches names without a dot.
QString QtFileFilter(const QString& filter);

// The system folder browser, starting at folder; on confirmation folder receives the choice.
bool SelectFolder(QWidget* owner, const QString& title, QString& folder);

// True for the super-user and for members of the groups "sudo", "wheel" or "admin"; any
// failure to read the groups yields false.
bool IsUserAdmin();

} // namespace orlendo
