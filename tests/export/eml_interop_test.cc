// The EML that `quillet FILE /E eml` writes, read by two independent mail parsers (Python's
// email package with its strict default policy, Perl's Email::MIME with Email::Address::XS):
// every corpus message must come back with the same people, subject, bodies, attachments and
// embedded messages as the model holds, and without a defect in its address and ID headers.
//
// The corpus is converted once; each parser then checks all files in one process against the
// expectations that this test derives from the model.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "../tools/message_builder.h"
#include "export/html_body.h"
#include "export/message_addresses.h"
#include "mime/qvemlfile.h"
#include "mime/signed_content.h"
#include "mime/smime_cms.h"
#include "msg/compound_file.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "testutil/sha256.h"

namespace orlendo {
namespace {

using testutil::TempDir;

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonString(const std::u16string& text) {
  return JsonString(WideToSystem(text));
}

// What a header can carry of a text: no U+0000, and in names and parameters control characters
// as blanks (a subject keeps them, encoded).
std::u16string HeaderText(const std::u16string& text, bool controls = false) {
  std::u16string out;
  for (const char16_t c : text) {
    if (c != 0)
      out += !controls && (c < 0x20 || c == 0x7F) ? u' ' : c;
  }
  return out;
}

std::string JsonAddresses(const TMailAddressList& list) {
  std::string out = "[";
  for (const TMailAddress& a : list) {
    if (a.Name.empty() && a.Address.empty())
      continue;
    if (out.size() > 1)
      out += ",";
    out += "[" + JsonString(HeaderText(a.Name)) + "," + JsonString(a.Address) + "]";
  }
  return out + "]";
}

// The expectations for one message level, as JSON: people, subject, bodies, the attachments
// with the SHA-256 of their data, and the embedded messages, recursively.
std::string Expect(const TMSGProperties& level) {
  std::string out = "{";
  out += "\"from\":" + JsonAddresses({GetSenderAddress(level)});
  out += ",\"to\":" + JsonAddresses(GetRecipientAddresses(level, TRecipientKind::To));
  out += ",\"cc\":" + JsonAddresses(GetRecipientAddresses(level, TRecipientKind::Cc));
  out += ",\"bcc\":" + JsonAddresses(GetRecipientAddresses(level, TRecipientKind::Bcc));
  out += ",\"subject\":" + JsonString(HeaderText(level.GetSubject(), true));
  // An ID without "@" is no msg-id (RFC 5322, 3.6.4); it is kept as the message has it.
  out += std::string(",\"idvalid\":") +
         (level.GetMessageID().find(u'@') != std::u16string::npos ? "true" : "false");
  // A signed message goes out as the entity that was signed: its texts are the signed content's,
  // which the message's own bodies (Outlook's copy of them) may wrap differently.
  std::u16string plain = level.GetBody(), html = GetHtmlBodyOrFromRtf(level);
  if (const TMSGProperty* entity = OuterSignedEntity(level)) {
    TSignedParts parts;
    std::string content;
    if (SplitMultipartSigned(entity->Value.Bytes(), parts))
      content = std::move(parts.Content);
    else
      ExtractSignedContent(entity->Value.Bytes(), content);
    TQvEMLFile inner;
    TMemoryStream stream(std::move(content));
    inner.LoadFromStream(stream);
    plain = inner.Properties().GetBody();
    html = GetHtmlBodyOrFromRtf(inner.Properties());
  }
  out += ",\"plain\":" + JsonString(plain);
  out += ",\"html\":" + JsonString(html);
  std::string attachments, messages;
  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr)
      continue;
    const TMSGProperty* object =
        node->IsEmbeddedMessage()
            ? node->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false)
            : nullptr;
    if (object != nullptr) {
      messages += (messages.empty() ? "" : ",") + Expect(object->SubProperties());
      continue;
    }
    // The declared type: ATTACH_MIME_TAG, else the Content-Type that the Internet reader kept.
    // Multipart data is opaque bytes here and goes out as such.
    std::string type = WideToSystem(node->SubProperties().GetPropertyText(0x370E0000, true, false));
    const TMSGProperty* declared = node->SubProperties().FindProperty(0x003C0000, true, false);
    if (type.empty() && declared != nullptr && declared->Value.IsBytes())
      type = declared->Value.Bytes();
    type = type.substr(0, type.find(';'));
    type.erase(0, std::min(type.find_first_not_of(" \t"), type.size()));
    type.erase(type.find_last_not_of(" \t\r\n") + 1);
    for (char& c : type)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (type.rfind("multipart/", 0) == 0)
      type = "application/octet-stream";
    if (type.find('/') == std::string::npos) // no MIME type ("x-be2" of a 1991 mailer)
      type.clear();
    // Message data other than a whole message (a delivery report, ...) is written as it stands;
    // readers take it apart as header blocks, so only its name and type are compared.
    TMemoryStream data;
    level.SaveAttachmentToStream(i, data);
    const bool opaque = type.rfind("message/", 0) == 0 && type != "message/rfc822";
    std::u16string cid = node->SubProperties().GetPropertyText(0x37120000, true, false);
    if (cid.size() >= 2 && cid.front() == u'<' && cid.back() == u'>')
      cid = cid.substr(1, cid.size() - 2);
    attachments += std::string(attachments.empty() ? "" : ",") + "{\"filename\":" +
                   JsonString(HeaderText(SystemToWide(node->GetAttachmentFileName(i)))) +
                   ",\"type\":" + JsonString(type) +
                   ",\"sha256\":" + JsonString(opaque ? "" : testutil::Sha256Hex(data.Data())) +
                   ",\"cid\":" + JsonString(HeaderText(cid)) + "}";
  }
  out += ",\"attachments\":[" + attachments + "],\"messages\":[" + messages + "]}";
  return out;
}

