// The input of the Internet message reader, held once and split into lines, and the two ways of
// reading those lines: header lines, which are unfolded, and raw lines for everything else.
#pragma once

#include <cstddef>
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

  size_t Count() const { return lines_.size(); }
  std::string_view operator[](size_t index) const { return lines_[index]; }
  const std::vector<std::string_view>& Items() const { return lines_; }

private:
  std::string text_;
  std::vector<std::string_view> lines_;
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
