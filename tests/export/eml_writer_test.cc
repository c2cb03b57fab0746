// The EML writer: the layout of the output for each shape of message, the encodings that keep
// the text intact, and every corpus message read back by Python's email package.
#include "export/eml_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "export/export_test_util.h"
#include "export/generator_text.h"
#include "export/html_body.h"
#include "mime/qvemlfile.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/base64.h"
#include "text/datetime.h"
#include "text/quoted_printable_encode.h"
#include "text/rfc2047_encode.h"
#include "text/rtf_html.h"

namespace orlendo {
namespace {

using exporttest::A;
using exporttest::AddAttachmentNode;
using exporttest::AddEmbeddedMessage;
using exporttest::U8;
using exporttest::W;
using testutil::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Eml(const TMSGProperties& level) {
  TMemoryStream out;
  SaveToEML(level, &out);
  return out.Data();
}

// The lines of text, split at CR LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  if (start < text.size())
    lines.push_back(text.substr(start));
  return lines;
}

// The lines from the first one that starts with prefix, or from the end.
size_t FindLine(const std::vector<std::string>& lines, const std::string& prefix, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0)
      return i;
  }
  return lines.size();
}

TMSGProperty* AddFileAttachment(TMSGProperties& level, int index, const std::string& data,
                                const std::u16string& fileName, const std::u16string& mime) {
  TMSGProperty* node = AddAttachmentNode(level, index);
  if (!fileName.empty())
    node->SubProperties().AddProperty(0x3707001F, W(fileName));
  if (!mime.empty())
    node->SubProperties().AddProperty(0x370E001F, W(mime));
  node->SubProperties().AddProperty(0x37010102, A(data));
  return node;
}

// A message level with the usual header properties.
struct Message {
  TQvMSGFile file;
  TMSGProperties& level = file.Properties();
  explicit Message(int codePage = 65001) {
    level.AddProperty(0x3FFD0003, TVariant::FromInteger(codePage));
    level.AddProperty(0x0037001F, W(u"Greetings"));
    level.AddProperty(0x0042001F, W(u"Ann"));
    level.AddProperty(0x0065001F, W(u"ann@example.org"));
    level.AddProperty(0x0E04001F, W(u"Bob"));
  }
};

// ---------------------------------------------------------------------------------------------
// Layout.

TEST(EmlWriterLayout, PlainBodyAloneIsTheMessageBody) {
  exporttest::ScopedTimeZone zone("UTC");
  Message m;
  m.level.AddProperty(0x1000001F, W(u"Hello\r\nWorld"));
  const std::vector<std::string> lines = Lines(Eml(m.level));
  // No date and no ID: no Date or Message-ID line. A recipient known only by name is an empty
  // group of that name, which every address parser accepts.
  const std::vector<std::string> expected = {"From: Ann <ann@example.org>",
                                             "To: Bob:;",
                                             "Subject: Greetings",
                                             "MIME-Version: 1.0",
                                             "Content-Type: text/plain;",
                                             "              charset=\"utf-8\"",
                                             "Content-Transfer-Encoding: quoted-printable",
                                             "X-Priority: 3",
                                             "X-Mailer: " + GeneratorText(),
                                             "",
                                             "Hello",
                                             "World"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(FindLine(lines, "--"), lines.size());
}

TEST(EmlWriterLayout, HtmlBodyAloneIsDeclaredAsHtml) {
  Message m;
  m.level.AddProperty(0x1013001F, W(u"<p>Hi</p>"));
  const std::vector<std::string> lines = Lines(Eml(m.level));
  EXPECT_EQ(lines[FindLine(lines, "Content-Type:")], "Content-Type: text/html;");
}

TEST(EmlWriterLayout, TextAndHtmlFormAnAlternative) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"plain"));
  m.level.AddProperty(0x1013001F, W(u"<b>html</b>"));
  const std::string eml = Eml(m.level);
  const std::vector<std::string> lines = Lines(eml);
  EXPECT_NE(
      FindLine(lines, "Content-Type: multipart/alternative; boundary=\"AB9DB43ABB3246E63E5\""),
      lines.size());
  const size_t first = FindLine(lines, "--AB9DB43ABB3246E63E5");
  ASSERT_LT(first, lines.size());
  EXPECT_EQ(lines[first - 1], "");
  EXPECT_EQ(lines[first + 1], "Content-Type: text/plain; charset=\"utf-8\"");
  EXPECT_EQ(lines[first + 2], "Content-Transfer-Encoding: quoted-printable");
  const size_t second = FindLine(lines, "--AB9DB43ABB3246E63E5", first + 1);
  ASSERT_LT(second, lines.size());
  EXPECT_EQ(lines[second + 1], "Content-Type: text/html; charset=\"utf-8\"");
  EXPECT_EQ(lines[lines.size() - 1], "--AB9DB43ABB3246E63E5--");
  EXPECT_EQ(FindLine(lines, "This is a multi-part"), lines.size());
}

