// Damaged and hostile compound files. Each case writes a good file into memory, patches bytes at
// an offset computed from the file's own structures, and expects the exact error, or the one
// damaged element skipped while the rest stays readable; never a crash, a hang or a huge
// allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>

#include "msg/compound_file.h"
#include "testutil/cfb_tree.h"

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

const std::string kCorrupt = "The compound file is corrupt: ";
const std::string kInvalidHeader = "The file is not a valid compound file: ";

// A version 3 image, read and patched through its own header, FAT and directory. Written here
// rather than with our reader, so that a fault in the reader cannot hide itself.
struct Image {
  std::string bytes;

  uint32_t U32(size_t at) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  void SetU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = char(v >> (8 * i));
  }
  static size_t SectorOffset(uint32_t s) { return 512 + size_t(s) * 512; }
  uint32_t Sectors() const { return uint32_t((bytes.size() - 512) / 512); }
  size_t FatEntry(uint32_t s) const {
    const uint32_t fatSector = s / 128;
    uint32_t id;
    if (fatSector < 109) {
      id = U32(76 + 4 * fatSector);
    } else {
      id = U32(SectorOffset(U32(68)) + 4 * (fatSector - 109)); // first DIFAT sector only
    }
    return SectorOffset(id) + 4 * (s % 128);
  }
  uint32_t Next(uint32_t s) const { return U32(FatEntry(s)); }
  uint32_t FatEntries() const { return U32(44) * 128; }
  std::vector<uint32_t> Chain(uint32_t start) const {
    std::vector<uint32_t> out;
    for (uint32_t s = start; s < 0xFFFFFFFA && out.size() < Sectors(); s = Next(s)) {
      out.push_back(s);
    }
    return out;
  }
  size_t MiniFatEntry(uint32_t m) const {
    return SectorOffset(Chain(U32(60))[m / 128]) + 4 * (m % 128);
  }
  // Offset of directory entry id.
  size_t DirEntry(uint32_t id) const {
    return SectorOffset(Chain(U32(48))[id / 4]) + 128 * (id % 4);
  }
  uint32_t DirId(const std::u16string& name) const {
    const size_t entries = Chain(U32(48)).size() * 4;
    for (uint32_t id = 0; id < entries; ++id) {
      const size_t at = DirEntry(id);
      const size_t len = uint8_t(bytes[at + 64]) | uint8_t(bytes[at + 65]) << 8;
      if (len != 2 * (name.size() + 1))
        continue;
      bool same = true;
      for (size_t i = 0; i < name.size(); ++i) {
        same =
            same && (uint8_t(bytes[at + 2 * i]) | uint8_t(bytes[at + 2 * i + 1]) << 8) == name[i];
      }
      if (same)
        return id;
    }
    ADD_FAILURE() << "no directory entry of that name";
    return 0;
  }
  size_t Entry(const std::u16string& name) const { return DirEntry(DirId(name)); }
  uint32_t StartSector(const std::u16string& name) const { return U32(Entry(name) + 116); }
};

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i)
    s[i] = char(seed + i * 31 + i / 7);
  return s;
}

// root: Small (100 bytes), Other (200 bytes), Big (5000 bytes, 10 sectors), A { B { C (50) } }.
Image GoodImage() {
  Storage root = CreateMemory();
  root.CreateStream(u"Small").Write(Pattern(100, 'a').data(), 100);
  root.CreateStream(u"Other").Write(Pattern(200, 'b').data(), 200);
  root.CreateStream(u"Big").Write(Pattern(5000, 'c').data(), 5000);
  root.CreateStorage(u"A").CreateStorage(u"B").CreateStream(u"C").Write(Pattern(50, 'd').data(),
                                                                        50);
  return Image{MemoryImage(root)};
}

std::string ReadStream(const Storage& root, const std::u16string& name) {
  return root.OpenStream(name).ReadAll();
}

TEST(CfbHostile, GoodImageReadsInBothModes) {
  const Image good = GoodImage();
  for (Validation v : {Validation::Permissive, Validation::Strict}) {
    const Storage root = OpenMemory(good.bytes, v);
    EXPECT_EQ(ReadStream(root, u"Big"), Pattern(5000, 'c'));
    EXPECT_EQ(ReadStream(root.OpenStorage(u"A").OpenStorage(u"B"), u"C"), Pattern(50, 'd'));
  }
}

