#include "export/report_writers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <vector>

#include "export/generator_text.h"
#include "export/html_body.h"
#include "model/qvmsgtags.h"
#include "text/html_entities.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr char kCrLf[] = "\r\n";
constexpr uint32_t PID_BODY_HTML = 0x10130000;

std::string CategoryText(TMSGPropertyCategory category) {
  const char* name = CategoryName(category);
  return name != nullptr ? name : "";
}

std::string TagText(uint32_t tag) {
  char buffer[11];
  std::snprintf(buffer, sizeof buffer, "0x%08X", tag);
  return buffer;
}

std::string Narrow(std::u16string_view text) {
  return WideToSystem(text);
}

// Values of the binary types are raw bytes: shown as hex, as --dump shows them, never decoded
// as text. The RTF body keeps its text: the reader has already decompressed it.
bool IsBinaryValue(const TMSGProperty& record) {
  const uint16_t type = PropType(record.TagID);
  if (!record.Value.IsBytes() || (type != 0x0102 && type != 0x000D))
    return false;
  return dynamic_cast<const TMSGPropertyCompressedRTF*>(&record) == nullptr;
}

std::string ValueText(const TMSGProperty& property) {
  if (IsBinaryValue(property))
    return BinaryValueText(property.Value.Bytes());
  // A wide value is narrowed where it stands: a value can be as large as the file.
  if (property.Value.IsWide())
    return Narrow(property.Value.Wide());
  // So is a large 8-bit value that is UTF-8 in a UTF-8 message (a header block as received).
  if (property.Value.IsBytes() && property.Value.Bytes().size() >= (1u << 20) &&
      property.Collection() != nullptr &&
      property.Collection()->MessageLevel().GetCodePage() == 65001) {
    const std::string& bytes = property.Value.Bytes();
    if (bytes.find('\0') == std::string::npos && IsValidUtf8(bytes))
      return bytes;
  }
  return Narrow(property.GetValueText());
}

// The UTF-8 of a wide text that is no longer needed, its memory given back before the caller
// builds on the result.
std::string NarrowAndFree(std::u16string&& text) {
  std::string out = Narrow(text);
  std::u16string().swap(text);
  return out;
}

// Text for the plain-text report: control characters other than TAB, CR and LF (C0, DEL and the
// C1 controls U+0080-U+009F) are written as "%XX" per byte, so that the report holds only
// printable text that no terminal or editor acts on.
std::string PrintableText(std::string&& utf8) {
  const bool clean = std::none_of(utf8.begin(), utf8.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F || c == 0xC2;
  });
  if (clean)
    return std::move(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    size_t width = 0;
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
      width = 1;
    else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
      width = 2;
    if (width == 0) {
      out += utf8[i];
      continue;
    }
    for (size_t k = 0; k < width; ++k) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(utf8[i + k]));
      out += hex;
    }
    i += width - 1;
  }
  return out;
}

// Collects the output and hands it to the stream in large pieces: reports of big messages are
// many short lines.
class LineWriter {
public:
  explicit LineWriter(TStream& stream) : stream_(stream) {}
  ~LineWriter() = default;