TEST(EmlWriterLayout, SeveralBodiesWithAttachmentsNestTheAlternative) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"plain"));
  m.level.AddProperty(0x1013001F, W(u"<b>html</b>"));
  AddFileAttachment(m.level, 0, "one", u"a.txt", u"text/plain");
  AddFileAttachment(m.level, 1, "two", u"b.bin", u"");
  const std::vector<std::string> lines = Lines(Eml(m.level));
  // The attachments are not alternatives of the text: the outer multipart is mixed.
  EXPECT_NE(FindLine(lines, "Content-Type: multipart/mixed; boundary=\"AB9DB43ABB3246E63E5\""),
            lines.size());
  const size_t preamble = FindLine(lines, "This is a multi-part message in MIME format.");
  ASSERT_LT(preamble + 4, lines.size());
  EXPECT_EQ(lines[preamble + 2], "--AB9DB43ABB3246E63E5");
  EXPECT_EQ(lines[preamble + 3], "Content-Type: multipart/alternative;");
  EXPECT_EQ(lines[preamble + 4], "    \tboundary=\"=_NextPart_AB9DB43ABB3246E63E5\"");
  const size_t innerClose = FindLine(lines, "--=_NextPart_AB9DB43ABB3246E63E5--");
  ASSERT_LT(innerClose, lines.size());
  // Both text parts inside, both attachments after the nested part, then the outer close.
  EXPECT_LT(FindLine(lines, "Content-Type: text/html"), innerClose);
  const size_t a = FindLine(lines, "Content-Type: text/plain; name=\"a.txt\"", innerClose);
  const size_t b = FindLine(lines, "Content-Type: application/octet-stream; name=\"b.bin\"", a);
  ASSERT_LT(b, lines.size());
  EXPECT_EQ(lines[a - 1], "--AB9DB43ABB3246E63E5");
  EXPECT_EQ(lines[a + 1], "Content-Disposition: attachment; filename=\"a.txt\"");
  EXPECT_EQ(lines[a + 2], "Content-Transfer-Encoding: base64");
  EXPECT_EQ(lines[a + 4], "b25l"); // "one"
  EXPECT_EQ(lines.back(), "--AB9DB43ABB3246E63E5--");
}

TEST(EmlWriterLayout, OneBodyWithAttachmentsIsMixed) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"plain"));
  TMSGProperty* node = AddFileAttachment(m.level, 0, "x", u"", u"");
  node->SubProperties().AddProperty(0x3712001F, W(u"img1@here"));
  const std::vector<std::string> lines = Lines(Eml(m.level));
  EXPECT_NE(FindLine(lines, "Content-Type: multipart/mixed; boundary=\"AB9DB43ABB3246E63E5\""),
            lines.size());
  // No MIME tag and no file name: the generic type and the numbered name.
  const size_t type = FindLine(lines, "Content-Type: application/octet-stream");
  ASSERT_LT(type + 2, lines.size());
  EXPECT_EQ(lines[type], "Content-Type: application/octet-stream; name=\"Attachment 1\"");
  EXPECT_EQ(lines[type + 1], "Content-ID: <img1@here>");
  EXPECT_EQ(lines[type + 2], "Content-Disposition: attachment; filename=\"Attachment 1\"");
}

// Images that the HTML refers to go with it in multipart/related, inside the alternative; other
// attachments after the bodies in multipart/mixed; the type comes from the extension when the
// attachment declares none.
TEST(EmlWriterLayout, InlineImagesAreRelatedToTheHtml) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"plain"));
  m.level.AddProperty(0x1013001F, W(u"<img src=\"CID:Img1@Here\">"));
  AddFileAttachment(m.level, 0, "png", u"a.png", u"")
      ->SubProperties()
      .AddProperty(0x3712001F, W(u"img1@here"));
  AddFileAttachment(m.level, 1, "pdf", u"b.PDF", u"");
  AddFileAttachment(m.level, 2, "hidden", u"c.gif", u"")
      ->SubProperties()
      .AddProperty(0x7FFE000B, TVariant::FromBoolean(true));
  const std::vector<std::string> lines = Lines(Eml(m.level));
  const size_t related = FindLine(lines, "Content-Type: multipart/related; boundary=");
  const size_t html = FindLine(lines, "Content-Type: text/html", related);
  const size_t png = FindLine(lines, "Content-Type: image/png; name=\"a.png\"", html);
  const size_t gif = FindLine(lines, "Content-Type: image/gif; name=\"c.gif\"", png);
  const size_t relatedEnd = FindLine(lines, "--=_Related_AB9DB43ABB3246E63E5--", gif);
  const size_t alternativeEnd = FindLine(lines, "--=_NextPart_AB9DB43ABB3246E63E5--", relatedEnd);
  const size_t pdf =
      FindLine(lines, "Content-Type: application/pdf; name=\"b.PDF\"", alternativeEnd);
  ASSERT_LT(pdf, lines.size());
  EXPECT_EQ(lines[related],
            "Content-Type: multipart/related; boundary=\"=_Related_AB9DB43ABB3246E63E5\"");
  EXPECT_EQ(lines[png + 1], "Content-ID: <img1@here>");
  EXPECT_EQ(lines[png + 2], "Content-Disposition: inline; filename=\"a.png\"");
  EXPECT_EQ(lines[pdf + 1], "Content-Disposition: attachment; filename=\"b.PDF\"");
}

