#include "mime/tnef_message.h"

#include <algorithm>
#include <climits>
#include <map>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mime/inner_content.h"
#include "mime/tnef_format.h"
#include "model/property_types.h"
#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

using namespace tnef;

constexpr uint32_t TAG_SUBJECT_W = 0x0037001F;
constexpr uint32_t TAG_MESSAGE_CLASS_W = 0x001A001F;
constexpr uint32_t TAG_BODY_W = 0x1000001F;
constexpr uint32_t TAG_CLIENT_SUBMIT_TIME = 0x00390040;
constexpr uint32_t TAG_MESSAGE_DELIVERY_TIME = 0x0E060040;
constexpr uint32_t TAG_CREATION_TIME = 0x30070040;
constexpr uint32_t TAG_LAST_MODIFICATION_TIME = 0x30080040;
constexpr uint32_t TAG_IMPORTANCE = 0x00170003;
constexpr uint32_t TAG_SENDER_NAME_W = 0x0C1A001F;
constexpr uint32_t TAG_SENDER_ADDRTYPE_W = 0x0C1E001F;
constexpr uint32_t TAG_SENDER_EMAIL_ADDRESS_W = 0x0C1F001F;
constexpr uint32_t TAG_ATTACH_METHOD = 0x37050003;
constexpr uint32_t TAG_RENDERING_POSITION = 0x370B0003;
constexpr uint32_t TAG_ATTACH_FILENAME_W = 0x3704001F;
constexpr uint32_t TAG_ATTACH_RENDERING = 0x37090102;
constexpr uint32_t TAG_ATTACH_TRANSPORT_NAME_W = 0x370C001F;
constexpr uint32_t TAG_DISPLAY_NAME_W = 0x3001001F;
constexpr uint16_t PID_BODY = 0x1000;
constexpr uint16_t PID_RTF_COMPRESSED = 0x1009;
constexpr uint16_t PID_BODY_HTML = 0x1013;
constexpr uint16_t PID_ATTACH_DATA = 0x3701;
constexpr uint16_t PID_ATTACH_MIME_TAG = 0x370E;
constexpr uint16_t PID_X400_CONTENT_TYPE = 0x003C;
constexpr uint16_t PID_MESSAGE_CODEPAGE = 0x3FFD;
constexpr uint16_t PID_INTERNET_CPID = 0x3FDE;
constexpr uint16_t PID_MESSAGE_LOCALE_ID = 0x3FF1;
constexpr uint32_t TAG_NAMEID_GUIDS = 0x00020102;
constexpr uint32_t TAG_NAMEID_ENTRIES = 0x00030102;
constexpr uint32_t TAG_NAMEID_STRINGS = 0x00040102;
constexpr std::string_view kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
// The node under a TNEF attachment that holds the stream once its content is unpacked.
constexpr std::u16string_view kUnpackedTnefNode = u"TNEF";
// Days from 1 January 1601 to 1 January 1970.
constexpr int64_t kDaysFrom1601To1970 = 134774;

uint16_t Le16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                               (static_cast<unsigned char>(s[at + 1]) << 8));
}
uint32_t Le32(std::string_view s, size_t at) {
  return static_cast<uint32_t>(Le16(s, at)) | (static_cast<uint32_t>(Le16(s, at + 2)) << 16);
}
void PutLe16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, static_cast<uint16_t>(v & 0xFFFF));
  PutLe16(out, static_cast<uint16_t>(v >> 16));
}

// UTF-16 little-endian bytes up to the first zero code unit.
std::u16string Utf16Text(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(Le16(bytes, i));
    if (c == 0)
      break;
    text.push_back(c);
  }
  return text;
}

std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2 + 2);
  for (const char16_t c : text)
    PutLe16(bytes, static_cast<uint16_t>(c));
  PutLe16(bytes, 0);
  return bytes;
}

// The named properties of one load, numbered from 0x8000 in the order they are first met.
class TNameMap {
public:
  // The property id for the name, or 0 when the map is full.
  uint16_t IdOf(const TTnefProperty& p) {
    const Key key{std::string(reinterpret_cast<const char*>(p.Guid.data()), 16), p.NameIsString,
                  p.NameIsString ? 0 : p.Lid, p.Name};
    const auto found = ids_.find(key);
    if (found != ids_.end())
      return found->second;
    if (order_.size() >= 0x7FFF)
      return 0;
    const uint16_t id = static_cast<uint16_t>(0x8000 + order_.size());
    ids_.emplace(key, id);
    order_.push_back(key);
    return id;
  }

