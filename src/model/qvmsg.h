// The message model: property records, their collections, and the message component that
// every reader fills.
//
// One message is one tree. A record (TMSGProperty) is a MAPI tag, a value, the size of the
// value as stored, the flags word of its property-stream entry and a child collection. A
// collection (TMSGProperties) is one level: the message, a recipient, an attachment, an
// embedded message, the named-property map, or the entries of a property stream. Records that
// stand for storages follow the node conventions below; readers make them, everything else
// relies on them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/stream.h"
#include "model/variant.h"

namespace orlendo {

namespace cfb {
class Stream;
}

// Node conventions.
inline constexpr uint32_t TAG_NAMEID_NODE = 0x00010000;     // the named-property map storage
inline constexpr uint32_t TAG_RECIPIENT_NODE = 0x0C000000;  // one recipient
inline constexpr uint32_t TAG_ATTACHMENT_NODE = 0x37000000; // one attachment
inline constexpr uint32_t TAG_ATTACH_DATA_OBJ = 0x3701000D; // embedded message or OLE object
inline constexpr uint32_t TAG_ATTACH_DATA_BIN = 0x37010102;
inline constexpr uint32_t TAG_RTF_COMPRESSED = 0x10090102;
inline constexpr char PROPERTIES_STREAM_NAME[] = "__properties_version1.0";

// The type bit of multi-valued properties.
inline constexpr uint16_t MV_FLAG = 0x1000;

inline constexpr uint16_t PropId(uint32_t tag) {
  return static_cast<uint16_t>(tag >> 16);
}
inline constexpr uint16_t PropType(uint32_t tag) {
  return static_cast<uint16_t>(tag & 0xFFFF);
}

enum TMSGPropertyCategory : uint8_t {
  mpcGeneral,
  mpcEnvelope,
  mpcRecipient,
  mpcNonTransmittable,
  mpcMessage,
  mpcTransportEnvelope,
  mpcTransportRecipient,
  mpcUserNonTransmittable,
  mpcProviderNonTransmittable,
  mpcMessageClassContent,
  mpcMessageClassNonTransmittable,
  mpcUserProperty,
  mpcMessageStore,
  mpcFolderABContainer,
  mpcAttachment,
  mpcAddressBook,
  mpcUser,
  mpcDistributionList,
  mpcProfile,
  mpcStatus
};

// A number that changes whenever a record is made or destroyed anywhere after a memory took the
// number, for the memories of lookups that must be recomputed when the shape of a tree changes.
// A memory checks itself against TreeGeneration and, to be filled, takes ObserveTreeGeneration
// before it looks at the tree.
uint64_t TreeGeneration();
uint64_t ObserveTreeGeneration();

// The category of a property id (ranges of ids; 0x0000 and 0xFFFF are general).
TMSGPropertyCategory CategoryOfPropId(uint16_t propId);

class TMSGProperties;
class TQvMessage;
class TMSGProperty;

// Multi-valued properties. The size of one value of a fixed-size multi-valued type (0x1002,
// 0x1003, 0x1004, 0x1005, 0x1006, 0x1007, 0x1014, 0x1040, 0x1048), 0 for the others.
size_t MultiValueElementSize(uint16_t type);
// The types whose values each have a stream of their own (0x101E, 0x101F, 0x1102), besides the
// stream of their lengths.
inline constexpr bool IsVariableMultiValueType(uint16_t type) {
  return type == 0x101E || type == 0x101F || type == 0x1102;
}
// Every multi-valued type the reader decodes: the fixed-size and the variable-size ones.
inline bool IsMultiValueType(uint16_t type) {
  return MultiValueElementSize(type) != 0 || IsVariableMultiValueType(type);
}
// The values of a fixed-size multi-valued type from its stream's bytes, each read like the value
// of the single-valued type; bytes after the last whole value are not a value.
std::vector<TVariant> DecodeFixedMultiValues(uint16_t type, std::string_view stored);
// Sets value index of a variable-size multi-valued property (0x101E, 0x101F, 0x1102) from the
// bytes of its element stream: UTF-16 text for 0x101F, the bytes as they are otherwise. The
// record's value becomes multi-valued when it was not.
void AddMultiValueItem(TMSGProperty& record, size_t index, std::string bytes);

// The converter of message text that a reader may publish as OnConvertCodepage: sender,
// the charset or code-page name, and the text (in/out) to convert.
using TQvMSGConvertCodepage =
    std::function<void(void* sender, const std::string& aCodePage, std::string& value)>;

class TMSGProperty {
public:
  // Appends the new record to collection (which owns it; use TMSGProperties::Add and
  // AddRecord rather than calling this directly).
  explicit TMSGProperty(TMSGProperties* collection);
  virtual ~TMSGProperty();
  TMSGProperty(const TMSGProperty&) = delete;
  TMSGProperty& operator=(const TMSGProperty&) = delete;