// An embedded message is a message/rfc822 part holding its own EML, with boundaries that cannot
// be taken for the outer ones.
TEST(EmlWriterLayout, EmbeddedMessagesAreMessageParts) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"plain"));
  TMSGProperties& inner = AddEmbeddedMessage(m.level, 0);
  inner.AddProperty(0x001A001E, A("IPM.Note"));
  inner.AddProperty(0x0037001F, W(u"inner subject"));
  inner.AddProperty(0x1000001F, W(u"inner text"));
  inner.AddProperty(0x1013001F, W(u"<p>inner</p>"));
  const std::vector<std::string> lines = Lines(Eml(m.level));
  const size_t part = FindLine(lines, "Content-Type: message/rfc822");
  ASSERT_LT(part + 4, lines.size());
  EXPECT_EQ(lines[part - 1], "--AB9DB43ABB3246E63E5");
  EXPECT_EQ(lines[part + 2], "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(lines[part + 3], "");
  EXPECT_EQ(lines[FindLine(lines, "Subject: inner subject", part)], "Subject: inner subject");
  EXPECT_LT(
      FindLine(lines,
               "Content-Type: multipart/alternative; boundary=\"=_Message1_AB9DB43ABB3246E63E5\"",
               part),
      FindLine(lines, "--=_Message1_AB9DB43ABB3246E63E5--", part));
  EXPECT_EQ(lines.back(), "--AB9DB43ABB3246E63E5--");
}

// Address headers: commas between people, names quoted or encoded as RFC 5322 and 2047 want
// them, long lines folded at blanks outside quoted strings.
TEST(EmlWriterLayout, AddressHeadersAreValidAddressLists) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"x"));
  exporttest::AddRecipient(m.level, 0, u"Smith, John", u"john@example.org")
      ->SubProperties()
      .AddProperty(0x0C150003, TVariant::FromInteger(1));
  exporttest::AddRecipient(m.level, 1, u"Zo\u00EB \"Z\" D\u00FCpont", u"zoe@example.org")
      ->SubProperties()
      .AddProperty(0x0C150003, TVariant::FromInteger(1));
  exporttest::AddRecipient(m.level, 2, u"Say \"hi\" \\o/", u"say@example.org")
      ->SubProperties()
      .AddProperty(0x0C150003, TVariant::FromInteger(2));
  exporttest::AddRecipient(m.level, 3, u"Exchange User", u"/O=ORG/OU=X/CN=RECIPIENTS/CN=EU")
      ->SubProperties()
      .AddProperty(0x0C150003, TVariant::FromInteger(3));
  const std::string eml = Eml(m.level);
  EXPECT_NE(eml.find("\r\nTo: \"Smith, John\" <john@example.org>,\r\n"
                     " =?utf-8?B?Wm/DqyAiWiIgRMO8cG9udA==?= <zoe@example.org>\r\n"),
            std::string::npos)
      << eml;
  EXPECT_NE(eml.find("\r\nCc: \"Say \\\"hi\\\" \\\\o/\" <say@example.org>\r\n"), std::string::npos);
  // No SMTP address for the Exchange name: the name alone, the X.500 name nowhere.
  EXPECT_NE(eml.find("\r\nBcc: Exchange User:;\r\n"), std::string::npos);
  EXPECT_EQ(eml.find("/O=ORG"), std::string::npos);
}

