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
  buffer_ = std::make_shared<const std::string>(std::move(text));
  text_ = *buffer_;
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  // Counted first, so that the offsets take exactly the room they need.
  ForEachLineStart(begin, end, [&](size_t) { ++count_; });
  wide_ = text_.size() > UINT32_MAX;
  stride_ = count_ > text_.size() / 4 ? kStride : 1;
  const size_t blocks = (count_ + stride_ - 1) / stride_;
  size_t line = 0;
  if (wide_) {
    starts64_.reserve(blocks);
    ForEachLineStart(begin, end, [&](size_t at) {
      if (line++ % stride_ == 0)
        starts64_.push_back(at);
    });
  } else {
    starts32_.reserve(blocks);
    ForEachLineStart(begin, end, [&](size_t at) {
      if (line++ % stride_ == 0)
        starts32_.push_back(static_cast<uint32_t>(at));
    });
  }
}

size_t TMimeLines::LineEnd(size_t start) const {
  const char* const p = text_.data() + start;
  const size_t rest = text_.size() - start;
  const void* lf = std::memchr(p, '\n', rest);
  const size_t upTo = lf ? static_cast<size_t>(static_cast<const char*>(lf) - p) : rest;
  const void* cr = std::memchr(p, '\r', upTo);
  return start + (cr ? static_cast<size_t>(static_cast<const char*>(cr) - p) : upTo);
}

size_t TMimeLines::NextStart(size_t end) const {
  if (end >= text_.size())
    return text_.size();
  // CR LF is one line end; LF CR and CR CR are two.
  return end + (text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n' ? 2 : 1);
}

std::string_view TMimeLines::operator[](size_t index) const {
  if (stride_ == 1) {
    const size_t begin = Checkpoint(index);
    size_t stop = index + 1 < count_ ? Checkpoint(index + 1) : text_.size();
    if (index + 1 < count_ || EndsWithLineEnd()) {
      // CR LF is one line end; a CR before an LF always belongs to it.
      stop -= text_[stop - 1] == '\n' && stop - begin >= 2 && text_[stop - 2] == '\r' ? 2 : 1;
    }
    return std::string_view(text_).substr(begin, stop - begin);
  }
  if (index != lastIndex_) {
    // From the line asked for last when it is on the way, else from the checkpoint before.
    size_t at = index - index % kStride;
    size_t start = Checkpoint(index / kStride);
    if (lastIndex_ != SIZE_MAX && lastIndex_ < index && lastIndex_ >= at) {
      at = lastIndex_ + 1;
      start = lastNext_;
    }
    for (; at < index; ++at)
      start = NextStart(LineEnd(start));
    lastIndex_ = index;
    lastStart_ = start;
    lastEnd_ = LineEnd(start);
    lastNext_ = NextStart(lastEnd_);
  }
  return std::string_view(text_).substr(lastStart_, lastEnd_ - lastStart_);
}

void TMimeLines::Clear() {
  buffer_.reset();
  text_ = {};
  starts32_.clear();
  starts32_.shrink_to_fit();
  starts64_.clear();
  starts64_.shrink_to_fit();
  stride_ = 1;
  count_ = 0;
  wide_ = false;
  lastIndex_ = SIZE_MAX;
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
    if (next.empty() || (next[0] != ' ' && next[0] != '\t' && next.substr(0, 2) != "=?"))
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

std::string_view ReadHeaderLine(const TMimeLines& lines, size_t& cursor, std::string& storage) {
  if (cursor >= lines.Count())
    return {};
  const std::string_view first = lines[cursor];
  // As ReadHeaderLine folds: a next line that starts with a blank, a TAB or "=?" and is not the
  // last.
  const size_t next = cursor + 1;
  const bool folded =
      !first.empty() && next + 1 < lines.Count() && !lines[next].empty() &&
      (lines[next][0] == ' ' || lines[next][0] == '\t' || lines[next].substr(0, 2) == "=?");
  if (!folded) {
    ++cursor;
    return first;
  }
  storage = ReadHeaderLine(lines, cursor);
  return storage;
}

} // namespace orlendo
