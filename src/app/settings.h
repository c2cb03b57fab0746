// The program's settings: one record loaded from the INI file at start-up and written at exit,
// the recent-file and favourite lists, and where the file lives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orlendo {

class TIniFile;

// A font as the settings describe it: name, character set, colour, size in points, style bits
// (bold 1, italic 2, underline 4, strike-out 8).
struct TFontDesc {
  std::string Name = "Sans Serif";
  uint8_t Charset = 1; // default character set
  int32_t Color = 0;
  int Size = 9;
  uint8_t Style = 0;
  bool operator==(const TFontDesc&) const = default;
};

// "name,charset,color,size,style".
std::string FontToString(const TFontDesc& font);
// Applies a font description: fields are cut at commas from the left and applied only when a
// comma follows them (the style is everything after the fourth comma); empty or unreadable
// fields keep the current value.
void StringToFont(const std::string& text, TFontDesc& font);

// A list of file names, most recent first; names compare exactly (file names are
// case-sensitive here).
class TFileList {
public:
  const std::vector<std::string>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  int IndexOf(const std::string& name) const;
  void Add(const std::string& name) { items_.push_back(name); }
  void Clear() { items_.clear(); }
  // Moves name to position 0, inserting it when it is not there.
  void MoveToFront(const std::string& name);
  void Remove(const std::string& name);
  bool operator==(const TFileList&) const = default;

private:
  std::vector<std::string> items_;
};

inline constexpr const char* kDefaultUpdateUrl = "http://www.norvane.com/msg/quillet.xml";

struct TSettings {
  // "Options"
  bool LastOpened = false;
  bool BeepAfter = true;
  bool DisableDialogAfterSave = false;
  bool SaveFormPosition = false;
  int FormState = 0; // 0 normal, 1 minimised, 2 maximised
  int FormLeft = -1, FormTop = -1, FormWidth = 687, FormHeight = 450;
  int Band0Width = 0, Band1Width = 0;
  int BandCount = 3; // tool-bar bands of the window; Band1Width needs at least two
  int LeftPaneWidth = 160;
  bool FileExplorer = false;
  std::string LangFile;
  std::string DefaultDir; // the user's home folder by default
  bool UseCustomFont = false;
  TFontDesc GridFont;
  bool WordWrap = false;
  std::string ExtendedSettings; // read, never written
  uint8_t AppMode = 0;          // 0 Extended, 1 Simple, 2 Basic
  bool HideLogo = false;
  uint8_t DefaultFormat = 3; // 0 any, 1 text, 2 RTF, 3 HTML
  // Where the update check fetches the version document. Written only when it differs from
  // the default, so that a stored file follows a default that moves with a new release.
  std::string UpdateUrl = kDefaultUpdateUrl;
  // "Attachments"
  uint8_t DirKind = 0; // 0 home folder, 1 last used, 2 custom, 3 the message's folder
  std::string LastUsedDir;
  std::string CustomDir;
  // "Save"
  uint8_t SaveMode = 0; // 0 all properties, 1 the common ones
  // Not in the file: whether the window geometry was set (by the file or a switch), and the
  // window's resize handler is attached.
  bool PositionSet = false;

  TFileList RecentFiles;
  TFileList FavoriteFiles;

  // Set by the commands that change options; decides whether "Options" is written.
  bool SettingsChanged = false;
  // Cleared by /NOINI: nothing is written at exit.
  bool UseIniFile = true;
};

// The settings file: per user $XDG_CONFIG_HOME (default ~/.config) +
// "/Norvane/quillet/quillet.ini", for all users the first folder of $XDG_CONFIG_DIRS (default
// /etc/xdg) + the same. Asking for the per-user file creates its folder chain (a failure is
// ignored: reading then gives defaults and writing reports "Unable to write to %s"). The all-users
// folder is never created.
std::string GetIniFileName(bool perUser);

// Creates folder and its missing parents; true on success or when it exists. An empty path
// raises EMSGError "Unable to create directory".
bool ForceFolders(const std::string& folder);

// Reads the options part (windowPart false) or the window geometry (windowPart true) from the
// per-user file, or the all-users file when there is none. Missing keys keep current values.
void LoadSettings(TSettings& settings, bool windowPart);
void LoadSettingsFrom(const TIniFile& ini, TSettings& settings, bool windowPart);
// Writes to the per-user file: "Options" only when SettingsChanged; always "Attachments",
// "Save", "Recent" and "FavoriteFiles". Raises EMSGError "Unable to write to %s".
void SaveSettings(TSettings& settings);
void SaveSettingsTo(TIniFile& ini, TSettings& settings);

// "Count" capped at 5, then every entry as "Item<i>"; reading takes Count entries back.
void WriteFileList(TIniFile& ini, const std::string& section, const TFileList& list);
void ReadFileList(const TIniFile& ini, const std::string& section, TFileList& list);

// The initial folder for saving attachments of messageFile, by DirKind; ends with "/".
std::string GetAttachmentFolder(const TSettings& settings, const std::string& messageFile);

// The user's home folder, with a trailing "/".
std::string HomeFolder();

} // namespace orlendo
