// The .msg reader on compound files built here: how storages and streams become records, the
// property-stream entries, OLE objects and document streams, and the limits that hostile
// nesting runs into.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "model/qvmsg.h"
#include "msg/compound_file.h"
#include "msg/compressed_rtf.h"
#include "msg/qvmsgfile.h"
#include "text/datetime.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using namespace std::string_literals;

void Put(cfb::Storage& storage, const std::u16string& name, const std::string& bytes) {
  cfb::Stream s = storage.CreateStream(name);
  s.Write(bytes.data(), bytes.size());
}

std::string LE(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i)
    s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

// One 16-byte property-stream entry.
std::string Entry(uint16_t type, uint16_t id, uint32_t flags, const std::string& slot) {
  std::string e = LE(type, 2) + LE(id, 2) + LE(flags, 4) + slot;
  e.resize(16, '\0');
  return e;
}

std::unique_ptr<TQvMSGFile> Load(const cfb::Storage& root) {
  TMemoryStream stream(cfb::MemoryImage(root));
  auto message = std::make_unique<TQvMSGFile>();
  message->LoadFromStream(stream);
  return message;
}

// The record of a collection with the given wide value (a node's name), or null.
TMSGProperty* Named(const TMSGProperties& c, const std::u16string& name) {
  for (int i = 0; i < c.Count(); ++i) {
    if (c.Items(i)->Value.IsWide() && c.Items(i)->Value.Wide() == name)
      return c.Items(i);
  }
  return nullptr;
}

TMSGProperty* Tagged(const TMSGProperties& c, uint32_t tag) {
  for (int i = 0; i < c.Count(); ++i) {
    if (c.Items(i)->TagID == tag)
      return c.Items(i);
  }
  return nullptr;
}

// Sets TZ for the lifetime of the guard.
class TimeZone {
public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ"))
      old_ = old, hadOld_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
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

TEST(MsgFileStructure, StoragesBecomeNodesTaggedByTheirNames) {
  cfb::Storage root = cfb::CreateMemory();
  cfb::Storage names = root.CreateStorage(u"__nameid_version1.0");
  Put(names, u"__substg1.0_00020102", std::string(16, 'g'));
  cfb::Storage recip = root.CreateStorage(u"__recip_version1.0_#00000000");
  Put(recip, u"__substg1.0_3001001F", "A\0B\0"s);
  cfb::Storage attach = root.CreateStorage(u"__attach_version1.0_#0000000A");
  cfb::Storage inner = attach.CreateStorage(u"__substg1.0_3701000D");
  Put(inner, u"__substg1.0_0037001F", "S\0"s);
  cfb::Storage other = root.CreateStorage(u"Other storage");
  Put(other, u"__substg1.0_1000001E", "body");
  // A value of a multi-valued property whose length stream is missing still joins the record of
  // its property, never one of its own.
  Put(root, u"__substg1.0_0037101F-00000003", "X\0"s);
  // A stream that carries nothing for the tree, and one without a tag that is kept as it is.
  Put(root, u"Olk10SideProps_0001", "side");
  Put(root,
      u"\x01"
      u"CompObj",
      "compobj");

  const auto message = Load(root);
  const TMSGProperties& p = message->Properties();
  EXPECT_EQ(p.Count(), 6);
  const TMSGProperty* kept = nullptr;
  for (int i = 0; i < p.Count(); ++i)
    if (const auto* u = dynamic_cast<const TMSGPropertyUntaggedStream*>(p.Items(i));
        u != nullptr && u->Name == u"\x01" u"CompObj")
      kept = u;
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->Value.Bytes(), "compobj");