// Checks the files of the expectations (a JSON list of {"file", "eml", ...}) and prints one line
// per difference; the last line counts the files checked.
constexpr char kPythonCheck[] = R"PY(
import email, hashlib, json, sys
from email import policy
expected = json.load(open(sys.argv[1], encoding='utf-8'))
problems = []
def norm(t): return t.replace('\0', '').replace('\r\n', '\n').replace('\r', '\n').rstrip('\n')
def people(h):
    out = []
    for g in (h.groups if h is not None else ()):
        if g.display_name is not None and not g.addresses:
            out.append([g.display_name, ''])
        for a in g.addresses:
            out.append([a.display_name, a.addr_spec])
    return out
SIGNATURES = ('application/pkcs7-signature', 'application/x-pkcs7-signature',
              'application/pgp-signature')
def describe(msg):
    d = {'texts': {}, 'attachments': [], 'messages': [], 'defects': list(msg.defects)}
    def walk(part):
        d['defects'].extend(part.defects)
        ct = part.get_content_type()
        if ct == 'message/rfc822':
            inner = part.get_payload(0)
            d['messages'].append((part.get_filename(), inner))
        elif ct.startswith('message/'):
            d['attachments'].append({'filename': part.get_filename() or '', 'type': ct,
                                     'sha256': '', 'cid': ''})
        elif part.is_multipart():
            for p in part.iter_parts(): walk(p)
        elif ct in SIGNATURES:
            pass  # what a signed message carries to be checked, no file of the sender's
        elif part.get_filename() is None and ct in ('text/plain', 'text/html', 'text/rtf') \
                and ct not in d['texts']:
            d['texts'][ct] = part.get_content()
        else:
            data = part.get_payload(decode=True) or b''
            d['attachments'].append({'filename': part.get_filename() or '', 'type': ct,
                'sha256': hashlib.sha256(data).hexdigest(),
                'cid': (part['Content-ID'] or '').strip().strip('<>')})
    walk(msg)
    return d
