#include "mime/mime_lines.h"

#include <cstring>

namespace orlendo {

namespace {

// Calls found(start) for the start of every line of [begin, end).
template <class Found> void ForEachLineStart(const char* begin, const char* end, Found found) {
  // Lines end mostly in LF; memchr finds both kinds of line end at memory speed, and the
  // position of the next CR is remembered so that no byte is scanned twice for it.
  const char* p = begin;
  const char* nextCr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
  while (p < end) {
    found(static_cast<size_t>(p - begin));
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (nextCr && nextCr < p)
      nextCr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
    const char* stop = lf ? lf : end;
    if (nextCr && nextCr < stop)
      stop = nextCr;
    if (stop == end)
      break;
    if (*stop == '\r' && stop + 1 < end && stop[1] == '\n')
      p = stop + 2;
    else
      p = stop + 1;
  }
}

} // namespace

void TMimeLines::Assign(std::string text) {
  Clear();
  text_ = std::move(text);
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  // Counted first, so that the offsets take exactly the room they need.
  ForEachLineStart(begin, end, [&](size_t) { ++count_; });
  wide_ = text_.size() > UINT32_MAX;
  if (wide_) {
    starts64_.reserve(count_);
    ForEachLineStart(begin, end, [&](size_t at) { starts64_.push_back(at); });
  } else {
    starts32_.reserve(count_);
    ForEachLineStart(begin, end,
                     [&](size_t at) { starts32_.push_back(static_cast<uint32_t>(at)); });
  }
}

std::string_view TMimeLines::operator[](size_t index) const {
  const size_t begin = Start(index);
  size_t stop = index + 1 < count_ ? Start(index + 1) : text_.size();
  if (index + 1 < count_ || EndsWithLineEnd()) {
    // CR LF is one line end; a CR before an LF always belongs to it.
    stop -= text_[stop - 1] == '\n' && stop - begin >= 2 && text_[stop - 2] == '\r' ? 2 : 1;
  }
  return std::string_view(text_).substr(begin, stop - begin);
}

void TMimeLines::Clear() {
  text_.clear();
  text_.shrink_to_fit();
  starts32_.clear();
  starts32_.shrink_to_fit();
  starts64_.clear();
  starts64_.shrink_to_fit();
  count_ = 0;
  wide_ = false;
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
