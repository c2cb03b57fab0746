#include "export/outlook_message.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "export/message_addresses.h"
#include "export/utf8_text.h"
#include "mime/qvemlfile.h"
#include "model/utf8.h"
#include "msg/compressed_rtf.h"
#include "msg/msg_writer.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

// Property ids (the types are the writer's choice: PT_UNICODE for text, PT_BINARY for bytes).
enum : uint16_t {
  PID_IMPORTANCE = 0x0017,
  PID_MESSAGE_CLASS = 0x001A,
  PID_PRIORITY = 0x0026,
  PID_SUBJECT = 0x0037,
  PID_CLIENT_SUBMIT_TIME = 0x0039,
  PID_SUBJECT_PREFIX = 0x003D,
  PID_SENT_REPRESENTING_NAME = 0x0042,
  PID_SENT_REPRESENTING_ADDRTYPE = 0x0064,
  PID_SENT_REPRESENTING_EMAIL_ADDRESS = 0x0065,
  PID_CONVERSATION_TOPIC = 0x0070,
  PID_TRANSPORT_MESSAGE_HEADERS = 0x007D,
  PID_RECIPIENT_TYPE = 0x0C15,
  PID_SENDER_NAME = 0x0C1A,
  PID_SENDER_ADDRTYPE = 0x0C1E,
  PID_SENDER_EMAIL_ADDRESS = 0x0C1F,
  PID_DISPLAY_BCC = 0x0E02,
  PID_DISPLAY_CC = 0x0E03,
  PID_DISPLAY_TO = 0x0E04,
  PID_MESSAGE_DELIVERY_TIME = 0x0E06,
  PID_MESSAGE_FLAGS = 0x0E07,
  PID_NORMALIZED_SUBJECT = 0x0E1D,
  PID_RTF_IN_SYNC = 0x0E1F,
  PID_ATTACH_SIZE = 0x0E20,
  PID_ATTACH_NUM = 0x0E21,
  PID_OBJECT_TYPE = 0x0FFE,
  PID_BODY = 0x1000,
  PID_RTF_COMPRESSED = 0x1009,
  PID_BODY_HTML = 0x1013,
  PID_INTERNET_MESSAGE_ID = 0x1035,
  PID_ROWID = 0x3000,
  PID_DISPLAY_NAME = 0x3001,
  PID_ADDRTYPE = 0x3002,
  PID_EMAIL_ADDRESS = 0x3003,
  PID_STORE_SUPPORT_MASK = 0x340D,
  PID_ATTACH_DATA = 0x3701,
  PID_ATTACH_EXTENSION = 0x3703,
  PID_ATTACH_FILENAME = 0x3704,
  PID_ATTACH_METHOD = 0x3705,
  PID_CREATION_TIME = 0x3007,
  PID_LAST_MODIFICATION_TIME = 0x3008,
  PID_ATTACH_LONG_FILENAME = 0x3707,
  PID_RENDERING_POSITION = 0x370B,
  PID_ATTACH_MIME_TAG = 0x370E,
  PID_ATTACH_CONTENT_ID = 0x3712,
  PID_ATTACH_CONTENT_LOCATION = 0x3713,
  PID_ATTACH_FLAGS = 0x3714,
  PID_DISPLAY_TYPE = 0x3900,
  PID_SMTP_ADDRESS = 0x39FE,
  PID_TRANSMITTABLE_DISPLAY_NAME = 0x3A20,
  PID_INTERNET_CPID = 0x3FDE,
  PID_MESSAGE_CODEPAGE = 0x3FFD,
  PID_SENDER_SMTP_ADDRESS = 0x5D01,
  PID_SENT_REPRESENTING_SMTP_ADDRESS = 0x5D02,
  PID_ATTACHMENT_HIDDEN = 0x7FFE,
};

constexpr uint32_t TAG_X400_CONTENT_TYPE = 0x003C0102;

