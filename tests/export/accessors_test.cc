// The message accessors: source chains, the root rule, address formatting, dates, priority,
// code page and charset, attachment data; and the same questions asked of the real corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "export_test_util.h"
#include "mime/signed_content.h"
#include "model/qvmsg.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "text/qvmsgcp.h"

namespace orlendo {
namespace {

using namespace exporttest;
using testutil::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// --- Source chains and the root rule ---

TEST(AccessorChains, SubjectPrefersUnicodeThenEightBitThenTopic) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0070001E, A("Topic"));
  EXPECT_EQ(p.GetSubject(), u"Topic");
  p.AddProperty(0x0037001E, A("Eight bit"));
  EXPECT_EQ(p.GetSubject(), u"Eight bit");
  p.AddProperty(0x0037001F, W(u"Unicode \u00e9"));
  EXPECT_EQ(p.GetSubject(), u"Unicode \u00e9");
}

TEST(AccessorChains, EmptyFirstSourceFallsThrough) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0037001F, W(u""));
  p.AddProperty(0x0037001E, A("From the 8-bit form"));
  EXPECT_EQ(p.GetSubject(), u"From the 8-bit form");
  p.AddProperty(0x1000001F, W(u""));
  p.AddProperty(0x1000001E, A("body"));
  EXPECT_EQ(p.GetBody(), u"body");
}

TEST(AccessorChains, RootLooksAtItsOwnLevelOnlyInnerLevelsSearchBelow) {
  TQvMessage msg;
  TMSGProperties& root = msg.Properties();
  TMSGProperties& inner = AddEmbeddedMessage(root, 0);
  // The inner message's properties sit one level further down (a property-stream-like node),
  // so only a recursive search finds them.
  TMSGProperty* holder = inner.Add();
  holder->Value = A("holder");
  holder->SubProperties().AddProperty(0x0037001F, W(u"Inner subject"));
  holder->SubProperties().AddProperty(0x1000001F, W(u"Inner body"));
  holder->SubProperties().AddProperty(0x007D001F, W(u"Received: x\r\n"));
  holder->SubProperties().AddProperty(0x10130102, A("<p>inner</p>"));
  holder->SubProperties().AddProperty(0x1035001F, W(u"<id@inner>"));

  EXPECT_EQ(root.GetSubject(), u"");
  EXPECT_EQ(root.GetBody(), u"");
  EXPECT_EQ(root.GetTransportHeaders(), u"");
  EXPECT_EQ(root.GetBodyHTML(), u"");
  EXPECT_EQ(root.GetMessageID(), u"");

  EXPECT_EQ(inner.GetSubject(), u"Inner subject");
  EXPECT_EQ(inner.GetBody(), u"Inner body");
  EXPECT_EQ(inner.GetTransportHeaders(), u"Received: x\r\n");
  EXPECT_EQ(inner.GetBodyHTML(), u"<p>inner</p>");
  EXPECT_EQ(inner.GetMessageID(), u"<id@inner>");
}

TEST(AccessorChains, BodiesAndIdsByPropertyIdOfAnyType) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x1013001F, W(u"<b>html</b>"));
  p.AddProperty(0x1035001E, A("<abc@example.org>"));
  EXPECT_EQ(p.GetBodyHTML(), u"<b>html</b>");
  EXPECT_EQ(p.GetMessageID(), u"<abc@example.org>");
}

TEST(AccessorChains, RtfBodyDecodesCharacterReferencesOnlyWhenNumericOnesOccur) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  TMSGProperty* rtf = p.Add();
  rtf->TagID = TAG_RTF_COMPRESSED;
  rtf->Value = A("{\\rtf1 caf&#233; &amp; more}");
  rtf->DataSize = static_cast<int32_t>(rtf->Value.Bytes().size());
  EXPECT_EQ(p.GetBodyRTF(), u"{\\rtf1 caf\u00e9 & more}");
  rtf->Value = A("{\\rtf1 &amp; stays}");
  EXPECT_EQ(p.GetBodyRTF(), u"{\\rtf1 &amp; stays}");
}