TEST(CfbHostile, TruncatedFile) {
  const Image good = GoodImage();
  const std::vector<uint32_t> big = good.Chain(good.StartSector(u"Big"));
  ASSERT_EQ(big.size(), 10u);
  // Cut into Big's sixth sector: Permissive counts the partial sector, Strict does not.
  Image cut = good;
  cut.bytes.resize(Image::SectorOffset(big[5]) + 100);
  const uint32_t partial = big[5] + 1;
  {
    const Storage root = OpenMemory(cut.bytes);
    EXPECT_EQ(ReadStream(root, u"Small"), Pattern(100, 'a'));
    EXPECT_OLE_ERROR(root.OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                     kCorrupt + "Found reference to sector " + std::to_string(big[6]) +
                         ", but the file has only " + std::to_string(partial) + " sectors");
  }
  {
    const Storage root = OpenMemory(cut.bytes, Validation::Strict);
    EXPECT_OLE_ERROR(root.OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                     kCorrupt + "Found reference to sector " + std::to_string(big[5]) +
                         ", but the file has only " + std::to_string(partial - 1) + " sectors");
  }
  // Cut before the directory: nothing can be read.
  Image headless = good;
  const uint32_t dir = good.U32(48);
  headless.bytes.resize(Image::SectorOffset(dir));
  EXPECT_OLE_ERROR(OpenMemory(headless.bytes), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to sector " + std::to_string(dir) +
                       ", but the file has only " + std::to_string(dir) + " sectors");
  EXPECT_OLE_ERROR(OpenMemory(good.bytes.substr(0, 300)), STG_E_INVALIDHEADER,
                   kInvalidHeader + "File of 300 bytes is shorter than the 512-byte header");
  EXPECT_FALSE(IsCompoundFile(good.bytes.data(), 300));
}

TEST(CfbHostile, BadSignatureAndHeaderFields) {
  const Image good = GoodImage();
  EXPECT_TRUE(IsCompoundFile(good.bytes.data(), good.bytes.size()));
  Image bad = good;
  bad.bytes[0] = 'X';
  EXPECT_FALSE(IsCompoundFile(bad.bytes.data(), bad.bytes.size()));
  EXPECT_OLE_ERROR(OpenMemory(bad.bytes), STG_E_INVALIDHEADER,
                   kInvalidHeader + "Invalid signature");

  Image shift = good;
  shift.bytes[30] = 16;
  EXPECT_FALSE(IsCompoundFile(shift.bytes.data(), shift.bytes.size()));
  EXPECT_OLE_ERROR(OpenMemory(shift.bytes), STG_E_INVALIDHEADER,
                   kInvalidHeader + "Sector shift 16 does not match version 3 (expected 9)");
  Image v4 = good;
  v4.bytes[26] = 4; // version 4 needs 4096-byte sectors
  EXPECT_OLE_ERROR(OpenMemory(v4.bytes), STG_E_INVALIDHEADER,
                   kInvalidHeader + "Sector shift 9 does not match version 4 (expected 12)");
  Image v2 = good;
  v2.bytes[26] = 2;
  EXPECT_OLE_ERROR(OpenMemory(v2.bytes), STG_E_OLDFORMAT,
                   "The compound file was produced with an incompatible version of storage: "
                   "Unsupported major version 2 (expected 3 or 4)");
  Image fatCount = good;
  fatCount.SetU32(44, 0x7FFFFFFF); // would be a FAT of 8 GB
  EXPECT_OLE_ERROR(OpenMemory(fatCount.bytes), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Header claims 2147483647 FAT sectors, but the file has only " +
                       std::to_string(good.Sectors()) + " sectors");
}