// What the property-stream entries of a written message say of each property: readable and
// writable.
constexpr int32_t kEntryFlags = 0x00000006;
constexpr int32_t kStoreUnicodeOk = 0x00040000;
constexpr int32_t kMessageRead = 0x0001, kMessageHasAttachments = 0x0010;
constexpr int32_t kObjectMailUser = 6, kObjectAttachment = 7;
constexpr int32_t kAttachByValue = 1, kAttachEmbeddedMessage = 5;
constexpr int32_t kAttachMhtmlReference = 0x0004;
// Attached messages inside attached messages: past this depth an attached message is kept as
// the file it came as.
constexpr int kMaxEmbeddingDepth = 8;

uint32_t Tag(uint16_t id, uint16_t type) {
  return static_cast<uint32_t>(id) << 16 | type;
}

std::string Le32(uint32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

int32_t SizeOf(size_t n) {
  return static_cast<int32_t>(std::min<size_t>(n, 0x7FFFFFFF));
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  return s;
}

std::u16string Trimmed(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] <= u' ')
    ++b;
  while (e > b && s[e - 1] <= u' ')
    --e;
  return s.substr(b, e - b);
}

// A text of the source tree, as UTF-8 or as UTF-16 (wide), that the tree being built refers to.
struct TReferredText {
  bool wide = false;
  std::string_view utf8;
  std::u16string_view utf16;
  size_t Units() const { return wide ? utf16.size() : Utf16Units(utf8); }
  size_t Size() const { return wide ? utf16.size() : utf8.size(); }
  TReferredText From(size_t offset) const {
    TReferredText rest = *this;
    if (wide)
      rest.utf16 = utf16.substr(offset);
    else
      rest.utf8 = utf8.substr(offset);
    return rest;
  }
};

// One message, recipient or attachment level of the tree being built: its records, and the
// entries of its property stream that declare them.
class Level {
public:
  Level(TMSGProperties& out, TMSGPropertyWithHeader* stream) : out_(out), stream_(stream) {}

  TMSGProperties& Records() { return out_; }

  void Text(uint16_t id, const std::u16string& text) {
    TMSGProperty* record = out_.Add();
    record->TagID = Tag(id, 0x001F);
    record->Value = TVariant::FromWide(text);
    record->DataSize = SizeOf(text.size() * 2);
    // The writer declares a string by the stream beside the entry (its size counts the zero).
    Entry(Tag(id, 0x0000), TVariant());
  }
  void TextIfAny(uint16_t id, const std::u16string& text) {
    if (!text.empty())
      Text(id, text);
  }
  // A text that the record takes from the source tree when it is written.
  void TextRef(uint16_t id, const TReferredText& text) {
    auto* record = out_.AddRecord<TMSGPropertyTextRef>();
    record->TagID = Tag(id, 0x001F);
    record->Wide = text.wide;
    record->Utf8 = text.utf8;
    record->Utf16 = text.utf16;
    record->DataSize = SizeOf(text.Units() * 2);
    Entry(Tag(id, 0x0000), TVariant());
  }
  void Binary(uint16_t id, std::string bytes) {
    const size_t size = bytes.size();
    TMSGProperty* record = out_.Add();
    record->TagID = Tag(id, 0x0102);
    record->DataSize = SizeOf(size);
    record->Value = TVariant::FromBytes(std::move(bytes));
    DeclareBinary(id, static_cast<uint32_t>(size));
  }
  // The entry of a binary property: its size and a reserved word.
  void DeclareBinary(uint16_t id, uint32_t size) {
    TMSGProperty* entry = Entry(Tag(id, 0x0102), TVariant::FromBytes(Le32(size) + Le32(0)));
    entry->DataSize = 8;
  }
  void Integer(uint16_t id, int32_t value) { Entry(Tag(id, 0x0003), TVariant::FromInteger(value)); }
  void Boolean(uint16_t id, bool value) {
    Entry(Tag(id, 0x000B), TVariant::FromBoolean(value))->DataSize = 1;
  }
  void Time(uint16_t id, TDateTime value) { Entry(Tag(id, 0x0040), TVariant::FromDateTime(value)); }
  // An entry that declares a storage of the level (an embedded message).
  void DeclareObject(uint16_t id) { Entry(Tag(id, 0x0000), TVariant()); }

private:
  TMSGProperty* Entry(uint32_t tag, TVariant value) {
    TMSGProperty* entry = stream_->SubProperties().Add();
    entry->TagID = tag;
    entry->Value = std::move(value);
    entry->DataSize = PropType(tag) == 0x0000 ? 0 : 8;
    entry->Reserved1 = kEntryFlags;
    return entry;
  }