  // Appends the map node (GUID, entry and string streams) to level, when any name was met.
  void Store(TMSGProperties& level) const {
    if (order_.empty())
      return;
    std::string guids, entries, strings;
    std::vector<std::string> known;
    for (size_t i = 0; i < order_.size(); ++i) {
      const Key& key = order_[i];
      size_t guidIndex =
          static_cast<size_t>(std::find(known.begin(), known.end(), key.guid) - known.begin());
      if (guidIndex == known.size()) {
        known.push_back(key.guid);
        guids += key.guid;
      }
      uint32_t idOrOffset = key.lid;
      if (key.isString) {
        idOrOffset = static_cast<uint32_t>(strings.size());
        const std::string name = Utf16Bytes(key.name);
        // The length counts the name's bytes without the terminator.
        PutLe32(strings, static_cast<uint32_t>(name.size() - 2));
        strings += name.substr(0, name.size() - 2);
        while (strings.size() % 4 != 0)
          strings.push_back('\0');
      }
      PutLe32(entries, idOrOffset);
      PutLe16(entries, static_cast<uint16_t>(((guidIndex + 3) << 1) | (key.isString ? 1 : 0)));
      PutLe16(entries, static_cast<uint16_t>(i));
    }
    TMSGProperty* node = level.Add();
    node->TagID = TAG_NAMEID_NODE;
    node->Value = TVariant::FromWide(u"__nameid_version1.0");
    for (const auto& [tag, bytes] :
         {std::pair{TAG_NAMEID_GUIDS, &guids}, std::pair{TAG_NAMEID_ENTRIES, &entries},
          std::pair{TAG_NAMEID_STRINGS, &strings}}) {
      TMSGProperty* stream = node->SubProperties().Add();
      stream->TagID = tag;
      stream->Value = TVariant::FromBytes(*bytes);
      stream->DataSize = RecordSize(bytes->size());
    }
  }

private:
  struct Key {
    std::string guid;
    bool isString;
    uint32_t lid;
    std::u16string name;
    bool operator<(const Key& o) const {
      return std::tie(guid, isString, lid, name) < std::tie(o.guid, o.isString, o.lid, o.name);
    }
  };
  std::map<Key, uint16_t> ids_;
  std::vector<Key> order_;
};

// The date of an attDate attribute (year, month, day, hour, minute, second, day of week) as a
// local date-time; false when the fields are not a date.
bool TnefDate(std::string_view v, TDateTime& out) {
  if (v.size() < 12)
    return false;
  const int year = Le16(v, 0), month = Le16(v, 2), day = Le16(v, 4);
  const int hour = Le16(v, 6), minute = Le16(v, 8), second = Le16(v, 10);
  if (year < 1601 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59)
    return false;
  const int64_t days = DaysFromCivil(year, month, day) + kDaysFrom1601To1970;
  const uint64_t seconds = static_cast<uint64_t>(days) * 86400 +
                           static_cast<uint64_t>(hour * 3600 + minute * 60 + second);
  out = FileTimeToLocalDateTime(seconds * 10000000ULL);
  return true;
}

// Limits against hostile streams; real ones stay far below them.
constexpr size_t kMaxProperties = 20000;
constexpr int kMaxNodes = 10000;

class TTnefBuilder {
public:
  TTnefBuilder(TMSGProperties& message, TMSGProperties& attachments, TNameMap* names, int depth)
      : message_(message), attachments_(attachments), names_(names), depth_(depth) {}

  void Read(TTnefReader& reader) {
    log_ = &reader.Log();
    while (reader.ReadNextAttribute()) {
      if (reader.AttributeLevel() == LVL_MESSAGE)
        MessageAttribute(reader);
      else
        AttachmentAttribute(reader);
    }
    FinishBodyFormat(message_);
  }

private:
  // --- records ---

  // Records of this builder's levels by property id: property lists are read in linear time.
  TMSGProperty* Find(const TMSGProperties& level, uint16_t propId) {
    const auto l = index_.find(&level);
    if (l == index_.end())
      return nullptr;
    const auto r = l->second.find(propId);
    return r == l->second.end() ? nullptr : r->second;
  }
  void Remove(TMSGProperties& level, uint16_t propId) {
    TMSGProperty* r = Find(level, propId);
    if (r == nullptr)
      return;
    index_[&level].erase(propId);
    level.Release(r->Index());
  }
  // A new record of class T, or null once the level holds kMaxProperties.
  template <class T> T* NewRecord(TMSGProperties& level, uint32_t tag) {
    auto& ids = index_[&level];
    if (ids.size() >= kMaxProperties) {
      if (!toldTooMany_)
        log_->Report(TNEF_TOO_MANY, 0,
                     "A level holds more than " + std::to_string(kMaxProperties) +
                         " properties; the rest are left out");
      toldTooMany_ = true;
      return nullptr;
    }
    T* r = level.AddRecord<T>();
    r->TagID = tag;
    ids[PropId(tag)] = r;
    return r;
  }
  // False, with the damage recorded, once the stream has made kMaxNodes nodes.
  bool RoomForNode(const char* what) {
    if (++nodes_ <= kMaxNodes)
      return true;
    if (nodes_ == kMaxNodes + 1)
      log_->Report(TNEF_TOO_MANY, 0,
                   std::string("The stream holds more than ") + std::to_string(kMaxNodes) +
                       " recipients and attachments; further " + what + " are left out");
    return false;
  }

