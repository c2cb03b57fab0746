// The reader is chosen by what a file holds, whatever its name; only regular files are read; and
// a dump is printable text whatever the message holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/reader_choice.h"
#include "mime/qvemlfile.h"
#include "mime/qvemlxfile.h"
#include "mime/tnef_message.h"
#include "msg/compound_file.h"
#include "msg/qvmsgfile.h"
#include "shell/dump.h"
#include "testutil/run_process.h"
#include "text/qvmsgcp.h"

namespace orlendo {
namespace {

using namespace std::string_literals;
using testutil::CorpusPath;
using testutil::RunProcess;
using testutil::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The subject of a file as the chosen reader reads it, or the load's message.
std::string SubjectThroughChoice(const std::string& path) {
  std::unique_ptr<TQvMessage> message = CreateMessageReader(path);
  try {
    message->LoadFromFile(path);
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
  return EncodeUtf8(message->Subject());
}

TEST(ReaderChoice, ByContentWhateverTheName) {
  TempDir dir;
  const std::string eml = ReadAll(CorpusPath("eml/mimekit_startrek.eml"));
  const std::string msg = ReadAll(CorpusPath("msg/kmr_Hello_CJK.msg"));
  TQvMSGFile direct;
  direct.LoadFromFile(CorpusPath("msg/kmr_Hello_CJK.msg"));
  const std::string msgSubject = EncodeUtf8(direct.Subject());
  ASSERT_FALSE(msgSubject.empty());
  // An Apple Mail file: the count of the message's bytes, the message, then a property list
  // whose text must not reach the message.
  const std::string plist = "<?xml version=\"1.0\"?>\n<plist><dict><key>flags</key>"
                            "<integer>8590195713</integer></dict></plist>\n";
  const std::string emlx = std::to_string(eml.size()) + "\n" + eml + plist;

  const struct {
    const char* name;
    std::string bytes;
    std::string subject;
  } cases[] = {
      {"renamed.msg", eml, "Star Trek Party!"},
      {"renamed.eml", msg, msgSubject},
      {"no_extension", eml, "Star Trek Party!"},
      {"apple.emlx", emlx, "Star Trek Party!"},
      {"apple_named.msg", emlx, "Star Trek Party!"},
      {"page.mhtml", ReadAll(CorpusPath("mht/testim_example.com.mhtml")), "Example Domain"},
      {"text.msg", "just some words\nand more\n", ""},
      {"winmail.msg", ReadAll(CorpusPath("tnef/one-file.tnef")), "one-file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    WriteAll(path, c.bytes);
    if (c.subject.empty()) {
      EXPECT_EQ(SubjectThroughChoice(path),
                "error: File " + path + " is not valid file (compound storage)");
    } else {
      EXPECT_EQ(SubjectThroughChoice(path), c.subject);
    }
  }
  EXPECT_TRUE(dynamic_cast<TQvMHTFile*>(CreateMessageReader(dir.File("page.mhtml")).get()));
  EXPECT_TRUE(dynamic_cast<TQvEMLXFile*>(CreateMessageReader(dir.File("apple.emlx")).get()));
  EXPECT_TRUE(dynamic_cast<TQvTNEFFile*>(CreateMessageReader(dir.File("winmail.msg")).get()));

  // The property list stays out of the Apple Mail message: the tree is that of the bare message.
  TQvEMLFile bare;
  bare.LoadFromFile(CorpusPath("eml/mimekit_startrek.eml"));
  TQvEMLXFile framed;
  framed.LoadFromFile(dir.File("apple.emlx"));
  EXPECT_EQ(EncodeUtf8(framed.Body()), EncodeUtf8(bare.Body()));
  EXPECT_EQ(framed.Properties().Count(), bare.Properties().Count());
  // A count larger than the file takes what there is; no count line: all of it is the message.
  EXPECT_EQ(EmlxMessageBytes("99\nSubject: x\n"), "Subject: x\n");
  EXPECT_EQ(EmlxMessageBytes("Subject: x\n"), "Subject: x\n");
  EXPECT_EQ(EmlxMessageBytes("3\r\nabcdef"), "abc");
}

TEST(ReaderChoice, OnlyRegularFilesAreRead) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.msg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Nobody writes to the pipe: reading it would wait for ever.
  for (const std::string& path : {fifo, dir.Path(), "/dev/null"s, "/dev/zero"s}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(SubjectThroughChoice(path), "error: File " + path + " is not a regular file.");
  }
  const testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", fifo});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "File " + fifo + " is not a regular file.\n");
}

TEST(DumpSafety, ControlCharactersAreEscapedAndBinaryIsHex) {
  EXPECT_EQ(DumpValueText(u"a\x1B[2Jb\0c\r\n\t\x7F\x85\x9Bz"s),
            "a\\x1B[2Jb\\x00c\\r\\n\\t\\x7F\\u0085\\u009Bz");
  EXPECT_EQ(DumpBinaryText("\x00\xFF\x1B"s), "00 FF 1B (3 bytes)");
  EXPECT_EQ(DumpBinaryText(std::string(40, 'A')),
            "41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 "
            "41 41 41 41 ... (40 bytes)");

  // A message whose values carry ESC and NUL, in text of both widths and in binary.
  TempDir dir;
  const std::string path = dir.File("hostile.msg");
  {
    cfb::Storage root = cfb::CreateFile(path);
    auto put = [&root](const std::u16string& name, const std::string& bytes) {
      cfb::Stream s = root.CreateStream(name);
      s.Write(bytes.data(), bytes.size());
    };
    put(u"__substg1.0_0037001F", "R\0\x1B\0[\0"
                                 "3\0"
                                 "1\0m\0\0\0X\0"s); // "R ESC [31m NUL X"
    put(u"__substg1.0_0E1D001E", "\x1B]0;title\x07!"s);
    put(u"__substg1.0_10130102", "<b>\x1B[5m</b>\0"s);
    cfb::Commit(root);
  }
  const testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", path});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char c : r.out) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 || c == '\t' || c == '\n') << "control byte " << int(u);
  }
  EXPECT_NE(r.out.find("\t16\tR\\x1B[31m\\x00X\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t11\t\\x1B]0;title\\x07!\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t12\t3C 62 3E 1B 5B 35 6D 3C 2F 62 3E 00 (12 bytes)\n"), std::string::npos)
      << r.out;
}

} // namespace
} // namespace orlendo
