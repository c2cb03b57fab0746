// The EML that quillet writes of every corpus .eml and .mht, read by Python's email package as a
// mail client would show it (tests/data/mime/mail_client_view.py): the same plain and HTML body
// text and the same attachments by name and bytes as Python finds in the original, and no
// text/rtf part.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::TempDir;

// Originals that Python does not read as mail clients do, so that its view of them is no oracle
// as they stand. Python ends the header block at a line that is no header field, where our
// reader and mail clients read on: a folded line without its blank. Python reads such a file in
// the form repaired here (the blank put back), and that view is the oracle for what we write of
// the original.
const std::map<std::string, std::vector<std::pair<std::string, std::string>>> kPythonRepairs = {
    {"mrdr_UTF-8_Test.eml",
     {{"?=\n=?utf-8?B?44OO", "?=\n =?utf-8?B?44OO"},
      {"?=\n=?utf-8?B?pSAy", "?=\n =?utf-8?B?pSAy"}}},
    {"mhtml2html_portfolio.mhtml", {{"multiple\nlines\n", "multiple\n lines\n"}}},
};
// A multipart without a boundary is nothing to Python, where we keep its text as an attachment.
const std::set<std::string> kPythonMisreads = {
    "mhtml2html_missing_boundary_header.mhtml",
    // Its winmail.dat is written as the files and the rich body it holds, which Python's view of
    // the original cannot show (TnefInMessages checks them).
    "mimekit_rich-text.eml",
};

// The original as Python should read it: repaired where kPythonRepairs says, else path itself.
std::string OracleOriginal(const std::string& path, const TempDir& dir, int n) {
  const auto repair = kPythonRepairs.find(std::filesystem::path(path).filename().string());
  if (repair == kPythonRepairs.end())
    return path;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto& [from, to] : repair->second) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << path << ": " << from;
    if (at != std::string::npos)
      text.replace(at, from.size(), to);
  }
  const std::string repaired = dir.File(std::to_string(n) + ".repaired");
  std::ofstream(repaired, std::ios::binary) << text;
  return repaired;
}

constexpr char kCompare[] = R"PY(
import json, runpy, sys
view = runpy.run_path(sys.argv[1], run_name="oracle")["view"]
problems = []
pairs = json.load(open(sys.argv[2]))
for original, written in pairs:
    a, b = view(original), view(written)
    where = original.rsplit("/", 1)[-1]
    for key in ("plain", "html"):
        if a[key] != b[key]:
            problems.append("%s: %s body differs (%d against %d characters)"
                            % (where, key, len(a[key]), len(b[key])))
    left, right = a["attachments"], b["attachments"]
    if len(left) != len(right):
        problems.append("%s: attachments %s, written %s" % (
            where, [(x["name"], x["type"]) for x in left], [(x["name"], x["type"]) for x in right]))
    else:
        for x, y in zip(left, right):
            # A part without a name may get one; one with a name keeps it.
            same = ((x["name"] is None or x["name"] == y["name"]) and x["type"] == y["type"]
                    and x["sha256"] == y["sha256"] and x.get("subject") == y.get("subject"))
            if not same:
                problems.append("%s: attachment %s written as %s" % (where, x, y))
    if b"text/rtf" in open(written, "rb").read().lower():
        problems.append(where + ": a text/rtf part")
print("\n".join(problems + ["checked %d" % len(pairs)]))
)PY";

TEST(EmlMimeTree, PythonSeesTheOriginalsBodiesAndAttachments) {
  if (!testutil::PythonHasModule("email"))
    GTEST_SKIP() << "python3 is missing";
  TempDir dir;
  std::string pairs = "[";
  int n = 0;
  std::vector<std::string> files = testutil::CorpusFiles("eml", ".eml");
  for (const char* ext : {".mht", ".mhtml"}) {
    for (const std::string& path : testutil::CorpusFiles("mht", ext))
      files.push_back(path);
  }
  for (const std::string& path : files) {
    const std::string name = std::filesystem::path(path).filename().string();
    if (kPythonMisreads.count(name))
      continue;
    // The program knows web archives by the .mht extension.
    std::string source = path;
    if (std::filesystem::path(path).extension() == ".mhtml") {
      source = dir.File(std::filesystem::path(path).stem().string() + ".mht");
      std::filesystem::copy_file(path, source);
    }
    const std::string eml = dir.File(std::to_string(n++) + ".eml");
    const testutil::ProcessResult r = testutil::RunProcess(QUILLET_EXE, {source, "/E", "eml", eml});
    ASSERT_EQ(r.exitCode, 0) << path << ": " << r.err;
    pairs += std::string(pairs.size() > 1 ? "," : "") + "[\"" + OracleOriginal(path, dir, n) +
             "\",\"" + eml + "\"]";
  }
  pairs += "]";
  std::ofstream(dir.File("pairs.json"), std::ios::binary) << pairs;
  EXPECT_GE(n, 29);
  const testutil::ProcessResult py = testutil::RunPython(
      kCompare, {ORLENDO_TESTDATA_DIR "/mime/mail_client_view.py", dir.File("pairs.json")});
  ASSERT_EQ(py.exitCode, 0) << py.err;
  EXPECT_EQ(py.out, "checked " + std::to_string(n) + "\n");
}

} // namespace
} // namespace orlendo