  // --- values ---

  std::u16string Text8(std::string_view bytes) {
    if (codePage_ != 0)
      return CodePageToWide(bytes, static_cast<unsigned>(codePage_));
    return DecodeStoredText(bytes, 0);
  }

  TMSGProperty* Put(TMSGProperties& level, uint32_t tag, TVariant value, int32_t size,
                    bool replace) {
    if (Find(level, PropId(tag)) != nullptr) {
      if (!replace)
        return nullptr;
      Remove(level, PropId(tag));
    }
    TMSGProperty* r = NewRecord<TMSGProperty>(level, tag);
    if (r == nullptr)
      return nullptr;
    r->Value = std::move(value);
    r->DataSize = size;
    return r;
  }
  void PutText(TMSGProperties& level, uint32_t tag, std::u16string text, bool replace) {
    const int32_t size = RecordSize(text.size() * 2);
    Put(level, tag, TVariant::FromWide(std::move(text)), size, replace);
  }
  void PutDate(TMSGProperties& level, uint32_t tag, std::string_view v) {
    TDateTime date;
    if (TnefDate(v, date))
      Put(level, tag, TVariant::FromDateTime(date), 8, false);
  }
  void PutBytes(TMSGProperties& level, uint32_t tag, std::string_view v, bool replace) {
    Put(level, tag, TVariant::FromBytes(std::string(v)), RecordSize(v.size()), replace);
  }

  // Adds one MAPI property to level, replacing a record of the same id.
  void AddProperty(TMSGProperties& level, const TTnefProperty& p, size_t streamOffset) {
    uint32_t tag = p.Tag;
    if (p.Named) {
      const uint16_t id = names_ != nullptr ? names_->IdOf(p) : 0;
      if (id == 0)
        return;
      tag = (static_cast<uint32_t>(id) << 16) | PropType(tag);
    }
    const uint16_t type = PropType(tag);
    const uint16_t single = type & ~MV_FLAG;
    if (p.Values.empty() && !p.MultiValued)
      return;
    if (p.MultiValued) {
      AddMultiValued(level, tag, p);
      return;
    }
    const std::string_view v = p.Values.front();
    switch (single) {
    case 0x001E: // 8-bit text, held as Unicode from here on
      PutText(level, (tag & 0xFFFF0000) | 0x001F, Text8(v), true);
      return;
    case 0x001F:
      PutText(level, tag, Utf16Text(v), true);
      return;
    case 0x000D:
      AddObject(level, tag, v, streamOffset);
      return;
    case 0x0102:
      if (tag == TAG_RTF_COMPRESSED) {
        Remove(level, PID_RTF_COMPRESSED);
        auto* rtf = NewRecord<TMSGPropertyCompressedRTF>(level, tag);
        if (rtf == nullptr)
          return;
        TMemoryStream bytes{std::string(v)};
        rtf->ReadValue(bytes, RecordSize(v.size()));
        return;
      }
      PutBytes(level, tag, v, true);
      return;
    default: {
      // The fixed-size types are read as a stream of the .msg file would be.
      Remove(level, PropId(tag));
      TMSGProperty* r = NewRecord<TMSGProperty>(level, tag);
      if (r == nullptr)
        return;
      TMemoryStream bytes{std::string(v)};
      r->ReadValue(bytes, 0);
      return;
    }
    }
  }

  void AddMultiValued(TMSGProperties& level, uint32_t tag, const TTnefProperty& p) {
    const uint16_t single = PropType(tag) & ~MV_FLAG;
    if (single == 0x001E)
      tag = (tag & 0xFFFF0000) | 0x101F;
    else if (single == 0x000D)
      tag = (tag & 0xFFFF0000) | 0x1102;
    Remove(level, PropId(tag));
    TMSGProperty* r = NewRecord<TMSGProperty>(level, tag);
    if (r == nullptr)
      return;
    if (!IsVariableMultiValueType(PropType(tag))) {
      std::string stored;
      for (const std::string_view v : p.Values)
        stored += v;
      TMultiValue values;
      values.Items = DecodeFixedMultiValues(PropType(tag), stored);
      r->DataSize = RecordSize(stored.size());
      values.Stored = std::move(stored);
      r->Value = TVariant::FromMulti(std::move(values));
      return;
    }
    r->Value = TVariant::FromMulti(TMultiValue{});
    size_t total = 0;
    for (size_t i = 0; i < p.Values.size(); ++i) {
      std::string bytes =
          single == 0x001E ? Utf16Bytes(Text8(p.Values[i])) : std::string(p.Values[i]);
      total += bytes.size();
      AddMultiValueItem(*r, i, std::move(bytes));
    }
    r->DataSize = RecordSize(total);
  }

