// Our compound-file reader and writer against an independent reader, olefile: the corpus must
// read the same through both, and what we write must read back through olefile unchanged.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "msg/compound_file.h"
#include "testutil/cfb_tree.h"
#include "testutil/run_process.h"

namespace orlendo::cfb {
namespace {

using testutil::DumpCompoundTree;

// Runs the olefile tree script over files; returns each file's lines (absent: "NOTOLE").
std::map<std::string, std::vector<std::string>>
OlefileTrees(const std::vector<std::string>& files) {
  const testutil::ProcessResult r = testutil::RunPython(testutil::kOlefileTreeScript, files);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, std::vector<std::string>> trees;
  std::istringstream in(r.out);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("FILE ", 0) == 0) {
      current = line.substr(5);
      trees[current];
    } else {
      trees[current].push_back(line);
    }
  }
  return trees;
}

void SkipWithoutOlefile() {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is not installed";
}

// A stream our reader refuses must be one that olefile, raising on defects, refuses too; every
// other line must be the same, in the same order.
void ExpectSameTree(const std::vector<std::string>& ours, const std::vector<std::string>& theirs,
                    const std::string& what) {
  ASSERT_EQ(ours.size(), theirs.size()) << what;
  for (size_t i = 0; i < ours.size(); ++i) {
    const std::string& a = ours[i];
    const std::string& b = theirs[i];
    const size_t err = a.find(" error ");
    if (err != std::string::npos) {
      EXPECT_EQ(a.substr(0, a.find(' ', a.find(" S ") + 3)),
                b.substr(0, b.find(' ', b.find(" S ") + 3)))
          << what;
      EXPECT_TRUE(b.size() > 7 && b.compare(b.size() - 7, 7, " defect") == 0)
          << what << ": we refuse a stream that olefile reads without a defect: " << a;
      continue;
    }
    std::string theirsClean = b;
    if (theirsClean.size() > 7 && theirsClean.compare(theirsClean.size() - 7, 7, " defect") == 0) {
      theirsClean.resize(theirsClean.size() - 7);
    }
    EXPECT_EQ(a, theirsClean) << what << " line " << i;
  }
}

TEST(CfbOlefile, CorpusReadsTheSameAsOlefile) {
  SkipWithoutOlefile();
  const std::vector<std::string> files = testutil::CorpusFiles("msg", ".msg");
  ASSERT_FALSE(files.empty());
  const auto trees = OlefileTrees(files);
  size_t compound = 0, streamsCompared = 0;
  for (const std::string& path : files) {
    const auto& theirs = trees.at(path);
    const bool theyTakeIt = theirs.empty() || theirs[0] != "NOTOLE";
    ASSERT_EQ(IsCompoundFile(path), theyTakeIt) << path;
    if (!theyTakeIt) {
      EXPECT_THROW(OpenFile(path), EOleError) << path;
      continue;
    }
    ++compound;
    const std::vector<std::string> ours = DumpCompoundTree(OpenFile(path));
    ExpectSameTree(ours, theirs, path);
    for (const std::string& l : ours)
      streamsCompared += l.find(" S ") != std::string::npos;
  }
  // The corpus has two files that are not compound files; all others must have been compared.
  EXPECT_EQ(compound + 2, files.size());
  EXPECT_GT(streamsCompared, 1000u);
}

// Deterministic bytes that differ from stream to stream.
std::string Pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = char(x);
  }
  return s;
}

void WriteStream(Storage& parent, const std::u16string& name, const std::string& bytes) {
  Stream s = parent.CreateStream(name);
  ASSERT_EQ(s.Write(bytes.data(), bytes.size()), bytes.size());
}

TEST(CfbOlefile, OlefileReadsWhatWeWrite) {
  SkipWithoutOlefile();
  testutil::TempDir dir;
  const std::string small = dir.File("small.msg");
  const std::string cutoff = dir.File("cutoff.msg");
  const std::string big = dir.File("big.msg");
  {
    Storage root = CreateFile(small);
    root.SetClsid({0x0B, 0x0D, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46});
    WriteStream(root, u"__substg1.0_0037001F", Pattern(40, 1));
    WriteStream(root, u"__properties_version1.0", Pattern(32, 2));
    WriteStream(root,
                u"\x01"
                u"CompObj",
                Pattern(0, 3));
    Storage attach = root.CreateStorage(u"__attach_version1.0_#00000000");
    attach.SetClsid({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    WriteStream(attach, u"__substg1.0_37010102", Pattern(1000, 4));
    Storage inner = attach.CreateStorage(u"__substg1.0_3701000D");
    WriteStream(inner, u"Ünïcödé name", Pattern(64, 5));
    WriteStream(inner, u"b", Pattern(65, 6));
    WriteStream(inner, u"A", Pattern(63, 7));
    Commit(root);
  }
  {
    Storage root = CreateFile(cutoff);
    WriteStream(root, u"s4095", Pattern(4095, 8));
    WriteStream(root, u"s4096", Pattern(4096, 9));
    WriteStream(root, u"s4097", Pattern(4097, 10));
    Commit(root);
  }
  {
    Storage root = CreateFile(big);
    // More than 109 FAT sectors of 128 entries: the FAT is listed through DIFAT sectors.
    WriteStream(root, u"__substg1.0_37010102", Pattern(8 * 1024 * 1024 + 12345, 11));
    for (int i = 0; i < 40; ++i) {
      const std::string name = "__recip_version1.0_#" + std::string(6, '0') +
                               "0123456789ABCDEF"[i / 16] + "0123456789ABCDEF"[i % 16];
      Storage recip = root.CreateStorage(std::u16string(name.begin(), name.end()));
      WriteStream(recip, u"__substg1.0_3001001F", Pattern(100 + i, 12 + i));
    }
    Commit(root);
  }
  const std::string bigImage = MemoryImage(OpenFile(big));
  ASSERT_GT(bigImage.size(), 8u * 1024 * 1024);
  const uint32_t numDifat = uint8_t(bigImage[72]) | uint8_t(bigImage[73]) << 8;
  const uint32_t numFat = uint8_t(bigImage[44]) | uint8_t(bigImage[45]) << 8;
  EXPECT_GT(numFat, 109u);
  EXPECT_GE(numDifat, 1u);

  const auto trees = OlefileTrees({small, cutoff, big});
  for (const std::string& path : {small, cutoff, big}) {
    const std::vector<std::string> ours = DumpCompoundTree(OpenFile(path, Validation::Strict));
    // What we write must have no defect at all in olefile's eyes.
    EXPECT_EQ(ours, trees.at(path)) << path;
  }
  EXPECT_FALSE(trees.at(small).empty());
}

} // namespace
} // namespace orlendo::cfb