  TMSGProperties& out_;
  TMSGPropertyWithHeader* stream_;
};

// A property stream record of class T named as the reader names it.
template <class T> T* AddPropertyStream(TMSGProperties& out) {
  T* stream = out.AddRecord<T>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->Header.assign(stream->HeaderSize(), '\0');
  return stream;
}

std::u16string NumberedName(const char16_t* prefix, int number) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(number));
  return prefix + std::u16string(digits, digits + 8);
}

// "RE: ", "Fwd: ": a prefix of one to three letters and a colon, as the normalized subject
// leaves it out. In UTF-16 units or UTF-8 bytes alike: the prefix is ASCII.
template <class Text> size_t SubjectPrefixLength(const Text& subject) {
  size_t i = 0;
  while (i < subject.size() && i < 4 &&
         ((subject[i] >= u'a' && subject[i] <= u'z') || (subject[i] >= u'A' && subject[i] <= u'Z')))
    ++i;
  if (i == 0 || i > 3 || i >= subject.size() || subject[i] != u':')
    return 0;
  ++i;
  while (i < subject.size() && subject[i] == u' ')
    ++i;
  return i;
}

// The MIME type (type/subtype, lower case) that a part was declared with, or empty.
std::string DeclaredType(const TMSGProperties& part) {
  std::string type = WideToSystem(part.GetPropertyText(Tag(PID_ATTACH_MIME_TAG, 0), true, false));
  if (type.empty()) {
    const TMSGProperty* declared = part.FindProperty(TAG_X400_CONTENT_TYPE, false, false);
    if (declared != nullptr && declared->Value.IsBytes())
      type = declared->Value.Bytes();
  }
  type = Lower(type.substr(0, type.find(';')));
  const size_t b = type.find_first_not_of(" \t\r\n");
  if (b == std::string::npos)
    return {};
  type = type.substr(b, type.find_last_not_of(" \t\r\n") + 1 - b);
  return type.find('/') != std::string::npos ? type : std::string();
}

std::u16string WithoutAngles(std::u16string id) {
  id = Trimmed(id);
  if (id.size() >= 2 && id.front() == u'<' && id.back() == u'>')
    id = Trimmed(id.substr(1, id.size() - 2));
  return id;
}

bool ContainsNoCase(const std::u16string& haystackLower, std::u16string needle) {
  if (needle.empty())
    return false;
  for (char16_t& c : needle)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c + 32);
  return haystackLower.find(needle) != std::u16string::npos;
}

std::u16string DisplayNameOf(const TMailAddress& person) {
  return person.Name.empty() ? person.Address : person.Name;
}

// Texts from this size on are referred to rather than copied, when the tree is built to be
// written while its source lives.
constexpr size_t kReferredTextSize = 1 << 20;

class Builder {
public:
  // referLargeText: the large texts of the message (not of attached ones, which may be parsed
  // here for the while only) become records that refer to the source's UTF-8.
  explicit Builder(bool referLargeText = false) : referLargeText_(referLargeText) {}
  void Message(const TMSGProperties& source, TMSGProperties& out, bool embedded, int depth);

private:
  void Recipients(const TMSGProperties& source, Level& message, int& count);
  void Attachments(const TMSGProperties& source, Level& message, int& count, int depth);
  bool EmbeddedMessage(const TMSGProperty& node, const std::string& data, Level& attachment,
                       int depth);
  // The text of the record when it is to be referred to: large, and held by the source as
  // UTF-16 or as UTF-8.
  std::optional<TReferredText> Referred(const TMSGProperty* record) const {
    if (!referLargeText_ || record == nullptr)
      return std::nullopt;
    TReferredText text;
    if (const std::optional<std::string_view> view = record->Utf8ValueView()) {
      text.utf8 = *view;
    } else if (record->Value.IsWide()) {
      text.wide = true;
      text.utf16 = record->Value.Wide();
    } else {
      return std::nullopt;
    }
    if (text.Size() < kReferredTextSize)
      return std::nullopt;
    return text;
  }

