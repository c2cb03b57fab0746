#include "shell/file_association.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/ini_file.h"
#include "app/message_strings.h"
#include "app/settings.h"
#include "model/stream.h"

extern char** environ;

namespace orlendo {
namespace {

namespace fs = std::filesystem;

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

// The desktop files of a list value ("a.desktop;b.desktop;"), or the folders of a search path.
std::vector<std::string> ListItems(const std::string& value, char separator = ';') {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t semi = value.find(separator, pos);
    if (semi == std::string::npos)
      semi = value.size();
    std::string item = Trim(value.substr(pos, semi - pos));
    if (!item.empty())
      out.push_back(item);
    pos = semi + 1;
  }
  return out;
}

bool IsOurs(const std::string& item);

std::vector<std::string> OthersOf(const std::string& value) {
  std::vector<std::string> out;
  for (auto& item : ListItems(value))
    if (!IsOurs(item))
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

// Our entry under its name and under the name older versions used.
bool IsOurs(const std::string& item) {
  return item == kDesktopFileName || item == kOldDesktopFileName;
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

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw EMSGError("Unable to read " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    throw EMSGError("Unable to read " + path);
  return text;
}

void EnsureFolder(const std::string& folder, const std::string& file) {
  if (!ForceFolders(folder))
    throw EMSGError("Unable to write to " + file);
}

void InstallCopy(const std::string& source, const std::string& target) {
  const std::string text = ReadTextFile(source);
  EnsureFolder(fs::path(target).parent_path().string(), target);
  WriteTextFile(target, text);
}

// Removes path; a file that is not there is no error.
void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw EMSGError("Unable to delete " + path);
}

// Removes the folders of path from its own up to (not including) top, as long as they are
// empty, so that Unregister leaves no trace of the folders Register made.
void RemoveEmptyFolders(fs::path folder, const fs::path& top) {
  const std::string below = top.string() + "/";
  while (folder.string().rfind(below, 0) == 0) {
    if (::rmdir(folder.c_str()) != 0)
      return;
    folder = folder.parent_path();
  }
}

// The user's MIME database is the cache that file managers and xdg-mime type files by; it is
// rebuilt from mime/packages. Without update-mime-database there is no database to rebuild.
void UpdateMimeDatabase() {
  const std::string folder = DataHome() + "/mime";
  const char* argv[] = {"update-mime-database", folder.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == ENOENT)
    return;
  int status = 0;
  bool ok = spawned == 0;
  while (ok && ::waitpid(pid, &status, 0) < 0)
    ok = errno == EINTR;
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw EMSGError("Unable to update the MIME database in " + folder);
}

// A user's MIME database built from no package at all is derived data of nothing: with our package
// gone and no other in mime/packages, its files and folders go too.
void RemoveEmptyMimeDatabase() {
  const fs::path mime = DataHome() + "/mime";
  std::error_code ec;
  if (!fs::is_empty(mime / "packages", ec) || ec)
    return;
  for (const char* name :
       {"aliases", "generic-icons", "globs", "globs2", "icons", "magic", "mime.cache", "subclasses",
        "treemagic", "types", "version", "XMLnamespaces"})
    ::unlink((mime / name).c_str());
  std::vector<fs::path> folders;
  for (const auto& item : fs::directory_iterator(mime, ec))
    if (item.is_directory(ec))
      folders.push_back(item.path());
  for (const fs::path& folder : folders)
    ::rmdir(folder.c_str()); // media-type folders that update-mime-database left empty
  ::rmdir(mime.c_str());
}

// <prefix>/share of an installed program (its data folder <prefix>/share/quillet exists), else
// empty.
fs::path InstalledShare(const std::string& programPath) {
  std::error_code ec;
  const fs::path share = fs::path(programPath).parent_path().parent_path() / "share";
  if (fs::is_directory(share / "quillet", ec))
    return share;
  return {};
}

std::vector<fs::path> DataDirs() {
  const char* v = std::getenv("XDG_DATA_DIRS");
  const std::string dirs = v && *v ? v : "/usr/local/share:/usr/share";
  std::vector<fs::path> out;
  for (const std::string& item : ListItems(dirs, ':'))
    if (!item.empty() && item[0] == '/')
      out.emplace_back(item);
  return out;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec1, ec2;
  const fs::path ca = fs::weakly_canonical(a, ec1);
  const fs::path cb = fs::weakly_canonical(b, ec2);
  return !ec1 && !ec2 && ca == cb;
}

// An entry that older versions wrote under the old name, recognised by its Name line.
void RemoveOldEntry() {
  const std::string old = DataHome() + "/applications/" + kOldDesktopFileName;
  std::ifstream in(old, std::ios::binary);
  if (!in)
    return;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.find("\nName=Orlendo\n") != std::string::npos)
    RemoveFile(old);
}

} // namespace

