// Making the program the desktop's viewer of .msg files, per user and the XDG way. Installed as a
// package, the desktop already knows the program (desktop entry, icon and file types under
// /usr/share), and only the default handler of the message type is set, in
// $XDG_CONFIG_HOME/mimeapps.list (the file xdg-mime reads and writes). Run from anywhere else, the
// same desktop entry, icon and shared-mime-info package are installed under $XDG_DATA_HOME first,
// and the user's MIME database is rebuilt, so that a .msg file types as a message at all.
#pragma once

#include <string>

namespace orlendo {

inline constexpr const char* kDesktopFileName = "org.norvane.Orlendo.desktop";
// The name older versions gave their per-user entry; Register and Unregister clear it away.
inline constexpr const char* kOldDesktopFileName = "quillet.desktop";
inline constexpr const char* kIconName = "org.norvane.Orlendo";
inline constexpr const char* kMimePackageName = "org.norvane.Orlendo.xml";
inline constexpr const char* kMsgMimeType = "application/vnd.ms-outlook";

// Under $XDG_DATA_HOME (default ~/.local/share): applications/org.norvane.Orlendo.desktop,
// icons/hicolor/scalable/apps/org.norvane.Orlendo.svg, mime/packages/org.norvane.Orlendo.xml.
std::string DesktopEntryPath();
std::string IconPath();
std::string MimePackagePath();
// $XDG_CONFIG_HOME (default ~/.config) + "/mimeapps.list".
std::string MimeAppsListPath();

// Where the desktop files that come with the program at programPath are: the installed ones
// (<prefix>/share/applications/..., <prefix>/share/icons/..., <prefix>/share/mime/...) when the
// program is installed, else the checkout's. What it names may not exist.
struct TDesktopSources {
  std::string DesktopEntry;
  std::string Icon;
  std::string MimePackage;
};
TDesktopSources DesktopSources(const std::string& programPath);

// True when the program at programPath is installed in a prefix whose desktop entry the desktop
// finds by itself: <prefix>/share is one of $XDG_DATA_DIRS (default /usr/local/share:/usr/share)
// and holds applications/org.norvane.Orlendo.desktop.
bool InstalledForTheDesktop(const std::string& programPath);

// The program's desktop entry with Exec and TryExec naming programPath. Raises EMSGError
// "Unable to read %s" when the entry that comes with the program is missing.
std::string DesktopEntryText(const std::string& programPath);

// Puts our entry first among the defaults and the added associations of the message type,
// keeping every other line and every other program's entries (so that they take over again after
// UnregisterAsDefaultViewer); unless InstalledForTheDesktop, installs the desktop entry, icon and
// MIME package first. Raises EMSGError "Unable to write to %s" (or "Unable to read %s" for a
// missing source, "Unable to update the MIME database in %s" when update-mime-database fails).
void RegisterAsDefaultViewer(const std::string& programPath);
// Removes the per-user desktop entry, icon and MIME package (rebuilding the user's MIME database)
// and our name from every list of mimeapps.list; keys and sections left empty are removed,
// nothing else changes. Nothing registered is not an error.
void UnregisterAsDefaultViewer();

// The messages that confirm the two commands: "Orlendo: " and the current text of
// "strExtRegistered" or "strExtUnRegistered".
std::string RegisteredMessage();
std::string UnregisteredMessage();

// The full path of the running program.
std::string ProgramPath();

} // namespace orlendo
