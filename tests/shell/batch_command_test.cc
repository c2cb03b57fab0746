// quillet --convert as a whole process: a folder of real and broken messages converted in one
// call to each format, read back by other programs (Python's mailbox and json), with the exit
// statuses, the output names and the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "app/reader_choice.h"
#include "export/ics_writer.h"
#include "export/vcard_writer.h"
#include "model/qvmsg.h"
#include "model/utf8.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;
using testutil::CorpusFiles;
using testutil::CorpusPath;
using testutil::ProcessResult;
using testutil::RunProcess;
using testutil::RunPython;
using testutil::TempDir;

std::string ReadBytes(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool IsCompoundFile(const std::string& p) {
  return ReadBytes(p).rfind("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 0) == 0;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The inputs: the corpus messages at the top, the Internet messages one folder down and the web
// archives two down, a text file, and broken files at two levels.
class ConvertFolder : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (config_.Path() + "/none").c_str(), 1);
    in_ = work_.File("in");
    fs::create_directories(in_ + "/inbox/archive");
    for (const std::string& f : CorpusFiles("msg", ".msg")) {
      const std::string target = in_ + "/" + fs::path(f).filename().string();
      fs::copy_file(f, target);
      (IsCompoundFile(f) ? messages_ : broken_).insert(target);
    }
    for (const std::string& f : CorpusFiles("eml", ".eml")) {
      const std::string target = in_ + "/inbox/" + fs::path(f).filename().string();
      fs::copy_file(f, target);
      messages_.insert(target);
      internet_.insert(target);
    }
    for (const std::string& f : CorpusFiles("mht", ".mht")) {
      const std::string target = in_ + "/inbox/archive/" + fs::path(f).filename().string();
      fs::copy_file(f, target);
      messages_.insert(target);
    }
    std::ofstream(in_ + "/notes.txt") << "Subject: not a message by its name\n";
    std::ofstream(in_ + "/inbox/garbage.eml.msg") << "\x01\x02 not a compound file";
    const std::string whole = ReadBytes(*messages_.begin());
    std::ofstream(in_ + "/inbox/archive/truncated.msg", std::ios::binary)
        << whole.substr(0, whole.size() / 3);
    broken_.insert(in_ + "/inbox/garbage.eml.msg");
    broken_.insert(in_ + "/inbox/archive/truncated.msg");
  }

  ProcessResult Convert(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--convert", "--recursive", "--quiet", "--report",
                                 work_.File("report.json")};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(in_);
    return RunProcess(QUILLET_EXE, all);
  }

  // The report's entries of one status, by input name.
  std::map<std::string, std::string> Reported(const std::string& status) {
    ProcessResult r =
        RunPython("import json, sys\n"
                  "r = json.load(open(sys.argv[1]))\n"
                  "for f in r['files']:\n"
                  "    if f['status'] == sys.argv[2]:\n"
                  "        print(f['input'] + '\\t' + f.get('output', f.get('reason', '')))\n",
                  {work_.File("report.json"), status});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, std::string> entries;
    size_t pos = 0;
    while (pos < r.out.size()) {
      const size_t end = r.out.find('\n', pos);
      const std::string line = r.out.substr(pos, end - pos);
      entries[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
      pos = end + 1;
    }
    return entries;
  }

  std::set<std::string> Inputs(const std::map<std::string, std::string>& entries) {
    std::set<std::string> names;
    for (const auto& [input, rest] : entries)
      names.insert(input);
    return names;
  }

  TempDir config_;
  TempDir work_;
  std::string in_;
  std::set<std::string> messages_;
  std::set<std::string> internet_;
  std::set<std::string> broken_;
};

