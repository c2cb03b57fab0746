#include "mime/mime_lines.h"

#include <cstring>

namespace orlendo {

void TMimeLines::Assign(std::string text) {
  lines_.clear();
  text_ = std::move(text);
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  // Lines end mostly in LF; memchr finds both kinds of line end at memory speed, and the
  // position of the next CR is remembered so that no byte is scanned twice for it.
  lines_.reserve(text_.size() / 64 + 1);
  const char* p = begin;
  const char* nextCr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (nextCr && nextCr < p)
      nextCr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
    const char* stop = lf ? lf : end;
    if (nextCr && nextCr < stop)
      stop = nextCr;
    lines_.emplace_back(p, static_cast<size_t>(stop - p));
    if (stop == end)
      break;
    if (*stop == '\r' && stop + 1 < end && stop[1] == '\n')
      p = stop + 2;
    else
      p = stop + 1;
  }
}

void TMimeLines::Clear() {
  lines_.clear();
  text_.clear();
  text_.shrink_to_fit();
  lines_.shrink_to_fit();
}

std::string_view TrimBlanks(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && static_cast<unsigned char>(text[first]) <= 0x20)
    ++first;
  size_t last = text.size();
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 0x20)
    --last;
  return text.substr(first, last - first);
}

std::string ReadHeaderLine(const TMimeLines& lines, size_t& cursor) {
  if (cursor >= lines.Count())
    return std::string();
  std::string result(lines[cursor++]);
  if (result.empty())
    return result;
  while (cursor + 1 < lines.Count()) {
    std::string_view next = lines[cursor];
    if (next.empty() || (next[0] != ' ' && next[0] != '\t'))
      break;
    std::string_view trimmed = TrimBlanks(next);
    result.push_back(' ');
    size_t from = result.size();
    result.append(trimmed);
    for (size_t i = from; i < result.size(); ++i)
      if (result[i] == '\t')
        result[i] = ' ';
    ++cursor;
  }
  return result;
}

} // namespace orlendo
