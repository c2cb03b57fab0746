// Streams whose names carry no property tag (document summaries, an Office data store) are part
// of the message: a .msg read and saved again keeps them, byte for byte, as olefile sees them.
#include <gtest/gtest.h>

#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

constexpr char kUntaggedStreams[] = R"(
import hashlib, olefile, re, sys
ole = olefile.OleFileIO(sys.argv[1])
for entry in sorted(ole.listdir()):
    if re.match(r"(__substg1\.0_[0-9A-F]{8}(-[0-9A-F]{8})?|__properties_version1\.0)$", entry[-1]):
        continue
    if any(p.startswith("__substg1.0_3701000D") for p in entry[:-1]):
        continue  # inside an OLE object, which is kept whole
    path = "/".join(entry)
    print(ascii(path), hashlib.sha256(ole.openstream(path).read()).hexdigest())
)";

TEST(UntaggedStreams, KeptOnSave) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is not installed";
  testutil::TempDir dir;
  for (const char* name : {"mrdr_sender_not_found_from_exchange.msg", "omp_attachments.msg"}) {
    const std::string source = testutil::CorpusPath(std::string("msg/") + name);
    const testutil::ProcessResult before = testutil::RunPython(kUntaggedStreams, {source});
    ASSERT_EQ(before.exitCode, 0) << before.err;
    ASSERT_NE(before.out.find("SummaryInformation"), std::string::npos) << name;
    TQvMSGFile message;
    message.LoadFromFile(source);
    const std::string saved = dir.File(name);
    message.SaveToMSG(saved, true);
    const testutil::ProcessResult after = testutil::RunPython(kUntaggedStreams, {saved});
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, before.out) << name;
  }
}

} // namespace
} // namespace orlendo
