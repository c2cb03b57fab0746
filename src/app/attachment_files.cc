#include "app/attachment_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "model/stream.h"
#include "msg/compound_file.h"

namespace orlendo {

namespace {

constexpr size_t kNameMax = 255;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t max) {
  if (text.size() <= max)
    return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// A zero-terminated string at pos; false when there is no terminator.
bool ReadZString(const std::string& s, size_t& pos, std::string& out) {
  const size_t end = s.find('\0', pos);
  if (end == std::string::npos)
    return false;
  out = s.substr(pos, end - pos);
  pos = end + 1;
  return true;
}

} // namespace

std::string SafeFileName(const std::string& name, const std::string& fallback) {
  const size_t cut = name.find_last_of("/\\");
  const std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
  std::string clean;
  for (char c : last) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F)
      clean += c;
  }
  size_t begin = 0, end = clean.size();
  while (begin < end && IsBlank(clean[begin]))
    ++begin;
  while (end > begin && IsBlank(clean[end - 1]))
    --end;
  clean = clean.substr(begin, end - begin);
  if (clean.size() > kNameMax) {
    const size_t dot = clean.rfind('.');
    const std::string ext =
        dot != std::string::npos && clean.size() - dot <= 16 ? clean.substr(dot) : std::string();
    clean = CutUtf8(clean.substr(0, clean.size() - ext.size()), kNameMax - ext.size()) + ext;
  }
  if (clean.empty() || clean == "." || clean == "..")
    return fallback;
  return clean;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/')
    path += '/';
  return path + SafeFileName(name);
}

std::string DistinctFileName(const std::string& folder, const std::string& name,
                             const std::vector<std::string>& taken) {
  auto isFree = [&](const std::string& candidate) {
    if (std::find(taken.begin(), taken.end(), candidate) != taken.end())
      return false;
    std::error_code ec;
    return !std::filesystem::exists(std::filesystem::path(folder) / candidate, ec) && !ec;
  };
  if (isFree(name))
    return name;
  // ".profile" has no extension; "a.tar.gz" numbers before ".gz", as file managers do.
  const size_t dot = name.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  for (int n = 2;; ++n) {
    const std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (isFree(candidate) || n > 100000)
      return candidate;
  }
}

std::string RunnableFileKind(const std::string& fileName, const std::string& head) {
  static const struct {
    const char* extension;
    const char* kind;
  } kKinds[] = {
      {".desktop", "desktop entry"},
      {".sh", "shell script"},
      {".bash", "shell script"},
      {".zsh", "shell script"},
      {".csh", "shell script"},
      {".ksh", "shell script"},
      {".command", "shell script"},
      {".run", "installer program"},
      {".bin", "program"},
      {".jar", "Java archive"},
      {".exe", "Windows program"},
      {".msi", "Windows installer"},
      {".com", "Windows program"},
      {".bat", "Windows batch file"},
      {".cmd", "Windows batch file"},
      {".scr", "Windows program"},
      {".pif", "Windows program"},
      {".vbs", "Windows script"},
      {".appimage", "AppImage program"},
      {".py", "Python script"},
      {".pyw", "Python script"},
      {".pl", "Perl script"},
      {".rb", "Ruby script"},
      {".php", "PHP script"},
      {".lua", "Lua script"},
      {".tcl", "Tcl script"},
  };
  std::string lower;
  for (char c : fileName)
    lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const size_t dot = lower.find_last_of('.');
  if (dot != std::string::npos) {
    const std::string extension = lower.substr(dot);
    for (const auto& k : kKinds)
      if (extension == k.extension)
        return k.kind;
  }
  if (head.compare(0, 2, "#!") == 0)
    return "script";
  if (head.compare(0, 4,
                   "\x7F"
                   "ELF") == 0)
    return "program";
  if (head.compare(0, 2, "MZ") == 0)
    return "Windows program";
  return "";
}

std::string EmbeddedMessageFileName(const std::string& caption) {
  std::string name = caption + ".msg";
  for (char& c : name)
    if (c == '/' || c == ':')
      c = '_';
  return name;
}

TTempFiles& TTempFiles::Instance() {
  static TTempFiles instance;
  return instance;
}

TTempFiles::~TTempFiles() {
  DeleteAll();
}

std::string TTempFiles::NewPath(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (folder_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    if (pattern.back() != '/')
      pattern += '/';
    pattern += "quillet-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
      throw EMSGError("Unable to create directory");
    folder_ = buffer.data();
  }
  const std::string sub = folder_ + "/" + std::to_string(++next_);
  if (mkdir(sub.c_str(), 0700) != 0)
    throw EMSGError("Unable to create directory");
  return PathInFolder(sub, name);
}

void TTempFiles::Add(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  chmod(path.c_str(), 0600);
  files_.push_back(path);
}

void TTempFiles::DeleteAll() {
  std::lock_guard<std::mutex> guard(lock_);
  std::error_code ignored;
  for (const std::string& file : files_)
    std::filesystem::remove(file, ignored);
  files_.clear();
  if (!folder_.empty())
    std::filesystem::remove_all(folder_, ignored);
  folder_.clear();
}

bool ParseOle10Native(const std::string& s, TOlePackage& package) {
  // Total size (4), a type word (2), the label, the original path (both zero-terminated), a
  // reserved word (4), the length (4) and text of the temporary path it was packed from, then the
  // data size (4) and the data.
  if (s.size() < 6)
    return false;
  size_t pos = 6;
  std::string label, original, temporary;
  if (!ReadZString(s, pos, label) || !ReadZString(s, pos, original))
    return false;
  if (s.size() < pos + 8)
    return false;
  const uint32_t tempLength = Le32(s, pos + 4);
  pos += 8;
  if (tempLength > s.size() - pos)
    return false;
  temporary.assign(s, pos, tempLength);
  pos += tempLength;
  if (s.size() < pos + 4)
    return false;
  const uint32_t size = Le32(s, pos);
  pos += 4;
  if (size > s.size() - pos)
    return false;
  package.Data.assign(s, pos, size);
  // The label is what the user saw; the paths are where it came from on the sender's machine.
  const std::string tempText = temporary.substr(0, temporary.find('\0'));
  package.FileName = !label.empty() ? label : !original.empty() ? original : tempText;
  return true;
}

bool ReadOlePackage(const std::string& objectImage, TOlePackage& package) {
  if (!cfb::IsCompoundFile(objectImage.data(), objectImage.size()))
    return false;
  try {
    cfb::Storage root = cfb::OpenMemory(objectImage);
    if (!root.Exists(u"\x01Ole10Native"))
      return false;
    cfb::Stream stream = root.OpenStream(u"\x01Ole10Native");
    return ParseOle10Native(stream.ReadAll(), package);
  } catch (const std::exception&) {
    return false;
  }
}

} // namespace orlendo
