// The .msg reader on the real messages of the corpus: every file loads, the tree holds what
// olefile finds in the file, and 8-bit text comes out in the right code page.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "mime/signed_content.h"
#include "model/qvmsg.h"
#include "msg/compound_file.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "testutil/sha256.h"

namespace orlendo {
namespace {

using testutil::CorpusFiles;
using testutil::CorpusPath;

// Whether a file begins with the compound-file signature, read here on its own.
bool HasCompoundSignature(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[8] = {};
  in.read(head, 8);
  return in.gcount() == 8 && std::string(head, 8) == "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
}

TEST(MsgFileCorpus, EveryMessageLoadsAndNonCompoundFilesAreRefused) {
  int loaded = 0;
  int refused = 0;
  for (const std::string& path : CorpusFiles("msg", ".msg")) {
    TQvMSGFile message;
    if (HasCompoundSignature(path)) {
      EXPECT_NO_THROW(message.LoadFromFile(path)) << path;
      EXPECT_GT(message.Properties().Count(), 0) << path;
      ++loaded;
    } else {
      try {
        message.LoadFromFile(path);
        ADD_FAILURE() << "no error for " << path;
      } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "File " + path + " is not valid file (compound storage)");
      }
      ++refused;
    }
  }
  EXPECT_EQ(refused, 2);
  EXPECT_GE(loaded, 45);
}

TEST(MsgFileCorpus, MissingFileIsNotFoundAndLeavesTheModel) {
  TQvMSGFile message;
  message.LoadFromFile(CorpusPath("msg/poi_blank.msg"));
  const int before = message.Properties().Count();
  ASSERT_GT(before, 0);
  const std::string missing = CorpusPath("msg/no_such_message.msg");
  try {
    message.LoadFromFile(missing);
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "File " + missing + " is not found.");
  }
  EXPECT_EQ(message.Properties().Count(), before);
}

TEST(MsgFileCorpus, LoadFromStreamReadsTheSameTreeAsLoadFromFile) {
  for (const char* name : {"msg/kmr_Many_entities.msg", "msg/poi_attachment_msg_pdf.msg"}) {
    const std::string path = CorpusPath(name);
    TQvMSGFile fromFile;
    fromFile.LoadFromFile(path);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    // Something in front of the image: the stream is read from its position.
    bytes << "JUNK" << in.rdbuf();
    TMemoryStream stream(bytes.str());
    stream.SetPosition(4);
    TQvMSGFile fromStream;
    fromStream.LoadFromStream(stream);

    std::vector<std::pair<const TMSGProperties*, const TMSGProperties*>> pending{
        {&fromFile.Properties(), &fromStream.Properties()}};
    int records = 0;
    while (!pending.empty()) {
      auto [a, b] = pending.back();
      pending.pop_back();
      ASSERT_EQ(a->Count(), b->Count()) << name;
      for (int i = 0; i < a->Count(); ++i) {
        EXPECT_EQ(a->Items(i)->TagID, b->Items(i)->TagID);
        EXPECT_TRUE(a->Items(i)->Value == b->Items(i)->Value);
        EXPECT_EQ(a->Items(i)->DataSize, b->Items(i)->DataSize);
        pending.push_back({&a->Items(i)->SubProperties(), &b->Items(i)->SubProperties()});
        ++records;
      }
    }
    EXPECT_GT(records, 100) << name;
  }
}

// Lines per file, from olefile:
//   T <path> <tag> <size> <sha256> <hex of the first 8 bytes>   a stream whose name ends in a tag
//   P <path> <header size> <entries>                             a property stream
// <path> names the collection the record belongs to: the names of the node records from the
// root, each as the hex of its UTF-16LE bytes, joined by '/' ("" for the root). Streams inside
// an OLE object's storage are not listed: the object is kept as one record.
const char* const kOlefileRecordsScript = R"PY(
import hashlib, struct, sys
import olefile

OLE_STREAMS = {'\x01Ole', '\x01CompObj', '\x01Ole10Native', '\x02OlePres000', '\x03MailStream',
               '\x05SummaryInformation', '\x05DocumentSummaryInformation'}
HEX = set('0123456789abcdefABCDEF')

def tag_of(name):
    tail = name[-8:]
    if tail and all(c in HEX for c in tail):
        return int(tail, 16)
    return None

