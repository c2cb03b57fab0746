// The .msg writer: the property-stream entry table against the reader, the shapes of storages
// and streams, and round trips of every corpus message through our reader, olefile and
// msgconvert.
#include "msg/msg_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <typeinfo>

#include "msg/compressed_rtf.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Sets TZ for one test (and restores it), so that date conversions meet daylight saving.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ"))
      old_ = old, hadOld_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

private:
  std::string old_;
  bool hadOld_ = false;
};

bool SameValue(const TVariant& a, const TVariant& b) {
  if (a.Kind() != b.Kind())
    return false;
  if (a == b)
    return true;
  // NaN compares unequal to itself; the same bits are the same value.
  if (a.Kind() == VarKind::Floating || a.Kind() == VarKind::DateTime) {
    const double x = a.ToDouble(), y = b.ToDouble();
    return std::memcmp(&x, &y, sizeof x) == 0;
  }
  return false;
}

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

// Records whose stream content the reader does not keep (types it does not decode): their value
// is empty while DataSize is the stream's size, so nothing can be written back for them.
bool ValueLostByReader(const TMSGProperty& r) {
  return r.SubProperties().Count() == 0 && r.Value.IsBytes() && r.Value.Bytes().empty() &&
         r.DataSize > 0 && dynamic_cast<const TMSGPropertyWithHeader*>(&r) == nullptr &&
         r.Collection() != nullptr &&
         dynamic_cast<const TMSGPropertyWithHeader*>(r.Collection()->ParentProperty) == nullptr;
}

// A leaf without a property id: a stream whose name ends in a tag the reader takes as it stands,
// such as __substg1.0_0037001F-00000003 (no value of a multi-valued property). Index 0 gives tag
// 0 (not written), and streams with the same ending share one name.
bool NotWritable(const TMSGProperty& r) {
  return PropId(r.TagID) == 0 && r.SubProperties().Count() == 0 &&
         dynamic_cast<const TMSGPropertyWithHeader*>(&r) == nullptr &&
         !(r.Value.IsWide() && !r.Value.Wide().empty());
}

// The records of a level that a written file can hold, in a stable order by tag: the reader
// appends records in the order of the names in the directory, and a stream with a non-standard
// name comes back under the standard one, elsewhere in that order.
std::vector<const TMSGProperty*> Comparable(const TMSGProperties& level, int& lost) {
  std::vector<const TMSGProperty*> records;
  for (int i = 0; i < level.Count(); ++i) {
    if (NotWritable(*level.Items(i))) {
      ++lost;
    } else {
      records.push_back(level.Items(i));
    }
  }
  std::stable_sort(
      records.begin(), records.end(),
      [](const TMSGProperty* x, const TMSGProperty* y) { return x->TagID < y->TagID; });
  return records;
}

// Compares two trees record by record; differences go to diffs (at most 20). lost counts the
// records of a whose value the reader had already lost.
void CompareTrees(const TMSGProperties& a, const TMSGProperties& b, const std::string& where,
                  std::vector<std::string>& diffs, int& lost) {
  int ignored = 0;
  const std::vector<const TMSGProperty*> ra_ = Comparable(a, lost);
  const std::vector<const TMSGProperty*> rb_ = Comparable(b, ignored);
  if (ra_.size() != rb_.size()) {
    diffs.push_back(where + ": " + std::to_string(ra_.size()) + " records, written back " +
                    std::to_string(rb_.size()));
    return;
  }
  for (size_t i = 0; i < ra_.size() && diffs.size() < 20; ++i) {
    const TMSGProperty& ra = *ra_[i];
    const TMSGProperty& rb = *rb_[i];
    const std::string at = where + "/" + std::to_string(i) + ":" + Hex8(ra.TagID);
    if (typeid(ra) != typeid(rb))
      diffs.push_back(at + ": record class differs");
    if (ra.TagID != rb.TagID)
      diffs.push_back(at + ": tag " + Hex8(rb.TagID));
    if (ra.Reserved1 != rb.Reserved1)
      diffs.push_back(at + ": Reserved1 differs");
    // A stored RTF is written uncompressed: its text stays, and its size is then twice the text's
    // length (an RTF whose header claimed more than its data held comes back smaller).
    const bool rtf = dynamic_cast<const TMSGPropertyCompressedRTF*>(&ra) != nullptr;
    const int32_t expectedSize = rtf && ra.Value.IsBytes() && !ra.Value.Bytes().empty()
                                     ? static_cast<int32_t>(2 * ra.Value.Bytes().size())
                                     : ra.DataSize;
    if (ValueLostByReader(ra)) {
      ++lost;
    } else {
      if (!SameValue(ra.Value, rb.Value)) {
        diffs.push_back(at + ": value '" + ra.Value.ToUtf8().substr(0, 40) + "' became '" +
                        rb.Value.ToUtf8().substr(0, 40) + "'");
      }
      if (expectedSize != rb.DataSize) {
        diffs.push_back(at + ": DataSize " + std::to_string(ra.DataSize) + " became " +
                        std::to_string(rb.DataSize));
      }
    }
    const auto* ha = dynamic_cast<const TMSGPropertyWithHeader*>(&ra);
    const auto* hb = dynamic_cast<const TMSGPropertyWithHeader*>(&rb);
    if (ha != nullptr && hb != nullptr && ha->Header != hb->Header) {
      diffs.push_back(at + ": header differs");
    }
    CompareTrees(ra.SubProperties(), rb.SubProperties(), at, diffs, lost);
  }
}