TEST(AccessorChains, SenderAndRecipientAddresses) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  EXPECT_EQ(p.GetSenderEmail(), u"");
  p.AddProperty(0x0065001F, W(u"represented@example.org"));
  EXPECT_EQ(p.GetSenderEmail(), u"represented@example.org");
  p.AddProperty(0x0C1F001F, W(u"sender@example.org"));
  EXPECT_EQ(p.GetSenderEmail(), u"sender@example.org");

  // EMAIL_ADDRESS is searched in the recipient levels even from the root.
  AddRecipient(p, 0, u"Ann", u"ann@example.org");
  EXPECT_EQ(p.GetRecipientEmail(), u"ann@example.org");
  p.AddProperty(0x0078001E, A("rcvd@example.org"));
  EXPECT_EQ(p.GetRecipientEmail(), u"rcvd@example.org");
}

// --- Address formatting ---

TEST(AddressFormatting, QuoteDisplayName) {
  EXPECT_EQ(QuoteDisplayName(u"John Smith"), u"\"John Smith\"");
  EXPECT_EQ(QuoteDisplayName(u"jsmith"), u"jsmith");
  EXPECT_EQ(QuoteDisplayName(u"Smith, J."), u"\"Smith, J.\"");
  EXPECT_EQ(QuoteDisplayName(u"a:b"), u"\"a:b\"");
  EXPECT_EQ(QuoteDisplayName(u"say \"hi\""), u"\"say \"hi\"\"");
  EXPECT_EQ(QuoteDisplayName(u""), u"");
}

TEST(AddressFormatting, RecipientListUsesRecipientLevels) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  AddRecipient(p, 0, u"Ann", u"A");
  AddRecipient(p, 1, u"Bob", u"");
  EXPECT_EQ(p.FormatRecipientList(u"Ann; Bob"), u"Ann <A>;Bob");
  EXPECT_EQ(p.FormatRecipientList(u""), u"");
  // Pieces are trimmed of blanks and control characters; empty pieces vanish.
  EXPECT_EQ(p.FormatRecipientList(u"\t Ann \r\n;;Carol"), u"Ann <A>;Carol");
  // Names are compared exactly.
  EXPECT_EQ(p.FormatRecipientList(u"ann"), u"ann");
}

TEST(AddressFormatting, FirstRecipientThatYieldsAnAddressDecides) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  AddRecipient(p, 0, u"Jo Lee", u"");
  AddRecipient(p, 1, u"Jo Lee", u"Jo Lee"); // address equal to the name: no help
  AddRecipient(p, 2, u"Jo Lee", u"second@example.org");
  AddRecipient(p, 3, u"Jo Lee", u"third@example.org");
  EXPECT_EQ(p.FormatRecipient(u"Jo Lee"), u"\"Jo Lee\" <second@example.org>");
}

TEST(AddressFormatting, SmtpAddressBeatsOrganisationalAndNativeAddress) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  TMSGProperty* r = AddRecipient(p, 0, u"Ex", u"/O=ORG/CN=EX");
  EXPECT_EQ(p.FormatRecipient(u"Ex"), u"Ex </O=ORG/CN=EX>");
  r->SubProperties().AddProperty(0x403E001F, W(u"org@example.org"));
  EXPECT_EQ(p.FormatRecipient(u"Ex"), u"Ex <org@example.org>");
  r->SubProperties().AddProperty(0x39FE001E, A("smtp@example.org"));
  EXPECT_EQ(p.FormatRecipient(u"Ex"), u"Ex <smtp@example.org>");
}

TEST(AddressFormatting, NamelessRecipientDoesNotFillAnEmptySlot) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  TMSGProperty* r = AddRecipientNode(p, 0);
  r->SubProperties().AddProperty(0x3003001F, W(u"nobody@example.org"));
  EXPECT_EQ(p.FormatRecipientList(u"Ann;"), u"Ann");
  EXPECT_EQ(p.FormatRecipient(u""), u"");
}