def node(name):
    # (model name, model tag) of a storage
    for word, tag in (('nameid_version', 0x00010000), ('recip_version', 0x0C000000),
                      ('attach_version', 0x37000000)):
        if word in name:
            return name, tag
    tag = tag_of(name)
    if tag is not None:
        return name[-8:], tag
    return name, 0

def header_size(parent_tag):
    if parent_tag is None:
        return 32
    pid = parent_tag >> 16
    if 0x0C00 <= pid <= 0x0DFF:
        return 8
    if 0x3700 <= pid <= 0x38FF:
        return 24 if parent_tag == 0x3701000D else 8
    return 0

INIT = (b'{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss '
        b'\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier'
        b'{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx')

def rtf(data):
    # The RTF body as the reader holds it: LZFu decompressed (output limit 2 x RAWSIZE), MELA
    # stored; anything else as it is.
    if len(data) <= 16:
        return data
    comp, raw, kind = struct.unpack('<III', data[:12])
    if kind == 0x414C454D:
        return data[16:16 + raw]
    if kind != 0x75465A4C:
        return data
    ring = bytearray(4096)
    ring[:len(INIT)] = INIT
    pos = len(INIT)
    src = data[16:max(16, min(len(data), comp + 4))]
    out = bytearray()
    i = 0
    def put(c):
        nonlocal pos
        if len(out) < 2 * raw:
            ring[pos] = c
            pos = (pos + 1) % 4096
            out.append(c)
    while i < len(src):
        flags = src[i]
        i += 1
        for bit in range(8):
            if i >= len(src):
                break
            if flags >> bit & 1:
                if i + 2 > len(src):
                    continue
                word = src[i] << 8 | src[i + 1]
                i += 2
                if word >> 4 == pos:
                    return bytes(out)
                for k in range((word & 15) + 2):
                    put(ring[((word >> 4) + k) % 4096])
            else:
                put(src[i])
                i += 1
    return bytes(out)

def key(name):
    return name.encode('utf-16-le').hex()