  const TMSGProperty* n = Named(p, u"__nameid_version1.0");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->TagID, TAG_NAMEID_NODE);
  EXPECT_EQ(Tagged(n->SubProperties(), 0x00020102)->Value.Bytes(), std::string(16, 'g'));

  const TMSGProperty* r = Named(p, u"__recip_version1.0_#00000000");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->TagID, TAG_RECIPIENT_NODE);
  EXPECT_EQ(r->Category(), mpcRecipient);
  EXPECT_EQ(Tagged(r->SubProperties(), 0x3001001F)->Value.Wide(), u"AB");

  const TMSGProperty* a = Named(p, u"__attach_version1.0_#0000000A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->TagID, TAG_ATTACHMENT_NODE);
  EXPECT_EQ(a->Category(), mpcAttachment);
  EXPECT_EQ(a->DataSize, 0);
  const TMSGProperty* m = Tagged(a->SubProperties(), TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Value.Wide(), u"3701000D"); // the eight digits, not the whole name
  EXPECT_EQ(m->Category(), mpcAttachment);
  EXPECT_EQ(Tagged(m->SubProperties(), 0x0037001F)->Value.Wide(), u"S");

  const TMSGProperty* o = Named(p, u"Other storage");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->TagID, 0u);
  EXPECT_EQ(Tagged(o->SubProperties(), 0x1000001E)->Value.Bytes(), "body");

  const TMSGProperty* multi = Tagged(p, 0x0037101F);
  ASSERT_NE(multi, nullptr);
  ASSERT_TRUE(multi->Value.IsMulti());
  ASSERT_EQ(multi->Value.Multi().Items.size(), 4u);
  EXPECT_EQ(multi->Value.Multi().Items[3].Wide(), u"X");
  EXPECT_EQ(Tagged(p, 0x00000003), nullptr);
}

TEST(MsgFileStructure, OleObjectIsKeptAsOneCompoundFileImage) {
  cfb::Storage root = cfb::CreateMemory();
  cfb::Storage attach = root.CreateStorage(u"__attach_version1.0_#00000000");
  cfb::Storage object = attach.CreateStorage(u"__substg1.0_3701000D");
  Put(object, u"\x01Ole10Native", "native package bytes");
  Put(object, u"CONTENTS", std::string(5000, 'c'));
  cfb::Storage deeper = object.CreateStorage(u"ObjectPool");
  Put(deeper, u"Data", "pool");

  const auto message = Load(root);
  const TMSGProperty* a = Named(message->Properties(), u"__attach_version1.0_#00000000");
  ASSERT_NE(a, nullptr);
  const TMSGProperty* data = Tagged(a->SubProperties(), TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->SubProperties().Count(), 0);
  ASSERT_TRUE(data->Value.IsBytes());
  const std::string& image = data->Value.Bytes();
  EXPECT_EQ(data->DataSize, static_cast<int32_t>(image.size()));
  ASSERT_TRUE(cfb::IsCompoundFile(image.data(), image.size()));
  const cfb::Storage copy = cfb::OpenMemory(image);
  EXPECT_EQ(copy.OpenStream(u"\x01Ole10Native").ReadAll(), "native package bytes");
  EXPECT_EQ(copy.OpenStream(u"CONTENTS").ReadAll(), std::string(5000, 'c'));
  EXPECT_EQ(copy.OpenStorage(u"ObjectPool").OpenStream(u"Data").ReadAll(), "pool");
}

TEST(MsgFileStructure, DocumentStreamsBecomeTheAttachmentData) {
  cfb::Storage root = cfb::CreateMemory();
  // No OLE system streams: the storage is walked, and its Workbook is its value.
  cfb::Storage a0 = root.CreateStorage(u"__attach_version1.0_#00000000");
  cfb::Storage book = a0.CreateStorage(u"__substg1.0_3701000D");
  Put(book, u"Workbook", "XLSDATA");
  Put(book, u"__substg1.0_3001001F", "x\0"s);
  // A document stream straight in an attachment storage gets a record of its own.
  cfb::Storage a1 = root.CreateStorage(u"__attach_version1.0_#00000001");
  Put(a1, u"WordDocument", "DOCDATA!");
  Put(a1, u"__substg1.0_3704001F", "d\0"s);
  // An empty one leaves no trace.
  cfb::Storage a2 = root.CreateStorage(u"__attach_version1.0_#00000002");
  Put(a2, u"\x01Ole10Native", "");

  const auto message = Load(root);
  const TMSGProperties& p = message->Properties();
  const TMSGProperty* storage =
      Tagged(Named(p, u"__attach_version1.0_#00000000")->SubProperties(), TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->Value.Bytes(), "XLSDATA");
  EXPECT_EQ(storage->DataSize, 7);
  EXPECT_EQ(storage->SubProperties().Count(), 1); // the 3001001F record; Workbook is the value

  const TMSGProperties& second = Named(p, u"__attach_version1.0_#00000001")->SubProperties();
  EXPECT_EQ(second.Count(), 2);
  const TMSGProperty* doc = Tagged(second, TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->Value.Bytes(), "DOCDATA!");
  EXPECT_EQ(doc->DataSize, 8);

  EXPECT_EQ(Named(p, u"__attach_version1.0_#00000002")->SubProperties().Count(), 0);
}