std::vector<std::string> CompoundCorpusMessages() {
  std::vector<std::string> files;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    if (cfb::IsCompoundFile(path))
      files.push_back(path);
  }
  return files;
}

// A message level with a top-level property stream, built by hand.
struct BuiltMessage {
  TQvMSGFile message;
  TMSGPropertyTopLevel* stream = nullptr;

  BuiltMessage() {
    stream = message.Properties().AddRecord<TMSGPropertyTopLevel>();
    stream->Value = TVariant::FromWide(u"__properties_version1.0");
    stream->Header = std::string(32, '\0');
    stream->Header[8] = 3; // next recipient id, say: any bytes must come back
  }
  TMSGProperty* Entry(uint32_t tag, TVariant value, int32_t dataSize, int32_t flags = 6) {
    TMSGProperty* e = stream->SubProperties().Add();
    e->TagID = tag;
    e->Value = std::move(value);
    e->DataSize = dataSize;
    e->Reserved1 = flags;
    return e;
  }
  TMSGProperty* Leaf(uint32_t tag, TVariant value, int32_t dataSize) {
    TMSGProperty* r = message.Properties().Add();
    r->TagID = tag;
    r->Value = std::move(value);
    r->DataSize = dataSize;
    return r;
  }
};

// Writes the collection to memory and reads it back with our reader.
std::unique_ptr<TQvMSGFile> WriteAndRead(const TMSGProperties& collection, bool full = true) {
  TMemoryStream image(SaveToMSGImage(collection, full));
  auto back = std::make_unique<TQvMSGFile>();
  back->LoadFromStream(image);
  return back;
}

// ---------------------------------------------------------------------------------------------
// The property-stream entry table.

TEST(MsgWriterEntries, EveryStoredTypeReadsBackAsWritten) {
  ScopedTimeZone zone("Europe/Berlin");
  BuiltMessage m;
  m.Entry(0x00010001, TVariant::Null(), 0);
  m.Entry(0x00020002, TVariant::FromInteger(-2), 2);
  m.Entry(0x00030003, TVariant::FromInteger(-123456789), 4);
  m.Entry(0x00040005, TVariant::FromFloating(1.5), 4); // written as a 32-bit float
  m.Entry(0x00050005, TVariant::FromFloating(0.1), 8); // as a double
  m.Entry(0x00060006, TVariant::FromCurrency(-1234567), 8);
  m.Entry(0x00070007, TVariant::FromDateTime(45000.25), 8);
  m.Entry(0x0008000A, TVariant::FromInteger(static_cast<int32_t>(0x80040111)), 4);
  m.Entry(0x0009000B, TVariant::FromBoolean(true), 1);
  m.Entry(0x000A000B, TVariant::FromBoolean(false), 1);
  m.Entry(0x000B0014, TVariant::FromInt64(-9007199254740991), 8);
  m.Entry(0x000C001E, TVariant::FromBytes(std::string("\x05\0\0\0", 4)), 4);
  // Winter and summer: the rules of each date apply, whatever the offset today.
  m.Entry(0x000D0040, TVariant::FromDateTime(JoinDateTime({2021, 1, 15, 10, 20, 30, 456})), 8);
  m.Entry(0x000E0040, TVariant::FromDateTime(JoinDateTime({2021, 7, 15, 10, 20, 30, 789})), 8);
  m.Entry(0x000F0102, TVariant::FromBytes(std::string("\x10\0\0\0\x01\x02\x03\x04", 8)), 8);
  m.Entry(0x0010001F, TVariant::FromBytes("abcd"), 4); // the reader's code 0x0008
  m.Entry(0x00110102, TVariant::FromBytes(std::string(8, '\0')), 8);

  const std::string bytes = PropertyStreamBytes(*m.stream);
  ASSERT_EQ(bytes.size(), 32 + 16u * static_cast<size_t>(m.stream->SubProperties().Count()));
  EXPECT_EQ(bytes.substr(0, 32), m.stream->Header);

  TQvMSGFile back;
  ReadPropertyEntries(std::string_view(bytes).substr(32), back.Properties());
  std::vector<std::string> diffs;
  int lost = 0;
  CompareTrees(m.stream->SubProperties(), back.Properties(), "entries", diffs, lost);
  EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);

  // The codes that the reader folds are written back unfolded.
  const auto codeAt = [&](int index) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[32 + 16 * index]) |
                                 static_cast<uint8_t>(bytes[33 + 16 * index]) << 8);
  };
  EXPECT_EQ(codeAt(3), 0x0004);
  EXPECT_EQ(codeAt(4), 0x0005);
  EXPECT_EQ(codeAt(7), 0x0019);
  EXPECT_EQ(codeAt(15), 0x0008);
}