TEST(AddressFormatting, ToRemovesTheFirstNulCcAndBccDoNot) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0E04001F, W(std::u16string(u"Ann\0ie", 6)));
  p.AddProperty(0x0E03001F, W(std::u16string(u"Cc\0x", 4)));
  p.AddProperty(0x0E02001E, A("Bcc One; Bcc Two"));
  EXPECT_EQ(p.GetTo(), u"Annie");
  EXPECT_EQ(p.GetCc(), std::u16string(u"Cc\0x", 4));
  EXPECT_EQ(p.GetBcc(), u"Bcc One;Bcc Two");
}

TEST(AddressFormatting, OriginalDisplayListsComeFirst) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0E03001F, W(u"Display"));
  p.AddProperty(0x0073001F, W(u"Original"));
  p.AddProperty(0x0E02001F, W(u"DisplayB"));
  p.AddProperty(0x0072001E, A("OriginalB"));
  EXPECT_EQ(p.GetCc(), u"Original");
  EXPECT_EQ(p.GetBcc(), u"OriginalB");
  TQvMessage other;
  other.Properties().AddProperty(0x0044001F, W(u"Received For"));
  EXPECT_EQ(other.Properties().GetTo(), u"Received For");
}

TEST(AddressFormatting, FromChain) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  // Name only: formatted through the recipient levels.
  p.AddProperty(0x0042001F, W(std::u16string(u"Ann\0", 4)));
  AddRecipient(p, 0, u"Ann", u"ann@example.org");
  EXPECT_EQ(p.GetFrom(), u"Ann <ann@example.org>");
  // With a sender address the name is quoted as needed; an X.500 name is no Internet address
  // and is not shown as one.
  p.Items(0)->Value = W(u"Ann Example");
  p.AddProperty(0x0C1F001F, W(u"/O=EX/CN=ANN"));
  EXPECT_EQ(p.GetFrom(), u"Ann Example");
  p.AddProperty(0x5D02001F, W(u"represented@example.org"));
  EXPECT_EQ(p.GetFrom(), u"\"Ann Example\" <represented@example.org>");
  p.AddProperty(0x5D01001F, W(u"smtp@example.org"));
  EXPECT_EQ(p.GetFrom(), u"\"Ann Example\" <smtp@example.org>");

  TQvMessage nameless;
  nameless.Properties().AddProperty(0x0065001E, A("only@example.org"));
  EXPECT_EQ(nameless.Properties().GetFrom(), u"only@example.org");
  TQvMessage empty;
  EXPECT_EQ(empty.Properties().GetFrom(), u"");
}

// --- Dates ---

class SentDate : public ::testing::TestWithParam<const char*> {};

TEST_P(SentDate, HeaderDateThenPropertyChain) {
  ScopedTimeZone zone(GetParam());
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  EXPECT_EQ(p.GetSentDate(), 0);

  // The chain's later members stand in when the earlier ones are missing.
  double creation = WallClock(2020, 1, 2, 3, 4, 5);
  p.AddProperty(0x30070040, TVariant::FromDateTime(creation));
  EXPECT_NEAR(p.GetSentDate(), creation, kMillisecond);
  double submit = WallClock(2021, 6, 7, 8, 9, 10, 500);
  p.AddProperty(0x00390040, TVariant::FromDateTime(submit));
  EXPECT_NEAR(p.GetSentDate(), submit, kMillisecond);

  // A winter and a summer header date, each in the local time of its own date.
  p.AddProperty(0x007D001F, W(u"Received: by x\r\nDate: Mon, 7 Dec 2026 10:20:30 +0100\r\n"));
  EXPECT_NEAR(p.GetSentDate(), LocalOfUtc(2026, 12, 7, 9, 20, 30), kMillisecond);
  p.Items(p.Count() - 1)->Value = W(u"Date: Tue, 7 Jul 2026 10:20:30 -0230\r\nX: y");
  EXPECT_NEAR(p.GetSentDate(), LocalOfUtc(2026, 7, 7, 12, 50, 30), kMillisecond);
}