  void Line(const std::string& text) {
    if (text.size() >= kFlushSize) {
      // A huge line goes to the stream as it is, not through a copy in the buffer.
      Flush();
      stream_.WriteBuffer(text.data(), text.size());
      buffer_ += kCrLf;
      return;
    }
    buffer_ += text;
    buffer_ += kCrLf;
    if (buffer_.size() >= kFlushSize)
      Flush();
  }
  // The same for a line that is a short prefix, a text and a short suffix, without joining them.
  void Line(std::string_view prefix, const std::string& text, std::string_view suffix = {}) {
    if (text.size() < kFlushSize) {
      Line(std::string(prefix) + text + std::string(suffix));
      return;
    }
    buffer_ += prefix;
    Flush();
    stream_.WriteBuffer(text.data(), text.size());
    buffer_ += suffix;
    buffer_ += kCrLf;
  }
  void Flush() {
    stream_.WriteBuffer(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

private:
  static constexpr size_t kFlushSize = 1 << 16;
  TStream& stream_;
  std::string buffer_;
};

TStream& RequireStream(TStream* stream) {
  if (stream == nullptr)
    throw EMSGError("Stream is not defined");
  return *stream;
}

// Walks the property tree in document order without recursion, so that a deeply nested tree
// cannot exhaust the call stack. row(property, depth) writes a property; when the property has
// sub-properties, open(property, depth) comes next, then the sub-properties at depth + step,
// then close(property, depth).
template <class Row, class Open, class Close>
void WalkProperties(const TMSGProperties& level, int step, Row row, Open open, Close close) {
  struct Frame {
    const TMSGProperties* level;
    int next;
    int depth;
    const TMSGProperty* owner;
    int ownerDepth;
  };
  std::vector<Frame> stack;
  stack.push_back({&level, 0, 1, nullptr, 0});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next >= frame.level->Count()) {
      const TMSGProperty* owner = frame.owner;
      int ownerDepth = frame.ownerDepth;
      stack.pop_back();
      if (owner != nullptr)
        close(*owner, ownerDepth);
      continue;
    }
    const TMSGProperty* property = frame.level->Items(frame.next++);
    int depth = frame.depth;
    row(*property, depth);
    if (property->SubProperties().Count() > 0) {
      open(*property, depth);
      stack.push_back({&property->SubProperties(), 0, depth + step, property, depth});
    }
  }
}

std::string Indent(int depth) {
  return std::string(static_cast<size_t>(depth) * 2, ' ');
}

std::string EscapeForHtml(std::u16string&& text) {
  return EscapeHtml(NarrowAndFree(std::move(text)), true);
}

std::string EscapeForXml(std::u16string&& text) {
  return XmlSafeText(EscapeHtml(NarrowAndFree(std::move(text)), false));
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The HTML body goes out as UTF-8, whatever charset it was received in; a <meta> declaration
// of another charset would make a browser misread every non-ASCII character of it.
void DeclareUtf8(std::string& html) {
  std::string lower = LowerAscii(html);
  size_t pos = 0;
  while ((pos = lower.find("<meta", pos)) != std::string::npos) {
    size_t end = lower.find('>', pos);
    if (end == std::string::npos)
      break;
    size_t charset = lower.find("charset=", pos);
    if (charset != std::string::npos && charset < end) {
      size_t value = charset + 8;
      while (value < end && (lower[value] == '"' || lower[value] == '\'' || lower[value] == '\\' ||
                             lower[value] == ' '))
        ++value;
      size_t valueEnd = value;
      while (valueEnd < end &&
             (std::isalnum(static_cast<unsigned char>(lower[valueEnd])) || lower[valueEnd] == '-' ||
              lower[valueEnd] == '_' || lower[valueEnd] == '.' || lower[valueEnd] == ':'))
        ++valueEnd;
      if (valueEnd > value && lower.compare(value, valueEnd - value, "utf-8") != 0) {
        html.replace(value, valueEnd - value, "utf-8");
        lower.replace(value, valueEnd - value, "utf-8");
        end = end - (valueEnd - value) + 5;
      }
    }
    pos = end + 1;
  }
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x110000) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A name from the C library's wide formatting, as UTF-8 whatever the locale's byte encoding.
std::string LocaleName(const wchar_t* format, const std::tm& tm) {
  wchar_t buffer[128];
  size_t n = std::wcsftime(buffer, std::size(buffer), format, &tm);
  std::string out;
  for (size_t i = 0; i < n; ++i)
    AppendUtf8(out, static_cast<uint32_t>(buffer[i]));
  return out;
}

// The summary that both HTML forms show above the body; it ends inside an open paragraph.
std::string HtmlSummary(const TMSGProperties& level) {
  std::string summary = "<p><b>From:</b> " + EscapeForHtml(level.GetFrom()) + "</p>" + kCrLf;
  TDateTime sent = level.GetSentDate();
  if (sent != 0) {
    std::string date = FormatReportDate(sent);
    if (!date.empty())
      summary += "<p><b>Sent:</b> " + date + "</p>" + kCrLf;
  }
  // Appended piece by piece: a field can be as large as the file.
  summary += "<p><b>To:</b> ";
  summary += EscapeForHtml(level.GetTo());
  summary += "</p>";
  summary += kCrLf;
  summary += "<p><b>Subject:</b> ";
  summary += EscapeForHtml(level.GetSubject());
  summary += "</p>";
  summary += kCrLf;
  summary += "<p><b>Body:</b><br> ";
  return summary;
}

// The message's own HTML with the summary after its body tag.
std::string HtmlBodyDocument(const TMSGProperties& level, const std::string& body) {
  std::string lower = LowerAscii(body);
  if (lower.find("charset=") == std::string::npos) {
    return "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><body>" +
           HtmlSummary(level) + body + "</body></html>";
  }
  std::string html = body;
  DeclareUtf8(html);
  lower = LowerAscii(html);
  size_t bodyTag = lower.find("<body");
  if (bodyTag == std::string::npos)
    return html;
  size_t close = lower.find('>', bodyTag + 5);
  if (close == std::string::npos || close + 1 >= lower.size())
    return html;
  html.insert(close + 1, HtmlSummary(level));
  return html;
}

} // namespace

