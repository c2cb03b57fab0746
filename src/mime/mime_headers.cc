#include "mime/mime_headers.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "mime/mime_lines.h"
#include "mime/rfc2047.h"
#include "text/ascii.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// A quoted string starting at text[0] == '"': its content with backslash escapes undone, and the
// position after the closing quote (text.size() when it never closes).
std::string TakeQuoted(std::string_view text, size_t& end) {
  std::string out;
  size_t i = 1;
  for (; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out.push_back(text[++i]);
    } else if (text[i] == '"') {
      end = i + 1;
      return out;
    } else {
      out.push_back(text[i]);
    }
  }
  end = text.size();
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int hi, lo;
    if (text[i] == '%' && i + 2 < text.size() && (hi = HexValue(text[i + 1])) >= 0 &&
        (lo = HexValue(text[i + 2])) >= 0) {
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::u16string DecodeInCharset(const std::string& charset, std::string bytes,
                               const TQvMSGConvertCodepage& hook, void* sender) {
  if (!charset.empty() && !bytes.empty()) {
    if (hook)
      hook(sender, charset, bytes);
    else
      DefaultDecodeCodepage(sender, charset, bytes);
  }
  return SystemToWide(bytes);
}

// The parameters of a structured header value ("type; key=value; key="quoted""), in order,
// keys lower-cased; the first item (the type itself) is skipped.
std::vector<std::pair<std::string, std::string>> SplitParameters(std::string_view value) {
  std::vector<std::pair<std::string, std::string>> params;
  size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i; // past ';'
    while (i < value.size() && static_cast<unsigned char>(value[i]) <= 0x20)
      ++i;
    size_t eq = i;
    while (eq < value.size() && value[eq] != '=' && value[eq] != ';')
      ++eq;
    if (eq >= value.size() || value[eq] == ';') {
      i = eq < value.size() ? eq : std::string_view::npos;
      continue;
    }
    std::string key = AsciiLower(TrimBlanks(value.substr(i, eq - i)));
    size_t v = eq + 1;
    while (v < value.size() && (value[v] == ' ' || value[v] == '\t'))
      ++v;
    std::string val;
    if (v < value.size() && value[v] == '"') {
      size_t end = 0;
      val = TakeQuoted(value.substr(v), end);
      i = value.find(';', v + end);
    } else {
      size_t semi = value.find(';', v);
      val = std::string(
          TrimBlanks(value.substr(v, semi == std::string_view::npos ? semi : semi - v)));
      i = semi;
    }
    params.emplace_back(std::move(key), std::move(val));
  }
  return params;
}

} // namespace

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = UpperChar(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = LowerChar(c);
  return out;
}

bool MatchesHeaderName(std::string_view line, std::string_view name) {
  if (line.size() < name.size())
    return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (UpperChar(line[i]) != name[i])
      return false;
  return true;
}

std::string_view HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size())
    return {};
  std::string_view value = line.substr(name.size());
  // The blank after the colon is customary, not required (RFC 5322, 2.2).
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  return value;
}

std::string_view Unquote(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '"')
    text.remove_prefix(1);
  while (!text.empty()) {
    char c = text.back();
    if (c != '\t' && c != '\n' && c != '\r' && c != ' ' && c != '"')
      break;
    text.remove_suffix(1);
  }
  return text;
}

bool FindParameter(std::string_view value, std::string_view lowerValue, std::string_view key,
                   std::string& result) {
  size_t pos = lowerValue.find(key);
  if (pos == std::string_view::npos)
    return false;
  std::string_view rest = value.substr(pos + key.size());
  size_t start = 0;
  while (start < rest.size() && static_cast<unsigned char>(rest[start]) <= 0x20)
    ++start;
  if (start < rest.size() && rest[start] == '"') {
    std::string_view quoted = rest.substr(start);
    if (quoted.find('"', 1) != std::string_view::npos) {
      size_t end = 0;
      result = TakeQuoted(quoted, end);
      return true;
    }
    // Never closed: the rest of the value, as written.
    result = std::string(Unquote(rest));
    return true;
  }
  size_t semi = rest.find(';', start);
  result = std::string(Unquote(semi == std::string_view::npos ? rest : rest.substr(0, semi)));
  return true;
}