TEST(MsgWriterEntries, ValuesReadPastTheirSlotComeBackFromAFileImage) {
  // As a file stores them: a GUID or 16-byte binary entry whose value runs on into the head of
  // the next entry, and one at the end of the stream.
  std::string entries;
  const auto entry = [&](uint16_t code, uint16_t id, uint32_t flags, const std::string& slot) {
    std::string e(16, '\0');
    std::memcpy(e.data(), &code, 2);
    std::memcpy(e.data() + 2, &id, 2);
    std::memcpy(e.data() + 4, &flags, 4);
    std::memcpy(e.data() + 8, slot.data(), std::min<size_t>(8, slot.size()));
    entries += e;
  };
  entry(0x0048, 0x8001, 2, "\x01\x02\x03\x04\x05\x06\x07\x08");
  entry(0x0003, 0x8002, 2, "\x2A");
  entry(0x000E, 0x8003, 6, "ABCDEFGH");
  entry(0x0008, 0x8004, 6, std::string("\x0A\0xyzuvw", 8)); // ten bytes, four of them beyond
  entry(0x0003, 0x8005, 0x01020304, "\x07");
  entry(0x0048, 0x8006, 2, "\xFF\xEE\xDD\xCC\xBB\xAA\x99\x88"); // cut short by the end

  TQvMSGFile first;
  ReadPropertyEntries(entries, first.Properties());
  std::string written;
  for (int i = 0; i < first.Properties().Count(); ++i) {
    const auto e = PropertyStreamEntry(*first.Properties().Items(i), nullptr);
    written.append(reinterpret_cast<const char*>(e.data()), e.size());
  }
  // The file's bytes come back, except the slot of the GUID whose value the end cut off.
  EXPECT_EQ(written.substr(0, 80), entries.substr(0, 80));
  EXPECT_EQ(written.substr(80, 8), entries.substr(80, 8));

  TQvMSGFile second;
  ReadPropertyEntries(written, second.Properties());
  std::vector<std::string> diffs;
  int lost = 0;
  CompareTrees(first.Properties(), second.Properties(), "entries", diffs, lost);
  EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);
}

TEST(MsgWriterEntries, UndecodedEntriesKeepTheTypeOfTheirStream) {
  BuiltMessage m;
  // The reader keeps entries of variable-length types as stored type 0; their streams are
  // siblings of the property stream.
  m.Entry(0x00370000, TVariant::FromBytes(""), 0, 6);
  m.Entry(0x37010000, TVariant::FromBytes(""), 0, 7);
  m.Entry(0x80090000, TVariant::FromBytes(""), 0, 2); // no stream: stays code 0
  m.Leaf(0x0037001F, TVariant::FromWide(u"Hello"), 10);
  TMSGProperty* object = m.Leaf(0x3701000D, TVariant::FromWide(u"3701000D"), 0);
  object->SubProperties().Add()->TagID = 0x0037001F;

  const std::string bytes = PropertyStreamBytes(*m.stream);
  uint16_t code;
  uint32_t size;
  std::memcpy(&code, bytes.data() + 32, 2);
  std::memcpy(&size, bytes.data() + 40, 4);
  EXPECT_EQ(code, 0x001F);
  EXPECT_EQ(size, 12u); // the characters and the terminating zero
  std::memcpy(&code, bytes.data() + 48, 2);
  std::memcpy(&size, bytes.data() + 56, 4);
  EXPECT_EQ(code, 0x000D);
  EXPECT_EQ(size, 0xFFFFFFFFu); // an object storage
  std::memcpy(&code, bytes.data() + 64, 2);
  EXPECT_EQ(code, 0x0000);
  // ... and the reader still reads them as stored type 0 with their flags.
  TQvMSGFile back;
  ReadPropertyEntries(std::string_view(bytes).substr(32), back.Properties());
  ASSERT_EQ(back.Properties().Count(), 3);
  EXPECT_EQ(back.Properties().Items(0)->TagID, 0x00370000u);
  EXPECT_EQ(back.Properties().Items(1)->Reserved1, 7);
}