TEST(EmlWriterLayout, HeadersThatDependOnTheMessage) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"x"));
  std::string eml = Eml(m.level);
  EXPECT_EQ(eml.find("\r\nCc: "), std::string::npos);
  EXPECT_EQ(eml.find("\r\nBcc: "), std::string::npos);
  EXPECT_EQ(eml.find("\r\nMessage-ID:"), std::string::npos);
  EXPECT_EQ(eml.find("\r\nDate:"), std::string::npos);
  EXPECT_NE(eml.find("\r\nX-Priority: 3\r\n"), std::string::npos);
  EXPECT_EQ(eml.find("X-Authentication-Warning"), std::string::npos);

  m.level.AddProperty(0x00170003, TVariant::FromInteger(2)); // IMPORTANCE high
  m.level.AddProperty(0x0E03001F, W(u"Carol"));
  m.level.AddProperty(0x0E02001F, W(u"Dave"));
  m.level.AddProperty(0x1035001F, W(u"<id@example.org>"));
  m.level.AddProperty(0x8003001F, W(u"host: sender not verified"));
  eml = Eml(m.level);
  EXPECT_NE(eml.find("\r\nX-Priority: 1\r\nImportance: high\r\n"), std::string::npos);
  EXPECT_NE(eml.find("\r\nCc: Carol:;\r\nBcc: Dave:;\r\n"), std::string::npos);
  EXPECT_NE(eml.find("\r\nMessage-ID: <id@example.org>\r\n"), std::string::npos);
  // 0x8003 is a named property: what it holds is the file's own business, no header.
  EXPECT_EQ(eml.find("X-Authentication-Warning"), std::string::npos);
  EXPECT_EQ(eml.find("sender not verified"), std::string::npos);
}

TEST(EmlWriterLayout, PriorityAndImportanceAsMailProgramsWriteThem) {
  struct Case {
    uint32_t tag;
    int value;
    const char* headers; // what follows "\r\nX-Priority: "
  } cases[] = {
      {0x00170003, 1, "3\r\nX-Mailer: "}, // IMPORTANCE normal: no Importance header
      {0x00170003, 2, "1\r\nImportance: high\r\n"},
      {0x00170003, 0, "5\r\nImportance: low\r\n"},
      {0x00260003, 0, "3\r\nX-Mailer: "},
      {0x00260003, 2, "1\r\nImportance: high\r\n"}, // X-Priority 1 as read
      {0x00260003, 1, "1\r\nImportance: high\r\n"},
      {0x00260003, -1, "5\r\nImportance: low\r\n"},
      {0x00260003, -2, "5\r\nImportance: low\r\n"},
  };
  for (const Case& c : cases) {
    Message m;
    m.level.AddProperty(0x1000001F, W(u"x"));
    m.level.AddProperty(c.tag, TVariant::FromInteger(c.value));
    const std::string eml = Eml(m.level);
    EXPECT_NE(eml.find(std::string("\r\nX-Priority: ") + c.headers), std::string::npos)
        << std::hex << c.tag << " " << c.value << "\n"
        << eml;
  }
}

// Headers that a reply needs, the importance and the sender's zone survive reading an Internet
// message and writing it again; a From without an address keeps its text.
TEST(EmlWriterLayout, ReadHeadersSurviveWriting) {
  const std::string source =
      "From: Ann <ann@example.org>\r\n"
      "To: bob@example.org\r\n"
      "Reply-To: \"Help, Desk\" <help@example.org>, =?utf-8?Q?Zo=C3=AB?= <zoe@example.org>\r\n"
      "In-Reply-To: <parent@example.org>\r\n"
      "References: <root@example.org> <parent@example.org>\r\n"
      "Importance: High\r\n"
      "Subject: Thread\r\n"
      "Date: Mon, 7 Dec 2026 10:20:30 -0430\r\n"
      "\r\n"
      "body\r\n";
  TQvEMLFile reader;
  TMemoryStream in;
  in.WriteBuffer(source.data(), source.size());
  in.SetPosition(0);
  reader.LoadFromStream(in);
  const std::string eml = Eml(reader.Properties());
  for (const char* line : {
           "\r\nReply-To: \"Help, Desk\" <help@example.org>,\r\n =?utf-8?B?Wm/Dqw==?= "
           "<zoe@example.org>\r\n",
           "\r\nIn-Reply-To: <parent@example.org>\r\n",
           "\r\nReferences: <root@example.org> <parent@example.org>\r\n",
           "\r\nX-Priority: 1\r\nImportance: high\r\n",
           "\r\nDate: Mon, 7 Dec 2026 10:20:30 -0430\r\n",
       })
    EXPECT_NE(eml.find(line), std::string::npos) << line << "\n" << eml;

  // A .msg date has no zone: it is written in UTC.
  Message m;
  m.level.AddProperty(0x1000001F, W(u"x"));
  m.level.AddProperty(0x00390040, TVariant::FromDateTime(UtcToLocalDateTime(46363.5)));
  EXPECT_NE(Eml(m.level).find("\r\nDate: Mon, 7 Dec 2026 12:00:00 +0000\r\n"), std::string::npos);

  // Web archives name their maker in a From without an address.
  for (const auto& [from, shown] :
       {std::pair{"<Saved by Mozilla 5.0 (Macintosh)>", u"Saved by Mozilla 5.0 (Macintosh)"},
        std::pair{"\"Saved by Windows Internet Explorer 7\"",
                  u"Saved by Windows Internet Explorer 7"}}) {
    TQvEMLFile archive;
    const std::string text = std::string("From: ") + from + "\r\nSubject: page\r\n\r\nx\r\n";
    TMemoryStream page;
    page.WriteBuffer(text.data(), text.size());
    page.SetPosition(0);
    archive.LoadFromStream(page);
    EXPECT_EQ(archive.Properties().GetFrom(), shown) << from;
  }
}

