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

#include "export/eml_writer.h"
#include "mime/qvemlfile.h"
#include "mime/tnef_message.h"
#include "mime/tnef_reader.h"
#include "model/qvmsg.h"
#include "model/utf8.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/base64.h"
#include "winmail_message.h"

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

// Damaged copies of every corpus stream (cut short, a checksum wrong, garbage after the end): the
// stream read alone keeps what it could and says what it could not; as the winmail.dat of a mail
// it stays listed, named as damaged, beside the files that could be read, and the EML written
// from that mail carries it byte for byte, so that nothing is lost.
TEST(TnefCorpus, DamagedCopiesKeepWhatWasReadAndSayWhatWasNot) {
  int cases = 0;
  for (const std::string& path : CorpusFiles("tnef", ".tnef")) {
    const std::string name = BaseName(path);
    if (name == "garbage-at-end")
      continue;
    const std::string whole = ReadFile(path);
    std::string badChecksum = whole;
    badChecksum.back() = static_cast<char>(badChecksum.back() ^ 0x5A);
    const std::pair<const char*, std::string> copies[] = {
        {"cut to a third", whole.substr(0, whole.size() / 3)},
        {"cut before the last checksum", whole.substr(0, whole.size() - 1)},
        {"a checksum wrong", badChecksum},
        {"garbage at the end", whole + "\x01\x02garbage"},
    };
    const std::map<std::string, std::string> complete = [&] {
      TQvTNEFFile message;
      message.LoadFromFile(path);
      return AttachmentFiles(message.Properties());
    }();
    for (const auto& [what, bytes] : copies) {
      SCOPED_TRACE(name + ", " + what);
      ++cases;
      TQvTNEFFile alone;
      TMemoryStream in(bytes);
      try {
        alone.LoadFromStream(in);
        ADD_FAILURE() << "the damage is not told";
      } catch (const EMSGError& e) {
        EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
      }
      EXPECT_NE(alone.Damage(), 0u);
      // What was read is what the whole stream holds, cut short where the stream is (a file
      // whose name was not reached has the name the reader gives it).
      for (const auto& [file, data] : AttachmentFiles(alone.Properties())) {
        const bool held = std::any_of(complete.begin(), complete.end(), [&](const auto& c) {
          return (c.first == file || !complete.count(file)) &&
                 c.second.compare(0, data.size(), data) == 0;
        });
        EXPECT_TRUE(held) << file << ", " << data.size() << " bytes";
      }

      const std::string eml = "From: a@example.org\r\nSubject: damaged\r\nMIME-Version: 1.0\r\n"
                              "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                              "--b\r\nContent-Type: text/plain\r\n\r\nText.\r\n--b\r\n"
                              "Content-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n" +
                              EncodeBase64(bytes) + "\r\n--b--\r\n";
      TMemoryStream emlIn(eml);
      TQvEMLFile mail;
      mail.LoadFromStream(emlIn);
      const TMSGProperties& p = mail.Properties();
      int stream = -1;
      for (int i = 0; i < p.AttachmentCount(); ++i)
        if (p.GetAttachment(i)->GetAttachmentFileName(i) == "winmail.dat")
          stream = i;
      ASSERT_GE(stream, 0);
      EXPECT_NE(p.GetAttachment(stream)->GetAttachmentName(stream).find("damaged TNEF"),
                std::string::npos);
      EXPECT_EQ(p.AttachmentCount(), 1 + AttachmentFiles(alone.Properties()).size());
      TMemoryStream written;
      SaveToEML(p, &written);
      TMemoryStream again(written.Data());
      TQvEMLFile reread;
      reread.LoadFromStream(again);
      bool kept = false;
      for (int i = 0; i < reread.Properties().AttachmentCount(); ++i) {
        TMemoryStream data;
        reread.Properties().SaveAttachmentToStream(i, data);
        kept = kept || data.Data() == bytes;
      }
      EXPECT_TRUE(kept) << "the damaged stream is not in the EML as it came";
    }
  }
  EXPECT_GE(cases, 50);
}

// Reads the EML and .msg files that the writers made of mail carrying a winmail.dat (argv: a
// folder with NAME.eml and NAME.msg, then the names) as Python's email, olefile and msgconvert
// do, against expected/NAME/: the files inside are the message's attachments, with their names
// and bytes, winmail.dat is gone, and the rich body is the HTML alternative of the EML.
constexpr char kReadWritten[] = R"PY(
import email, email.policy, olefile, os, subprocess, sys
folder, expected_root, names = sys.argv[1], sys.argv[2], sys.argv[3:]
BODIES = ("message.rtf", "message.html", "message.txt")
IID = b"\x0b\0\0\0\0\0\0\0\xc0\0\0\0\0\0\0\x46"
OBJECT = object()