TEST_F(ConvertFolder, EveryFileFormatMirrorsTheTreeAndNamesTheBrokenFiles) {
  // PDF is made by the window module, which a build without the window lacks.
  const bool pdf = fs::exists(fs::path(QUILLET_EXE).parent_path() / "quillet_window.so");
  for (const char* format : {"eml", "msg", "txt", "html", "xml", "pdf"}) {
    if (std::string(format) == "pdf" && !pdf)
      continue;
    SCOPED_TRACE(format);
    const std::string out = work_.File(std::string("out-") + format);
    ProcessResult r = Convert({"--to", format, "--out", out});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Inputs(Reported("converted")), messages_);
    EXPECT_EQ(Inputs(Reported("failed")), broken_);
    EXPECT_EQ(Inputs(Reported("skipped")), std::set<std::string>{in_ + "/notes.txt"});
    // Each broken file is named with its reason on standard error.
    for (const std::string& b : broken_)
      EXPECT_NE(r.err.find(b + ": "), std::string::npos) << b;
    for (const auto& [input, output] : Reported("converted")) {
      const fs::path rel = fs::path(input).lexically_relative(in_);
      EXPECT_EQ(fs::path(output).parent_path(), (fs::path(out) / rel).parent_path()) << input;
      EXPECT_GT(fs::file_size(output), 0u) << output;
    }
    // Nothing half-written is left: every file below the output is a reported output.
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out))
      files += e.is_regular_file();
    EXPECT_EQ(files, messages_.size());
  }
}

TEST_F(ConvertFolder, ItemFormatsTakeTheItemsOfTheirKindAndNameTheBrokenFiles) {
  for (const char* format : {"ics", "vcf"}) {
    SCOPED_TRACE(format);
    std::set<std::string> items;
    for (const std::string& m : messages_) {
      std::unique_ptr<TQvMessage> message = CreateMessageReader(m);
      message->LoadFromFile(m);
      if (std::string(format) == "ics" ? HasICalendar(message->Properties())
                                       : HasVCard(message->Properties()))
        items.insert(m);
    }
    const std::string out = work_.File(std::string("out-") + format);
    ProcessResult r = Convert({"--to", format, "--out", out});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Inputs(Reported("converted")), items);
    EXPECT_EQ(Inputs(Reported("failed")), broken_);
    EXPECT_EQ(Reported("skipped").size(), messages_.size() - items.size() + 1); // and notes.txt
  }
}