def check(where, e, msg):
    for h in ('From', 'To', 'Cc', 'Bcc', 'Subject', 'Date', 'Message-ID'):
        for v in msg.get_all(h) or []:
            for x in v.defects:
                if h != 'Message-ID' or e['idvalid']:
                    problems.append('%s: %s: %s' % (where, h, x))
    for key, h in (('from', 'From'), ('to', 'To'), ('cc', 'Cc'), ('bcc', 'Bcc')):
        got = people(msg[h])
        if got != e[key]: problems.append('%s: %s %r, expected %r' % (where, h, got, e[key]))
    subject = str(msg['Subject']) if msg['Subject'] is not None else ''
    if subject != e['subject']: problems.append('%s: Subject %r, expected %r' % (where, subject, e['subject']))
    d = describe(msg)
    for x in d['defects']: problems.append('%s: structure: %r' % (where, x))
    for key, ct in (('plain', 'text/plain'), ('html', 'text/html')):
        if e[key] and norm(d['texts'].get(ct, '')) != norm(e[key]):
            problems.append('%s: %s differs' % (where, ct))
    got = sorted((a['filename'], a['sha256']) for a in d['attachments'])
    want = [a for a in e['attachments'] if a['type'] != 'message/rfc822']
    if got != sorted((a['filename'], a['sha256']) for a in want):
        problems.append('%s: attachments %r, expected %r' % (where, got, want))
    for a in want:
        for g in d['attachments']:
            if (g['filename'], g['sha256']) == (a['filename'], a['sha256']):
                if a['type'] and g['type'] != a['type']:
                    problems.append('%s: %s is %s, expected %s' % (where, a['filename'], g['type'], a['type']))
                if a['cid'] and g['cid'] != a['cid']:
                    problems.append('%s: %s has Content-ID %r' % (where, a['filename'], g['cid']))
    inner = [m for f, m in d['messages']]
    raw = [a for a in e['attachments'] if a['type'] == 'message/rfc822']
    if len(inner) != len(e['messages']) + len(raw):
        problems.append('%s: %d embedded messages, expected %d' % (where, len(inner), len(e['messages'])))
    for n, (ie, im) in enumerate(zip(e['messages'], inner)):
        check('%s/message%d' % (where, n), ie, im)
for e in expected:
    raw = open(e['eml'], 'rb').read()
    # RFC 5322 2.1.1 and RFC 2045 6.8: no line over 998 octets, no base64 line over 76.
    for n, line in enumerate(raw.split(b'\r\n')):
        if len(line) > 998:
            problems.append('%s: line %d has %d octets' % (e['file'], n + 1, len(line)))
    msg = email.message_from_bytes(raw, policy=policy.default)
    for part in msg.walk():
        if not part.is_multipart() and part.get('Content-Transfer-Encoding', '').lower() == 'base64':
            if any(len(line) > 76 for line in part.get_payload().splitlines()):
                problems.append('%s: base64 line over 76 in %s' % (e['file'], part.get_filename()))
    check(e['file'], e, msg)
print('\n'.join(problems + ['checked %d' % len(expected)]))
)PY";