TEST(MsgWriterEntries, HeadersAreWrittenAtTheLengthOfTheirClass) {
  TQvMSGFile message;
  TMSGProperties& root = message.Properties();
  auto* recipient = root.AddRecord<TMSGPropertyRecipient>();
  recipient->Header = "0123456789"; // too long: cut to the class's 8 bytes
  recipient->SubProperties().Add()->TagID = 0x0C150003;
  auto* attachment = root.AddRecord<TMSGPropertyAttachment>();
  attachment->Header = "abc"; // short, with an entry after it: padded
  attachment->SubProperties().Add()->TagID = 0x37050003;
  auto* embedded = root.AddRecord<TMSGPropertyEmbeddedMessage>();
  embedded->Header = std::string(5, 'x'); // short and alone: a stream cut inside its header
  EXPECT_EQ(PropertyStreamBytes(*recipient).substr(0, 8), "01234567");
  EXPECT_EQ(PropertyStreamBytes(*recipient).size(), 24u);
  EXPECT_EQ(PropertyStreamBytes(*attachment).substr(0, 8), std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(PropertyStreamBytes(*embedded), std::string(5, 'x'));
}

TEST(MsgWriterEntries, GuidTextParsesToTheStoredByteOrder) {
  std::array<uint8_t, 16> g{};
  ASSERT_TRUE(ParseGuidText("{00020329-0000-0000-C000-000000000046}", g));
  const std::array<uint8_t, 16> expected = {0x29, 0x03, 0x02, 0x00, 0, 0, 0, 0,
                                            0xC0, 0,    0,    0,    0, 0, 0, 0x46};
  EXPECT_EQ(g, expected);
  EXPECT_FALSE(ParseGuidText("{00020329-0000-0000-C000-00000000004}", g));
  EXPECT_FALSE(ParseGuidText("{00020329+0000-0000-C000-000000000046}", g));
  EXPECT_FALSE(ParseGuidText("{0002032G-0000-0000-C000-000000000046}", g));
  EXPECT_FALSE(ParseGuidText("", g));
}

// ---------------------------------------------------------------------------------------------
// Streams, storages and names.

TEST(MsgWriterStreams, LeafValuesOfEveryTypeReadBack) {
  ScopedTimeZone zone("America/New_York");
  // In the order in which the directory lists the names, as the reader appends the records.
  struct {
    TQvMSGFile message;
    void Leaf(uint32_t tag, TVariant value, int32_t dataSize) {
      TMSGProperty* r = message.Properties().Add();
      r->TagID = tag;
      r->Value = std::move(value);
      r->DataSize = dataSize;
    }
  } m;
  m.Leaf(0x0037001E, TVariant::FromBytes("Hi"), 2);
  m.Leaf(0x0E1D001F, TVariant::FromWide(u"Gr\u00FC\u00DFe \U0001F600"), 16);
  m.Leaf(0x10000002, TVariant::FromInteger(-7), 2);
  m.Leaf(0x10010003, TVariant::FromInteger(123456), 4);
  m.Leaf(0x10020004, TVariant::FromFloating(2.5), 4);
  m.Leaf(0x10030005, TVariant::FromFloating(-3.25), 8);
  m.Leaf(0x10040006, TVariant::FromCurrency(987654321), 8);
  m.Leaf(0x10050007, TVariant::FromDateTime(44000.5), 8);
  m.Leaf(0x1006000A, TVariant::FromInteger(-5), 4);
  m.Leaf(0x1007000B, TVariant::FromBoolean(true), 2);
  m.Leaf(0x10080014, TVariant::FromInt64(4611686018427387904), 8);
  m.Leaf(0x10090040, TVariant::FromDateTime(JoinDateTime({2019, 6, 1, 12, 0, 1, 2})), 8);
  m.Leaf(0x100A0048, TVariant::FromBytes("{00062008-0000-0000-C000-000000000046}"), 16);
  m.Leaf(0x100B0102, TVariant::FromBytes(std::string("\0\1\2\3", 4)), 4);
  m.Leaf(0x100C101F,
         TVariant::FromMulti({{TVariant::FromWide(u"ab"), TVariant::FromWide(u"")}, {}}), 8);
  m.Leaf(0x100D8008, TVariant::FromBytes("raw eight"), 9);

  const auto back = WriteAndRead(m.message.Properties());
  std::vector<std::string> diffs;
  int lost = 0;
  CompareTrees(m.message.Properties(), back->Properties(), "", diffs, lost);
  EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);
  EXPECT_EQ(lost, 0);

  const cfb::Storage root = cfb::OpenMemory(SaveToMSGImage(m.message.Properties(), true));
  EXPECT_EQ(root.OpenStream(u"__substg1.0_0037001E").ReadAll(), "Hi");
  EXPECT_EQ(root.OpenStream(u"__substg1.0_1007000B").ReadAll(), std::string("\1\0", 2));
}