TEST_F(ConvertFolder, MboxReadsBackInPythonWithEverySubjectAndTheInternetMessagesAsTheyWere) {
  ASSERT_TRUE(testutil::PythonHasModule("mailbox"));
  const std::string mbox = work_.File("all.mbox");
  ProcessResult r = Convert({"--to", "mbox", "--out", mbox, "--jobs", "3"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(Inputs(Reported("failed")), broken_);
  ASSERT_EQ(Inputs(Reported("converted")), messages_);

  // The subject each message has for our reader, and the bytes of the Internet messages.
  std::ofstream expected(work_.File("expected"));
  for (const std::string& m : messages_) {
    std::unique_ptr<TQvMessage> message = CreateMessageReader(m);
    message->LoadFromFile(m);
    // A header cannot carry the zero that some stored subjects end in.
    std::string subject = utf8::Encode(message->Subject());
    subject.erase(std::remove(subject.begin(), subject.end(), '\0'), subject.end());
    expected << "S " << Hex(subject) << "\n";
    if (internet_.count(m))
      expected << "B " << Hex(ReadBytes(m)) << "\n";
  }
  expected.close();
  // mboxrd: one ">" comes off every quoted "From " line; an envelope line the file began with
  // is the mbox's own; a last line gets its line end.
  ProcessResult py = RunPython(R"PY(
import mailbox, sys, re, collections
from email import policy
from email.parser import BytesParser
want_subjects = collections.Counter()
want_bytes = collections.Counter()
for line in open(sys.argv[2]):
    kind, value = line.split()[0], (line.split() + [''])[1]
    (want_subjects if kind == 'S' else want_bytes)[bytes.fromhex(value)] += 1
got_subjects = collections.Counter()
got_bytes = collections.Counter()
cut = set()
box = mailbox.mbox(sys.argv[1])
for key in box.keys():
    raw = box.get_bytes(key)
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    subject = msg['subject']
    text = ('' if subject is None else str(subject)).encode()
    got_subjects[text] += 1
    # Where Python ends the header block early (a folded line without its blank), the subject
    # it read may end early too.
    if any(type(d).__name__ == 'MissingHeaderBodySeparatorDefect' for d in msg.defects):
        cut.add(text)
    got_bytes[re.sub(rb'(?m)^>(>*From )', rb'\1', raw)] += 1
missing = want_subjects - got_subjects
unexpected = got_subjects - want_subjects
for s in list(unexpected):
    longer = [m for m in missing if s in cut and m.startswith(s)]
    if longer:
        missing[longer[0]] -= 1
        unexpected[s] -= 1
for s in +missing:
    print('missing subject', s.decode(errors='replace'))
for s in +unexpected:
    print('unexpected subject', s.decode(errors='replace'))
for b in want_bytes:
    body = re.sub(rb'^From [^\n]*\n', b'', b)
    if not body.endswith(b'\n'):
        body += b'\r\n' if b'\r\n' in body else b'\n'
    if got_bytes[body] == 0:
        print('internet message changed', body[:60])
print(len(box))
)PY",
                               {mbox, work_.File("expected")});
  EXPECT_EQ(py.exitCode, 0) << py.err;
  EXPECT_EQ(py.out, std::to_string(messages_.size()) + "\n");
}

// Blanks, tabs and line breaks as single blanks, none at the ends: how a subject reads on
// screen, whatever a program does with the folding of long ones.
std::string ReadAsShown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (!blank)
      out += c;
    else if (!out.empty() && out.back() != ' ')
      out += ' ';
  }
  if (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

// A subject (UTF-8) as mutt puts it on screen: the control characters that it cannot show
// (C0 but blanks, DEL, C1) each as "?".
std::string AsMuttShows(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool blank = c == '\t' || c == '\r' || c == '\n';
    if ((c < 0x20 && !blank) || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TEST_F(ConvertFolder, MboxOpensInMuttWithEverySubject) {
  ASSERT_TRUE(fs::exists("/usr/bin/mutt"));
  ASSERT_TRUE(fs::exists("/usr/bin/script")); // mutt wants a terminal
  const std::string mbox = work_.File("all.mbox");
  ProcessResult r = Convert({"--to", "mbox", "--out", mbox});
  EXPECT_EQ(r.exitCode, 1) << r.err;

  std::multiset<std::string> expected;
  // Internet messages go into the mbox byte for byte. Where such a header block continues a
  // Subject on a line without the folding blank (an encoded word at the line's start), mutt ends
  // the header there and shows only the start of what our reader reads.
  std::vector<std::string> cutByMutt;
  for (const std::string& m : messages_) {
    std::unique_ptr<TQvMessage> message = CreateMessageReader(m);
    message->LoadFromFile(m);
    std::string subject = utf8::Encode(message->Subject());
    subject.erase(std::remove(subject.begin(), subject.end(), '\0'), subject.end());
    const std::string raw = ReadBytes(m);
    const std::string head = raw.substr(0, std::min(raw.find("\n\n"), raw.find("\r\n\r\n")));
    if (fs::path(m).extension() == ".eml" && head.find("\n=?") != std::string::npos)
      cutByMutt.push_back(ReadAsShown(AsMuttShows(subject)));
    else
      expected.insert(ReadAsShown(AsMuttShows(subject)));
  }
  // Every message of the folder as mutt shows it: decoded, with its Subject header alone, piped
  // out one after the other.
  const std::string piped = work_.File("piped");
  const std::string rc = work_.File("muttrc");
  std::ofstream(rc) << "set charset=utf-8\nset pipe_split=yes\nset pipe_decode=yes\n"
                       "set pipe_sep=\"\\n--next--\\n\"\nset weed=yes\nset wait_key=no\n"
                       "set sort=mailbox-order\nignore *\nunignore subject\n"
                    // A folder that exists: mutt would ask to make ~/Mail first.
                    << "set folder=\"" << work_.Path() << "\"\n";
  const std::string keys =
      "<tag-pattern>~A<enter><tag-prefix><pipe-entry>cat >> " + piped + "<enter><exit>";
  const std::string mutt =
      "mutt -n -F '" + rc + "' -R -f '" + mbox + "' -e 'push \"" + keys + "\"'";
  ProcessResult m =
      RunProcess("/usr/bin/env", {"HOME=" + work_.Path(), "TERM=xterm", "timeout", "120",
                                  "/usr/bin/script", "-qec", mutt, "/dev/null"});
  EXPECT_EQ(m.exitCode, 0) << m.err;
  const std::string text = ReadBytes(piped);
  std::multiset<std::string> shown;
  size_t pos = 0;
  for (size_t end; (end = text.find("\n--next--\n", pos)) != std::string::npos; pos = end + 10) {
    const std::string one = text.substr(pos, end - pos);
    const std::string headers = one.substr(0, one.find("\n\n"));
    std::string subject;
    if (headers.rfind("Subject: ", 0) == 0) {
      // The header with its continuation lines.
      size_t stop = 0;
      while ((stop = headers.find('\n', stop + 1)) != std::string::npos &&
             stop + 1 < headers.size() && (headers[stop + 1] == ' ' || headers[stop + 1] == '\t'))
        ;
      subject = headers.substr(9, stop == std::string::npos ? std::string::npos : stop - 9);
    }
    shown.insert(ReadAsShown(subject));
  }
  EXPECT_EQ(shown.size(), messages_.size());
  for (const std::string& whole : cutByMutt) {
    auto start = std::find_if(shown.begin(), shown.end(), [&](const std::string& s) {
      return !s.empty() && s.size() <= whole.size() && whole.compare(0, s.size(), s) == 0 &&
             expected.count(s) == 0;
    });
    EXPECT_NE(start, shown.end()) << "no start of \"" << whole << "\" among mutt's subjects";
    if (start != shown.end())
      shown.erase(start);
  }
  for (const std::string& s : std::set<std::string>(expected.begin(), expected.end()))
    EXPECT_EQ(shown.count(s), expected.count(s)) << "subject \"" << s << "\"";
  for (const std::string& s : std::set<std::string>(shown.begin(), shown.end()))
    EXPECT_EQ(shown.count(s), expected.count(s)) << "mutt shows \"" << s << "\"";
}

TEST_F(ConvertFolder, MaildirHoldsEachMessageOnceUnderAUniqueNameWithItsFlags) {
  const std::string maildir = work_.File("Mail");
  ProcessResult r = Convert({"--to", "maildir", "--out", maildir});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(Inputs(Reported("failed")), broken_);
  std::set<std::string> outputs;
  for (const auto& [input, output] : Reported("converted")) {
    EXPECT_EQ(fs::path(output).parent_path(), fs::path(maildir) / "cur");
    outputs.insert(output);
  }
  EXPECT_EQ(outputs.size(), messages_.size());
  EXPECT_TRUE(fs::is_empty(maildir + "/tmp"));
  ProcessResult py = RunPython("import mailbox, sys\n"
                               "box = mailbox.Maildir(sys.argv[1], create=False)\n"
                               "flags = sorted(set(m.get_flags() for m in box))\n"
                               "print(len(box), sum(1 for m in box if m['subject'] is not None))\n"
                               "print(flags)\n",
                               {maildir});
  EXPECT_EQ(py.exitCode, 0) << py.err;
  EXPECT_EQ(py.out.substr(0, py.out.find(' ')), std::to_string(messages_.size()));
  // The read messages are marked seen; nothing gets another flag.
  EXPECT_NE(py.out.find("'S'"), std::string::npos) << py.out;
  EXPECT_EQ(py.out.find("'T'"), std::string::npos) << py.out;
}

// Runs quillet through the shell, for standard input and the working folder.
ProcessResult Shell(const std::string& folder, const std::string& command) {
  return RunProcess("/bin/sh", {"-c", "cd '" + folder + "' && " + command});
}

TEST(ConvertNames, NeverCollideNeverReplaceAndComeFromTheListOnStandardInput) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  TempDir work;
  fs::create_directories(work.File("a/b"));
  fs::copy_file(CorpusPath("msg/poi_blank.msg"), work.File("a/note.msg"));
  fs::copy_file(CorpusPath("eml/mailparser_nested.eml"), work.File("a/note.eml"));
  fs::copy_file(CorpusPath("msg/poi_blank.msg"), work.File("a/b/x.msg"));
  const std::string original = ReadBytes(work.File("a/note.eml"));
  const std::string quillet = std::string("'") + QUILLET_EXE + "'";

  // Beside the inputs: the .eml input keeps its name and bytes, the outputs number themselves.
  ProcessResult r = Shell(work.Path(), quillet + " --convert -q a");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadBytes(work.File("a/note.eml")), original);
  EXPECT_TRUE(fs::exists(work.File("a/note (2).eml")));
  EXPECT_TRUE(fs::exists(work.File("a/note (3).eml")));
  EXPECT_FALSE(fs::exists(work.File("a/b/x.eml"))); // not recursive

  // Names from standard input keep their relative folders below --out; "-" is read once.
  r = Shell(work.Path(),
            "printf 'a/b/x.msg\\n./a/note.msg\\n%s/a/b/x.msg\\nnothere.msg\\n' \"$PWD\" | " +
                quillet + " --convert --out o --to txt -");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("nothere.msg"), std::string::npos);
  EXPECT_TRUE(fs::exists(work.File("o/a/b/x.txt")));
  EXPECT_TRUE(fs::exists(work.File("o/a/note.txt")));
  EXPECT_TRUE(fs::exists(work.File("o/x.txt"))); // an absolute name keeps only its own name
  EXPECT_NE(r.err.find("3 converted, 1 failed"), std::string::npos) << r.err;

  // An mbox that exists is not appended to or replaced: the run takes the next name.
  for (const char* name : {"box.mbox", "box (2).mbox"}) {
    r = Shell(work.Path(), quillet + " --convert --to mbox --out box.mbox a/b");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("wrote ") + name), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadBytes(work.File("box.mbox")), ReadBytes(work.File("box (2).mbox")));
}