constexpr char kPerlCheck[] = R"PL(
use strict; use warnings;
use Digest::SHA qw(sha256_hex);
use Email::Address::XS qw(parse_email_groups);
use Email::MIME;
use Encode qw(decode);
use JSON::PP;
binmode STDOUT, ':encoding(UTF-8)';
sub slurp { local $/; open my $f, '<:raw', shift or die; return <$f>; }
my $expected = JSON::PP->new->utf8->decode(slurp($ARGV[0]));
my @problems;
sub words { my $s = shift; return '' unless defined $s; return $s =~ /=\?/ ? decode('MIME-Header', $s) : $s; }
sub people {
  my ($m, $h) = @_;
  my $raw = $m->header_raw($h);
  return [] unless defined $raw;
  my @g = parse_email_groups($raw);
  my @out;
  while (@g) {
    my ($name, $list) = splice(@g, 0, 2);
    push @out, [words($name), ''] if defined $name && !@$list;
    push @out, [words($_->phrase), $_->address // ''] for @$list;
  }
  return \@out;
}
sub walk {
  my ($part, $d) = @_;
  my ($ct) = lc($part->content_type // 'text/plain') =~ /^\s*([^;\s]+)/;
  $ct //= 'text/plain';
  if ($ct eq 'message/rfc822') { push @{$d->{messages}}, Email::MIME->new($part->body); return; }
  if ($ct =~ m{^multipart/}) { walk($_, $d) for $part->subparts; return; }
  # A signed message's signature is no file of the sender's: mail programs do not list it.
  return if $ct =~ m{^application/(x-)?(pkcs7|pgp)-signature$};
  my $name = $part->filename;
  if (!defined $name && $ct =~ m{^text/(plain|html|rtf)$}) { return; }
  push @{$d->{attachments}}, [words($name) // '', $ct =~ m{^message/} ? '' : sha256_hex($part->body), $ct];
}
sub check {
  my ($where, $e, $m) = @_;
  for my $k (['from', 'From'], ['to', 'To'], ['cc', 'Cc'], ['bcc', 'Bcc']) {
    my $got = JSON::PP->new->canonical->encode(people($m, $k->[1]));
    my $want = JSON::PP->new->canonical->encode($e->{$k->[0]});
    push @problems, "$where: $k->[1] $got, expected $want" if $got ne $want;
  }
  my $subject = $m->header_str('Subject') // '';
  push @problems, "$where: Subject '$subject', expected '$e->{subject}'" if $subject ne $e->{subject};
  my $d = { attachments => [], messages => [] };
  walk($m, $d);
  my @want = sort map { "$_->{filename} $_->{sha256}" } grep { $_->{type} ne 'message/rfc822' } @{$e->{attachments}};
  my @got = sort map { "$_->[0] $_->[1]" } @{$d->{attachments}};
  push @problems, "$where: attachments [@got], expected [@want]" if "@got" ne "@want";
  for my $a (grep { $_->{type} ne '' && $_->{type} ne 'message/rfc822' } @{$e->{attachments}}) {
    for my $g (@{$d->{attachments}}) {
      push @problems, "$where: $a->{filename} is $g->[2], expected $a->{type}"
        if $g->[0] eq $a->{filename} && $g->[1] eq $a->{sha256} && $g->[2] ne $a->{type};
    }
  }
  my @inner = @{$d->{messages}};
  my $raw = grep { $_->{type} eq 'message/rfc822' } @{$e->{attachments}};
  push @problems, "$where: " . scalar(@inner) . " embedded messages" if @inner != @{$e->{messages}} + $raw;
  check("$where/message$_", $e->{messages}[$_], $inner[$_]) for 0 .. $#{$e->{messages}};
}
for my $e (@$expected) { check($e->{file}, $e, Email::MIME->new(slurp($e->{eml}))); }
print join("\n", @problems, 'checked ' . scalar(@$expected)), "\n";
)PL";

std::unique_ptr<TQvMessage> Load(const std::string& path) {
  std::unique_ptr<TQvMessage> message;
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext == ".eml")
    message = std::make_unique<TQvEMLFile>();
  else if (ext == ".mht")
    message = std::make_unique<TQvMHTFile>();
  else
    message = std::make_unique<TQvMSGFile>();
  message->LoadFromFile(path);
  return message;
}

// True when the Internet reader finds MIME parts in the file.
bool HasMimeTree(const std::string& path) {
  const std::unique_ptr<TQvMessage> message = Load(path);
  const TMSGProperties& root = message->Properties();
  for (int i = 0; i < root.Count(); ++i) {
    if (root.Items(i)->SubProperties().FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false,
                                                    false) != nullptr)
      return true;
  }
  return false;
}