// No header line passes 998 octets, whatever the message holds: long lists fold between their
// addresses, a word too long to fold travels as encoded-words.
TEST(EmlWriterLayout, HeaderLinesStayWithin998Octets) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"x"));
  m.level.FindProperty(0x0037001F, false, false)->Value = W(std::u16string(5000, u'a'));
  for (int i = 0; i < 300; ++i) {
    const std::u16string n = SystemToWide(std::to_string(i));
    exporttest::AddRecipient(m.level, i, u"Person Number " + n, u"p" + n + u"@example.org")
        ->SubProperties()
        .AddProperty(0x0C150003, TVariant::FromInteger(1));
  }
  const std::string eml = Eml(m.level);
  const std::vector<std::string> lines = Lines(eml);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 998u) << "line " << i;
    // Address lists break between addresses, never inside a name.
    if (lines[i].rfind(" \"Person", 0) == 0 || lines[i].rfind(" Person", 0) == 0) {
      EXPECT_EQ(lines[i - 1].back(), ',') << lines[i - 1];
    }
  }
  TQvEMLFile back;
  TMemoryStream in;
  in.WriteBuffer(eml.data(), eml.size());
  in.SetPosition(0);
  back.LoadFromStream(in);
  EXPECT_EQ(back.Properties().GetSubject(), std::u16string(5000, u'a'));
}

// A subject as large as a hostile file goes out piece by piece: folded at its blanks, or as
// encoded-words where it has none or needs encoding, and reads back as it was, from an Internet
// message (whose subject the writer views where it stands) and from an Outlook one alike.
TEST(EmlWriterLayout, HugeSubjectsFoldOrEncodeAndReadBack) {
  std::string words, oneWord(1500000, 'x'), mixed;
  for (int i = 0; words.size() < 1500000; ++i)
    words += std::string(1 + i % 13, static_cast<char>('a' + i % 26)) + " ";
  for (int i = 0; mixed.size() < 1500000; ++i)
    mixed += i % 3 ? "Gr\xC3\xBC\xC3\x9F " : "\xF0\x9F\x98\x80=";
  words.pop_back();
  mixed += "end";
  for (const std::string& subject : {words, oneWord, mixed}) {
    TQvEMLFile source;
    const std::string text =
        "Subject: " + subject + "\r\nContent-Type: text/plain; charset=utf-8" + "\r\n\r\nbody\r\n";
    TMemoryStream in(text);
    source.LoadFromStream(in);
    Message outlook;
    outlook.level.FindProperty(0x0037001F, false, false)->Value = W(SystemToWide(subject));
    for (const TMSGProperties* level : {&source.Properties(), &outlook.level}) {
      const std::string eml = Eml(*level);
      const std::string head = eml.substr(0, eml.find("\r\n\r\n"));
      for (const std::string& line : Lines(head))
        ASSERT_LE(line.size(), 998u) << subject.substr(0, 20);
      TQvEMLFile back;
      TMemoryStream out(eml);
      back.LoadFromStream(out);
      EXPECT_TRUE(back.Properties().GetSubject() == SystemToWide(subject)) << subject.substr(0, 20);
    }
  }
}

// Almost every Outlook message says IMPORTANCE normal (1): such a message is an ordinary one,
// written with X-Priority 3 and no Importance header.
TEST(EmlWriterLayout, OrdinaryCorpusMessagesHaveNormalPriority) {
  int ordinary = 0;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    TQvMSGFile msg;
    try {
      msg.LoadFromFile(path);
    } catch (const std::exception&) {
      continue; // damaged files are the reader's tests' business
    }
    const TMSGProperties& p = msg.Properties();
    const TMSGProperty* importance = p.FindProperty(0x00170003, false, true);
    if (p.FindProperty(0x00260003, false, true) != nullptr || importance == nullptr ||
        importance->Value.ToInt64() != 1)
      continue;
    ++ordinary;
    EXPECT_EQ(p.GetPriority(), 2) << path;
    const std::string eml = Eml(p);
    EXPECT_NE(eml.find("\r\nX-Priority: 3\r\n"), std::string::npos) << path;
    EXPECT_EQ(eml.find("\r\nImportance:"), std::string::npos) << path;
  }
  EXPECT_GE(ordinary, 5);
}

TEST(EmlWriterLayout, NoStreamIsAnError) {
  Message m;
  try {
    SaveToEML(m.level, nullptr);
    FAIL() << "no error";
  } catch (const EMSGError& e) {
    EXPECT_STREQ(e.what(), "Stream is not defined");
  }
}