std::string FormatReportDate(TDateTime dateTime) {
  // Beyond this the year leaves the range any calendar routine is asked for.
  if (!std::isfinite(dateTime) || std::fabs(dateTime) > 1e8)
    return {};
  double wholeDays = std::trunc(dateTime);
  int64_t days = static_cast<int64_t>(wholeDays);
  int64_t ms = std::llround(std::fabs(dateTime - wholeDays) * 86400000.0);
  if (ms >= 86400000) { // rounded up to the next midnight
    ms -= 86400000;
    days += dateTime < 0 ? -1 : 1;
  }
  // Days since 30 December 1899 -> civil date (days since 1970-01-01 first).
  int64_t z = days - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  int64_t weekday = ((days - 25569) % 7 + 7 + 4) % 7; // 1 January 1970 was a Thursday

  std::tm tm{};
  tm.tm_year = static_cast<int>(year - 1900);
  tm.tm_mon = static_cast<int>(month - 1);
  tm.tm_mday = static_cast<int>(day);
  tm.tm_wday = static_cast<int>(weekday);
  int64_t seconds = ms / 1000;
  int hour = static_cast<int>(seconds / 3600);
  tm.tm_hour = hour;
  tm.tm_min = static_cast<int>(seconds / 60 % 60);
  tm.tm_sec = static_cast<int>(seconds % 60);

  int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %02d, %04lld %02d:%02d:%02d %s", tm.tm_mday,
                static_cast<long long>(year), hour12, tm.tm_min, tm.tm_sec,
                hour < 12 ? "am" : "pm");
  return LocaleName(L"%A", tm) + ", " + LocaleName(L"%B", tm) + numbers;
}

std::string BinaryValueText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr size_t kShown = 32;
  std::string out;
  const size_t shown = std::min(bytes.size(), kShown);
  out.reserve(shown * 3 + 24);
  for (size_t i = 0; i < shown; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kHex[b >> 4];
    out += kHex[b & 15];
    out += ' ';
  }
  if (shown < bytes.size())
    out += "... ";
  out += "(" + std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte)" : " bytes)");
  return out;
}

