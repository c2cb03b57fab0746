#include "app/message_strings.h"

#include <map>

namespace orlendo {
namespace {

std::map<std::string, std::string>& Current() {
  static std::map<std::string, std::string> current = [] {
    std::map<std::string, std::string> m;
    for (const auto& s : MessageStringTable())
      m[s.Key] = s.Default;
    return m;
  }();
  return current;
}

} // namespace

const std::vector<TMessageString>& MessageStringTable() {
  static const std::vector<TMessageString> table = {
      {"strExtRegistered", "successfully registered as default viewer for files"},
      {"strExtUnRegistered", "successfully unregistered as default viewer for files"},
      {"AllFileExt", "All files (*.*)|*.*"},
      {"MsgFileExt", "MS Outlook messages (*.msg)|*.msg"},
      {"EMLFileExt", "Email files (*.eml)|*.eml|Apple mail files (*.emlx)|*.emlx"},
      {"MHTFileExt", "MHTML Documents (*.mht)|*.mht"},
      {"strSetDefaultLanguage",
       "Default language interface will be loaded only after restarting application..."},
      {"strCurVerInfo", "Your current version is %s"},
      {"strNewVerInfo", "The new available version is %s"},
      {"strUpdateInfo", "You can download the new version from https://www.norvane.com/quillet/ "
                        "or request it from updates@norvane.com."},
      {"strURLNotOpened", "Cannot open URL %s"},
      {"strWinInetFailed", "Unable to initialize Wininet"},
      {"strRemoteFileNotFound", "Remote file with version information is not found."},
      {"strQvInProxyLogon", "Proxy Server authorization"},
      {"strLastVersionUsed", "You use the latest version. Check for new version later."},
      {"strFileName", "File name:"},
      {"strSavedSuccesfully", "%s file created succesfully."},
      {"strHighestPriority", "This message was sent with Highest importance."},
      {"strHighPriority", "This message was sent with High importance."},
      {"strLowPriority", "This message was sent with Low importance."},
      {"strLowestPriority", "This message was sent with Lowest importance."},
      {"strENotFindInBody", "Could not find \"%s\" in body."},
      {"strFileExplorer", "File Explorer"},
      {"strFileRecent", "Recent files"},
      {"strFileOpened", "Opened files"},
      {"strFileFavorites", "Favorites"},
      {"strDeleteFileFromFavorites",
       "Are you sure that you want to delete the selected file (%s) from Favorites?"},
      // The recent-list prompt has no key of its own elsewhere; this one follows the favourites'.
      {"strDeleteFileFromRecent",
       "Are you sure that you want to delete the selected file (%s) from Recent?"},
  };
  return table;
}

const std::string& MessageString(const std::string& key) {
  auto& m = Current();
  auto it = m.find(key);
  if (it != m.end())
    return it->second;
  static thread_local std::string unknown;
  unknown = key;
  return unknown;
}

void SetMessageString(const std::string& key, const std::string& text) {
  auto& m = Current();
  auto it = m.find(key);
  if (it != m.end())
    it->second = text;
}

void ResetMessageStrings() {
  for (const auto& s : MessageStringTable())
    Current()[s.Key] = s.Default;
}

} // namespace orlendo
