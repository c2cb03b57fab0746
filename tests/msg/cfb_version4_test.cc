// Version 4 files (4096-byte sectors, 64-bit stream sizes), assembled here by hand so that the
// reader is checked against the published layout rather than against our own writer.
#include <gtest/gtest.h>

#include <cstring>

#include "msg/compound_file.h"

namespace orlendo::cfb {
namespace {

constexpr uint32_t kSector = 4096;
constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatMark = 0xFFFFFFFD, kNone = 0xFFFFFFFF;

struct V4Builder {
  std::string bytes;
  explicit V4Builder(uint32_t sectors) : bytes(size_t(sectors + 1) * kSector, '\0') {}
  void U16(size_t at, uint16_t v) {
    bytes[at] = char(v);
    bytes[at + 1] = char(v >> 8);
  }
  void U32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = char(v >> (8 * i));
  }
  void U64(size_t at, uint64_t v) {
    U32(at, uint32_t(v));
    U32(at + 4, uint32_t(v >> 32));
  }
  static size_t Sector(uint32_t s) { return size_t(s + 1) * kSector; }
  void Entry(uint32_t id, const std::u16string& name, uint8_t type, uint32_t left, uint32_t right,
             uint32_t child, uint32_t start, uint64_t size) {
    const size_t at = Sector(1) + 128 * id;
    for (size_t i = 0; i < name.size(); ++i)
      U16(at + 2 * i, name[i]);
    U16(at + 64, uint16_t(2 * (name.size() + 1)));
    bytes[at + 66] = char(type);
    bytes[at + 67] = 1; // black
    U32(at + 68, left);
    U32(at + 72, right);
    U32(at + 76, child);
    U64(at + 108, 0x01D9000000000000ull + id); // modification time
    U32(at + 116, start);
    U64(at + 120, size);
  }
};

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = char(seed + i % 251);
  return s;
}

// Sectors: 0 FAT, 1 directory, 2 mini FAT, 3 mini stream, 4-5 "Big" (5000 bytes).
// Tree: root -> {Small (100 bytes, mini), Sub -> {Big}}.
std::string BuildV4() {
  V4Builder b(6);
  const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(b.bytes.data(), sig, 8);
  b.U16(24, 0x3E);
  b.U16(26, 4);
  b.U16(28, 0xFFFE);
  b.U16(30, 12);
  b.U16(32, 6);
  b.U32(40, 1); // directory sectors: counted in version 4
  b.U32(44, 1); // FAT sectors
  b.U32(48, 1); // first directory sector
  b.U32(56, 4096);
  b.U32(60, 2); // first mini FAT sector
  b.U32(64, 1);
  b.U32(68, kEnd);
  b.U32(72, 0);
  b.U32(76, 0); // FAT sector 0
  for (int i = 1; i < 109; ++i)
    b.U32(76 + 4 * i, kFree);
  const uint32_t fat[] = {kFatMark, kEnd, kEnd, kEnd, 5, kEnd};
  for (uint32_t i = 0; i < kSector / 4; ++i) {
    b.U32(V4Builder::Sector(0) + 4 * i, i < 6 ? fat[i] : kFree);
  }
  // Mini FAT: Small occupies mini sectors 0 and 1.
  for (uint32_t i = 0; i < kSector / 4; ++i) {
    b.U32(V4Builder::Sector(2) + 4 * i, i == 0 ? 1 : i == 1 ? kEnd : kFree);
  }
  const std::string small = Bytes(100, 's');
  std::memcpy(&b.bytes[V4Builder::Sector(3)], small.data(), small.size());
  const std::string big = Bytes(5000, 'B');
  std::memcpy(&b.bytes[V4Builder::Sector(4)], big.data(), big.size());
  b.Entry(0, u"Root Entry", 5, kNone, kNone, 1, 3, 128);
  b.Entry(1, u"Small", 2, kNone, 2, kNone, 0, 100); // "Sub" sorts before "Small" (shorter)
  b.Entry(2, u"Sub", 1, kNone, kNone, 3, 0, 0);
  b.Entry(3, u"Big", 2, kNone, kNone, kNone, 4, 5000);
  return b.bytes;
}

TEST(CfbVersion4, ReadsTreeSizesTimesAndBytes) {
  const std::string image = BuildV4();
  ASSERT_TRUE(IsCompoundFile(image.data(), image.size()));
  for (Validation v : {Validation::Permissive, Validation::Strict}) {
    const Storage root = OpenMemory(image, v);
    const std::vector<EntryStat> kids = root.Children();
    ASSERT_EQ(kids.size(), 2u);
    EXPECT_EQ(kids[0].name, u"Sub");
    EXPECT_EQ(kids[0].kind, EntryKind::Storage);
    EXPECT_EQ(kids[0].modificationTime, 0x01D9000000000002ull);
    EXPECT_EQ(kids[1].name, u"Small");
    EXPECT_EQ(kids[1].size, 100u);
    EXPECT_EQ(root.OpenStream(u"Small").ReadAll(), Bytes(100, 's'));
    Stream big = root.OpenStorage(u"Sub").OpenStream(u"Big");
    EXPECT_EQ(big.Size(), 5000u);
    // A read that crosses from the first sector into the second.
    big.Seek(4090, SeekOrigin::Begin);
    char buf[20];
    ASSERT_EQ(big.Read(buf, 20), 20u);
    EXPECT_EQ(std::string(buf, 20), Bytes(5000, 'B').substr(4090, 20));
    EXPECT_EQ(big.ReadAll(), Bytes(5000, 'B'));
  }
}

TEST(CfbVersion4, SizesUseAllSixtyFourBits) {
  // In version 4 the high half of a size is real: 4 GB + 100 bytes cannot be in this file.
  std::string image = BuildV4();
  const size_t small = V4Builder::Sector(1) + 128 * 1;
  image[small + 124] = 1;
  const Storage root = OpenMemory(image);
  EXPECT_EQ(root.Children()[1].size, 0x100000064ull);
  try {
    root.OpenStream(u"Small");
    ADD_FAILURE() << "a 4 GB stream opened in a 28 KB file";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), STG_E_DOCFILECORRUPT);
    EXPECT_STREQ(e.what(), ("The compound file is corrupt: Stream \"Small\" claims 4294967396 "
                            "bytes, but the file has only " +
                            std::to_string(image.size()) + " bytes")
                               .c_str());
  }
}

TEST(CfbVersion4, CopyToVersion3KeepsEverything) {
  const Storage v4 = OpenMemory(BuildV4());
  Storage v3 = CreateMemory();
  v4.CopyTo(v3);
  const std::string image = MemoryImage(v3);
  EXPECT_EQ(image[26], 3);
  const Storage back = OpenMemory(image, Validation::Strict);
  EXPECT_EQ(back.OpenStream(u"Small").ReadAll(), Bytes(100, 's'));
  EXPECT_EQ(back.OpenStorage(u"Sub").OpenStream(u"Big").ReadAll(), Bytes(5000, 'B'));
  EXPECT_EQ(back.Children()[0].modificationTime, 0x01D9000000000002ull);
}

} // namespace
} // namespace orlendo::cfb
