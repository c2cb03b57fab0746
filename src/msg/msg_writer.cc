#include "msg/msg_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mime/signed_content.h"
#include "mime/tnef_message.h"
#include "model/property_types.h"
#include "model/utf8.h"
#include "msg/cfb_format.h"
#include "msg/compressed_rtf.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr char16_t kPropertiesStreamName[] = u"__properties_version1.0";
constexpr size_t kEntrySize = 16;
constexpr size_t kSlotSize = 8;

// FILETIME counts 100 ns from 1601-01-01; time_t seconds from 1970-01-01.
constexpr int64_t kFileTimeUnixEpochSeconds = 11644473600;
constexpr int64_t kMsPerDay = 86400000;

template <class T> void PutLittleEndian(uint8_t* out, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  // The host is little-endian on every platform we build for; keep the layout explicit anyway.
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < sizeof(T); ++i)
      out[i] = bytes[sizeof(T) - 1 - i];
  } else {
    std::memcpy(out, bytes, sizeof(T));
  }
}

template <class T> std::string LittleEndianBytes(T value) {
  std::string out(sizeof(T), '\0');
  PutLittleEndian(reinterpret_cast<uint8_t*>(out.data()), value);
  return out;
}

std::u16string HexTag(uint32_t tag) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", tag);
  return std::u16string(buf, buf + 8);
}

std::u16string TagStreamName(uint32_t tag) {
  return u"__substg1.0_" + HexTag(tag);
}

// The value as the byte string that the writer stores: bytes as they are, text through the
// system code page.
std::string ValueAsBytes(const TVariant& value) {
  if (value.IsBytes())
    return value.Bytes();
  if (value.HoldsUtf8())
    return std::string(value.HeldUtf8());
  if (value.IsWide())
    return WideToSystem(value.Wide());
  return value.ToUtf8();
}

// The first n bytes of the value, zero-filled when it is shorter (the reader zero-fills short
// values the same way).
std::string FirstBytes(const TVariant& value, size_t n) {
  std::string bytes = ValueAsBytes(value);
  bytes.resize(n, '\0');
  return bytes;
}

int64_t RoundToInt64(double v) {
  if (!std::isfinite(v))
    return 0;
  if (v >= 9.2233720368547748e18)
    return std::numeric_limits<int64_t>::max();
  if (v <= -9.2233720368547758e18)
    return std::numeric_limits<int64_t>::min();
  return std::llround(v);
}

int64_t IntegerOf(const TVariant& value) {
  switch (value.Kind()) {
  case VarKind::Integer:
    return value.AsInteger();
  case VarKind::Int64:
    return value.AsInt64();
  case VarKind::Boolean:
    return value.AsBoolean() ? 1 : 0;
  case VarKind::Currency:
    return value.AsCurrency();
  default:
    return value.IsString() ? value.ToInt64() : RoundToInt64(value.ToDouble());
  }
}

// PT_I8: held as an integer; other kinds (a number set by hand) rounded.
int64_t Int64Of(const TVariant& value) {
  return value.Kind() == VarKind::Int64 ? value.AsInt64() : RoundToInt64(value.ToDouble());
}

bool BooleanOf(const TVariant& value) {
  return value.Kind() == VarKind::Boolean ? value.AsBoolean() : IntegerOf(value) != 0;
}

// Ten-thousandths: the stored count of a currency value, or a plain number scaled.
int64_t CurrencyOf(const TVariant& value) {
  if (value.Kind() == VarKind::Currency)
    return value.AsCurrency();
  return RoundToInt64(value.ToDouble() * 10000.0);
}

// The stored count of the stream form of PT_CURRENCY: the reader keeps it as currency; a plain
// number stands for that count itself (not divided by 10 000).
int64_t CurrencyCountOf(const TVariant& value) {
  if (value.Kind() == VarKind::Currency)
    return value.AsCurrency();
  return RoundToInt64(value.ToDouble());
}

std::string GuidBytesOf(const TMSGProperty& record) {
  std::array<uint8_t, 16> guid{};
  const std::string text = ValueAsBytes(record.Value);
  if (!ParseGuidText(text, guid)) {
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08X", record.TagID);
    throw cfb::EOleError(cfb::STG_E_INVALIDPARAMETER, "the value of property " + std::string(tag) +
                                                          " (\"" + text.substr(0, 60) +
                                                          "\") is not a GUID");
  }
  return std::string(reinterpret_cast<const char*>(guid.data()), guid.size());
}

bool IsPropertyStreamRecord(const TMSGProperty& record) {
  if (dynamic_cast<const TMSGPropertyWithHeader*>(&record) != nullptr)
    return true;
  return record.TagID == 0 && record.Value.IsWide() && record.Value.Wide() == kPropertiesStreamName;
}

bool IsNodeTag(uint32_t tag) {
  return tag == TAG_NAMEID_NODE || tag == TAG_RECIPIENT_NODE || tag == TAG_ATTACHMENT_NODE;
}