TEST_P(SentDate, UnusableHeaderDatesFallBackToProperties) {
  ScopedTimeZone zone(GetParam());
  double submit = WallClock(2021, 6, 7, 8, 9, 10);
  for (const char16_t* headers : {
           u"Date: 7 Dec",                                   // no year
           u"Date: Mon, 31 Feb 2026 10:20:30 +0000",         // no such day
           u"Date: Mon, 7 Dec 2026 25:20:30 +0000",          // no such hour
           u"Date: Mon, 7 Dec 2026 10:61:30 +0000",          // no such minute
           u"Date: Mon, 7 Foo 2026 10:20:30 +0000",          // no such month
           u"Date: Mon, , ,",                                // nothing at all
           u"DATE: Mon, 7 Dec 2026 10:20:30 +0000",          // the name is case-sensitive
           u"X: y\r\n Date: Mon, 7 Dec 2026 10:20:30 +0000", // folded, not a field
       }) {
    SCOPED_TRACE(U8(headers));
    TQvMessage msg;
    TMSGProperties& p = msg.Properties();
    p.AddProperty(0x007D001F, W(headers));
    p.AddProperty(0x00390040, TVariant::FromDateTime(submit));
    double sent = -1;
    EXPECT_NO_THROW(sent = p.GetSentDate());
    EXPECT_NEAR(sent, submit, kMillisecond);
  }
}

TEST_P(SentDate, OnlyTheFirstDateLineDecides) {
  ScopedTimeZone zone(GetParam());
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x007D001E,
                A("Date: Mon, 31 Feb 2026 10:20:30 +0000\nDate: Mon, 7 Dec 2026 10:20:30 +0000\n"));
  EXPECT_EQ(p.GetSentDate(), 0);
  double delivery = WallClock(2019, 3, 4, 5, 6, 7);
  // The property chain searches nested levels even on the root.
  TMSGProperty* holder = p.Add();
  holder->SubProperties().AddProperty(0x0E060040, TVariant::FromDateTime(delivery));
  EXPECT_NEAR(p.GetSentDate(), delivery, kMillisecond);
}

INSTANTIATE_TEST_SUITE_P(Zones, SentDate, ::testing::Values("UTC", "Europe/Berlin"),
                         [](const auto& info) {
                           return std::string(info.param) == "UTC" ? "Utc" : "Berlin";
                         });

// --- Priority, code page, charset ---

TEST(MessageNumbers, Priority) {
  auto priorityWith = [](uint32_t tag, int value) {
    TQvMessage msg;
    msg.Properties().AddProperty(tag, TVariant::FromInteger(value));
    return static_cast<int>(msg.Properties().GetPriority());
  };
  EXPECT_EQ(priorityWith(0x00260003, -1), 1);
  EXPECT_EQ(priorityWith(0x00260003, 0), 2);
  EXPECT_EQ(priorityWith(0x00260003, 1), 3);
  // IMPORTANCE low, normal and high are the levels of PRIORITY -1, 0 and 1.
  EXPECT_EQ(priorityWith(0x00170003, 0), 1);
  EXPECT_EQ(priorityWith(0x00170003, 1), 2);
  EXPECT_EQ(priorityWith(0x00170003, 2), 3);
  TQvMessage none;
  EXPECT_EQ(none.Properties().GetPriority(), 2);
  TQvMessage both;
  both.Properties().AddProperty(0x00170003, TVariant::FromInteger(2));
  both.Properties().AddProperty(0x00260003, TVariant::FromInteger(-1));
  EXPECT_EQ(both.Properties().GetPriority(), 1);
}

TEST(MessageNumbers, CodePageAndCharset) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  EXPECT_EQ(p.GetCodePage(), 0);
  EXPECT_EQ(p.GetCharset(), "windows-0");
  p.AddProperty(0x3FDE0003, TVariant::FromInteger(65001));
  EXPECT_EQ(p.GetCharset(), "utf-8");
  TMSGProperty* cp = p.AddProperty(0x3FFD0003, TVariant::FromInteger(1252));
  EXPECT_EQ(p.GetCodePage(), 1252);
  EXPECT_EQ(p.GetCharset(), "Windows-1252");
  cp->Value = TVariant::FromInteger(1259);
  EXPECT_EQ(p.GetCharset(), "windows-1259");
  cp->Value = TVariant::FromFloating(1251.0);
  EXPECT_EQ(p.GetCodePage(), 1251);
  cp->Value = A("1250"); // not a number: the found property still decides
  EXPECT_EQ(p.GetCodePage(), 0);
}

