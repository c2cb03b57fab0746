#include "export/utf8_text.h"

#include "model/utf8.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

// The chains of GetSubject and GetTransportHeaders (message_accessors.cc).
constexpr uint32_t PR_SUBJECT_W = 0x0037001F;
constexpr uint32_t PR_SUBJECT_A = 0x0037001E;
constexpr uint32_t PR_CONVERSATION_TOPIC_A = 0x0070001E;
constexpr uint32_t PR_BODY_W = 0x1000001F;
constexpr uint32_t PR_BODY_A = 0x1000001E;
constexpr uint32_t PR_TRANSPORT_MESSAGE_HEADERS_A = 0x007D001E;
constexpr uint32_t PR_TRANSPORT_MESSAGE_HEADERS_W = 0x007D001F;

bool GoodCut(std::string_view text, size_t cut) {
  const auto c = static_cast<unsigned char>(text[cut]);
  return (c & 0xC0) != 0x80 && text[cut - 1] != '\r' && text[cut - 1] != ']';
}

} // namespace

TUtf8Text ValueUtf8(const TMSGProperty& record) {
  if (const std::optional<std::string_view> view = record.Utf8ValueView())
    return TUtf8Text::Viewing(*view);
  if (record.Value.IsWide())
    return TUtf8Text::Owning(WideToSystem(record.Value.Wide()));
  return TUtf8Text::Owning(WideToSystem(record.GetValueText()));
}

const TMSGProperty* FirstTextRecord(const TMSGProperties& level,
                                    std::initializer_list<uint32_t> tags, bool recursive) {
  for (const uint32_t tag : tags) {
    const TMSGProperty* record = level.FindProperty(tag, false, recursive);
    if (record == nullptr)
      continue;
    if (const std::optional<std::string_view> view = record->Utf8ValueView()) {
      if (!view->empty())
        return record;
    } else if (record->Value.IsWide()) {
      if (!record->Value.Wide().empty())
        return record;
    } else if (!record->GetValueText().empty()) {
      return record;
    }
  }
  return nullptr;
}

TUtf8Text FirstUtf8(const TMSGProperties& level, std::initializer_list<uint32_t> tags,
                    bool recursive) {
  const TMSGProperty* record = FirstTextRecord(level, tags, recursive);
  return record != nullptr ? ValueUtf8(*record) : TUtf8Text();
}

const TMSGProperty* SubjectRecord(const TMSGProperties& level) {
  return FirstTextRecord(level, {PR_SUBJECT_W, PR_SUBJECT_A, PR_CONVERSATION_TOPIC_A},
                         !level.IsRoot());
}

const TMSGProperty* BodyRecord(const TMSGProperties& level) {
  return FirstTextRecord(level, {PR_BODY_W, PR_BODY_A}, !level.IsRoot());
}

const TMSGProperty* TransportHeadersRecord(const TMSGProperties& level) {
  return FirstTextRecord(level, {PR_TRANSPORT_MESSAGE_HEADERS_A, PR_TRANSPORT_MESSAGE_HEADERS_W},
                         !level.IsRoot());
}

TUtf8Text SubjectUtf8(const TMSGProperties& level) {
  return FirstUtf8(level, {PR_SUBJECT_W, PR_SUBJECT_A, PR_CONVERSATION_TOPIC_A}, !level.IsRoot());
}

TUtf8Text BodyUtf8(const TMSGProperties& level) {
  return FirstUtf8(level, {PR_BODY_W, PR_BODY_A}, !level.IsRoot());
}

size_t Utf16Units(std::string_view utf8) {
  return utf8::Utf16Length(utf8);
}

TUtf8Text TransportHeadersUtf8(const TMSGProperties& level) {
  return FirstUtf8(level, {PR_TRANSPORT_MESSAGE_HEADERS_A, PR_TRANSPORT_MESSAGE_HEADERS_W},
                   !level.IsRoot());
}

size_t TextPieceEnd(std::string_view text, size_t limit) {
  if (text.size() <= limit || limit < 2)
    return text.size();
  for (size_t cut = limit; cut > limit / 2; --cut) {
    if (GoodCut(text, cut))
      return cut;
  }
  for (size_t cut = limit + 1; cut < text.size(); ++cut) {
    if (GoodCut(text, cut))
      return cut;
  }
  return text.size();
}

} // namespace orlendo
