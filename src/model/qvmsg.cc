#include "model/qvmsg.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <type_traits>
#include <utility>

#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_MESSAGE_CODEPAGE = 0x3FFD0003;
constexpr uint32_t TAG_INTERNET_CPID = 0x3FDE0003;
constexpr uint32_t TAG_MESSAGE_FLAGS = 0x0E070003;
constexpr uint16_t PROPID_ATTACH_DATA = 0x3701;

// A value larger than this is never padded with zeros past the end of its stream: a size that
// claims more than the stream holds would otherwise make a tiny hostile file allocate gigabytes.
constexpr int64_t kMaxZeroFill = 64 * 1024;

template <class T> T LoadLittleEndian(const unsigned char* p) {
  T value{};
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, p, sizeof(T));
  } else {
    using U = std::make_unsigned_t<std::conditional_t<std::is_integral_v<T>, T, uint64_t>>;
    U bits = 0;
    for (size_t i = sizeof(T); i-- > 0;)
      bits = static_cast<U>((bits << 8) | p[i]);
    std::memcpy(&value, &bits, sizeof(T));
  }
  return value;
}

// Reads until count bytes are in or the stream ends; returns the number read.
size_t ReadFully(TStream& stream, void* buffer, size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t got = stream.Read(out + done, count - done);
    if (got == 0)
      break;
    done += got;
  }
  return done;
}

// The number of bytes to allocate for a value that claims size bytes at the stream's position.
size_t AllocationFor(TStream& stream, int64_t size) {
  if (size <= kMaxZeroFill)
    return static_cast<size_t>(size);
  const int64_t left = std::max<int64_t>(0, stream.Size() - stream.Position());
  return static_cast<size_t>(std::min(size, std::max(left, kMaxZeroFill)));
}

// FILETIME to local date-time with the offset from UTC that holds now, as the platform's
// file-time-to-local-file-time conversion does (not the offset of the date being converted).
TDateTime FileTimeToLocalNow(uint64_t fileTime) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int64_t offset100ns = static_cast<int64_t>(local.tm_gmtoff) * 10000000;
  const int64_t localTime = static_cast<int64_t>(fileTime) + offset100ns;
  // FILETIME counts from 1601-01-01; the date-time from 1899-12-30, 109205 days later.
  constexpr int64_t kMsPerDay = 86400000;
  constexpr int64_t kEpochShiftDays = 109205;
  const int64_t ms = localTime / 10000; // FILETIME is unsigned: values from 2^63 come out negative
  const int64_t day = (ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay));
  const int64_t msOfDay = ms - day * kMsPerDay;
  TDateTimeParts parts = SplitDateTime(static_cast<double>(day - kEpochShiftDays));
  parts.Hour = static_cast<int>(msOfDay / 3600000);
  parts.Minute = static_cast<int>(msOfDay / 60000 % 60);
  parts.Second = static_cast<int>(msOfDay / 1000 % 60);
  parts.Millisecond = static_cast<int>(msOfDay % 1000);
  return JoinDateTime(parts);
}

// A code-page property's number; 0 when the value is not a number.
int CodePageValue(const TMSGProperty* record) {
  if (record == nullptr)
    return 0;
  switch (record->Value.Kind()) {
  case VarKind::Integer:
  case VarKind::Floating:
  case VarKind::Currency:
    return static_cast<int>(record->Value.ToInt64());
  default:
    return 0;
  }
}

// Trim of blanks and control characters, for the emptiness test of file names.
bool IsBlank(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= u' '; });
}

bool IsStringType(uint16_t type) {
  switch (type) {
  case 0x000D:
  case 0x001E:
  case 0x101E:
  case 0x8008:
  case 0x8013:
  case 0x0102:
  case 0x001F:
  case 0x101F:
    return true;
  default:
    return false;
  }
}

// Moves every record of items, and of their subtrees, out and destroys them one at a time, so that
// the depth of a tree never turns into depth of the call stack.
void DestroyRecords(std::vector<std::unique_ptr<TMSGProperty>>& items);

} // namespace