  bool referLargeText_;
};

void Builder::Message(const TMSGProperties& source, TMSGProperties& out, bool embedded, int depth) {
  TMSGPropertyWithHeader* stream = embedded
                                       ? static_cast<TMSGPropertyWithHeader*>(
                                             AddPropertyStream<TMSGPropertyEmbeddedMessage>(out))
                                       : AddPropertyStream<TMSGPropertyTopLevel>(out);
  Level m(out, stream);

  m.Text(PID_MESSAGE_CLASS, u"IPM.Note");
  if (const std::optional<TReferredText> referred =
          Referred(referLargeText_ ? SubjectRecord(source) : nullptr)) {
    const size_t prefix =
        referred->wide ? SubjectPrefixLength(referred->utf16) : SubjectPrefixLength(referred->utf8);
    m.TextRef(PID_SUBJECT, *referred);
    m.Text(PID_SUBJECT_PREFIX, referred->wide ? std::u16string(referred->utf16.substr(0, prefix))
                                              : SystemToWide(referred->utf8.substr(0, prefix)));
    m.TextRef(PID_NORMALIZED_SUBJECT, referred->From(prefix));
    m.TextRef(PID_CONVERSATION_TOPIC, referred->From(prefix));
  } else {
    const std::u16string subject = source.GetSubject();
    const size_t prefix = SubjectPrefixLength(subject);
    m.Text(PID_SUBJECT, subject);
    m.Text(PID_SUBJECT_PREFIX, subject.substr(0, prefix));
    m.Text(PID_NORMALIZED_SUBJECT, subject.substr(prefix));
    m.Text(PID_CONVERSATION_TOPIC, subject.substr(prefix));
  }

  const TMailAddress from = GetSenderAddress(source);
  if (!from.Name.empty() || !from.Address.empty()) {
    const std::u16string name = DisplayNameOf(from);
    m.Text(PID_SENT_REPRESENTING_NAME, name);
    m.Text(PID_SENDER_NAME, name);
    if (!from.Address.empty()) {
      for (const uint16_t id : {PID_SENT_REPRESENTING_EMAIL_ADDRESS, PID_SENDER_EMAIL_ADDRESS,
                                PID_SENT_REPRESENTING_SMTP_ADDRESS, PID_SENDER_SMTP_ADDRESS})
        m.Text(id, from.Address);
      m.Text(PID_SENT_REPRESENTING_ADDRTYPE, u"SMTP");
      m.Text(PID_SENDER_ADDRTYPE, u"SMTP");
    }
  }

  const TDateTime sent = source.GetSentDate();
  if (sent != 0) {
    m.Time(PID_CLIENT_SUBMIT_TIME, sent);
    m.Time(PID_MESSAGE_DELIVERY_TIME, sent);
  }
  m.TextIfAny(PID_INTERNET_MESSAGE_ID, Trimmed(source.GetMessageID()));
  if (const std::optional<TReferredText> headers =
          Referred(referLargeText_ ? TransportHeadersRecord(source) : nullptr))
    m.TextRef(PID_TRANSPORT_MESSAGE_HEADERS, *headers);
  else
    m.TextIfAny(PID_TRANSPORT_MESSAGE_HEADERS, source.GetTransportHeaders());

  // Importance from the message's own level: IMPORTANCE as it stands, else the sign of PRIORITY.
  if (const TMSGProperty* importance = source.FindOwnProperty(Tag(PID_IMPORTANCE, 0x0003))) {
    const int64_t v = std::clamp<int64_t>(importance->Value.ToInt64(), 0, 2);
    m.Integer(PID_IMPORTANCE, static_cast<int32_t>(v));
    m.Integer(PID_PRIORITY, static_cast<int32_t>(v - 1));
  } else if (const TMSGProperty* priority = source.FindOwnProperty(Tag(PID_PRIORITY, 0x0003))) {
    const int64_t p = priority->Value.ToInt64();
    const int32_t sign = p > 0 ? 1 : p < 0 ? -1 : 0;
    m.Integer(PID_PRIORITY, sign);
    m.Integer(PID_IMPORTANCE, sign + 1);
  }

  // Strings are UTF-16; the HTML body is UTF-8 bytes, as INTERNET_CPID says. The message code
  // page keeps the charset the message came in, for the writers that write it out again.
  const int codePage = source.GetCodePage();
  if (codePage > 0)
    m.Integer(PID_MESSAGE_CODEPAGE, codePage);
  m.Integer(PID_INTERNET_CPID, 65001);
  m.Integer(PID_STORE_SUPPORT_MASK, kStoreUnicodeOk);

  if (const std::optional<TReferredText> body =
          Referred(referLargeText_ ? BodyRecord(source) : nullptr))
    m.TextRef(PID_BODY, *body);
  else
    m.TextIfAny(PID_BODY, source.GetBody());
  const std::u16string html = source.GetBodyHTML();
  if (!html.empty())
    m.Binary(PID_BODY_HTML, utf8::Encode(html));
  const std::string rtf = source.GetBodyRTFBytes();
  if (!rtf.empty()) {
    auto* record = out.AddRecord<TMSGPropertyCompressedRTF>();
    record->TagID = TAG_RTF_COMPRESSED;
    record->CompressionKind = RTF_KIND_UNCOMPRESSED;
    record->DataSize = SizeOf(rtf.size());
    record->Value = TVariant::FromBytes(rtf);
    m.DeclareBinary(PID_RTF_COMPRESSED, static_cast<uint32_t>(rtf.size() + RTF_HEADER_SIZE));
    m.Boolean(PID_RTF_IN_SYNC, true);
  }

  int recipients = 0, attachments = 0;
  Recipients(source, m, recipients);
  Attachments(source, m, attachments, depth);
  m.Integer(PID_MESSAGE_FLAGS, kMessageRead | (attachments > 0 ? kMessageHasAttachments : 0));

  // The header: next recipient and attachment ids, then their counts.
  stream->Header.replace(
      8, 16,
      Le32(static_cast<uint32_t>(recipients)) + Le32(static_cast<uint32_t>(attachments)) +
          Le32(static_cast<uint32_t>(recipients)) + Le32(static_cast<uint32_t>(attachments)));

  if (!embedded) {
    // An empty named-property map: this message uses no named property, but readers expect the
    // map's three streams.
    TMSGProperty* map = out.Add();
    map->TagID = TAG_NAMEID_NODE;
    map->Value = TVariant::FromWide(u"__nameid_version1.0");
    for (const uint32_t tag : {0x00020102u, 0x00030102u, 0x00040102u}) {
      TMSGProperty* part = map->SubProperties().Add();
      part->TagID = tag;
      part->Value = TVariant::FromBytes({});
    }
  }
}

