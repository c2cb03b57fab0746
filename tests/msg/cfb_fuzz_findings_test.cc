// Faults the fuzzers found in the compound-file layer, each rebuilt from a good image so that the
// case says what broke; the raw inputs are replayed from fuzz/crashes as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "msg/compound_file.h"

namespace orlendo::cfb {
namespace {

uint32_t U32(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The offset of directory entry `index` in a version 3 image whose directory fits one sector.
size_t DirEntryOffset(const std::string& bytes, uint32_t index) {
  return 512 + size_t(U32(bytes, 48)) * 512 + 128 * size_t(index);
}

// A name field filled to its last unit, with a length field that cannot be trusted: the
// permissive reader must stop one unit short, where the terminator belongs, or the name can
// never be written again.
TEST(CfbFuzzFindings, UnterminatedNameFitsTheFormat) {
  Storage written = CreateMemory();
  const std::u16string name(31, u'\u0101');
  written.CreateStorage(name).CreateStream(u"s").Write("x", 1);
  std::string image = MemoryImage(written);

  const size_t entry = DirEntryOffset(image, 1);
  ASSERT_EQ(image[entry], '\x01'); // the storage, as the writer placed it
  image[entry + 62] = '\x01';      // the unit reserved for the terminator
  image[entry + 63] = '\x01';
  image[entry + 64] = '\x00'; // length 0: not to be believed
  image[entry + 65] = '\x00';

  Storage root = OpenMemory(image, Validation::Permissive);
  const std::vector<EntryStat> children = root.Children();
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].name, name);

  Storage copy = CreateMemory();
  root.CopyTo(copy);
  Storage reopened = OpenMemory(MemoryImage(copy), Validation::Strict);
  EXPECT_TRUE(reopened.Exists(name));

  EXPECT_THROW(OpenMemory(image, Validation::Strict).Children(), EOleError);
}

} // namespace
} // namespace orlendo::cfb