int PriorityFromHeader(std::string_view value) {
  std::string lower = AsciiLower(value);
  if (lower.find("urgent") != std::string::npos)
    return 1;
  if (lower.find("non-priority") != std::string::npos)
    return -1;
  std::string_view token = value.substr(0, value.find(' '));
  int64_t n = 3;
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-'))
    negative = token[i++] == '-';
  if (i < token.size() && token.size() - i <= 10 &&
      std::all_of(token.begin() + static_cast<ptrdiff_t>(i), token.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    int64_t parsed = 0;
    for (; i < token.size(); ++i)
      parsed = parsed * 10 + (token[i] - '0');
    if (negative)
      parsed = -parsed;
    if (parsed >= INT32_MIN && parsed <= INT32_MAX)
      n = parsed;
  }
  return static_cast<int>(std::clamp<int64_t>(3 - n, INT32_MIN, INT32_MAX));
}

namespace {

// A comment starting at text[i] == '(' (comments nest, a backslash quotes the next character):
// its text, and i moved past its closing parenthesis (to the end when it never closes).
std::string TakeComment(std::string_view text, size_t& i) {
  std::string out;
  int depth = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      out.push_back(text[++i]);
      continue;
    }
    if (c == '(' && depth++ == 0)
      continue;
    if (c == ')' && --depth == 0) {
      ++i;
      return out;
    }
    out.push_back(c);
  }
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One mailbox from the text of one list item (no top-level separators left in it).
TAddressItem ParseMailbox(std::string_view item) {
  TAddressItem result;
  std::string phrase, raw, comment;
  bool space = false;    // white space since the last word of the phrase
  bool rawSpace = false; // white space outside quotes in the text
  bool angle = false;
  std::string address;
  const auto append = [&](std::string_view word) {
    if (space && !phrase.empty())
      phrase.push_back(' ');
    space = false;
    phrase.append(word);
  };
  for (size_t i = 0; i < item.size();) {
    const char c = item[i];
    if (c == '"') {
      size_t end = 0;
      const std::string_view rest = item.substr(i);
      append(TakeQuoted(rest, end));
      raw.append(rest.substr(0, end));
      i += end;
    } else if (c == '(') {
      std::string text = TakeComment(item, i);
      if (comment.empty())
        comment = std::string(TrimBlanks(text));
      space = true;
    } else if (c == '<' && !angle) {
      angle = true;
      size_t close = ++i;
      bool quoted = false;
      for (; close < item.size() && (quoted || item[close] != '>'); ++close)
        if (item[close] == '"')
          quoted = !quoted;
      address = std::string(TrimBlanks(item.substr(i, close - i)));
      i = close < item.size() ? close + 1 : close;
      space = true;
    } else if (IsBlank(c)) {
      space = true;
      if (!raw.empty())
        rawSpace = true;
      ++i;
    } else {
      // The first character is always taken: a "<" after the address in angle brackets is text,
      // and a word that took nothing would never move on.
      size_t end = i + 1;
      while (end < item.size() && !IsBlank(item[end]) && item[end] != '"' && item[end] != '(' &&
             item[end] != '<')
        ++end;
      append(item.substr(i, end - i));
      if (rawSpace)
        raw.push_back(' ');
      rawSpace = false;
      raw.append(item.substr(i, end - i));
      i = end;
    }
  }
  if (angle) {
    // An obsolete source route ("@relay:user@host") is not part of the address.
    if (!address.empty() && address[0] == '@' && address.find(':') != std::string::npos)
      address.erase(0, address.find(':') + 1);
    result.Address = std::move(address);
    result.Name = phrase.empty() ? std::move(comment) : std::move(phrase);
  } else if (raw.find(' ') != std::string::npos && raw.find('@') == std::string::npos) {
    result.Name = std::move(phrase);
  } else {
    result.Address = std::move(raw);
    result.Name = std::move(comment);
  }
  return result;
}

} // namespace

