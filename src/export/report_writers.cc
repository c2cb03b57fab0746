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
#include "export/utf8_text.h"
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

TUtf8Text ValueText(const TMSGProperty& property) {
  if (IsBinaryValue(property))
    return TUtf8Text::Owning(BinaryValueText(property.Value.Bytes()));
  // A value can be as large as the file: it is viewed where the model holds it as UTF-8.
  return ValueUtf8(property);
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
// printable text that no terminal or editor acts on. Appends to out.
void AppendPrintable(std::string_view utf8, std::string& out) {
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
}

void AppendHtmlEscaped(std::string_view utf8, std::string& out) {
  out += EscapeHtml(utf8, true);
}

void AppendXmlEscaped(std::string_view utf8, std::string& out) {
  out += XmlSafeText(EscapeHtml(utf8, false));
}

void AppendAsIs(std::string_view utf8, std::string& out) {
  out += utf8;
}

// Collects the output and hands it to the stream in large pieces: reports of big messages are
// many short lines.
class LineWriter {
public:
  explicit LineWriter(TStream& stream) : stream_(stream) {}
  ~LineWriter() = default;

  void Line(std::string_view text) {
    Raw(text);
    Raw(kCrLf);
  }
  // A line of a short prefix, a text and a short suffix. The text goes through transform
  // (appending its form to the buffer) piece by piece: a text can be as large as the file, and
  // neither it nor its transformed form is ever copied whole.
  template <class Transform>
  void Line(std::string_view prefix, std::string_view text, std::string_view suffix,
            Transform transform) {
    Raw(prefix);
    Pieces(text, transform);
    Raw(suffix);
    Raw(kCrLf);
  }
  void Line(std::string_view prefix, std::string_view text, std::string_view suffix = {}) {
    Line(prefix, text, suffix, AppendAsIs);
  }
  template <class Transform> void Pieces(std::string_view text, Transform transform) {
    while (!text.empty()) {
      const size_t cut = TextPieceEnd(text, kFlushSize);
      transform(text.substr(0, cut), buffer_);
      text.remove_prefix(cut);
      if (buffer_.size() >= kFlushSize)
        Flush();
    }
  }
  void Raw(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kFlushSize)
      Flush();
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
// Written field by field: a field can be as large as the file.
void WriteHtmlSummary(LineWriter& out, const TMSGProperties& level) {
  out.Line("<p><b>From:</b> ", WideToSystem(level.GetFrom()), "</p>", AppendHtmlEscaped);
  TDateTime sent = level.GetSentDate();
  if (sent != 0) {
    std::string date = FormatReportDate(sent);
    if (!date.empty())
      out.Line("<p><b>Sent:</b> " + date + "</p>");
  }
  out.Line("<p><b>To:</b> ", WideToSystem(level.GetTo()), "</p>", AppendHtmlEscaped);
  out.Line("<p><b>Subject:</b> ", SubjectUtf8(level).View(), "</p>", AppendHtmlEscaped);
  out.Raw("<p><b>Body:</b><br> ");
}

// The message's own HTML with the summary after its body tag, as one line.
void WriteHtmlBodyDocument(LineWriter& out, const TMSGProperties& level, const std::string& body) {
  std::string lower = LowerAscii(body);
  if (lower.find("charset=") == std::string::npos) {
    out.Raw("<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><body>");
    WriteHtmlSummary(out, level);
    out.Line({}, body, "</body></html>");
    return;
  }
  std::string html = body;
  DeclareUtf8(html);
  lower = LowerAscii(html);
  size_t bodyTag = lower.find("<body");
  size_t close = bodyTag == std::string::npos ? std::string::npos : lower.find('>', bodyTag + 5);
  std::string().swap(lower);
  if (close == std::string::npos || close + 1 >= html.size()) {
    out.Line(html);
    return;
  }
  out.Raw(std::string_view(html).substr(0, close + 1));
  WriteHtmlSummary(out, level);
  out.Line({}, std::string_view(html).substr(close + 1));
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

namespace {

// The text of a CDATA section without its delimiters: "]]>" cannot stand inside a section, so the
// section ends after "]]" and the next one starts with ">". Appends to out.
void AppendCDataText(std::string_view utf8, std::string& out) {
  const std::string safe = XmlSafeText(std::string(utf8));
  size_t pos = 0;
  size_t found;
  while ((found = safe.find("]]>", pos)) != std::string::npos) {
    out.append(safe, pos, found + 2 - pos);
    out += "]]><![CDATA[";
    pos = found + 2;
  }
  out.append(safe, pos, std::string::npos);
}

} // namespace

std::string XmlCData(const std::string& utf8) {
  std::string out = "<![CDATA[";
  AppendCDataText(utf8, out);
  out += "]]>";
  return out;
}

void SaveToTXT(const TMSGProperties& level, TStream* stream, bool includeProperties) {
  LineWriter out(RequireStream(stream));
  out.Line(GeneratorText());
  out.Line("");
  out.Line("From: ", WideToSystem(level.GetFrom()), {}, AppendPrintable);
  TDateTime sent = level.GetSentDate();
  if (sent != 0) {
    std::string date = FormatReportDate(sent);
    if (!date.empty())
      out.Line("Sent: " + date);
  }
  out.Line("To: ", WideToSystem(level.GetTo()), {}, AppendPrintable);
  out.Line("Subject: ", SubjectUtf8(level).View(), {}, AppendPrintable);
  out.Line("Body: ", NarrowAndFree(GetPlainTextBody(level)), {}, AppendPrintable);
  if (includeProperties) {
    out.Line("Properties:");
    out.Line("");
    out.Line("Category\tTagID\tValue");
    WalkProperties(
        level, 1,
        [&](const TMSGProperty& p, int depth) {
          out.Line(Indent(depth - 1) + CategoryText(p.Category()) + "\t" + TagText(p.TagID) +
                       "\t\"",
                   ValueText(p).View(), "\"", AppendPrintable);
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
      WriteHtmlBodyDocument(out, level, htmlBody);
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
  WriteHtmlSummary(out, level);
  out.Line({}, NarrowAndFree(GetPlainTextBody(level)), "</p>", AppendHtmlEscaped);
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
          out.Line(indent + "  <td>", ValueText(p).View(), "</td>", AppendHtmlEscaped);
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
  out.Line("  <FROM>", WideToSystem(level.GetFrom()), "</FROM>", AppendXmlEscaped);
  out.Line("  <TO>", WideToSystem(level.GetTo()), "</TO>", AppendXmlEscaped);
  out.Line("  <SUBJECT>", SubjectUtf8(level).View(), "</SUBJECT>", AppendXmlEscaped);
  out.Line("  <BODY>", NarrowAndFree(GetPlainTextBody(level)), "</BODY>", AppendXmlEscaped);
  out.Line("</GENERAL>");
  if (includeProperties) {
    out.Line("<PROPERTIES>");
    WalkProperties(
        level, 1,
        [&](const TMSGProperty& p, int depth) {
          std::string indent = Indent(depth);
          out.Line(indent + "<PROPERTY TAGID=\"" + TagText(p.TagID) + "\">");
          out.Line(indent + "<CATEGORY>" + CategoryText(p.Category()) + "</CATEGORY>");
          out.Line(indent + "<VALUE><![CDATA[", ValueText(p).View(), "]]></VALUE>",
                   AppendCDataText);
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