def walk(ole, tree, path, model_path, parent_tag):
    for name in sorted(tree, key=lambda n: (len(n), n.upper())):
        sub = tree[name]
        full = path + [name]
        if isinstance(sub, dict):
            mname, mtag = node(name)
            if mtag == 0x3701000D and any(n in OLE_STREAMS for n in sub):
                continue
            walk(ole, sub, full, model_path + [key(mname)], mtag)
            continue
        data = ole.openstream(full).read()
        tag = tag_of(name)
        mp = '/'.join(model_path)
        owner = tag_of(name[:-9]) if len(name) >= 17 and name[-9] == '-' else None
        if tag is not None and owner is not None and (owner & 0xFFFF) in (0x101E, 0x101F, 0x1102):
            # A value of a multi-valued property: one of the values of its property's record.
            print('E', mp or '-', '%08X' % owner, tag, hashlib.sha256(data).hexdigest())
        elif tag is not None:
            if tag == 0x10090102 and parent_tag != 0x00010000:
                held = rtf(data)
            elif (tag & 0xFFFF) == 0x001F:
                held = data[:len(data) // 2 * 2]
            else:
                held = data
            print('T', mp or '-', '%08X' % tag, len(data), hashlib.sha256(held).hexdigest(),
                  data[:8].hex() or '-')
        elif name == '__properties_version1.0':
            h = header_size(parent_tag)
            print('P', mp or '-', h, max(0, len(data) - h) // 16)

for path in sys.argv[1:]:
    print('FILE', path)
    ole = olefile.OleFileIO(path)
    tree = {}
    for entry in ole.listdir(streams=True, storages=True):
        level = tree
        for part in entry[:-1]:
            level = level.setdefault(part, {})
        if ole.get_type(entry) == olefile.STGTY_STORAGE:
            level.setdefault(entry[-1], {})
        else:
            level[entry[-1]] = None
    walk(ole, tree, [], [], None)
)PY";

std::string HexOfUtf16(const std::u16string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (char16_t c : s) {
    for (unsigned b : {static_cast<unsigned>(c & 0xFF), static_cast<unsigned>(c >> 8)}) {
      out += digits[b >> 4];
      out += digits[b & 15];
    }
  }
  return out;
}

std::string Utf16LeBytes(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

// The collections of a tree by path (as the script writes it), each with a cursor.
struct Level {
  const TMSGProperties* collection;
  int cursor = 0;
};

void IndexTree(const TMSGProperties& collection, const std::string& path,
               std::map<std::string, Level>& levels) {
  levels[path.empty() ? "-" : path] = Level{&collection};
  for (int i = 0; i < collection.Count(); ++i) {
    const TMSGProperty* r = collection.Items(i);
    if (r->SubProperties().Count() == 0 || !r->Value.IsWide())
      continue;
    if (r->Value.Wide() == u"__properties_version1.0")
      continue;
    const std::string key = HexOfUtf16(r->Value.Wide());
    IndexTree(r->SubProperties(), path.empty() ? key : path + "/" + key, levels);
  }
}

// The next record of the level (from its cursor) that matches.
template <class Match> const TMSGProperty* Next(Level& level, Match match) {
  for (int i = level.cursor; i < level.collection->Count(); ++i) {
    if (match(level.collection->Items(i))) {
      level.cursor = i + 1;
      return level.collection->Items(i);
    }
  }
  return nullptr;
}

int64_t LittleEndian(const std::string& hex, size_t bytes) {
  uint64_t v = 0;
  for (size_t i = bytes; i-- > 0;)
    v = (v << 8) | std::stoul(hex.substr(2 * i, 2), nullptr, 16);
  return bytes == 2 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
}

void CheckStreamRecord(const TMSGProperty& r, const std::string& sha, const std::string& head,
                       int64_t size, const std::string& where) {
  if (r.Value.IsMulti()) {
    // The stream of a multi-valued property is kept as stored, beside the values read from it.
    ASSERT_TRUE(r.Value.Multi().Stored.has_value()) << where;
    EXPECT_EQ(testutil::Sha256Hex(*r.Value.Multi().Stored), sha) << where;
    EXPECT_EQ(r.DataSize, size) << where;
    return;
  }
  if (size == 0) {
    EXPECT_TRUE(r.Value.IsEmpty()) << where;
    EXPECT_EQ(r.DataSize, 0) << where;
    return;
  }
  if (dynamic_cast<const TMSGPropertyCompressedRTF*>(&r) != nullptr) {
    // The RTF as the script decompressed it on its own.
    EXPECT_EQ(testutil::Sha256Hex(r.Value.Bytes()), sha) << where;
    return;
  }
  const uint16_t type = PropType(r.TagID);
  switch (type) {
  case 0x000D:
  case 0x001E:
  case 0x8008:
  case 0x8013:
  case 0x0102:
    ASSERT_TRUE(r.Value.IsBytes()) << where;
    EXPECT_EQ(testutil::Sha256Hex(r.Value.Bytes()), sha) << where;
    EXPECT_EQ(r.DataSize, size) << where;
    break;
  case 0x001F:
    ASSERT_TRUE(r.Value.IsWide()) << where;
    EXPECT_EQ(testutil::Sha256Hex(Utf16LeBytes(r.Value.Wide())), sha) << where;
    EXPECT_EQ(r.DataSize, size) << where;
    break;
  case 0x0002:
    if (size >= 2) {
      EXPECT_EQ(r.Value.AsInteger(), LittleEndian(head, 2)) << where;
    }
    break;
  case 0x0003:
  case 0x000A:
    if (size >= 4) {
      EXPECT_EQ(r.Value.AsInteger(), LittleEndian(head, 4)) << where;
    }
    break;
  default:
    break;
  }
}

TEST(MsgFileCorpus, TreeHoldsEveryTaggedStreamAndPropertyEntryThatOlefileSees) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is missing";
  std::vector<std::string> files;
  for (const std::string& path : CorpusFiles("msg", ".msg")) {
    if (HasCompoundSignature(path))
      files.push_back(path);
  }
  const testutil::ProcessResult result = testutil::RunPython(kOlefileRecordsScript, files);
  ASSERT_EQ(result.exitCode, 0) << result.err;

  std::istringstream lines(result.out);
  std::string line;
  std::unique_ptr<TQvMSGFile> message;
  std::map<std::string, Level> levels;
  std::string file;
  int streams = 0;
  int propertyStreams = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "FILE") {
      fields >> file;
      message = std::make_unique<TQvMSGFile>();
      ASSERT_NO_THROW(message->LoadFromFile(file)) << file;
      levels.clear();
      IndexTree(message->Properties(), "", levels);
      continue;
    }
    std::string path;
    fields >> path;
    const std::string where = file + " " + line;
    auto level = levels.find(path);
    ASSERT_NE(level, levels.end()) << where;
    if (kind == "T") {
      std::string tagHex, sha, head;
      int64_t size = 0;
      fields >> tagHex >> size >> sha >> head;
      const uint32_t tag = static_cast<uint32_t>(std::stoul(tagHex, nullptr, 16));
      const TMSGProperty* r = Next(level->second, [&](const TMSGProperty* p) {
        return p->TagID == tag && p->SubProperties().Count() == 0;
      });
      // A signed attachment's data is kept, as read, in the node that holds it once its content
      // is unpacked.
      for (int i = 0; r == nullptr && i < level->second.collection->Count(); ++i) {
        const TMSGProperty* holder = level->second.collection->Items(i);
        if (IsSignedHolder(*holder))
          r = holder->SubProperties().FindProperty(tag, false, false);
      }
      ASSERT_NE(r, nullptr) << where;
      CheckStreamRecord(*r, sha, head, size, where);
      ++streams;
    } else if (kind == "E") {
      std::string tagHex, sha;
      size_t index = 0;
      fields >> tagHex >> index >> sha;
      const TMSGProperty* r = level->second.collection->FindProperty(
          static_cast<uint32_t>(std::stoul(tagHex, nullptr, 16)), false, false);
      ASSERT_NE(r, nullptr) << where;
      ASSERT_TRUE(r->Value.IsMulti()) << where;
      ASSERT_LT(index, r->Value.Multi().Items.size()) << where;
      const TVariant& item = r->Value.Multi().Items[index];
      EXPECT_EQ(testutil::Sha256Hex(item.IsWide() ? Utf16LeBytes(item.Wide()) : item.Bytes()), sha)
          << where;
      ++streams;
    } else if (kind == "P") {
      size_t header = 0;
      int entries = 0;
      fields >> header >> entries;
      const TMSGProperty* r = Next(level->second, [](const TMSGProperty* p) {
        return p->TagID == 0 && p->Value.IsWide() && p->Value.Wide() == u"__properties_version1.0";
      });
      ASSERT_NE(r, nullptr) << where;
      EXPECT_EQ(r->SubProperties().Count(), entries) << where;
      const auto* withHeader = dynamic_cast<const TMSGPropertyWithHeader*>(r);
      EXPECT_EQ(withHeader == nullptr ? 0 : withHeader->HeaderSize(), header) << where;
      ++propertyStreams;
    }
  }
  EXPECT_GT(streams, 2000);
  EXPECT_GT(propertyStreams, 100);
}

