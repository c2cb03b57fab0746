// Builds message trees in the shape the .msg reader produces, so that our .msg writer turns
// them into files that any reader of the format takes: the bundled sample message, and the
// large inputs of the benchmarks.
//
// Strings are Unicode streams; fixed-size properties go into the property stream of their
// level, as entries with the readable and writable flags; the property stream also declares the
// variable-length properties (the writer takes their sizes from the streams).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "model/qvmsg.h"
#include "msg/qvmsgfile.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"

namespace orlendo::tools {

inline constexpr int32_t kEntryFlags = 0x00000006; // readable | writable

class LevelBuilder {
public:
  // level: the collection of one message, recipient or attachment; stream: its property
  // stream record (one of the header classes), already added to the level.
  LevelBuilder(TMSGProperties& level, TMSGPropertyWithHeader& stream)
      : level_(level), stream_(stream) {}

  TMSGProperties& Level() { return level_; }

  void Text(uint16_t propId, const std::string& utf8) {
    std::u16string wide = SystemToWide(utf8);
    TMSGProperty* r = level_.Add();
    r->TagID = (uint32_t(propId) << 16) | 0x001F;
    r->DataSize = static_cast<int32_t>(wide.size() * 2);
    r->Value = TVariant::FromWide(std::move(wide));
    Declare(propId);
  }
  void Binary(uint16_t propId, std::string bytes) {
    TMSGProperty* r = level_.Add();
    r->TagID = (uint32_t(propId) << 16) | 0x0102;
    r->DataSize = static_cast<int32_t>(bytes.size());
    // A binary entry holds the value's size and four reserved bytes.
    std::string slot(8, '\0');
    for (int i = 0; i < 4; ++i)
      slot[i] = static_cast<char>((bytes.size() >> (8 * i)) & 0xFF);
    r->Value = TVariant::FromBytes(std::move(bytes));
    Entry((uint32_t(propId) << 16) | 0x0102, TVariant::FromBytes(std::move(slot)), 8);
  }
  void Long(uint16_t propId, int32_t value) {
    Entry((uint32_t(propId) << 16) | 0x0003, TVariant::FromInteger(value), 4);
  }
  void Double(uint16_t propId, double value) {
    Entry((uint32_t(propId) << 16) | 0x0005, TVariant::FromFloating(value), 8);
  }
  void Boolean(uint16_t propId, bool value) {
    Entry((uint32_t(propId) << 16) | 0x000B, TVariant::FromBoolean(value), 1);
  }
  void Time(uint16_t propId, std::time_t utc) {
    // FILETIME counts 100 ns since 1601; the model holds local date-times.
    const uint64_t fileTime = (static_cast<uint64_t>(utc) + 11644473600ULL) * 10000000ULL;
    Entry((uint32_t(propId) << 16) | 0x0040,
          TVariant::FromDateTime(FileTimeToLocalDateTime(fileTime)), 8);
  }

private:
  void Entry(uint32_t tag, TVariant value, int32_t size) {
    TMSGProperty* e = stream_.SubProperties().Add();
    e->TagID = tag;
    e->Value = std::move(value);
    e->DataSize = size;
    e->Reserved1 = kEntryFlags;
  }
  // A variable-length property is declared in the property stream by an entry of unknown
  // type: the writer fills in the type and size from the stream of the same id.
  void Declare(uint16_t propId) {
    TMSGProperty* e = stream_.SubProperties().Add();
    e->TagID = uint32_t(propId) << 16;
    e->Reserved1 = kEntryFlags;
  }
  TMSGProperties& level_;
  TMSGPropertyWithHeader& stream_;
};

// Little-endian header fields of the top-level and embedded property streams.
inline std::string StreamHeader(size_t size, uint32_t recipients, uint32_t attachments) {
  std::string h(size, '\0');
  auto put = [&h](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      h[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  if (size >= 24) {
    put(8, recipients);   // next recipient id
    put(12, attachments); // next attachment id
    put(16, recipients);  // recipient count
    put(20, attachments); // attachment count
  }
  return h;
}

inline std::string Hex8(uint32_t n) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", n);
  return buf;
}

// Starts a message level (the root, or the collection of an embedded message).
template <class StreamClass>
LevelBuilder BeginMessage(TMSGProperties& level, uint32_t recipients, uint32_t attachments) {
  StreamClass* stream = level.AddRecord<StreamClass>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->Header = StreamHeader(stream->HeaderSize(), recipients, attachments);
  return LevelBuilder(level, *stream);
}

// Adds a recipient or attachment node with its (empty) property stream of class StreamClass.
template <class StreamClass>
LevelBuilder AddChildNode(TMSGProperties& message, uint32_t tag, const std::string& name) {
  TMSGProperty* node = message.Add();
  node->TagID = tag;
  node->Value = TVariant::FromWide(SystemToWide(name));
  auto* stream = node->SubProperties().AddRecord<StreamClass>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->Header = std::string(8, '\0');
  return LevelBuilder(node->SubProperties(), *stream);
}

// Adds a recipient node: type 1 To, 2 Cc, 3 Bcc.
inline void AddRecipient(TMSGProperties& message, uint32_t index, const std::string& name,
                         const std::string& address, int type) {
  LevelBuilder r = AddChildNode<TMSGPropertyRecipient>(message, TAG_RECIPIENT_NODE,
                                                       "__recip_version1.0_#" + Hex8(index));
  r.Text(0x3001, name);                        // DISPLAY_NAME
  r.Text(0x3002, "SMTP");                      // ADDRTYPE
  r.Text(0x3003, address);                     // EMAIL_ADDRESS
  r.Text(0x39FE, address);                     // SMTP_ADDRESS
  r.Text(0x5FF6, name);                        // RECIPIENT_DISPLAY_NAME
  r.Long(0x0C15, type);                        // RECIPIENT_TYPE
  r.Long(0x0FFE, 6);                           // OBJECT_TYPE: mail user
  r.Long(0x3000, static_cast<int32_t>(index)); // ROWID
}

// Adds an attachment node holding data; returns its builder for more properties.
inline void AddFileAttachment(TMSGProperties& message, uint32_t index, const std::string& fileName,
                              const std::string& mimeType, std::string data) {
  LevelBuilder a = AddChildNode<TMSGPropertyAttachment>(message, TAG_ATTACHMENT_NODE,
                                                        "__attach_version1.0_#" + Hex8(index));
  const int32_t size = static_cast<int32_t>(data.size());
  a.Text(0x3001, fileName); // DISPLAY_NAME
  a.Text(0x3704, fileName); // ATTACH_FILENAME
  a.Text(0x3707, fileName); // ATTACH_LONG_FILENAME
  a.Text(0x370E, mimeType); // ATTACH_MIME_TAG
  const size_t dot = fileName.rfind('.');
  if (dot != std::string::npos)
    a.Text(0x3703, fileName.substr(dot));      // ATTACH_EXTENSION
  a.Binary(0x3701, std::move(data));           // ATTACH_DATA_BIN
  a.Long(0x3705, 1);                           // ATTACH_METHOD: by value
  a.Long(0x0E20, size);                        // ATTACH_SIZE
  a.Long(0x0E21, static_cast<int32_t>(index)); // ATTACH_NUM
  a.Long(0x0FFE, 7);                           // OBJECT_TYPE: attachment
  a.Long(0x370B, -1);                          // RENDERING_POSITION
}

// Adds an attachment node holding an embedded message; returns the embedded message's level.
inline TMSGProperties& AddEmbeddedMessage(TMSGProperties& message, uint32_t index,
                                          const std::string& displayName) {
  LevelBuilder a = AddChildNode<TMSGPropertyAttachment>(message, TAG_ATTACHMENT_NODE,
                                                        "__attach_version1.0_#" + Hex8(index));
  a.Text(0x3001, displayName);
  a.Long(0x3705, 5); // ATTACH_METHOD: embedded message
  a.Long(0x0E21, static_cast<int32_t>(index));
  a.Long(0x0FFE, 7);
  a.Long(0x370B, -1);
  TMSGProperty* data = a.Level().Add();
  data->TagID = TAG_ATTACH_DATA_OBJ;
  data->Value = TVariant::FromWide(u"3701000D");
  return data->SubProperties();
}

// The named-property map every .msg carries, here empty.
inline void AddEmptyNameMap(TMSGProperties& message) {
  TMSGProperty* node = message.Add();
  node->TagID = TAG_NAMEID_NODE;
  node->Value = TVariant::FromWide(u"__nameid_version1.0");
  for (uint32_t tag : {0x00020102u, 0x00030102u, 0x00040102u}) {
    TMSGProperty* s = node->SubProperties().Add();
    s->TagID = tag;
    s->Value = TVariant::FromBytes(std::string());
  }
}

} // namespace orlendo::tools