// A childless record that the reader made from an empty storage: the storage's name is its
// value (leaves hold stream data instead; a tag-less leaf is never a stream of the reader).
bool IsEmptyStorageRecord(const TMSGProperty& record) {
  if (record.SubProperties().Count() != 0 || IsPropertyStreamRecord(record))
    return false;
  if (IsNodeTag(record.TagID))
    return true;
  const bool named = record.Value.IsWide() && !record.Value.IsEmptyString() && record.DataSize == 0;
  return named && (record.TagID == 0 || PropType(record.TagID) == 0x000D);
}

// An OLE object that the reader kept as the compound-file image of its storage.
bool IsObjectImageRecord(const TMSGProperty& record) {
  if (record.SubProperties().Count() != 0 || PropType(record.TagID) != 0x000D)
    return false;
  if (!record.Value.IsBytes() || record.DataSize <= 0)
    return false;
  const std::string& bytes = record.Value.Bytes();
  return cfb::IsCompoundFile(bytes.data(), bytes.size());
}

bool IsHexDigits(std::u16string_view text) {
  for (const char16_t c : text) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')))
      return false;
  }
  return true;
}

// A name for a storage record that carries none, unique in storage: the standard names of the
// format, numbered for recipients and attachments. ordinal is the record's position among the
// siblings of its tag when the caller knows it (it walks them in order), else -1.
std::u16string FallbackStorageName(const TMSGProperty& record, const cfb::Storage& storage,
                                   int64_t ordinal) {
  std::u16string prefix;
  if (record.TagID == TAG_NAMEID_NODE) {
    if (!storage.Exists(u"__nameid_version1.0"))
      return u"__nameid_version1.0";
    prefix = u"__nameid_version1.0_#";
  } else if (record.TagID == TAG_RECIPIENT_NODE) {
    prefix = u"__recip_version1.0_#";
  } else if (record.TagID == TAG_ATTACHMENT_NODE) {
    prefix = u"__attach_version1.0_#";
  } else {
    const std::u16string name = TagStreamName(record.TagID);
    if (!storage.Exists(name))
      return name;
    prefix = name + u"_#";
  }
  // Number by position among the siblings of the same tag; skip names already taken. Counting
  // here for every record would be quadratic in a message of a hundred thousand recipients.
  uint32_t number = ordinal >= 0 ? uint32_t(ordinal) : 0;
  const TMSGProperties* siblings = ordinal >= 0 ? nullptr : record.Collection();
  if (siblings) {
    for (int i = 0; i < siblings->Count() && siblings->Items(i) != &record; ++i) {
      if (siblings->Items(i)->TagID == record.TagID)
        ++number;
    }
  }
  while (storage.Exists(prefix + HexTag(number)))
    ++number;
  return prefix + HexTag(number);
}

// The element name of a storage record. The reader keeps a storage's name as the record's value;
// for the "__substg1.0_" storages it keeps only the eight hex digits of the tag, and the standard
// name is written back.
std::u16string StorageName(const TMSGProperty& record, const cfb::Storage& storage,
                           int64_t ordinal) {
  if (record.DataSize == 0 && !record.Value.IsEmptyOrNull()) {
    const std::u16string text =
        record.Value.IsWide() ? record.Value.Wide() : SystemToWide(ValueAsBytes(record.Value));
    // A name that a damaged file carried but the format forbids cannot be written again; the
    // record then gets the name its tag gives it.
    if (!text.empty() && text.size() <= cfb::DIR_NAME_MAX_UNITS &&
        text.find_first_of(u"/\\:!") == std::u16string::npos) {
      if (text.size() == 8 && IsHexDigits(text) && record.TagID != 0) {
        uint32_t tag = 0;
        for (const char16_t c : text) {
          tag = tag * 16 + static_cast<uint32_t>(c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
        }
        if (tag == record.TagID)
          return TagStreamName(tag);
      }
      return text;
    }
  }
  return FallbackStorageName(record, storage, ordinal);
}

// A TStream over a compound-file stream, for the RTF encoder.
class CfbWriteStream : public TStream {
public:
  explicit CfbWriteStream(cfb::Stream& stream) : stream_(stream) {}
  size_t Read(void* buffer, size_t count) override { return stream_.Read(buffer, count); }
  size_t Write(const void* buffer, size_t count) override { return stream_.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return static_cast<int64_t>(stream_.Seek(offset, static_cast<cfb::SeekOrigin>(origin)));
  }

private:
  cfb::Stream& stream_;
};

void WriteBytes(cfb::Stream& stream, std::string_view bytes) {
  if (!bytes.empty())
    stream.Write(bytes.data(), bytes.size());
}

// The type codes of the reader's entry table that keep their type (anything else is read as
// stored type 0).
bool ReaderKeepsType(uint16_t code) {
  switch (code) {
  case 0x0001:
  case 0x0002:
  case 0x0003:
  case 0x0004:
  case 0x0005:
  case 0x0006:
  case 0x0007:
  case 0x0008:
  case 0x000B:
  case 0x000E:
  case 0x0010:
  case 0x0011:
  case 0x0012:
  case 0x0013:
  case 0x0014:
  case 0x0015:
  case 0x0019:
  case 0x001E:
  case 0x0040:
  case 0x0048:
  case 0x0102:
    return true;
  default:
    return false;
  }
}

// For an entry of stored type 0: the type and the size field of the variable-length property
// of the same id among the property stream's siblings (its stream or storage), as the format
// declares them: string sizes count the terminating zero, an object storage has size
// 0xFFFFFFFF.
bool VariableLengthEntry(uint16_t propId, const TMSGProperties* siblings, uint16_t& code,
                         uint32_t& size) {
  if (siblings == nullptr)
    return false;
  for (int i = 0; i < siblings->Count(); ++i) {
    const TMSGProperty& s = *siblings->Items(i);
    const uint16_t type = PropType(s.TagID);
    if (PropId(s.TagID) != propId || type == 0 || ReaderKeepsType(type) ||
        IsPropertyStreamRecord(s)) {
      continue;
    }
    code = type;
    const auto streamSize = static_cast<uint32_t>(s.DataSize);
    if (s.SubProperties().Count() != 0 || IsEmptyStorageRecord(s) || IsObjectImageRecord(s)) {
      size = 0xFFFFFFFF;
    } else if (type == 0x001F) {
      size = streamSize + 2;
    } else {
      size = streamSize;
    }
    return true;
  }
  return false;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    PutLittleEndian(reinterpret_cast<uint8_t*>(bytes.data()) + 2 * i,
                    static_cast<uint16_t>(text[i]));
  }
  return bytes;
}

