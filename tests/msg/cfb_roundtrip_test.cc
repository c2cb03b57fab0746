// Copying, creating, replacing, reading and writing through the public face of the compound-file
// layer, and reading back what was written.
#include <gtest/gtest.h>

#include <fstream>

#include "msg/cfb_directory.h"
#include "msg/compound_file.h"
#include "testutil/cfb_tree.h"
#include "testutil/run_process.h"

namespace orlendo::cfb {
namespace {

using testutil::DumpCompoundTree;

#define EXPECT_OLE_ERROR(statement, code, message)                                                 \
  do {                                                                                             \
    try {                                                                                          \
      statement;                                                                                   \
      ADD_FAILURE() << "no EOleError from " #statement;                                            \
    } catch (const EOleError& e) {                                                                 \
      EXPECT_EQ(e.Code(), uint32_t(code)) << e.what();                                             \
      EXPECT_EQ(std::string(e.what()), std::string(message));                                      \
    }                                                                                              \
  } while (0)

// Element statistics that DumpCompoundTree leaves out: state bits and times, depth first.
std::vector<std::string> StatLines(const Storage& root) {
  std::vector<std::string> lines;
  std::vector<std::pair<Storage, std::string>> pending{{root, ""}};
  while (!pending.empty()) {
    auto [s, prefix] = pending.back();
    pending.pop_back();
    for (const EntryStat& e : s.Children()) {
      const std::string path = prefix + "/" + testutil::NameKey(e.name);
      lines.push_back(path + " " + std::to_string(e.stateBits) + " " +
                      std::to_string(e.creationTime) + " " + std::to_string(e.modificationTime));
      if (e.kind == EntryKind::Storage)
        pending.emplace_back(s.OpenStorage(e.name), path);
    }
  }
  return lines;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CfbRoundTrip, CopyingEveryCorpusFileKeepsTreeAndBytes) {
  size_t copied = 0;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    if (!IsCompoundFile(path))
      continue;
    const Storage original = OpenFile(path);
    const std::vector<std::string> before = DumpCompoundTree(original);
    Storage copy = CreateMemory();
    bool damaged = false;
    for (const std::string& l : before)
      damaged = damaged || l.find(" error ") != std::string::npos;
    if (damaged) {
      // A stream that cannot be read cannot be copied: the copy fails with the reader's code
      // rather than leaving something out.
      EXPECT_THROW(original.CopyTo(copy), EOleError) << path;
      continue;
    }
    original.CopyTo(copy);
    const std::string image = MemoryImage(copy);
    const Storage reread = OpenMemory(image, Validation::Strict);
    EXPECT_EQ(DumpCompoundTree(reread), before) << path;
    EXPECT_EQ(StatLines(reread), StatLines(original)) << path;
    EXPECT_EQ(reread.Stat().clsid, original.Stat().clsid);
    ++copied;
  }
  EXPECT_GT(copied, 40u);
}

TEST(CfbRoundTrip, UnchangedMemoryFileKeepsItsImage) {
  const std::string path = testutil::CorpusPath("msg/kmr_longerFat.msg");
  const std::string bytes = ReadFile(path);
  Storage root = OpenMemory(bytes);
  EXPECT_EQ(DumpCompoundTree(root), DumpCompoundTree(OpenFile(path)));
  EXPECT_EQ(MemoryImage(root), bytes);
}

TEST(CfbRoundTrip, ChildrenComeInCompoundFileOrder) {
  Storage root = CreateMemory();
  for (const char16_t* name :
       {u"b", u"__properties_version1.0", u"aa", u"A", u"__substg1.0_0037001F", u"Ab",
        u"__recip_version1.0_#00000000", u"B_"}) {
    root.CreateStream(name);
  }
  const std::vector<std::u16string> expected = {u"A",
                                                u"b",
                                                u"aa",
                                                u"Ab",
                                                u"B_",
                                                u"__substg1.0_0037001F",
                                                u"__properties_version1.0",
                                                u"__recip_version1.0_#00000000"};
  for (const Storage& s : {root, OpenMemory(MemoryImage(root))}) {
    std::vector<std::u16string> names;
    for (const EntryStat& e : s.Children())
      names.push_back(e.name.str());
    EXPECT_EQ(names, expected);
  }
}

TEST(CfbRoundTrip, CreatingReplacesAnElementOfTheSameName) {
  Storage root = CreateMemory();
  Stream old = root.CreateStream(u"Data");
  old.Write("abc", 3);
  Storage sub = root.CreateStorage(u"DATA"); // names compare without case
  sub.CreateStream(u"inner").Write("x", 1);
  ASSERT_EQ(root.Children().size(), 1u);
  EXPECT_EQ(root.Children()[0].kind, EntryKind::Storage);
  EXPECT_EQ(root.Children()[0].name, u"DATA");
  char c;
  EXPECT_OLE_ERROR(old.Read(&c, 1), STG_E_REVERTED,
                   "The element has been removed or replaced: Data");
  // Replacing the storage takes its subtree with it.
  root.CreateStream(u"data").Write("yz", 2);
  EXPECT_OLE_ERROR(sub.Children(), STG_E_REVERTED,
                   "The element has been removed or replaced: DATA");
  const Storage reread = OpenMemory(MemoryImage(root), Validation::Strict);
  ASSERT_EQ(reread.Children().size(), 1u);
  EXPECT_EQ(reread.OpenStream(u"Data").ReadAll(), "yz");
  EXPECT_TRUE(reread.Exists(u"DATA"));
  EXPECT_FALSE(reread.Exists(u"inner"));
  EXPECT_OLE_ERROR(reread.OpenStorage(u"data"), STG_E_FILENOTFOUND,
                   "The file or element could not be found: No storage named \"data\"");
  EXPECT_OLE_ERROR(reread.OpenStream(u"missing"), STG_E_FILENOTFOUND,
                   "The file or element could not be found: No stream named \"missing\"");
}

// Storages of a few children are sorted one way and large ones another: both list in the
// format's name order (shorter names first, then by upper case), made or read back.
// A storage read from a file already lists its children in name order; one added to it takes
// its place among them.
TEST(CfbRoundTrip, ChildrenAddedToAStorageReadFromAFileAreListedInNameOrder) {
  Storage made = CreateMemory();
  for (const char16_t* name : {u"B", u"D", u"F"})
    made.CreateStream(name);
  Storage read = OpenMemory(MemoryImage(made));
  read.CreateStream(u"C");
  read.CreateStorage(u"EE");
  read.CreateStream(u"A");
  std::vector<std::u16string> names;
  for (const EntryStat& e : read.Children())
    names.push_back(e.name.str());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B", u"C", u"D", u"F", u"EE"}));
}

TEST(CfbRoundTrip, ChildrenAreListedInNameOrderWhateverTheirNumber) {
  for (int count : {1, 2, 7, 63, 64, 65, 300}) {
    Storage root = CreateMemory();
    std::vector<std::u16string> names;
    for (int i = 0; i < count; ++i) {
      // Made in an order unlike the name order, of mixed lengths and cases.
      const int k = (i * 37 + 11) % count;
      std::string s = (k % 3 == 0 ? "b" : k % 3 == 1 ? "A" : "__substg1.0_") + std::to_string(k);
      names.emplace_back(s.begin(), s.end());
      root.CreateStream(names.back()).Write("x", 1);
    }
    for (const Storage& s : {root, OpenMemory(MemoryImage(root), Validation::Strict)}) {
      const std::vector<EntryStat> children = s.Children();
      ASSERT_EQ(children.size(), names.size()) << count;
      for (size_t i = 1; i < children.size(); ++i)
        ASSERT_LT(CompareNames(children[i - 1].name, children[i].name), 0)
            << count << " children, at " << i;
    }
  }
}

TEST(CfbRoundTrip, LargeStoragesFindEveryChildByName) {
  Storage root = CreateMemory();
  auto name = [](const char* prefix, int i) {
    const std::string s = prefix + std::to_string(i);
    return std::u16string(s.begin(), s.end());
  };
  for (int i = 0; i < 2000; ++i) {
    const std::string v = std::to_string(i);
    root.CreateStream(name("s", i)).Write(v.data(), v.size());
  }
  ASSERT_EQ(root.OpenStream(u"S1234").ReadAll(), "1234"); // builds the index of 2000 names
  root.CreateStorage(u"S1000");                           // replaces s1000
  root.CreateStream(name("new", 7)).Write("n", 1);        // added after the index exists
  for (const Storage& s : {root, OpenMemory(MemoryImage(root), Validation::Strict)}) {
    EXPECT_EQ(s.Children().size(), 2001u);
    for (int i = 0; i < 2000; ++i) {
      if (i == 1000)
        continue;
      ASSERT_EQ(s.OpenStream(name(i % 2 ? "S" : "s", i)).ReadAll(), std::to_string(i));
    }
    EXPECT_NO_THROW(s.OpenStorage(u"s1000"));
    EXPECT_THROW(s.OpenStream(u"s1000"), EOleError);
    EXPECT_EQ(s.OpenStream(u"NEW7").ReadAll(), "n");
    EXPECT_FALSE(s.Exists(u"s2000"));
  }
}

TEST(CfbRoundTrip, RefusesBadNames) {
  Storage root = CreateMemory();
  for (const std::u16string& name :
       {std::u16string(), std::u16string(32, u'x'), std::u16string(u"a/b"), std::u16string(u"a\\b"),
        std::u16string(u"a:b"), std::u16string(u"a!b")}) {
    try {
      root.CreateStream(name);
      ADD_FAILURE() << "accepted a bad name of " << name.size() << " units";
    } catch (const EOleError& e) {
      EXPECT_EQ(e.Code(), STG_E_INVALIDNAME);
    }
  }
  EXPECT_NO_THROW(root.CreateStream(std::u16string(31, u'x')));
}

TEST(CfbRoundTrip, StreamsReadSeekAndWriteAcrossTheMiniStreamCutoff) {
  Storage root = CreateMemory();
  Stream s = root.CreateStream(u"s");
  std::string data(5000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = char(i * 7 + i / 256);
  EXPECT_EQ(s.Write(data.data(), 3000), 3000u);
  EXPECT_EQ(s.Write(data.data() + 3000, 2000), 2000u);
  EXPECT_EQ(s.Size(), 5000u);
  EXPECT_EQ(s.Seek(4090, SeekOrigin::Begin), 4090u);
  char buf[20];
  EXPECT_EQ(s.Read(buf, 10), 10u);
  EXPECT_EQ(std::string(buf, 10), data.substr(4090, 10));
  EXPECT_EQ(s.Seek(-5, SeekOrigin::Current), 4095u);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::End), 4999u);
  EXPECT_EQ(s.Read(buf, 20), 1u);
  EXPECT_EQ(s.Read(buf, 20), 0u);
  EXPECT_EQ(s.Seek(100, SeekOrigin::End), 5100u);
  EXPECT_EQ(s.Read(buf, 20), 0u);
  EXPECT_OLE_ERROR(s.Seek(-5101, SeekOrigin::Current), STG_E_INVALIDFUNCTION,
                   "Unable to perform the requested operation: Seek to 5100 + -5101");
  EXPECT_EQ(s.Position(), 5100u);

