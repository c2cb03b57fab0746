#include "app/update_version.h"

#include <vector>

#include "app/message_strings.h"

namespace orlendo {
namespace {

std::string TrimSpace(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return s.substr(b, e - b);
}

struct VersionPart {
  unsigned long long number = 0;
  std::string rest;
};

std::vector<VersionPart> SplitVersion(const std::string& version) {
  std::vector<VersionPart> parts;
  std::string text = version;
  if (!text.empty() && (text[0] == 'v' || text[0] == 'V'))
    text.erase(0, 1);
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t dot = text.find('.', pos);
    if (dot == std::string::npos)
      dot = text.size();
    const std::string piece = text.substr(pos, dot - pos);
    VersionPart part;
    size_t k = 0;
    // Ten digits hold every sensible part; more would only overflow.
    while (k < piece.size() && k < 10 && piece[k] >= '0' && piece[k] <= '9')
      part.number = part.number * 10 + static_cast<unsigned>(piece[k++] - '0');
    part.rest = piece.substr(k);
    parts.push_back(part);
    pos = dot + 1;
  }
  return parts;
}

} // namespace

std::string RemoteVersion(const std::string& document) {
  const std::string element = "<Program_Version>";
  const size_t at = document.find(element);
  if (at == std::string::npos)
    return "<unknown>";
  std::string text = document.substr(at + element.size(), 10);
  size_t cut = text.find('<');
  if (cut == std::string::npos)
    cut = text.find_first_of("\r\n");
  if (cut != std::string::npos)
    text.erase(cut);
  text = TrimSpace(text);
  if (text.empty())
    return "<unknown>";
  return "v" + text;
}

std::string LocalVersion(const std::string& programVersion) {
  const std::string padded = " " + programVersion;
  const size_t at = padded.find(" v");
  if (at == std::string::npos)
    return "v";
  std::string text = padded.substr(at + 2, 10);
  size_t cut = text.find(' ');
  if (cut == std::string::npos)
    cut = text.find('\r');
  if (cut != std::string::npos)
    text.erase(cut);
  return "v" + text;
}

bool IsNewerVersion(const std::string& remote, const std::string& local) {
  if (remote == "<unknown>")
    return false;
  const auto a = SplitVersion(remote), b = SplitVersion(local);
  for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const VersionPart x = i < a.size() ? a[i] : VersionPart{};
    const VersionPart y = i < b.size() ? b[i] : VersionPart{};
    if (x.number != y.number)
      return x.number > y.number;
    if (x.rest != y.rest)
      return x.rest > y.rest;
  }
  return false;
}

std::string FormatMessage(const std::string& text, const std::string& value) {
  std::string out = text;
  const size_t at = out.find("%s");
  if (at != std::string::npos)
    out.replace(at, 2, value);
  return out;
}

std::string UpdateResultMessage(const std::string& document, const std::string& programVersion) {
  const std::string remote = RemoteVersion(document);
  const std::string current = FormatMessage(MessageString("strCurVerInfo"), programVersion);
  if (IsNewerVersion(remote, LocalVersion(programVersion)))
    return current + "\n" + FormatMessage(MessageString("strNewVerInfo"), remote) + "\n\n" +
           MessageString("strUpdateInfo");
  return current + "\n\n" + MessageString("strLastVersionUsed");
}

} // namespace orlendo