// The bytes of one value of a variable-size multi-valued property, as its element stream holds
// them.
std::string MultiItemBytes(const TVariant& item) {
  return item.IsWide() ? Utf16Bytes(item.Wide()) : ValueAsBytes(item);
}

std::string FixedMultiValueBytes(uint16_t type, const TMultiValue& values) {
  std::string out;
  for (const TVariant& v : values.Items) {
    switch (type) {
    case 0x1002:
      out += LittleEndianBytes(static_cast<int16_t>(IntegerOf(v)));
      break;
    case 0x1003:
      out += LittleEndianBytes(static_cast<int32_t>(IntegerOf(v)));
      break;
    case 0x1004:
      out += LittleEndianBytes(static_cast<float>(v.ToDouble()));
      break;
    case 0x1005:
    case 0x1007:
      out += LittleEndianBytes(v.ToDouble());
      break;
    case 0x1006:
      out += LittleEndianBytes(CurrencyCountOf(v));
      break;
    case 0x1014:
      out += LittleEndianBytes(Int64Of(v));
      break;
    case 0x1040:
      out += LittleEndianBytes(LocalDateTimeToFileTimeNow(v.ToDouble()));
      break;
    case 0x1048: {
      std::array<uint8_t, 16> guid{};
      ParseGuidText(ValueAsBytes(v), guid); // a text that is no GUID is written as zeros
      out.append(reinterpret_cast<const char*>(guid.data()), guid.size());
      break;
    }
    default:
      break;
    }
  }
  return out;
}

// The length stream of a variable-size multi-valued property: 4 bytes per string value, 8 (the
// length and a reserved word) per binary value.
std::string MultiValueLengths(uint16_t type, const TMultiValue& values) {
  std::string out;
  for (const TVariant& item : values.Items) {
    out += LittleEndianBytes(static_cast<uint32_t>(MultiItemBytes(item).size()));
    if (type == 0x1102)
      out += LittleEndianBytes(uint32_t{0});
  }
  return out;
}

// The bytes of the stream of a multi-valued property's tag: the fixed-size values, or the lengths
// of the variable-size ones. The stored bytes that the reader kept are written back as they were,
// so that values whose kind is coarser than their stored form (times, 64-bit integers) and
// lengths that say more than the values (a missing element stream) survive.
std::string MultiValueStreamBytes(uint16_t type, const TMultiValue& values) {
  if (IsVariableMultiValueType(type))
    return values.Stored ? *values.Stored : MultiValueLengths(type, values);
  if (values.Stored && DecodeFixedMultiValues(type, *values.Stored) == values.Items)
    return *values.Stored;
  return FixedMultiValueBytes(type, values);
}

} // namespace

bool ParseGuidText(const std::string& text, std::array<uint8_t, 16>& guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}')
    return false;
  std::string hex;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != '-')
        return false;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
    hex += c;
  }
  uint8_t raw[16];
  for (size_t i = 0; i < 16; ++i) {
    raw[i] = static_cast<uint8_t>(std::stoul(hex.substr(i * 2, 2), nullptr, 16));
  }
  // Data1, Data2 and Data3 are stored little-endian; Data4 byte by byte.
  guid = {raw[3], raw[2], raw[1],  raw[0],  raw[5],  raw[4],  raw[7],  raw[6],
          raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
  return true;
}

