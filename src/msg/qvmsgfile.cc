#include "msg/qvmsgfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "mime/signed_content.h"
#include "mime/tnef_message.h"
#include "text/datetime.h"

namespace orlendo {

namespace {

constexpr std::u16string_view kPropertiesStream = u"__properties_version1.0";
constexpr std::u16string_view kSidePropsStream = u"Olk10SideProps_0001";
constexpr std::u16string_view kOle10NativeStream = u"\x01Ole10Native";
constexpr std::u16string_view kWorkbookStream = u"Workbook";
constexpr std::u16string_view kWordDocumentStream = u"WordDocument";
constexpr std::u16string_view kRtfCompressedName = u"10090102";
constexpr size_t kEntrySize = 16;

bool Contains(std::u16string_view name, std::u16string_view part) {
  return name.find(part) != std::u16string_view::npos;
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  return -1;
}

// The stored size of a stream as the 32-bit size the records carry.
int32_t RecordSize(uint64_t size) {
  return static_cast<int32_t>(std::min<uint64_t>(size, std::numeric_limits<int32_t>::max()));
}

uint16_t LE16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t LE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t LE64(const unsigned char* p) {
  return static_cast<uint64_t>(LE32(p)) | (static_cast<uint64_t>(LE32(p + 4)) << 32);
}
double LEDouble(const unsigned char* p) {
  const uint64_t bits = LE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
float LEFloat(const unsigned char* p) {
  const uint32_t bits = LE32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The record that receives one stream's value, after it has been opened. A stream that fails
// while being read leaves the record with what it had.
template <class Fill>
void ReadStreamInto(const cfb::Storage& parent, const cfb::EntryStat& element, Fill fill) {
  cfb::Stream stream;
  try {
    stream = parent.OpenStream(element);
  } catch (const cfb::EOleError&) {
    return;
  }
  try {
    fill(stream);
  } catch (const cfb::EOleError&) {
    // A damaged stream (a broken sector chain, say) costs only its own value.
  }
}

} // namespace

bool TagFromElementName(std::u16string_view name, uint32_t& tag) {
  if (name.empty())
    return false;
  const std::u16string_view digits = name.size() > 8 ? name.substr(name.size() - 8) : name;
  uint32_t value = 0;
  for (char16_t c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0)
      return false;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  tag = value;
  return true;
}

bool IsOleObjectStorage(const std::vector<cfb::EntryStat>& elements) {
  static constexpr std::u16string_view kSystemStreams[] = {u"\x01Ole",
                                                           u"\x01"
                                                           u"CompObj",
                                                           u"\x01Ole10Native",
                                                           u"\x02OlePres000",
                                                           u"\x03MailStream",
                                                           u"\x05SummaryInformation",
                                                           u"\x05"
                                                           u"DocumentSummaryInformation"};
  for (const cfb::EntryStat& e : elements) {
    for (std::u16string_view name : kSystemStreams) {
      if (e.name == name)
        return true;
    }
  }
  return false;
}

bool IsOleObjectStorage(const cfb::Storage& storage) {
  return IsOleObjectStorage(storage.Children());
}

std::string StorageToBytes(const cfb::Storage& storage) {
  cfb::Storage image = cfb::CreateMemory();
  storage.CopyTo(image);
  return cfb::MemoryImage(image);
}

void ReadPropertyEntries(std::string_view entries, TMSGProperties& collection) {
  const auto* data = reinterpret_cast<const unsigned char*>(entries.data());
  const size_t count = entries.size() / kEntrySize;
  collection.Reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t start = i * kEntrySize;
    const uint16_t typeCode = LE16(data + start);
    const uint16_t propId = LE16(data + start + 2);
    const uint32_t flags = LE32(data + start + 4);
    const size_t slot = start + 8;
    // The bytes from the value slot to the end: a few types read on past their slot.
    const size_t available = entries.size() - slot;
    const unsigned char* v = data + slot;

    TMSGProperty* e = collection.Add();
    e->Reserved1 = static_cast<int32_t>(flags);
    uint16_t storedType = 0x0000;
    TVariant value = TVariant::FromBytes(std::string());
    int32_t dataSize = 0;
    bool decoded = true;
    switch (typeCode) {
    case 0x0001:
      storedType = 0x0001;
      value = TVariant::Null();
      break;
    case 0x0002:
    case 0x0012:
      storedType = 0x0002;
      value = TVariant::FromInteger(static_cast<int16_t>(LE16(v)));
      dataSize = 2;
      break;
    case 0x0003:
    case 0x0013:
      storedType = 0x0003;
      value = TVariant::FromInteger(static_cast<int32_t>(LE32(v)));
      dataSize = 4;
      break;
    case 0x0004:
      storedType = 0x0005;
      value = TVariant::FromFloating(LEFloat(v));
      dataSize = 4;
      break;
    case 0x0005:
      storedType = 0x0005;
      value = TVariant::FromFloating(LEDouble(v));
      dataSize = 8;
      break;
    case 0x0006:
      storedType = 0x0006;
      value = TVariant::FromCurrency(static_cast<int64_t>(LE64(v)));
      dataSize = 8;
      break;
    case 0x0007:
      storedType = 0x0007;
      value = TVariant::FromDateTime(LEDouble(v));
      dataSize = 8;
      break;
    case 0x0008: {
      storedType = 0x001F;
      const size_t n = LE16(v);
      if (2 + n <= available) {
        value = TVariant::FromBytes(std::string(entries.substr(slot + 2, n)));
        dataSize = static_cast<int32_t>(n);
      } else {
        decoded = false;
      }
      break;
    }
    case 0x000B:
      storedType = 0x000B;
      value = TVariant::FromBoolean(v[0] != 0);
      dataSize = 1;
      break;
    case 0x000E:
      storedType = 0x0102;
      if (available >= 16) {
        value = TVariant::FromBytes(std::string(entries.substr(slot, 16)));
        dataSize = 16;
      } else {
        decoded = false;
      }
      break;
    case 0x0010:
    case 0x0011:
      storedType = 0x0002;
      value = TVariant::FromInteger(v[0]);
      dataSize = 2;
      break;
    case 0x0014:
    case 0x0015:
      storedType = 0x0014;
      value = TVariant::FromInt64(static_cast<int64_t>(LE64(v)));
      dataSize = 8;
      break;
    case 0x0019:
      storedType = 0x000A;
      value = TVariant::FromInteger(static_cast<int32_t>(LE32(v)));
      dataSize = 4;
      break;
    case 0x001E:
      storedType = 0x001E;
      value = TVariant::FromBytes(std::string(entries.substr(slot, 4)));
      dataSize = 4;
      break;
    case 0x0040:
      storedType = 0x0040;
      value = TVariant::FromDateTime(FileTimeToLocalDateTime(LE64(v)));
      dataSize = 8;
      break;
    case 0x0048:
      storedType = 0x0048;
      if (available >= 16) {
        value = TVariant::FromBytes(GuidText(v));
        dataSize = 16;
      } else {
        decoded = false;
      }
      break;
    case 0x0102:
      storedType = 0x0102;
      value = TVariant::FromBytes(std::string(entries.substr(slot, 8)));
      dataSize = 8;
      break;
    default:
      break;
    }
    e->TagID = (static_cast<uint32_t>(propId) << 16) | storedType;
    // A value that runs past the end of the stream cannot be decoded: the entry stays, with its
    // tag and flags and no value.
    if (decoded) {
      e->Value = std::move(value);
      e->DataSize = dataSize;
    }
  }
}

void TQvMSGFile::LoadFromFile(const std::string& fileName) {
  TQvMessage::LoadFromFile(fileName);
  if (!cfb::IsCompoundFile(fileName)) {
    throw EMSGError("File " + fileName + " is not valid file (compound storage)");
  }
  const cfb::Storage root = cfb::OpenFile(fileName);
  ReadStorage(root, Properties());
  // A winmail.dat holds the attachments and the rich body the sender meant.
  ExpandTnefAttachments(Properties());
  // Outlook keeps a signed message's content inside its signed attachment.
  ExpandSignedContent(Properties());
}

void TQvMSGFile::LoadFromFileImage(const std::string& fileName, std::string image) {
  Clear();
  if (!cfb::IsCompoundFile(image.data(), image.size())) {
    throw EMSGError("File " + fileName + " is not valid file (compound storage)");
  }
  const cfb::Storage root = cfb::OpenMemory(std::move(image));
  ReadStorage(root, Properties());
  ExpandTnefAttachments(Properties());
}

void TQvMSGFile::LoadFromStream(TStream& stream) {
  TQvMessage::LoadFromStream(stream);
  const int64_t start = stream.Position();
  const int64_t size = std::max<int64_t>(0, stream.Size() - start);
  std::string image(static_cast<size_t>(size), '\0');
  size_t got = 0;
  while (got < image.size()) {
    const size_t n = stream.Read(image.data() + got, image.size() - got);
    if (n == 0)
      break;
    got += n;
  }
  image.resize(got);
  const cfb::Storage root = cfb::OpenMemory(std::move(image));
  ReadStorage(root, Properties());
  ExpandTnefAttachments(Properties());
  ExpandSignedContent(Properties());
}

void TQvMSGFile::ReadStorage(const cfb::Storage& storage, TMSGProperties& collection) {
  int storageDepth = 0;
  int embeddedDepth = 0;
  for (const TMSGProperty* p = collection.ParentProperty; p != nullptr;
       p = p->Collection() != nullptr ? p->Collection()->ParentProperty : nullptr) {
    ++storageDepth;
    if (p->TagID == TAG_ATTACH_DATA_OBJ)
      ++embeddedDepth;
  }
  ReadStorageAt(storage, storage.Children(), collection, storageDepth, embeddedDepth);
}

namespace {

// __substg1.0_XXXXXXXX-NNNNNNNN: value NNNNNNNN of the variable-size multi-valued property
// XXXXXXXX.
bool MultiValueElementName(std::u16string_view name, uint32_t& tag, uint32_t& index) {
  if (name.size() < 17 || name[name.size() - 9] != u'-')
    return false;
  uint32_t t = 0;
  uint32_t i = 0;
  if (!TagFromElementName(name.substr(name.size() - 17, 8), t) ||
      !TagFromElementName(name.substr(name.size() - 8), i) ||
      !IsVariableMultiValueType(PropType(t)))
    return false;
  tag = t;
  index = i;
  return true;
}

} // namespace

void TQvMSGFile::ReadStorageAt(const cfb::Storage& storage,
                               const std::vector<cfb::EntryStat>& elements,
                               TMSGProperties& collection, int storageDepth, int embeddedDepth) {
  // The element streams of multi-valued properties join the record of their property once the
  // whole storage has been seen, whatever the order of its elements.
  struct ElementStream {
    uint32_t tag;
    uint32_t index;
    const cfb::EntryStat* element;
  };
  std::vector<ElementStream> valueStreams;
  collection.Reserve(elements.size());
  for (const cfb::EntryStat& element : elements) {
    if (element.kind == cfb::EntryKind::Storage) {
      ReadSubStorage(storage, element, collection, storageDepth, embeddedDepth);
      continue;
    }
    if (element.kind != cfb::EntryKind::Stream)
      continue;
    uint32_t tag = 0;
    uint32_t index = 0;
    if (MultiValueElementName(element.name, tag, index)) {
      valueStreams.push_back({tag, index, &element});
    } else if (TagFromElementName(element.name, tag)) {
      ReadTaggedStream(storage, element, tag, collection);
    } else if (element.name == kPropertiesStream) {
      ReadPropertyStream(storage, element, collection);
    } else if (element.name == kSidePropsStream) {
      continue;
    } else if (element.name == kOle10NativeStream || element.name == kWorkbookStream ||
               element.name == kWordDocumentStream) {
      ReadDocumentStream(storage, element, collection);
    } else {
      // Any other stream carries nothing for the tree's readers, but is part of the message.
      ReadUntaggedStream(storage, element, collection);
    }
  }
  if (valueStreams.empty())
    return;
  std::vector<std::pair<uint32_t, TMSGProperty*>> owners;
  for (int i = 0; i < collection.Count(); ++i) {
    TMSGProperty* record = collection.Items(i);
    if (record->SubProperties().Count() == 0 && IsVariableMultiValueType(PropType(record->TagID)))
      owners.emplace_back(record->TagID, record);
  }
  std::sort(owners.begin(), owners.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const ElementStream& value : valueStreams) {
    // An index beyond the number of the storage's elements cannot be real: it must not size the
    // list of values.
    if (value.index >= elements.size())
      continue;
    auto owner = std::lower_bound(owners.begin(), owners.end(), value.tag,
                                  [](const auto& a, uint32_t tag) { return a.first < tag; });
    TMSGProperty* record;
    if (owner != owners.end() && owner->first == value.tag) {
      record = owner->second;
    } else {
      // Values without their length stream still belong to one record.
      record = collection.Add();
      record->TagID = value.tag;
      owners.insert(owner, {value.tag, record});
    }
    ReadStreamInto(storage, *value.element, [&](cfb::Stream& stream) {
      AddMultiValueItem(*record, value.index,
                        value.element->size > 0 ? stream.ReadAll() : std::string());
    });
  }
}

void TQvMSGFile::ReadSubStorage(const cfb::Storage& parent, const cfb::EntryStat& element,
                                TMSGProperties& collection, int storageDepth, int embeddedDepth) {
  cfb::Storage sub;
  std::vector<cfb::EntryStat> children;
  try {
    sub = parent.OpenStorage(element);
    children = sub.Children();
  } catch (const cfb::EOleError&) {
    return;
  }

  TMSGProperty* record = collection.Add();
  std::u16string_view name = element.name;
  uint32_t tag = 0;
  if (Contains(name, u"nameid_version")) {
    record->TagID = TAG_NAMEID_NODE;
  } else if (Contains(name, u"recip_version")) {
    record->TagID = TAG_RECIPIENT_NODE;
  } else if (Contains(name, u"attach_version")) {
    record->TagID = TAG_ATTACHMENT_NODE;
  } else if (TagFromElementName(name, tag)) {
    record->TagID = tag;
    if (name.size() > 8)
      name.remove_prefix(name.size() - 8);
  }

  const bool isMessage = record->TagID == TAG_ATTACH_DATA_OBJ;
  const int childEmbeddedDepth = embeddedDepth + (isMessage ? 1 : 0);
  const bool tooDeep =
      childEmbeddedDepth > MAX_EMBEDDED_MESSAGE_DEPTH || storageDepth + 1 > MAX_STORAGE_DEPTH;
  if ((isMessage && IsOleObjectStorage(children)) || tooDeep) {
    // An OLE object is kept whole, as the compound file it is; so is whatever lies beyond the
    // nesting limits, which keeps its data without walking it.
    try {
      std::string image = StorageToBytes(sub);
      record->DataSize = RecordSize(image.size());
      record->Value = TVariant::FromBytes(std::move(image));
      return;
    } catch (const cfb::EOleError&) {
      if (tooDeep) {
        record->Value = TVariant::FromWide(std::u16string(name));
        return;
      }
      // An OLE object that cannot be copied is walked like any storage instead.
    }
  }
  record->Value = TVariant::FromWide(std::u16string(name));
  ReadStorageAt(sub, children, record->SubProperties(), storageDepth + 1, childEmbeddedDepth);
}

void TQvMSGFile::ReadTaggedStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                                  uint32_t tag, TMSGProperties& collection) {
  const std::u16string_view name = element.name;
  // The named-property map has hash-bucket streams __substg1.0_1000XXXX: bucket 9 has the name
  // of the RTF body but is not one.
  const TMSGProperty* owner = collection.ParentProperty;
  const bool inNameMap = owner != nullptr && owner->TagID == TAG_NAMEID_NODE;
  const bool isRtf =
      !inNameMap && name.size() >= 8 && name.substr(name.size() - 8) == kRtfCompressedName;
  TMSGProperty* record =
      isRtf ? collection.AddRecord<TMSGPropertyCompressedRTF>() : collection.Add();
  record->TagID = tag;
  ReadStreamInto(parent, element, [&](cfb::Stream& stream) {
    if (element.size == 0)
      return;
    TOleStream adapter(&stream);
    adapter.SetPosition(0);
    record->ReadValue(adapter, RecordSize(element.size));
  });
  // An empty stream of a multi-valued property holds no values, and is written back empty.
  if (record->Value.IsEmpty() && IsMultiValueType(PropType(tag)))
    record->Value = TVariant::FromMulti(TMultiValue{{}, std::string()});
}

void TQvMSGFile::ReadPropertyStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                                    TMSGProperties& collection) {
  const TMSGProperty* owner = collection.ParentProperty;
  TMSGProperty* record;
  size_t headerSize = 0;
  if (owner == nullptr) {
    record = collection.AddRecord<TMSGPropertyTopLevel>();
  } else if (owner->Category() == mpcRecipient) {
    record = collection.AddRecord<TMSGPropertyRecipient>();
  } else if (owner->Category() == mpcAttachment) {
    // The stream directly inside an embedded message's storage has the 24-byte header of a
    // message; the one of an attachment storage has 8 bytes, whatever the attachment holds.
    if (owner->TagID == TAG_ATTACH_DATA_OBJ) {
      record = collection.AddRecord<TMSGPropertyEmbeddedMessage>();
    } else {
      record = collection.AddRecord<TMSGPropertyAttachment>();
    }
  } else {
    record = collection.Add();
  }
  auto* withHeader = dynamic_cast<TMSGPropertyWithHeader*>(record);
  if (withHeader != nullptr)
    headerSize = withHeader->HeaderSize();
  record->TagID = 0;
  record->Value = TVariant::FromWide(std::u16string(kPropertiesStream));

  ReadStreamInto(parent, element, [&](cfb::Stream& stream) {
    if (element.size == 0)
      return;
    const std::string bytes = stream.ReadAll();
    const size_t header = std::min(headerSize, bytes.size());
    if (withHeader != nullptr)
      withHeader->Header.assign(bytes, 0, header);
    ReadPropertyEntries(std::string_view(bytes).substr(header), record->SubProperties());
  });
}

void TQvMSGFile::ReadDocumentStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                                    TMSGProperties& collection) {
  ReadStreamInto(parent, element, [&](cfb::Stream& stream) {
    if (element.size == 0)
      return;
    // The document stream of an attachment whose OLE system streams are missing is the
    // attachment's data.
    TMSGProperty* owner = collection.ParentProperty;
    TMSGProperty* record =
        (owner != nullptr && owner->TagID == TAG_ATTACH_DATA_OBJ && owner->DataSize == 0)
            ? owner
            : collection.Add();
    record->TagID = TAG_ATTACH_DATA_OBJ;
    TOleStream adapter(&stream);
    adapter.SetPosition(0);
    record->ReadValue(adapter, RecordSize(element.size));
  });
}

void TQvMSGFile::ReadUntaggedStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                                    TMSGProperties& collection) {
  auto* record = collection.AddRecord<TMSGPropertyUntaggedStream>();
  record->Name = element.name;
  record->Value = TVariant::FromBytes({});
  ReadStreamInto(parent, element, [&](cfb::Stream& stream) {
    std::string bytes = stream.ReadAll();
    record->DataSize = RecordSize(bytes.size());
    record->Value = TVariant::FromBytes(std::move(bytes));
  });
}

} // namespace orlendo