  // A PT_OBJECT value: an interface id, then the object. An embedded message is a TNEF stream
  // of its own; a storage is an OLE object's compound file; anything else is kept as bytes.
  void AddObject(TMSGProperties& level, uint32_t tag, std::string_view v, size_t streamOffset) {
    if (v.size() < 16) {
      PutBytes(level, (tag & 0xFFFF0000) | 0x0102, v, true);
      return;
    }
    const std::string_view iid = v.substr(0, 16);
    const std::string_view object = v.substr(16);
    const bool isMessage = iid == std::string_view(reinterpret_cast<const char*>(IID_IMessage), 16);
    const bool isStorage = iid == std::string_view(reinterpret_cast<const char*>(IID_IStorage), 16);
    if (PropId(tag) != PID_ATTACH_DATA) {
      PutBytes(level, tag, object, true);
      return;
    }
    Remove(level, PID_ATTACH_DATA);
    if (isMessage && HasTnefSignature(object)) {
      if (depth_ + 1 >= MAX_TNEF_DEPTH) {
        log_->Report(TNEF_TOO_DEEP, streamOffset,
                     "An embedded message nested " + std::to_string(depth_ + 1) +
                         " deep is kept as its TNEF stream");
        PutBytes(level, TAG_ATTACH_DATA_BIN, object, true);
        return;
      }
      TMSGProperty* node = NewRecord<TMSGProperty>(level, TAG_ATTACH_DATA_OBJ);
      if (node == nullptr)
        return;
      node->Value = TVariant::FromWide(u"3701000D");
      TTnefReader nested(object, log_mode_);
      TTnefBuilder inner(node->SubProperties(), node->SubProperties(), names_, depth_ + 1);
      inner.log_mode_ = log_mode_;
      inner.Read(nested);
      // What makes the node an embedded message for everything downstream.
      if (DirectProperty(node->SubProperties(), PropId(TAG_MESSAGE_CLASS_W)) == nullptr)
        PutText(node->SubProperties(), TAG_MESSAGE_CLASS_W, u"IPM.Note", false);
      for (const TTnefProblem& problem : nested.Log().Problems())
        log_->Report(problem.Flag, streamOffset + 16 + problem.Offset,
                     "In an embedded message: " + problem.Text);
      return;
    }
    // Only what looks like a compound file is kept as an OLE object's storage.
    const bool compound = object.size() >= 8 && object.compare(0, 8, kCompoundSignature) == 0;
    PutBytes(level, isStorage && compound ? TAG_ATTACH_DATA_OBJ : TAG_ATTACH_DATA_BIN, object,
             true);
  }

  void ReadPropertyList(TTnefReader& reader, TMSGProperties& level) {
    TTnefPropertyReader props = reader.Properties();
    uint32_t count = 0;
    if (!props.ReadCount(count))
      return;
    TTnefProperty p;
    for (uint32_t i = 0; i < count && props.ReadProperty(p); ++i)
      AddProperty(level, p, p.Offset);
  }

  void ReadRecipients(TTnefReader& reader) {
    TTnefPropertyReader props = reader.Properties();
    uint32_t rows = 0;
    if (!props.ReadCount(rows))
      return;
    TTnefProperty p;
    for (uint32_t row = 0; row < rows; ++row) {
      uint32_t count = 0;
      if (!props.ReadCount(count))
        return;
      if (!RoomForNode("recipients"))
        return;
      TMSGProperty* node = message_.Add();
      node->TagID = TAG_RECIPIENT_NODE;
      for (uint32_t i = 0; i < count; ++i) {
        if (!props.ReadProperty(p))
          return;
        AddProperty(node->SubProperties(), p, p.Offset);
      }
    }
  }

  // --- message level ---

