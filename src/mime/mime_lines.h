// The input of the Internet message reader, held once and split into lines, and the two ways of
// reading those lines: header lines, which are unfolded, and raw lines for everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orlendo {

class TMimeLines {
public:
  TMimeLines() = default;
  TMimeLines(const TMimeLines&) = delete;
  TMimeLines& operator=(const TMimeLines&) = delete;

  // Takes the whole input and splits it. A CR or an LF ends a line, CR LF counts as one line
  // end and LF CR as two (an empty line between them); text after the last line end is a last
  // line; empty input gives no lines. The views returned by operator[] point into the text held
  // here and stay valid until the next Assign or Clear.
  void Assign(std::string text);
  void Clear();

  size_t Count() const { return count_; }
  // The whole input, line ends included.
  std::string_view Text() const { return text_; }
  // The buffer that holds Text(), for a value that keeps a part of the input as it stands (null
  // when empty). It never changes: the next Assign or Clear lets go of it and takes another.
  const std::shared_ptr<const std::string>& Buffer() const { return buffer_; }
  // Line index: in constant time where every line's start is kept; else in constant time for the
  // line after the one asked for last and for that one again, and in at most kStride - 1 steps
  // over the lines before it otherwise.
  std::string_view operator[](size_t index) const;
  // Whether the input ended in a line end, so that its last line has one of its own.
  bool EndsWithLineEnd() const {
    return !text_.empty() && (text_.back() == '\n' || text_.back() == '\r');
  }

private:
  // Where lines average four bytes or more, every line's start is kept, at most the size of the
  // input again; in shorter ones only every kStride-th, so that an input of nothing but line ends
  // costs half a byte a line for them, not four.
  static constexpr size_t kStride = 8;

  // Where the line that begins at start ends (its first CR or LF, or the end of the text), and
  // where the next one begins.
  size_t LineEnd(size_t start) const;
  size_t NextStart(size_t end) const;
  size_t Checkpoint(size_t block) const { return wide_ ? starts64_[block] : starts32_[block]; }

  std::shared_ptr<const std::string> buffer_;
  std::string_view text_; // of *buffer_
  // The start of lines 0, stride_, 2 stride_, ... in 4-byte offsets (8 only beyond 4 GB).
  std::vector<uint32_t> starts32_;
  std::vector<uint64_t> starts64_;
  size_t stride_ = 1;
  size_t count_ = 0;
  bool wide_ = false;
  // The line asked for last: its index, start, end and the start of the line after it.
  mutable size_t lastIndex_ = SIZE_MAX;
  mutable size_t lastStart_ = 0, lastEnd_ = 0, lastNext_ = 0;
};

// Reads one header line at cursor and advances it: the line itself and, while the cursor is
// before the last line of the input, every following line that begins with a blank or a TAB
// (a folded continuation), trimmed and appended after one blank, with TABs turned into blanks.
// A following line that begins with "=?" is taken as a continuation too: no field name starts
// so, and it is the next encoded-word of a value whose folding blank a mail program left out
// (seen in the wild on long subjects), which readers that stop there lose. An empty line is
// returned as it is, and at or past the end the result is empty with the cursor unchanged. The work
// is linear in the length of the folded header.
std::string ReadHeaderLine(const TMimeLines& lines, size_t& cursor);
// The same without a copy where it can: a line that nothing is folded onto comes back as a view
// of the input (a header of megabytes is not copied to be read), a folded one is built in
// storage and the view is of that.
std::string_view ReadHeaderLine(const TMimeLines& lines, size_t& cursor, std::string& storage);

// Removes leading and trailing blanks and control characters (every byte up to 0x20).
std::string_view TrimBlanks(std::string_view text);

} // namespace orlendo