void Builder::Recipients(const TMSGProperties& source, Level& message, int& count) {
  for (const TRecipientKind kind : {TRecipientKind::To, TRecipientKind::Cc, TRecipientKind::Bcc}) {
    std::u16string display;
    for (const TMailAddress& person : GetRecipientAddresses(source, kind)) {
      const std::u16string name = DisplayNameOf(person);
      if (name.empty())
        continue;
      if (!display.empty())
        display += u"; ";
      display += name;
      TMSGProperty* node = message.Records().Add();
      node->TagID = TAG_RECIPIENT_NODE;
      node->Value = TVariant::FromWide(NumberedName(u"__recip_version1.0_#", count));
      TMSGProperties& records = node->SubProperties();
      Level r(records, AddPropertyStream<TMSGPropertyRecipient>(records));
      r.Text(PID_DISPLAY_NAME, name);
      r.Text(PID_TRANSMITTABLE_DISPLAY_NAME, name);
      r.Text(PID_EMAIL_ADDRESS, person.Address);
      if (!person.Address.empty()) {
        r.Text(PID_ADDRTYPE, u"SMTP");
        r.Text(PID_SMTP_ADDRESS, person.Address);
      }
      r.Integer(PID_RECIPIENT_TYPE, static_cast<int32_t>(kind));
      r.Integer(PID_ROWID, count);
      r.Integer(PID_OBJECT_TYPE, kObjectMailUser);
      r.Integer(PID_DISPLAY_TYPE, 0);
      ++count;
    }
    const uint16_t id = kind == TRecipientKind::To   ? PID_DISPLAY_TO
                        : kind == TRecipientKind::Cc ? PID_DISPLAY_CC
                                                     : PID_DISPLAY_BCC;
    message.Text(id, display);
  }
}