  void MessageAttribute(TTnefReader& reader) {
    const std::string_view v = reader.AttributeValue();
    switch (reader.AttributeTag()) {
    case attOemCodepage: {
      if (v.size() < 4)
        break;
      const int cp = static_cast<int>(Le32(v, 0));
      if (cp == 65001 || IcuConverterName(static_cast<unsigned>(cp)) != nullptr) {
        codePage_ = cp;
      } else {
        log_->Report(TNEF_BAD_CODE_PAGE, reader.AttributeOffset(),
                     "The code page " + std::to_string(cp) +
                         " of attOemCodepage is not known; 8-bit text is read as Windows-1252 or "
                         "UTF-8");
      }
      break;
    }
    case attSubject:
      PutText(message_, TAG_SUBJECT_W, Text8(v), false);
      break;
    case attBody:
      PutText(message_, TAG_BODY_W, Text8(v), false);
      break;
    case attMessageClass:
      PutText(message_, TAG_MESSAGE_CLASS_W, Text8(v), false);
      break;
    case attDateSent:
      PutDate(message_, TAG_CLIENT_SUBMIT_TIME, v);
      break;
    case attDateRecd:
      PutDate(message_, TAG_MESSAGE_DELIVERY_TIME, v);
      break;
    case attDateModified:
      PutDate(message_, TAG_LAST_MODIFICATION_TIME, v);
      break;
    case attPriority:
      if (v.size() >= 2) {
        const int priority = Le16(v, 0); // 1 high, 2 normal, 3 low
        if (priority >= 1 && priority <= 3)
          Put(message_, TAG_IMPORTANCE, TVariant::FromInteger(3 - priority), 4, false);
      }
      break;
    case attFrom:
      ReadFrom(v);
      break;
    case attMAPIProps:
      ReadPropertyList(reader, message_);
      break;
    case attRecipTable:
      ReadRecipients(reader);
      break;
    default:
      // attTnefVersion, attMessageID and the rest say nothing the properties do not.
      break;
    }
  }

  // attFrom: a triple of sender name and "type:address".
  void ReadFrom(std::string_view v) {
    if (v.size() < 8)
      return;
    const size_t nameLength = Le16(v, 4);
    const size_t addressLength = Le16(v, 6);
    if (8 + nameLength + addressLength > v.size())
      return;
    PutText(message_, TAG_SENDER_NAME_W, Text8(v.substr(8, nameLength)), false);
    const std::u16string address = Text8(v.substr(8 + nameLength, addressLength));
    const size_t colon = address.find(u':');
    if (colon != std::u16string::npos && colon > 0 && colon <= 16) {
      PutText(message_, TAG_SENDER_ADDRTYPE_W, address.substr(0, colon), false);
      PutText(message_, TAG_SENDER_EMAIL_ADDRESS_W, address.substr(colon + 1), false);
    } else if (!address.empty()) {
      PutText(message_, TAG_SENDER_EMAIL_ADDRESS_W, address, false);
    }
  }

  // --- attachment level ---

  TMSGProperties& CurrentAttachment() {
    if (attachment_ == nullptr) {
      if (!RoomForNode("attachments"))
        return overflow_.SubProperties();
      attachment_ = attachments_.Add();
      attachment_->TagID = TAG_ATTACHMENT_NODE;
    }
    return attachment_->SubProperties();
  }

  void AttachmentAttribute(TTnefReader& reader) {
    const std::string_view v = reader.AttributeValue();
    const uint32_t tag = reader.AttributeTag();
    if (tag == attAttachRenddata) {
      // Each attachment begins with its rendering data.
      attachment_ = nullptr;
      TMSGProperties& a = CurrentAttachment();
      if (v.size() >= 6) {
        const uint16_t type = Le16(v, 0);
        Put(a, TAG_ATTACH_METHOD,
            TVariant::FromInteger(type == AttachTypeOle ? ATTACH_OLE : ATTACH_BY_VALUE), 4, false);
        Put(a, TAG_RENDERING_POSITION, TVariant::FromInteger(static_cast<int32_t>(Le32(v, 2))), 4,
            false);
      }
      return;
    }
    TMSGProperties& a = CurrentAttachment();
    switch (tag) {
    case attAttachTitle:
      PutText(a, TAG_ATTACH_FILENAME_W, Text8(v), false);
      break;
    case attAttachData:
      PutBytes(a, TAG_ATTACH_DATA_BIN, v, false);
      break;
    case attAttachMetaFile:
      PutBytes(a, TAG_ATTACH_RENDERING, v, false);
      break;
    case attAttachCreateDate:
      PutDate(a, TAG_CREATION_TIME, v);
      break;
    case attAttachModifyDate:
      PutDate(a, TAG_LAST_MODIFICATION_TIME, v);
      break;
    case attAttachTransportFilename:
      PutText(a, TAG_ATTACH_TRANSPORT_NAME_W, Text8(v), false);
      break;
    case attAttachment:
      ReadPropertyList(reader, a);
      break;
    default:
      break;
    }
  }