  Commit(root); // handles stay usable; the bytes now come from the new image
  EXPECT_EQ(s.ReadAll(), data);
  EXPECT_EQ(s.Position(), 5100u);
  s.Write("!", 1); // past the end: the gap reads as zeros
  EXPECT_EQ(s.Size(), 5101u);
  s.SetSize(4000); // now below the cutoff: it moves to the mini stream on commit
  Storage reread = OpenMemory(MemoryImage(root), Validation::Strict);
  EXPECT_EQ(reread.OpenStream(u"s").ReadAll(), data.substr(0, 4000));
  s.SetSize(4100);
  reread = OpenMemory(MemoryImage(root), Validation::Strict);
  EXPECT_EQ(reread.OpenStream(u"s").ReadAll(), data.substr(0, 4000) + std::string(100, '\0'));
}

TEST(CfbRoundTrip, FilesOnDiskAreReplacedAndCompletedOnRelease) {
  testutil::TempDir dir;
  const std::string path = dir.File("out.msg");
  std::ofstream(path) << "not a compound file, and longer than nothing";
  {
    Storage root = CreateFile(path);
    EXPECT_TRUE(IsCompoundFile(path)); // replaced at once
    root.CreateStorage(u"sub").CreateStream(u"s").Write("hello", 5);
  } // no commit: the last handle going completes the file
  EXPECT_EQ(OpenFile(path, Validation::Strict).OpenStorage(u"sub").OpenStream(u"s").ReadAll(),
            "hello");

  Storage readOnly = OpenFile(path);
  EXPECT_OLE_ERROR(readOnly.CreateStream(u"x"), STG_E_ACCESSDENIED,
                   "Access denied: The compound file is open read-only");
  EXPECT_OLE_ERROR(OpenFile(dir.File("missing.msg")), STG_E_FILENOTFOUND,
                   "The file or element could not be found: " + dir.File("missing.msg"));
  EXPECT_OLE_ERROR(CreateFile(dir.File("no/such/folder.msg")), STG_E_PATHNOTFOUND,
                   "The path could not be found: " + dir.File("no/such/folder.msg"));
  EXPECT_FALSE(IsCompoundFile(dir.File("missing.msg")));
  EXPECT_FALSE(IsCompoundFile(dir.Path()));
}