void Builder::Attachments(const TMSGProperties& source, Level& message, int& count, int depth) {
  std::u16string htmlLower = source.GetBodyHTML();
  for (char16_t& c : htmlLower)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c + 32);
  const int total = source.AttachmentCount();
  for (int index = 0; index < total; ++index) {
    const TMSGProperty* node = source.GetAttachment(index);
    if (node == nullptr)
      continue;
    const TMSGProperties& part = node->SubProperties();
    const std::string type = DeclaredType(part);
    // A multipart's preamble is no file of the sender's.
    if (type.rfind("multipart/", 0) == 0)
      continue;
    TMemoryStream data;
    source.SaveAttachmentToStream(index, data);

    TMSGProperty* out = message.Records().Add();
    out->TagID = TAG_ATTACHMENT_NODE;
    out->Value = TVariant::FromWide(NumberedName(u"__attach_version1.0_#", count));
    TMSGProperties& records = out->SubProperties();
    Level a(records, AddPropertyStream<TMSGPropertyAttachment>(records));
    a.Integer(PID_ATTACH_NUM, count);
    a.Integer(PID_OBJECT_TYPE, kObjectAttachment);
    a.Integer(PID_RENDERING_POSITION, -1);
    ++count;

    if (EmbeddedMessage(*node, data.Data(), a, depth))
      continue;

    const std::u16string longName = SystemToWide(node->GetAttachmentFileName(index));
    a.Text(PID_ATTACH_LONG_FILENAME, longName);
    a.Text(PID_ATTACH_FILENAME, ShortFileName(longName));
    a.Text(PID_DISPLAY_NAME, SystemToWide(node->GetAttachmentName(index)));
    const size_t dot = longName.rfind(u'.');
    if (dot != std::u16string::npos && dot + 1 < longName.size())
      a.Text(PID_ATTACH_EXTENSION, longName.substr(dot));
    a.TextIfAny(PID_ATTACH_MIME_TAG, SystemToWide(type));
    const std::u16string contentId =
        WithoutAngles(part.GetPropertyText(Tag(PID_ATTACH_CONTENT_ID, 0), true, false));
    const std::u16string location =
        Trimmed(part.GetPropertyText(Tag(PID_ATTACH_CONTENT_LOCATION, 0), true, false));
    a.TextIfAny(PID_ATTACH_CONTENT_ID, contentId);
    a.TextIfAny(PID_ATTACH_CONTENT_LOCATION, location);
    // An image the HTML shows is part of the body, not a file to list beside it.
    const bool shown =
        ContainsNoCase(htmlLower, u"cid:" + contentId) || ContainsNoCase(htmlLower, location);
    if (shown) {
      a.Integer(PID_ATTACH_FLAGS, kAttachMhtmlReference);
      a.Boolean(PID_ATTACHMENT_HIDDEN, true);
    }
    // The file's own dates, where its sender kept them (the files of a winmail.dat).
    for (const uint16_t id : {PID_CREATION_TIME, PID_LAST_MODIFICATION_TIME}) {
      const TMSGProperty* date = part.FindProperty(Tag(id, 0x0040), false, false);
      if (date != nullptr && date->Value.AsDateTime() != 0)
        a.Time(id, date->Value.AsDateTime());
    }
    a.Integer(PID_ATTACH_METHOD, kAttachByValue);
    a.Integer(PID_ATTACH_SIZE, SizeOf(data.Data().size()));
    a.Binary(PID_ATTACH_DATA, data.TakeData());
  }
}