  static void FinishBodyFormat(TMSGProperties& level) {
    if (DirectProperty(level, PID_BODY_HTML) != nullptr)
      level.BodyFormat = 3;
    else if (DirectProperty(level, PID_RTF_COMPRESSED) != nullptr)
      level.BodyFormat = 2;
    else if (DirectProperty(level, PID_BODY) != nullptr)
      level.BodyFormat = 1;
  }

public:
  TTnefCompliance log_mode_ = TTnefCompliance::Loose;

private:
  TMSGProperties& message_;
  TMSGProperties& attachments_;
  TNameMap* names_;
  int depth_;
  TTnefDamageLog* log_ = nullptr;
  int codePage_ = 0;
  TMSGProperty* attachment_ = nullptr;
  std::unordered_map<const TMSGProperties*, std::unordered_map<uint16_t, TMSGProperty*>> index_;
  bool toldTooMany_ = false;
  int nodes_ = 0;
  // Where the attributes of attachments beyond kMaxNodes go, to be dropped with the builder.
  TQvMessage overflowOwner_;
  TMSGProperty& overflow_ = *overflowOwner_.Properties().Add();
};

std::string LowerAscii(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text)
    out.push_back(c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c) : '?');
  return out;
}

// The data record of an attachment node: its ATTACH_DATA property at its own level.
TMSGProperty* AttachmentData(const TMSGProperty& node) {
  const TMSGProperties& sub = node.SubProperties();
  for (int i = 0; i < sub.Count(); ++i) {
    TMSGProperty* r = sub.Items(i);
    if (PropId(r->TagID) == PID_ATTACH_DATA && r->Value.IsBytes())
      return r;
  }
  return nullptr;
}

// Property ids that describe how the TNEF's own message was stored rather than what it says;
// they must not change how the message that carries it is read.
bool KeepsToItsMessage(uint16_t propId) {
  return propId == PID_MESSAGE_CODEPAGE || propId == PID_INTERNET_CPID ||
         propId == PID_MESSAGE_LOCALE_ID || propId == PID_BODY || propId == PID_BODY_HTML ||
         propId == PID_RTF_COMPRESSED || propId >= 0x8000;
}

void Expand(TMSGProperties& level, int depth);

