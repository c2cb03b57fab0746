#include "app/settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "app/ini_file.h"
#include "model/stream.h"

namespace orlendo {
namespace {

constexpr const char* kOptions = "Options";
constexpr const char* kAttachments = "Attachments";
constexpr const char* kSave = "Save";
constexpr const char* kIniBase = "quillet";
constexpr const char* kMakerFolder = "Norvane";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
}

bool ParseInt(const std::string& field, long& out) {
  size_t b = 0, e = field.size();
  while (b < e && (field[b] == ' ' || field[b] == '\t'))
    ++b;
  while (e > b && (field[e - 1] == ' ' || field[e - 1] == '\t'))
    --e;
  if (b == e)
    return false;
  std::string s = field.substr(b, e - b);
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0')
    return false;
  out = v;
  return true;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return s.substr(b, e - b);
}

} // namespace

std::string FontToString(const TFontDesc& font) {
  return font.Name + "," + std::to_string(font.Charset) + "," + std::to_string(font.Color) + "," +
         std::to_string(font.Size) + "," + std::to_string(font.Style);
}

void StringToFont(const std::string& text, TFontDesc& font) {
  // Each of the first four fields counts only when a comma follows it.
  std::string rest = text;
  long number = 0;
  for (int field = 0; field < 5; ++field) {
    std::string value;
    if (field < 4) {
      size_t comma = rest.find(',');
      if (comma == std::string::npos)
        return;
      value = rest.substr(0, comma);
      rest = rest.substr(comma + 1);
    } else {
      value = rest;
    }
    switch (field) {
    case 0: {
      std::string name = TrimBlanks(value);
      if (!name.empty())
        font.Name = name;
      break;
    }
    case 1:
      if (ParseInt(value, number))
        font.Charset = static_cast<uint8_t>(number);
      break;
    case 2:
      if (ParseInt(value, number))
        font.Color = static_cast<int32_t>(number);
      break;
    case 3:
      if (ParseInt(value, number) && number > 0 && number < 1000)
        font.Size = static_cast<int>(number);
      break;
    case 4:
      if (ParseInt(value, number))
        font.Style = static_cast<uint8_t>(number & 0x0F);
      break;
    }
  }
}

int TFileList::IndexOf(const std::string& name) const {
  auto it = std::find(items_.begin(), items_.end(), name);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TFileList::MoveToFront(const std::string& name) {
  Remove(name);
  items_.insert(items_.begin(), name);
}

void TFileList::Remove(const std::string& name) {
  items_.erase(std::remove(items_.begin(), items_.end(), name), items_.end());
}

std::string HomeFolder() {
  std::string home = EnvOr("HOME", "");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(getuid()))
      home = pw->pw_dir ? pw->pw_dir : "";
  }
  if (home.empty())
    home = "/";
  return WithSlash(home);
}

bool ForceFolders(const std::string& folder) {
  if (folder.empty())
    throw EMSGError("Unable to create directory");
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  // Walk down from the root, creating what is missing; iterative, so any depth is fine.
  size_t pos = 0;
  while (true) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (!part.empty()) {
      struct stat st;
      if (::stat(part.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
          return false;
      } else if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
      }
    }
    if (pos == std::string::npos)
      break;
  }
  return true;
}

std::string GetIniFileName(bool perUser) {
  std::string folder;
  if (perUser) {
    folder = EnvOr("XDG_CONFIG_HOME", HomeFolder() + ".config");
  } else {
    std::string dirs = EnvOr("XDG_CONFIG_DIRS", "/etc/xdg");
    folder = dirs.substr(0, dirs.find(':'));
  }
  folder = WithSlash(folder) + kMakerFolder + "/" + kIniBase + "/";
  if (perUser) {
    try {
      ForceFolders(folder);
    } catch (const EMSGError&) {
    }
  }
  return folder + kIniBase + ".ini";
}

void ReadFileList(const TIniFile& ini, const std::string& section, TFileList& list) {
  list.Clear();
  long count = ini.ReadInteger(section, "Count", 0);
  // Count is written capped at 5; a hand-edited file cannot make us read without end.
  count = std::clamp(count, 0L, 1000L);
  for (long i = 1; i <= count; ++i)
    list.Add(ini.ReadString(section, "Item" + std::to_string(i), ""));
}