// The Properties page shows a string's stored bytes from StoredStringBytes, without writing a
// file: they must be what the file gets, for every kind of value a string record holds.
TEST(MsgWriterStreams, StoredStringBytesAreTheStreamsBytes) {
  // Over 64 KB, with four-byte characters across every 64 KB piece of the widening.
  std::string large;
  while (large.size() < 200000)
    large += "ab\xC3\xA9\xF0\x9F\x98\x80";
  auto buffer = std::make_shared<const std::string>("<" + large + ">");
  const TVariant part =
      TVariant::FromWideUtf8(buffer, std::string_view(*buffer).substr(1, large.size()));
  const struct {
    uint32_t tag;
    TVariant value;
  } cases[] = {
      {0x0037001E, TVariant::FromBytes("caf\xE9")},
      {0x0037001E, TVariant::FromWide(u"caf\u00E9")},
      {0x0037001E, TVariant::FromWideUtf8(std::string("caf\xC3\xA9"))},
      {0x0037001E, part},
      {0x0037001E, TVariant::FromInteger(42)},
      {0x8001001E, TVariant::FromWideUtf8(std::string("named"))},
      {0x0037001F, TVariant::FromWide(u"Gr\u00FC\u00DFe \U0001F600")},
      {0x0037001F, TVariant::FromWideUtf8(std::string("Gr\xC3\xBC\xC3\x9F\x65"))},
      {0x0037001F, part},
      {0x0037001F, TVariant::FromBytes("bytes")},
  };
  TQvMSGFile message;
  TMSGProperties& level = message.Properties();
  const auto leaf = [&level](uint32_t tag, const TVariant& value, int32_t size) {
    TMSGProperty* r = level.Add();
    r->TagID = tag;
    r->Value = value;
    r->DataSize = size;
    return r;
  };
  std::string scratch;
  for (const auto& c : cases) {
    // DataSize 0 is an empty stream whatever the value.
    for (const int32_t size : {1, 0}) {
      SCOPED_TRACE(testing::Message() << std::hex << c.tag << " " << c.value.ToUtf8().substr(0, 20)
                                      << " size " << size);
      level.Clear();
      const std::optional<std::string_view> bytes =
          StoredStringBytes(*leaf(c.tag, c.value, size), scratch);
      ASSERT_TRUE(bytes.has_value());
      const cfb::Storage root = cfb::OpenMemory(SaveToMSGImage(level, true));
      char name[32];
      std::snprintf(name, sizeof name, "__substg1.0_%08X", c.tag);
      EXPECT_EQ(*bytes, root.OpenStream(std::u16string(name, name + 20)).ReadAll());
    }
  }
  // Other types and multi-valued strings have bytes of their own making.
  level.Clear();
  EXPECT_FALSE(StoredStringBytes(*leaf(0x00170003, TVariant::FromInteger(1), 4), scratch));
  EXPECT_FALSE(StoredStringBytes(
      *leaf(0x8002101F, TVariant::FromMulti({{TVariant::FromWide(u"a")}, {}}), 2), scratch));
}

TEST(MsgWriterStreams, EmptyLeavesAndTaglessLeaves) {
  BuiltMessage m;
  m.Leaf(0x0037001E, TVariant::FromBytes(""), 0); // DataSize 0: an empty stream
  m.Leaf(0, TVariant::FromBytes("dropped"), 7);   // tag 0: nothing
  const cfb::Storage root = cfb::OpenMemory(SaveToMSGImage(m.message.Properties(), true));
  std::vector<std::u16string> names;
  for (const cfb::EntryStat& e : root.Children())
    names.push_back(e.name.str());
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u"__substg1.0_0037001E", u"__properties_version1.0"}));
  EXPECT_EQ(root.OpenStream(u"__substg1.0_0037001E").Size(), 0u);
}

TEST(MsgWriterStreams, StoragesWithoutNamesGetTheStandardOnes) {
  // As the Internet-message reader makes them: nodes without names. Two attachments must both
  // survive (the same name would make the second replace the first).
  TQvMSGFile message;
  TMSGProperties& root = message.Properties();
  for (int i = 0; i < 2; ++i) {
    TMSGProperty* attachment = root.Add();
    attachment->TagID = TAG_ATTACHMENT_NODE;
    root.Items(root.Count() - 1)
        ->SubProperties()
        .AddProperty(0x3707001F, TVariant::FromWide(i == 0 ? u"a.txt" : u"b.txt"));
  }
  TMSGProperty* recipient = root.Add();
  recipient->TagID = TAG_RECIPIENT_NODE;
  recipient->SubProperties().AddProperty(0x3001001F, TVariant::FromWide(u"Ann"));
  TMSGProperty* names = root.Add();
  names->TagID = TAG_NAMEID_NODE; // empty: still a storage

  const cfb::Storage image = cfb::OpenMemory(SaveToMSGImage(root, true));
  EXPECT_TRUE(image.Exists(u"__attach_version1.0_#00000000"));
  EXPECT_TRUE(image.Exists(u"__attach_version1.0_#00000001"));
  EXPECT_TRUE(image.Exists(u"__recip_version1.0_#00000000"));
  EXPECT_TRUE(image.Exists(u"__nameid_version1.0"));
  EXPECT_EQ(image.OpenStorage(u"__nameid_version1.0").Children().size(), 0u);

  const auto back = WriteAndRead(root);
  EXPECT_EQ(back->Properties().AttachmentCount(), 0); // no data: not counted, but present
  ASSERT_EQ(back->Properties().Count(), 4);
  EXPECT_EQ(back->Properties().Items(2)->TagID, TAG_ATTACHMENT_NODE);
  EXPECT_EQ(back->Properties().Items(3)->TagID, TAG_ATTACHMENT_NODE);
}