  uint32_t TagID = 0;
  TVariant Value;
  int32_t DataSize = 0;
  int32_t Reserved1 = 0;

  // The records below this one. Most records have none, so their collection is made on first
  // use of the non-const accessor; the const one gives an empty collection for them, one that
  // belongs to no tree.
  TMSGProperties& SubProperties();
  const TMSGProperties& SubProperties() const;
  TMSGProperties* Collection() const { return collection_; }
  // The index of this record in its collection.
  int Index() const;

  TMSGPropertyCategory Category() const { return CategoryOfPropId(PropId(TagID)); }

  // Copies TagID, Value, DataSize and the whole subtree (not Reserved1, headers or the
  // compression kind).
  virtual void Assign(const TMSGProperty& source);

  // The text that names the record. Unless byTag, a record with children is a node and is named
  // by its value (the storage name), or "Properties" when it has none and its tag is 0, or ""
  // otherwise. Every other record takes the dictionary row of its property id (the type is
  // ignored): the name, with " (" description ")" when withDescription; "" when no row has the
  // id. UTF-8. Defined with the dictionary (qvmsgtags.cc).
  std::string GetName(bool withDescription, bool byTag) const;

  // The value as text; empty for an empty or null value. The values of a multi-valued property
  // one per line (CR LF between them): strings without their terminating zero, binary values as
  // hexadecimal bytes separated by blanks. Byte strings (8-bit text and binary
  // alike) are decoded with the text code page of the nearest message level: its
  // MESSAGE_CODEPAGE, else the Windows family of its INTERNET_CPID, else the same at the root,
  // else UTF-8 when valid and Windows-1252 otherwise (DecodeStoredText: the text ends at the
  // first zero byte). The raw bytes stay in Value.
  std::u16string GetValueText() const;
  // Whether GetValueText gives the 8-bit value's bytes read as UTF-8, unchanged: a caller that
  // wants UTF-8 takes the bytes then, rather than decoding and encoding a value of megabytes.
  bool TextIsBytesAsUtf8() const;
  // GetValueText as UTF-8, without a copy: the bytes when TextIsBytesAsUtf8, the UTF-8 of a wide
  // string held so; nullopt otherwise. For the writers and views, whose values can be as large
  // as the file.
  std::optional<std::string_view> Utf8ValueView() const;

  // Reads this record's value from the stream's position; size is the number of bytes the value
  // occupies (0 when unknown). Never fails on short data; stream errors propagate.
  virtual void ReadValue(TStream& stream, int32_t size);

  // Attachment-node queries, for a record whose SubProperties hold one attachment.
  int GetAttachMethod() const;
  bool IsEmbeddedMessage() const { return GetAttachMethod() == 2; }
  std::string GetAttachmentFileName(int index) const; // UTF-8
  std::string GetAttachmentName(int index) const;     // UTF-8

private:
  friend class TMSGProperties;
  TMSGProperties* collection_;
  std::unique_ptr<TMSGProperties> subProperties_; // null until first needed
};

// The stream of tag 0x10090102: the value is the decompressed RTF (a byte string).
class TMSGPropertyCompressedRTF : public TMSGProperty {
public:
  using TMSGProperty::TMSGProperty;
  uint8_t CompressionKind = 0; // 0 raw, 1 compressed "LZFu", 2 uncompressed "MELA"
  void ReadValue(TStream& stream, int32_t size) override;
};

// A stream whose name carries no property tag (\x05SummaryInformation, the streams of an
// MsoDataStore storage): nothing in the program reads it, but a message saved as .msg keeps it.
// Tag 0; the value is the stream's bytes, DataSize their number; named by Name.
class TMSGPropertyUntaggedStream : public TMSGProperty {
public:
  using TMSGProperty::TMSGProperty;
  std::u16string Name;
};

// Property streams ("__properties_version1.0"): the header is kept opaque and written back
// unchanged; the children are the 16-byte entries.
class TMSGPropertyWithHeader : public TMSGProperty {
public:
  using TMSGProperty::TMSGProperty;
  std::string Header;
  // The header length of this record class: 32, 24 or 8.
  virtual size_t HeaderSize() const = 0;
};
class TMSGPropertyTopLevel : public TMSGPropertyWithHeader {
public:
  using TMSGPropertyWithHeader::TMSGPropertyWithHeader;
  size_t HeaderSize() const override { return 32; }
};
class TMSGPropertyEmbeddedMessage : public TMSGPropertyWithHeader {
public:
  using TMSGPropertyWithHeader::TMSGPropertyWithHeader;
  size_t HeaderSize() const override { return 24; }
};
class TMSGPropertyAttachment : public TMSGPropertyWithHeader {
public:
  using TMSGPropertyWithHeader::TMSGPropertyWithHeader;
  size_t HeaderSize() const override { return 8; }
};
class TMSGPropertyRecipient : public TMSGPropertyWithHeader {
public:
  using TMSGPropertyWithHeader::TMSGPropertyWithHeader;
  size_t HeaderSize() const override { return 8; }
};

// One level of a message: an ordered collection that owns its records.
class TMSGProperties {
public:
  TMSGProperties(TQvMessage* ownerMessage, TMSGProperty* parentProperty = nullptr);
  ~TMSGProperties();
  TMSGProperties(const TMSGProperties&) = delete;
  TMSGProperties& operator=(const TMSGProperties&) = delete;

