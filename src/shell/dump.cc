#include "shell/dump.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "export/report_writers.h"
#include "mime/qvemlfile.h"
#include "model/named_properties.h"
#include "msg/qvmsgfile.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr size_t kMaxValueChars = 200;
// Bytes (or UTF-16 units) of a value that are enough for 200 characters of its text, in any
// code page and in any rendering of binary data.
constexpr size_t kValuePrefix = 4096;

// The beginning of a byte string that decodes like the whole of it would, as far as the first
// kValuePrefix bytes go: cut at a UTF-8 boundary when the whole is valid UTF-8, and kept invalid
// when the whole is not (the code-page choice depends on it).
std::string BytesPrefix(const std::string& bytes) {
  if (IsValidUtf8(bytes)) {
    size_t cut = kValuePrefix;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
      --cut;
    return bytes.substr(0, cut);
  }
  std::string prefix = bytes.substr(0, kValuePrefix);
  if (IsValidUtf8(prefix))
    prefix.push_back('\xFF');
  return prefix;
}

std::u16string WidePrefix(const std::u16string& wide) {
  size_t cut = kValuePrefix;
  if (wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF)
    --cut;
  return wide.substr(0, cut);
}

// The record's value text, taken from the beginning of a large value only.
std::u16string ValueTextOf(TMSGProperty& record) {
  TVariant& value = record.Value;
  if (value.IsBytes() && value.Bytes().size() > kValuePrefix) {
    std::string whole = std::move(value.MutableBytes());
    value.MutableBytes() = BytesPrefix(whole);
    std::u16string text;
    try {
      text = record.GetValueText();
    } catch (...) {
      value.MutableBytes() = std::move(whole);
      throw;
    }
    value.MutableBytes() = std::move(whole);
    return text;
  }
  if (value.HoldsUtf8() && value.HeldUtf8().size() > kValuePrefix) {
    // A wide string held as UTF-8: its beginning, cut between two characters, is widened alone.
    const std::string_view utf8 = value.HeldUtf8();
    size_t cut = kValuePrefix;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
      --cut;
    return SystemToWide(utf8.substr(0, cut));
  }
  if (value.IsWide() && value.Wide().size() > kValuePrefix) {
    std::u16string whole = std::move(value.MutableWide());
    value.MutableWide() = WidePrefix(whole);
    std::u16string text;
    try {
      text = record.GetValueText();
    } catch (...) {
      value.MutableWide() = std::move(whole);
      throw;
    }
    value.MutableWide() = std::move(whole);
    return text;
  }
  return record.GetValueText();
}

// Values of the binary types are raw bytes: shown as such, never decoded as text. The RTF body
// keeps its text: the reader has already decompressed it.
bool IsBinaryValue(const TMSGProperty& record) {
  const uint16_t type = PropType(record.TagID);
  if (!record.Value.IsBytes() || (type != 0x0102 && type != 0x000D))
    return false;
  return dynamic_cast<const TMSGPropertyCompressedRTF*>(&record) == nullptr;
}

void WriteLine(std::FILE* out, int depth, TMSGProperty& record) {
  std::string line(static_cast<size_t>(depth) * 2, ' ');
  char tag[16];
  std::snprintf(tag, sizeof tag, "0x%08X\t", record.TagID);
  line += tag;
  line += PropertyDisplayName(record, false);
  line += '\t';
  line += std::to_string(record.DataSize);
  line += '\t';
  line += IsBinaryValue(record) ? DumpBinaryText(record.Value.Bytes())
                                : DumpValueText(ValueTextOf(record));
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
}

} // namespace

std::string DumpValueText(const std::u16string& text) {
  // Cut after 200 characters, a surrogate pair counting as one.
  size_t end = 0;
  for (size_t chars = 0; end < text.size() && chars < kMaxValueChars; ++chars) {
    const char16_t c = text[end++];
    if (c >= 0xD800 && c <= 0xDBFF && end < text.size() && text[end] >= 0xDC00 &&
        text[end] <= 0xDFFF) {
      ++end;
    }
  }
  // Every control character is written as an escape: a message can carry sequences that a
  // terminal would obey (ESC), and a zero byte or a C1 control has no place in printable text.
  std::u16string visible;
  visible.reserve(end);
  for (size_t i = 0; i < end; ++i) {
    const char16_t c = text[i];
    const char* named = c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : c == u'\t' ? "\\t" : nullptr;
    if (named != nullptr) {
      visible.append(named, named + 2);
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, c < 0x80 ? "\\x%02X" : "\\u%04X", unsigned(c));
      visible.append(escape, escape + std::strlen(escape));
    } else {
      visible.push_back(c);
    }
  }
  return EncodeUtf8(visible);
}

std::string DumpBinaryText(std::string_view bytes) {
  return BinaryValueText(bytes);
}

void DumpProperties(TMSGProperties& properties, std::FILE* out) {
  // An explicit stack: a tree from any reader is dumped without recursion.
  struct Level {
    TMSGProperties* collection;
    int next;
  };
  std::vector<Level> stack{{&properties, 0}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next >= level.collection->Count()) {
      stack.pop_back();
      continue;
    }
    TMSGProperty* record = level.collection->Items(level.next++);
    WriteLine(out, static_cast<int>(stack.size()) - 1, *record);
    if (record->SubProperties().Count() > 0)
      stack.push_back({&record->SubProperties(), 0});
  }
}

int DumpMessageFile(const std::string& fileName, std::FILE* out, std::FILE* err) {
  try {
    std::unique_ptr<TQvMessage> message = CreateMessageReader(fileName);
    message->LoadFromFile(fileName);
    DumpProperties(message->Properties(), out);
    std::fflush(out);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(err, "%s\n", e.what());
    return 1;
  }
}

} // namespace orlendo
