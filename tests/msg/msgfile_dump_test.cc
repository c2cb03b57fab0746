// `quillet --dump`: the line format, the tree order, escaping and cutting of values, large
// values, and the exit status and message of failures.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <vector>

#include "model/named_properties.h"
#include "model/qvmsg.h"
#include "msg/compound_file.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using namespace std::string_literals;
using testutil::CorpusPath;
using testutil::RunProcess;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line);
  return lines;
}

// The fields of a dump line: depth, tag, name, size, value.
struct DumpLine {
  int depth = 0;
  std::string tag, name, size, value;
};

// Splits on the first three TABs only: the value itself shows TABs as \t.
DumpLine Fields(const std::string& line) {
  DumpLine d;
  size_t i = 0;
  while (i + 1 < line.size() && line[i] == ' ' && line[i + 1] == ' ') {
    i += 2;
    ++d.depth;
  }
  const size_t t1 = line.find('\t', i);
  const size_t t2 = line.find('\t', t1 + 1);
  const size_t t3 = line.find('\t', t2 + 1);
  if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos)
    return d;
  d.tag = line.substr(i, t1 - i);
  d.name = line.substr(t1 + 1, t2 - t1 - 1);
  d.size = line.substr(t2 + 1, t3 - t2 - 1);
  d.value = line.substr(t3 + 1);
  return d;
}

// Indentation in pairs of spaces, "0x" and eight upper-case hex digits, a name, a decimal size
// and a value without TABs.
bool LooksLikeADumpLine(const std::string& line, const DumpLine& d) {
  if (line.compare(0, 2 * static_cast<size_t>(d.depth) + 2,
                   std::string(2 * static_cast<size_t>(d.depth), ' ') + "0x") != 0) {
    return false;
  }
  if (d.tag.size() != 10)
    return false;
  for (size_t i = 2; i < 10; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(d.tag[i])) && (d.tag[i] < 'A' || d.tag[i] > 'F'))
      return false;
  }
  if (d.size.empty() || d.name.find('\t') != std::string::npos)
    return false;
  for (size_t i = 0; i < d.size.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(d.size[i])) && !(i == 0 && d.size[i] == '-'))
      return false;
  }
  return d.value.find('\t') == std::string::npos;
}

TEST(MsgFileDump, OneLinePerRecordInTreeOrder) {
  for (const char* name : {"msg/poi_attachment_msg_pdf.msg", "msg/kmr_Hello_CJK.msg"}) {
    const std::string path = CorpusPath(name);
    const testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    const std::vector<std::string> lines = Lines(r.out);

    // The same tree, walked here.
    TQvMSGFile message;
    message.LoadFromFile(path);
    std::vector<std::pair<int, const TMSGProperty*>> records;
    std::vector<std::pair<const TMSGProperties*, int>> stack{{&message.Properties(), 0}};
    while (!stack.empty()) {
      auto& [level, next] = stack.back();
      if (next >= level->Count()) {
        stack.pop_back();
        continue;
      }
      const TMSGProperty* rec = level->Items(next++);
      records.push_back({static_cast<int>(stack.size()) - 1, rec});
      if (rec->SubProperties().Count() > 0)
        stack.push_back({&rec->SubProperties(), 0});
    }
    ASSERT_EQ(lines.size(), records.size()) << name;

    for (size_t i = 0; i < lines.size(); ++i) {
      const DumpLine d = Fields(lines[i]);
      ASSERT_TRUE(LooksLikeADumpLine(lines[i], d)) << name << ": " << lines[i];
      const TMSGProperty& rec = *records[i].second;
      EXPECT_EQ(d.depth, records[i].first) << lines[i];
      char tag[16];
      std::snprintf(tag, sizeof tag, "0x%08X", rec.TagID);
      EXPECT_EQ(d.tag, tag);
      EXPECT_EQ(d.name, PropertyDisplayName(rec, false));
      EXPECT_EQ(d.size, std::to_string(rec.DataSize));
    }
  }
}