TEST(MsgWriterStreams, TaggedStoragesKeepTheirStandardName) {
  // The reader keeps only the eight digits of "__substg1.0_3701000D" as the node's value.
  TQvMSGFile message;
  TMSGProperty* attachment = message.Properties().Add();
  attachment->TagID = TAG_ATTACHMENT_NODE;
  attachment->Value = TVariant::FromWide(u"__attach_version1.0_#00000000");
  TMSGProperty* object = attachment->SubProperties().Add();
  object->TagID = TAG_ATTACH_DATA_OBJ;
  object->Value = TVariant::FromWide(u"3701000D");
  object->SubProperties().AddProperty(0x0037001F, TVariant::FromWide(u"inner"));

  const cfb::Storage image = cfb::OpenMemory(SaveToMSGImage(message.Properties(), true));
  const cfb::Storage a = image.OpenStorage(u"__attach_version1.0_#00000000");
  ASSERT_TRUE(a.Exists(u"__substg1.0_3701000D"));
  EXPECT_TRUE(a.OpenStorage(u"__substg1.0_3701000D").Exists(u"__substg1.0_0037001F"));
}

TEST(MsgWriterStreams, OleObjectImagesBecomeStoragesAgain) {
  cfb::Storage ole = cfb::CreateMemory();
  ole.SetClsid({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  cfb::Stream native = ole.CreateStream(u"\x01Ole10Native");
  native.Write("\x05\0\0\0hello", 9);
  const std::string oleImage = cfb::MemoryImage(ole);

  TQvMSGFile message;
  TMSGProperty* attachment = message.Properties().Add();
  attachment->TagID = TAG_ATTACHMENT_NODE;
  attachment->Value = TVariant::FromWide(u"__attach_version1.0_#00000000");
  TMSGProperty* object = attachment->SubProperties().Add();
  object->TagID = TAG_ATTACH_DATA_OBJ;
  object->Value = TVariant::FromBytes(oleImage);
  object->DataSize = static_cast<int32_t>(oleImage.size());

  const cfb::Storage image = cfb::OpenMemory(SaveToMSGImage(message.Properties(), true));
  const cfb::Storage stored =
      image.OpenStorage(u"__attach_version1.0_#00000000").OpenStorage(u"__substg1.0_3701000D");
  EXPECT_EQ(stored.OpenStream(u"\x01Ole10Native").ReadAll(), std::string("\x05\0\0\0hello", 9));
  EXPECT_EQ(stored.Stat().clsid[0], 1);
  EXPECT_EQ(stored.Stat().clsid[15], 16);

  // The reader turns it into the same kind of record: an image holding the same stream.
  const auto back = WriteAndRead(message.Properties());
  const TMSGProperty* data = back->Properties().Items(0)->SubProperties().Items(0);
  EXPECT_EQ(data->TagID, TAG_ATTACH_DATA_OBJ);
  EXPECT_EQ(data->SubProperties().Count(), 0);
  ASSERT_TRUE(data->Value.IsBytes());
  EXPECT_EQ(cfb::OpenMemory(data->Value.Bytes()).OpenStream(u"\x01Ole10Native").ReadAll(),
            std::string("\x05\0\0\0hello", 9));
}

TEST(MsgWriterStreams, CompressedRtfIsStoredUncompressedWithItsText) {
  TQvMSGFile message;
  auto* rtf = message.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  rtf->TagID = TAG_RTF_COMPRESSED;
  rtf->Value = TVariant::FromBytes("{\\rtf1 hi}");
  rtf->DataSize = 20;
  rtf->CompressionKind = RTF_KIND_COMPRESSED;
  const cfb::Storage image = cfb::OpenMemory(SaveToMSGImage(message.Properties(), true));
  const std::string stream = image.OpenStream(u"__substg1.0_10090102").ReadAll();
  ASSERT_EQ(stream.size(), 16u + 10u);
  EXPECT_EQ(stream.substr(8, 4), "MELA");
  EXPECT_EQ(stream.substr(16), "{\\rtf1 hi}");
}

TEST(MsgWriterStreams, PartialSaveWritesOnlyTheListedTopLevelProperties) {
  BuiltMessage m;
  m.Entry(0x00370000, TVariant::FromBytes(""), 0);
  m.Leaf(0x0037001F, TVariant::FromWide(u"Subject"), 14);
  m.Leaf(0x1000001F, TVariant::FromWide(u"Body"), 8);
  m.Leaf(0x0E070003, TVariant::FromInteger(1), 4); // MESSAGE_FLAGS: not in the list
  m.Leaf(0x001A001E, TVariant::FromBytes("IPM.Note"), 8);
  TMSGProperty* recipient = m.message.Properties().Add();
  recipient->TagID = TAG_RECIPIENT_NODE;
  recipient->Value = TVariant::FromWide(u"__recip_version1.0_#00000000");
  recipient->SubProperties().AddProperty(0x0037001F, TVariant::FromWide(u"nested"));

  const cfb::Storage image = cfb::OpenMemory(SaveToMSGImage(m.message.Properties(), false));
  std::vector<std::u16string> names;
  for (const cfb::EntryStat& e : image.Children())
    names.push_back(e.name.str());
  // Listed order of the tags decides the writing order; the directory sorts the names.
  EXPECT_EQ(names, (std::vector<std::u16string>{u"__substg1.0_001A001E", u"__substg1.0_0037001F",
                                                u"__substg1.0_1000001F"}));
}

TEST(MsgWriterFiles, FailedSaveLeavesTheExistingFileAlone) {
  TempDir dir;
  const std::string target = dir.File("out.msg");
  WriteFile(target, "the user's old file");
  // A GUID value that does not parse ends the save with an error.
  TQvMSGFile guid;
  guid.Properties().AddProperty(0x00010048, TVariant::FromBytes("not a guid"));
  EXPECT_THROW(guid.SaveToMSG(target, true), cfb::EOleError);
  EXPECT_EQ(ReadFile(target), "the user's old file");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);

  EXPECT_THROW(guid.SaveToMSG(dir.File("no/such/folder.msg"), true), cfb::EOleError);
}

TEST(MsgWriterFiles, SaveReplacesTheFileWithACompoundFile) {
  TempDir dir;
  const std::string target = dir.File("out.msg");
  WriteFile(target, "old");
  TQvMSGFile message;
  message.Properties().AddProperty(0x0037001F, TVariant::FromWide(u"Hi"));
  message.SaveToMSG(target, true);
  EXPECT_TRUE(cfb::IsCompoundFile(target));
  TQvMSGFile back;
  back.LoadFromFile(target);
  EXPECT_EQ(back.Properties().GetSubject(), u"Hi");
}

// ---------------------------------------------------------------------------------------------
// The corpus.

TEST(MsgWriterCorpus, EveryMessageReadsBackAsTheSameTree) {
  const std::vector<std::string> files = CompoundCorpusMessages();
  ASSERT_GE(files.size(), 40u);
  TempDir dir;
  int totalLost = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    TQvMSGFile original;
    original.LoadFromFile(path);
    const std::string written = dir.File("rewritten.msg");
    original.SaveToMSG(written, true);
    TQvMSGFile back;
    back.LoadFromFile(written);
    std::vector<std::string> diffs;
    int lost = 0;
    CompareTrees(original.Properties(), back.Properties(), "", diffs, lost);
    EXPECT_TRUE(diffs.empty()) << ::testing::PrintToString(diffs);
    totalLost += lost;
  }
  // Values that the reading already lost: streams of types the reader does not decode.
  RecordProperty("values_lost_by_reader", totalLost);
}