std::string GuidText(const unsigned char* g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                LoadLittleEndian<uint32_t>(g), LoadLittleEndian<uint16_t>(g + 4),
                LoadLittleEndian<uint16_t>(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return buf;
}

TMSGPropertyCategory CategoryOfPropId(uint16_t id) {
  if (id >= 0x0001 && id <= 0x0BFF)
    return mpcEnvelope;
  if (id >= 0x0C00 && id <= 0x0DFF)
    return mpcRecipient;
  if (id >= 0x0E00 && id <= 0x0FFF)
    return mpcNonTransmittable;
  if (id >= 0x1000 && id <= 0x33FF)
    return mpcMessage;
  if (id >= 0x3400 && id <= 0x35FF)
    return mpcMessageStore;
  if (id >= 0x3600 && id <= 0x36FF)
    return mpcFolderABContainer;
  if (id >= 0x3700 && id <= 0x38FF)
    return mpcAttachment;
  if (id >= 0x3900 && id <= 0x39FF)
    return mpcAddressBook;
  if (id >= 0x3A00 && id <= 0x3BFF)
    return mpcUser;
  if (id >= 0x3C00 && id <= 0x3CFF)
    return mpcDistributionList;
  if (id >= 0x3D00 && id <= 0x3DFF)
    return mpcProfile;
  if (id >= 0x3E00 && id <= 0x3FFF)
    return mpcStatus;
  if (id >= 0x4000 && id <= 0x57FF)
    return mpcTransportEnvelope;
  if (id >= 0x5800 && id <= 0x5FFF)
    return mpcTransportRecipient;
  if (id >= 0x6000 && id <= 0x65FF)
    return mpcUserNonTransmittable;
  if (id >= 0x6600 && id <= 0x67FF)
    return mpcProviderNonTransmittable;
  if (id >= 0x6800 && id <= 0x7BFF)
    return mpcMessageClassContent;
  if (id >= 0x7C00 && id <= 0x7FFF)
    return mpcMessageClassNonTransmittable;
  if (id >= 0x8000 && id <= 0xFFFE)
    return mpcUserProperty;
  return mpcGeneral;
}

// ---------------------------------------------------------------------------------------------
// TMSGProperty

namespace {
// The generation (shifted left by one) and, in the low bit, whether a memory has taken the
// present generation. A change of a tree's shape starts a new generation only when one has: a
// message being read makes and drops hundreds of records, and parallel conversions writing one
// shared word for each of them would pass its cache line between their cores all the time.
std::atomic<uint64_t> g_treeGeneration{2};

// A record was made or destroyed, or records moved: memories of the present generation are
// outdated.
void TreeChanged() {
  uint64_t v = g_treeGeneration.load(std::memory_order_relaxed);
  while ((v & 1) != 0 &&
         !g_treeGeneration.compare_exchange_weak(v, v + 1, std::memory_order_relaxed)) {
  }
}
} // namespace

uint64_t TreeGeneration() {
  return g_treeGeneration.load(std::memory_order_relaxed) >> 1;
}

uint64_t ObserveTreeGeneration() {
  return g_treeGeneration.fetch_or(1, std::memory_order_relaxed) >> 1;
}

TMSGProperty::TMSGProperty(TMSGProperties* collection) : collection_(collection) {
  TreeChanged();
}

TMSGProperties& TMSGProperty::SubProperties() {
  if (subProperties_ == nullptr)
    subProperties_ = std::make_unique<TMSGProperties>(
        collection_ != nullptr ? collection_->OwnerMessage : nullptr, this);
  return *subProperties_;
}

const TMSGProperties& TMSGProperty::SubProperties() const {
  static const TMSGProperties kNone(nullptr, nullptr);
  return subProperties_ != nullptr ? *subProperties_ : kNone;
}

TMSGProperty::~TMSGProperty() {
  TreeChanged();
}

int TMSGProperty::Index() const {
  return collection_ != nullptr ? collection_->IndexOf(this) : -1;
}

void TMSGProperty::Assign(const TMSGProperty& source) {
  if (&source == this)
    return;
  TagID = source.TagID;
  Value = source.Value;
  DataSize = source.DataSize;
  if (source.SubProperties().Count() > 0)
    SubProperties().Assign(source.SubProperties());
  else if (subProperties_ != nullptr)
    subProperties_->Clear();
}

namespace {

// 8-bit values stay as stored; they become text in the code page of their message level.
// The code page in which DecodeStoredText reads text of cp, or 0 where it reads valid UTF-8 as
// UTF-8 and other bytes as Windows-1252.
int StoredTextCodePage(int cp) {
  const int family = WindowsFamilyCodePage(cp);
  return family > 0 && family != 65001 && IcuConverterName(static_cast<unsigned>(family)) ? family
                                                                                          : 0;
}

// The code page that 8-bit text of the collection is read in (0: UTF-8 when valid, else
// Windows-1252).
int TextCodePageAtLevel(const TMSGProperties* collection) {
  if (collection == nullptr)
    return 0;
  const TMSGProperties& level = collection->MessageLevel();
  const TMSGProperties& root = collection->Root();
  for (const TMSGProperties* where : {&level, &root}) {
    // The level's own code pages first: one found deeper may be an attached message's.
    for (const bool ownLevel : {true, false}) {
      if (const int cp = CodePageValue(where->FindPropertyCached(TAG_MESSAGE_CODEPAGE, ownLevel));
          cp > 0) {
        // A message code page is taken as it is, even when it is not a Windows one.
        const int family = WindowsFamilyCodePage(cp);
        if (family != cp && family != 65001 && IcuConverterName(static_cast<unsigned>(cp)))
          return cp;
        return StoredTextCodePage(cp);
      }
      if (const int cp = CodePageValue(where->FindPropertyCached(TAG_INTERNET_CPID, ownLevel));
          cp > 0)
        return StoredTextCodePage(WindowsFamilyCodePage(cp));
    }
    if (where == &root)
      break;
  }
  return 0;
}

std::u16string BytesTextAtLevel(const std::string& bytes, const TMSGProperties* collection) {
  const int cp = TextCodePageAtLevel(collection);
  return cp > 0 ? CodePageToWide(bytes, static_cast<unsigned>(cp)) : DecodeStoredText(bytes, 0);
}

// Code pages that read every 7-bit byte as the ASCII character of that number: none of the
// stateful ones (ISO-2022, HZ, UTF-7), EBCDIC or UTF-16.
bool KeepsAscii(int cp) {
  switch (cp) {
  case 874:
  case 932:
  case 936:
  case 949:
  case 950:
  case 1361:
  case 20127:
  case 20866:
  case 21866:
  case 51932:
  case 51936:
  case 51949:
  case 54936:
    return true;
  default:
    return (cp >= 1250 && cp <= 1258) || (cp >= 28591 && cp <= 28606);
  }
}

std::u16string HexText(const std::string& bytes) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!text.empty())
      text += u' ';
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

// One value of a multi-valued property: strings without their terminating zero, binary values in
// hexadecimal.
std::u16string MultiItemText(const TVariant& item, uint16_t singleType,
                             const TMSGProperties* collection) {
  if (singleType == 0x0102 && item.IsBytes())
    return HexText(item.Bytes());
  if (singleType == 0x001E && item.IsBytes())
    return BytesTextAtLevel(item.Bytes(), collection);
  std::u16string text = item.ToWide();
  while (!text.empty() && text.back() == u'\0')
    text.pop_back();
  return text;
}

} // namespace