// Converts each file with quillet into dir and writes the expectations file; returns its path.
std::string ConvertAll(const TempDir& dir, const std::vector<std::string>& files) {
  std::string json = "[";
  int n = 0;
  for (const std::string& path : files) {
    const std::string eml = dir.File(std::to_string(n++) + ".eml");
    const testutil::ProcessResult r = testutil::RunProcess(QUILLET_EXE, {path, "/E", "eml", eml});
    EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
    if (r.exitCode != 0)
      continue;
    const std::string expectation = Expect(Load(path)->Properties());
    json += std::string(json.size() > 1 ? ",\n" : "") + "{\"file\":" + JsonString(path) +
            ",\"eml\":" + JsonString(eml) + "," + expectation.substr(1);
  }
  const std::string expected = dir.File("expected.json");
  std::ofstream(expected, std::ios::binary) << json << "]";
  return expected;
}

// The corpus messages that quillet converts: .msg compound files, .eml, and the web archives
// (the .mhtml ones under the .mht extension that the program knows them by).
struct Corpus {
  TempDir dir;
  std::vector<std::string> files;
  std::string expected;
  Corpus() {
    for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
      if (cfb::IsCompoundFile(path))
        files.push_back(path);
    }
    // Internet messages with MIME parts go out in the structure they came in, which need not be
    // the model's flattened view (a part without a name keeps having none): eml_mime_tree_test.cc
    // reads them against Python's reading of the originals instead.
    for (const std::string& path : testutil::CorpusFiles("eml", ".eml")) {
      if (!HasMimeTree(path))
        files.push_back(path);
    }
    for (const char* ext : {".mht", ".mhtml"}) {
      for (const std::string& path : testutil::CorpusFiles("mht", ext)) {
        const std::string copy = dir.File(std::filesystem::path(path).stem().string() + ".mht");
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
        if (!HasMimeTree(copy))
          files.push_back(copy);
      }
    }
    expected = ConvertAll(dir, files);
  }
};

const Corpus& TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

// The problems a checker reports, with the count of checked files taken off the end.
std::string Problems(const testutil::ProcessResult& r, size_t files) {
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string out = r.out;
  const std::string tail = "checked " + std::to_string(files) + "\n";
  EXPECT_GE(out.size(), tail.size()) << out << r.err;
  if (out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0)
    out.resize(out.size() - tail.size());
  else
    ADD_FAILURE() << "the checker did not check " << files << " files:\n" << r.out << r.err;
  return out;
}

bool HasPerlModules() {
  return testutil::RunProcess("/usr/bin/perl",
                              {"-MEmail::MIME", "-MEmail::Address::XS", "-MJSON::PP", "-e", "1"})
             .exitCode == 0;
}

TEST(EmlInterop, PythonReadsEveryCorpusMessageAsTheModelHoldsIt) {
  if (!testutil::PythonHasModule("email"))
    GTEST_SKIP() << "python3 is missing";
  const Corpus& corpus = TheCorpus();
  EXPECT_GE(corpus.files.size(), 55u);
  EXPECT_EQ(Problems(testutil::RunPython(kPythonCheck, {corpus.expected}), corpus.files.size()),
            "");
}

TEST(EmlInterop, PerlReadsEveryCorpusMessageAsTheModelHoldsIt) {
  if (!HasPerlModules())
    GTEST_SKIP() << "Email::MIME or Email::Address::XS is missing";
  const Corpus& corpus = TheCorpus();
  EXPECT_EQ(Problems(testutil::RunProcess("/usr/bin/perl", {"-e", kPerlCheck, corpus.expected}),
                     corpus.files.size()),
            "");
}

// Recipients with Exchange addresses come out with the SMTP address that the message holds for
// them, never with the X.500 name.
TEST(EmlInterop, RecipientsHaveTheirSmtpAddresses) {
  int checked = 0;
  for (const std::string& path : TheCorpus().files) {
    if (std::filesystem::path(path).extension() != ".msg")
      continue;
    SCOPED_TRACE(path);
    const std::unique_ptr<TQvMessage> message = Load(path);
    const TMSGProperties& root = message->Properties();
    TMailAddressList written;
    for (TRecipientKind kind : {TRecipientKind::To, TRecipientKind::Cc, TRecipientKind::Bcc}) {
      for (TMailAddress& a : GetRecipientAddresses(root, kind))
        written.push_back(std::move(a));
    }
    for (int i = 0; i < root.Count(); ++i) {
      const TMSGProperty* item = root.Items(i);
      if (item->TagID != TAG_RECIPIENT_NODE)
        continue;
      std::u16string smtp = item->SubProperties().GetPropertyText(0x39FE0000, true, false);
      smtp.erase(std::remove(smtp.begin(), smtp.end(), u'\0'), smtp.end());
      if (smtp.empty())
        continue;
      ++checked;
      EXPECT_TRUE(std::any_of(written.begin(), written.end(), [&](const TMailAddress& a) {
        return a.Address == smtp;
      })) << WideToSystem(smtp);
    }
    for (const TMailAddress& a : written)
      EXPECT_NE(a.Address.substr(0, 1), u"/") << WideToSystem(a.Address);
  }
  EXPECT_GT(checked, 10);
}

