#include "export/content_lines.h"

namespace orlendo {

std::string EscapeContentText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case ';':
      out += "\\;";
      break;
    case ',':
      out += "\\,";
      break;
    case '\r':
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n')
        ++i;
      out += "\\n";
      break;
    case '\n':
      out += "\\n";
      break;
    default:
      // Other control characters are not allowed in a text value.
      out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? ' ' : c;
    }
  }
  return out;
}

std::string ContentParameter(std::string_view utf8) {
  std::string value;
  bool quote = false;
  for (char c : utf8) {
    if (c == '"')
      c = '\'';
    else if (static_cast<unsigned char>(c) < 0x20)
      c = ' ';
    if (c == ':' || c == ';' || c == ',')
      quote = true;
    value += c;
  }
  return quote ? "\"" + value + "\"" : value;
}

void AppendContentLine(std::string& out, std::string_view line) {
  size_t width = 75;
  while (line.size() > width) {
    size_t cut = width;
    // Back up to the start of a UTF-8 sequence.
    while (cut > 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
      --cut;
    out.append(line.substr(0, cut));
    out += "\r\n ";
    line.remove_prefix(cut);
    width = 74; // the continuation's blank counts
  }
  out.append(line);
  out += "\r\n";
}

} // namespace orlendo