std::string DesktopEntryPath() {
  return DataHome() + "/applications/" + kDesktopFileName;
}

std::string IconPath() {
  return DataHome() + "/icons/hicolor/scalable/apps/" + kIconName + ".svg";
}

std::string MimePackagePath() {
  return DataHome() + "/mime/packages/" + kMimePackageName;
}

std::string MimeAppsListPath() {
  return ConfigHome() + "/mimeapps.list";
}

TDesktopSources DesktopSources(const std::string& programPath) {
  const fs::path share = InstalledShare(programPath);
  if (!share.empty())
    return {(share / "applications" / kDesktopFileName).string(),
            (share / "icons/hicolor/scalable/apps" / (std::string(kIconName) + ".svg")).string(),
            (share / "mime/packages" / kMimePackageName).string()};
  const fs::path source(ORLENDO_SOURCE_DIR);
  return {(source / "desktop" / kDesktopFileName).string(),
          (source / "resources/icons/logo.svg").string(),
          (source / "desktop" / kMimePackageName).string()};
}

bool InstalledForTheDesktop(const std::string& programPath) {
  const fs::path share = InstalledShare(programPath);
  std::error_code ec;
  if (share.empty() || !fs::exists(share / "applications" / kDesktopFileName, ec))
    return false;
  for (const fs::path& dir : DataDirs())
    if (SameFolder(dir, share))
      return true;
  return false;
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
  const std::string entry = ReadTextFile(DesktopSources(programPath).DesktopEntry);
  // TryExec is a plain string value: only its own escapes apply.
  std::string tryExec;
  for (char c : programPath)
    tryExec += c == '\\' ? std::string("\\\\") : c == '\n' ? std::string("\\n") : std::string(1, c);
  std::string out;
  size_t pos = 0;
  while (pos < entry.size()) {
    size_t end = entry.find('\n', pos);
    end = end == std::string::npos ? entry.size() : end + 1;
    const std::string line = entry.substr(pos, end - pos);
    // Every Exec line, the entry's and its actions', starts the running program with the
    // arguments the entry gives it.
    if (line.rfind("Exec=quillet", 0) == 0)
      out += "Exec=" + ExecArgument(programPath) + line.substr(12);
    else if (line.rfind("Exec=", 0) == 0)
      out += "Exec=" + ExecArgument(programPath) + " %f\n";
    else if (line.rfind("TryExec=", 0) == 0)
      out += "TryExec=" + tryExec + "\n";
    else
      out += line;
    pos = end;
  }
  return out;
}

void RegisterAsDefaultViewer(const std::string& programPath) {
  if (!InstalledForTheDesktop(programPath)) {
    const TDesktopSources sources = DesktopSources(programPath);
    const std::string entryText = DesktopEntryText(programPath);
    const std::string entry = DesktopEntryPath();
    EnsureFolder(DataHome() + "/applications", entry);
    WriteTextFile(entry, entryText);
    InstallCopy(sources.Icon, IconPath());
    InstallCopy(sources.MimePackage, MimePackagePath());
    UpdateMimeDatabase();
  }
  RemoveOldEntry();

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
  const fs::path data = DataHome();
  RemoveFile(DesktopEntryPath());
  RemoveOldEntry();
  RemoveFile(IconPath());
  RemoveEmptyFolders(fs::path(IconPath()).parent_path(), data);
  std::error_code ec;
  if (fs::exists(MimePackagePath(), ec)) {
    RemoveFile(MimePackagePath());
    UpdateMimeDatabase();
    RemoveEmptyMimeDatabase();
  }

  const std::string list = MimeAppsListPath();
  TIniFile ini;
  if (!ini.Load(list))
    return;
  bool changed = false;
  for (const std::string& section : ini.SectionNames()) {
    bool emptied = false;
    for (const std::string& key : ini.KeyNames(section)) {
      const std::string value = ini.ReadString(section, key, "");
      if (!ListsOurs(value))
        continue;
      std::vector<std::string> others = OthersOf(value);
      if (others.empty()) {
        ini.DeleteKey(section, key);
        emptied = true;
      } else {
        ini.WriteString(section, key, JoinList(others));
      }
      changed = true;
    }
    if (emptied && ini.KeyNames(section).empty())
      ini.EraseSection(section);
  }
  if (!changed)
    return;
  // A file that held nothing but our entries goes with them.
  if (ini.Text().find_first_not_of(" \t\r\n") == std::string::npos)
    RemoveFile(list);
  else
    ini.UpdateFile();
}

} // namespace orlendo