// Compares the written file with the original through olefile: the same storages and streams
// (as far as the reader keeps them) with the same bytes in string, binary and fixed-size streams.
constexpr char kOlefileCompare[] = R"PY(
import olefile, re, sys
orig, new = olefile.OleFileIO(sys.argv[1]), olefile.OleFileIO(sys.argv[2])
TAGGED = re.compile(r'([0-9A-Fa-f]{8})$')
OLE_NAMES = ('\x01Ole', '\x01CompObj', '\x01Ole10Native', '\x02OlePres000', '\x03MailStream',
             '\x05SummaryInformation', '\x05DocumentSummaryInformation')
COMPARED_TYPES = {0x001E, 0x001F, 0x0102, 0x000D, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006,
                  0x0007, 0x000A, 0x000B, 0x0014, 0x0040, 0x0048, 0x1002, 0x1003, 0x1004,
                  0x1005, 0x1006, 0x1007, 0x1014, 0x1040, 0x1048, 0x101E, 0x101F, 0x1102}
VALUE = re.compile(r'__substg1\.0_([0-9A-Fa-f]{8})-[0-9A-Fa-f]{8}$')
expected = {}   # written path -> original path whose bytes it must hold (or None)

def walk(src, dst, verbatim):
    kids = [e for e in orig.listdir(streams=True, storages=True) if e[:-1] == src]
    names = [k[-1] for k in kids]
    # An OLE object in an attachment is kept whole, with names the reader otherwise ignores.
    ole = bool(src) and src[-1].upper().endswith('3701000D') and any(n in OLE_NAMES for n in names)
    for k in kids:
        name = k[-1]
        storage = orig.get_type('/'.join(k)) == olefile.STGTY_STORAGE
        if verbatim or ole:
            expected[tuple(dst + [name])] = None if storage else k
            if storage: walk(k, dst + [name], True)
            continue
        m = TAGGED.search(name)
        if storage:
            if any(w in name for w in ('nameid_version', 'recip_version', 'attach_version')) or not m:
                out = name
            else:
                out = '__substg1.0_' + m.group(1).upper()
            expected[tuple(dst + [out])] = None
            walk(k, dst + [out], False)
        elif name == '__properties_version1.0':
            expected[tuple(dst + [name])] = None
        elif VALUE.match(name) and int(VALUE.match(name).group(1), 16) & 0xFFFF in (0x101E, 0x101F, 0x1102):
            # A value of a multi-valued property keeps its name and its bytes.
            expected[tuple(dst + [name])] = k
        elif not m and name not in ('Olk10SideProps_0001', '\x01Ole10Native', 'Workbook',
                                    'WordDocument'):
            # A stream without a tag in its name is kept as it was.
            expected[tuple(dst + [name])] = k
        elif m:
            tag = int(m.group(1), 16)
            if tag == 0: continue
            out = '__substg1.0_%08X' % tag
            standard = re.fullmatch(r'__substg1\.0_[0-9A-Fa-f]{8}', name)
            same = standard and tag != 0x10090102 and (tag & 0xFFFF) in COMPARED_TYPES
            expected[tuple(dst + [out])] = k if same else None