uint64_t LocalDateTimeToFileTimeNow(TDateTime localTime) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const TDateTimeParts p = SplitDateTime(localTime);
  const int64_t localMs = DaysFromCivil(p.Year, p.Month, p.Day) * kMsPerDay +
                          ((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
  const int64_t utcMs = localMs - static_cast<int64_t>(local.tm_gmtoff) * 1000;
  return static_cast<uint64_t>((utcMs + kFileTimeUnixEpochSeconds * 1000) * 10000);
}

std::array<uint8_t, 16> PropertyStreamEntry(const TMSGProperty& entry,
                                            const TMSGProperties* siblings) {
  std::array<uint8_t, kEntrySize> out{};
  uint8_t* slot = out.data() + 8;
  const uint16_t type = PropType(entry.TagID);
  const TVariant& v = entry.Value;
  uint16_t code = 0x0000;
  std::string valueBytes; // what goes into the slot, at most 8 bytes
  switch (type) {
  case 0x0001:
    code = 0x0001;
    break;
  case 0x0002:
    code = 0x0002;
    valueBytes = LittleEndianBytes(static_cast<int16_t>(IntegerOf(v)));
    break;
  case 0x0003:
    code = 0x0003;
    valueBytes = LittleEndianBytes(static_cast<int32_t>(IntegerOf(v)));
    break;
  case 0x0005:
    if (entry.DataSize == 4) {
      code = 0x0004;
      valueBytes = LittleEndianBytes(static_cast<float>(v.ToDouble()));
    } else {
      code = 0x0005;
      valueBytes = LittleEndianBytes(v.ToDouble());
    }
    break;
  case 0x0006:
    code = 0x0006;
    valueBytes = LittleEndianBytes(CurrencyOf(v));
    break;
  case 0x0007:
    code = 0x0007;
    valueBytes = LittleEndianBytes(v.ToDouble());
    break;
  case 0x000A:
    code = 0x0019;
    valueBytes = LittleEndianBytes(static_cast<int32_t>(IntegerOf(v)));
    break;
  case 0x000B:
    code = 0x000B;
    valueBytes = std::string(1, BooleanOf(v) ? '\1' : '\0');
    break;
  case 0x0014:
    code = 0x0014;
    valueBytes = LittleEndianBytes(Int64Of(v));
    break;
  case 0x001E:
    code = 0x001E;
    if (entry.DataSize >= 1) {
      valueBytes = FirstBytes(v, std::min<size_t>(static_cast<size_t>(entry.DataSize), kSlotSize));
    }
    break;
  case 0x001F: {
    // Code 0x0008: a 16-bit length, then the bytes. The reader reads them on past the slot;
    // the slot keeps the first six, the rest is the head of the next entry.
    code = 0x0008;
    if (v.IsBytes() && entry.DataSize > 0) {
      const size_t n =
          std::min<size_t>({static_cast<size_t>(entry.DataSize), v.Bytes().size(), 0xFFFF});
      valueBytes = LittleEndianBytes(static_cast<uint16_t>(n)) +
                   v.Bytes().substr(0, std::min<size_t>(n, kSlotSize - 2));
    }
    break;
  }
  case 0x0040:
    code = 0x0040;
    valueBytes = LittleEndianBytes(LocalDateTimeToFileTime(v.ToDouble()));
    break;
  case 0x0048:
    // Sixteen GUID bytes are read from the slot on into the next entry: the slot holds the
    // first eight. A value that the end of the stream cut off has nothing to write.
    code = 0x0048;
    if (entry.DataSize != 0)
      valueBytes = GuidBytesOf(entry).substr(0, kSlotSize);
    break;
  case 0x0102:
    code = entry.DataSize == 8 ? 0x0102 : 0x000E;
    // Code 0x000E reads sixteen bytes like a GUID: the first eight are in the slot.
    valueBytes = FirstBytes(v, kSlotSize);
    break;
  case 0x0000: {
    uint32_t size = 0;
    if (VariableLengthEntry(PropId(entry.TagID), siblings, code, size)) {
      valueBytes = LittleEndianBytes(size);
    }
    break;
  }
  default:
    break;
  }
  PutLittleEndian(out.data(), code);
  PutLittleEndian(out.data() + 2, PropId(entry.TagID));
  PutLittleEndian(out.data() + 4, static_cast<uint32_t>(entry.Reserved1));
  std::memcpy(slot, valueBytes.data(), std::min(valueBytes.size(), kSlotSize));
  return out;
}

std::string PropertyStreamBytes(const TMSGProperty& record) {
  std::string out;
  const TMSGProperties& entries = record.SubProperties();
  if (const auto* withHeader = dynamic_cast<const TMSGPropertyWithHeader*>(&record)) {
    std::string header = withHeader->Header;
    // A header that the stream's end cut short is kept as it was when no entry follows it.
    if (header.size() > withHeader->HeaderSize() || entries.Count() > 0) {
      header.resize(withHeader->HeaderSize(), '\0');
    }
    out = std::move(header);
  }
  out.reserve(out.size() + kEntrySize * static_cast<size_t>(entries.Count()));
  const TMSGProperties* siblings = record.Collection();
  for (int i = 0; i < entries.Count(); ++i) {
    const std::array<uint8_t, kEntrySize> entry = PropertyStreamEntry(*entries.Items(i), siblings);
    out.append(reinterpret_cast<const char*>(entry.data()), entry.size());
  }
  return out;
}

namespace {

// The UTF-16LE of a text that another tree holds, made piece by piece as the compound file
// reads it.
class Utf16FromText : public cfb::StreamSource {
public:
  Utf16FromText(const TMSGPropertyTextRef& text, uint64_t size)
      : wide_(text.Wide), utf8_(text.Utf8), utf16_(text.Utf16), size_(size) {}
  uint64_t Size() const override { return size_; }
  void Read(uint64_t offset, void* buffer, size_t count) override {
    if (offset < made_ - (pending_.size() - taken_)) {
      // Read again from an earlier place: start over.
      consumed_ = 0;
      made_ = 0;
      pending_.clear();
      taken_ = 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t at = made_ - (pending_.size() - taken_); // the offset of pending_[taken_]
    while (count > 0) {
      if (taken_ == pending_.size() && !More()) {
        std::memset(out, 0, count); // past the text: cannot happen for a size from the text
        return;
      }
      const size_t available = pending_.size() - taken_;
      if (at < offset) {
        const size_t skip = size_t(std::min<uint64_t>(available, offset - at));
        taken_ += skip;
        at += skip;
        continue;
      }
      const size_t n = std::min(available, count);
      std::memcpy(out, pending_.data() + taken_, n);
      out += n;
      count -= n;
      taken_ += n;
      at += n;
    }
  }

private:
  // Converts the next piece of the text into pending_.
  bool More() {
    constexpr size_t kPiece = size_t{1} << 16;
    std::u16string converted;
    std::u16string_view text;
    if (wide_) {
      if (consumed_ >= utf16_.size())
        return false;
      text = utf16_.substr(consumed_, kPiece);
      consumed_ += text.size();
    } else {
      if (consumed_ >= utf8_.size())
        return false;
      size_t cut = std::min(utf8_.size(), consumed_ + kPiece);
      while (cut < utf8_.size() && (static_cast<unsigned char>(utf8_[cut]) & 0xC0) == 0x80)
        --cut;
      converted = SystemToWide(utf8_.substr(consumed_, cut - consumed_));
      text = converted;
      consumed_ = cut;
    }
    pending_.resize(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i)
      PutLittleEndian(pending_.data() + 2 * i, static_cast<uint16_t>(text[i]));
    taken_ = 0;
    made_ += pending_.size();
    return true;
  }

  bool wide_;
  std::string_view utf8_;
  std::u16string_view utf16_;
  uint64_t size_;
  size_t consumed_ = 0; // units of the text converted
  uint64_t made_ = 0;   // bytes made so far, pending_ included
  std::vector<uint8_t> pending_;
  size_t taken_ = 0;
};

} // namespace

std::optional<std::string_view> StoredStringBytes(const TMSGProperty& record,
                                                  std::string& scratch) {
  scratch.clear();
  const uint16_t type = PropType(record.TagID);
  const bool narrow = type == 0x001E || type == 0x101E || type == 0x8008 || type == 0x8013;
  if ((!narrow && type != 0x001F && type != 0x101F) || record.Value.IsMulti() ||
      dynamic_cast<const TMSGPropertyTextRef*>(&record) != nullptr ||
      dynamic_cast<const TMSGPropertyCompressedRTF*>(&record) != nullptr)
    return std::nullopt;
  const TVariant& v = record.Value;
  if (record.DataSize == 0)
    return std::string_view();
  if (narrow) {
    if (v.IsBytes())
      return std::string_view(v.Bytes());
    if (v.HoldsUtf8())
      return v.HeldUtf8(); // the UTF-8 is the system code page's text
    scratch = ValueAsBytes(v);
    return std::string_view(scratch);
  }
  // UTF-16LE, made from the value's own units where it has them.
  const auto append = [&scratch](std::u16string_view text) {
    const size_t at = scratch.size();
    scratch.resize(at + text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i)
      PutLittleEndian(reinterpret_cast<uint8_t*>(scratch.data()) + at + 2 * i,
                      static_cast<uint16_t>(text[i]));
  };
  if (v.HoldsUtf8()) {
    // Widened a piece at a time, each piece cut between two characters.
    const std::string_view utf8 = v.HeldUtf8();
    scratch.reserve(utf8::Utf16Length(utf8) * 2);
    for (size_t from = 0; from < utf8.size();) {
      size_t to = std::min(utf8.size(), from + (size_t{1} << 16));
      while (to < utf8.size() && (static_cast<unsigned char>(utf8[to]) & 0xC0) == 0x80)
        ++to;
      append(SystemToWide(utf8.substr(from, to - from)));
      from = to;
    }
  } else if (v.IsWide()) {
    append(v.Wide());
  } else {
    append(v.ToWide());
  }
  return std::string_view(scratch);
}

void WriteValue(const TMSGProperty& record, cfb::Stream& stream) {
  if (const auto* text = dynamic_cast<const TMSGPropertyTextRef*>(&record)) {
    if (record.DataSize > 0)
      stream.SetSource(
          std::make_shared<Utf16FromText>(*text, static_cast<uint64_t>(record.DataSize)));
    return;
  }
  if (record.Value.IsMulti()) {
    WriteBytes(stream, MultiValueStreamBytes(PropType(record.TagID), record.Value.Multi()));
    return;
  }
  if (record.DataSize == 0)
    return;
  if (const auto* rtf = dynamic_cast<const TMSGPropertyCompressedRTF*>(&record)) {
    CfbWriteStream target(stream);
    EncodeRTFForSave(*rtf, &target);
    return;
  }
  const TVariant& v = record.Value;
  const auto dataSize = static_cast<size_t>(std::max(record.DataSize, 0));
  switch (PropType(record.TagID)) {
  case 0x0002:
    WriteBytes(stream, LittleEndianBytes(static_cast<int16_t>(IntegerOf(v))));
    break;
  case 0x0003:
  case 0x000A:
    WriteBytes(stream, LittleEndianBytes(static_cast<int32_t>(IntegerOf(v))));
    break;
  case 0x0004:
    WriteBytes(stream, LittleEndianBytes(static_cast<float>(v.ToDouble())));
    break;
  case 0x0005:
  case 0x0007:
    WriteBytes(stream, LittleEndianBytes(v.ToDouble()));
    break;
  case 0x0006:
    WriteBytes(stream, LittleEndianBytes(CurrencyCountOf(v)));
    break;
  case 0x000B:
    WriteBytes(stream, LittleEndianBytes(static_cast<uint16_t>(BooleanOf(v) ? 1 : 0)));
    break;
  case 0x0014:
    WriteBytes(stream, LittleEndianBytes(Int64Of(v)));
    break;
  case 0x000D:
  case 0x0102:
    if (v.IsBytes() && v.Bytes().size() >= dataSize) {
      stream.Write(v.Bytes().data(), dataSize); // no copy: attachment data can be large
    } else {
      WriteBytes(stream, FirstBytes(v, dataSize));
    }
    break;
  case 0x001E:
  case 0x101E:
  case 0x8008:
  case 0x8013:
  case 0x001F:
  case 0x101F: {
    std::string scratch;
    WriteBytes(stream, StoredStringBytes(record, scratch).value_or(std::string_view()));
    break;
  }
  case 0x0040:
    WriteBytes(stream, LittleEndianBytes(LocalDateTimeToFileTimeNow(v.ToDouble())));
    break;
  case 0x0048:
    WriteBytes(stream, GuidBytesOf(record));
    break;
  default:
    // Types the reader does not decode keep their raw bytes, when it kept them.
    if (v.IsBytes())
      stream.Write(v.Bytes().data(), std::min(dataSize, v.Bytes().size()));
    break;
  }
}

namespace {

// A multi-valued property: the stream of its tag, and for the variable-size types one element
// stream per value (__substg1.0_XXXXXXXX-NNNNNNNN).
void WriteMultiValue(uint32_t tag, const TMultiValue& values, cfb::Storage& storage) {
  const std::u16string name = TagStreamName(tag);
  cfb::Stream stream = storage.CreateStream(name);
  WriteBytes(stream, MultiValueStreamBytes(PropType(tag), values));
  if (!IsVariableMultiValueType(PropType(tag)))
    return;
  for (size_t i = 0; i < values.Items.size(); ++i) {
    if (values.Items[i].IsEmpty())
      continue; // the file read had no stream for this value
    char index[10];
    std::snprintf(index, sizeof index, "-%08X", static_cast<unsigned>(i));
    cfb::Stream element = storage.CreateStream(name + std::u16string(index, index + 9));
    WriteBytes(element, MultiItemBytes(values.Items[i]));
  }
}

// The position of each child among the earlier siblings of its tag, for the loops that write a
// collection in order.
class SiblingOrdinals {
public:
  int64_t Next(const TMSGProperty& record) { return counts_[record.TagID]++; }

private:
  std::unordered_map<uint32_t, int64_t> counts_;
};

void WriteChildren(const TMSGProperties& children, cfb::Storage& storage, size_t headerSize,
                   bool tnef);

bool IsNamedStorage(const TMSGProperty& record) {
  return record.DataSize == 0 && record.Value.IsWide() && !record.Value.IsEmptyString();
}

// A fixed-size property held as a record of its own: the TNEF reader fills levels so.
bool IsLooseFixedValue(const TMSGProperty& record) {
  return record.TagID != 0 && !IsNodeTag(record.TagID) && IsFixedSizeType(PropType(record.TagID)) &&
         record.SubProperties().Count() == 0 && !IsPropertyStreamRecord(record);
}

// The header length of the property stream that the storage of record needs (root for the
// message's own storage), when record has none: the levels that a TNEF stream filled. 0 when it
// has one or needs none.
size_t MissingStreamHeader(const TMSGProperty* record, const TMSGProperties& children) {
  for (int i = 0; i < children.Count(); ++i)
    if (IsPropertyStreamRecord(*children.Items(i)))
      return 0;
  // An OLE object's storage holds no property stream; a message always does.
  const bool message = children.FindProperty(0x001A0000, true, false) != nullptr;
  if (record == nullptr)
    return 32;
  if (record->TagID == TAG_ATTACH_DATA_OBJ)
    return message ? 24 : 0;
  if (record->TagID == TAG_ATTACHMENT_NODE || record->TagID == TAG_RECIPIENT_NODE)
    return 8;
  return 0;
}

// The entry of a property held as a record of its own in siblings.
std::array<uint8_t, kEntrySize> LooseEntry(const TMSGProperty& record,
                                           const TMSGProperties& siblings) {
  TMSGProperty entry(nullptr);
  entry.Value = record.Value;
  entry.DataSize = record.DataSize;
  // Readable and writable, as a mail program stores what it received.
  entry.Reserved1 = record.Reserved1 != 0 ? record.Reserved1 : 6;
  // A variable-size value is found by its id among the siblings, whose stream gives its size.
  entry.TagID = IsFixedSizeType(PropType(record.TagID)) ? record.TagID : record.TagID & 0xFFFF0000;
  if (PropType(entry.TagID) == 0x0004) { // the entry of a float is a PT_DOUBLE of four bytes
    entry.TagID = (entry.TagID & 0xFFFF0000) | 0x0005;
    entry.DataSize = 4;
  }
  return PropertyStreamEntry(entry, &siblings);
}

void AppendEntry(std::string& out, const std::array<uint8_t, kEntrySize>& entry) {
  out.append(reinterpret_cast<const char*>(entry.data()), entry.size());
}

// The numbers of a message header: next recipient id, next attachment id, and the counts.
void PutHeaderCounts(std::string& header, uint32_t recipients, uint32_t attachments) {
  if (header.size() < 24)
    return;
  for (const auto& [at, value] : {std::pair{8, recipients}, std::pair{12, attachments},
                                  std::pair{16, recipients}, std::pair{20, attachments}})
    PutLittleEndian(reinterpret_cast<uint8_t*>(header.data()) + at, value);
}

void WriteStorageAt(const TMSGProperty& record, cfb::Storage& storage, int64_t ordinal,
                    const std::u16string* name = nullptr, bool tnef = false) {
  if (IsPropertyStreamRecord(record)) {
    cfb::Stream stream = storage.CreateStream(kPropertiesStreamName);
    WriteBytes(stream, PropertyStreamBytes(record));
    return;
  }
  if (IsObjectImageRecord(record)) {
    const cfb::Storage image = cfb::OpenMemory(record.Value.Bytes());
    cfb::Storage target = storage.CreateStorage(TagStreamName(record.TagID));
    image.CopyTo(target);
    target.SetClsid(image.Stat().clsid);
    return;
  }
  const TMSGProperties& children = record.SubProperties();
  // A signed message goes out as it came: the signed attachment with its own data, without the
  // files that were read out of it.
  if (IsSignedHolder(record)) {
    SiblingOrdinals ordinals;
    for (int i = 0; i < children.Count(); ++i)
      WriteStorageAt(*children.Items(i), storage, ordinals.Next(*children.Items(i)));
    return;
  }
  if (record.TagID == TAG_ATTACHMENT_NODE &&
      children.FindProperty(TAG_UNPACKED_ATTACHMENT, false, false) != nullptr)
    return;
  if (children.Count() != 0 || IsEmptyStorageRecord(record)) {
    cfb::Storage sub =
        storage.CreateStorage(name != nullptr ? *name : StorageName(record, storage, ordinal));
    WriteChildren(children, sub, tnef ? MissingStreamHeader(&record, children) : 0, tnef);
    return;
  }
  if (const auto* untagged = dynamic_cast<const TMSGPropertyUntaggedStream*>(&record)) {
    // Kept under the name it had; a name that a damaged file carried but the format forbids
    // cannot be written again.
    const std::u16string& name = untagged->Name;
    if (!name.empty() && name.size() <= cfb::DIR_NAME_MAX_UNITS &&
        name.find_first_of(u"/\\:!") == std::u16string::npos && !storage.Exists(name)) {
      cfb::Stream stream = storage.CreateStream(name);
      WriteBytes(stream, record.Value.Bytes());
    }
    return;
  }
  if (record.TagID == 0)
    return;
  if (record.Value.IsMulti()) {
    WriteMultiValue(record.TagID, record.Value.Multi(), storage);
    return;
  }
  if (IsVariableMultiValueType(PropType(record.TagID)) && !record.Value.IsEmptyOrNull()) {
    // A single text under a multi-valued tag (the Internet reader keeps some headers so) is
    // written as the one value of that property, in the form the format gives such values.
    WriteMultiValue(record.TagID, TMultiValue{{record.Value}, std::nullopt}, storage);
    return;
  }
  cfb::Stream stream = storage.CreateStream(TagStreamName(record.TagID));
  WriteValue(record, stream);
}

} // namespace

void WriteStorage(const TMSGProperty& record, cfb::Storage& storage) {
  WriteStorageAt(record, storage, -1);
}

namespace {

// Writes the records of one storage. A winmail.dat whose files the reader unpacked is left out:
// the files stand in the level as attachments of their own, and these, named or not, are then
// numbered in their order. A level that a TNEF stream filled gets the property stream it lacks
// (headerSize the length of its header, 0 when it has one), which holds its fixed-size values.
void WriteChildren(const TMSGProperties& children, cfb::Storage& storage, size_t headerSize,
                   bool tnef) {
  for (int i = 0; i < children.Count() && !tnef; ++i)
    tnef = children.Items(i)->TagID == TAG_ATTACHMENT_NODE &&
           (IsUnpackedTnef(*children.Items(i)) || IsTnefAttachment(*children.Items(i)));
  bool renumber = false;
  uint32_t recipients = 0, attachments = 0;
  for (int i = 0; i < children.Count(); ++i) {
    const TMSGProperty& child = *children.Items(i);
    if (child.TagID == TAG_ATTACHMENT_NODE) {
      if (IsUnpackedTnef(child)) {
        renumber = true;
        continue;
      }
      renumber = renumber || (tnef && !IsNamedStorage(child));
      ++attachments;
    } else if (child.TagID == TAG_RECIPIENT_NODE) {
      renumber = renumber || (tnef && !IsNamedStorage(child));
      ++recipients;
    }
  }
  // The entries of the loose values, for the property stream that holds them.
  std::unordered_set<uint16_t> held;
  for (int i = 0; i < children.Count(); ++i) {
    const TMSGProperty& child = *children.Items(i);
    if (IsPropertyStreamRecord(child)) {
      for (int j = 0; j < child.SubProperties().Count(); ++j)
        held.insert(PropId(child.SubProperties().Items(j)->TagID));
    }
  }
  std::string looseEntries;
  for (int i = 0; i < children.Count(); ++i) {
    const TMSGProperty& child = *children.Items(i);
    if (headerSize == 0)
      break;
    const bool loose = IsLooseFixedValue(child);
    const bool variable = child.TagID != 0 && !IsNodeTag(child.TagID) && !loose &&
                          !IsPropertyStreamRecord(child) && PropType(child.TagID) != 0 &&
                          !IsEmptyStorageRecord(child);
    if ((loose || variable) && held.insert(PropId(child.TagID)).second)
      AppendEntry(looseEntries, LooseEntry(child, children));
  }

  SiblingOrdinals ordinals;
  uint32_t recipientNumber = 0, attachmentNumber = 0;
  for (int i = 0; i < children.Count(); ++i) {
    const TMSGProperty& child = *children.Items(i);
    const int64_t ordinal = ordinals.Next(child);
    if (headerSize > 0 && IsLooseFixedValue(child))
      continue;
    if (child.TagID == TAG_ATTACHMENT_NODE && IsUnpackedTnef(child))
      continue;
    if (renumber && (child.TagID == TAG_ATTACHMENT_NODE || child.TagID == TAG_RECIPIENT_NODE)) {
      const bool attachment = child.TagID == TAG_ATTACHMENT_NODE;
      const std::u16string name =
          (attachment ? u"__attach_version1.0_#" : u"__recip_version1.0_#") +
          HexTag(attachment ? attachmentNumber++ : recipientNumber++);
      WriteStorageAt(child, storage, ordinal, &name, tnef);
      continue;
    }
    if (IsPropertyStreamRecord(child) && renumber) {
      std::string bytes = PropertyStreamBytes(child);
      const auto* withHeader = dynamic_cast<const TMSGPropertyWithHeader*>(&child);
      if (withHeader != nullptr && withHeader->HeaderSize() >= 24)
        PutHeaderCounts(bytes, recipients, attachments);
      cfb::Stream stream = storage.CreateStream(kPropertiesStreamName);
      WriteBytes(stream, bytes);
      continue;
    }
    WriteStorageAt(child, storage, ordinal, nullptr, tnef);
  }
  if (headerSize > 0) {
    std::string bytes(headerSize, '\0');
    PutHeaderCounts(bytes, recipients, attachments);
    bytes += looseEntries;
    cfb::Stream stream = storage.CreateStream(kPropertiesStreamName);
    WriteBytes(stream, bytes);
  }
}

} // namespace

void WriteCollection(const TMSGProperties& collection, cfb::Storage& storage, bool full) {
  if (full) {
    // A message of a TNEF stream of its own has none of the property streams of the format.
    const bool tnef = dynamic_cast<const TQvTNEFFile*>(collection.OwnerMessage) != nullptr;
    WriteChildren(collection, storage, tnef ? MissingStreamHeader(nullptr, collection) : 0, tnef);
    return;
  }
  for (const uint32_t tag : kPartialSaveTags) {
    if (const TMSGProperty* record = collection.FindProperty(tag, false, false)) {
      WriteStorage(*record, storage);
    }
  }
}

std::string SaveToMSGImage(const TMSGProperties& collection, bool full) {
  cfb::Storage root = cfb::CreateMemory();
  WriteCollection(collection, root, full);
  return cfb::MemoryImage(root);
}

void SaveToMSG(const TMSGProperties& collection, const std::string& fileName, bool full) {
  // A unique name beside the target, so that the rename cannot cross file systems.
  std::string tempName = fileName + ".XXXXXX";
  const int fd = mkstemp(tempName.data());
  if (fd < 0) {
    const int error = errno;
    throw cfb::EOleError(error == ENOENT ? cfb::STG_E_PATHNOTFOUND : cfb::STG_E_ACCESSDENIED,
                         "cannot create " + fileName + ": " + std::strerror(error));
  }
  // mkstemp makes the file private; a saved message gets the mode of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  try {
    cfb::Storage root = cfb::CreateFile(tempName);
    WriteCollection(collection, root, full);
    cfb::Commit(root);
  } catch (...) {
    std::remove(tempName.c_str());
    throw;
  }
  if (std::rename(tempName.c_str(), fileName.c_str()) != 0) {
    const int error = errno;
    std::remove(tempName.c_str());
    throw cfb::EOleError(cfb::STG_E_ACCESSDENIED,
                         "cannot replace " + fileName + ": " + std::strerror(error));
  }
}

void TQvMessage::SaveToMSG(const std::string& fileName, bool full) const {
  orlendo::SaveToMSG(Properties(), fileName, full);
}

} // namespace orlendo
