// The TNEF reader on the corpus streams: each gives the files and the body another decoder
// extracted (expected/NAME/), byte for byte, in the loose and in the strict mode; the damaged
// one yields what it holds and says what is wrong.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "model/qvmsg.h"
#include "model/utf8.h"
#include "msg/tnef_message.h"
#include "msg/tnef_reader.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::CorpusFiles;
using testutil::CorpusPath;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string WithoutCR(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// The other decoder's suite keeps some text files with LF line ends where the stream has CR LF.
bool SameFile(const std::string& got, const std::string& expected) {
  return got == expected ||
         (expected.find('\r') == std::string::npos && WithoutCR(got) == expected);
}

// The other decoder saved OLE objects with the interface id that precedes them in the stream;
// the file is the compound file after it, as the .msg reader gives it.
std::string WithoutStorageId(const std::string& bytes) {
  static const std::string iid("\x0B\0\0\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16);
  return bytes.compare(0, 16, iid) == 0 ? bytes.substr(16) : bytes;
}

std::string BaseName(const std::string& path) {
  const std::string file = path.substr(path.find_last_of('/') + 1);
  return file.substr(0, file.find_last_of('.'));
}

// The files of a folder, by name.
std::map<std::string, std::string> ListFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string file = e->d_name;
      if (file != "." && file != "..")
        files[file] = ReadFile(dir + "/" + file);
    }
    closedir(d);
  }
  return files;
}

// The files of expected/NAME/, by name.
std::map<std::string, std::string> ExpectedFiles(const std::string& name) {
  return ListFiles(CorpusPath("tnef/expected/" + name));
}

// The attachments as files: name and bytes. Names that occur more than once are numbered
// NAME.1, NAME.2, as the extracting decoder saved them; with backups, NAME, NAME.1, as the tnef
// program does.
std::map<std::string, std::string> AttachmentFiles(const TMSGProperties& message,
                                                   bool backups = false) {
  std::vector<std::pair<std::string, std::string>> list;
  std::map<std::string, int> seen;
  for (int i = 0; i < message.AttachmentCount(); ++i) {
    TMemoryStream data;
    message.SaveAttachmentToStream(i, data);
    const std::string name = message.GetAttachment(i)->GetAttachmentFileName(i);
    list.emplace_back(name, data.Data());
    ++seen[name];
  }
  std::map<std::string, int> numbered;
  std::map<std::string, std::string> files;
  for (auto& [name, bytes] : list) {
    const int n = ++numbered[name] - (backups ? 1 : 0);
    const std::string file = seen[name] > 1 && n > 0 ? name + "." + std::to_string(n) : name;
    files[file] = bytes;
  }
  return files;
}

void ExpectLikeTheOtherDecoder(const TMSGProperties& message, const std::string& name) {
  std::map<std::string, std::string> expected = ExpectedFiles(name);
  // The body files are the message's bodies; the rest are its attachments.
  for (const auto& [file, body] : std::map<std::string, std::string>(expected)) {
    if (file == "message.rtf") {
      EXPECT_TRUE(SameFile(message.GetBodyRTFBytes(), body)) << name;
    } else if (file == "message.html") {
      // The other decoder's HTML and text files were saved with LF line ends.
      EXPECT_EQ(WithoutCR(utf8::Encode(message.GetBodyHTML())), body) << name;
    } else if (file == "message.txt") {
      EXPECT_EQ(WithoutCR(utf8::Encode(message.GetBody())), body) << name;
    } else {
      continue;
    }
    expected.erase(file);
  }
  const std::map<std::string, std::string> got = AttachmentFiles(message);
  for (const auto& [file, bytes] : expected) {
    const auto found = got.find(file);
    if (found == got.end()) {
      ADD_FAILURE() << name << ": no attachment " << file;
      continue;
    }
    EXPECT_TRUE(SameFile(found->second, WithoutStorageId(bytes)))
        << name << "/" << file << ": " << found->second.size() << " bytes, expected "
        << bytes.size();
  }
  EXPECT_EQ(got.size(), expected.size()) << name;
}