TEST(CfbRoundTrip, CopyIntoItsOwnSubtreeCopiesTheTreeAsItWas) {
  Storage root = CreateMemory();
  root.CreateStream(u"a").Write("1", 1);
  Storage sub = root.CreateStorage(u"sub");
  sub.CreateStream(u"b").Write("2", 1);
  root.CopyTo(sub);
  const std::vector<std::string> lines = DumpCompoundTree(OpenMemory(MemoryImage(root)));
  // root: a, sub{b, a, sub{b}} -- the copy of "sub" replaced nothing but sub's own "sub".
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_EQ(root.OpenStorage(u"sub").OpenStorage(u"sub").OpenStream(u"b").ReadAll(), "2");
  EXPECT_EQ(root.OpenStorage(u"sub").OpenStream(u"a").ReadAll(), "1");
}

TEST(CfbErrors, MessagesCarryTheCodeText) {
  EXPECT_STREQ(EOleError(0x1234ABCD).what(), "OLE error 1234abcd");
  EXPECT_STREQ(EOleError(0x80030042, "detail").what(), "OLE error 80030042: detail");
  EXPECT_EQ(EOleError::TextForCode(0x8003ABCD), "OLE error 8003abcd");
  EXPECT_STREQ(EOleError(STG_E_DOCFILECORRUPT, "x").what(), "The compound file is corrupt: x");
  for (uint32_t code : {STG_E_INVALIDFUNCTION,
                        STG_E_FILENOTFOUND,
                        STG_E_PATHNOTFOUND,
                        STG_E_ACCESSDENIED,
                        STG_E_INVALIDHANDLE,
                        STG_E_INSUFFICIENTMEMORY,
                        STG_E_INVALIDPOINTER,
                        STG_E_WRITEFAULT,
                        STG_E_READFAULT,
                        STG_E_FILEALREADYEXISTS,
                        STG_E_INVALIDPARAMETER,
                        STG_E_MEDIUMFULL,
                        STG_E_INVALIDHEADER,
                        STG_E_INVALIDNAME,
                        STG_E_UNKNOWN,
                        STG_E_UNIMPLEMENTEDFUNCTION,
                        STG_E_INVALIDFLAG,
                        STG_E_REVERTED,
                        STG_E_CANTSAVE,
                        STG_E_OLDFORMAT,
                        STG_E_OLDDLL,
                        STG_E_SHAREREQUIRED,
                        STG_E_NOTFILEBASEDSTORAGE,
                        STG_E_EXTANTMARSHALLINGS,
                        STG_E_DOCFILECORRUPT}) {
    EXPECT_EQ(EOleError::TextForCode(code).rfind("OLE error", 0), std::string::npos) << code;
  }
}

} // namespace
} // namespace orlendo::cfb