def same(got, want):
    if want.startswith(IID):
        want = want[16:]
    return got == want or (b"\r" not in want and got.replace(b"\r", b"") == want)

def numbered(pairs):
    counts, seen, out = {}, {}, {}
    for name, _ in pairs:
        counts[name] = counts.get(name, 0) + 1
    for name, data in pairs:
        seen[name] = seen.get(name, 0) + 1
        out[name + "." + str(seen[name]) if counts[name] > 1 else name] = data
    return out

def compare(where, got, want):
    if sorted(got) != sorted(want):
        print(where, "names", sorted(got), "expected", sorted(want))
        return
    for name, data in want.items():
        if got[name] is not OBJECT and not same(got[name], data):
            print(where, name, len(got[name]), "bytes, expected", len(data))

for name in names:
    exp_dir = os.path.join(expected_root, name)
    want = {f: open(os.path.join(exp_dir, f), "rb").read()
            for f in (os.listdir(exp_dir) if os.path.isdir(exp_dir) else [])}
    files = {f: d for f, d in want.items() if f not in BODIES}
    rich = "message.rtf" in want or "message.html" in want

    m = email.message_from_binary_file(open(os.path.join(folder, name + ".eml"), "rb"),
                                       policy=email.policy.default)
    parts = [(a.get_filename() or "", a.get_payload(decode=True) or b"")
             for a in m.iter_attachments()]
    if any(a.get_content_type() == "application/ms-tnef" for a in m.walk()):
        print(name, "eml: winmail.dat is still there")
    compare(name + " eml", numbered(parts), files)
    if m.get_body(("plain",)) is None:
        print(name, "eml: the plain body is lost")
    html = m.get_body(("html",))
    if rich and (html is None or not html.get_content().strip()):
        print(name, "eml: no HTML alternative of the rich body")
    if "message.html" in want and html is not None:
        text = html.get_content().replace("\r", "").strip()
        if text != want["message.html"].decode("utf-8").strip():
            print(name, "eml: the HTML is not the stream's")

    ole = olefile.OleFileIO(os.path.join(folder, name + ".msg"))
    held = []
    for entry in ole.listdir(streams=False, storages=True):
        if len(entry) != 1 or not entry[0].startswith("__attach_version1.0_#"):
            continue
        at = entry[0] + "/"
        if not ole.exists(at + "__properties_version1.0"):
            print(name, "msg:", entry[0], "has no property stream")
        long_name = ""
        for tag in ("3707001F", "3704001F", "3001001F"):
            if not long_name and ole.exists(at + "__substg1.0_" + tag):
                long_name = ole.openstream(at + "__substg1.0_" + tag).read().decode("utf-16-le")
        data = ole.openstream(at + "__substg1.0_37010102").read() \
            if ole.exists(at + "__substg1.0_37010102") else None
        if data is None and ole.exists(at + "__substg1.0_3701000D"):
            data = OBJECT  # an OLE object's storage or an embedded message: no bytes to compare
        if data is None:
            print(name, "msg:", entry[0], repr(long_name), "has no data")
            continue
        held.append((entry[0], long_name, data))
    held.sort()
    compare(name + " msg", numbered([(n, d) for _, n, d in held]), files)
    if rich and not (ole.exists("__substg1.0_10090102") or ole.exists("__substg1.0_10130102")):
        print(name, "msg: the rich body is lost")

    if os.path.exists("/usr/bin/msgconvert"):
        out = os.path.join(folder, name + ".converted.eml")
        run = subprocess.run(["/usr/bin/msgconvert", "--outfile", out,
                              os.path.join(folder, name + ".msg")], capture_output=True)
        if run.returncode != 0:
            print(name, "msgconvert:", run.stderr.decode(errors="replace")[:200])
            continue
        c = email.message_from_binary_file(open(out, "rb"), policy=email.policy.default)
        theirs = sorted(p.get_filename() for p in c.walk() if p.get_filename())
        mine = sorted(n for _, n, _ in held)
        if theirs != mine:
            print(name, "msgconvert names", theirs, "expected", mine)
)PY";

