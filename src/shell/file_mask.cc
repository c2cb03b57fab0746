#include "shell/file_mask.h"

#include "model/utf8.h"

namespace orlendo {
namespace {

std::u16string Upper(const std::string& utf8) {
  std::u16string s = utf8::Decode(utf8);
  for (auto& c : s)
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - 32);
  return s;
}

// Whether segment matches name at position at, "?" standing for any character.
bool SegmentAt(const std::u16string& name, size_t at, const std::u16string& segment) {
  if (at + segment.size() > name.size())
    return false;
  for (size_t k = 0; k < segment.size(); ++k)
    if (segment[k] != u'?' && segment[k] != name[at + k])
      return false;
  return true;
}

} // namespace

bool MatchesFileMask(const std::string& fileName, const std::string& fileMask) {
  const std::u16string name = Upper(fileName);
  std::u16string mask = Upper(fileMask);
  if (name == mask)
    return true;
  for (size_t p; (p = mask.find(u"**")) != std::u16string::npos;)
    mask.erase(p, 1);
  if (mask == u"*" || mask == u"*.*")
    return true;
  if (name.empty() || mask.empty())
    return false;

  size_t i = 0, j = 0; // positions in mask and name
  while (i < mask.size() && j < name.size()) {
    if (mask[i] != u'*') {
      if (mask[i] != u'?' && mask[i] != name[j])
        return false;
      ++i;
      ++j;
      continue;
    }
    const size_t next = mask.find(u'*', i + 1);
    if (next == std::u16string::npos) {
      // The last segment is anchored at the end of the name, and must not reach back over the
      // part of the name already matched.
      const std::u16string segment = mask.substr(i + 1);
      if (name.size() - j < segment.size())
        return false;
      return SegmentAt(name, name.size() - segment.size(), segment);
    }
    const std::u16string segment = mask.substr(i + 1, next - i - 1);
    size_t at = j;
    while (at + segment.size() <= name.size() && !SegmentAt(name, at, segment))
      ++at;
    if (at + segment.size() > name.size())
      return false;
    j = at + segment.size();
    i = next;
  }
  if (i == mask.size())
    return j == name.size();
  // The name is used up: only a trailing "*" may remain.
  return mask.substr(i) == u"*";
}

} // namespace orlendo