  TQvMessage* OwnerMessage = nullptr;
  uint8_t BodyFormat = 0; // 0 none, 1 plain text, 2 RTF, 3 HTML
  TMSGProperty* ParentProperty = nullptr;

  // Appends a new plain record.
  TMSGProperty* Add();
  // Appends a new record of class T (a TMSGProperty subclass).
  template <class T> T* AddRecord() {
    auto record = std::make_unique<T>(this);
    T* raw = record.get();
    items_.push_back(std::move(record));
    return raw;
  }
  // Appends a record with tag and a copy of value; DataSize from the type.
  TMSGProperty* AddProperty(uint32_t tag, const TVariant& value);

  int Count() const { return static_cast<int>(items_.size()); }
  TMSGProperty* Items(int index) const { return items_[static_cast<size_t>(index)].get(); }
  // Room for more records, when a reader knows how many are coming.
  void Reserve(size_t more) { items_.reserve(items_.size() + more); }
  // Index of a record of this collection, or -1.
  int IndexOf(const TMSGProperty* record) const;
  // Takes the record at index out of the collection and hands it to the caller; the records
  // after it move up by one.
  std::unique_ptr<TMSGProperty> Release(int index);
  // Moves the records [first, last) so that they stand before the record that was at index
  // (index <= first); the others keep their order.
  void MoveRange(int first, int last, int index);
  // Destroys every record of this collection whose tag is tag, with its subtree; the others keep
  // their order. Returns how many went.
  int RemoveAll(uint32_t tag);

  // Level-first within a collection, depth-first across children.
  TMSGProperty* FindProperty(uint32_t tag, bool byId, bool recursive) const;
  std::u16string GetPropertyText(uint32_t tag, bool byId, bool recursive) const;
  bool IsRoot() const;
  // The root collection of the message this level belongs to (this one when it is the root).
  const TMSGProperties& Root() const;
  // The collection of the nearest message level at or above this one: the root, or the
  // collection of an embedded message.
  const TMSGProperties& MessageLevel() const;

  void Clear();
  // Deep copy: recreates the items as plain TMSGProperty records and assigns each.
  void Assign(const TMSGProperties& source);

  TMSGProperty* GetAttachment(int index) const;
  int AttachmentCount() const;

  // --- Message accessors (defined in export/) ---
  std::u16string GetSubject() const;
  std::u16string GetBody() const;
  std::u16string GetBodyHTML() const;
  std::u16string GetBodyRTF() const;
  // The RTF body as stored, for the RTF readers: its literal 8-bit bytes are in the RTF's own
  // code pages, and character references inside it belong to the document (GetBodyRTF decodes
  // them). A body held as wide text comes as UTF-8.
  std::string GetBodyRTFBytes() const;
  std::u16string GetTransportHeaders() const;
  std::u16string GetMessageID() const;
  std::u16string GetSenderEmail() const;
  std::u16string GetRecipientEmail() const;
  std::u16string GetFrom() const;
  std::u16string GetTo() const;
  std::u16string GetCc() const;
  std::u16string GetBcc() const;
  TDateTime GetSentDate() const;
  uint8_t GetPriority() const;
  int GetCodePage() const;
  std::string GetCharset() const;
  std::u16string FormatRecipient(const std::u16string& name) const;
  std::u16string FormatRecipientList(const std::u16string& list) const;
  // Writes the data of attachment index (nothing when it has none).
  void SaveAttachmentToStream(int index, TStream& stream) const;
  // Creates the file anew and writes the attachment's data into it.
  void SaveAttachmentToFile(int index, const std::string& fileName) const;

  // The record of exact tag that belongs to the message of this level itself: among its records
  // and the entries of its property stream, not inside its recipients, attachments or embedded
  // messages. A date or code page found there is the message's own; one found deeper belongs to
  // another message.
  TMSGProperty* FindOwnProperty(uint32_t tag) const;