size_t MultiValueElementSize(uint16_t type) {
  switch (type) {
  case 0x1002:
    return 2;
  case 0x1003:
  case 0x1004:
    return 4;
  case 0x1005:
  case 0x1006:
  case 0x1007:
  case 0x1014:
  case 0x1040:
    return 8;
  case 0x1048:
    return 16;
  default:
    return 0;
  }
}

std::vector<TVariant> DecodeFixedMultiValues(uint16_t type, std::string_view stored) {
  std::vector<TVariant> items;
  const size_t size = MultiValueElementSize(type);
  if (size == 0)
    return items;
  const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
  items.reserve(stored.size() / size);
  for (size_t at = 0; at + size <= stored.size(); at += size) {
    const unsigned char* v = p + at;
    switch (type) {
    case 0x1002:
      items.push_back(TVariant::FromInteger(LoadLittleEndian<int16_t>(v)));
      break;
    case 0x1003:
      items.push_back(TVariant::FromInteger(LoadLittleEndian<int32_t>(v)));
      break;
    case 0x1004:
      items.push_back(TVariant::FromFloating(LoadLittleEndian<float>(v)));
      break;
    case 0x1005:
      items.push_back(TVariant::FromFloating(LoadLittleEndian<double>(v)));
      break;
    case 0x1006:
      items.push_back(TVariant::FromCurrency(LoadLittleEndian<int64_t>(v)));
      break;
    case 0x1007:
      items.push_back(TVariant::FromDateTime(LoadLittleEndian<double>(v)));
      break;
    case 0x1014:
      items.push_back(TVariant::FromInt64(LoadLittleEndian<int64_t>(v)));
      break;
    case 0x1040:
      items.push_back(TVariant::FromDateTime(FileTimeToLocalNow(LoadLittleEndian<uint64_t>(v))));
      break;
    case 0x1048:
      items.push_back(TVariant::FromBytes(GuidText(v)));
      break;
    }
  }
  return items;
}

