#include "components/display_limits.h"

namespace orlendo {
namespace {

// A cut at position n that does not separate the halves of a surrogate pair.
size_t CutAt(const std::u16string& text, size_t n) {
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
    --n;
  return n;
}

QString Wide(const char16_t* data, size_t size) {
  return QString::fromUtf16(data, static_cast<qsizetype>(size));
}

} // namespace

QString OneLineText(const std::u16string& text) {
  if (text.size() <= static_cast<size_t>(kOneLineChars))
    return Wide(text.data(), text.size());
  return Wide(text.data(), CutAt(text, kOneLineChars)) + QChar(0x2026);
}

QString BoundedText(const std::u16string& text, qsizetype maxChars, qsizetype maxLine) {
  const size_t limit = static_cast<size_t>(maxChars), lineLimit = static_cast<size_t>(maxLine);
  // The common case costs one scan and one copy.
  bool within = text.size() <= limit;
  for (size_t pos = 0; within && pos < text.size();) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string::npos)
      end = text.size();
    within = end - pos <= lineLimit;
    pos = end + 1;
  }
  if (within)
    return Wide(text.data(), text.size());

  QString out;
  size_t pos = 0;
  while (pos < text.size() && static_cast<size_t>(out.size()) < limit) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string::npos)
      end = text.size();
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

} // namespace orlendo