void WriteFileList(TIniFile& ini, const std::string& section, const TFileList& list) {
  ini.WriteInteger(section, "Count", std::min(list.Count(), 5));
  for (int i = 0; i < list.Count(); ++i)
    ini.WriteString(section, "Item" + std::to_string(i + 1), list.Items()[static_cast<size_t>(i)]);
}

void LoadSettingsFrom(const TIniFile& ini, TSettings& s, bool windowPart) {
  if (!windowPart) {
    s.LastOpened = ini.ReadBool(kOptions, "LastOpened", s.LastOpened);
    s.BeepAfter = ini.ReadBool(kOptions, "BeepAfter", s.BeepAfter);
    s.DisableDialogAfterSave =
        ini.ReadBool(kOptions, "DisableDialogAfterSave", s.DisableDialogAfterSave);
    s.SaveFormPosition = ini.ReadBool(kOptions, "SaveFormPosition", s.SaveFormPosition);
  }
  if (windowPart && s.SaveFormPosition) {
    s.PositionSet = true;
    s.FormState = static_cast<int>(ini.ReadInteger(kOptions, "FormState", s.FormState));
    s.FormLeft = static_cast<int>(ini.ReadInteger(kOptions, "FormLeft", s.FormLeft));
    s.FormTop = static_cast<int>(ini.ReadInteger(kOptions, "FormTop", s.FormTop));
    s.FormWidth = static_cast<int>(ini.ReadInteger(kOptions, "FormWidth", s.FormWidth));
    s.FormHeight = static_cast<int>(ini.ReadInteger(kOptions, "FormHeight", s.FormHeight));
    s.Band0Width = static_cast<int>(ini.ReadInteger(kOptions, "Band0Width", s.Band0Width));
    if (s.BandCount >= 2)
      s.Band1Width = static_cast<int>(ini.ReadInteger(kOptions, "Band1Width", s.Band1Width));
    s.LeftPaneWidth = static_cast<int>(ini.ReadInteger(kOptions, "LeftPaneWidth", s.LeftPaneWidth));
    s.FileExplorer = ini.ReadBool(kOptions, "FileExplorer", s.FileExplorer);
  }
  if (!windowPart) {
    s.LangFile = ini.ReadString(kOptions, "LangFile", s.LangFile);
    s.DefaultDir = ini.ReadString(kOptions, "DefaultDir", s.DefaultDir);
    s.UseCustomFont = ini.ReadBool(kOptions, "UseCustomFont", s.UseCustomFont);
    if (ini.ValueExists(kOptions, "GridFont"))
      StringToFont(ini.ReadString(kOptions, "GridFont", ""), s.GridFont);
    s.WordWrap = ini.ReadBool(kOptions, "WordWrap", s.WordWrap);
    s.ExtendedSettings = ini.ReadString(kOptions, "ExtendedSettings", "");
    // Small enumerations are held as bytes: a stored value keeps its low byte.
    s.AppMode = static_cast<uint8_t>(ini.ReadInteger(kOptions, "AppMode", s.AppMode));
    s.HideLogo = ini.ReadBool(kOptions, "HideLogo", s.HideLogo);
    s.DefaultFormat =
        static_cast<uint8_t>(ini.ReadInteger(kOptions, "DefaultFormat", s.DefaultFormat));
    s.UpdateUrl = ini.ReadString(kOptions, "UpdateURL", s.UpdateUrl);
    s.DirKind = static_cast<uint8_t>(ini.ReadInteger(kAttachments, "DirKind", s.DirKind));
    s.LastUsedDir = ini.ReadString(kAttachments, "LastUsedDir", s.LastUsedDir);
    s.CustomDir = ini.ReadString(kAttachments, "CustomDir", s.CustomDir);
    s.SaveMode = static_cast<uint8_t>(ini.ReadInteger(kSave, "SaveMode", s.SaveMode));
    ReadFileList(ini, "Recent", s.RecentFiles);
    ReadFileList(ini, "FavoriteFiles", s.FavoriteFiles);
  }
  s.SettingsChanged = false;
}