void AddMultiValueItem(TMSGProperty& record, size_t index, std::string bytes) {
  if (!record.Value.IsMulti())
    record.Value = TVariant::FromMulti(TMultiValue{});
  TMultiValue& values = record.Value.MutableMulti();
  if (values.Items.size() <= index)
    values.Items.resize(index + 1);
  TVariant& item = values.Items[index];
  if (PropType(record.TagID) == 0x101F && bytes.size() % 2 == 0) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    item = TVariant::FromWide(std::move(text));
  } else {
    // Text of 8 bits, binary data, and a UTF-16 value of an odd length: the bytes as stored.
    item = TVariant::FromBytes(std::move(bytes));
  }
}

bool TMSGProperty::TextIsBytesAsUtf8() const {
  if (!Value.IsBytes() || Value.IsMulti())
    return false;
  const std::string& bytes = Value.Bytes();
  if (bytes.find('\0') != std::string::npos)
    return false;
  const int cp = TextCodePageAtLevel(collection_);
  if (cp == 0)
    return IsValidUtf8(bytes);
  return KeepsAscii(cp) &&
         std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
}

std::optional<std::string_view> TMSGProperty::Utf8ValueView() const {
  if (Value.HoldsUtf8() && !Value.IsMulti())
    return Value.HeldUtf8();
  if (!TextIsBytesAsUtf8())
    return std::nullopt;
  return std::string_view(Value.Bytes());
}

std::u16string TMSGProperty::GetValueText() const {
  if (Value.IsMulti()) {
    const uint16_t singleType = PropType(TagID) & ~MV_FLAG;
    std::u16string text;
    for (const TVariant& item : Value.Multi().Items) {
      if (&item != Value.Multi().Items.data())
        text += u"\r\n";
      text += MultiItemText(item, singleType, collection_);
    }
    return text;
  }
  if (!Value.IsBytes())
    return Value.ToWide();
  return BytesTextAtLevel(Value.Bytes(), collection_);
}