TEST(MessageNumbers, InnerLevelWithoutCodePageAsksTheRoot) {
  TQvMessage msg;
  TMSGProperties& root = msg.Properties();
  TMSGProperties& inner = AddEmbeddedMessage(root, 0);
  inner.AddProperty(0x0037001F, W(u"inner"));
  EXPECT_EQ(inner.GetCodePage(), 0);
  root.AddProperty(0x3FDE0003, TVariant::FromInteger(1251));
  EXPECT_EQ(inner.GetCodePage(), 1251);
  EXPECT_EQ(inner.GetCharset(), root.GetCharset());
  inner.AddProperty(0x3FFD0003, TVariant::FromInteger(932));
  EXPECT_EQ(inner.GetCodePage(), 932);
}

// --- Attachment data ---

TEST(AttachmentData, WritesExactlyTheStoredBytes) {
  TempDir dir;
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  TMSGProperty* first = AddAttachmentNode(p, 0);
  std::string data("bin\0ary\xff", 8);
  TMSGProperty* bin = first->SubProperties().AddProperty(TAG_ATTACH_DATA_BIN, A(data));
  EXPECT_EQ(bin->DataSize, 8);
  TMSGProperty* second = AddAttachmentNode(p, 1);
  TMSGProperty* empty = second->SubProperties().AddProperty(TAG_ATTACH_DATA_BIN, A(""));
  ASSERT_EQ(p.AttachmentCount(), 2);

  p.SaveAttachmentToFile(0, dir.File("a"));
  EXPECT_EQ(ReadFile(dir.File("a")), data);

  // A stored size that claims more than the value holds writes only what is held.
  bin->DataSize = 100;
  TMemoryStream stream;
  p.SaveAttachmentToStream(0, stream);
  EXPECT_EQ(stream.Data(), data);
  bin->DataSize = 3;
  stream.Clear();
  p.SaveAttachmentToStream(0, stream);
  EXPECT_EQ(stream.Data(), "bin");

  // No data, and indexes beyond the list, leave an empty file that replaces the old one.
  EXPECT_EQ(empty->DataSize, 0);
  for (int index : {1, 2, -1}) {
    std::ofstream(dir.File("b"), std::ios::binary) << "old contents";
    p.SaveAttachmentToFile(index, dir.File("b"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("b")));
    EXPECT_EQ(ReadFile(dir.File("b")), "") << index;
  }
}

TEST(AttachmentData, FileThatCannotBeCreatedIsAnErrorNamingIt) {
  TempDir dir;
  TQvMessage msg;
  std::string target = dir.File("no/such/folder/file.bin");
  try {
    msg.Properties().SaveAttachmentToFile(0, target);
    FAIL() << "no error";
  } catch (const EMSGError& e) {
    EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
  }
}

// --- The corpus ---

std::vector<std::string> ValidMsgFiles() {
  std::vector<std::string> files;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    std::string name = std::filesystem::path(path).filename().string();
    if (name == "mprs_bad_outlook.msg" || name == "oxmsg_not-a-MSG-file.msg")
      continue;
    files.push_back(path);
  }
  return files;
}

TEST(CorpusAccessors, TextIsCleanlyDecoded) {
  ScopedTimeZone zone("UTC");
  std::vector<std::string> files = ValidMsgFiles();
  ASSERT_GE(files.size(), 40u);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    TQvMSGFile msg;
    ASSERT_NO_THROW(msg.LoadFromFile(path));
    const TMSGProperties& p = msg.Properties();
    std::pair<const char*, std::u16string> fields[] = {
        {"subject", p.GetSubject()}, {"from", p.GetFrom()}, {"to", p.GetTo()},
        {"cc", p.GetCc()},           {"body", p.GetBody()},
    };
    for (const auto& [field, text] : fields) {
      EXPECT_FALSE(HasReplacementCharacter(text)) << field << ": " << U8(text);
      EXPECT_FALSE(LooksDoubleEncoded(text)) << field << ": " << U8(text);
    }
    TDateTime sent = 0;
    EXPECT_NO_THROW(sent = p.GetSentDate());
    if (sent != 0) {
      // Between 1990 and 2030: a sane date, not a misread number.
      EXPECT_GT(sent, WallClock(1990, 1, 1, 0, 0, 0));
      EXPECT_LT(sent, WallClock(2030, 1, 1, 0, 0, 0));
    }
  }
}

