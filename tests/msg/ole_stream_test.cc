// The byte-stream adapter over compound-file streams, as the .msg reader uses it.
#include <gtest/gtest.h>

#include <string>

#include "model/qvmsg.h"
#include "msg/compound_file.h"

namespace orlendo {
namespace {

cfb::Storage StorageWithStream(const std::u16string& name, const std::string& bytes) {
  cfb::Storage created = cfb::CreateMemory();
  cfb::Stream stream = created.CreateStream(name);
  stream.Write(bytes.data(), bytes.size());
  return cfb::OpenMemory(cfb::MemoryImage(created));
}

TEST(OleStream, ReadsSeeksAndFeedsReadValue) {
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7);
  cfb::Storage root = StorageWithStream(u"__substg1.0_37010102", data);

  TOleStream stream(root.OpenStream(u"__substg1.0_37010102"));
  EXPECT_EQ(stream.Size(), 300000);
  EXPECT_EQ(stream.Seek(-10, TSeekOrigin::End), 299990);
  EXPECT_EQ(stream.Seek(5, TSeekOrigin::Current), 299995);
  EXPECT_THROW(stream.Seek(-1, TSeekOrigin::Beginning), cfb::EOleError);

  stream.SetPosition(0);
  TMSGProperties level(nullptr);
  TMSGProperty* record = level.Add();
  record->TagID = TAG_ATTACH_DATA_BIN;
  record->ReadValue(stream, static_cast<int32_t>(data.size()));
  EXPECT_EQ(record->Value.Bytes(), data);
  EXPECT_EQ(record->DataSize, 300000);
  char byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 0u);

  // A size that claims more than the stream holds is zero-filled only within reason.
  stream.SetPosition(0);
  record->ReadValue(stream, 0x40000000);
  EXPECT_LT(record->Value.Bytes().size(), 1u << 20);
  EXPECT_EQ(record->Value.Bytes().substr(0, data.size()), data);
}

} // namespace
} // namespace orlendo
