#include "app/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "model/stream.h"

namespace orlendo {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z')
      x -= 32;
    if (y >= 'a' && y <= 'z')
      y -= 32;
    if (x != y)
      return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(b, e - b);
}

} // namespace

TIniFile::TIniFile(const std::string& path) {
  Load(path);
}

bool TIniFile::Load(const std::string& path) {
  path_ = path;
  preamble_.clear();
  sections_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Editors often start a UTF-8 file with a byte-order mark; it would hide the first section.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      Section s;
      s.name = Trim(trimmed.substr(1, trimmed.size() - 2));
      sections_.push_back(std::move(s));
      continue;
    }
    Line l;
    l.raw = line;
    size_t eq = line.find('=');
    if (eq != std::string::npos && !trimmed.empty() && trimmed[0] != ';' && trimmed[0] != '#') {
      l.key = Trim(line.substr(0, eq));
      l.value = line.substr(eq + 1);
    }
    if (sections_.empty())
      preamble_.push_back(std::move(l));
    else
      sections_.back().lines.push_back(std::move(l));
  }
  return true;
}

TIniFile::Section* TIniFile::FindSection(const std::string& name) {
  for (auto& s : sections_)
    if (SameName(s.name, name))
      return &s;
  return nullptr;
}

const TIniFile::Section* TIniFile::FindSection(const std::string& name) const {
  for (const auto& s : sections_)
    if (SameName(s.name, name))
      return &s;
  return nullptr;
}

const TIniFile::Line* TIniFile::FindKey(const std::string& section, const std::string& key) const {
  const Section* s = FindSection(section);
  if (!s)
    return nullptr;
  for (const auto& l : s->lines)
    if (!l.key.empty() && SameName(l.key, key))
      return &l;
  return nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindKey(section, key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const Line* l = FindKey(section, key);
  return l ? l->value : def;
}

long TIniFile::ReadInteger(const std::string& section, const std::string& key, long def) const {
  const Line* l = FindKey(section, key);
  if (!l)
    return def;
  std::string v = Trim(l->value);
  if (v.empty())
    return def;
  errno = 0;
  char* end = nullptr;
  long result;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
    result = std::strtol(v.c_str() + 2, &end, 16);
  else
    result = std::strtol(v.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0')
    return def;
  return result;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  Section* s = FindSection(section);
  if (!s) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  for (auto& l : s->lines) {
    if (!l.key.empty() && SameName(l.key, key)) {
      l.value = value;
      l.raw.clear();
      return;
    }
  }
  // New keys go after the last key of the section, before trailing blank lines.
  size_t at = s->lines.size();
  while (at > 0 && s->lines[at - 1].key.empty() && Trim(s->lines[at - 1].raw).empty())
    --at;
  Line l;
  l.key = key;
  l.value = value;
  s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(l));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, long value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it) {
    if (SameName(it->name, section)) {
      sections_.erase(it);
      return;
    }
  }
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = FindSection(section);
  if (!s)
    return;
  for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
    if (!it->key.empty() && SameName(it->key, key)) {
      s->lines.erase(it);
      return;
    }
  }
}

std::vector<std::string> TIniFile::SectionNames() const {
  std::vector<std::string> out;
  for (const auto& s : sections_)
    out.push_back(s.name);
  return out;
}

std::vector<std::string> TIniFile::KeyNames(const std::string& section) const {
  std::vector<std::string> out;
  if (const Section* s = FindSection(section))
    for (const auto& l : s->lines)
      if (!l.key.empty())
        out.push_back(l.key);
  return out;
}

std::string TIniFile::Text() const {
  std::string out;
  auto emit = [&out](const Line& l) {
    if (!l.key.empty() && l.raw.empty())
      out += l.key + "=" + l.value;
    else
      out += l.raw;
    out += "\n";
  };
  for (const auto& l : preamble_)
    emit(l);
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\n";
    for (const auto& l : s.lines)
      emit(l);
  }
  return out;
}

void TIniFile::UpdateFile() const {
  SaveAs(path_);
}

void TIniFile::SaveAs(const std::string& path) const {
  const std::string failure = "Unable to write to " + path;
  std::string tmpl = path + ".XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0)
    throw EMSGError(failure);
  const std::string text = Text();
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0)
    ok = false;
  // mkstemp makes the file 0600; settings are the user's own, which is what we want.
  if (::close(fd) != 0)
    ok = false;
  if (!ok || std::rename(tmpl.c_str(), path.c_str()) != 0) {
    ::unlink(tmpl.c_str());
    throw EMSGError(failure);
  }
}

} // namespace orlendo