TEST(MsgFileStructure, PropertyStreamEntriesDecodeByTheEntryTypeTable) {
  TimeZone utc("UTC0");
  const std::string header(32, '\x5A');
  std::string entries;
  entries += Entry(0x001F, 0x0037, 6, LE(10, 4));           // 0 Unicode: no value here
  entries += Entry(0x0003, 0x0E07, 2, LE(9, 4));            // 1 long
  entries += Entry(0x000B, 0x0E1B, 2, "\x01");              // 2 boolean, one byte
  entries += Entry(0x0040, 0x0039, 2, LE(0, 8));            // 3 FILETIME 0: 1601-01-01
  entries += Entry(0x0002, 0x0017, 2, LE(0xFFFE, 2));       // 4 short -2
  entries += Entry(0x0012, 0x0018, 2, LE(0x8000, 2));       // 5 short, second code
  entries += Entry(0x0006, 0x3FF0, 2, LE(123456, 8));       // 6 currency
  entries += Entry(0x0004, 0x3FF1, 2, "\x00\x00\xC0\x3F"s); // 7 float 1.5
  entries += Entry(0x0014, 0x3FF2, 2, LE(uint64_t(-5), 8)); // 8 64-bit integer
  entries += Entry(0x0010, 0x3FF3, 2, "\xC8");              // 9 unsigned byte 200
  entries += Entry(0x0019, 0x3FF4, 2, LE(0x80004005, 4));   // 10 error
  entries += Entry(0x001E, 0x1000, 6, LE(77, 4) + "rest");  // 11 size field, raw
  entries += Entry(0x0102, 0x0FFF, 6, "12345678");          // 12 size and reserved, raw
  entries += Entry(0x000E, 0x0FF8, 2, "ABCDEFGH");          // 13 reads 16 bytes, into 14
  entries += Entry(0x0008, 0x0FF9, 2, LE(3, 2) + "xyz");    // 14 counted bytes
  entries += Entry(0x101F, 0x0FFB, 2, "whatever");          // 15 multi-valued: nothing
  entries += "short tail";                                  // not a whole entry

  cfb::Storage root = cfb::CreateMemory();
  Put(root, u"__properties_version1.0", header + entries);
  const auto message = Load(root);
  const TMSGProperty* stream = Named(message->Properties(), u"__properties_version1.0");
  ASSERT_NE(stream, nullptr);
  const auto* top = dynamic_cast<const TMSGPropertyTopLevel*>(stream);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->TagID, 0u);
  EXPECT_EQ(top->Header, header);
  const TMSGProperties& e = stream->SubProperties();
  ASSERT_EQ(e.Count(), 16);

  EXPECT_EQ(e.Items(0)->TagID, 0x00370000u);
  EXPECT_TRUE(e.Items(0)->Value.IsBytes() && e.Items(0)->Value.Bytes().empty());
  EXPECT_EQ(e.Items(0)->DataSize, 0);
  EXPECT_EQ(e.Items(0)->Reserved1, 6);

  EXPECT_EQ(e.Items(1)->TagID, 0x0E070003u);
  EXPECT_EQ(e.Items(1)->Value.AsInteger(), 9);
  EXPECT_EQ(e.Items(1)->DataSize, 4);
  EXPECT_EQ(e.Items(1)->Reserved1, 2);

  EXPECT_EQ(e.Items(2)->TagID, 0x0E1B000Bu);
  EXPECT_TRUE(e.Items(2)->Value.AsBoolean());
  EXPECT_EQ(e.Items(2)->DataSize, 1);

  EXPECT_EQ(e.Items(3)->TagID, 0x00390040u);
  EXPECT_DOUBLE_EQ(e.Items(3)->Value.AsDateTime(), -109205.0); // days from 1899-12-30 back
  EXPECT_EQ(e.Items(3)->DataSize, 8);

  EXPECT_EQ(e.Items(4)->TagID, 0x00170002u);
  EXPECT_EQ(e.Items(4)->Value.AsInteger(), -2);
  EXPECT_EQ(e.Items(5)->TagID, 0x00180002u);
  EXPECT_EQ(e.Items(5)->Value.AsInteger(), -32768);

  EXPECT_EQ(e.Items(6)->TagID, 0x3FF00006u);
  EXPECT_EQ(e.Items(6)->Value.AsCurrency(), 123456);

  EXPECT_EQ(e.Items(7)->TagID, 0x3FF10005u);
  EXPECT_DOUBLE_EQ(e.Items(7)->Value.AsFloating(), 1.5);
  EXPECT_EQ(e.Items(7)->DataSize, 4);

  EXPECT_EQ(e.Items(8)->TagID, 0x3FF20014u);
  EXPECT_EQ(e.Items(8)->Value.AsInt64(), -5);

  EXPECT_EQ(e.Items(9)->TagID, 0x3FF30002u);
  EXPECT_EQ(e.Items(9)->Value.AsInteger(), 200);
  EXPECT_EQ(e.Items(9)->DataSize, 2);

  EXPECT_EQ(e.Items(10)->TagID, 0x3FF4000Au);
  EXPECT_EQ(static_cast<uint32_t>(e.Items(10)->Value.AsInteger()), 0x80004005u);

  EXPECT_EQ(e.Items(11)->TagID, 0x1000001Eu);
  EXPECT_EQ(e.Items(11)->Value.Bytes(), LE(77, 4));
  EXPECT_EQ(e.Items(12)->TagID, 0x0FFF0102u);
  EXPECT_EQ(e.Items(12)->Value.Bytes(), "12345678");
  EXPECT_EQ(e.Items(12)->DataSize, 8);

  EXPECT_EQ(e.Items(13)->TagID, 0x0FF80102u);
  EXPECT_EQ(e.Items(13)->Value.Bytes(), "ABCDEFGH" + entries.substr(14 * 16, 8));
  EXPECT_EQ(e.Items(13)->DataSize, 16);

  EXPECT_EQ(e.Items(14)->TagID, 0x0FF9001Fu);
  EXPECT_EQ(e.Items(14)->Value.Bytes(), "xyz");
  EXPECT_EQ(e.Items(14)->DataSize, 3);

  EXPECT_EQ(e.Items(15)->TagID, 0x0FFB0000u);
  EXPECT_TRUE(e.Items(15)->Value.IsBytes() && e.Items(15)->Value.Bytes().empty());
  EXPECT_EQ(e.Items(15)->DataSize, 0);
}