TEST(ConvertNames, ParallelOutputIsTheSerialOutput) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  TempDir work;
  const std::string in = work.File("in");
  fs::create_directories(in);
  for (int copy = 0; copy < 3; ++copy)
    for (const std::string& f : CorpusFiles("msg", ".msg"))
      if (IsCompoundFile(f))
        fs::copy_file(f, in + "/" + std::to_string(copy) + fs::path(f).filename().string());
  for (const char* format : {"eml", "xml"}) {
    SCOPED_TRACE(format);
    const std::string serial = work.File(std::string("s") + format);
    const std::string parallel = work.File(std::string("p") + format);
    EXPECT_EQ(RunProcess(QUILLET_EXE,
                         {"--convert", "-q", "--jobs", "1", "--to", format, "--out", serial, in})
                  .exitCode,
              0);
    EXPECT_EQ(RunProcess(QUILLET_EXE,
                         {"--convert", "-q", "--jobs", "6", "--to", format, "--out", parallel, in})
                  .exitCode,
              0);
    for (const auto& e : fs::directory_iterator(serial)) {
      const fs::path twin = fs::path(parallel) / e.path().filename();
      EXPECT_EQ(ReadBytes(e.path()), ReadBytes(twin)) << twin;
    }
  }
}

TEST(ConvertNames, ItemFormatsTakeTheirKindAndSkipTheOtherMessages) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  TempDir work;
  fs::copy_file(CorpusPath("msg/poi_msgClassAppointment.msg"), work.File("meeting.msg"));
  fs::copy_file(CorpusPath("msg/poi_blank.msg"), work.File("note.msg"));
  ProcessResult r =
      RunProcess(QUILLET_EXE, {"--convert", "--to", "ics", "--out", work.File("out"), work.Path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("1 converted, 0 failed, 1 skipped"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(work.File("out/meeting.ics")).rfind("BEGIN:VCALENDAR", 0), 0u);
  EXPECT_FALSE(fs::exists(work.File("out/note.ics")));
}

TEST(ConvertNames, NothingCouldStart) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  TempDir work;
  fs::copy_file(CorpusPath("msg/poi_blank.msg"), work.File("a.msg"));
  std::ofstream(work.File("file")) << "x";
  const std::vector<std::vector<std::string>> cases = {
      {"--convert"},
      {"--convert", "--to", "pdfx", work.File("a.msg")},
      {"--convert", "--to", "mbox", work.File("a.msg")},
      {"--convert", "--out", work.File("file/sub"), work.File("a.msg")},
      {"--convert", "--jobs", "0", work.File("a.msg")},
      {"--convert", "--frobnicate", work.File("a.msg")},
  };
  for (const auto& args : cases) {
    ProcessResult r = RunProcess(QUILLET_EXE, args);
    EXPECT_EQ(r.exitCode, 2) << args.back() << ": " << r.err;
    EXPECT_NE(r.err, "");
  }
  // Nothing was written anywhere.
  EXPECT_EQ(std::distance(fs::directory_iterator(work.Path()), fs::directory_iterator()), 2);
}

} // namespace
} // namespace orlendo