void ExpandOne(TMSGProperties& level, TMSGProperty& node, int depth) {
  TMSGProperty* data = AttachmentData(node);
  if (data == nullptr)
    return;
  // The TNEF's own message is read apart, so that its properties can be weighed against the
  // outer message's; its attachments go straight into the outer level.
  TQvMessage holder;
  TMSGProperties& inner = holder.Properties();
  const int before = level.Count();
  const TTnefDamageLog log = [&] {
    TTnefReader reader(data->Value.Bytes());
    TTnefBuilder builder(inner, level, nullptr, depth);
    builder.Read(reader);
    return reader.Log();
  }();
  const int afterFiles = level.Count();

  // An Outlook message holds its fixed-size values, and an entry for every other, in its
  // property stream.
  TMSGProperty* propertyStream = nullptr;
  for (int i = 0; i < before && propertyStream == nullptr; ++i)
    if (dynamic_cast<TMSGPropertyWithHeader*>(level.Items(i)) != nullptr)
      propertyStream = level.Items(i);

  // The rich body where the outer message has none, the plain one where it has none.
  const bool outerRich = DirectProperty(level, PID_RTF_COMPRESSED) != nullptr ||
                         DirectProperty(level, PID_BODY_HTML) != nullptr;
  if (!outerRich) {
    if (const TMSGProperty* rtf = DirectProperty(inner, PID_RTF_COMPRESSED)) {
      auto* copy = level.AddRecord<TMSGPropertyCompressedRTF>();
      copy->TagID = rtf->TagID;
      copy->Value = rtf->Value;
      copy->DataSize = rtf->DataSize;
      if (const auto* compressed = dynamic_cast<const TMSGPropertyCompressedRTF*>(rtf))
        copy->CompressionKind = compressed->CompressionKind;
      level.BodyFormat = 2;
    }
    if (DirectProperty(inner, PID_BODY_HTML) != nullptr) {
      // Decoded here, by the code page of the TNEF's own message.
      std::u16string html = inner.GetBodyHTML();
      if (!html.empty()) {
        TMSGProperty* copy = level.Add();
        // An Outlook message holds its HTML as bytes in its Internet code page, which readers of
        // the format look for: UTF-8 here, said so where the message says nothing else.
        const TMSGProperty* cpid =
            propertyStream != nullptr
                ? propertyStream->SubProperties().FindProperty(0x3FDE0003, false, false)
                : nullptr;
        if (propertyStream != nullptr && (cpid == nullptr || cpid->Value.ToInt64() == 65001)) {
          if (cpid == nullptr) {
            TMSGProperty* entry = propertyStream->SubProperties().Add();
            entry->TagID = 0x3FDE0003;
            entry->Value = TVariant::FromInteger(65001);
            entry->DataSize = 4;
            entry->Reserved1 = 6;
          }
          std::string bytes = utf8::Encode(html);
          copy->TagID = 0x10130102;
          copy->DataSize = RecordSize(bytes.size());
          copy->Value = TVariant::FromBytes(std::move(bytes));
        } else {
          copy->TagID = 0x1013001F;
          copy->DataSize = RecordSize(html.size() * 2);
          copy->Value = TVariant::FromWide(std::move(html));
        }
        level.BodyFormat = 3;
      }
    }
  }
  AddPlainBodyWhereMissing(level, inner);
  bool outerHasRecipients = false;
  std::unordered_set<uint16_t> outerIds;
  for (int i = 0; i < before; ++i) {
    TMSGProperty* r = level.Items(i);
    outerHasRecipients = outerHasRecipients || r->TagID == TAG_RECIPIENT_NODE;
    if (PropType(r->TagID) != 0)
      outerIds.insert(PropId(r->TagID));
    if (r == propertyStream) {
      for (int j = 0; j < r->SubProperties().Count(); ++j)
        outerIds.insert(PropId(r->SubProperties().Items(j)->TagID));
    }
  }
  for (int i = 0; i < inner.Count(); ++i) {
    const TMSGProperty* r = inner.Items(i);
    if (r->TagID == TAG_RECIPIENT_NODE) {
      if (!outerHasRecipients)
        level.Add()->Assign(*r);
      continue;
    }
    if (PropType(r->TagID) == 0 || KeepsToItsMessage(PropId(r->TagID)) ||
        !outerIds.insert(PropId(r->TagID)).second)
      continue;
    if (propertyStream == nullptr) {
      level.Add()->Assign(*r);
      continue;
    }
    if (IsFixedSizeType(PropType(r->TagID)) && r->SubProperties().Count() == 0) {
      TMSGProperty* entry = propertyStream->SubProperties().Add();
      entry->Reserved1 = 6; // readable and writable
      entry->TagID = r->TagID;
      entry->Value = r->Value;
      entry->DataSize = r->DataSize;
      if (PropType(r->TagID) == 0x0004) { // an entry holds a float as a short PT_DOUBLE
        entry->TagID = (r->TagID & 0xFFFF0000) | 0x0005;
        entry->DataSize = 4;
      }
      continue;
    }
    level.Add()->Assign(*r);
  }
  if (propertyStream != nullptr) {
    // The entry of a value stored as a stream of its own names only its id.
    std::unordered_set<uint16_t> listed;
    for (int j = 0; j < propertyStream->SubProperties().Count(); ++j)
      listed.insert(PropId(propertyStream->SubProperties().Items(j)->TagID));
    for (int i = afterFiles; i < level.Count(); ++i) {
      const TMSGProperty* r = level.Items(i);
      if (r->TagID == TAG_RECIPIENT_NODE || PropType(r->TagID) == 0 ||
          !listed.insert(PropId(r->TagID)).second)
        continue;
      TMSGProperty* entry = propertyStream->SubProperties().Add();
      entry->TagID = r->TagID & 0xFFFF0000;
      entry->Reserved1 = 6;
    }
  }

  // The files stand where the stream stood: in the list of attachments, and in the MIME tree
  // that the EML writer rebuilds, where they take the stream's place.
  level.MoveRange(before, afterFiles, node.Index() + 1);

  // The stream itself stays, out of the list of files, unless it could not be read whole: then
  // it is still offered as it came, named with what went wrong.
  if (log.Damage() != 0) {
    TMSGProperties& sub = node.SubProperties();
    if (DirectProperty(sub, PropId(TAG_DISPLAY_NAME_W)) == nullptr) {
      std::u16string name = utf8::Decode(node.GetAttachmentFileName(0)) + u" (damaged TNEF: " +
                            utf8::Decode(log.Describe()) + u")";
      TMSGProperty* r = sub.Add();
      r->TagID = TAG_DISPLAY_NAME_W;
      r->DataSize = RecordSize(name.size() * 2);
      r->Value = TVariant::FromWide(std::move(name));
    }
    return;
  }
  TMSGProperties& sub = node.SubProperties();
  const int index = data->Index();
  std::unique_ptr<TMSGProperty> moved = sub.Release(index);
  TMSGProperty* holderNode = sub.Add();
  holderNode->Value = TVariant::FromWide(std::u16string(kUnpackedTnefNode));
  TMSGProperty* stream = holderNode->SubProperties().Add();
  stream->TagID = moved->TagID;
  stream->DataSize = moved->DataSize;
  stream->Value = std::move(moved->Value);
}

