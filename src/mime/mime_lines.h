// The input of the Internet message reader, held once and split into lines, and the two ways of
// reading those lines: header lines, which are unfolded, and raw lines for everything else.
#pragma once

#include <cstddef>
#include <cstdint>
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
  std::string_view operator[](size_t index) const;
  // Whether the input ended in a line end, so that its last line has one of its own.
  bool EndsWithLineEnd() const {
    return !text_.empty() && (text_.back() == '\n' || text_.back() == '\r');
  }

private:
  size_t Start(size_t index) const { return wide_ ? starts64_[index] : starts32_[index]; }

  std::string text_;
  // Where each line begins; a line runs to the next one's start less the line end between them.
  // Offsets take 4 bytes a line (8 only for inputs beyond 4 GB), so that an input of nothing but
  // line ends costs at most four times its size.
  std::vector<uint32_t> starts32_;
  std::vector<uint64_t> starts64_;
  size_t count_ = 0;
  bool wide_ = false;
};

// Reads one header line at cursor and advances it: the line itself and, while the cursor is
// before the last line of the input, every following line that begins with a blank or a TAB
// (a folded continuation), trimmed and appended after one blank, with TABs turned into blanks.
// An empty line is returned as it is, and at or past the end the result is empty with the cursor
// unchanged. The work is linear in the length of the folded header.
std::string ReadHeaderLine(const TMimeLines& lines, size_t& cursor);

// Removes leading and trailing blanks and control characters (every byte up to 0x20).
std::string_view TrimBlanks(std::string_view text);

} // namespace orlendo