void TMSGProperty::ReadValue(TStream& stream, int32_t size) {
  if (collection_ != nullptr) {
    if ((TagID == 0x1000001F || TagID == 0x1000001E) && collection_->BodyFormat == 0)
      collection_->BodyFormat = 1;
    if (TagID == 0x1013001E)
      collection_->BodyFormat = 3;
  }
  const int32_t given = std::max<int32_t>(size, 0);
  unsigned char buf[16] = {};
  int32_t defaultSize = 0;
  const auto readFixed = [&](size_t n) {
    ReadFully(stream, buf, n);
    defaultSize = static_cast<int32_t>(n);
  };
  switch (PropType(TagID)) {
  case 0x0002:
    readFixed(2);
    Value = TVariant::FromInteger(LoadLittleEndian<int16_t>(buf));
    break;
  case 0x0003:
  case 0x000A:
    readFixed(4);
    Value = TVariant::FromInteger(LoadLittleEndian<int32_t>(buf));
    break;
  case 0x0004:
    readFixed(4);
    Value = TVariant::FromFloating(LoadLittleEndian<float>(buf));
    break;
  case 0x0005:
    readFixed(8);
    Value = TVariant::FromFloating(LoadLittleEndian<double>(buf));
    break;
  case 0x0006:
    // The stored number counts ten-thousandths; keep it as currency so that it shows as stored.
    readFixed(8);
    Value = TVariant::FromCurrency(LoadLittleEndian<int64_t>(buf));
    break;
  case 0x0007:
    readFixed(8);
    Value = TVariant::FromDateTime(LoadLittleEndian<double>(buf));
    break;
  case 0x000B:
    readFixed(2);
    Value = TVariant::FromBoolean(LoadLittleEndian<uint16_t>(buf) != 0);
    break;
  case 0x0014:
    readFixed(8);
    Value = TVariant::FromInt64(LoadLittleEndian<int64_t>(buf));
    break;
  case 0x0040:
    readFixed(8);
    Value = TVariant::FromDateTime(FileTimeToLocalNow(LoadLittleEndian<uint64_t>(buf)));
    break;
  case 0x0048:
    readFixed(16);
    Value = TVariant::FromBytes(GuidText(buf));
    break;
  case 0x1002:
  case 0x1003:
  case 0x1004:
  case 0x1005:
  case 0x1006:
  case 0x1007:
  case 0x1014:
  case 0x1040:
  case 0x1048:
  case 0x101E:
  case 0x101F:
  case 0x1102: {
    // The stream of a multi-valued property: its fixed-size values one after the other, or the
    // lengths of its variable-size values, whose own streams the reader adds (AddMultiValueItem).
    std::string stored(AllocationFor(stream, given), '\0');
    stored.resize(ReadFully(stream, stored.data(), stored.size()));
    TMultiValue values;
    values.Items = DecodeFixedMultiValues(PropType(TagID), stored);
    values.Stored = std::move(stored);
    Value = TVariant::FromMulti(std::move(values));
    break;
  }
  case 0x000D:
  case 0x001E:
  case 0x8008:
  case 0x8013:
  case 0x0102: {
    // Read straight into the value's own buffer: attachments can be large.
    Value = TVariant::FromBytes(std::string(AllocationFor(stream, given), '\0'));
    std::string& bytes = Value.MutableBytes();
    ReadFully(stream, bytes.data(), bytes.size());
    break;
  }
  case 0x001F: {
    const size_t units = AllocationFor(stream, given) / 2;
    Value = TVariant::FromWide(std::u16string(units, u'\0'));
    std::u16string& text = Value.MutableWide();
    const size_t got = ReadFully(stream, text.data(), units * 2);
    if constexpr (std::endian::native != std::endian::little) {
      for (char16_t& c : text)
        c = static_cast<char16_t>((c >> 8) | (c << 8));
    }
    // An odd trailing byte belongs to the value's size but not to any character.
    if (got == units * 2 && (given & 1) != 0)
      ReadFully(stream, buf, 1);
    break;
  }
  default:
    Value = TVariant::FromBytes(std::string());
    break;
  }
  DataSize = size != 0 ? size : defaultSize;
}

int TMSGProperty::GetAttachMethod() const {
  const TMSGProperties& sub = SubProperties();
  if (sub.FindProperty(0x001A001E, false, true) != nullptr)
    return 2;
  if (const TMSGProperty* object = sub.FindProperty(TAG_ATTACH_DATA_OBJ, false, true);
      object != nullptr && object->SubProperties().FindProperty(0x001A0000, true, true) != nullptr)
    return 2;
  const TMSGProperty* data = sub.FindProperty(0x37010000, true, true);
  if (data == nullptr)
    return 0;
  if (data->TagID == TAG_ATTACH_DATA_OBJ)
    return 3;
  if (data->TagID == TAG_ATTACH_DATA_BIN)
    return 1;
  return 0;
}