walk([], [], False)
written = set(tuple(e) for e in new.listdir(streams=True, storages=True))
for p in sorted(set(expected) - written): print('MISSING', '/'.join(p).encode('unicode_escape').decode())
for p in sorted(written - set(expected)): print('EXTRA', '/'.join(p).encode('unicode_escape').decode())
for p, src in sorted(expected.items()):
    if src is None or p not in written: continue
    a = orig.openstream('/'.join(src)).read(); b = new.openstream('/'.join(p)).read()
    if a != b: print('BYTES', '/'.join(p).encode('unicode_escape').decode(), len(a), len(b))
print('COMPARED', sum(1 for v in expected.values() if v is not None))
)PY";

TEST(MsgWriterCorpus, OlefileSeesTheSameStoragesStreamsAndBytes) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is not installed";
  TempDir dir;
  int compared = 0;
  for (const std::string& path : CompoundCorpusMessages()) {
    SCOPED_TRACE(path);
    TQvMSGFile original;
    original.LoadFromFile(path);
    const std::string written = dir.File("rewritten.msg");
    original.SaveToMSG(written, true);
    const testutil::ProcessResult r = testutil::RunPython(kOlefileCompare, {path, written});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line, problems;
    while (std::getline(lines, line)) {
      if (line.rfind("COMPARED ", 0) == 0) {
        compared += std::stoi(line.substr(9));
      } else {
        problems += line + "\n";
      }
    }
    EXPECT_EQ(problems, "");
  }
  EXPECT_GT(compared, 1000);
}

// The Subject header of an EML file made by msgconvert (unfolded, as written).
std::string SubjectOf(const std::string& eml) {
  std::istringstream in(eml);
  std::string line, subject;
  bool inSubject = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      break;
    if (inSubject && (line[0] == ' ' || line[0] == '\t')) {
      subject += line;
      continue;
    }
    inSubject = line.rfind("Subject:", 0) == 0;
    if (inSubject)
      subject = line;
  }
  return subject;
}

TEST(MsgWriterCorpus, MsgconvertConvertsTheWrittenFileLikeTheOriginal) {
  if (!std::filesystem::exists("/usr/bin/msgconvert"))
    GTEST_SKIP() << "msgconvert is missing";
  TempDir dir;
  int converted = 0;
  for (const std::string& path : CompoundCorpusMessages()) {
    SCOPED_TRACE(path);
    TQvMSGFile original;
    original.LoadFromFile(path);
    const std::string written = dir.File("rewritten.msg");
    original.SaveToMSG(written, true);
    const auto convert = [&](const std::string& msg, const std::string& eml) {
      return testutil::RunProcess("/usr/bin/msgconvert", {"--outfile", eml, msg});
    };
    const testutil::ProcessResult a = convert(path, dir.File("original.eml"));
    const testutil::ProcessResult b = convert(written, dir.File("rewritten.eml"));
    if (a.exitCode != 0)
      continue; // msgconvert cannot read the original either
    ++converted;
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(SubjectOf(ReadFile(dir.File("rewritten.eml"))),
              SubjectOf(ReadFile(dir.File("original.eml"))));
  }
  EXPECT_GT(converted, 30);
}

} // namespace
} // namespace orlendo