// ---------------------------------------------------------------------------------------------
// Encodings.

TEST(EmlWriterEncoding, TextPartsAreQuotedPrintable) {
  Message m(1252);
  m.level.AddProperty(0x1000001F, W(u"a=b caf\u00E9 \r\n" + std::u16string(100, u'x')));
  const std::string eml = Eml(m.level);
  EXPECT_NE(eml.find("charset=\"Windows-1252\""), std::string::npos);
  EXPECT_NE(eml.find("a=3Db caf=E9=20\r\n"), std::string::npos);
  const std::vector<std::string> lines = Lines(eml);
  for (size_t i = FindLine(lines, "X-Mailer:") + 1; i < lines.size(); ++i)
    EXPECT_LE(lines[i].size(), 76u) << lines[i];
}

TEST(EmlWriterEncoding, TextTheCharsetCannotHoldIsWrittenAsUtf8) {
  Message m(1252);
  m.level.AddProperty(0x1000001F, W(u"caf\u00E9"));
  m.level.AddProperty(0x1013001F, W(u"<p>\u65E5\u672C</p>"));
  const std::string eml = Eml(m.level);
  // Each part decides for itself.
  EXPECT_NE(eml.find("Content-Type: text/plain; charset=\"Windows-1252\"\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=E9\r\n"),
            std::string::npos);
  EXPECT_NE(
      eml.find("Content-Type: text/html; charset=\"utf-8\"\r\n"
               "Content-Transfer-Encoding: quoted-printable\r\n\r\n<p>=E6=97=A5=E6=9C=AC</p>"),
      std::string::npos);
}

TEST(EmlWriterEncoding, HeaderTextOutsideAsciiIsEncoded) {
  Message m(1252);
  m.level.AddProperty(0x1000001F, W(u"x"));
  TMSGProperty* subject = m.level.FindProperty(0x0037001F, false, false);
  subject->Value = W(u"R\u00E9sum\u00E9 \u2603\r\nBcc: injected@example.org");
  const std::string eml = Eml(m.level);
  const std::vector<std::string> lines = Lines(eml);
  for (const std::string& line : lines) {
    for (const char c : line)
      EXPECT_LT(static_cast<unsigned char>(c), 0x80) << line;
  }
  EXPECT_EQ(FindLine(lines, "Bcc:"), lines.size());
  // The snowman is not in Windows-1252: the words are UTF-8.
  EXPECT_NE(eml.find("Subject: =?utf-8?B?"), std::string::npos);
}

TEST(EmlWriterEncoding, TheReadersHookConvertsTheText) {
  Message m(1252);
  m.level.AddProperty(0x1000001F, W(u"body \u00E9"));
  std::vector<std::string> seen;
  m.file.OnConvertCodepage = [&](void* sender, const std::string& charset, std::string& value) {
    EXPECT_EQ(sender, &m.level);
    seen.push_back(charset + ":" + value);
    value = "[" + value + "]";
  };
  const std::string eml = Eml(m.level);
  EXPECT_NE(eml.find("\r\n\r\n[body =C3=A9]\r\n"), std::string::npos);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Windows-1252:body \xC3\xA9"), seen.end());
}

// Base64 of data in lines of 76 characters (RFC 2045, 6.8), the last one without a line break.
std::string Base64Of76(const std::string& data) {
  std::string flat = EncodeBase64(data);
  flat.erase(
      std::remove_if(flat.begin(), flat.end(), [](char c) { return c == '\r' || c == '\n'; }),
      flat.end());
  std::string out;
  for (size_t i = 0; i < flat.size(); i += 76)
    out += (i > 0 ? "\r\n" : "") + flat.substr(i, 76);
  return out;
}

TEST(EmlWriterEncoding, LargeAttachmentsAreEncodedAsOneBase64Block) {
  Message m;
  m.level.AddProperty(0x1000001F, W(u"x"));
  std::string data(1'000'003, '\0');
  std::mt19937 random(7);
  for (char& c : data)
    c = static_cast<char>(random());
  AddFileAttachment(m.level, 0, data, u"big.bin", u"application/x-test");
  const std::string eml = Eml(m.level);
  const std::string expected = "\r\n\r\n" + Base64Of76(data) + "\r\n\r\n--";
  EXPECT_NE(eml.find(expected), std::string::npos);
}