void Expand(TMSGProperties& level, int depth) {
  if (depth >= MAX_TNEF_DEPTH)
    return;
  std::vector<TMSGProperty*> tnef;
  const int count = level.Count();
  for (int i = 0; i < count; ++i) {
    TMSGProperty* node = level.Items(i);
    if (node->TagID != TAG_ATTACHMENT_NODE)
      continue;
    if (IsTnefAttachment(*node)) {
      tnef.push_back(node);
      continue;
    }
    // An embedded message may carry a TNEF attachment of its own.
    const TMSGProperties& sub = node->SubProperties();
    for (int j = 0; j < sub.Count(); ++j) {
      TMSGProperty* object = sub.Items(j);
      if (object->TagID == TAG_ATTACH_DATA_OBJ && object->SubProperties().Count() > 0)
        Expand(object->SubProperties(), depth + 1);
    }
  }
  for (TMSGProperty* node : tnef)
    ExpandOne(level, *node, depth);
}

} // namespace

TTnefDamageLog ReadTnefStream(std::string_view stream, TMSGProperties& message,
                              TMSGProperties& attachments, bool withNames, TTnefCompliance mode) {
  TNameMap names;
  TTnefReader reader(stream, mode);
  TTnefBuilder builder(message, attachments, withNames ? &names : nullptr, 0);
  builder.log_mode_ = mode;
  builder.Read(reader);
  if (withNames)
    names.Store(message);
  return reader.Log();
}

void TQvTNEFFile::LoadFromFile(const std::string& fileName) {
  TQvMessage::LoadFromFile(fileName);
  TFileStream file(fileName, TFileStream::OpenRead);
  TMemoryStream bytes;
  bytes.CopyFrom(file, 0);
  LoadBytes(bytes.Data(), fileName);
}

void TQvTNEFFile::LoadFromFileImage(const std::string& fileName, std::string image) {
  Clear();
  LoadBytes(image, fileName);
}

void TQvTNEFFile::LoadFromStream(TStream& stream) {
  TQvMessage::LoadFromStream(stream);
  TMemoryStream bytes;
  bytes.CopyFrom(stream, 0);
  LoadBytes(bytes.Data(), "");
}

void TQvTNEFFile::LoadBytes(std::string_view bytes, const std::string& name) {
  damage_ = 0;
  const TTnefDamageLog log = ReadTnefStream(bytes, Properties(), Properties(), true, Compliance);
  damage_ = log.Damage();
  if (damage_ == 0)
    return;
  const std::string subject = name.empty() ? std::string("The TNEF stream") : "File " + name;
  if (damage_ & TNEF_NOT_TNEF)
    throw EMSGError(subject + " is not a TNEF stream.");
  throw EMSGError(subject + " is damaged; what could be read is shown. " + log.Describe() + ".");
}

bool IsTnefAttachment(const TMSGProperty& node) {
  const TMSGProperty* data = AttachmentData(node);
  if (data == nullptr || !HasTnefSignature(data->Value.Bytes()))
    return false;
  const TMSGProperties& sub = node.SubProperties();
  for (const uint16_t id : {PID_ATTACH_MIME_TAG, PID_X400_CONTENT_TYPE}) {
    const std::string type =
        LowerAscii(sub.GetPropertyText(static_cast<uint32_t>(id) << 16, true, false));
    if (type.find("application/ms-tnef") != std::string::npos ||
        type.find("application/vnd.ms-tnef") != std::string::npos)
      return true;
  }
  for (const uint16_t id : {uint16_t{0x3707}, uint16_t{0x3704}}) {
    std::string name =
        LowerAscii(sub.GetPropertyText(static_cast<uint32_t>(id) << 16, true, false));
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ')
      name.pop_back();
    if (name == "winmail.dat")
      return true;
  }
  return false;
}

bool IsUnpackedTnef(const TMSGProperty& node) {
  if (node.TagID != TAG_ATTACHMENT_NODE || AttachmentData(node) != nullptr)
    return false;
  const TMSGProperties& sub = node.SubProperties();
  for (int i = 0; i < sub.Count(); ++i) {
    const TMSGProperty* r = sub.Items(i);
    if (r->TagID == 0 && r->Value.IsWide() && r->Value.Wide() == kUnpackedTnefNode &&
        r->SubProperties().Count() > 0)
      return true;
  }
  return false;
}

void ExpandTnefAttachments(TMSGProperties& level) {
  try {
    Expand(level, 0);
  } catch (const std::bad_alloc&) {
    // The outer message as it was read stays usable.
  }
}

} // namespace orlendo
