// Small pieces shared by the accessors: the first text of a chain of properties, and the
// trimming of names and list pieces.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

// The first non-empty text among exact tags.
inline std::u16string FirstText(const TMSGProperties& level, std::initializer_list<uint32_t> tags,
                                bool recursive) {
  for (uint32_t tag : tags) {
    std::u16string text = level.GetPropertyText(tag, false, recursive);
    if (!text.empty())
      return text;
  }
  return {};
}

// Display names and list pieces are trimmed of blanks and control characters alike.
inline std::u16string_view TrimmedName(std::u16string_view s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && s[begin] <= u' ')
    ++begin;
  while (end > begin && s[end - 1] <= u' ')
    --end;
  return s.substr(begin, end - begin);
}
inline std::u16string TrimName(std::u16string_view s) {
  return std::u16string(TrimmedName(s));
}
// The same, in place.
inline void TrimNameInPlace(std::u16string& s) {
  const std::u16string_view kept = TrimmedName(s);
  const size_t begin = size_t(kept.data() - s.data());
  s.erase(begin + kept.size());
  s.erase(0, begin);
}

} // namespace orlendo