struct ExpectedMessage {
  const char* file;
  const char* subject;
  const char* from;
  const char* to;
  const char* cc;
  // The sending instant in UTC, "YYYY-MM-DDTHH:MM:SS.mmm", or "" for none.
  const char* sentUtc;
  const char* body;
};

// Read independently with olefile and Python's codecs: 8-bit strings decoded with the message's
// code page (MESSAGE_CODEPAGE, else the Windows family of INTERNET_CPID), the accessor chains
// followed by hand, and the "Date:" header parsed by Python's email.utils.
const ExpectedMessage kExpected[] = {
    {"poi_ASCII_CP1251_LCID1049.msg", "Subject автоматически Subject", "", "", "", "",
     "Body автоматически Body"},
    {"omp_chinese_message.msg", "", "", "anjos@163.com", "", "2018-08-16T16:21:53.488",
     " \r\n \r\nDears：\r\n      经过汇总 "
     "大家提前合理安排进房间入住吧。\r\n \r\n房型\r\n时间段\r\n迷你房\r\n全天\r\n大床房\r\n9:00-"
     "12:00\r\n小床房\r\n1:00-15:30\r\n标准房\r\n15:30-18:00\r\n三床房\r\n全天\r\n四床房\r\n全天"
     "\r\n \r\n \r\nBest Regards\r\nTha你\r\n---------------------------------\r\n郝竹林\r\nSeat: "
     "15#3F093 | TEL: 737057\r\n酒店研发部\r\n \r\n"},
    {"kmr_contactAnsi.msg", "コム ドット イグザンプル 殿", "xmailuser <xmailuser@xmailserver.test>",
     "", "", "2022-07-20T17:36:38.015", "\r\n"},
    {"kmr_nonUnicodeCP932.msg", "日本語 Non Unicode タイトル", "", "xmailuser2@xmailserver.test",
     "", "2021-11-05T10:25:17.315", "日本語 Non Unicode 本文\r\n"},
    {"poi_message_1979.msg", "Option 2 please",
     "alec milton", // only an X.500 name, and no address in the transport headers
     "\"George Maurey\" <George_Maurey@inso.com>", "", "1999-08-16T11:23:16.000",
     "This message has been archived. \r\n\r\n\r\nHi George,\r\n\r\nI have spoken to David Taffs "
     "and we have decided that Option 2 best suits our requirements at the moment.\r\nCould you "
     "arrange for the contract to be drawn up please.\r\n\r\nRegards\r\n\r\nAlec\r\n\r\n\r\n"},
    {"poi_attachment_test_msg.msg", "test pièce jointe 1",
     "\"Nicolas1 23456\" <nicolas1.23456@free.fr>", "nicolas1.23456@free.fr", "",
     "2009-04-22T14:36:33.734", // the name repeats the address
     "contenu\r\n\r\n"},
    {"kmr_Hello_CJK.msg", "Hello +CJK", "", "", "", "2023-08-27T10:27:38.710",
     "Hello\r\nC 你好\r\nJ こんにちは\r\nK 안녕하세요\r\n"},
};