TEST(MsgFileStructure, GuidEntriesAreTextAndValuesPastTheStreamEndAreLeftEmpty) {
  const std::string guid = "\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF"s;
  // The GUID starts in the value slot of the first entry and ends in the next one.
  std::string entries = Entry(0x0048, 0x0FFA, 2, guid.substr(0, 8));
  entries += guid.substr(8, 8) + std::string(8, '\0');
  // Reads past the end of the stream: kept with tag and flags, no value.
  entries += Entry(0x0008, 0x0FF9, 7, LE(500, 2));

  cfb::Storage root = cfb::CreateMemory();
  cfb::Storage other = root.CreateStorage(u"Plain");
  Put(other, u"__properties_version1.0", entries); // no header in a plain storage
  const auto message = Load(root);
  const TMSGProperty* stream =
      Named(Named(message->Properties(), u"Plain")->SubProperties(), u"__properties_version1.0");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(dynamic_cast<const TMSGPropertyWithHeader*>(stream), nullptr);
  const TMSGProperties& e = stream->SubProperties();
  ASSERT_EQ(e.Count(), 3);
  EXPECT_EQ(e.Items(0)->Value.Bytes(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(e.Items(0)->DataSize, 16);
  EXPECT_EQ(e.Items(2)->TagID, 0x0FF9001Fu);
  EXPECT_EQ(e.Items(2)->Reserved1, 7);
  EXPECT_TRUE(e.Items(2)->Value.IsEmpty());
  EXPECT_EQ(e.Items(2)->DataSize, 0);
}

TEST(MsgFileStructure, TimesInEntriesFollowTheZoneRulesOfTheirDate) {
  TimeZone cet("CET-1CEST,M3.5.0,M10.5.0/3");
  std::string entries = Entry(0x0040, 0x0039, 2, LE(133326864000000000ull, 8)); // 2023-07-01 12:00Z
  entries += Entry(0x0040, 0x0039, 2, LE(133170480000000000ull + 1234 * 10000, 8)); // 2023-01-01
  entries += Entry(0x0040, 0x0039, 2, LE(2650467708000000000ull, 8)); // 9999-12-31 23:00Z
  cfb::Storage root = cfb::CreateMemory();
  Put(root, u"__properties_version1.0", std::string(32, '\0') + entries);
  const auto message = Load(root);
  const TMSGProperties& e =
      Named(message->Properties(), u"__properties_version1.0")->SubProperties();
  ASSERT_EQ(e.Count(), 3);
  // Summer: UTC+2; winter: UTC+1 (and the milliseconds are kept).
  EXPECT_NEAR(e.Items(0)->Value.AsDateTime(), 45108 + 14.0 / 24, 1e-9);
  EXPECT_NEAR(e.Items(1)->Value.AsDateTime(), 44927 + 13.0 / 24 + 1.234 / 86400, 1e-9);
  // Local time is already the year 10000: the zero date-time.
  EXPECT_EQ(e.Items(2)->Value.AsDateTime(), 0.0);
  EXPECT_EQ(FileTimeToLocalDateTime(0xFFFFFFFFFFFFFFFFull), 0.0);
}

TEST(MsgFileStructure, PropertyStreamHeaderDependsOnTheLevel) {
  const std::string entries = Entry(0x0003, 0x0E07, 2, LE(1, 4)) + Entry(0x0003, 0x0E08, 2, "");
  cfb::Storage root = cfb::CreateMemory();
  Put(root, u"__properties_version1.0", std::string(32, 'T') + entries);
  cfb::Storage recip = root.CreateStorage(u"__recip_version1.0_#00000000");
  Put(recip, u"__properties_version1.0", std::string(8, 'R') + entries);
  cfb::Storage attach = root.CreateStorage(u"__attach_version1.0_#00000000");
  Put(attach, u"__properties_version1.0", std::string(8, 'A') + entries);
  cfb::Storage embedded = attach.CreateStorage(u"__substg1.0_3701000D");
  Put(embedded, u"__substg1.0_001A001E", "IPM.Note");
  Put(embedded, u"__properties_version1.0", std::string(24, 'E') + entries);
  cfb::Storage shortOne = root.CreateStorage(u"__recip_version1.0_#00000001");
  Put(shortOne, u"__properties_version1.0", "abc");

  const auto message = Load(root);
  const TMSGProperties& p = message->Properties();
  auto streamOf = [](const TMSGProperties& c) {
    return dynamic_cast<const TMSGPropertyWithHeader*>(Named(c, u"__properties_version1.0"));
  };
  const TMSGProperties& attachLevel = Named(p, u"__attach_version1.0_#00000000")->SubProperties();
  const struct {
    const TMSGPropertyWithHeader* stream;
    char fill;
    size_t size;
  } cases[] = {
      {streamOf(p), 'T', 32},
      {streamOf(Named(p, u"__recip_version1.0_#00000000")->SubProperties()), 'R', 8},
      // The attachment's own stream keeps the 8-byte header even though it holds a message.
      {streamOf(attachLevel), 'A', 8},
      {streamOf(Tagged(attachLevel, TAG_ATTACH_DATA_OBJ)->SubProperties()), 'E', 24},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.stream, nullptr) << c.fill;
    EXPECT_EQ(c.stream->HeaderSize(), c.size) << c.fill;
    EXPECT_EQ(c.stream->Header, std::string(c.size, c.fill));
    ASSERT_EQ(c.stream->SubProperties().Count(), 2) << c.fill;
    EXPECT_EQ(c.stream->SubProperties().Items(0)->TagID, 0x0E070003u);
    EXPECT_EQ(c.stream->SubProperties().Items(1)->TagID, 0x0E080003u);
  }
  EXPECT_NE(dynamic_cast<const TMSGPropertyTopLevel*>(cases[0].stream), nullptr);
  EXPECT_NE(dynamic_cast<const TMSGPropertyRecipient*>(cases[1].stream), nullptr);
  EXPECT_NE(dynamic_cast<const TMSGPropertyAttachment*>(cases[2].stream), nullptr);
  EXPECT_NE(dynamic_cast<const TMSGPropertyEmbeddedMessage*>(cases[3].stream), nullptr);

  // Shorter than its header: the header holds what there is, and there are no entries.
  const TMSGPropertyWithHeader* s =
      streamOf(Named(p, u"__recip_version1.0_#00000001")->SubProperties());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Header, "abc");
  EXPECT_EQ(s->SubProperties().Count(), 0);
}