namespace orlendo::cfb {
namespace {

// The directory of a version 3 image that our writer made (its FAT sectors come first and
// contiguous), read straight from its bytes.
struct RawEntry {
  std::string name; // ASCII names only in this test
  uint8_t type, color;
  uint32_t left, right, child;
};

std::vector<RawEntry> RawDirectory(const std::string& img) {
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(img[at])) | uint32_t(uint8_t(img[at + 1])) << 8 |
           uint32_t(uint8_t(img[at + 2])) << 16 | uint32_t(uint8_t(img[at + 3])) << 24;
  };
  const size_t fat = 512 + 512 * size_t(u32(76));
  std::vector<RawEntry> out;
  for (uint32_t s = u32(48); s < 0xFFFFFFFA; s = u32(fat + 4 * s)) {
    for (int i = 0; i < 4; ++i) {
      const size_t at = 512 + 512 * size_t(s) + 128 * i;
      RawEntry e;
      const size_t units = (uint8_t(img[at + 64]) | uint8_t(img[at + 65]) << 8) / 2;
      for (size_t u = 0; u + 1 < units; ++u)
        e.name += img[at + 2 * u];
      e.type = uint8_t(img[at + 66]);
      e.color = uint8_t(img[at + 67]);
      e.left = u32(at + 68);
      e.right = u32(at + 72);
      e.child = u32(at + 76);
      out.push_back(e);
    }
  }
  return out;
}