// A message inside a message inside a message, each with a body and an attachment, as a .msg
// that quillet converts: Python finds every level with its subject, body and attachment.
TEST(EmlInterop, EmbeddedMessagesNestAsMessageParts) {
  if (!testutil::PythonHasModule("email"))
    GTEST_SKIP() << "python3 is missing";
  using namespace tools;
  TQvMessage message;
  std::vector<std::string> files;
  TMSGProperties* level = &message.Properties();
  for (int depth = 0; depth < 3; ++depth) {
    const std::string n = std::to_string(depth);
    LevelBuilder m = depth == 0 ? BeginMessage<TMSGPropertyTopLevel>(*level, 1, 2)
                                : BeginMessage<TMSGPropertyEmbeddedMessage>(*level, 1, 2);
    m.Text(0x001A, "IPM.Note");
    m.Text(0x0037, "Level " + n + " \xC3\xA9t\xC3\xA9");
    m.Text(0x0042, "Sender " + n);
    m.Text(0x0065, "sender" + n + "@example.org");
    m.Text(0x1000, "Body of level " + n + "\r\n");
    m.Long(0x3FFD, 65001);
    AddRecipient(*level, 0, "Reader, " + n, "reader" + n + "@example.org", 1);
    AddFileAttachment(*level, 0, "file" + n + ".txt", "text/plain", "data " + n + "\r\n");
    if (depth < 2)
      level = &AddEmbeddedMessage(*level, 1, "Forwarded " + n);
  }
  AddEmptyNameMap(message.Properties());
  TempDir dir;
  SaveToMSG(message.Properties(), dir.File("nested.msg"), true);
  const testutil::ProcessResult r =
      testutil::RunProcess(QUILLET_EXE, {dir.File("nested.msg"), "/E", "eml", dir.File("out.eml")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const testutil::ProcessResult py = testutil::RunPython(R"PY(
import email, sys
from email import policy
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=policy.default)
while msg is not None:
    body = msg.get_body(('plain',))
    files = [(a.get_filename(), a.get_content()) for a in msg.iter_attachments()
             if a.get_content_type() != 'message/rfc822']
    print(msg['Subject'], '|', msg['To'], '|', body.get_content().strip(), '|', files)
    inner = [a for a in msg.iter_attachments() if a.get_content_type() == 'message/rfc822']
    msg = inner[0].get_payload(0) if inner else None
)PY",
                                                         {dir.File("out.eml")});
  ASSERT_EQ(py.exitCode, 0) << py.err;
  EXPECT_EQ(py.out,
            "Level 0 \xC3\xA9t\xC3\xA9 | \"Reader, 0\" <reader0@example.org> | Body of level 0 | "
            "[('file0.txt', 'data 0\\r\\n')]\n"
            "Level 1 \xC3\xA9t\xC3\xA9 | \"Reader, 1\" <reader1@example.org> | Body of level 1 | "
            "[('file1.txt', 'data 1\\r\\n')]\n"
            "Level 2 \xC3\xA9t\xC3\xA9 | \"Reader, 2\" <reader2@example.org> | Body of level 2 | "
            "[('file2.txt', 'data 2\\r\\n')]\n");
}

} // namespace
} // namespace orlendo
