// The reader on the corpus of real messages and web archives, checked against Python's email
// package (an independent parser of the same formats).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "mime/qvemlfile.h"
#include "mime_test_util.h"
#include "testutil/run_process.h"
#include "testutil/sha256.h"

namespace orlendo {
namespace {

using namespace mimetest;

std::vector<std::string> CorpusMessages() {
  std::vector<std::string> files = testutil::CorpusFiles("eml", ".eml");
  for (const char* ext : {".mht", ".mhtml"})
    for (const std::string& f : testutil::CorpusFiles("mht", ext))
      files.push_back(f);
  return files;
}

bool IsWebArchive(const std::string& path) {
  return path.find("/mht/") != std::string::npos;
}

std::unique_ptr<TQvEMLFile> LoadPath(const std::string& path) {
  std::unique_ptr<TQvEMLFile> reader;
  if (IsWebArchive(path))
    reader = std::make_unique<TQvMHTFile>();
  else
    reader = std::make_unique<TQvEMLFile>();
  reader->LoadFromFile(path);
  return reader;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// For every file: the subject, the line count, and every MIME leaf that has a file name, with
// its decoded bytes written to a file. Leaves are those of the multipart tree; an attached
// message (message/*) is one leaf, as the reader keeps it whole.
constexpr char kPythonScript[] = R"PY(
import email, email.errors, email.policy, hashlib, quopri, re, sys, os
out_dir = sys.argv[1]
def leaves(part):
    if part.is_multipart() and part.get_content_maintype() != 'message':
        for p in part.get_payload():
            yield from leaves(p)
    else:
        yield part
for k, path in enumerate(sys.argv[2:]):
    raw = open(path, 'rb').read()
    print('F\t%d' % k)
    lines = re.split(rb'\r\n|\r|\n', raw)
    if lines and lines[-1] == b'':
        lines.pop()
    print('L\t%d' % len(lines))
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    try:
        subject = msg['subject']
    except Exception:
        subject = None
    print('S\t%s' % ('-' if subject is None else str(subject).encode('utf-8', 'surrogateescape').hex()))
    # A line that is no header ends the header block there, while this reader reads on.
    if any(isinstance(d, email.errors.MissingHeaderBodySeparatorDefect) for d in msg.defects):
        print('H\t-')
    for kind, header in enumerate(['to', 'cc', 'bcc'], 1):
        try:
            addresses = msg[header].addresses if msg[header] is not None else ()
        except Exception:
            addresses = ()
        for a in addresses:
            print('R\t%d\t%s\t%s' % (kind, a.display_name.encode('utf-8', 'surrogateescape').hex(),
                                      a.addr_spec.encode('utf-8', 'surrogateescape').hex()))
    for j, leaf in enumerate(leaves(msg)):
        name = leaf.get_filename()
        if name is None:
            continue
        data = leaf.get_payload(decode=True)
        if data is None:
            continue
        target = os.path.join(out_dir, '%d_%d' % (k, j))
        open(target, 'wb').write(data)
        print('A\t%s\t%s' % (name.encode('utf-8', 'surrogateescape').hex(), target))
    # Every part's decoded content, from the file with its line ends made CR LF (the reader's
    # canonical form), in file order. Not compared ('-'): attached messages, which the reader
    # keeps whole, and parts in a transfer encoding that it does not undo. Quoted-printable
    # lines lose their trailing blanks first (RFC 2045, 6.7), which Python keeps.
    if msg.get_content_maintype() == 'multipart':
        canonical = email.message_from_bytes(re.sub(rb'\r\n|\r|\n', b'\r\n', raw),
                                             policy=email.policy.default)
        for part in list(leaves(canonical))[:200]:
            if part.get_content_maintype() == 'multipart':
                continue # declared without a boundary: a container to the reader as well
            cte = part.get('content-transfer-encoding', '7bit').strip().lower()
            if part.get_content_maintype() == 'message' or \
                    cte not in ('7bit', '8bit', 'binary', 'base64', 'quoted-printable'):
                print('P\t-')
                continue
            if cte == 'quoted-printable':
                text = re.sub(r'[ \t]+(?=\r\n|$)', '', part.get_payload())
                data = quopri.decodestring(text.encode('ascii', 'surrogateescape'))
            else:
                data = part.get_payload(decode=True)
            print('P\t%s' % hashlib.sha256(data).hexdigest())
)PY";

struct PythonView {
  size_t lines = 0;
  bool hasSubject = false;
  std::string subject;
  std::vector<std::pair<std::string, std::string>> files; // name, path of the decoded bytes
  std::vector<std::string> recipients;                    // "type|name|address"
  bool headersCut = false;                                // Python ended the header block early
  std::vector<std::string> parts; // SHA-256 of each leaf part's content, "-" when not compared
};

// The SHA-256 of the content of each leaf part of a multipart message, in file order: the bytes
// a part's node holds as attachment data or body.
std::vector<std::string> PartDigests(const TMSGProperties& root) {
  std::vector<std::string> out;
  for (const TMSGProperty* node : All(root, TAG_ATTACHMENT_NODE)) {
    const TMSGProperties& part = node->SubProperties();
    // The files of a winmail.dat are no MIME parts; only they have an attach method.
    if (Find(part, 0x37050003) != nullptr)
      continue;
    const std::string type = Text(part, 0x370E001E);
    if (type.rfind("multipart/", 0) == 0)
      continue;
    std::string data;
    for (uint32_t tag : {TAG_ATTACH_DATA_BIN, kBody, kBodyHtml, TAG_RTF_COMPRESSED})
      if (const TMSGProperty* record = Find(part, tag);
          record != nullptr && record->Value.IsBytes())
        data = record->Value.Bytes();
    // A winmail.dat that was unpacked keeps its bytes one level down.
    if (const TMSGProperty* record = part.FindProperty(TAG_ATTACH_DATA_BIN, false, true);
        data.empty() && record != nullptr && record->Value.IsBytes())
      data = record->Value.Bytes();
    out.push_back(testutil::Sha256Hex(data));
    if (out.size() == 200)
      break;
  }
  return out;
}

// Our recipient table as "type|name|address"; a name that only repeats the address is no name.
std::vector<std::string> Recipients(const TMSGProperties& root) {
  std::vector<std::string> out;
  for (const TMSGProperty* node : All(root, TAG_RECIPIENT_NODE)) {
    const TMSGProperties& entry = node->SubProperties();
    const TMSGProperty* type = Find(entry, 0x0C150003);
    std::string name = Text(entry, kDisplayName);
    const std::string address = Text(entry, 0x39FE001E);
    if (name == address)
      name.clear();
    out.push_back(std::to_string(type != nullptr ? type->Value.AsInteger() : 0) + "|" + name + "|" +
                  address);
  }
  return out;
}

TEST(MimeCorpus, EveryFileLoads) {
  const auto files = CorpusMessages();
  ASSERT_GE(files.size(), 30u);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::unique_ptr<TQvEMLFile> reader;
    ASSERT_NO_THROW(reader = LoadPath(path));
    const TMSGProperties& root = reader->Properties();
    EXPECT_GT(root.Count(), 0);
    // Every counted attachment has its node and its data (an embedded message of a winmail.dat
    // has it as ATTACH_DATA_OBJ).
    for (int i = 0; i < root.AttachmentCount(); ++i) {
      const TMSGProperty* node = root.GetAttachment(i);
      ASSERT_NE(node, nullptr);
      EXPECT_NE(node->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN & 0xFFFF0000, true, false),
                nullptr);
    }
  }
}

