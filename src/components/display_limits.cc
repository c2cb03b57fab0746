#include "components/display_limits.h"

#include <algorithm>
#include <cstring>

#include "model/utf8.h"

namespace orlendo {
namespace {

// A cut at position n that does not separate the halves of a surrogate pair.
size_t CutAt(std::u16string_view text, size_t n) {
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
    --n;
  return n;
}

QString Wide(const char16_t* data, size_t size) {
  return QString::fromUtf16(data, static_cast<qsizetype>(size));
}

// The first CR or LF at or after pos, or the end: a plain loop, not a set lookup per unit.
size_t LineEnd(std::u16string_view text, size_t pos) {
  while (pos < text.size() && text[pos] != u'\r' && text[pos] != u'\n')
    ++pos;
  return pos;
}

size_t LineEnd(std::string_view text, size_t pos) {
  const void* lf = std::memchr(text.data() + pos, '\n', text.size() - pos);
  const size_t end =
      lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
  const void* cr = std::memchr(text.data() + pos, '\r', end - pos);
  return cr != nullptr ? static_cast<size_t>(static_cast<const char*>(cr) - text.data()) : end;
}

size_t Utf16Units(std::string_view utf8) {
  return utf8::Utf16Length(utf8);
}

// How many bytes of valid UTF-8 make at most units UTF-16 units, ending where a character ends.
size_t Utf8PrefixOfUnits(std::string_view utf8, size_t units) {
  size_t pos = 0, taken = 0;
  while (pos < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[pos]);
    const size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    const size_t cost = length == 4 ? 2 : 1;
    if (taken + cost > units)
      break;
    taken += cost;
    pos = std::min(pos + length, utf8.size());
  }
  return pos;
}

} // namespace

QString OneLineText(std::u16string_view text) {
  if (text.size() <= static_cast<size_t>(kOneLineChars))
    return Wide(text.data(), text.size());
  return Wide(text.data(), CutAt(text, kOneLineChars)) + QChar(0x2026);
}

QString OneLineUtf8Text(std::string_view text) {
  const size_t shown = Utf8PrefixOfUnits(text, static_cast<size_t>(kOneLineChars));
  const QString head = QString::fromUtf8(text.data(), static_cast<qsizetype>(shown));
  return shown < text.size() ? head + QChar(0x2026) : head;
}

QString BoundedText(std::u16string_view text, qsizetype maxChars, qsizetype maxLine) {
  const size_t limit = static_cast<size_t>(maxChars), lineLimit = static_cast<size_t>(maxLine);
  // The common case costs one scan and one copy.
  bool within = text.size() <= limit;
  for (size_t pos = 0; within && pos < text.size();) {
    size_t end = LineEnd(text, pos);
    within = end - pos <= lineLimit;
    pos = end + 1;
  }
  if (within)
    return Wide(text.data(), text.size());

  QString out;
  size_t pos = 0;
  while (pos < text.size() && static_cast<size_t>(out.size()) < limit) {
    size_t end = LineEnd(text, pos);
    const size_t length = end - pos;
    if (length <= lineLimit) {
      out += Wide(text.data() + pos, length);
    } else {
      const size_t shown = CutAt(text, pos + lineLimit) - pos;
      out += Wide(text.data() + pos, shown);
      out += QStringLiteral("\u2026 [%1 more characters]").arg(length - shown);
    }
    if (end < text.size()) {
      // CR LF, CR or LF: one line end.
      out += QLatin1Char('\n');
      end += text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1;
    }
    pos = end;
  }
  if (pos < text.size())
    out += QStringLiteral("\n[%1 more characters not shown]").arg(text.size() - pos);
  return out;
}

QString BoundedUtf8Text(std::string_view text, qsizetype maxChars, qsizetype maxLine) {
  const size_t limit = static_cast<size_t>(maxChars), lineLimit = static_cast<size_t>(maxLine);
  // Within both limits in characters, it is given as BoundedText gives it: unchanged. A text of
  // more than four bytes a character over the limit cannot be within it.
  bool within = text.size() / 4 <= limit;
  for (size_t pos = 0; within && pos < text.size();) {
    const size_t end = LineEnd(text, pos);
    within = end - pos <= lineLimit || Utf16Units(text.substr(pos, end - pos)) <= lineLimit;
    pos = end + 1;
  }
  if (within && Utf16Units(text) <= limit)
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));

  QString out;
  size_t pos = 0;
  while (pos < text.size() && static_cast<size_t>(out.size()) < limit) {
    size_t end = LineEnd(text, pos);
    const std::string_view line = text.substr(pos, end - pos);
    // Only a line longer in bytes than the limit can be longer in characters.
    const size_t units = line.size() <= lineLimit ? line.size() : Utf16Units(line);
    if (units <= lineLimit) {
      out += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    } else {
      const std::string_view shown = line.substr(0, Utf8PrefixOfUnits(line, lineLimit));
      const QString head = QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
      out += head;
      out += QStringLiteral("\u2026 [%1 more characters]")
                 .arg(units - static_cast<size_t>(head.size()));
    }
    if (end < text.size()) {
      out += QLatin1Char('\n');
      end += text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
    }
    pos = end;
  }
  if (pos < text.size())
    out += QStringLiteral("\n[%1 more characters not shown]").arg(Utf16Units(text.substr(pos)));
  return out;
}

} // namespace orlendo
