#include "shell/file_association.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/ini_file.h"
#include "app/message_strings.h"
#include "app/settings.h"
#include "model/stream.h"

namespace orlendo {
namespace {

constexpr const char* kDefaultsSection = "Default Applications";
constexpr const char* kAddedSection = "Added Associations";

std::string EnvFolder(const char* name, const char* underHome) {
  const char* v = std::getenv(name);
  if (v && *v == '/')
    return v;
  std::string home = HomeFolder();
  return home + underHome;
}

std::string DataHome() {
  return EnvFolder("XDG_DATA_HOME", ".local/share");
}
std::string ConfigHome() {
  return EnvFolder("XDG_CONFIG_HOME", ".config");
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(b, e - b);
}

// The desktop files of a list value ("a.desktop;b.desktop;").
std::vector<std::string> ListItems(const std::string& value) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t semi = value.find(';', pos);
    if (semi == std::string::npos)
      semi = value.size();
    std::string item = Trim(value.substr(pos, semi - pos));
    if (!item.empty())
      out.push_back(item);
    pos = semi + 1;
  }
  return out;
}

std::vector<std::string> OthersOf(const std::string& value) {
  std::vector<std::string> out;
  for (auto& item : ListItems(value))
    if (item != kDesktopFileName)
      out.push_back(item);
  return out;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items)
    out += i + ";";
  return out;
}

// One argument of an Exec line, quoted when it holds a reserved character. Two escapings stack:
// the Exec rules ("\" before " ` $ \ inside quotes), then the string value's ("\\" for "\").
std::string ExecArgument(const std::string& arg) {
  bool quote = arg.empty();
  for (char c : arg)
    if (std::string(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string::npos)
      quote = true;
  std::string out;
  for (char c : arg) {
    if (c == '%')
      out += "%%";
    else if (c == '\\')
      out += "\\\\\\\\";
    else if (c == '"' || c == '`' || c == '$')
      out += std::string("\\\\") + c;
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return quote ? "\"" + out + "\"" : out;
}

bool ListsOurs(const std::string& value) {
  return OthersOf(value).size() != ListItems(value).size();
}

void WriteTextFile(const std::string& path, const std::string& text) {
  const std::string failure = "Unable to write to " + path;
  std::string tmpl = path + ".XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0)
    throw EMSGError(failure);
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  // Desktop entries are read by the desktop's own programs: world-readable like any.
  ok = ok && ::fchmod(fd, 0644) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(tmpl.c_str(), path.c_str()) != 0) {
    ::unlink(tmpl.c_str());
    throw EMSGError(failure);
  }
}

void EnsureFolder(const std::string& folder, const std::string& file) {
  if (!ForceFolders(folder))
    throw EMSGError("Unable to write to " + file);
}

} // namespace

std::string DesktopEntryPath() {
  return DataHome() + "/applications/" + kDesktopFileName;
}

std::string MimeAppsListPath() {
  return ConfigHome() + "/mimeapps.list";
}

std::string ProgramPath() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0)
    return "quillet";
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string RegisteredMessage() {
  return "Orlendo: " + MessageString("strExtRegistered");
}

std::string UnregisteredMessage() {
  return "Orlendo: " + MessageString("strExtUnRegistered");
}

std::string DesktopEntryText(const std::string& programPath) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Orlendo\n"
         "GenericName=E-mail message viewer\n"
         "Comment=View and convert stored e-mail messages (.msg, .eml, .mht)\n"
         "Exec=" +
         ExecArgument(programPath) +
         " %f\n"
         "Icon=quillet\n"
         "Terminal=false\n"
         "Categories=Office;Email;Viewer;\n"
         "MimeType=" +
         std::string(kMsgMimeType) + ";message/rfc822;multipart/related;\n";
}

void RegisterAsDefaultViewer(const std::string& programPath) {
  const std::string entry = DesktopEntryPath();
  EnsureFolder(DataHome() + "/applications", entry);
  WriteTextFile(entry, DesktopEntryText(programPath));

  const std::string list = MimeAppsListPath();
  EnsureFolder(ConfigHome(), list);
  TIniFile ini(list);
  for (const char* section : {kDefaultsSection, kAddedSection}) {
    std::vector<std::string> items = OthersOf(ini.ReadString(section, kMsgMimeType, ""));
    items.insert(items.begin(), kDesktopFileName);
    ini.WriteString(section, kMsgMimeType, JoinList(items));
  }
  ini.UpdateFile();
}

void UnregisterAsDefaultViewer() {
  const std::string entry = DesktopEntryPath();
  if (::unlink(entry.c_str()) != 0 && errno != ENOENT)
    throw EMSGError("Unable to delete " + entry);

  const std::string list = MimeAppsListPath();
  TIniFile ini;
  if (!ini.Load(list))
    return;
  bool changed = false;
  for (const std::string& section : ini.SectionNames()) {
    for (const std::string& key : ini.KeyNames(section)) {
      const std::string value = ini.ReadString(section, key, "");
      if (!ListsOurs(value))
        continue;
      std::vector<std::string> others = OthersOf(value);
      if (others.empty())
        ini.DeleteKey(section, key);
      else
        ini.WriteString(section, key, JoinList(others));
      changed = true;
    }
  }
  if (changed)
    ini.UpdateFile();
}

} // namespace orlendo