std::string TMSGProperty::GetAttachmentFileName(int index) const {
  const TMSGProperties& sub = SubProperties();
  std::u16string name = sub.GetPropertyText(0x37070000, true, false);
  if (IsBlank(name))
    name = sub.GetPropertyText(0x37040000, true, false);
  if (IsBlank(name))
    return SAttachmentDefaultName + std::to_string(static_cast<int64_t>(index) + 1);
  return utf8::Encode(name);
}

std::string TMSGProperty::GetAttachmentName(int index) const {
  const std::u16string name = SubProperties().GetPropertyText(0x30010000, true, false);
  if (name.empty())
    return GetAttachmentFileName(index);
  return utf8::Encode(name);
}

// ---------------------------------------------------------------------------------------------
// TMSGProperties

namespace {

void DestroyRecords(std::vector<std::unique_ptr<TMSGProperty>>& items) {
  std::vector<std::unique_ptr<TMSGProperty>> pending = std::move(items);
  items.clear();
  while (!pending.empty()) {
    std::unique_ptr<TMSGProperty> record = std::move(pending.back());
    pending.pop_back();
    // A record without children is not given an empty collection only to be destroyed.
    if (std::as_const(*record).SubProperties().Count() > 0) {
      TMSGProperties& sub = record->SubProperties();
      for (int i = sub.Count(); i-- > 0;)
        pending.push_back(sub.Release(i));
    }
    // record goes here with an empty subtree
  }
}

} // namespace

TMSGProperties::TMSGProperties(TQvMessage* ownerMessage, TMSGProperty* parentProperty)
    : OwnerMessage(ownerMessage), ParentProperty(parentProperty) {}

TMSGProperties::~TMSGProperties() {
  DestroyRecords(items_);
}

TMSGProperty* TMSGProperties::Add() {
  return AddRecord<TMSGProperty>();
}

TMSGProperty* TMSGProperties::AddProperty(uint32_t tag, const TVariant& value) {
  TMSGProperty* record = Add();
  record->TagID = tag;
  record->Value = value;
  switch (PropType(tag)) {
  case 0x0002:
  case 0x000B:
    record->DataSize = 2;
    break;
  case 0x0003:
  case 0x0004:
  case 0x000A:
    record->DataSize = 4;
    break;
  case 0x0005:
  case 0x0006:
  case 0x0007:
  case 0x0014:
  case 0x0040:
    record->DataSize = 8;
    break;
  case 0x0048:
    record->DataSize = 16;
    break;
  default:
    if (IsStringType(PropType(tag))) {
      // The length as a byte string in the system code page (UTF-8), not twice the characters.
      const size_t length = value.IsBytes() ? value.Bytes().size() : value.ToUtf8().size();
      record->DataSize = static_cast<int32_t>(std::min<size_t>(length, INT32_MAX));
    }
    break;
  }
  return record;
}

int TMSGProperties::IndexOf(const TMSGProperty* record) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == record)
      return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<TMSGProperty> TMSGProperties::Release(int index) {
  std::unique_ptr<TMSGProperty> record = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  TreeChanged();
  return record;
}

void TMSGProperties::MoveRange(int first, int last, int index) {
  if (index < 0 || index > first || first > last || last > Count())
    return;
  std::rotate(items_.begin() + index, items_.begin() + first, items_.begin() + last);
  TreeChanged();
}

int TMSGProperties::RemoveAll(uint32_t tag) {
  const auto gone = std::stable_partition(items_.begin(), items_.end(),
                                          [&](const auto& record) { return record->TagID != tag; });
  std::vector<std::unique_ptr<TMSGProperty>> removed(std::make_move_iterator(gone),
                                                     std::make_move_iterator(items_.end()));
  items_.erase(gone, items_.end());
  if (!removed.empty())
    TreeChanged();
  const int count = static_cast<int>(removed.size());
  DestroyRecords(removed);
  return count;
}