  // The record of tag found by FindProperty(tag, false, true) (or by FindOwnProperty when
  // ownLevel), remembered until the shape of any tree changes (records added, removed or
  // copied). Used for the code-page properties that every 8-bit value's text needs, so that
  // reporting a message stays linear in its size. Changing the TagID of a record already in a
  // tree is not seen by this memory.
  TMSGProperty* FindPropertyCached(uint32_t tag, bool ownLevel = false) const;

private:
  std::vector<std::unique_ptr<TMSGProperty>> items_;
  struct CachedLookup {
    uint32_t tag = 0;
    bool ownLevel = false;
    uint64_t generation = 0;
    TMSGProperty* record = nullptr;
  };
  mutable CachedLookup cache_[4];
};

std::u16string QuoteDisplayName(const std::u16string& name);

// A list of wide strings (the recipient accessors use it).
class TWideStrings {
public:
  virtual ~TWideStrings() = default;
  int Add(const std::u16string& s);
  std::u16string Get(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  // Every string followed by CR LF.
  virtual std::u16string GetText() const;

private:
  std::vector<std::u16string> items_;
};

// The abstract message: owns the root collection of one message and defines how it is loaded.
class TQvMessage {
public:
  TQvMessage();
  virtual ~TQvMessage();
  TQvMessage(const TQvMessage&) = delete;
  TQvMessage& operator=(const TQvMessage&) = delete;

  // The component's version text: always "1.50b".
  std::string About() const { return "1.50b"; }

  TMSGProperties& Properties() { return *properties_; }
  const TMSGProperties& Properties() const { return *properties_; }
  // Deep-copies source into the root collection.
  void SetProperties(const TMSGProperties& source) { properties_->Assign(source); }

  virtual void Clear();
  // Base step: Clear.
  virtual void LoadFromStream(TStream& stream);
  // Base step: "File %s is not found." when no such file exists (model not cleared), else Clear.
  virtual void LoadFromFile(const std::string& fileName);
  // The same as LoadFromFile for a file whose bytes the caller has read whole (a batch reads
  // each file once): what fileName holds, as image. Base step: Clear, then LoadFromStream.
  virtual void LoadFromFileImage(const std::string& fileName, std::string image);

  bool HasMessageFlag(uint16_t flag) const;

  // What the last load could not read as the file asked, one sentence each ("The charset
  // \"x-foo\" is unknown; ..."): the content is there all the same, and whoever shows the message
  // tells the user. Emptied by Clear.
  struct TLoadNote {
    // The key of the message string that says it (a language file translates it), the values
    // of its %s in order, and the sentence in English.
    std::string Key;
    std::vector<std::string> Args;
    std::string Text;
  };
  const std::vector<TLoadNote>& LoadNotes() const { return loadNotes_; }
  // Adds the note of the message string key, whose English text is text, with args in its %s;
  // unless the same note is already there (or many are).
  void AddLoadNote(std::string key, std::string_view text, std::vector<std::string> args);

  // Forwards to the accessors and writers (defined with them).
  std::u16string Subject() const { return properties_->GetSubject(); }
  std::u16string Body() const { return properties_->GetBody(); }
  std::u16string TransportHeaders() const { return properties_->GetTransportHeaders(); }
  std::u16string From() const { return properties_->GetFrom(); }
  std::u16string To() const { return properties_->GetTo(); }
  std::u16string Cc() const { return properties_->GetCc(); }
  std::u16string Bcc() const { return properties_->GetBcc(); }
  std::string Charset() const { return properties_->GetCharset(); }
  // The .msg writer; an Internet message first takes the shape of an Outlook one.
  virtual void SaveToMSG(const std::string& fileName, bool full) const;
  void SaveToEMLFile(const std::string& fileName) const;
  void SaveToTXTFile(const std::string& fileName, bool withProperties) const;
  void SaveToHTMLFile(const std::string& fileName, bool withProperties) const;
  void SaveToXMLFile(const std::string& fileName, bool withProperties) const;

  // Published by the readers that convert message text (the .msg and Internet readers).
  TQvMSGConvertCodepage OnConvertCodepage;

private:
  std::unique_ptr<TMSGProperties> properties_;
  std::vector<TLoadNote> loadNotes_;
};

// A TStream over a compound-file stream; failures of the storage raise its EOleError. Lives in
// ole_stream.cc, so that only programs that use it link the compound-file layer.
class TOleStream : public TStream {
public:
  explicit TOleStream(cfb::Stream stream);
  // Reads and writes a stream that the caller keeps, and that outlives this adapter.
  explicit TOleStream(cfb::Stream* borrowed);
  ~TOleStream() override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

private:
  std::unique_ptr<cfb::Stream> owned_;
  cfb::Stream* stream_;
};

// The 16 bytes of a GUID as text in braces, 8-4-4-4-12 upper-case hex digits (the first three
// groups little-endian, as the platform stores them).
std::string GuidText(const unsigned char* bytes);

} // namespace orlendo