TEST(MimeCorpus, AgreesWithPythonEmail) {
  const auto files = CorpusMessages();
  testutil::TempDir dir;
  std::vector<std::string> args = {dir.Path()};
  args.insert(args.end(), files.begin(), files.end());
  const testutil::ProcessResult py = testutil::RunPython(kPythonScript, args);
  ASSERT_EQ(py.exitCode, 0) << py.err;

  std::map<size_t, PythonView> views;
  std::istringstream lines(py.out);
  size_t current = 0;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string f; std::getline(parts, f, '\t');)
      fields.push_back(f);
    ASSERT_GE(fields.size(), 2u) << line;
    if (fields[0] == "F") {
      current = std::stoul(fields[1]);
    } else if (fields[0] == "L") {
      views[current].lines = std::stoul(fields[1]);
    } else if (fields[0] == "S") {
      views[current].hasSubject = fields[1] != "-";
      views[current].subject = views[current].hasSubject ? FromHex(fields[1]) : "";
    } else if (fields[0] == "H") {
      views[current].headersCut = true;
    } else if (fields[0] == "R") {
      ASSERT_EQ(fields.size(), 4u);
      views[current].recipients.push_back(fields[1] + "|" + FromHex(fields[2]) + "|" +
                                          FromHex(fields[3]));
    } else if (fields[0] == "P") {
      views[current].parts.push_back(fields[1]);
    } else if (fields[0] == "A") {
      ASSERT_EQ(fields.size(), 3u);
      views[current].files.emplace_back(FromHex(fields[1]), fields[2]);
    }
  }
  ASSERT_EQ(views.size(), files.size());

  size_t attachmentsChecked = 0, recipientsChecked = 0, partsChecked = 0;
  for (size_t k = 0; k < files.size(); ++k) {
    SCOPED_TRACE(files[k]);
    const PythonView& view = views[k];
    auto reader = LoadPath(files[k]);
    const TMSGProperties& root = reader->Properties();
    EXPECT_EQ(reader->Lines().Count(), view.lines);
    // Exactly, white space included: adjacent encoded words join, folding leaves one blank.
    // Where Python ends the header block early (a folded line without its blank), its subject
    // ends there too, and ours goes on.
    if (view.headersCut)
      EXPECT_EQ(U8(root.GetSubject()).substr(0, view.subject.size()), view.subject);
    else
      EXPECT_EQ(U8(root.GetSubject()), view.subject);
    // Every recipient of To, Cc and Bcc, with its type, name and address.
    if (!view.headersCut) {
      EXPECT_EQ(Recipients(root), view.recipients);
      recipientsChecked += view.recipients.size();
    }

    // Every part's content, byte for byte: a part ends before the line end of the delimiter.
    if (!view.parts.empty()) {
      const std::vector<std::string> ours = PartDigests(root);
      ASSERT_EQ(ours.size(), view.parts.size());
      for (size_t i = 0; i < ours.size(); ++i) {
        if (view.parts[i] != "-") {
          EXPECT_EQ(ours[i], view.parts[i]) << "part " << i;
          ++partsChecked;
        }
      }
    }

    // Our attachments: name (ATTACH_FILENAME of the node) and the bytes SaveAttachment writes.
    std::vector<std::pair<std::string, std::string>> ours;
    for (int i = 0; i < root.AttachmentCount(); ++i)
      ours.emplace_back(Text(root.GetAttachment(i)->SubProperties(), kAttachFileName),
                        AttachmentData(root, i));
    for (const auto& [name, dataPath] : view.files) {
      const std::string expected = ReadFile(dataPath);
      auto match =
          std::find_if(ours.begin(), ours.end(), [&](const auto& a) { return a.first == name; });
      if (match == ours.end() && name == "winmail.dat") {
        // Unpacked into the message: its node keeps the bytes, one level down.
        const TMSGProperty* kept = nullptr;
        for (const TMSGProperty* node : All(root, TAG_ATTACHMENT_NODE))
          if (Text(node->SubProperties(), kAttachFileName) == name)
            kept = node->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN, false, true);
        ASSERT_NE(kept, nullptr);
        EXPECT_TRUE(kept->Value.Bytes() == expected) << name << ": data differ";
        ++attachmentsChecked;
        continue;
      }
      if (match == ours.end()) {
        ADD_FAILURE() << "no attachment named " << name;
        continue;
      }
      EXPECT_EQ(match->second.size(), expected.size()) << name;
      EXPECT_TRUE(match->second == expected) << name << ": data differ";
      ours.erase(match);
      ++attachmentsChecked;
    }
  }
  // The corpus holds a dozen named attachments; make sure they were all seen.
  EXPECT_GE(attachmentsChecked, 12u);
  EXPECT_GE(recipientsChecked, 40u);
  EXPECT_GE(partsChecked, 100u);
}

} // namespace
} // namespace orlendo