TMSGProperty* TMSGProperties::FindPropertyCached(uint32_t tag, bool ownLevel) const {
  uint64_t now = TreeGeneration();
  CachedLookup* slot = nullptr;
  for (CachedLookup& c : cache_) {
    if (c.tag == tag && c.ownLevel == ownLevel) {
      slot = &c;
      break;
    }
  }
  if (slot != nullptr && slot->generation == now &&
      (slot->record == nullptr || slot->record->TagID == tag))
    return slot->record;
  now = ObserveTreeGeneration();
  TMSGProperty* found = ownLevel ? FindOwnProperty(tag) : FindProperty(tag, false, true);
  if (slot == nullptr) {
    slot = &cache_[std::size(cache_) - 1];
    for (CachedLookup& c : cache_) {
      if (c.tag == 0) {
        slot = &c;
        break;
      }
    }
  }
  *slot = CachedLookup{tag, ownLevel, now, found};
  return found;
}

TMSGProperty* TMSGProperties::FindOwnProperty(uint32_t tag) const {
  if (TMSGProperty* record = FindProperty(tag, false, false))
    return record;
  for (const auto& record : items_) {
    // Only a record with records below it can be a property stream; most have none.
    if (record->subProperties_ == nullptr)
      continue;
    const bool propertyStream =
        dynamic_cast<const TMSGPropertyWithHeader*>(record.get()) != nullptr ||
        (record->TagID == 0 && record->Value.IsWide() &&
         record->Value.Wide() == u"__properties_version1.0");
    if (propertyStream) {
      if (TMSGProperty* entry = record->subProperties_->FindProperty(tag, false, false))
        return entry;
    }
  }
  return nullptr;
}

TMSGProperty* TMSGProperties::FindProperty(uint32_t tag, bool byId, bool recursive) const {
  const auto matches = [&](const TMSGProperty& record) {
    return byId ? PropId(record.TagID) == PropId(tag) : record.TagID == tag;
  };
  for (const auto& record : items_) {
    if (matches(*record))
      return record.get();
  }
  if (!recursive)
    return nullptr;
  for (const auto& record : items_) {
    const TMSGProperties& sub = std::as_const(*record).SubProperties();
    if (sub.Count() == 0)
      continue;
    if (TMSGProperty* found = sub.FindProperty(tag, byId, true))
      return found;
  }
  return nullptr;
}

std::u16string TMSGProperties::GetPropertyText(uint32_t tag, bool byId, bool recursive) const {
  const TMSGProperty* record = FindProperty(tag, byId, recursive);
  return record != nullptr ? record->GetValueText() : std::u16string();
}

bool TMSGProperties::IsRoot() const {
  if (OwnerMessage != nullptr)
    return &OwnerMessage->Properties() == this;
  // A tree built without a component: its top collection is its root.
  return ParentProperty == nullptr;
}

const TMSGProperties& TMSGProperties::Root() const {
  if (OwnerMessage != nullptr)
    return OwnerMessage->Properties();
  const TMSGProperties* level = this;
  while (level->ParentProperty != nullptr && level->ParentProperty->Collection() != nullptr)
    level = level->ParentProperty->Collection();
  return *level;
}

const TMSGProperties& TMSGProperties::MessageLevel() const {
  const TMSGProperties* level = this;
  while (level->ParentProperty != nullptr) {
    // The collection of an ATTACH_DATA_OBJ node holds an embedded message's properties.
    if (level->ParentProperty->TagID == TAG_ATTACH_DATA_OBJ)
      return *level;
    const TMSGProperties* up = level->ParentProperty->Collection();
    if (up == nullptr)
      break;
    level = up;
  }
  return *level;
}

void TMSGProperties::Clear() {
  DestroyRecords(items_);
  BodyFormat = 0;
}

void TMSGProperties::Assign(const TMSGProperties& source) {
  if (&source == this)
    return;
  // Copying a collection into one of its ancestors would destroy the source while it is read:
  // take a copy of it first.
  for (const TMSGProperties* up = &source; up->ParentProperty != nullptr;) {
    up = up->ParentProperty->Collection();
    if (up == nullptr)
      break;
    if (up == this) {
      TMSGProperties copy(OwnerMessage);
      copy.Assign(source);
      Assign(copy);
      return;
    }
  }
  // Level by level with an explicit work list, so that deep trees do not exhaust the stack.
  DestroyRecords(items_);
  std::vector<std::pair<TMSGProperties*, const TMSGProperties*>> work{{this, &source}};
  while (!work.empty()) {
    auto [target, from] = work.back();
    work.pop_back();
    for (int i = 0; i < from->Count(); ++i) {
      const TMSGProperty* src = from->Items(i);
      TMSGProperty* copy = target->Add();
      copy->TagID = src->TagID;
      copy->Value = src->Value;
      copy->DataSize = src->DataSize;
      if (src->SubProperties().Count() > 0)
        work.emplace_back(&copy->SubProperties(), &src->SubProperties());
    }
  }
}

