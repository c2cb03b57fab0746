// Making the program the desktop's viewer of .msg files, per user and the XDG way: a desktop
// entry in $XDG_DATA_HOME/applications and the default handler of the message type in
// $XDG_CONFIG_HOME/mimeapps.list (the file xdg-mime reads and writes).
#pragma once

#include <string>

namespace orlendo {

inline constexpr const char* kDesktopFileName = "quillet.desktop";
inline constexpr const char* kMsgMimeType = "application/vnd.ms-outlook";

// $XDG_DATA_HOME (default ~/.local/share) + "/applications/quillet.desktop".
std::string DesktopEntryPath();
// $XDG_CONFIG_HOME (default ~/.config) + "/mimeapps.list".
std::string MimeAppsListPath();

// The desktop entry that opens a file with programPath.
std::string DesktopEntryText(const std::string& programPath);

// Writes the desktop entry and puts it first among the defaults and the added associations of
// the message type, keeping every other line and every other program's entries (so that they
// take over again after UnregisterAsDefaultViewer). Raises EMSGError "Unable to write to %s".
void RegisterAsDefaultViewer(const std::string& programPath);
// Removes the desktop entry and our name from every list of mimeapps.list; keys left empty are
// removed, nothing else changes. Nothing registered is not an error.
void UnregisterAsDefaultViewer();

// The messages that confirm the two commands: "Orlendo: " and the current text of
// "strExtRegistered" or "strExtUnRegistered".
std::string RegisteredMessage();
std::string UnregisteredMessage();

// The full path of the running program.
std::string ProgramPath();

} // namespace orlendo