// Every corpus stream as the winmail.dat of an Internet message and of an Outlook message: the
// EML and the .msg written from them hold the files inside as attachments of their own, and
// other programs read them so.
TEST(TnefInMessages, WrittenMessagesHoldTheFilesOfTheirWinmailDat) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is missing";
  testutil::TempDir dir;
  std::vector<std::string> args = {dir.Path(), CorpusPath("tnef/expected")};
  for (const std::string& path : CorpusFiles("tnef", ".tnef")) {
    const std::string name = BaseName(path);
    if (name == "garbage-at-end")
      continue; // damaged: kept as it came, beside its files (tnef_reader_test)
    SCOPED_TRACE(name);
    const std::string tnef = ReadFile(path);
    const std::string eml = "From: a@example.org\r\nTo: b@example.org\r\nSubject: " + name +
                            "\r\nMIME-Version: 1.0\r\n"
                            "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                            "--b\r\nContent-Type: text/plain\r\n\r\nSee the attached files.\r\n"
                            "--b\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                            "Content-Disposition: attachment; filename=\"winmail.dat\"\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\n" +
                            EncodeBase64(tnef) + "\r\n--b--\r\n";
    TMemoryStream emlIn(eml);
    TQvEMLFile internet;
    internet.LoadFromStream(emlIn);
    internet.SaveToEMLFile(dir.File(name + ".eml"));

    TMemoryStream image(mimetest::OutlookImageWithWinmailDat(utf8::Decode(name), tnef));
    TQvMSGFile outlook;
    outlook.LoadFromStream(image);
    outlook.SaveToMSG(dir.File(name + ".msg"), true);
    args.push_back(name);
  }
  ASSERT_GE(args.size(), 15u);
  const testutil::ProcessResult r = testutil::RunPython(kReadWritten, args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// mimekit_rich-text.eml written as EML, read by Python's email: the plain body as it came, the
// rich body of its winmail.dat as the HTML alternative (on its page colour), the files with the
// bytes that Debian's tnef unpacks from the stream, the attached messages as messages, and no
// TNEF part.
TEST(TnefInMessages, TheWrittenRichTextMailHoldsWhatItsWinmailDatHolds) {
  if (access("/usr/bin/tnef", X_OK) != 0)
    GTEST_SKIP() << "tnef is not installed";
  testutil::TempDir dir;
  const std::string original = CorpusPath("eml/mimekit_rich-text.eml");
  TQvEMLFile mail;
  mail.LoadFromFile(original);
  mail.SaveToEMLFile(dir.File("written.eml"));
  const std::string script = R"PY(
import email, email.policy, os, subprocess, sys
original, written, folder = sys.argv[1:]
load = lambda path: email.message_from_binary_file(open(path, "rb"), policy=email.policy.default)
a, b = load(original), load(written)
stream = [p for p in a.walk() if p.get_content_type() == "application/ms-tnef"][0]
open(os.path.join(folder, "winmail.dat"), "wb").write(stream.get_payload(decode=True))
unpacked = os.path.join(folder, "unpacked")
os.mkdir(unpacked)
subprocess.run(["/usr/bin/tnef", "-C", unpacked, os.path.join(folder, "winmail.dat")],
               capture_output=True)
plain = lambda m: m.get_body(("plain",)).get_content().rstrip("\n")
if plain(a) != plain(b):
    print("the plain body differs")
html = b.get_body(("html",))
if html is None or "Christmas to remember" not in html.get_content():
    print("no HTML body of the rich text")
elif "background-color:#ff0000" not in html.get_content():
    print("the page colour is lost")
if any(p.get_content_type() == "application/ms-tnef" for p in b.walk()):
    print("a TNEF part")
files, subjects = 0, []
for part in b.iter_attachments():
    if part.get_content_type() == "message/rfc822":
        subjects.append(str(part.get_content()["Subject"]))
        continue
    files += 1
    theirs = os.path.join(unpacked, part.get_filename())
    if not os.path.exists(theirs) or open(theirs, "rb").read() != part.get_payload(decode=True):
        print("file", part.get_filename(), "is not the one tnef unpacks")
if files != 1 or sorted(subjects) != ["Build a train table", "Christmas Celebration!"]:
    print("attachments", files, sorted(subjects))
)PY";
  const testutil::ProcessResult r =
      testutil::RunPython(script, {original, dir.File("written.eml"), dir.Path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

} // namespace
} // namespace orlendo