TEST(EmlWriterEncoding, AttachmentsOfEverySizeEncodeInLinesOf76) {
  // Every position in the 57-byte line of the encoder, and partial final groups.
  std::mt19937 random(11);
  for (size_t size = 1; size <= 640; size += (size < 440 ? 1 : 37)) {
    Message m;
    std::string data(size, '\0');
    for (char& c : data)
      c = static_cast<char>(random());
    AddFileAttachment(m.level, 0, data, u"f.bin", u"");
    const std::string eml = Eml(m.level);
    const std::string expected =
        "base64\r\n\r\n" + Base64Of76(data) + "\r\n\r\n--AB9DB43ABB3246E63E5--\r\n";
    ASSERT_GE(eml.size(), expected.size());
    EXPECT_EQ(eml.substr(eml.size() - expected.size()), expected) << "size " << size;
  }
}

// ---------------------------------------------------------------------------------------------
// The encoders of header words and text parts.

TEST(QuotedPrintableEncode, EncodesWhatTextPartsNeed) {
  EXPECT_EQ(EncodeQuotedPrintable("a=b"), "a=3Db");
  EXPECT_EQ(EncodeQuotedPrintable("caf\xC3\xA9"), "caf=C3=A9");
  EXPECT_EQ(EncodeQuotedPrintable("x \r\ny\t\nz\rw "), "x=20\r\ny=09\r\nz\r\nw=20");
  EXPECT_EQ(EncodeQuotedPrintable("a b\tc"), "a b\tc");
  EXPECT_EQ(EncodeQuotedPrintable(std::string("\0\x7F", 2)), "=00=7F");
  EXPECT_EQ(EncodeQuotedPrintable(""), "");
  // Soft breaks keep every line within 76 characters and never split an escape.
  const std::string encoded =
      EncodeQuotedPrintable(std::string(200, '=') + "\n" + std::string(200, 'y'));
  for (const std::string& line : Lines(encoded)) {
    EXPECT_LE(line.size(), 76u);
    if (line.back() != '=')
      continue;
    EXPECT_NE(line[line.size() - 2], '=');
    EXPECT_NE(line[line.size() - 3], '=');
  }
}

TEST(QuotedPrintableEncode, AnyChunkingGivesTheSameOutput) {
  // Bytes of every kind evenly, then text of long runs that go out as they are (read eight at a
  // time when whole), with a line break or an escape now and then.
  for (const std::string_view pieces :
       {std::string_view(" \t\r\n=a\xE9"),
        std::string_view("abcdefghijklmnopqrst    \t\r\n=\x7F\x01\xC3")}) {
    SCOPED_TRACE(testing::Message() << pieces.size() << " kinds of piece");
    std::mt19937 random(3);
    std::string text;
    for (int i = 0; i < 5000; ++i)
      text += pieces[random() % pieces.size()];
    const std::string whole = EncodeQuotedPrintable(text);
    QuotedPrintableEncoder encoder;
    std::string bytewise;
    for (const char c : text)
      encoder.Filter(std::string_view(&c, 1), bytewise);
    encoder.Complete(bytewise);
    EXPECT_EQ(bytewise, whole);
    // And it decodes back, line breaks as CR LF.
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' || text[i] == '\n') {
        expected += "\r\n";
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
          ++i;
      } else {
        expected += text[i];
      }
    }
    std::string decoded;
    for (size_t i = 0; i < whole.size(); ++i) {
      if (whole[i] != '=') {
        decoded += whole[i];
      } else if (whole[i + 1] == '\r') {
        i += 2; // soft break
      } else {
        decoded += static_cast<char>(std::stoi(whole.substr(i + 1, 2), nullptr, 16));
        i += 2;
      }
    }
    EXPECT_EQ(decoded, expected);
  }
}

// The text of a header value with its encoded-words decoded (B form, one charset).
std::string DecodeWords(const std::string& value, const std::string& charset) {
  std::string out;
  const std::string prefix = "=?" + charset + "?B?";
  size_t i = 0;
  while (i < value.size()) {
    if (value.compare(i, prefix.size(), prefix) == 0) {
      const size_t end = value.find("?=", i + prefix.size());
      out += DecodeBase64(value.substr(i + prefix.size(), end - i - prefix.size()));
      i = end + 2;
      // White space between adjacent encoded-words is not part of the text.
      const size_t next = value.find_first_not_of(" \r\n", i);
      if (next != std::string::npos && value.compare(next, prefix.size(), prefix) == 0)
        i = next;
    } else {
      out += value[i++];
    }
  }
  return out;
}