std::string XmlSafeText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    bool forbidden = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
    // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
    size_t width = 1;
    if (c == 0xEF && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(utf8[i + 2]) & 0xFE) == 0xBE) {
      forbidden = true;
      width = 3;
    }
    if (!forbidden) {
      out += utf8[i];
      continue;
    }
    for (size_t k = 0; k < width; ++k) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(utf8[i + k]));
      out += hex;
    }
    i += width - 1;
  }
  return out;
}

std::string XmlCData(const std::string& utf8) {
  std::string safe = XmlSafeText(utf8);
  std::string out = "<![CDATA[";
  size_t pos = 0;
  size_t found;
  // "]]>" cannot stand inside a section: end the section after "]]" and start the next one
  // with ">".
  while ((found = safe.find("]]>", pos)) != std::string::npos) {
    out.append(safe, pos, found + 2 - pos);
    out += "]]><![CDATA[";
    pos = found + 2;
  }
  out.append(safe, pos, std::string::npos);
  out += "]]>";
  return out;
}

void SaveToTXT(const TMSGProperties& level, TStream* stream, bool includeProperties) {
  LineWriter out(RequireStream(stream));
  out.Line(GeneratorText());
  out.Line("");
  out.Line("From: ", PrintableText(NarrowAndFree(level.GetFrom())));
  TDateTime sent = level.GetSentDate();
  if (sent != 0) {
    std::string date = FormatReportDate(sent);
    if (!date.empty())
      out.Line("Sent: " + date);
  }
  out.Line("To: ", PrintableText(NarrowAndFree(level.GetTo())));
  out.Line("Subject: ", PrintableText(NarrowAndFree(level.GetSubject())));
  out.Line("Body: ", PrintableText(NarrowAndFree(GetPlainTextBody(level))));
  if (includeProperties) {
    out.Line("Properties:");
    out.Line("");
    out.Line("Category\tTagID\tValue");
    WalkProperties(
        level, 1,
        [&](const TMSGProperty& p, int depth) {
          out.Line(Indent(depth - 1) + CategoryText(p.Category()) + "\t" + TagText(p.TagID) +
                       "\t\"",
                   PrintableText(ValueText(p)), "\"");
        },
        [](const TMSGProperty&, int) {}, [](const TMSGProperty&, int) {});
  }
  out.Flush();
}

void SaveToHTML(const TMSGProperties& level, TStream* stream, bool includeProperties) {
  LineWriter out(RequireStream(stream));
  if (!includeProperties) {
    std::string htmlBody;
    if (level.FindProperty(PID_BODY_HTML, true, false) != nullptr)
      htmlBody = Narrow(level.GetBodyHTML()); // finds the same record, level first
    if (!htmlBody.empty()) {
      out.Line(HtmlBodyDocument(level, htmlBody));
      out.Flush();
      return;
    }
  }
  std::string generator = GeneratorText();
  out.Line("<html>");
  out.Line("<head>");
  out.Line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
  out.Line("<meta name=\"GENERATOR\" content=\"" + generator + "\">");
  out.Line("<title>" + generator + "</title>");
  out.Line("</head>");
  out.Line("");
  out.Line("<body>");
  out.Line("");
  {
    std::string summary = HtmlSummary(level);
    summary += EscapeForHtml(GetPlainTextBody(level));
    out.Line({}, summary, "</p>");
  }
  if (includeProperties) {
    out.Line("<p><b>Properties:</b></p>");
    out.Line("<table border=\"1\">");
    out.Line("  <tr>");
    out.Line("    <td>Category</td><td>TagID</td><td>Value</td>");
    out.Line("  </tr>");
    WalkProperties(
        level, 3,
        [&](const TMSGProperty& p, int depth) {
          std::string indent = Indent(depth);
          out.Line(indent + "<tr>");
          out.Line(indent + "  <td>" + CategoryText(p.Category()) + "</td>");
          out.Line(indent + "  <td>" + TagText(p.TagID) + "</td>");
          out.Line(indent + "  <td>", EscapeHtml(ValueText(p), true), "</td>");
          out.Line(indent + "</tr>");
        },
        [&](const TMSGProperty&, int depth) {
          std::string indent = Indent(depth);
          out.Line(indent + "<tr>");
          out.Line(indent + "  <td>");
          out.Line(indent + "    <table border=\"1\">");
        },
        [&](const TMSGProperty&, int depth) {
          std::string indent = Indent(depth);
          out.Line(indent + "    </table>");
          out.Line(indent + "  </td>");
          out.Line(indent + "</tr>");
        });
    out.Line("</table>");
  }
  out.Line("");
  out.Line("<p>" + EscapeHtml(generator, true) + "</p>");
  out.Line("</body>");
  out.Line("</html>");
  out.Flush();
}

