// Multi-valued properties: every type read into one record with all its values, shown as text,
// and written back with the bytes of every stream; and a read-and-save of every corpus message
// keeps every tagged stream's bytes.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>

#include "model/utf8.h"
#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/qvmsgcp.h"

namespace orlendo {
namespace {

using namespace std::string_literals;
using testutil::TempDir;

std::string LE(uint64_t v, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}
std::string Utf16(const std::u16string& s) {
  std::string out;
  for (char16_t c : s)
    out += LE(c, 2);
  return out;
}

// Every stream of a compound file by path, with its bytes.
void Streams(const cfb::Storage& storage, const std::string& prefix,
             std::map<std::string, std::string>& out) {
  for (const cfb::EntryStat& e : storage.Children()) {
    const std::string path = prefix + EncodeUtf8(e.name);
    if (e.kind == cfb::EntryKind::Storage)
      Streams(storage.OpenStorage(e.name), path + "/", out);
    else
      out[path] = storage.OpenStream(e.name).ReadAll();
  }
}

TEST(MultiValued, EveryTypeReadAsOneRecordAndWrittenBackByteForByte) {
  // One property of each multi-valued type, with values that a plain number or time cannot
  // hold exactly (a 64-bit integer above 2^53, a time with 100-ns units).
  const std::string guid1 = "\x29\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"s;
  const std::string guid2 = "\x08\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"s;
  const std::map<std::u16string, std::string> streams = {
      {u"__substg1.0_80011002", LE(7, 2) + LE(0xFFFF, 2)},
      {u"__substg1.0_80021003", LE(1, 4) + LE(0xFFFFFFFE, 4) + LE(300, 4)},
      {u"__substg1.0_80031004", LE(0x3FC00000, 4)},                    // 1.5f
      {u"__substg1.0_80041005", LE(0x4004000000000000, 8)},            // 2.5
      {u"__substg1.0_80051006", LE(123456, 8)},                        // 12.3456
      {u"__substg1.0_80061007", LE(0x40E5F8E000000000, 8)},            // an application time
      {u"__substg1.0_80071014", LE(0x0020000000000001, 8) + LE(5, 8)}, // 2^53 + 1
      {u"__substg1.0_80081040", LE(0x01D9A1B2C3D4E5F7, 8)},            // 100-ns units
      {u"__substg1.0_80091048", guid1 + guid2},
      {u"__substg1.0_800A101E", LE(4, 4) + LE(3, 4)},
      {u"__substg1.0_800A101E-00000000", "Red\0"s},
      {u"__substg1.0_800A101E-00000001", "Ok\0"s},
      {u"__substg1.0_800B101F", LE(6, 4) + LE(8, 4)},
      {u"__substg1.0_800B101F-00000000", Utf16(u"Hé\0"s)},
      {u"__substg1.0_800B101F-00000001", Utf16(u"🙂x\0"s)},
      {u"__substg1.0_800C1102", LE(3, 4) + LE(0, 4) + LE(1, 4) + LE(0, 4)},
      {u"__substg1.0_800C1102-00000000", "\x01\x02\x1B"s},
      {u"__substg1.0_800C1102-00000001", "\xFF"s},
  };
  TempDir dir;
  const std::string original = dir.File("multi.msg");
  {
    cfb::Storage root = cfb::CreateFile(original);
    for (const auto& [name, bytes] : streams) {
      cfb::Stream s = root.CreateStream(name);
      s.Write(bytes.data(), bytes.size());
    }
    cfb::Commit(root);
  }
  TQvMSGFile message;
  message.LoadFromFile(original);
  const TMSGProperties& root = message.Properties();
  // One record per property, none for an element stream.
  ASSERT_EQ(root.Count(), 12);
  const std::map<uint32_t, std::string> texts = {
      {0x80011002, "7\r\n-1"},
      {0x80021003, "1\r\n-2\r\n300"},
      {0x80061007, EncodeUtf8(TVariant::FromDateTime(44999.0).ToWide())},
      {0x80091048, "{00020329-0000-0000-C000-000000000046}\r\n"
                   "{00062008-0000-0000-C000-000000000046}"},
      {0x800A101E, "Red\r\nOk"},
      {0x800B101F, "Hé\r\n🙂x"},
      {0x800C1102, "01 02 1B\r\nFF"},
  };
  for (int i = 0; i < root.Count(); ++i) {
    const TMSGProperty& record = *root.Items(i);
    SCOPED_TRACE(record.TagID);
    EXPECT_TRUE(record.Value.IsMulti());
    const std::u16string name = u"__substg1.0_" + utf8::Decode([&] {
                                  char hex[9];
                                  std::snprintf(hex, sizeof hex, "%08X", record.TagID);
                                  return std::string(hex);
                                }());
    EXPECT_EQ(record.DataSize, static_cast<int32_t>(streams.at(name).size()));
    if (texts.count(record.TagID)) {
      EXPECT_EQ(EncodeUtf8(record.GetValueText()), texts.at(record.TagID));
    }
  }
  EXPECT_EQ(root.FindProperty(0x80071014, false, false)->Value.Multi().Items.size(), 2u);

  const std::string written = dir.File("written.msg");
  message.SaveToMSG(written, true);
  std::map<std::string, std::string> before, after;
  Streams(cfb::OpenFile(original), "", before);
  Streams(cfb::OpenFile(written), "", after);
  EXPECT_EQ(after, before);

  // Values made in memory, without stored bytes, are written from the values themselves.
  TQvMSGFile made;
  TMSGProperty* list = made.Properties().Add();
  list->TagID = 0x8001101F;
  list->Value =
      TVariant::FromMulti({{TVariant::FromWide(u"a\0"s), TVariant::FromWide(u"bc\0"s)}, {}});
  TMSGProperty* numbers = made.Properties().Add();
  numbers->TagID = 0x80021003;
  numbers->Value = TVariant::FromMulti({{TVariant::FromInteger(5), TVariant::FromInteger(-1)}, {}});
  made.SaveToMSG(written, true);
  std::map<std::string, std::string> fromValues;
  Streams(cfb::OpenFile(written), "", fromValues);
  EXPECT_EQ(fromValues, (std::map<std::string, std::string>{
                            {"__substg1.0_8001101F", LE(4, 4) + LE(6, 4)},
                            {"__substg1.0_8001101F-00000000", Utf16(u"a\0"s)},
                            {"__substg1.0_8001101F-00000001", Utf16(u"bc\0"s)},
                            {"__substg1.0_80021003", LE(5, 4) + LE(0xFFFFFFFF, 4)},
                        }));
}

// Every stream whose name carries a tag, by its path, with its bytes (nullopt when it cannot be
// read). The names are the standard ones that the tag gives, __substg1.0_XXXXXXXX, with
// -NNNNNNNN after it for the values of a multi-valued property. The RTF body is left out: it is
// written uncompressed.
void TaggedStreams(const cfb::Storage& storage, const std::string& prefix, bool inNameMap,
                   std::map<std::string, std::optional<std::string>>& out) {
  static const std::regex tagged(".*?([0-9A-Fa-f]{8})(-[0-9A-Fa-f]{8})?");
  for (const cfb::EntryStat& e : storage.Children()) {
    const std::string name = EncodeUtf8(e.name);
    if (e.kind == cfb::EntryKind::Storage) {
      TaggedStreams(storage.OpenStorage(e.name), prefix + name + "/",
                    inNameMap || name.find("nameid_version") != std::string::npos, out);
      continue;
    }
    std::smatch m;
    if (!std::regex_match(name, m, tagged))
      continue;
    std::string tag = m[2].matched ? m[1].str() + m[2].str() : name.substr(name.size() - 8);
    if (m[2].matched && !IsVariableMultiValueType(std::stoul(m[1].str(), nullptr, 16) & 0xFFFF))
      tag = m[2].str().substr(1);
    for (char& c : tag)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (tag == "10090102" && !inNameMap)
      continue;
    std::optional<std::string>& bytes = out[prefix + "__substg1.0_" + tag];
    try {
      bytes = storage.OpenStream(e.name).ReadAll();
    } catch (const cfb::EOleError&) {
      bytes = std::nullopt;
    }
  }
}

TEST(MultiValued, EveryCorpusMessageKeepsEveryTaggedStream) {
  TempDir dir;
  size_t compared = 0;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    if (!cfb::IsCompoundFile(path))
      continue;
    SCOPED_TRACE(path);
    TQvMSGFile original;
    original.LoadFromFile(path);
    const std::string written = dir.File("rewritten.msg");
    original.SaveToMSG(written, true);
    std::map<std::string, std::optional<std::string>> before, after;
    TaggedStreams(cfb::OpenFile(path), "", false, before);
    TaggedStreams(cfb::OpenFile(written), "", false, after);
    for (const auto& [name, bytes] : before) {
      const auto it = after.find(name);
      if (it == after.end()) {
        ADD_FAILURE() << "missing " << name;
      } else if (!bytes) {
        // A damaged stream of the original: the reader keeps its record without a value.
        EXPECT_EQ(it->second, std::string()) << name;
      } else if (it->second != bytes) {
        ADD_FAILURE() << "changed " << name << " " << bytes->size();
      }
    }
    for (const auto& entry : after) {
      if (before.count(entry.first) == 0)
        ADD_FAILURE() << "extra " << entry.first;
    }
    compared += before.size();
  }
  EXPECT_GT(compared, 3000u);
}

// The messages with categories, keywords, e-mail lists and reactions: their multi-valued
// properties are single records that show their values.
TEST(MultiValued, CorpusListsAreOneRecordEach) {
  for (const char* name :
       {"msg/mprs_test_email.msg", "msg/mrdr_EmailWithReactions.msg", "msg/kmr_contactAnsi.msg",
        "msg/poi_msgClassContact.msg", "msg/rmsg_Swetlana_Novikova.msg"}) {
    SCOPED_TRACE(name);
    TQvMSGFile message;
    message.LoadFromFile(testutil::CorpusPath(name));
    int multi = 0;
    std::vector<const TMSGProperties*> levels{&message.Properties()};
    while (!levels.empty()) {
      const TMSGProperties* level = levels.back();
      levels.pop_back();
      for (int i = 0; i < level->Count(); ++i) {
        const TMSGProperty& r = *level->Items(i);
        // A record of tag 0..0xFFFF is an element stream taken for a property of its own.
        if (r.SubProperties().Count() == 0 && r.TagID != 0) {
          EXPECT_GE(r.TagID, 0x10000u) << std::hex << r.TagID;
        }
        if ((PropType(r.TagID) & MV_FLAG) != 0 && r.SubProperties().Count() == 0) {
          ++multi;
          EXPECT_TRUE(r.Value.IsMulti()) << std::hex << r.TagID;
          EXPECT_FALSE(r.Value.Multi().Items.empty() && r.DataSize > 0) << std::hex << r.TagID;
        }
        if (r.SubProperties().Count() > 0)
          levels.push_back(&r.SubProperties());
      }
    }
    EXPECT_GT(multi, 0);
  }
}

} // namespace
} // namespace orlendo
