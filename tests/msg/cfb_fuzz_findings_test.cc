// Faults the fuzzers found in the compound-file layer, each rebuilt from a good image so that the
// case says what broke; the raw inputs are replayed from fuzz/crashes as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"

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

// A storage whose name the format forbids ('!') was read and kept; saving the message as .msg
// must still write every storage, under a name the format allows.
TEST(CfbFuzzFindings, ForbiddenStorageNameIsRenamedOnSave) {
  Storage written = CreateMemory();
  Storage odd = written.CreateStorage(u"a_b");
  const std::u16string subject = u"hello";
  odd.CreateStream(u"__substg1.0_0037001F").Write(subject.data(), 2 * subject.size());
  std::string image = MemoryImage(written);
  const size_t at = image.find(std::string("a\0_\0b\0", 6));
  ASSERT_NE(at, std::string::npos);
  image[at + 2] = '!';

  TQvMSGFile message;
  TMemoryStream input(image);
  message.LoadFromStream(input);
  std::string saved;
  ASSERT_NO_THROW(saved = SaveToMSGImage(message.Properties(), true));
  Storage root = OpenMemory(saved, Validation::Strict);
  const std::vector<EntryStat> children = root.Children();
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].kind, EntryKind::Storage);
  EXPECT_TRUE(root.OpenStorage(children[0].name).Exists(u"__substg1.0_0037001F"));
}

} // namespace
} // namespace orlendo::cfb