TEST(Rfc2047Encode, PlainTextStaysAndTheRestIsEncodedInWords) {
  EXPECT_EQ(EncodeHeaderValue(u"Hello <a@b.c>", "utf-8"), "Hello <a@b.c>");
  EXPECT_EQ(EncodeHeaderValue(u"J\u00FCrgen <j@x.de>", "Windows-1252"),
            "=?Windows-1252?B?SvxyZ2Vu?= <j@x.de>");
  // A run of words that need it is one piece, blanks inside included.
  EXPECT_EQ(EncodeHeaderValue(u"a \u00E9 \u00E8 b", "utf-8"), "a =?utf-8?B?w6kgw6g=?= b");
  // Text that looks like an encoded-word, and control characters, are encoded too.
  EXPECT_EQ(EncodeHeaderValue(u"=?x?", "utf-8"), "=?utf-8?B?PT94Pw==?=");
  EXPECT_EQ(EncodeHeaderValue(u"a\r\nb", "utf-8"), "=?utf-8?B?YQ0KYg==?=");
  // A character the charset lacks makes the whole value UTF-8.
  EXPECT_EQ(EncodeHeaderValue(u"\u00E9\u2603", "Windows-1252"), "=?utf-8?B?w6nimIM=?=");
}

TEST(Rfc2047Encode, LongTextIsSplitBetweenCharacters) {
  std::u16string text;
  for (int i = 0; i < 40; ++i)
    text += u"\u65E5\U0001F600 ";
  text += u"end";
  const std::string value = EncodeHeaderValue(text, "utf-8");
  for (const std::string& line : Lines(value)) {
    const std::string word = line[0] == ' ' ? line.substr(1) : line;
    EXPECT_LE(word.size(), 75u);
    // Each word decodes by itself to whole characters.
    const std::string decoded = DecodeWords(word.substr(0, word.find("?=") + 2), "utf-8");
    EXPECT_FALSE(DecodeUtf8(decoded).empty()) << word;
  }
  EXPECT_EQ(DecodeWords(value, "utf-8"), U8(text));
  EXPECT_EQ(EncodeParameterValue(u"a \"b\".txt", "utf-8"), "\"a \\\"b\\\".txt\"");
  EXPECT_EQ(EncodeParameterValue(u"\u00E9.txt", "utf-8"), "\"=?utf-8?B?w6kudHh0?=\"");
}

TEST(EmlWriterFiles, FailedSaveLeavesTheExistingFileAlone) {
  TempDir dir;
  const std::string target = dir.File("out.eml");
  { std::ofstream(target) << "old"; }
  Message m;
  m.level.AddProperty(0x1000001F, W(u"new"));
  m.file.SaveToEMLFile(target);
  EXPECT_NE(ReadFile(target).find("\r\n\r\nnew\r\n"), std::string::npos);

  // A failure while the message is written: the file written before stays as it was.
  m.file.OnConvertCodepage = [](void*, const std::string&, std::string&) {
    throw EMSGError("conversion failed");
  };
  const std::string before = ReadFile(target);
  EXPECT_ANY_THROW(m.file.SaveToEMLFile(target));
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_THROW(SaveToEMLFile(m.level, dir.File("missing/out.eml")), EMSGError);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1); // no temporary file left behind
}

// ---------------------------------------------------------------------------------------------
// HTML recovered from RTF (the corpus as a whole is read back in eml_interop_test.cc).

// The HTML comes from the RTF as stored: character references in it belong to the HTML, and a
// \fromhtml1 document gives its HTML also when that is a fragment.
TEST(EmlWriterHtml, HtmlIsRecoveredFromTheRtfAsStored) {
  Message m;
  m.level.AddProperty(
      TAG_RTF_COMPRESSED,
      A("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag64 <div>}a&#45;b{\\*\\htmltag72 </div>}}"));
  EXPECT_EQ(m.level.GetBodyRTF().find(u"&#45;"), std::u16string::npos);
  EXPECT_EQ(GetHtmlBodyOrFromRtf(m.level), u"<div>a&#45;b</div>");
  const std::string eml = Eml(m.level);
  // The RTF goes out as that HTML alone: mail clients list a text/rtf part as an attachment.
  EXPECT_NE(eml.find("Content-Type: text/html;"), std::string::npos);
  EXPECT_EQ(eml.find("text/rtf"), std::string::npos);
  EXPECT_NE(eml.find("<div>a&#45;b</div>"), std::string::npos);
}

// Native RTF goes out as the HTML the renderer makes of it, an alternative to the plain text.
TEST(EmlWriterHtml, NativeRtfGoesOutAsRenderedHtml) {
  Message m;
  m.level.AddProperty(0x1000001F, TVariant::FromWide(u"plain words"));
  m.level.AddProperty(TAG_RTF_COMPRESSED, A("{\\rtf1\\ansi {\\b bold} words}"));
  const std::string eml = Eml(m.level);
  EXPECT_NE(eml.find("multipart/alternative"), std::string::npos);
  EXPECT_NE(eml.find("Content-Type: text/html; charset=\"utf-8\""), std::string::npos);
  EXPECT_NE(eml.find("bold"), std::string::npos);
  EXPECT_EQ(eml.find("text/rtf"), std::string::npos);
  EXPECT_EQ(eml.find("\\rtf1"), std::string::npos);
}

} // namespace
} // namespace orlendo
