#include "crypto/raw_mime.h"

#include <cctype>

#include "text/base64.h"
#include "text/quoted_printable.h"

namespace orlendo {

namespace {

// A multipart nested deeper than this is not searched: real mail wraps its signed part in one
// or two containers at most, and hostile input must not recurse without end.
constexpr int kMaxSearchDepth = 8;

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i]))
      return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

// The line starting at pos: its text without the line end, and where the next line starts.
std::string_view LineAt(std::string_view text, size_t pos, size_t& next) {
  size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) {
    next = text.size();
    end = text.size();
  } else {
    next = end + 1;
  }
  size_t stop = end;
  if (stop > pos && text[stop - 1] == '\r')
    --stop;
  return text.substr(pos, stop - pos);
}

} // namespace

TRawEntity SplitRawEntity(std::string_view entity) {
  TRawEntity result;
  result.Whole = entity;
  size_t pos = 0;
  while (pos < entity.size()) {
    size_t next = 0;
    std::string_view line = LineAt(entity, pos, next);
    if (line.empty()) {
      result.Header = entity.substr(0, pos);
      result.Body = entity.substr(next);
      return result;
    }
    pos = next;
  }
  result.Header = entity;
  return result;
}

std::string RawHeaderField(std::string_view header, std::string_view name) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t next = 0;
    std::string_view line = LineAt(header, pos, next);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualNoCase(Trim(line.substr(0, colon)), name)) {
      std::string value(Trim(line.substr(colon + 1)));
      while (next < header.size() && (header[next] == ' ' || header[next] == '\t')) {
        size_t after = 0;
        std::string_view more = Trim(LineAt(header, next, after));
        if (!more.empty()) {
          value += ' ';
          value += more;
        }
        next = after;
      }
      return value;
    }
    pos = next;
  }
  return {};
}

std::string RawMediaType(std::string_view contentType) {
  std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
  if (type.empty())
    return "text/plain";
  std::string lower;
  for (char c : type)
    if (static_cast<unsigned char>(c) > ' ')
      lower += Lower(c);
  return lower;
}

std::string RawParameter(std::string_view contentType, std::string_view name) {
  size_t pos = contentType.find(';');
  while (pos != std::string_view::npos && pos < contentType.size()) {
    ++pos;
    while (pos < contentType.size() && static_cast<unsigned char>(contentType[pos]) <= ' ')
      ++pos;
    size_t eq = contentType.find('=', pos);
    if (eq == std::string_view::npos)
      return {};
    std::string_view key = Trim(contentType.substr(pos, eq - pos));
    size_t valueStart = eq + 1;
    while (valueStart < contentType.size() &&
           static_cast<unsigned char>(contentType[valueStart]) <= ' ')
      ++valueStart;
    std::string value;
    size_t end = valueStart;
    if (end < contentType.size() && contentType[end] == '"') {
      ++end;
      while (end < contentType.size() && contentType[end] != '"') {
        if (contentType[end] == '\\' && end + 1 < contentType.size())
          ++end;
        value += contentType[end++];
      }
      end = contentType.find(';', end);
    } else {
      end = contentType.find(';', valueStart);
      value = std::string(Trim(contentType.substr(
          valueStart, end == std::string_view::npos ? std::string_view::npos : end - valueStart)));
    }
    if (EqualNoCase(key, name))
      return value;
    pos = end;
  }
  return {};
}

std::vector<std::string_view> SplitRawMultipart(std::string_view body, std::string_view boundary) {
  std::vector<std::string_view> parts;
  if (boundary.empty())
    return parts;
  // The start of the open part, and where the line end before the current line begins.
  size_t partStart = std::string_view::npos;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t next = 0;
    std::string_view line = LineAt(body, pos, next);
    if (line.size() >= boundary.size() + 2 && line.substr(0, 2) == "--" &&
        line.substr(2, boundary.size()) == boundary) {
      std::string_view rest = line.substr(2 + boundary.size());
      bool closing = rest.substr(0, 2) == "--";
      if (closing)
        rest.remove_prefix(2);
      if (Trim(rest).empty()) {
        if (partStart != std::string_view::npos) {
          size_t end = pos;
          if (end > partStart && body[end - 1] == '\n')
            --end;
          if (end > partStart && body[end - 1] == '\r')
            --end;
          parts.push_back(body.substr(partStart, end - partStart));
        }
        if (closing)
          return parts;
        partStart = next;
      }
    }
    pos = next;
  }
  if (partStart != std::string_view::npos && partStart <= body.size())
    parts.push_back(body.substr(partStart));
  return parts;
}

std::string DecodedRawBody(const TRawEntity& entity) {
  std::string encoding = RawMediaType(RawHeaderField(entity.Header, "Content-Transfer-Encoding"));
  if (encoding == "base64")
    return DecodeBase64(entity.Body);
  if (encoding == "quoted-printable")
    return DecodeQuotedPrintable(entity.Body);
  return std::string(entity.Body);
}

std::string CanonicalCrlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

bool Search(std::string_view entity, std::string_view multipartType,
            const std::vector<std::string>& protocols, TRawSecuredParts& found, int depth) {
  TRawEntity parts = SplitRawEntity(entity);
  std::string contentType = RawHeaderField(parts.Header, "Content-Type");
  std::string type = RawMediaType(contentType);
  if (type.rfind("multipart/", 0) != 0)
    return false;
  std::string boundary = RawParameter(contentType, "boundary");
  if (boundary.empty()) {
    // Converters of Outlook messages write the stored multipart/signed attachment as a part of
    // that type whose body is the whole entity, headers and all.
    return depth < kMaxSearchDepth &&
           Search(parts.Body, multipartType, protocols, found, depth + 1);
  }
  std::vector<std::string_view> children = SplitRawMultipart(parts.Body, boundary);
  if (type == multipartType) {
    std::string protocol;
    for (char c : RawParameter(contentType, "protocol"))
      protocol += Lower(c);
    for (const std::string& wanted : protocols) {
      if (protocol == wanted && children.size() >= 2) {
        found.Protocol = protocol;
        found.First = children[0];
        found.Second = children[1];
        return true;
      }
    }
  }
  if (depth >= kMaxSearchDepth)
    return false;
  for (std::string_view child : children)
    if (Search(child, multipartType, protocols, found, depth + 1))
      return true;
  return false;
}

} // namespace

bool FindRawSecured(std::string_view message, std::string_view multipartType,
                    const std::vector<std::string>& protocols, TRawSecuredParts& found) {
  return Search(message, multipartType, protocols, found, 0);
}

} // namespace orlendo