bool Before(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = char(std::toupper(uint8_t(a[i]))), y = char(std::toupper(uint8_t(b[i])));
    if (x != y)
      return x < y;
  }
  return false;
}

// Checks the sibling tree below root: names in order, red-black rules; returns the names in
// order.
std::vector<std::string> CheckRedBlack(const std::vector<RawEntry>& dir, uint32_t root) {
  std::vector<std::string> inOrder;
  if (root == 0xFFFFFFFF)
    return inOrder;
  EXPECT_EQ(dir[root].color, 1) << "the root of a sibling tree is black";
  int blackHeight = -1;
  struct Item {
    uint32_t id;
    int blacks;
    bool expanded;
  };
  std::vector<Item> stack{{root, 0, false}};
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    if (it.id == 0xFFFFFFFF) {
      if (blackHeight < 0)
        blackHeight = it.blacks;
      EXPECT_EQ(it.blacks, blackHeight) << "every path has as many black entries";
      continue;
    }
    const RawEntry& e = dir[it.id];
    if (it.expanded) {
      inOrder.push_back(e.name);
      continue;
    }
    const int blacks = it.blacks + (e.color == 1);
    if (e.color == 0) {
      for (uint32_t c : {e.left, e.right}) {
        if (c != 0xFFFFFFFF) {
          EXPECT_EQ(dir[c].color, 1) << "a red entry has black children";
        }
      }
    }
    stack.push_back({e.right, blacks, false});
    stack.push_back({it.id, blacks, true});
    stack.push_back({e.left, blacks, false});
  }
  for (size_t i = 1; i < inOrder.size(); ++i) {
    EXPECT_TRUE(Before(inOrder[i - 1], inOrder[i])) << inOrder[i - 1] << " " << inOrder[i];
  }
  return inOrder;
}

TEST(CfbWriter, SiblingTreesAreRedBlackTreesInNameOrder) {
  Storage root = CreateMemory();
  constexpr int kStorages = 40;
  for (int n = 1; n <= kStorages; ++n) {
    const std::string storageName = "st" + std::to_string(n); // holds n streams
    Storage s = root.CreateStorage(std::u16string(storageName.begin(), storageName.end()));
    // Names of mixed length and case, created out of order.
    for (int i = n - 1; i >= 0; --i) {
      std::u16string name(size_t(1 + (i * 7) % 5), char16_t(i % 2 ? u'a' + i % 26 : u'A' + i % 26));
      name += char16_t(u'0' + i / 10);
      name += char16_t(u'0' + i % 10);
      s.CreateStream(name);
    }
  }
  const std::string image = MemoryImage(root);
  const std::vector<RawEntry> dir = RawDirectory(image);
  ASSERT_EQ(dir[0].type, 5);
  const std::vector<std::string> top = CheckRedBlack(dir, dir[0].child);
  EXPECT_EQ(top.size(), size_t(kStorages));
  size_t storagesChecked = 0;
  for (const RawEntry& e : dir) {
    if (e.type != 1)
      continue;
    const std::vector<std::string> kids = CheckRedBlack(dir, e.child);
    EXPECT_EQ(kids.size(), size_t(std::stoi(e.name.substr(2)))) << e.name;
    ++storagesChecked;
  }
  EXPECT_EQ(storagesChecked, size_t(kStorages));
}

} // namespace
} // namespace orlendo::cfb
