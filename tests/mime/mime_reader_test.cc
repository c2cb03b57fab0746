// The Internet message reader on small messages written here: headers, encoded words, addresses,
// priorities, dates, bodies, the multipart walk, file names, and the conversion hook.
#include <gtest/gtest.h>

#include "mime/qvemlfile.h"
#include "mime_test_util.h"
#include "model/qvmsgcnst.h"
#include "testutil/run_process.h"
#include "text/rfc822_date.h"

namespace orlendo {
namespace {

using namespace mimetest;

TEST(MimeReader, EmptyInputGivesEmptyTree) {
  auto reader = Load("");
  EXPECT_EQ(reader->Properties().Count(), 0);
  EXPECT_EQ(reader->Lines().Count(), 0u);
}

TEST(MimeReader, LineEndKindsGiveTheSameTree) {
  const std::vector<std::string> lines = {"From: Ann <ann@example.com>",
                                          "Subject: Line ends",
                                          "Content-Type: text/plain",
                                          "",
                                          "first line",
                                          "second line"};
  const std::string crlf = Outline(Load(Join(lines, "\r\n"))->Properties());
  EXPECT_EQ(Outline(Load(Join(lines, "\n"))->Properties()), crlf);
  EXPECT_EQ(Outline(Load(Join(lines, "\r"))->Properties()), crlf);
  EXPECT_NE(crlf.find("first line"), std::string::npos);
}

TEST(MimeReader, LfCrIsTwoLineEndsAndEndsTheHeaderBlock) {
  auto reader = Load("From: ann@example.com\n\rSubject: late\n\nbody\n");
  ASSERT_EQ(reader->Lines().Count(), 5u);
  EXPECT_EQ(reader->Lines()[1], "");
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(Find(root, kSubject), nullptr);
  EXPECT_NE(Text(root, kBody).find("Subject: late"), std::string::npos);
}

TEST(MimeReader, HeaderNamesMatchByPrefixWithoutCase) {
  auto reader = Load(Join({"sUbJeCt: mixed case", "X-Priority: 1", "Subject:NoBlank", "", "text"}));
  const TMSGProperties& root = reader->Properties();
  const auto subjects = All(root, kSubject);
  ASSERT_EQ(subjects.size(), 2u);
  EXPECT_EQ(U8(subjects[0]->GetValueText()), "mixed case");
  // A blank after the colon is optional (RFC 5322): nothing of the value is lost without it.
  EXPECT_EQ(U8(subjects[1]->GetValueText()), "NoBlank");
  // "X-PRIORITY:" is tried before "PRIORITY:" and the first match wins: one record only.
  EXPECT_EQ(All(root, kPriority).size(), 1u);
}

TEST(MimeReader, FoldedHeadersAreUnfoldedAndKeptAsReceived) {
  auto reader =
      Load(Join({"Subject: first", "\tsecond  ", "   third", "Organization: Acme", "", "body"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(Text(root, kSubject), "first second third");
  EXPECT_EQ(Text(root, 0x8101101E), "Acme");
  // The header block comes first and holds every header line, unfolded.
  ASSERT_GT(root.Count(), 0);
  EXPECT_EQ(root.Items(0)->TagID, kTransportHeaders);
  EXPECT_EQ(Text(root, kTransportHeaders), "Subject: first second third\r\nOrganization: Acme\r\n");
  EXPECT_EQ(U8(root.GetTransportHeaders()), Text(root, kTransportHeaders));
}

TEST(MimeReader, EncodedWordsInSubjects) {
  struct Case {
    const char* header;
    const char* subject;
  } cases[] = {
      // An encoded word followed by plain text.
      {"=?utf-8?B?SGFsbG8=?= world", "Hallo world"},
      // Q form: underscores are spaces, an encoded underscore stays one.
      {"=?iso-8859-1?Q?Caf=E9_au_lait=5Fbar?=", "Café au lait_bar"},
      // White space between adjacent encoded words is dropped, also where a word is split into
      // two charsets or folded; white space between a word and other text stays.
      {"=?utf-8?Q?one?= =?utf-8?Q?two?=", "onetwo"},
      {"=?ISO-8859-1?B?Q2Fm6Q==?= =?ISO-8859-2?B?tg==?=s", "Caféśs"},
      {"=?utf-8?Q?a?=\t  =?utf-8?Q?b?=", "ab"},
      {"x =?utf-8?Q?a?= y =?utf-8?Q?b?= z", "x a y b z"},
      {"=?utf-8?Q?a?= =?utf-8?X?b?= =?utf-8?Q?c?=", "ac"},
      // A letter other than B or Q loses the word's text, nothing else.
      {"before =?utf-8?X?abc?= after", "before  after"},
      // Without the closing "?=" the rest stays as written.
      {"=?utf-8?Q?ok?= then =?utf-8?Q?open", "ok then =?utf-8?Q?open"},
      // Without the "?" after the charset likewise.
      {"plain =?utf-8", "plain =?utf-8"},
      // Lower-case letters are accepted.
      {"=?UTF-8?b?w6k=?=", "é"},
      // Quotes around the whole value are removed.
      {"\"Quoted subject\"", "Quoted subject"},
  };
  for (const Case& c : cases) {
    auto reader = Load(std::string("Subject: ") + c.header + "\r\n\r\nx\r\n");
    EXPECT_EQ(U8(reader->Properties().GetSubject()), c.subject) << c.header;
  }
}

// A subject without encoded words that is its own UTF-8 is kept as that UTF-8 (a part of the
// input where its line is one) and reads exactly as the wide text the decoder would give; its
// size stays the number of UTF-16 units.
TEST(MimeReader, SubjectsThatAreTheirOwnUtf8AreHeldSo) {
  enum Held { Wide, InInput, Own };
  struct Case {
    std::vector<std::string> lines;
    Held held;
    const char* subject;
    int32_t units;
  } cases[] = {
      {{"Subject: plain text"}, InInput, "plain text", 10},
      {{"Subject: Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80"}, InInput, "Grüße 😀", 8},
      {{"Subject: \"quoted\""}, InInput, "quoted", 6},
      {{"Subject: first", "\tsecond"}, Own, "first second", 12},
      {{"Subject: =?utf-8?Q?caf=C3=A9?="}, Wide, "café", 4},
      {{"Subject: caf\xE9"}, Wide, "café", 4}, // not UTF-8: Windows-1252
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = c.lines;
    lines.insert(lines.end(), {"", "body"});
    auto reader = Load(Join(lines));
    SCOPED_TRACE(lines[0]);
    const TMSGProperty* subject = Find(reader->Properties(), kSubject);
    ASSERT_NE(subject, nullptr);
    EXPECT_EQ(U8(subject->GetValueText()), c.subject);
    EXPECT_EQ(subject->DataSize, c.units);
    EXPECT_EQ(subject->Value.HoldsUtf8(), c.held != Wide);
    const std::string_view input = reader->Lines().Text();
    const char* at = subject->Value.HeldUtf8().data();
    EXPECT_EQ(at >= input.data() && at < input.data() + input.size(), c.held == InInput);
    EXPECT_EQ(U8(reader->Properties().GetSubject()), c.subject);
  }
}

TEST(MimeReader, EveryRecipientIsATableEntry) {
  struct Case {
    const char* header;
    // Each recipient as "name|address", in order, joined by "; ".
    const char* recipients;
  } cases[] = {
      {"To: bob@example.com", "bob@example.com|bob@example.com"},
      {"To: Jeffrey Stedfast <jeff@example.com>", "Jeffrey Stedfast|jeff@example.com"},
      // Commas inside quoted names, comments and angle brackets separate nothing.
      {"To: \"Doe, John\" <jd@example.com>, \"A \\\"q\\\" B\" <q@example.com>",
       "Doe, John|jd@example.com; A \"q\" B|q@example.com"},
      {"Cc: ann@example.com (Ann, at work), <bo@example.com>",
       "Ann, at work|ann@example.com; bo@example.com|bo@example.com"},
      // Groups list their members; an empty group lists nobody.
      {"To: Team: a@example.com, B <b@example.com>;, c@example.com",
       "a@example.com|a@example.com; B|b@example.com; c@example.com|c@example.com"},
      {"Bcc: undisclosed-recipients:;", ""},
      // Encoded words in names, adjacent ones joined; semicolons separate like commas.
      {"To: =?utf-8?Q?J=C3=BC?= =?utf-8?Q?rg?= <j@example.ch>; Eve <eve@example.com>",
       "Jürg|j@example.ch; Eve|eve@example.com"},
      // Names without angle brackets, the bare names of old mail, a name alone, a source route.
      {"To: abel, stornett@flash", "abel|abel; stornett@flash|stornett@flash"},
      {"To: Jeffrey Stedfast", "Jeffrey Stedfast|"},
      {"To: <@relay.example:x@example.com>,,", "x@example.com|x@example.com"},
      // A second pair of angle brackets is text of the name, not a second address.
      {"To: a <b@example.com> <c@example.com>", "a <c@example.com>|b@example.com"},
  };
  for (const Case& c : cases) {
    auto reader = Load(Join({c.header, "", "x"}));
    const TMSGProperties& root = reader->Properties();
    const int type = c.header[0] == 'T' ? 1 : c.header[0] == 'C' ? 2 : 3;
    std::string got;
    for (const TMSGProperty* node : All(root, TAG_RECIPIENT_NODE)) {
      const TMSGProperties& entry = node->SubProperties();
      const std::string address = Text(entry, kEmailAddress);
      got += (got.empty() ? "" : "; ") + Text(entry, kDisplayName) + "|" + address;
      EXPECT_EQ(U8(node->Value.Wide()), "recip_version");
      EXPECT_EQ(Text(entry, 0x39FE001E), address) << c.header;
      EXPECT_EQ(Text(entry, 0x3002001E), address.empty() ? "" : "SMTP") << c.header;
      const TMSGProperty* recipientType = Find(entry, 0x0C150003);
      ASSERT_NE(recipientType, nullptr) << c.header;
      EXPECT_EQ(recipientType->Value.AsInteger(), type) << c.header;
    }
    EXPECT_EQ(got, c.recipients) << c.header;
  }
}

TEST(MimeReader, AddressListsGiveJoinedNameAndAddressLists) {
  for (const char* separator : {",", ";"}) {
    auto reader = Load(Join({std::string("To: \"Ann Lee\" <ann@example.com>") + separator +
                                 " =?utf-8?Q?J=C3=BCrg?= <jurg@example.ch>",
                             "Cc: Dora <dora@example.com>, carl@example.com", "", "x"}));
    const TMSGProperties& root = reader->Properties();
    EXPECT_EQ(Text(root, kRcvdRepresentingName), "Ann Lee;Jürg") << separator;
    EXPECT_EQ(Text(root, kRcvdRepresentingEmail), "ann@example.com;jurg@example.ch");
    // The second Cc item has no name: the name list keeps a trailing separator.
    EXPECT_EQ(Text(root, kDisplayCc), "Dora;");
    EXPECT_EQ(Text(root, kOriginalDisplayCc), "dora@example.com;carl@example.com");
    const auto recipients = All(root, TAG_RECIPIENT_NODE);
    ASSERT_EQ(recipients.size(), 4u);
    EXPECT_EQ(recipients[0]->DataSize, 13);
    // Names pair with their addresses in the formatted list, encoded ones too.
    EXPECT_EQ(U8(root.GetTo()), "\"Ann Lee\" <ann@example.com>;Jürg <jurg@example.ch>");
  }
}

TEST(MimeReader, FromGivesNameAndAddress) {
  auto plain = Load(Join({"From: Jane Roe <jane@example.com>", "", "x"}));
  EXPECT_EQ(Text(plain->Properties(), kSentRepresentingName), "Jane Roe");
  EXPECT_EQ(Text(plain->Properties(), kSentRepresentingEmail), "jane@example.com");
  EXPECT_EQ(U8(plain->Properties().GetFrom()), "\"Jane Roe\" <jane@example.com>");
  // A comma inside a quoted name is part of the name; the sender is no recipient.
  auto comma = Load(Join({"From: \"Smith, J.\" <js@example.com>, b@example.com", "", "x"}));
  EXPECT_EQ(Text(comma->Properties(), kSentRepresentingName), "Smith, J.;");
  EXPECT_EQ(Text(comma->Properties(), kSentRepresentingEmail), "js@example.com;b@example.com");
  EXPECT_TRUE(All(comma->Properties(), TAG_RECIPIENT_NODE).empty());
}

TEST(MimeReader, Priorities) {
  struct Case {
    const char* header;
    int priority;
  } cases[] = {{"X-Priority: 1", 2},           {"X-Priority: 2", 1},
               {"X-Priority: 3", 0},           {"X-Priority: 4", -1},
               {"X-Priority: 5 (Lowest)", -2}, {"X-Priority: high", 0},
               {"Priority: urgent", 1},        {"Priority: non-priority", -1},
               {"Priority: normal", 0},        {"X-Priority: 99999999999", 0}};
  for (const Case& c : cases) {
    auto reader = Load(Join({c.header, "", "x"}));
    const TMSGProperty* record = Find(reader->Properties(), kPriority);
    ASSERT_NE(record, nullptr) << c.header;
    EXPECT_EQ(record->Value.AsInteger(), c.priority) << c.header;
    EXPECT_EQ(record->DataSize, 4);
  }
}

TEST(MimeReader, RawHeaderBytesAndThreadHeaders) {
  // Raw 8-bit header text: UTF-8 where it is valid UTF-8, else in the part's charset.
  struct Case {
    const char* subject;
    const char* type;
    const char* expected;
  } cases[] = {
      {"Caf\xE9", "text/plain; charset=iso-8859-1", "Caf\u00E9"},
      {"Caf\xC3\xA9", "text/plain; charset=iso-8859-1", "Caf\u00E9"},
      {"\xF0\xD2\xC9\xD7\xC5\xD4", "text/plain; charset=koi8-r",
       "\u041F\u0440\u0438\u0432\u0435\u0442"},
      {"Caf\xE9", "multipart/mixed; boundary=x", "Caf\u00E9"}, // no charset: Windows-1252
  };
  for (const Case& c : cases) {
    auto reader = Load(Join(
        {std::string("Subject: ") + c.subject, std::string("Content-Type: ") + c.type, "", "x"}));
    EXPECT_EQ(Text(reader->Properties(), kSubject), c.expected) << c.type;
  }

  auto reader = Load(
      Join({"Reply-To: \"Desk, Help\" <help@example.org>, =?utf-8?Q?Zo=C3=AB?= <z@x.org>",
            "In-Reply-To: <parent@example.org>",
            "References: <root@example.org> <parent@example.org>", "Importance: low", "", "x"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(Text(root, 0x0050001F), "\"Desk, Help\" <help@example.org>, Zo\u00EB <z@x.org>");
  EXPECT_EQ(Text(root, 0x1042001E), "<parent@example.org>");
  EXPECT_EQ(Text(root, 0x1039001E), "<root@example.org> <parent@example.org>");
  ASSERT_NE(Find(root, 0x00170003), nullptr);
  EXPECT_EQ(Find(root, 0x00170003)->Value.AsInteger(), 0);
  EXPECT_EQ(root.GetPriority(), 1);

  // A charset that ICU knows without a Windows code page is decoded by its name.
  auto hkscs = Load(Join({"Content-Type: text/plain; charset=big5-hkscs", "", "\xA4\xA4"}));
  EXPECT_EQ(U8(hkscs->Properties().GetBody()), "\u4E2D\r\n");
  EXPECT_TRUE(hkscs->LoadNotes().empty());
}

TEST(MimeReader, EncodedWordsAsOutlookSplitsThem) {
  // A UTF-8 character begun in one encoded word ends in the next, and the second word's line has
  // lost its folding blank: the subject reads whole, as in mail clients.
  auto reader = Load(
      Join({"Subject: =?utf-8?B?6YCa55+=?=", "=?utf-8?B?pSAy?=", "To: a@example.org", "", "x"}));
  EXPECT_EQ(U8(reader->Properties().GetSubject()), "\u901A\u77E5 2");
  EXPECT_EQ(Text(reader->Properties(), kRcvdRepresentingEmail), "a@example.org");
  // Words in different charsets, or with text between them, are decoded each by itself.
  auto mixed =
      Load(Join({"Subject: =?iso-8859-1?Q?=E9?= =?utf-8?Q?=C3=A9?= x =?utf-8?Q?=C3?=", "", "x"}));
  EXPECT_EQ(U8(mixed->Properties().GetSubject()), "\u00E9\u00E9 x \uFFFD");
}

TEST(MimeReader, Latin10AndUnknownCharsets) {
  // ISO-8859-16, which ICU does not ship here, in a body and in an encoded-word; its letters
  // S and T with comma below are where Latin-2 has cedillas.
  auto romanian = Load(Join({"Subject: =?iso-8859-16?Q?=AA=E2r_=DEar=E3?=",
                             "Content-Type: text/plain; charset=\"ISO-8859-16\"", "",
                             "\xAAi \xFE"
                             "ar\xE3 \xA4"}));
  EXPECT_EQ(U8(romanian->Properties().GetSubject()), "\u0218\u00E2r \u021Aar\u0103");
  EXPECT_EQ(U8(romanian->Properties().GetBody()), "\u0218i \u021Bar\u0103 \u20AC\r\n");
  EXPECT_TRUE(romanian->LoadNotes().empty());

  // A name that neither ICU nor the code-page table knows is read by the fallback, and the load
  // says so, once per name, for a part and for an encoded-word alike.
  auto unknown = Load(Join({"Subject: =?x-martian?Q?a?= =?x-martian?Q?b?= =?x-venusian?B?Yw==?=",
                            "Content-Type: text/plain; charset=x-martian", "", "Caf\xE9"}));
  EXPECT_EQ(U8(unknown->Properties().GetBody()), "Caf\u00E9\r\n");
  EXPECT_EQ(U8(unknown->Properties().GetSubject()), "abc");
  ASSERT_EQ(unknown->LoadNotes().size(), 2u);
  EXPECT_EQ(unknown->LoadNotes()[0].Text, FormatMessageText(SUnknownCharset, {"x-martian"}));
  EXPECT_EQ(unknown->LoadNotes()[1].Text, FormatMessageText(SUnknownCharset, {"x-venusian"}));
  EXPECT_EQ(unknown->LoadNotes()[1].Key, SUnknownCharsetKey);
  EXPECT_EQ(unknown->LoadNotes()[1].Args, std::vector<std::string>{"x-venusian"});
  // The notes are the last load's.
  TMemoryStream again(std::string("Subject: x\r\n\r\ny"));
  unknown->LoadFromStream(again);
  EXPECT_TRUE(unknown->LoadNotes().empty());
}

TEST(MimeReader, DatesAndBadDates) {
  const std::string good = "Mon, 7 Dec 2026 10:20:30 +0100";
  auto reader = Load(Join({"Date: " + good, "Subject: after", "", "x"}));
  const TMSGProperty* date = Find(reader->Properties(), kClientSubmitTime);
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(date->Value.Kind(), VarKind::DateTime);
  EXPECT_DOUBLE_EQ(date->Value.AsDateTime(), ParseRfc822Date(good));
  EXPECT_EQ(date->DataSize, static_cast<int32_t>(good.size()));

  // A date that cannot exist is left out, and the rest of the message is still read.
  auto bad = Load(Join({"Subject: before", "Date: Mon, 31 Feb 2026 25:61:00 +0100",
                        "To: after@example.com", "", "body"}));
  const TMSGProperties& root = bad->Properties();
  EXPECT_EQ(Find(root, kClientSubmitTime), nullptr);
  EXPECT_EQ(Text(root, kRcvdRepresentingEmail), "after@example.com");
  EXPECT_EQ(Text(root, kBody), "body\r\n");
  EXPECT_EQ(root.GetSentDate(), 0.0);

  // Without the day name, with a lower-case month, without seconds, with a zone name: the
  // forms that mail programs write all give the instant.
  for (const char* text : {"7 Dec 2026 10:20:30 +0100", "Mon, 7 dec 2026 10:20:30 +0100",
                           "Mon, 7 Dec 2026 04:20:30 EST", "Mon,7 Dec 2026 10:20:30 +0100"}) {
    auto other = Load(Join({std::string("Date:") + text, "", "x"}));
    const TMSGProperty* read = Find(other->Properties(), kClientSubmitTime);
    ASSERT_NE(read, nullptr) << text;
    EXPECT_DOUBLE_EQ(read->Value.AsDateTime(), ParseRfc822Date(good)) << text;
    EXPECT_DOUBLE_EQ(other->Properties().GetSentDate(), ParseRfc822Date(good)) << text;
  }
  auto minutes = Load(Join({"Date: Mon, 7 Dec 2026 10:20 +0100", "", "x"}));
  EXPECT_DOUBLE_EQ(Find(minutes->Properties(), kClientSubmitTime)->Value.AsDateTime(),
                   ParseRfc822Date("Mon, 7 Dec 2026 10:20:00 +0100"));
  // Text that is no date stores none.
  EXPECT_EQ(Find(Load(Join({"Date: soon", "", "x"}))->Properties(), kClientSubmitTime), nullptr);
}

TEST(MimeReader, SinglePartBodies) {
  struct Case {
    const char* type;
    std::string body;
    uint32_t tag;
  } cases[] = {
      // The subtype decides, not the first characters.
      {"text/html", "<html><body>hi</body></html>\r\n", kBodyHtml},
      {"text/html", "<div dir=\"ltr\">Gmail</div>\r\n", kBodyHtml},
      {"text/html", "\r\n\r\n<html>x</html>\r\n", kBodyHtml},
      {"text/html; charset=utf-8", "Some text, then <html>\r\n", kBodyHtml},
      {"text/plain", "<html>x</html>\r\n", kBody},
      {"TEXT/RTF", "{\\rtf1\\ansi hello}\r\n", TAG_RTF_COMPRESSED},
  };
  for (const Case& c : cases) {
    auto reader = Load(std::string("Content-Type: ") + c.type + "\r\n\r\n" + c.body);
    const TMSGProperty* record = Find(reader->Properties(), c.tag);
    ASSERT_NE(record, nullptr) << c.body;
    EXPECT_EQ(record->Value.Bytes(), c.body);
    EXPECT_EQ(record->DataSize, static_cast<int32_t>(c.body.size()));
  }
  // Without a Content-Type it is plain text (RFC 2045, 5.2), whatever it looks like.
  auto rtf = Load("Subject: r\r\n\r\n{\\rtf1\\ansi hello}\r\n");
  EXPECT_EQ(U8(rtf->Properties().GetBodyRTF()), "");
  EXPECT_EQ(U8(rtf->Properties().GetBody()), "{\\rtf1\\ansi hello}\r\n");
}

TEST(MimeReader, BlankBodyStoresNothing) {
  auto reader = Load("Subject: blank\r\n\r\n\r\n");
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(Find(root, kBody), nullptr);
  EXPECT_EQ(root.Count(), 2); // the header block and the subject
}

TEST(MimeReader, BodyLinesKeepTheirIndentation) {
  auto reader = Load(Join({"Subject: code", "", "def f():", "    return 1", "\tdone"}));
  EXPECT_EQ(Text(reader->Properties(), kBody), "def f():\r\n    return 1\r\n\tdone\r\n");
}

TEST(MimeReader, TransferEncodings) {
  auto qp = Load(Join(
      {"Content-Transfer-Encoding: quoted-printable", "", "caf=C3=A9 snake_case soft=", "break"}));
  EXPECT_EQ(Text(qp->Properties(), kBody), "café snake_case softbreak\r\n");
  auto b64 = Load(Join({"Content-Transfer-Encoding:  Base64 ", "", "SGVsbG8s", "IHdvcmxk"}));
  EXPECT_EQ(b64->TransferEncoding, "BASE64");
  EXPECT_EQ(Text(b64->Properties(), kBody), "Hello, world");
  // An encoding we do not know leaves the bytes as they stand ("8-bit" is 8bit).
  auto unknown = Load(Join({"Content-Transfer-Encoding: 8-bit", "", "caf\xC3\xA9"}));
  EXPECT_EQ(Text(unknown->Properties(), kBody), "caf\xC3\xA9\r\n");
}

TEST(MimeReader, ContentTypeParameters) {
  auto reader =
      Load(Join({"Content-Type: text/plain; charset=ISO-8859-1; format=flowed", "", "x"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(Text(root, kMessageClass), "IPM.Note");
  EXPECT_EQ(reader->Charset, "ISO-8859-1");
  const TMSGProperty* cp = Find(root, kMessageCodePage);
  ASSERT_NE(cp, nullptr);
  EXPECT_EQ(cp->Value.AsInteger(), 28591);
  EXPECT_EQ(cp->DataSize, 10);
  EXPECT_EQ(Find(root, kX400ContentType)->Value.Bytes(),
            "text/plain; charset=ISO-8859-1; format=flowed");

  auto unknown = Load(Join({"Content-Type: text/plain; charset=\"x-martian\"", "", "x"}));
  EXPECT_EQ(Find(unknown->Properties(), kMessageCodePage)->Value.AsInteger(), 0);
  EXPECT_EQ(Text(unknown->Properties(), kBody), "x\r\n");
}

TEST(MimeReader, MultipartPreamblePartsAndEpilogue) {
  auto reader = Load(
      Join({"Content-Type: multipart/mixed; boundary=\"b1\"", "", "preamble text", "--b1",
            "Content-Type: application/octet-stream", "", "first", "--b1",
            "Content-Type: application/octet-stream", "", "second", "--b1--", "epilogue text"}));
  const TMSGProperties& root = reader->Properties();
  const auto nodes = All(root, TAG_ATTACHMENT_NODE);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(root.AttachmentCount(), 2);
  EXPECT_EQ(AttachmentData(root, 0), "first");
  EXPECT_EQ(AttachmentData(root, 1), "second");
  const std::string outline = Outline(root);
  EXPECT_EQ(outline.find("preamble"), std::string::npos);
  EXPECT_EQ(outline.find("epilogue"), std::string::npos);
}

// The line end before a delimiter belongs to the delimiter: a part keeps exactly its bytes, in
// files with either kind of line end, up to the last part; at the end of the input the last
// line keeps the line end that it has there.
TEST(MimeReader, PartContentEndsBeforeTheDelimiterLineEnd) {
  for (const std::string eol : {"\r\n", "\n"}) {
    SCOPED_TRACE(eol == "\n" ? "LF" : "CR LF");
    auto reader = Load(Join({"Content-Type: multipart/mixed; boundary=B",
                             "",
                             "--B",
                             "Content-Type: text/plain",
                             "",
                             "body text",
                             "",
                             "--B",
                             "Content-Type: text/plain; name=a.txt",
                             "",
                             "two",
                             "lines",
                             "--B",
                             "Content-Type: text/plain; name=b.txt",
                             "Content-Transfer-Encoding: quoted-printable",
                             "",
                             "soft=",
                             "--B",
                             "Content-Type: application/octet-stream; name=c.bin",
                             "",
                             "last",
                             "--B--",
                             "epilogue"},
                            eol));
    const TMSGProperties& root = reader->Properties();
    EXPECT_EQ(U8(root.GetBody()), "body text\r\n");
    ASSERT_EQ(root.AttachmentCount(), 3);
    EXPECT_EQ(AttachmentData(root, 0), "two\r\nlines");
    EXPECT_EQ(AttachmentData(root, 1), "soft");
    EXPECT_EQ(AttachmentData(root, 2), "last");
    EXPECT_EQ(Text(Load("Subject: s" + eol + eol + "end" + eol)->Properties(), kBody), "end\r\n");
    EXPECT_EQ(Text(Load("Subject: s" + eol + eol + "end")->Properties(), kBody), "end");
  }
}

TEST(MimeReader, AlternativeBodiesArePromoted) {
  auto reader = Load(
      Join({"Subject: alt", "Content-Type: multipart/alternative; boundary=ALT", "", "--ALT",
            "Content-Type: text/plain; charset=us-ascii", "", "plain one", "--ALT",
            "Content-Type: text/plain", "", "plain two", "--ALT",
            "Content-Type: text/html; charset=utf-8", "Content-Transfer-Encoding: quoted-printable",
            "", "<html>caf=C3=A9</html>", "--ALT--"}));
  const TMSGProperties& root = reader->Properties();
  // Of alternatives the last of each kind wins; the body parts are not attachments.
  EXPECT_EQ(U8(root.GetBody()), "plain two");
  EXPECT_EQ(U8(root.GetBodyHTML()), "<html>café</html>");
  EXPECT_EQ(root.BodyFormat, 3);
  EXPECT_EQ(All(root, TAG_ATTACHMENT_NODE).size(), 3u);
  EXPECT_EQ(root.AttachmentCount(), 0);
  for (const TMSGProperty* node : All(root, TAG_ATTACHMENT_NODE))
    EXPECT_TRUE(node->IsEmbeddedMessage());
}

TEST(MimeReader, NamedTextPartIsAnAttachment) {
  auto reader =
      Load(Join({"Content-Type: multipart/mixed; boundary=M", "", "--M", "Content-Type: text/plain",
                 "", "the body", "--M", "Content-Type: text/plain; name=\"notes.txt\"", "",
                 "the notes", "--M--"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetBody()), "the body");
  ASSERT_EQ(root.AttachmentCount(), 1);
  const TMSGProperty* node = root.GetAttachment(0);
  EXPECT_FALSE(node->IsEmbeddedMessage());
  EXPECT_EQ(Text(node->SubProperties(), kAttachFileName), "notes.txt");
  EXPECT_EQ(Find(node->SubProperties(), TAG_ATTACH_DATA_BIN)->Value.Bytes(), "the notes");
}

// Which parts are the bodies, as mail clients choose them, and what the other parts become.
TEST(MimeReader, BodiesAreChosenAsMailClientsChooseThem) {
  struct Case {
    const char* what;
    std::string message;
    const char* plain;
    const char* html;
    std::vector<std::string> attachments; // file names
  } cases[] = {
      {"the last alternative that can be shown wins; one no view shows is kept, not listed",
       "Content-Type: multipart/alternative; boundary=A\r\n\r\n--A\r\nContent-Type: text/plain"
       "\r\n\r\nfirst\r\n--A\r\nContent-Type: text/plain\r\n\r\nsecond\r\n--A\r\nContent-Type: "
       "text/html\r\n\r\n<div dir=\"ltr\">html</div>\r\n--A\r\nContent-Type: text/watch-html\r\n"
       "\r\nwatch\r\n--A--\r\n",
       "second",
       "<div dir=\"ltr\">html</div>",
       {}},
      {"text parts side by side in a mixed multipart are shown one after the other",
       "Content-Type: multipart/mixed; boundary=M\r\n\r\n--M\r\nContent-Type: text/html\r\n\r\n"
       "<html><body>one</body></html>\r\n--M\r\nContent-Type: application/pdf; name=a.pdf\r\n\r\n"
       "%PDF\r\n--M\r\nContent-Type: text/html\r\n\r\n<html><body>two</body></html>\r\n--M\r\n"
       "\r\nuntyped text\r\n--M--\r\n",
       "untyped text",
       "<html><body>onetwo</body></html>",
       {"a.pdf"}},
      {"a related root uses the others; an HTML part after the root is a file",
       "Content-Type: multipart/related; boundary=R\r\n\r\n--R\r\nContent-Type: text/html\r\n\r\n"
       "<img src=\"cid:i@x\">\r\n--R\r\nContent-Type: image/png\r\nContent-ID: <i@x>\r\n\r\npng\r\n"
       "--R\r\nContent-Type: text/html\r\nContent-Location: http://x/frame.html\r\n\r\n<p>frame"
       "\r\n--R--\r\n",
       "",
       "<img src=\"cid:i@x\">",
       {"Attachment 1", "http://x/frame.html"}},
      {"a forwarded message is named after its subject, a signature is no body",
       "Content-Type: multipart/signed; boundary=S\r\n\r\n--S\r\nContent-Type: multipart/mixed; "
       "boundary=M\r\n\r\n--M\r\n\r\nsigned text\r\n--M\r\nContent-Type: message/rfc822\r\n\r\n"
       "Subject: =?utf-8?q?caf=C3=A9/bar?=\r\n\r\ninner\r\n--M--\r\n--S\r\nContent-Type: "
       "text/plain\r\n\r\nsignature\r\n--S--\r\n",
       "signed text",
       "",
       {"café_bar.eml", "Attachment 2"}},
  };
  for (const Case& c : cases) {
    auto reader = Load(c.message);
    const TMSGProperties& root = reader->Properties();
    EXPECT_EQ(U8(root.GetBody()), c.plain) << c.what;
    EXPECT_EQ(U8(root.GetBodyHTML()), c.html) << c.what;
    std::vector<std::string> names;
    for (int i = 0; i < root.AttachmentCount(); ++i)
      names.push_back(root.GetAttachment(i)->GetAttachmentFileName(i));
    EXPECT_EQ(names, c.attachments) << c.what;
  }
}

TEST(MimeReader, NestedMultipartsAreFlattened) {
  // mixed > related > alternative > (plain, html); an image in related; a PDF in mixed.
  auto reader = Load(Join({"Content-Type: multipart/mixed; boundary=\"OUT\"",
                           "",
                           "--OUT",
                           "Content-Type: multipart/related; boundary=\"REL\"",
                           "",
                           "related preamble",
                           "--REL",
                           "Content-Type: multipart/alternative; boundary=\"ALT\"",
                           "",
                           "--ALT",
                           "Content-Type: text/plain",
                           "",
                           "plain",
                           "--ALT",
                           "Content-Type: text/html",
                           "",
                           "<html>html</html>",
                           "--ALT--",
                           "",
                           "--REL",
                           "Content-Type: image/png; name=a.png",
                           "Content-Transfer-Encoding: base64",
                           "",
                           "iVBORw0K",
                           "--REL--",
                           "",
                           "--OUT",
                           "Content-Type: application/pdf; name=\"b.pdf\"",
                           "Content-Transfer-Encoding: base64",
                           "",
                           "JVBERi0x",
                           "--OUT--"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetBody()), "plain");
  EXPECT_EQ(U8(root.GetBodyHTML()), "<html>html</html>");
  // related container, alternative container, plain, html, png, pdf
  EXPECT_EQ(All(root, TAG_ATTACHMENT_NODE).size(), 6u);
  std::vector<std::string> names;
  for (int i = 0; i < root.AttachmentCount(); ++i)
    names.push_back(root.GetAttachment(i)->GetAttachmentFileName(i));
  // A container's preamble is no content of it: no attachment.
  EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.pdf"}));
  EXPECT_EQ(AttachmentData(root, 0), std::string("\x89PNG\r\n", 6));
  EXPECT_EQ(AttachmentData(root, 1), "%PDF-1");
  // Each part knows how deep it sat: related 1, alternative 2, plain and html 3, png 2, pdf 1.
  std::vector<int64_t> depths;
  for (const TMSGProperty* node : All(root, TAG_ATTACHMENT_NODE))
    depths.push_back(Find(node->SubProperties(), TQvEMLFile::TAG_MIME_PART_DEPTH)->Value.ToInt64());
  EXPECT_EQ(depths, (std::vector<int64_t>{1, 2, 3, 3, 2, 1}));
  EXPECT_EQ(reader->BoundaryStack, std::vector<std::string>{"OUT"});
}

TEST(MimeReader, PartHeaderRightBeforeADelimiterDoesNotSwallowTheNextPart) {
  auto reader =
      Load(Join({"Content-Type: multipart/mixed; boundary=X", "", "--X",
                 "Content-Type: application/octet-stream; name=empty.bin", "--X",
                 "Content-Type: application/octet-stream; name=full.bin", "", "data", "--X--"}));
  const TMSGProperties& root = reader->Properties();
  const auto nodes = All(root, TAG_ATTACHMENT_NODE);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(Text(nodes[1]->SubProperties(), kAttachFileName), "full.bin");
  EXPECT_EQ(Find(nodes[1]->SubProperties(), TAG_ATTACH_DATA_BIN)->Value.Bytes(), "data");
}

TEST(MimeReader, BoundaryParameterFollowedByOthers) {
  auto reader =
      Load(Join({"Content-Type: multipart/mixed; boundary=abc; charset=us-ascii", "", "--abc",
                 "Content-Type: application/x-one; name=one", "", "1", "--abc--"}));
  EXPECT_EQ(reader->BoundaryStack, std::vector<std::string>{"abc"});
  EXPECT_EQ(reader->Properties().AttachmentCount(), 1);
  auto quoted = Load(Join({"Content-Type: multipart/mixed; boundary=\"q=1\";", "", "--q=1",
                           "Content-Type: application/x-one; name=one", "", "1", "--q=1--"}));
  EXPECT_EQ(quoted->Boundary, "q=1");
  EXPECT_EQ(quoted->Properties().AttachmentCount(), 1);
}

TEST(MimeReader, DispositionFileNames) {
  struct Case {
    const char* headers;
    const char* name;
  } cases[] = {
      {"Content-Disposition: attachment; filename=\"report 2026.pdf\"", "report 2026.pdf"},
      {"Content-Disposition: attachment;\r\n filename*=UTF-8''%E2%82%AC%20rates.pdf",
       "€ rates.pdf"},
      {"Content-Disposition: attachment;\r\n filename*0*=iso-8859-1'fr'r%E9sum;\r\n"
       " filename*1*=%E9.txt",
       "résumé.txt"},
      {"Content-Disposition: attachment; filename*0=\"long \"; filename*1=\"name.doc\"",
       "long name.doc"},
      {"Content-Disposition: inline; filename==?utf-8?B?w6kudHh0?=", "é.txt"},
      // The disposition's name wins (RFC 2183), whatever the order of the headers.
      {"Content-Disposition: attachment; filename=disp.bin\r\nContent-Type: "
       "application/octet-stream; name=type.bin",
       "disp.bin"},
      {"Content-Type: application/octet-stream; name=type.bin\r\nContent-Disposition: "
       "attachment; filename=disp.bin",
       "disp.bin"},
      {"Content-Type: application/octet-stream; name=type.bin", "type.bin"},
  };
  for (const Case& c : cases) {
    auto reader = Load(std::string("Content-Type: multipart/mixed; boundary=D\r\n\r\n--D\r\n") +
                       c.headers + "\r\n\r\ncontent\r\n--D--\r\n");
    const TMSGProperties& root = reader->Properties();
    ASSERT_EQ(root.AttachmentCount(), 1) << c.headers;
    const TMSGProperties& part = root.GetAttachment(0)->SubProperties();
    EXPECT_EQ(All(part, kAttachFileName).size(), 1u) << c.headers;
    EXPECT_EQ(Text(part, kAttachFileName), c.name) << c.headers;
  }
  // A text part named only by its disposition is an attachment, and so is an unnamed text part
  // whose disposition says attachment (an attached page is not the message's HTML).
  for (const char* headers :
       {"Content-Type: text/plain\r\nContent-Disposition: inline; filename=a.txt",
        "Content-Type: text/html\r\nContent-Disposition: attachment"}) {
    auto text = Load(std::string("Content-Type: multipart/mixed; boundary=D\r\n\r\n--D\r\n") +
                     headers + "\r\n\r\ninline text\r\n--D--\r\n");
    EXPECT_EQ(U8(text->Properties().GetBody()), "") << headers;
    EXPECT_EQ(U8(text->Properties().GetBodyHTML()), "") << headers;
    ASSERT_EQ(text->Properties().AttachmentCount(), 1) << headers;
    EXPECT_EQ(AttachmentData(text->Properties(), 0), "inline text");
  }
}

TEST(MimeReader, TnefBecomesAnOpaqueAttachment) {
  for (const char* type : {"application/ms-tnef; name=\"winmail.dat\"", "application/ms-tnef"}) {
    auto reader = Load(Join({"Subject: tnef", std::string("Content-Type: ") + type,
                             "Content-Transfer-Encoding: base64", "", "eJ8+IhAA"}));
    const TMSGProperties& root = reader->Properties();
    // The file name moves into the attachment node.
    EXPECT_EQ(Find(root, kAttachFileName), nullptr) << type;
    EXPECT_EQ(Find(root, kBody), nullptr);
    // The stream holds no files, so nothing is listed; its node keeps its name and bytes.
    EXPECT_EQ(root.AttachmentCount(), 0);
    const TMSGProperty* node = Find(root, TAG_ATTACHMENT_NODE);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->GetAttachmentFileName(0),
              std::string(type).find("name") != std::string::npos ? "winmail.dat" : "Attachment 1");
    const TMSGProperty* data = node->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN, false, true);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->Value.Bytes(), std::string("\x78\x9f\x3e\x22\x10\x00", 6));
  }
  // Neither base64 nor binary: still no text to show, but the file it is.
  auto text = Load(Join({"Content-Type: application/ms-tnef", "", "plain"}));
  EXPECT_EQ(Find(text->Properties(), kBody), nullptr);
  EXPECT_EQ(AttachmentData(text->Properties(), 0), "plain\r\n");
}

TEST(MimeReader, SinglePartFileIsAnAttachment) {
  auto reader = Load(Join({"Subject: scan", "Content-Type: image/png; name=\"scan.png\"",
                           "Content-Transfer-Encoding: base64", "", "iVBORw0K"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetSubject()), "scan");
  EXPECT_EQ(Find(root, kBody), nullptr);
  ASSERT_EQ(root.AttachmentCount(), 1);
  EXPECT_EQ(root.GetAttachment(0)->GetAttachmentFileName(0), "scan.png");
  EXPECT_EQ(AttachmentData(root, 0), std::string("\x89PNG\r\n", 6));
}

TEST(MimeReader, ContentLocationNamesWebResources) {
  auto reader = Load<TQvMHTFile>(
      Join({"Content-Type: multipart/related; boundary=R", "", "--R", "Content-Type: text/html",
            "Content-Location: https://example.com/docs/index.html", "", "<html>page</html>", "--R",
            "Content-Type: image/gif", "Content-Transfer-Encoding: base64",
            "Content-Location: http://example.com/img/dot.gif", "", "R0lGODlh", "--R",
            "Content-Type: text/css", "Content-Location: cid:css-1@mhtml", "", "body{}", "--R--"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetBodyHTML()), "<html>page</html>");
  ASSERT_EQ(root.AttachmentCount(), 2);
  const TMSGProperties& gif = root.GetAttachment(0)->SubProperties();
  EXPECT_EQ(Text(gif, kAttachLongFileName), "http://example.com/img/dot.gif");
  EXPECT_EQ(Text(gif, kAttachFileName), "dot.gif");
  EXPECT_EQ(AttachmentData(root, 0), "GIF89a");
  // A location that is not a URL names nothing.
  EXPECT_EQ(root.GetAttachment(1)->GetAttachmentFileName(1), "Attachment 2");
}

TEST(MimeReader, PartsKeepTheirTypeIdAndLocation) {
  auto reader = Load(Join({"Content-Type: multipart/related; boundary=R",
                           "Content-ID: <root@x>",
                           "",
                           "--R",
                           "Content-Type: text/html; charset=utf-8",
                           "",
                           "<html><img src=cid:dot@x></html>",
                           "--R",
                           "Content-Type: Image/GIF; name=dot.gif",
                           "Content-ID:  <dot@x> ",
                           "Content-Location: dot.gif",
                           "Content-Transfer-Encoding: base64",
                           "",
                           "R0lGODlh",
                           "--R",
                           "Content-Type: text/plain; name=\"a;b.txt\"",
                           "Content-ID: bare@x",
                           "",
                           "text",
                           "--R",
                           "",
                           "untyped",
                           "--R--"}));
  const TMSGProperties& root = reader->Properties();
  // The message itself is no attachment: it has none of these.
  for (uint32_t tag : {0x370E001Eu, 0x3712001Eu, 0x3713001Eu})
    EXPECT_EQ(Find(root, tag), nullptr);
  struct Expect {
    const char* type;
    const char* id;
    const char* location;
  } expected[] = {{"text/html", "", ""},
                  {"image/gif", "dot@x", "dot.gif"},
                  {"text/plain", "bare@x", ""},
                  {"text/plain", "", ""}}; // RFC 2045, 5.2
  const auto parts = All(root, TAG_ATTACHMENT_NODE);
  ASSERT_EQ(parts.size(), 4u);
  for (size_t i = 0; i < parts.size(); ++i) {
    const TMSGProperties& part = parts[i]->SubProperties();
    EXPECT_EQ(Text(part, 0x370E001E), expected[i].type) << i;
    EXPECT_EQ(Text(part, 0x3712001E), expected[i].id) << i;
    EXPECT_EQ(Text(part, 0x3713001E), expected[i].location) << i;
  }
  // The angle brackets stay in the part's own Content-ID record.
  EXPECT_EQ(Text(parts[1]->SubProperties(), 0x0008001E), "<dot@x> ");
  // A message that is a single file is read as one attachment, which keeps its type.
  auto single = Load(Join({"Content-Type: application/pdf; name=a.pdf", "Content-ID: <p@x>",
                           "Content-Transfer-Encoding: base64", "", "JVBERg=="}));
  ASSERT_EQ(single->Properties().AttachmentCount(), 1);
  const TMSGProperties& file = single->Properties().GetAttachment(0)->SubProperties();
  EXPECT_EQ(Text(file, 0x370E001E), "application/pdf");
  EXPECT_EQ(Text(file, 0x3712001E), "p@x");
  EXPECT_EQ(Find(single->Properties(), 0x370E001E), nullptr);
}

TEST(MimeReader, DashBoundaryIsReadBelowItsPart) {
  auto reader =
      Load(Join({"Content-Type: multipart/mixed; boundary=OUT", "", "--OUT",
                 "Content-Type: multipart/mixed; boundary=-", "", "-",
                 "Content-Type: application/x-inner; name=inner.bin", "", "inner", "-----", "--OUT",
                 "Content-Type: application/x-outer; name=outer.bin", "", "outer", "--OUT--"}));
  const TMSGProperties& root = reader->Properties();
  const auto nodes = All(root, TAG_ATTACHMENT_NODE);
  ASSERT_EQ(nodes.size(), 2u);
  const auto inner = All(nodes[0]->SubProperties(), TAG_ATTACHMENT_NODE);
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(Text(inner[0]->SubProperties(), kAttachFileName), "inner.bin");
  EXPECT_EQ(Find(inner[0]->SubProperties(), TAG_ATTACH_DATA_BIN)->Value.Bytes(), "inner");
  EXPECT_EQ(Text(nodes[1]->SubProperties(), kAttachFileName), "outer.bin");
  EXPECT_EQ(reader->BoundaryStack, std::vector<std::string>{"OUT"});
}

TEST(MimeReader, ConvertCodepageHook) {
  std::vector<std::string> calls;
  TQvEMLFile reader;
  reader.OnConvertCodepage = [&](void* sender, const std::string& charset, std::string& value) {
    EXPECT_EQ(sender, &reader);
    calls.push_back(charset + ":" + value);
    value = "<" + value + ">";
  };
  TMemoryStream stream(Join({"Subject: =?x-test?Q?word?= plain",
                             "Content-Type: text/plain; charset=x-test", "", "body"}));
  reader.LoadFromStream(stream);
  const TMSGProperties& root = reader.Properties();
  EXPECT_EQ(calls, (std::vector<std::string>{"x-test:word", "x-test:body\r\n"}));
  EXPECT_EQ(U8(root.GetSubject()), "<word> plain");
  EXPECT_EQ(Text(root, kBody), "<body\r\n>");
  // The hook hands back system-code-page text, and the stored code page says so.
  EXPECT_EQ(Find(root, kMessageCodePage)->Value.AsInteger(), 65001);

  // A part in "utf-8" is not offered to the hook.
  calls.clear();
  TMemoryStream utf8(Join({"Content-Type: text/plain; charset=utf-8", "", "body"}));
  reader.LoadFromStream(utf8);
  EXPECT_TRUE(calls.empty());
}

TEST(MimeReader, ReloadStartsAfresh) {
  TQvEMLFile reader;
  TMemoryStream first(Join(
      {"Subject: one", "Content-Type: multipart/mixed; boundary=A", "", "--A", "", "x", "--A--"}));
  reader.LoadFromStream(first);
  EXPECT_FALSE(reader.BoundaryStack.empty());
  TMemoryStream second(Join({"Subject: two", "", "y"}));
  reader.LoadFromStream(second);
  EXPECT_EQ(U8(reader.Properties().GetSubject()), "two");
  EXPECT_TRUE(reader.BoundaryStack.empty());
  EXPECT_EQ(reader.Boundary, "");
  EXPECT_EQ(reader.Properties().AttachmentCount(), 0);
  EXPECT_EQ(reader.Lines().Count(), 3u);
  reader.Clear();
  EXPECT_EQ(reader.Properties().Count(), 0);
  EXPECT_EQ(reader.Lines().Count(), 0u);
}

TEST(MimeReader, LoadFromFile) {
  testutil::TempDir dir;
  TQvEMLFile reader;
  const std::string missing = dir.File("missing.eml");
  try {
    reader.LoadFromFile(missing);
    FAIL() << "no exception";
  } catch (const EMSGError& e) {
    EXPECT_EQ(e.Message(), "File " + missing + " is not found.");
  }
  const std::string path = dir.File("a.eml");
  {
    TFileStream out(path, TFileStream::Create);
    out.WriteString("Subject: from a file\r\n\r\nbody\r\n");
    out.Close();
  }
  reader.LoadFromFile(path);
  EXPECT_EQ(U8(reader.Properties().GetSubject()), "from a file");
  EXPECT_EQ(U8(reader.Properties().GetBody()), "body\r\n");
}

} // namespace
} // namespace orlendo