void ForEachHeaderAddress(std::string_view value,
                          const std::function<void(TAddressItem& item)>& visit) {
  size_t itemStart = 0;
  bool inGroup = false;
  bool angle = false;
  const auto finish = [&](size_t end) {
    TAddressItem item = ParseMailbox(value.substr(itemStart, end - itemStart));
    if (!item.Name.empty() || !item.Address.empty())
      visit(item);
    itemStart = end + 1;
  };
  for (size_t i = 0; i < value.size();) {
    const char c = value[i];
    if (c == '"') {
      size_t end = 0;
      TakeQuoted(value.substr(i), end);
      i += end;
      continue;
    }
    if (c == '(') {
      TakeComment(value, i);
      continue;
    }
    if (c == '<')
      angle = true;
    else if (c == '>')
      angle = false;
    else if (c == ',' || c == ';') {
      // A semicolon closes a group, or separates like a comma where no group is open.
      finish(i);
      if (c == ';')
        inGroup = false;
      angle = false;
    } else if (c == ':' && !angle && !inGroup) {
      // The text before the colon names a group: it is no mailbox.
      inGroup = true;
      itemStart = i + 1;
    }
    ++i;
  }
  if (itemStart < value.size())
    finish(value.size());
}

bool ContentLocationFileName(std::string_view value, std::string& fileName) {
  std::string lower = AsciiLower(value);
  if (lower.find("http://") == std::string::npos && lower.find("https://") == std::string::npos &&
      lower.find("file://") == std::string::npos)
    return false;
  size_t slash = value.rfind('/');
  fileName = std::string(value.substr(slash + 1));
  return true;
}

bool DispositionFileName(std::string_view value, const TQvMSGConvertCodepage& hook, void* sender,
                         std::u16string& fileName) {
  // Sections beyond this many are ignored: a real name never needs them, a hostile header might.
  constexpr int kMaxSections = 256;
  std::string plain, extended;
  bool hasPlain = false, hasExtended = false;
  std::map<int, std::pair<bool, std::string>> sections; // number -> (percent-encoded, text)
  for (auto& [key, val] : SplitParameters(value)) {
    if (key == "filename") {
      if (!hasPlain)
        plain = val;
      hasPlain = true;
    } else if (key == "filename*") {
      if (!hasExtended)
        extended = val;
      hasExtended = true;
    } else if (key.rfind("filename*", 0) == 0) {
      std::string_view number = std::string_view(key).substr(9);
      bool encoded = !number.empty() && number.back() == '*';
      if (encoded)
        number.remove_suffix(1);
      if (number.empty() || number.size() > 3 ||
          !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      int n = std::stoi(std::string(number));
      if (n < kMaxSections && !sections.count(n))
        sections[n] = {encoded, val};
    }
  }
  // charset'language'bytes: the charset and the percent-decoded bytes.
  auto splitExtended = [](std::string_view text, std::string& charset) {
    size_t q1 = text.find('\'');
    size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
    if (q2 == std::string_view::npos)
      return PercentDecode(text);
    charset = std::string(text.substr(0, q1));
    return PercentDecode(text.substr(q2 + 1));
  };
  if (hasExtended) {
    std::string charset;
    std::string bytes = splitExtended(extended, charset);
    fileName = DecodeInCharset(charset, std::move(bytes), hook, sender);
    return true;
  }
  if (sections.count(0)) {
    std::string charset, bytes;
    for (int n = 0; sections.count(n); ++n) {
      auto& [encoded, text] = sections[n];
      if (!encoded)
        bytes += text;
      else if (n == 0)
        bytes += splitExtended(text, charset);
      else
        bytes += PercentDecode(text);
    }
    fileName = DecodeInCharset(charset, std::move(bytes), hook, sender);
    return true;
  }
  if (hasPlain) {
    fileName = DecodeEncodedWords(plain, hook, sender);
    return true;
  }
  return false;
}

} // namespace orlendo
