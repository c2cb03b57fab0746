// Internet messages saved as .msg, read by readers that are not ours: olefile with Python's
// email for the structure and the content, msgconvert and an independent JavaScript reader
// (when installed) for what a user's program shows; and the trip back to EML.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "export/eml_writer.h"
#include "export/message_addresses.h"
#include "export/outlook_message.h"
#include "mime/qvemlfile.h"
#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/qvmsgcp.h"

namespace orlendo {
namespace {

using testutil::CorpusFiles;
using testutil::ProcessResult;
using testutil::TempDir;

std::vector<std::string> InternetCorpus() {
  std::vector<std::string> files = CorpusFiles("eml", ".eml");
  for (const char* ext : {".mht", ".mhtml"})
    for (const std::string& f : CorpusFiles("mht", ext))
      files.push_back(f);
  return files;
}

std::unique_ptr<TQvEMLFile> LoadInternet(const std::string& path) {
  std::unique_ptr<TQvEMLFile> m =
      path.ends_with(".eml") ? std::make_unique<TQvEMLFile>() : std::make_unique<TQvMHTFile>();
  m->LoadFromFile(path);
  return m;
}

std::string Base(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every corpus message written as .msg: the file is what olefile and Python's email agree it
// must be (a property stream with the right header in every storage, every stream declared with
// its size, no 8-bit string, a named-property map; subject, sender, To and Cc with addresses,
// every attachment a part of the message and every file of it among the attachments).
class OutlookFromInternet : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (const std::string& source : InternetCorpus()) {
      const std::string target = dir_->File(Base(source) + ".msg");
      LoadInternet(source)->SaveToMSG(target, true);
      pairs_.push_back({source, target});
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    pairs_.clear();
  }
  static TempDir* dir_;
  static std::vector<std::pair<std::string, std::string>> pairs_;
};
TempDir* OutlookFromInternet::dir_ = nullptr;
std::vector<std::pair<std::string, std::string>> OutlookFromInternet::pairs_;

TEST_F(OutlookFromInternet, OlefileAndPythonEmailAgree) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is not installed";
  ASSERT_GT(pairs_.size(), 20u);
  std::vector<std::string> args;
  for (const auto& [source, target] : pairs_) {
    args.push_back(source);
    args.push_back(target);
  }
  const std::string script = ReadFile(std::string(ORLENDO_TESTDATA_DIR) + "/scripts/msg_oracle.py");
  ASSERT_FALSE(script.empty());
  const ProcessResult r = testutil::RunPython(script, args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "OK " + std::to_string(pairs_.size()) + "\n");
}

// The independent JavaScript reader, when installed beside the build (npm install
// @kenjiuno/msgreader in the build folder, or its folder in ORLENDO_MSGREADER_DIR): the subject,
// the sender's and recipients' addresses and each attachment's name and size are those that the
// accessors give for the Internet message.
TEST_F(OutlookFromInternet, IndependentReaderSeesWhatTheMessageHolds) {
  std::string modules = std::filesystem::path(QUILLET_EXE).parent_path() / "node_modules";
  if (const char* dir = std::getenv("ORLENDO_MSGREADER_DIR"))
    modules = dir;
  if (!std::filesystem::exists(modules + "/@kenjiuno/msgreader") ||
      !std::filesystem::exists("/usr/bin/node"))
    GTEST_SKIP() << "node or @kenjiuno/msgreader is not installed";
  const std::string script = R"(
const fs = require('fs');
const MsgReader = require(process.argv[2] + '/@kenjiuno/msgreader').default;
for (const f of process.argv.slice(3)) {
  const r = new MsgReader(fs.readFileSync(f));
  const d = r.getFileData();
  const lines = ['FILE ' + f, 'error ' + (d.error || ''), 'subject ' + (d.subject || ''),
                 'sender ' + (d.senderSmtpAddress || '')];
  for (const x of d.recipients || []) lines.push('recipient ' + x.recipType + ' ' + (x.smtpAddress || ''));
  for (const a of d.attachments || []) {
    if (a.innerMsgContent) { lines.push('message ' + (a.innerMsgContentFields || {}).subject); continue; }
    lines.push('attachment ' + a.fileName + ' ' + r.getAttachment(a).content.length);
  }
  console.log(lines.join('\n'));
}
)";
  TempDir dir;
  std::ofstream(dir.File("read.js")) << script;
  std::vector<std::string> args = {dir.File("read.js"), modules};
  std::string expected;
  for (const auto& [source, target] : pairs_) {
    args.push_back(target);
    const std::unique_ptr<TQvEMLFile> m = LoadInternet(source);
    const TMSGProperties& p = m->Properties();
    expected += "FILE " + target + "\nerror \nsubject " + EncodeUtf8(p.GetSubject()) + "\nsender " +
                EncodeUtf8(GetSenderAddress(p).Address) + "\n";
    for (const auto& [kind, word] :
         {std::pair{TRecipientKind::To, "to"}, std::pair{TRecipientKind::Cc, "cc"},
          std::pair{TRecipientKind::Bcc, "bcc"}})
      for (const TMailAddress& a : GetRecipientAddresses(p, kind))
        if (!a.Name.empty() || !a.Address.empty())
          expected += std::string("recipient ") + word + " " + EncodeUtf8(a.Address) + "\n";
    TQvMSGFile back;
    back.LoadFromFile(target);
    for (int i = 0; i < back.Properties().AttachmentCount(); ++i) {
      const TMSGProperty* node = back.Properties().GetAttachment(i);
      if (node->IsEmbeddedMessage()) {
        const TMSGProperty* object =
            node->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
        expected += "message " + EncodeUtf8(object->SubProperties().GetSubject()) + "\n";
        continue;
      }
      TMemoryStream data;
      back.Properties().SaveAttachmentToStream(i, data);
      expected += "attachment " + node->GetAttachmentFileName(i) + " " +
                  std::to_string(data.Data().size()) + "\n";
    }
  }
  const ProcessResult r = testutil::RunProcess("/usr/bin/node", args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
}

// msgconvert turns our .msg into an Internet message again: Python's email finds in it the
// subject and the sender of the original, and every file of the .msg with its bytes.
TEST_F(OutlookFromInternet, MsgconvertReadsThemBack) {
  if (!std::filesystem::exists("/usr/bin/msgconvert"))
    GTEST_SKIP() << "msgconvert (libemail-outlook-message-perl) is not installed";
  TempDir dir;
  std::string list;
  for (const auto& [source, target] : pairs_) {
    const std::string eml = dir.File(Base(source) + ".eml");
    const ProcessResult r = testutil::RunProcess("/usr/bin/msgconvert", {"--outfile", eml, target});
    ASSERT_EQ(r.exitCode, 0) << source << ": " << r.err;
    list += source + "\t" + eml + "\n";
  }
  std::ofstream(dir.File("list")) << list;
  const std::string script = R"(
import email, email.header, email.policy, email.utils, sys
def text(v):
    s = str(email.header.make_header(email.header.decode_header(str(v or ""))))
    # 8-bit header text (UTF-8 written as it is) comes from the parser as escaped bytes.
    s = s.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    return " ".join(s.split())
def sender(m):
    return [a.lower() for _, a in email.utils.getaddresses(m.get_all("From", []))]
def files(m):
    return sorted((text(p.get_filename()), p.get_payload(decode=True) or b"") for p in m.walk()
                  if not p.is_multipart() and p.get_filename())
for line in open(sys.argv[1]):
    source, converted = line.rstrip("\n").split("\t")
    a = email.message_from_binary_file(open(source, "rb"), policy=email.policy.compat32)
    b = email.message_from_binary_file(open(converted, "rb"), policy=email.policy.compat32)
    name = source.rsplit("/", 1)[-1]
    # A header block that Python cannot end (folded lines without their blank) is not the
    # message's: there is nothing to compare with.
    if any(type(d).__name__ == "MissingHeaderBodySeparatorDefect" for d in a.defects):
        continue
    if text(a["Subject"]) != text(b["Subject"]) and "\ufffd" not in text(a["Subject"]):
        print(name, "subject", repr(text(b["Subject"])))
    if sender(a) and sender(a) != sender(b):
        print(name, "sender", sender(b))
    theirs = files(b)
    for f in files(a):
        # A winmail.dat goes into the .msg as the files it holds, which the TNEF tests check.
        if f[1].startswith(b"\x78\x9f\x3e\x22"):
            continue
        if a.get_content_type() != "message/partial" and f[0] and f not in theirs and \
                not any(n == f[0] and d.replace(b"\r\n", b"\n") == f[1].replace(b"\r\n", b"\n")
                        for n, d in theirs):
            print(name, "file", f[0])
)";
  const ProcessResult r = testutil::RunPython(script, {dir.File("list")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// .eml -> .msg -> EML: the EML written from our .msg carries what the EML written from the
// Internet message does (subject, people, the plain text, every named file with its bytes).
TEST_F(OutlookFromInternet, RoundTripToEmlKeepsTheMessage) {
  if (!testutil::PythonHasModule("email"))
    GTEST_SKIP() << "python3 is missing";
  TempDir dir;
  std::string list;
  for (const auto& [source, target] : pairs_) {
    const std::string direct = dir.File(Base(source) + ".direct.eml");
    const std::string viaMsg = dir.File(Base(source) + ".msg.eml");
    const std::unique_ptr<TQvEMLFile> m = LoadInternet(source);
    SaveToEMLFile(m->Properties(), direct);
    TQvMSGFile back;
    back.LoadFromFile(target);
    SaveToEMLFile(back.Properties(), viaMsg);
    // The EML written directly carries the preambles of multiparts as files; the .msg rightly
    // holds no such file, so they are left out of the comparison.
    std::string preambles;
    for (int i = 0; i < m->Properties().AttachmentCount(); ++i) {
      const TMSGProperty* node = m->Properties().GetAttachment(i);
      if (!node->SubProperties()
               .GetPropertyText(0x370E0000, true, false)
               .starts_with(u"multipart/"))
        continue;
      const std::string file = dir.File(Base(source) + ".preamble" + std::to_string(i));
      TFileStream out(file, TFileStream::Create);
      m->Properties().SaveAttachmentToStream(i, out);
      preambles += "\t" + file;
    }
    list += direct + "\t" + viaMsg + preambles + "\n";
  }
  std::ofstream(dir.File("list")) << list;
  const std::string script = R"(
import email, email.policy, re, sys
def view(path, structure=()):
    m = email.message_from_binary_file(open(path, "rb"), policy=email.policy.default)
    out = {k: str(m.get(k, "")) for k in ("Subject", "From", "To", "Cc")}
    for kind in ("plain", "html"):
        part = m.get_body(preferencelist=(kind,))
        out[kind] = " ".join(part.get_content().split()) if part is not None else None
    bodies = [m.get_body(preferencelist=(k,)) for k in ("plain", "html")]
    files = []
    for p in m.walk():
        if p.is_multipart() or any(p is b for b in bodies) or p.get_content_maintype() == "message":
            continue
        if p.get_payload(decode=True) in structure:
            continue
        c = p.get_content() if p.get_content_maintype() == "text" else p.get_payload(decode=True)
        name = p.get_filename() or ""
        name = "" if re.fullmatch(r"Attachment \d+", name) else name  # numbered by position
        files.append((name, " ".join(c.split()) if isinstance(c, str) else c))
    out["files"] = sorted(files, key=repr)
    return out
for line in open(sys.argv[1]):
    a, b, *preambles = line.rstrip("\n").split("\t")
    va, vb = view(a, [open(f, "rb").read() for f in preambles]), view(b)
    name = a.rsplit("/", 1)[-1]
    for k in ("Subject", "From", "To", "Cc"):
        if va[k] != vb[k]:
            print(name, k, repr(va[k])[:120], repr(vb[k])[:120])
    # The EML written directly keeps the MIME structure the message came in (several text
    # parts, say); the .msg holds one text body, one HTML body and the files. So the text of the
    # direct one's plain body must be in the other's, and its named files among the other's.
    if va["plain"] and va["plain"].strip('"') not in (vb["plain"] or ""):
        print(name, "plain", repr(va["plain"])[:120], repr(vb["plain"])[:120])
    # A TNEF stream goes into the .msg as the files it holds, which the oracle of the .msg checks.
    for f in va["files"]:
        if f[0] and f not in vb["files"] and not (
                isinstance(f[1], bytes) and f[1].startswith(b"\x78\x9f\x3e\x22")):
            print(name, "file", repr(f)[:120])
)";
  const ProcessResult r = testutil::RunPython(script, {dir.File("list")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// A message in a code page other than UTF-8 keeps its text: strings go into the .msg as UTF-16,
// whatever code page the message declares.
TEST(OutlookFromInternetText, JapaneseMessageKeepsItsSubjectAndBody) {
  TMemoryStream eml("From: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= <a@example.jp>\r\n"
                    "To: b@example.jp\r\n"
                    "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
                    "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                    "\x1b$BF|K\\8l\x1b(B\r\n");
  TQvEMLFile source;
  source.LoadFromStream(eml);
  ASSERT_EQ(source.Properties().GetSubject(), u"\u65e5\u672c\u8a9e");
  TMemoryStream image(InternetMessageToMSGImage(source.Properties(), true));
  TQvMSGFile back;
  back.LoadFromStream(image);
  EXPECT_EQ(back.Properties().GetSubject(), u"\u65e5\u672c\u8a9e");
  EXPECT_EQ(back.Properties().GetFrom(), source.Properties().GetFrom());
  EXPECT_EQ(back.Properties().GetBody(), source.Properties().GetBody());
  EXPECT_NE(back.Properties().GetBody().find(u"\u65e5\u672c\u8a9e"), std::u16string::npos);
}

// Texts as large as a hostile file go into the .msg from the Internet message's own text (its
// UTF-16 subject, its UTF-8 body and header block), streamed to the disk: the file holds the
// same bytes as the image made in memory, and reads back with every text whole.
TEST(OutlookFromInternetText, HugeTextsAreWrittenWhole) {
  std::string subject = "Re: ", body;
  for (int i = 0; subject.size() < 1600000; ++i)
    subject += i % 5 ? "Gr\xC3\xBC\xC3\x9F " : "\xF0\x9F\x98\x80 ";
  for (int i = 0; body.size() < 1300000; ++i)
    body += "line \xE2\x82\xAC " + std::to_string(i) + "\r\n";
  TMemoryStream eml("Subject: " + subject + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
                    body);
  TQvEMLFile source;
  source.LoadFromStream(eml);
  testutil::TempDir dir;
  const std::string path = dir.File("huge.msg");
  SaveInternetMessageToMSG(source.Properties(), path, true);
  const std::string image = InternetMessageToMSGImage(source.Properties(), true);
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(file == image);
  TQvMSGFile back;
  back.LoadFromFile(path);
  const TMSGProperties& p = back.Properties();
  EXPECT_TRUE(p.GetSubject() == source.Properties().GetSubject());
  EXPECT_TRUE(p.GetPropertyText(0x0E1D001F, false, false) ==
              source.Properties().GetSubject().substr(4));
  EXPECT_TRUE(p.GetBody() == source.Properties().GetBody());
  EXPECT_TRUE(p.GetTransportHeaders() == source.Properties().GetTransportHeaders());
  EXPECT_GE(p.GetTransportHeaders().size(), 1000000u);
}

TEST(OutlookFromInternetNames, ShortFileNames) {
  EXPECT_EQ(ShortFileName(u"report.pdf"), u"REPORT.PDF");
  EXPECT_EQ(ShortFileName(u"Quarterly report 2024.docx"), u"QUARTE~1.DOC");
  EXPECT_EQ(ShortFileName(u"README"), u"README");
  EXPECT_EQ(ShortFileName(u"\u65e5\u672c.txt"), u"ATTACH.TXT");
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// Date, priority and code page are the message's own: an attached message of another date and
// code page answers only where the message has none.
TEST(OwnLevelAccessors, NestedMessagesDoNotAnswerForTheirCarrier) {
  TQvMSGFile corpus;
  corpus.LoadFromFile(testutil::CorpusPath("msg/mprs_test_email.msg"));
  const TDateTimeParts sent = SplitDateTime(corpus.Properties().GetSentDate());
  EXPECT_EQ(sent.Year * 10000 + sent.Month * 100 + sent.Day, 20210105);

  TQvMessage m;
  TMSGProperties& root = m.Properties();
  TMSGProperty* subject = root.Add();
  subject->TagID = 0x0037001E;
  subject->Value = TVariant::FromBytes("\x93\xfa\x96\x7b"); // Japanese in Shift-JIS
  subject->DataSize = 4;
  TMSGProperty* object = root.Add(); // an attachment holding a Western message of 2020
  object->TagID = TAG_ATTACHMENT_NODE;
  TMSGProperty* data = object->SubProperties().Add();
  data->TagID = TAG_ATTACH_DATA_OBJ;
  data->SubProperties().AddProperty(0x3FFD0003, TVariant::FromInteger(1252));
  data->SubProperties().AddProperty(0x00390040, TVariant::FromDateTime(44100));
  data->SubProperties().AddProperty(0x00260003, TVariant::FromInteger(1));
  auto* stream = root.AddRecord<TMSGPropertyTopLevel>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->SubProperties().AddProperty(0x3FDE0003, TVariant::FromInteger(932));
  stream->SubProperties().AddProperty(0x0E060040, TVariant::FromDateTime(44201));
  stream->SubProperties().AddProperty(0x00170003, TVariant::FromInteger(1));
  EXPECT_EQ(root.GetCodePage(), 932);
  EXPECT_EQ(root.GetSubject(), u"\u65e5\u672c");
  EXPECT_EQ(root.GetSentDate(), 44201);
  TQvMessage plain; // the message's own IMPORTANCE alone
  plain.Properties().AddProperty(0x00170003, TVariant::FromInteger(1));
  EXPECT_EQ(root.GetPriority(), plain.Properties().GetPriority());
}

// A PT_I8 value beyond a double's 53 bits survives being read and saved.
TEST(OwnLevelAccessors, SixtyFourBitIntegersSurviveASave) {
  constexpr int64_t kBig = (int64_t{1} << 53) + 1;
  TQvMessage m;
  TMSGProperty* record = m.Properties().Add();
  record->TagID = 0x66A00014;
  record->Value = TVariant::FromInt64(kBig);
  record->DataSize = 8;
  auto* stream = m.Properties().AddRecord<TMSGPropertyTopLevel>();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  stream->SubProperties().AddProperty(0x66A10014, TVariant::FromInt64(kBig));
  TQvMSGFile back, again;
  for (TQvMessage* from : {static_cast<TQvMessage*>(&m), static_cast<TQvMessage*>(&back)}) {
    TQvMSGFile& to = from == &m ? back : again; // saved, then saved again as read
    TMemoryStream image(SaveToMSGImage(from->Properties(), true));
    to.LoadFromStream(image);
    const TMSGProperty* inStream = to.Properties().FindProperty(0x66A00014, false, true);
    const TMSGProperty* inEntry = to.Properties().FindProperty(0x66A10014, false, true);
    ASSERT_NE(inStream, nullptr);
    ASSERT_NE(inEntry, nullptr);
    EXPECT_EQ(inStream->Value.AsInt64(), kBig);
    EXPECT_EQ(inEntry->Value.AsInt64(), kBig);
    EXPECT_EQ(inEntry->Value.ToUtf8(), "9007199254740993");
  }
}

// An OLE package attachment is saved as the file it holds.
TEST(OwnLevelAccessors, OlePackageAttachmentIsTheFileInside) {
  const std::string file = "the packed file\r\n";
  std::string native = std::string(4, '\0') + std::string("\x02\x00", 2) + "note.txt" + '\0' +
                       "C:\\note.txt" + '\0' + std::string("\x00\x00\x03\x00", 4);
  const std::string temp = std::string("C:\\tmp\\note.txt") + '\0';
  native += std::string(1, static_cast<char>(temp.size())) + std::string(3, '\0') + temp;
  native += std::string(1, static_cast<char>(file.size())) + std::string(3, '\0') + file;
  cfb::Storage ole = cfb::CreateMemory();
  {
    cfb::Stream s = ole.CreateStream(u"\x01Ole10Native");
    s.Write(native.data(), native.size());
  }
  const std::string image = cfb::MemoryImage(ole);
  TQvMessage m;
  TMSGProperty* node = m.Properties().Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  TMSGProperty* data = node->SubProperties().Add();
  data->TagID = TAG_ATTACH_DATA_OBJ;
  data->Value = TVariant::FromBytes(image);
  data->DataSize = static_cast<int32_t>(image.size());
  ASSERT_EQ(m.Properties().AttachmentCount(), 1);
  TMemoryStream out;
  m.Properties().SaveAttachmentToStream(0, out);
  EXPECT_EQ(out.Data(), file);
}

// /E with a format that has no writer: a clear error, exit code 2, nothing written.
TEST(OwnLevelAccessors, ExportToAnUnknownFormatWritesNothing) {
  TempDir dir;
  for (const char* format : {"docx", "rtf"}) {
    const std::string target = dir.File(std::string("out.") + format);
    const ProcessResult r =
        testutil::RunProcess(QUILLET_EXE, {testutil::CorpusPath("eml/mrdr_TestWithAttachments.eml"),
                                           "/E", format, target, "/NOINI"});
    EXPECT_EQ(r.exitCode, 2) << format;
    EXPECT_NE(r.err.find(format), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(target)) << format;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

} // namespace
} // namespace orlendo