void LoadSettings(TSettings& settings, bool windowPart) {
  std::string file = GetIniFileName(true);
  if (::access(file.c_str(), F_OK) != 0) {
    file = GetIniFileName(false);
    if (::access(file.c_str(), F_OK) != 0)
      return;
  }
  TIniFile ini(file);
  LoadSettingsFrom(ini, settings, windowPart);
}

void SaveSettingsTo(TIniFile& ini, TSettings& s) {
  if (s.SettingsChanged) {
    ini.WriteBool(kOptions, "LastOpened", s.LastOpened);
    ini.WriteBool(kOptions, "BeepAfter", s.BeepAfter);
    ini.WriteBool(kOptions, "DisableDialogAfterSave", s.DisableDialogAfterSave);
    ini.WriteBool(kOptions, "SaveFormPosition", s.SaveFormPosition);
    if (s.SaveFormPosition) {
      ini.WriteInteger(kOptions, "FormState", s.FormState);
      ini.WriteInteger(kOptions, "FormLeft", s.FormLeft);
      ini.WriteInteger(kOptions, "FormTop", s.FormTop);
      ini.WriteInteger(kOptions, "FormWidth", s.FormWidth);
      ini.WriteInteger(kOptions, "FormHeight", s.FormHeight);
      ini.WriteInteger(kOptions, "Band0Width", s.Band0Width);
      if (s.BandCount >= 2)
        ini.WriteInteger(kOptions, "Band1Width", s.Band1Width);
      ini.WriteInteger(kOptions, "LeftPaneWidth", s.LeftPaneWidth);
      ini.WriteBool(kOptions, "FileExplorer", s.FileExplorer);
    }
    ini.WriteString(kOptions, "LangFile", s.LangFile);
    ini.WriteString(kOptions, "DefaultDir", s.DefaultDir);
    ini.WriteBool(kOptions, "UseCustomFont", s.UseCustomFont);
    ini.WriteString(kOptions, "GridFont", FontToString(s.GridFont));
    ini.WriteBool(kOptions, "WordWrap", s.WordWrap);
    ini.WriteInteger(kOptions, "AppMode", s.AppMode);
    ini.WriteBool(kOptions, "HideLogo", s.HideLogo);
    ini.WriteInteger(kOptions, "DefaultFormat", s.DefaultFormat);
    if (s.UpdateUrl != kDefaultUpdateUrl)
      ini.WriteString(kOptions, "UpdateURL", s.UpdateUrl);
    else
      ini.DeleteKey(kOptions, "UpdateURL");
  }
  ini.WriteInteger(kAttachments, "DirKind", s.DirKind);
  ini.WriteString(kAttachments, "LastUsedDir", s.LastUsedDir);
  ini.WriteString(kAttachments, "CustomDir", s.CustomDir);
  ini.WriteInteger(kSave, "SaveMode", s.SaveMode);
  // Stale Item keys of a longer list written earlier would come back as entries: start anew.
  ini.EraseSection("Recent");
  ini.EraseSection("FavoriteFiles");
  WriteFileList(ini, "Recent", s.RecentFiles);
  WriteFileList(ini, "FavoriteFiles", s.FavoriteFiles);
}

void SaveSettings(TSettings& settings) {
  // Keys of the per-user file that we do not manage are kept.
  TIniFile ini(GetIniFileName(true));
  SaveSettingsTo(ini, settings);
  ini.UpdateFile();
  settings.SettingsChanged = false;
}

std::string GetAttachmentFolder(const TSettings& settings, const std::string& messageFile) {
  switch (settings.DirKind) {
  case 1:
    return settings.LastUsedDir.empty() ? HomeFolder() : WithSlash(settings.LastUsedDir);
  case 2:
    return settings.CustomDir.empty() ? HomeFolder() : WithSlash(settings.CustomDir);
  case 3: {
    size_t slash = messageFile.rfind('/');
    return slash == std::string::npos ? std::string("./") : messageFile.substr(0, slash + 1);
  }
  default:
    return HomeFolder();
  }
}

} // namespace orlendo