TEST(TnefCorpus, EveryStreamGivesTheFilesAndBodyOfTheOtherDecoder) {
  int streams = 0;
  for (const std::string& path : CorpusFiles("tnef", ".tnef")) {
    const std::string name = BaseName(path);
    SCOPED_TRACE(name);
    TQvTNEFFile message;
    if (name == "garbage-at-end") {
      EXPECT_THROW(message.LoadFromFile(path), EMSGError);
      EXPECT_EQ(message.Damage(), TNEF_TRAILING_DATA);
    } else {
      EXPECT_NO_THROW(message.LoadFromFile(path));
      EXPECT_EQ(message.Damage(), 0u);
      // A clean stream passes the strict mode too, with the same result.
      TQvTNEFFile strict;
      strict.Compliance = TTnefCompliance::Strict;
      EXPECT_NO_THROW(strict.LoadFromFile(path));
      EXPECT_EQ(strict.Properties().AttachmentCount(), message.Properties().AttachmentCount());
    }
    ExpectLikeTheOtherDecoder(message.Properties(), name);
    ++streams;
  }
  EXPECT_GE(streams, 14);
}

TEST(TnefCorpus, GarbageAtTheEndIsNamedAndRaisesInTheStrictMode) {
  const std::string path = CorpusPath("tnef/garbage-at-end.tnef");
  TQvTNEFFile loose;
  try {
    loose.LoadFromFile(path);
    ADD_FAILURE() << "no error";
  } catch (const EMSGError& e) {
    EXPECT_NE(std::string(e.what()).find("after the last attribute"), std::string::npos)
        << e.what();
  }
  // What came before the garbage is all there.
  EXPECT_EQ(loose.Properties().GetPropertyText(0x0070001F, false, false),
            u"Test with lots of addresses");

  TQvTNEFFile strict;
  strict.Compliance = TTnefCompliance::Strict;
  try {
    strict.LoadFromFile(path);
    ADD_FAILURE() << "no error";
  } catch (const ETnefError& e) {
    EXPECT_EQ(e.Code(), TNEF_TRAILING_DATA);
    EXPECT_EQ(e.Offset(), ReadFile(path).size() - 1);
  }
}

// The files that Debian's tnef program unpacks from each stream: the same names and bytes. Its
// --number-backups names the second of two equal names NAME.1.
TEST(TnefInterop, TheTnefProgramUnpacksTheSameFiles) {
  if (access("/usr/bin/tnef", X_OK) != 0)
    GTEST_SKIP() << "tnef is not installed";
  for (const std::string& path : CorpusFiles("tnef", ".tnef")) {
    const std::string name = BaseName(path);
    SCOPED_TRACE(name);
    testutil::TempDir dir;
    const testutil::ProcessResult run =
        testutil::RunProcess("/usr/bin/tnef", {"--number-backups", "-C", dir.Path(), path});
    TQvTNEFFile message;
    try {
      message.LoadFromFile(path);
    } catch (const EMSGError&) {
    }
    // Both find the same streams damaged (tnef says so, but exits with 0).
    const bool theyComplain = run.exitCode != 0 || run.err.find("ERROR") != std::string::npos;
    EXPECT_EQ(theyComplain, message.Damage() != 0) << run.err;
    if (theyComplain)
      continue;
    std::map<std::string, std::string> theirs;
    for (const auto& [file, bytes] : ListFiles(dir.Path()))
      theirs[file] = WithoutStorageId(bytes);
    const std::map<std::string, std::string> ours = AttachmentFiles(message.Properties(), true);
    EXPECT_EQ(ours.size(), theirs.size());
    for (const auto& [file, bytes] : theirs) {
      const auto found = ours.find(file);
      if (found == ours.end())
        ADD_FAILURE() << "tnef unpacked " << file << ", we have no such attachment";
      else
        EXPECT_TRUE(found->second == bytes) << file;
    }
  }
}

} // namespace
} // namespace orlendo