TEST(MsgFileDump, ValuesAreDecodedEscapedAndCut) {
  // The subject of an 8-bit message in code page 1251, as olefile and python's codecs read it.
  const testutil::ProcessResult cyr =
      RunProcess(QUILLET_EXE, {"--dump", CorpusPath("msg/poi_ASCII_CP1251_LCID1049.msg")});
  ASSERT_EQ(cyr.exitCode, 0) << cyr.err;
  EXPECT_NE(cyr.out.find("\n0x0037001E\tSUBJECT\t29\tSubject автоматически Subject\n"),
            std::string::npos);

  // A long Unicode body with line breaks: the first 200 characters, CR and LF escaped; python
  // reads the stream and escapes on its own.
  const std::string path = CorpusPath("msg/omp_chinese_message.msg");
  const testutil::ProcessResult expected = testutil::RunPython(
      "import sys, olefile\n"
      "o = olefile.OleFileIO(sys.argv[1])\n"
      "t = o.openstream('__substg1.0_1000001F').read().decode('utf-16-le')[:200]\n"
      "t = t.replace('\\r', '\\\\r').replace('\\n', '\\\\n').replace('\\t', '\\\\t')\n"
      "sys.stdout.buffer.write(t.encode('utf-8'))\n",
      {path});
  ASSERT_EQ(expected.exitCode, 0) << expected.err;
  ASSERT_GT(expected.out.size(), 200u);
  const testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", path});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  bool found = false;
  for (const std::string& line : Lines(r.out)) {
    const DumpLine d = Fields(line);
    if (d.depth == 0 && d.tag == "0x1000001F") {
      EXPECT_EQ(d.value, expected.out);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST(MsgFileDump, LargeValuesShowTheirBeginningDecodedAsAWhole) {
  testutil::TempDir dir;
  const std::string path = dir.File("large.msg");
  {
    cfb::Storage root = cfb::CreateFile(path);
    auto put = [&root](const std::u16string& name, const std::string& bytes) {
      cfb::Stream s = root.CreateStream(name);
      s.Write(bytes.data(), bytes.size());
    };
    std::string utf8;
    for (int i = 0; i < 3000; ++i)
      utf8 += "\xC3\xA9";                        // é in UTF-8
    put(u"__substg1.0_0037001E", utf8);          // valid UTF-8 throughout
    put(u"__substg1.0_1000001E", utf8 + "\xFF"); // invalid only at its very end
    std::string wide;
    for (int i = 0; i < 6000; ++i)
      wide += "\x42\x26"s; // U+2642
    put(u"__substg1.0_0070001F", wide);
    cfb::Commit(root);
  }
  const testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", path});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string e200, mojibake, mars;
  for (int i = 0; i < 200; ++i)
    e200 += "\xC3\xA9";
  for (int i = 0; i < 100; ++i)
    mojibake += "\xC3\x83\xC2\xA9"; // "Ã©": read as Windows-1252
  for (int i = 0; i < 200; ++i)
    mars += "\xE2\x99\x82";
  const std::string out = r.out;
  EXPECT_NE(out.find("0x0037001E\tSUBJECT\t6000\t" + e200 + "\n"), std::string::npos);
  EXPECT_NE(out.find("0x1000001E\tBODY\t6001\t" + mojibake + "\n"), std::string::npos);
  EXPECT_NE(out.find("0x0070001F\tCONVERSATION_TOPIC\t12000\t" + mars + "\n"), std::string::npos);
}

TEST(MsgFileDump, FailuresExitWithOneAndTheMessage) {
  const std::string missing = CorpusPath("msg/not_there.msg");
  testutil::ProcessResult r = RunProcess(QUILLET_EXE, {"--dump", missing});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "File " + missing + " is not found.\n");

  const std::string notCompound = CorpusPath("msg/oxmsg_not-a-MSG-file.msg");
  r = RunProcess(QUILLET_EXE, {"--dump", notCompound});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "File " + notCompound + " is not valid file (compound storage)\n");
}

} // namespace
} // namespace orlendo