// Expected texts read independently with olefile and python's codecs: the subject stream of
// each file decoded with the code page its INTERNET_CPID stands for (1251; 50220 -> 932).
TEST(MsgFileCorpus, EightBitSubjectsComeOutInTheirCodePage) {
  struct Case {
    const char* file;
    std::u16string subject;
  };
  const Case cases[] = {
      {"msg/poi_ASCII_CP1251_LCID1049.msg",
       u"Subject \u0430\u0432\u0442\u043e\u043c\u0430\u0442\u0438\u0447\u0435\u0441\u043a\u0438 "
       u"Subject"},
      {"msg/kmr_contactAnsi.msg",
       u"\u30b3\u30e0 \u30c9\u30c3\u30c8 \u30a4\u30b0\u30b6\u30f3\u30d7\u30eb \u6bbf"},
      {"msg/omp_chinese_message.msg", u""},
  };
  for (const Case& c : cases) {
    TQvMSGFile message;
    message.LoadFromFile(CorpusPath(c.file));
    EXPECT_EQ(message.Properties().GetPropertyText(0x0037001F, true, false), c.subject) << c.file;
  }
  // The subject of the Chinese message is empty; its body carries the text.
  TQvMSGFile chinese;
  chinese.LoadFromFile(CorpusPath("msg/omp_chinese_message.msg"));
  const std::u16string body = chinese.Properties().GetPropertyText(0x1000001F, true, false);
  EXPECT_EQ(body.substr(0, 33), u" \r\n \r\nDears\uff1a\r\n      \u7ecf\u8fc7\u6c47\u603b "
                                u"\u5927\u5bb6\u63d0\u524d\u5408\u7406\u5b89\u6392");
}

} // namespace
} // namespace orlendo