TMSGProperty* TMSGProperties::GetAttachment(int index) const {
  if (index < 0)
    return nullptr;
  int counter = 0;
  for (const auto& record : items_) {
    if (record->Category() != mpcAttachment)
      continue;
    int here = PropId(record->TagID) == PROPID_ATTACH_DATA ? 1 : 0;
    const TMSGProperties& sub = std::as_const(*record).SubProperties();
    for (int i = 0; i < sub.Count(); ++i) {
      if (PropId(sub.Items(i)->TagID) == PROPID_ATTACH_DATA)
        ++here;
    }
    if (index < counter + here)
      return record.get();
    counter += here;
  }
  return nullptr;
}

int TMSGProperties::AttachmentCount() const {
  int count = 0;
  for (const auto& record : items_) {
    if (record->Category() != mpcAttachment)
      continue;
    if (PropId(record->TagID) == PROPID_ATTACH_DATA)
      ++count;
    const TMSGProperties& sub = std::as_const(*record).SubProperties();
    for (int i = 0; i < sub.Count(); ++i) {
      if (PropId(sub.Items(i)->TagID) == PROPID_ATTACH_DATA)
        ++count;
    }
  }
  return count;
}

// ---------------------------------------------------------------------------------------------
// TWideStrings

int TWideStrings::Add(const std::u16string& s) {
  items_.push_back(s);
  return static_cast<int>(items_.size()) - 1;
}

std::u16string TWideStrings::Get(int index) const {
  if (index < 0 || index >= Count())
    return std::u16string();
  return items_[static_cast<size_t>(index)];
}

std::u16string TWideStrings::GetText() const {
  std::u16string text;
  for (const std::u16string& s : items_) {
    text += s;
    text += u"\r\n";
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// TQvMessage

TQvMessage::TQvMessage() : properties_(std::make_unique<TMSGProperties>(this)) {}

TQvMessage::~TQvMessage() {
  properties_.reset();
  // Clear is virtual, but a derived class is already gone here: only the base step runs.
  TQvMessage::Clear();
}

void TQvMessage::Clear() {
  if (properties_ != nullptr)
    properties_->Clear();
  loadNotes_.clear();
}

void TQvMessage::AddLoadNote(std::string key, std::string_view text,
                             std::vector<std::string> args) {
  // Notes come from hostile input too (one per charset name): each once, and a few at most.
  constexpr size_t kMaxNotes = 16;
  TLoadNote note{std::move(key), std::move(args), {}};
  note.Text = FormatMessageText(text, note.Args);
  if (loadNotes_.size() < kMaxNotes &&
      std::none_of(loadNotes_.begin(), loadNotes_.end(),
                   [&](const TLoadNote& n) { return n.Text == note.Text; }))
    loadNotes_.push_back(std::move(note));
}

void TQvMessage::LoadFromStream(TStream&) {
  Clear();
}

void TQvMessage::LoadFromFileImage(const std::string&, std::string image) {
  TMemoryStream stream(std::move(image));
  LoadFromStream(stream);
}

void TQvMessage::LoadFromFile(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0)
    throw EMSGError(FormatMessageText(SFileNotFound, {fileName}));
  // Opening a pipe would wait for a writer for ever, and a device may never end.
  if (!S_ISREG(info.st_mode))
    throw EMSGError(FormatMessageText(SFileNotRegular, {fileName}));
  Clear();
}

bool TQvMessage::HasMessageFlag(uint16_t flag) const {
  const TMSGProperty* flags = properties_->FindProperty(TAG_MESSAGE_FLAGS, false, true);
  return flags != nullptr && (flags->Value.ToInt64() & flag) != 0;
}

} // namespace orlendo