TEST(CfbHostile, FatChainThatLoops) {
  Image img = GoodImage();
  const std::vector<uint32_t> big = img.Chain(img.StartSector(u"Big"));
  img.SetU32(img.FatEntry(big[5]), big[2]);
  const Storage root = OpenMemory(img.bytes);
  EXPECT_OLE_ERROR(root.OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "FAT chain starting at sector " + std::to_string(big[0]) +
                       " loops: sector " + std::to_string(big[2]) + " pointed to twice");
  EXPECT_EQ(ReadStream(root, u"Other"), Pattern(200, 'b'));

  // A loop in the directory's own chain leaves nothing to read.
  Image dir = GoodImage();
  const uint32_t first = dir.U32(48);
  dir.SetU32(dir.FatEntry(first), first);
  EXPECT_OLE_ERROR(OpenMemory(dir.bytes), STG_E_DOCFILECORRUPT,
                   kCorrupt + "FAT chain starting at sector " + std::to_string(first) +
                       " loops: sector " + std::to_string(first) + " pointed to twice");
}

TEST(CfbHostile, ChainPointingPastTheEnd) {
  const Image good = GoodImage();
  const std::vector<uint32_t> big = good.Chain(good.StartSector(u"Big"));
  Image beyondFat = good;
  beyondFat.SetU32(beyondFat.FatEntry(big[1]), 5000);
  Storage root = OpenMemory(beyondFat.bytes);
  EXPECT_OLE_ERROR(root.OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to sector 5000, but the FAT has only " +
                       std::to_string(good.FatEntries()) + " entries");
  EXPECT_EQ(ReadStream(root, u"Small"), Pattern(100, 'a'));

  Image beyondFile = good;
  ASSERT_LT(good.Sectors() + 3, good.FatEntries());
  beyondFile.SetU32(beyondFile.FatEntry(big[1]), good.Sectors() + 3);
  root = OpenMemory(beyondFile.bytes);
  EXPECT_OLE_ERROR(root.OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to sector " + std::to_string(good.Sectors() + 3) +
                       ", but the file has only " + std::to_string(good.Sectors()) + " sectors");

  // A chain that ends early: the stream's size is not there.
  Image shortChain = good;
  shortChain.SetU32(shortChain.FatEntry(big[3]), 0xFFFFFFFE);
  EXPECT_OLE_ERROR(OpenMemory(shortChain.bytes).OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                   kCorrupt +
                       "Stream \"Big\" of 5000 bytes needs 10 sectors, but its chain ends after 4");
  // A free-sector marker inside a chain.
  Image marker = good;
  marker.SetU32(marker.FatEntry(big[3]), 0xFFFFFFFF);
  EXPECT_OLE_ERROR(OpenMemory(marker.bytes).OpenStream(u"Big"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found marker 0xFFFFFFFF inside the FAT chain starting at sector " +
                       std::to_string(big[0]));
}

// A file whose FAT needs DIFAT sectors: more than 109 FAT sectors of 128 entries.
const Image& DifatImage() {
  static const Image image = [] {
    Storage root = CreateMemory();
    const std::string big(7 * 1024 * 1024 + 100000, 'x');
    root.CreateStream(u"Big").Write(big.data(), big.size());
    root.CreateStream(u"Small").Write("small", 5);
    return Image{MemoryImage(root)};
  }();
  return image;
}

TEST(CfbHostile, DifatLoop) {
  const Image& good = DifatImage();
  ASSERT_GT(good.U32(44), 109u);
  ASSERT_EQ(good.U32(72), 1u);
  EXPECT_EQ(OpenMemory(good.bytes, Validation::Strict).OpenStream(u"Big").Size(),
            7u * 1024 * 1024 + 100000);
  const uint32_t difat = good.U32(68);
  Image loop = good;
  loop.SetU32(Image::SectorOffset(difat) + 508, difat);
  EXPECT_OLE_ERROR(OpenMemory(loop.bytes), STG_E_DOCFILECORRUPT,
                   kCorrupt + "DIFAT chain loops: sector " + std::to_string(difat) +
                       " pointed to twice");
  Image past = good;
  past.SetU32(68, 0x00FFFFFF);
  EXPECT_OLE_ERROR(OpenMemory(past.bytes), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to DIFAT sector 16777215, but the file has only " +
                       std::to_string(good.Sectors()) + " sectors");
}

TEST(CfbHostile, DirectoryLinksBackToAnAncestor) {
  const Image good = GoodImage();
  const std::vector<std::string> goodTree = DumpCompoundTree(OpenMemory(good.bytes));
  const uint32_t a = good.DirId(u"A");
  const uint32_t b = good.DirId(u"B");

  // C's sibling points at A, its grandparent: Permissive drops the link, Strict refuses.
  Image sibling = good;
  sibling.SetU32(sibling.Entry(u"C") + 72, a);
  EXPECT_EQ(DumpCompoundTree(OpenMemory(sibling.bytes)), goodTree);
  EXPECT_OLE_ERROR(OpenMemory(sibling.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Directory entry " + std::to_string(a) + " pointed to twice");

  // B's child points at the root: B is left with no children.
  Image child = good;
  child.SetU32(child.Entry(u"B") + 76, 0);
  const Storage root = OpenMemory(child.bytes);
  EXPECT_TRUE(root.OpenStorage(u"A").OpenStorage(u"B").Children().empty());
  EXPECT_EQ(ReadStream(root, u"Big"), Pattern(5000, 'c'));
  EXPECT_OLE_ERROR(OpenMemory(child.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Directory entry 0 pointed to twice");

  // A storage that is its own sibling.
  Image self = good;
  self.SetU32(self.Entry(u"B") + 68, b);
  EXPECT_EQ(DumpCompoundTree(OpenMemory(self.bytes)), goodTree);

  // A link out of the directory.
  Image outside = good;
  outside.SetU32(outside.Entry(u"C") + 68, 999);
  EXPECT_EQ(DumpCompoundTree(OpenMemory(outside.bytes)), goodTree);
  EXPECT_OLE_ERROR(OpenMemory(outside.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt +
                       "Found reference to directory entry 999, but the directory has only " +
                       std::to_string(good.Chain(good.U32(48)).size() * 4) + " entries");
}

TEST(CfbHostile, StreamClaimingFourGigabytes) {
  const Image good = GoodImage();
  ASSERT_LT(good.bytes.size(), 20000u);
  Image huge = good;
  huge.SetU32(huge.Entry(u"Small") + 120, 0xFFFFFFFF);
  const Storage root = OpenMemory(huge.bytes);
  bool listed = false;
  for (const EntryStat& e : root.Children()) {
    if (e.name == u"Small")
      listed = e.size == 0xFFFFFFFFu;
  }
  EXPECT_TRUE(listed); // enumerated as stored, refused when opened
  EXPECT_OLE_ERROR(root.OpenStream(u"Small"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Stream \"Small\" claims 4294967295 bytes, but the file has only " +
                       std::to_string(good.bytes.size()) + " bytes");
  EXPECT_EQ(ReadStream(root, u"Other"), Pattern(200, 'b'));

  // Version 3 sizes keep 32 bits; old writers left garbage in the high half.
  Image high = good;
  high.SetU32(high.Entry(u"Small") + 124, 1);
  EXPECT_EQ(ReadStream(OpenMemory(high.bytes), u"Small"), Pattern(100, 'a'));
  EXPECT_OLE_ERROR(OpenMemory(high.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Directory entry " + std::to_string(good.DirId(u"Small")) +
                       " of a version 3 file has stream size 4294967396 (more than 32 bits)");
}

TEST(CfbHostile, BrokenMiniStream) {
  const Image good = GoodImage();
  // The root's chain (the mini stream) points outside the FAT: small streams fail, others read.
  Image root = good;
  root.SetU32(root.DirEntry(0) + 116, 5000);
  Storage r = OpenMemory(root.bytes);
  EXPECT_OLE_ERROR(r.OpenStream(u"Small"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to sector 5000, but the FAT has only " +
                       std::to_string(good.FatEntries()) + " entries");
  EXPECT_THROW(r.OpenStream(u"Other"), EOleError);
  EXPECT_EQ(ReadStream(r, u"Big"), Pattern(5000, 'c'));

  const uint32_t miniFatEntries = uint32_t(good.Chain(good.U32(60)).size() * 128);
  const uint32_t other = good.StartSector(u"Other");
  Image link = good;
  link.SetU32(link.MiniFatEntry(other), 999);
  EXPECT_OLE_ERROR(OpenMemory(link.bytes).OpenStream(u"Other"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to mini sector 999, but the mini FAT has only " +
                       std::to_string(miniFatEntries) + " entries");
  const uint32_t miniSectors = uint32_t(good.Chain(good.U32(good.DirEntry(0) + 116)).size() * 8);
  Image beyond = good;
  beyond.SetU32(beyond.MiniFatEntry(other), miniSectors);
  EXPECT_OLE_ERROR(OpenMemory(beyond.bytes).OpenStream(u"Other"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Found reference to mini sector " + std::to_string(miniSectors) +
                       ", but the mini stream has only " + std::to_string(miniSectors) +
                       " mini sectors");
  Image loop = good;
  loop.SetU32(loop.MiniFatEntry(other + 2), other + 1);
  EXPECT_OLE_ERROR(OpenMemory(loop.bytes).OpenStream(u"Other"), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Mini FAT chain starting at mini sector " + std::to_string(other) +
                       " loops: mini sector " + std::to_string(other + 1) + " pointed to twice");
  EXPECT_EQ(ReadStream(OpenMemory(loop.bytes), u"Small"), Pattern(100, 'a'));
}

// Elements below root, and the depth of the deepest one; iterative, as the reader must be.
std::pair<size_t, size_t> CountElements(const Storage& root) {
  size_t count = 0, deepest = 0;
  std::vector<std::pair<Storage, size_t>> pending{{root, 0}};
  while (!pending.empty()) {
    auto [s, depth] = pending.back();
    pending.pop_back();
    for (const EntryStat& e : s.Children()) {
      ++count;
      deepest = std::max(deepest, depth + 1);
      if (e.kind == EntryKind::Storage)
        pending.emplace_back(s.OpenStorage(e.name), depth + 1);
    }
  }
  return {count, deepest};
}

TEST(CfbHostile, StorageNestedTenThousandDeep) {
  constexpr size_t kDepth = 10000;
  std::string image;
  {
    Storage root = CreateMemory();
    Storage s = root;
    for (size_t i = 0; i < kDepth; ++i)
      s = s.CreateStorage(u"d");
    s.CreateStream(u"leaf").Write("deep", 4);
    image = MemoryImage(root);
  } // releasing ten thousand nested storages must not recurse either
  Storage root = OpenMemory(image, Validation::Strict);
  Storage s = root;
  for (size_t i = 0; i < kDepth; ++i)
    s = s.OpenStorage(u"d");
  EXPECT_EQ(ReadStream(s, u"leaf"), "deep");
  EXPECT_EQ(CountElements(root), std::make_pair(kDepth + 1, kDepth + 1));
  Storage copy = CreateMemory();
  root.CopyTo(copy);
  EXPECT_EQ(CountElements(OpenMemory(MemoryImage(copy), Validation::Strict)),
            std::make_pair(kDepth + 1, kDepth + 1));

  // The deepest storage's child points back at the top: Permissive drops the link.
  Image cyclic{image};
  uint32_t deepest = 0;
  const uint32_t leaf = cyclic.DirId(u"leaf");
  for (uint32_t id = 1; id < leaf; ++id) { // the storage above "leaf"
    if (cyclic.U32(cyclic.DirEntry(id) + 76) == leaf) {
      deepest = id;
      break;
    }
  }
  ASSERT_NE(deepest, 0u);
  cyclic.SetU32(cyclic.DirEntry(deepest) + 76, 1);
  EXPECT_EQ(CountElements(OpenMemory(cyclic.bytes)), std::make_pair(kDepth, kDepth));
  EXPECT_OLE_ERROR(OpenMemory(cyclic.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Directory entry 1 pointed to twice");
}

TEST(CfbHostile, NamesThatCallersMayNotUseAreStillCopied) {
  Image img = GoodImage();
  img.bytes[img.Entry(u"C")] = '/';
  const Storage root = OpenMemory(img.bytes);
  Storage copy = CreateMemory();
  root.CopyTo(copy);
  const Storage b = OpenMemory(MemoryImage(copy)).OpenStorage(u"A").OpenStorage(u"B");
  EXPECT_EQ(ReadStream(b, u"/"), Pattern(50, 'd'));
  EXPECT_THROW(copy.CreateStream(u"/"), EOleError);
}

// Whatever the 64 bytes of a name field and its length claim, the name read never runs past 31
// units, and it is the name that the listing shows, that opens the element and that a copy
// writes again.
TEST(CfbHostile, NameFieldsOfEveryLength) {
  const Image good = GoodImage();
  const std::u16string full(32, u'n'); // the whole field, without a terminating zero
  const std::u16string longest(31, u'n');
  struct Case {
    std::u16string field;
    uint16_t length; // in bytes, with the terminating zero
    std::u16string read;
    bool strictRefuses;
  };
  const Case cases[] = {
      {longest, 64, longest, false},
      {full, 64, longest, false},
      {full, 66, longest, true},
      {full, 0xFFFF, longest, true},
      {std::u16string(u"Sm\0ll", 5), 12, u"Sm", false},
      {u"Small", 11, u"Small", true},
      {u"Small", 0, u"Small", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.field.size() << " units, length " << c.length);
    Image img = good;
    const size_t at = img.Entry(u"Small");
    for (size_t i = 0; i < 32; ++i) {
      const char16_t unit = i < c.field.size() ? c.field[i] : 0;
      img.bytes[at + 2 * i] = char(unit & 0xFF);
      img.bytes[at + 2 * i + 1] = char(unit >> 8);
    }
    img.bytes[at + 64] = char(c.length & 0xFF);
    img.bytes[at + 65] = char(c.length >> 8);
    const Storage root = OpenMemory(img.bytes);
    std::vector<std::u16string> streamsOf100;
    for (const EntryStat& e : root.Children()) {
      if (e.kind == EntryKind::Stream && e.size == 100)
        streamsOf100.push_back(e.name.str());
    }
    EXPECT_EQ(streamsOf100, std::vector<std::u16string>{c.read});
    EXPECT_EQ(ReadStream(root, c.read), Pattern(100, 'a'));
    Storage copy = CreateMemory();
    root.CopyTo(copy);
    EXPECT_EQ(ReadStream(OpenMemory(MemoryImage(copy)), c.read), Pattern(100, 'a'));
    if (c.strictRefuses)
      EXPECT_THROW(OpenMemory(img.bytes, Validation::Strict), EOleError);
    else
      EXPECT_NO_THROW(OpenMemory(img.bytes, Validation::Strict));
  }
}

TEST(CfbHostile, RepairsThatOnlyPermissiveMakes) {
  const Image good = GoodImage();
  Image colour = good;
  colour.bytes[colour.Entry(u"Big") + 67] = 7;
  EXPECT_EQ(ReadStream(OpenMemory(colour.bytes), u"Big"), Pattern(5000, 'c'));
  EXPECT_OLE_ERROR(OpenMemory(colour.bytes, Validation::Strict), STG_E_DOCFILECORRUPT,
                   kCorrupt + "Directory entry " + std::to_string(good.DirId(u"Big")) +
                       " has unknown colour 7");
  // A mini stream shorter in the root entry than in its chain.
  Image mini = good;
  mini.SetU32(mini.DirEntry(0) + 120, 64);
  EXPECT_EQ(ReadStream(OpenMemory(mini.bytes), u"Other"), Pattern(200, 'b'));
  EXPECT_THROW(OpenMemory(mini.bytes, Validation::Strict).OpenStream(u"Other"), EOleError);
  // Stale directory sector count in a version 3 header.
  Image stale = good;
  stale.SetU32(40, 3);
  EXPECT_NO_THROW(OpenMemory(stale.bytes));
  EXPECT_OLE_ERROR(OpenMemory(stale.bytes, Validation::Strict), STG_E_INVALIDHEADER,
                   kInvalidHeader + "Version 3 header counts 3 directory sectors (expected 0)");
}

// Sibling trees rewired at random, into trees out of name order, with shared and dangling
// links: whatever their shape, a storage lists exactly the elements its tree reaches, each once,
// in name order, and each listed element opens as itself.
TEST(CfbHostile, RewiredSiblingTreesListWhatTheyReachInNameOrder) {
  Storage made = CreateMemory();
  std::vector<std::u16string> names;
  for (int i = 0; i < 24; ++i) {
    names.push_back(std::u16string(size_t(1 + i % 4), char16_t(u'A' + i)));
    const std::string bytes = Pattern(size_t(10 + i), char('a' + i));
    made.CreateStream(names.back()).Write(bytes.data(), bytes.size());
  }
  const Image good{MemoryImage(made)};
  std::vector<uint32_t> ids;
  for (const std::u16string& name : names)
    ids.push_back(good.DirId(name));
  std::mt19937 random(7);
  const auto pick = [&]() -> uint32_t {
    const uint32_t r = random() % 10;
    return r < 6 ? ids[random() % ids.size()] : r < 9 ? 0xFFFFFFFFu : 100000u;
  };
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    Image img = good;
    uint32_t top = ids[random() % ids.size()];
    if (round % 4 == 0) {
      // A sound tree of another shape than ours: the names put into a search tree one by one,
      // in a random order, as another writer may have done (chains and all).
      std::vector<size_t> order(names.size());
      for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
      std::shuffle(order.begin(), order.end(), random);
      const auto before = [&](size_t a, size_t b) {
        return names[a].size() != names[b].size() ? names[a].size() < names[b].size()
                                                  : names[a] < names[b];
      };
      for (uint32_t id : ids) {
        img.SetU32(img.DirEntry(id) + 68, 0xFFFFFFFFu);
        img.SetU32(img.DirEntry(id) + 72, 0xFFFFFFFFu);
      }
      top = ids[order[0]];
      for (size_t k = 1; k < order.size(); ++k) {
        size_t at = order[0];
        for (;;) {
          const size_t side = before(order[k], at) ? 68 : 72;
          const uint32_t next = img.U32(img.DirEntry(ids[at]) + side);
          if (next == 0xFFFFFFFFu) {
            img.SetU32(img.DirEntry(ids[at]) + side, ids[order[k]]);
            break;
          }
          at = size_t(std::find(ids.begin(), ids.end(), next) - ids.begin());
        }
      }
    } else {
      for (uint32_t id : ids) {
        img.SetU32(img.DirEntry(id) + 68, pick());
        img.SetU32(img.DirEntry(id) + 72, pick());
      }
    }
    img.SetU32(img.DirEntry(0) + 76, top);
    // What the links reach from the top of the tree, found here by the links alone.
    std::vector<size_t> reached;
    std::vector<uint32_t> pending{top};
    while (!pending.empty()) {
      const uint32_t id = pending.back();
      pending.pop_back();
      const auto at = std::find(ids.begin(), ids.end(), id);
      if (at == ids.end())
        continue;
      const size_t which = size_t(at - ids.begin());
      if (std::find(reached.begin(), reached.end(), which) != reached.end())
        continue;
      reached.push_back(which);
      pending.push_back(img.U32(img.DirEntry(id) + 68));
      pending.push_back(img.U32(img.DirEntry(id) + 72));
    }
    std::vector<std::u16string> expected;
    for (size_t which : reached)
      expected.push_back(names[which]);
    // Shorter names first, then by their letters (all capitals here).
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    const Storage root = OpenMemory(img.bytes);
    std::vector<std::u16string> listed;
    for (const EntryStat& e : root.Children()) {
      listed.push_back(e.name.str());
      const size_t which =
          size_t(std::find(names.begin(), names.end(), listed.back()) - names.begin());
      ASSERT_LT(which, names.size());
      EXPECT_EQ(root.OpenStream(e).ReadAll(), Pattern(10 + which, char('a' + which)));
    }
    EXPECT_EQ(listed, expected);
  }
}

// Flipped bytes anywhere in a good file: every outcome is a result or an EOleError.
TEST(CfbHostile, RandomDamageNeverEscapes) {
  const Image good = GoodImage();
  uint32_t x = 12345;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  size_t errors = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = good.bytes;
    const int flips = 1 + int(next() % 8);
    for (int i = 0; i < flips; ++i) {
      // Mostly the header, FAT and directory, where damage matters most.
      const size_t at = next() % 4 ? next() % 2560 : next() % bytes.size();
      bytes[at % bytes.size()] = char(next());
    }
    try {
      DumpCompoundTree(OpenMemory(bytes, round % 2 ? Validation::Strict : Validation::Permissive));
    } catch (const EOleError&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 0u);
}

} // namespace
} // namespace orlendo::cfb