class CorpusExpected : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusExpected, MatchesTheIndependentReading) {
  ScopedTimeZone zone(GetParam());
  for (const ExpectedMessage& e : kExpected) {
    SCOPED_TRACE(e.file);
    TQvMSGFile msg;
    msg.LoadFromFile(testutil::CorpusPath(std::string("msg/") + e.file));
    const TMSGProperties& p = msg.Properties();
    EXPECT_EQ(U8(p.GetSubject()), e.subject);
    EXPECT_EQ(U8(p.GetFrom()), e.from);
    EXPECT_EQ(U8(p.GetTo()), e.to);
    EXPECT_EQ(U8(p.GetCc()), e.cc);
    EXPECT_EQ(U8(p.GetBody()), e.body);
    if (*e.sentUtc == 0) {
      EXPECT_EQ(p.GetSentDate(), 0);
    } else {
      int y, mo, d, h, mi, s, ms;
      ASSERT_EQ(std::sscanf(e.sentUtc, "%d-%d-%dT%d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms), 7);
      EXPECT_NEAR(p.GetSentDate(), LocalOfUtc(y, mo, d, h, mi, s, ms), kMillisecond);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, CorpusExpected, ::testing::Values("UTC", "Europe/Berlin"),
                         [](const auto& info) {
                           return std::string(info.param) == "UTC" ? "Utc" : "Berlin";
                         });

// A binary HTML body is in the message's Internet code page, even when its 8-bit strings are
// stored in another one (MESSAGE_CODEPAGE 1252 with INTERNET_CPID 65001), and even when the
// HTML's own declaration says otherwise (CP1251 bytes declared as utf-8). Read independently with
// olefile and Python's codecs.
TEST(CorpusAccessors, BinaryHtmlBodiesReadInTheirInternetCodePage) {
  const std::pair<const char*, const char*> expected[] = {
      {"poi_HTMLBodyBinary_CP1251.msg",
       "<!DOCTYPE html><html><meta charset=\\\"utf-8\\\"><body>HTML автоматически</body></html>"},
      {"kmr_newOutlook_Microsoft_Outlook_test.msg",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">この電子メール "
       "メッセージは、アカウントの設定のテスト中に、Microsoft Outlook "
       "から自動送信されたものです。\r\n"},
  };
  for (const auto& [file, html] : expected) {
    SCOPED_TRACE(file);
    TQvMSGFile msg;
    msg.LoadFromFile(testutil::CorpusPath(std::string("msg/") + file));
    EXPECT_EQ(U8(msg.Properties().GetBodyHTML()), html);
  }
}

// Every attachment with binary data, written through SaveAttachmentToFile, against olefile's
// reading of the same stream.
TEST(CorpusAttachments, BytesMatchOlefile) {
  if (!testutil::PythonHasModule("olefile"))
    GTEST_SKIP() << "python3-olefile is not installed";
  TempDir dir;
  int written = 0;
  std::string manifest;
  for (const std::string& path : ValidMsgFiles()) {
    TQvMSGFile msg;
    msg.LoadFromFile(path);
    const TMSGProperties& p = msg.Properties();
    for (int i = 0; i < p.AttachmentCount(); ++i) {
      const TMSGProperty* node = p.GetAttachment(i);
      ASSERT_NE(node, nullptr);
      if (node->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN, false, false) == nullptr)
        continue;
      // A file read out of a signed attachment is no stream of the file.
      if (node->SubProperties().FindProperty(TAG_UNPACKED_ATTACHMENT, false, false) != nullptr)
        continue;
      std::string out = dir.File(std::to_string(written++) + ".bin");
      p.SaveAttachmentToFile(i, out);
      manifest += path + "\t" + node->Value.ToUtf8() + "\t" + out + "\n";
    }
  }
  ASSERT_GT(written, 20);
  std::ofstream(dir.File("manifest.tsv"), std::ios::binary) << manifest;
  testutil::ProcessResult r = testutil::RunPython(R"(
import sys, olefile
checked = 0
for line in open(sys.argv[1], encoding='utf-8'):
    msg, storage, out = line.rstrip('\n').split('\t')
    ole = olefile.OleFileIO(msg)
    want = ole.openstream(storage + '/__substg1.0_37010102').read()
    got = open(out, 'rb').read()
    if want != got:
        print('MISMATCH', msg, storage, len(want), len(got))
    checked += 1
print('checked', checked)
)",
                                                  {dir.File("manifest.tsv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "checked " + std::to_string(written) + "\n");
}

} // namespace
} // namespace orlendo