void SaveToXML(const TMSGProperties& level, TStream* stream, bool includeProperties) {
  LineWriter out(RequireStream(stream));
  out.Line("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>");
  out.Line("<!-- " + GeneratorText() + " -->");
  out.Line("<DATAPACKET Version=\"2.0\">");
  out.Line("<MESSAGE>");
  out.Line("<GENERAL>");
  out.Line("  <FROM>", EscapeForXml(level.GetFrom()), "</FROM>");
  out.Line("  <TO>", EscapeForXml(level.GetTo()), "</TO>");
  out.Line("  <SUBJECT>", EscapeForXml(level.GetSubject()), "</SUBJECT>");
  out.Line("  <BODY>", EscapeForXml(GetPlainTextBody(level)), "</BODY>");
  out.Line("</GENERAL>");
  if (includeProperties) {
    out.Line("<PROPERTIES>");
    WalkProperties(
        level, 1,
        [&](const TMSGProperty& p, int depth) {
          std::string indent = Indent(depth);
          out.Line(indent + "<PROPERTY TAGID=\"" + TagText(p.TagID) + "\">");
          out.Line(indent + "<CATEGORY>" + CategoryText(p.Category()) + "</CATEGORY>");
          out.Line(indent + "<VALUE>", XmlCData(ValueText(p)), "</VALUE>");
          out.Line(indent + "</PROPERTY>");
        },
        [&](const TMSGProperty&, int depth) { out.Line(Indent(depth) + "<SUBPROPERTIES>"); },
        [&](const TMSGProperty&, int depth) { out.Line(Indent(depth) + "</SUBPROPERTIES>"); });
    out.Line("</PROPERTIES>");
  }
  out.Line("</MESSAGE></DATAPACKET>");
  out.Flush();
}

namespace {

template <class Writer>
void SaveToFile(Writer writer, const TMSGProperties& level, const std::string& fileName,
                bool includeProperties) {
  TFileStream file(fileName, TFileStream::Create);
  writer(level, &file, includeProperties);
  file.Close();
}

} // namespace

void SaveToTXTFile(const TMSGProperties& level, const std::string& fileName,
                   bool includeProperties) {
  SaveToFile(SaveToTXT, level, fileName, includeProperties);
}

void SaveToHTMLFile(const TMSGProperties& level, const std::string& fileName,
                    bool includeProperties) {
  SaveToFile(SaveToHTML, level, fileName, includeProperties);
}

void SaveToXMLFile(const TMSGProperties& level, const std::string& fileName,
                   bool includeProperties) {
  SaveToFile(SaveToXML, level, fileName, includeProperties);
}

void TQvMessage::SaveToTXTFile(const std::string& fileName, bool withProperties) const {
  orlendo::SaveToTXTFile(Properties(), fileName, withProperties);
}

void TQvMessage::SaveToHTMLFile(const std::string& fileName, bool withProperties) const {
  orlendo::SaveToHTMLFile(Properties(), fileName, withProperties);
}

void TQvMessage::SaveToXMLFile(const std::string& fileName, bool withProperties) const {
  orlendo::SaveToXMLFile(Properties(), fileName, withProperties);
}

} // namespace orlendo
