// The message component, the wide-string list and the byte streams under the readers.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "model/qvmsg.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

TEST(QvMessage, AboutIsFixedAndTheRootBelongsToTheComponent) {
  TQvMessage message;
  EXPECT_EQ(message.About(), "1.50b");
  EXPECT_EQ(message.Properties().OwnerMessage, &message);
  EXPECT_EQ(message.Properties().ParentProperty, nullptr);

  // Assigning a collection deep-copies it into the existing root.
  TMSGProperties other(nullptr);
  other.AddProperty(0x0037001F, TVariant::FromWide(u"copied"));
  TMSGProperties* root = &message.Properties();
  message.SetProperties(other);
  EXPECT_EQ(&message.Properties(), root);
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->Items(0)->Value, TVariant::FromWide(u"copied"));
  EXPECT_EQ(root->Items(0)->SubProperties().OwnerMessage, &message);
}

TEST(QvMessage, HasMessageFlagTestsMessageFlagsAnywhereInTheTree) {
  TQvMessage message;
  EXPECT_FALSE(message.HasMessageFlag(1));
  EXPECT_FALSE(message.HasMessageFlag(2));
  TMSGProperty* stream = message.Properties().Add();
  stream->SubProperties().AddProperty(0x0E070003, TVariant::FromInteger(9));
  EXPECT_TRUE(message.HasMessageFlag(1));
  EXPECT_FALSE(message.HasMessageFlag(2));
  EXPECT_TRUE(message.HasMessageFlag(8));
  EXPECT_TRUE(message.HasMessageFlag(0xFFFF));
}

TEST(QvMessage, LoadFromFileRefusesAMissingFileWithoutClearing) {
  testutil::TempDir dir;
  TQvMessage message;
  message.Properties().AddProperty(0x0037001F, TVariant::FromWide(u"kept"));
  const std::string missing = dir.File("no such.msg");
  try {
    message.LoadFromFile(missing);
    FAIL() << "no exception";
  } catch (const EMSGError& e) {
    EXPECT_EQ(e.Message(), "File " + missing + " is not found.");
  }
  EXPECT_EQ(message.Properties().Count(), 1);
  EXPECT_THROW(message.LoadFromFile(dir.Path()), EMSGError); // a folder is not a file
  EXPECT_EQ(message.Properties().Count(), 1);

  std::ofstream(dir.File("present.msg")) << "x";
  message.Properties().BodyFormat = 2;
  message.LoadFromFile(dir.File("present.msg"));
  EXPECT_EQ(message.Properties().Count(), 0);
  EXPECT_EQ(message.Properties().BodyFormat, 0);
}

TEST(WideStrings, ListAndText) {
  TWideStrings list;
  EXPECT_EQ(list.GetText(), u"");
  EXPECT_EQ(list.Add(u"a"), 0);
  EXPECT_EQ(list.Add(u"b"), 1);
  EXPECT_EQ(list.GetText(), u"a\r\nb\r\n");
  EXPECT_EQ(list.Get(1), u"b");
  EXPECT_EQ(list.Get(5), u"");
  EXPECT_EQ(list.Get(-1), u"");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetText(), u"");
}

TEST(MemoryStream, ReadWriteSeekAndGaps) {
  TMemoryStream stream;
  stream.WriteString("hello");
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.Seek(8, TSeekOrigin::Beginning), 8);
  stream.WriteString("!");
  EXPECT_EQ(stream.Data(), std::string("hello\0\0\0!", 9));
  EXPECT_EQ(stream.Seek(-4, TSeekOrigin::End), 5);
  char buf[8] = {};
  EXPECT_EQ(stream.Read(buf, sizeof buf), 4u);
  EXPECT_EQ(stream.Read(buf, sizeof buf), 0u);
  EXPECT_THROW(stream.Seek(-1, TSeekOrigin::Beginning), EMSGError);
  EXPECT_EQ(stream.Position(), 9);

  TMemoryStream source(std::string(200000, 'z'));
  source.SetPosition(10);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 199990);
  EXPECT_EQ(target.Size(), 199990);
  source.SetPosition(0);
  EXPECT_THROW(target.CopyFrom(source, 300000), EMSGError);
}

TEST(FileStream, CreateWriteReadAndFailuresNameTheFile) {
  testutil::TempDir dir;
  const std::string path = dir.File("data.bin");
  {
    TFileStream out(path, TFileStream::Create);
    out.WriteString("0123456789");
    out.Close();
  }
  TFileStream in(path, TFileStream::OpenRead);
  EXPECT_EQ(in.Size(), 10);
  in.SetPosition(6);
  char buf[8] = {};
  EXPECT_EQ(in.Read(buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_THROW(in.WriteString("x"), EMSGError);

  try {
    TFileStream missing(dir.File("missing"), TFileStream::OpenRead);
    FAIL() << "no exception";
  } catch (const EMSGError& e) {
    EXPECT_NE(e.Message().find(dir.File("missing")), std::string::npos) << e.Message();
  }
  EXPECT_THROW(TFileStream(dir.File("no/dir/file"), TFileStream::Create), EMSGError);
}

} // namespace
} // namespace orlendo