// A chain of embedded messages, each in the attachment of the one above.
cfb::Storage NestedMessages(int depth) {
  cfb::Storage root = cfb::CreateMemory();
  cfb::Storage level = root;
  for (int i = 0; i < depth; ++i) {
    Put(level, u"__substg1.0_0037001E", "level " + std::to_string(i));
    cfb::Storage attach = level.CreateStorage(u"__attach_version1.0_#00000000");
    level = attach.CreateStorage(u"__substg1.0_3701000D");
  }
  Put(level, u"__substg1.0_0037001E", "innermost");
  return root;
}

TEST(MsgFileStructure, EmbeddedMessagesBeyondTheDepthLimitAreKeptWhole) {
  const int depth = MAX_EMBEDDED_MESSAGE_DEPTH + 6;
  const auto message = Load(NestedMessages(depth));
  const TMSGProperties* level = &message->Properties();
  for (int i = 1; i <= MAX_EMBEDDED_MESSAGE_DEPTH; ++i) {
    const TMSGProperty* attach = Named(*level, u"__attach_version1.0_#00000000");
    ASSERT_NE(attach, nullptr) << i;
    const TMSGProperty* embedded = Tagged(attach->SubProperties(), TAG_ATTACH_DATA_OBJ);
    ASSERT_NE(embedded, nullptr) << i;
    ASSERT_TRUE(embedded->Value.IsWide()) << i; // walked
    level = &embedded->SubProperties();
    EXPECT_EQ(Tagged(*level, 0x0037001E)->Value.Bytes(), "level " + std::to_string(i));
  }
  // One deeper: its data, all that lies below it, as a compound file of its own.
  const TMSGProperty* attach = Named(*level, u"__attach_version1.0_#00000000");
  ASSERT_NE(attach, nullptr);
  const TMSGProperty* opaque = Tagged(attach->SubProperties(), TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(opaque, nullptr);
  EXPECT_EQ(opaque->SubProperties().Count(), 0);
  ASSERT_TRUE(opaque->Value.IsBytes());
  EXPECT_EQ(opaque->DataSize, static_cast<int32_t>(opaque->Value.Bytes().size()));
  // The kept image still holds the rest of the chain: read it as a message of its own.
  TMemoryStream rest(opaque->Value.Bytes());
  TQvMSGFile inner;
  inner.LoadFromStream(rest);
  const TMSGProperties* innerLevel = &inner.Properties();
  for (int i = MAX_EMBEDDED_MESSAGE_DEPTH + 1; i < depth; ++i) {
    EXPECT_EQ(Tagged(*innerLevel, 0x0037001E)->Value.Bytes(), "level " + std::to_string(i));
    innerLevel = &Tagged(Named(*innerLevel, u"__attach_version1.0_#00000000")->SubProperties(),
                         TAG_ATTACH_DATA_OBJ)
                      ->SubProperties();
  }
  EXPECT_EQ(Tagged(*innerLevel, 0x0037001E)->Value.Bytes(), "innermost");
}

TEST(MsgFileStructure, DeeplyNestedStoragesStopAtTheStorageLimit) {
  cfb::Storage root = cfb::CreateMemory();
  cfb::Storage level = root;
  for (int i = 0; i < MAX_STORAGE_DEPTH + 40; ++i)
    level = level.CreateStorage(u"S");
  Put(level, u"__substg1.0_0037001E", "bottom");
  const auto message = Load(root);
  const TMSGProperties* c = &message->Properties();
  for (int i = 1; i <= MAX_STORAGE_DEPTH; ++i) {
    const TMSGProperty* s = Named(*c, u"S");
    ASSERT_NE(s, nullptr) << i;
    c = &s->SubProperties();
  }
  ASSERT_EQ(c->Count(), 1);
  const TMSGProperty* kept = c->Items(0);
  EXPECT_EQ(kept->SubProperties().Count(), 0);
  ASSERT_TRUE(kept->Value.IsBytes());
  EXPECT_TRUE(cfb::IsCompoundFile(kept->Value.Bytes().data(), kept->Value.Bytes().size()));
}

TEST(MsgFileStructure, StoragesHandedInAreHeldToTheLimitsFromWhereTheyLand) {
  // A tree already MAX_EMBEDDED_MESSAGE_DEPTH embedded messages deep.
  TQvMessage target;
  TMSGProperties* level = &target.Properties();
  for (int i = 0; i < MAX_EMBEDDED_MESSAGE_DEPTH; ++i) {
    TMSGProperty* attach = level->Add();
    attach->TagID = TAG_ATTACHMENT_NODE;
    TMSGProperty* embedded = attach->SubProperties().Add();
    embedded->TagID = TAG_ATTACH_DATA_OBJ;
    level = &embedded->SubProperties();
  }
  const cfb::Storage dropped = NestedMessages(2);
  TQvMSGFile reader;
  reader.ReadStorage(dropped, *level);
  const TMSGProperty* attach = Named(*level, u"__attach_version1.0_#00000000");
  ASSERT_NE(attach, nullptr);
  const TMSGProperty* embedded = Tagged(attach->SubProperties(), TAG_ATTACH_DATA_OBJ);
  ASSERT_NE(embedded, nullptr);
  EXPECT_TRUE(embedded->Value.IsBytes());
  EXPECT_EQ(embedded->SubProperties().Count(), 0);
}

TEST(MsgFileStructure, RtfBodyWithALyingSizeAllocatesByItsData) {
  // "{\rtf1 WXYZWXYZWXYZWXYZWXYZ}" compressed, with RAWSIZE raised to 4 GB.
  const std::string data = "\x41\x00\x04\x20WXYZ\x0d\x6e\x7d\x01\x0e\xb0"s;
  const std::string stream = LE(data.size() + 12, 4) + LE(0xFFFFFFFF, 4) + "LZFu" + LE(0, 4) + data;
  cfb::Storage root = cfb::CreateMemory();
  Put(root, u"__substg1.0_10090102", stream);
  // The hash bucket of the same name in the named-property map is binary data.
  cfb::Storage names = root.CreateStorage(u"__nameid_version1.0");
  Put(names, u"__substg1.0_10090102", stream);
  const auto message = Load(root);
  const auto* rtf =
      dynamic_cast<const TMSGPropertyCompressedRTF*>(Tagged(message->Properties(), 0x10090102));
  ASSERT_NE(rtf, nullptr);
  EXPECT_EQ(rtf->Value.Bytes(), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
  EXPECT_LT(rtf->Value.Bytes().capacity(), 4096u);
  EXPECT_EQ(rtf->CompressionKind, RTF_KIND_COMPRESSED);
  EXPECT_EQ(message->Properties().BodyFormat, 2);

  const TMSGProperty* bucket =
      Tagged(Named(message->Properties(), u"__nameid_version1.0")->SubProperties(), 0x10090102);
  ASSERT_NE(bucket, nullptr);
  EXPECT_EQ(dynamic_cast<const TMSGPropertyCompressedRTF*>(bucket), nullptr);
  EXPECT_EQ(bucket->Value.Bytes(), stream);
}

TEST(MsgFileStructure, ImagesThatAreNotCompoundFilesRaise) {
  TQvMSGFile message;
  TMemoryStream text(std::string("This is not a compound file at all."));
  EXPECT_THROW(message.LoadFromStream(text), std::exception);
  EXPECT_EQ(message.Properties().Count(), 0);
  TMemoryStream empty;
  EXPECT_THROW(message.LoadFromStream(empty), std::exception);
}

// Damaged copies of real files (bytes overwritten, tails cut off) load or fail with an error,
// and never crash or hang.
TEST(MsgFileStructure, DamagedFilesLoadOrFailCleanly) {
  std::ifstream in(testutil::CorpusPath("msg/poi_attachment_test_msg.msg"), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string original = s.str();
  ASSERT_GT(original.size(), 10000u);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  int loaded = 0;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = original;
    const int edits = 1 + static_cast<int>(next() % 8);
    for (int k = 0; k < edits; ++k) {
      // Bias towards the header, the FAT and the directory, where damage matters most.
      const size_t at = (k % 2 == 0) ? next() % 2048 : next() % damaged.size();
      damaged[at] = static_cast<char>(next());
    }
    if (round % 10 == 0)
      damaged.resize(next() % damaged.size());
    TMemoryStream stream(std::move(damaged));
    TQvMSGFile message;
    try {
      message.LoadFromStream(stream);
      ++loaded;
    } catch (const std::exception&) {
    }
  }
  EXPECT_GT(loaded, 0);
}

} // namespace
} // namespace orlendo