bool Builder::EmbeddedMessage(const TMSGProperty& node, const std::string& data, Level& attachment,
                              int depth) {
  if (depth + 1 >= kMaxEmbeddingDepth)
    return false;
  // The message an attachment holds: a level the reader made of it, or the Internet message
  // that the part carries as its data.
  const TMSGProperties* inner = nullptr;
  std::unique_ptr<TQvEMLFile> parsed;
  if (node.IsEmbeddedMessage()) {
    const TMSGProperty* object =
        node.SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
    if (object != nullptr && object->SubProperties().Count() > 0)
      inner = &object->SubProperties();
  }
  if (inner == nullptr) {
    if (DeclaredType(node.SubProperties()) != "message/rfc822" || data.empty())
      return false;
    parsed = std::make_unique<TQvEMLFile>();
    TMemoryStream stream(data);
    parsed->LoadFromStream(stream);
    inner = &parsed->Properties();
  }
  const std::u16string subject = inner->GetSubject();
  attachment.Text(PID_DISPLAY_NAME, subject.empty() ? u"Message" : subject);
  attachment.Text(PID_ATTACH_MIME_TAG, u"message/rfc822");
  attachment.Integer(PID_ATTACH_METHOD, kAttachEmbeddedMessage);
  TMSGProperty* object = attachment.Records().Add();
  object->TagID = TAG_ATTACH_DATA_OBJ;
  object->Value = TVariant::FromWide(u"3701000D");
  Builder().Message(*inner, object->SubProperties(), true, depth + 1);
  attachment.DeclareObject(PID_ATTACH_DATA);
  return true;
}

} // namespace

std::u16string ShortFileName(const std::u16string& longName) {
  const size_t slash = longName.find_last_of(u"/\\");
  const std::u16string name = slash == std::u16string::npos ? longName : longName.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  const auto keep = [](const std::u16string& text, size_t max) {
    std::u16string out;
    for (char16_t c : text) {
      if (out.size() == max)
        break;
      if (c >= u'a' && c <= u'z')
        c = static_cast<char16_t>(c - 32);
      if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-')
        out += c;
    }
    return out;
  };
  const std::u16string stemText = dot == std::u16string::npos ? name : name.substr(0, dot);
  std::u16string stem = keep(stemText, 64);
  if (stem.size() > 8)
    stem = stem.substr(0, 6) + u"~1";
  if (stem.empty())
    stem = u"ATTACH";
  const std::u16string extension =
      dot == std::u16string::npos ? std::u16string() : keep(name.substr(dot + 1), 3);
  return extension.empty() ? stem : stem + u"." + extension;
}

void BuildOutlookMessage(const TMSGProperties& source, TMSGProperties& target) {
  Builder().Message(source, target, false, 0);
}

void SaveInternetMessageToMSG(const TMSGProperties& source, const std::string& fileName,
                              bool full) {
  TQvMessage built;
  // Written while source lives: its large texts are not copied into the tree.
  Builder(true).Message(source, built.Properties(), false, 0);
  SaveToMSG(built.Properties(), fileName, full);
}

std::string InternetMessageToMSGImage(const TMSGProperties& source, bool full) {
  TQvMessage built;
  Builder(true).Message(source, built.Properties(), false, 0);
  return SaveToMSGImage(built.Properties(), full);
}

void TQvEMLFile::SaveToMSG(const std::string& fileName, bool full) const {
  SaveInternetMessageToMSG(Properties(), fileName, full);
}

} // namespace orlendo
