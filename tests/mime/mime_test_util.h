// Helpers of the Internet message reader tests: loading a message from text, and reading the
// tree the reader builds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mime/qvemlfile.h"
#include "model/utf8.h"

namespace orlendo::mimetest {

// Tags the tests look at.
inline constexpr uint32_t kTransportHeaders = 0x007D001E;
inline constexpr uint32_t kSubject = 0x0037001E;
inline constexpr uint32_t kSentRepresentingName = 0x0042001E;
inline constexpr uint32_t kSentRepresentingEmail = 0x0065001E;
inline constexpr uint32_t kRcvdRepresentingName = 0x0044001E;
inline constexpr uint32_t kRcvdRepresentingEmail = 0x0078001E;
inline constexpr uint32_t kDisplayCc = 0x0E03001E;
inline constexpr uint32_t kOriginalDisplayCc = 0x0073001E;
inline constexpr uint32_t kClientSubmitTime = 0x00390040;
inline constexpr uint32_t kPriority = 0x00260003;
inline constexpr uint32_t kMessageClass = 0x001A001E;
inline constexpr uint32_t kX400ContentType = 0x003C0102;
inline constexpr uint32_t kMessageCodePage = 0x3FFD0003;
inline constexpr uint32_t kAttachFileName = 0x3704001E;
inline constexpr uint32_t kAttachLongFileName = 0x3707001E;
inline constexpr uint32_t kBody = 0x1000001E;
inline constexpr uint32_t kBodyHtml = 0x1013001E;
inline constexpr uint32_t kDisplayName = 0x3001001E;
inline constexpr uint32_t kEmailAddress = 0x3003001E;

template <class Reader = TQvEMLFile> std::unique_ptr<Reader> Load(const std::string& text) {
  auto reader = std::make_unique<Reader>();
  TMemoryStream stream(text);
  reader->LoadFromStream(stream);
  return reader;
}

inline std::string U8(const std::u16string& text) {
  return utf8::Encode(text);
}

// The record with exactly this tag at this level, or nullptr.
inline const TMSGProperty* Find(const TMSGProperties& level, uint32_t tag) {
  return level.FindProperty(tag, false, false);
}

// The text of the record with this tag at this level, as UTF-8; "" when there is none.
inline std::string Text(const TMSGProperties& level, uint32_t tag) {
  const TMSGProperty* record = Find(level, tag);
  return record != nullptr ? U8(record->GetValueText()) : std::string();
}

// The records with this tag directly at this level, in order.
inline std::vector<const TMSGProperty*> All(const TMSGProperties& level, uint32_t tag) {
  std::vector<const TMSGProperty*> out;
  for (int i = 0; i < level.Count(); ++i)
    if (level.Items(i)->TagID == tag)
      out.push_back(level.Items(i));
  return out;
}

// The bytes SaveAttachmentToStream writes for attachment index.
inline std::string AttachmentData(const TMSGProperties& root, int index) {
  TMemoryStream stream;
  root.SaveAttachmentToStream(index, stream);
  return stream.Data();
}

// A one-line-per-record outline of a tree (tag, size, value text), for comparing two trees.
inline void Outline(const TMSGProperties& level, std::string& out, int depth = 0) {
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* r = level.Items(i);
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08X", r->TagID);
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + tag + " " +
           std::to_string(r->DataSize) + " " + U8(r->GetValueText()) + "\n";
    Outline(r->SubProperties(), out, depth + 1);
  }
}

inline std::string Outline(const TMSGProperties& level) {
  std::string out;
  Outline(level, out);
  return out;
}

// Joins lines with the given line end (and ends the last one with it too).
inline std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
  std::string out;
  for (const std::string& line : lines)
    out += line + end;
  return out;
}

} // namespace orlendo::mimetest
