// The preview's attachment list of every corpus .eml and .mht against what Python's email
// package (tests/data/mime/mail_client_view.py) finds a mail client would list in the original:
// the same parts in the same order, by file name and bytes. A forwarded message without a name
// is listed under its subject with ".eml".
#include <gtest/gtest.h>

#include <QListWidget>
#include <filesystem>
#include <fstream>
#include <set>

#include "components/msg_panel.h"
#include "mime/qvemlfile.h"
#include "model/stream.h"
#include "testutil/run_process.h"
#include "testutil/sha256.h"

namespace orlendo {
namespace {

std::string Json(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Normalized(std::string bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
      continue;
    out += bytes[i];
  }
  return out;
}

// Python ends the header block of these at a line that is no header field, where our reader and
// mail clients read on; and it lists nothing of a multipart without a boundary, whose text we keep
// as an attachment.
const std::set<std::string> kPythonMisreads = {
    "mhtml2html_portfolio.mhtml",
    "mhtml2html_missing_boundary_header.mhtml",
    // Its winmail.dat is unpacked, as Outlook shows it: the files inside are listed instead (the
    // TNEF tests check them).
    "mimekit_rich-text.eml",
};

constexpr char kCompare[] = R"PY(
import json, runpy, sys
view = runpy.run_path(sys.argv[1], run_name="oracle")["view"]
listed = json.load(open(sys.argv[2]))
problems = []
for path, items in listed.items():
    expected = view(path)["attachments"]
    where = path.rsplit("/", 1)[-1]
    if len(expected) != len(items):
        problems.append("%s: listed %s, a mail client %s" % (
            where, [i["name"] for i in items], [(e["name"], e["type"]) for e in expected]))
        continue
    for e, i in zip(expected, items):
        name = e["name"]
        if name is None and e["type"] == "message/rfc822":
            name = (e["subject"] or "message") + ".eml"
        if (name is not None and name != i["name"]) or (e["sha256"] not in (None, i["sha256"])):
            problems.append("%s: listed %s, a mail client %s" % (where, i, e))
print("\n".join(problems + ["checked %d" % len(listed)]))
)PY";

TEST(PreviewAttachmentList, ListsWhatMailClientsList) {
  if (!testutil::PythonHasModule("email"))
    GTEST_SKIP() << "python3 is missing";
  std::vector<std::string> files = testutil::CorpusFiles("eml", ".eml");
  for (const char* ext : {".mht", ".mhtml"}) {
    for (const std::string& path : testutil::CorpusFiles("mht", ext))
      files.push_back(path);
  }
  std::string json = "{";
  int checked = 0;
  for (const std::string& path : files) {
    if (kPythonMisreads.count(std::filesystem::path(path).filename().string()))
      continue;
    std::unique_ptr<TQvEMLFile> message;
    if (std::filesystem::path(path).extension() == ".eml")
      message = std::make_unique<TQvEMLFile>();
    else
      message = std::make_unique<TQvMHTFile>();
    message->LoadFromFile(path);
    TfrmMessage panel;
    panel.DisplayMessage(&message->Properties());
    std::string items = "[";
    for (int row = 0; row < panel.lvAttachments->count(); ++row) {
      const QListWidgetItem* item = panel.lvAttachments->item(row);
      TMemoryStream data;
      message->Properties().SaveAttachmentToStream(
          item->data(TfrmMessage::kAttachmentIndexRole).toInt(), data);
      items += std::string(row > 0 ? "," : "") + "{\"name\":" +
               Json(item->data(TfrmMessage::kFileNameRole).toString().toStdString()) +
               ",\"sha256\":" + Json(testutil::Sha256Hex(Normalized(data.Data()))) + "}";
    }
    json += std::string(checked++ > 0 ? ",\n" : "") + Json(path) + ":" + items + "]";
  }
  json += "}";
  testutil::TempDir dir;
  std::ofstream(dir.File("listed.json"), std::ios::binary) << json;
  EXPECT_GE(checked, 30);
  const testutil::ProcessResult py = testutil::RunPython(
      kCompare, {ORLENDO_TESTDATA_DIR "/mime/mail_client_view.py", dir.File("listed.json")});
  ASSERT_EQ(py.exitCode, 0) << py.err;
  EXPECT_EQ(py.out, "checked " + std::to_string(checked) + "\n");
}

} // namespace
} // namespace orlendo
