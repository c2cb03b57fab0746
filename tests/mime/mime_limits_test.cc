// Hostile and damaged input: huge folded headers, deep nesting, endless boundaries, cut files.
// None of these may crash, hang, recurse without bound or take time beyond linear.
#include <gtest/gtest.h>

#include <random>

#include "export/message_addresses.h"
#include "mime/qvemlfile.h"
#include "mime_test_util.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using namespace mimetest;

TEST(MimeLimits, ToHeaderFoldedOverThousandsOfLines) {
  constexpr int kRecipients = 3000;
  std::string message = "Subject: many\r\nTo: ";
  for (int i = 0; i < kRecipients; ++i) {
    if (i > 0)
      message += ",\r\n ";
    message += "=?utf-8?B?w5xzZXI=?= " + std::to_string(i) + " <user" + std::to_string(i) +
               "@example.com>";
  }
  message += "\r\n\r\nbody\r\n";
  auto reader = Load(message);
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(All(root, TAG_RECIPIENT_NODE).size(), static_cast<size_t>(kRecipients));
  const std::string names = Text(root, kRcvdRepresentingName);
  EXPECT_EQ(names.substr(0, 16), "Üser 0;Üser 1;");
  EXPECT_EQ(std::count(names.begin(), names.end(), ';'), kRecipients - 1);
  const std::string addresses = Text(root, kRcvdRepresentingEmail);
  EXPECT_NE(addresses.find("user2999@example.com"), std::string::npos);
  EXPECT_EQ(Text(root, kBody), "body\r\n");
}

// Up to the limit every recipient is an entry; past it there are none, and the recipients come
// whole from the headers, names and addresses of every kind.
TEST(MimeLimits, RecipientEntriesStopAtTheLimitWithoutLosingAnyone) {
  constexpr int kLimit = TQvEMLFile::kMaxRecipientEntries;
  for (const int toCount : {kLimit - 1, kLimit}) {
    std::string message = "Subject: many\r\nTo: ";
    for (int i = 0; i < toCount; ++i)
      message += (i > 0 ? ",\r\n u" : "u") + std::to_string(i) + "@example.com";
    message += "\r\nCc: =?utf-8?B?w5xzZXI=?= <last@example.com>\r\n\r\nbody\r\n";
    auto reader = Load(message);
    const TMSGProperties& root = reader->Properties();
    SCOPED_TRACE(toCount);
    EXPECT_EQ(All(root, TAG_RECIPIENT_NODE).size(),
              toCount < kLimit ? static_cast<size_t>(toCount + 1) : 0u);
    const TMailAddressList to = GetRecipientAddresses(root, TRecipientKind::To);
    ASSERT_EQ(to.size(), static_cast<size_t>(toCount));
    EXPECT_EQ(U8(to.back().Address), "u" + std::to_string(toCount - 1) + "@example.com");
    const TMailAddressList cc = GetRecipientAddresses(root, TRecipientKind::Cc);
    ASSERT_EQ(cc.size(), 1u);
    EXPECT_EQ(U8(cc[0].Name), "Üser");
    EXPECT_EQ(U8(cc[0].Address), "last@example.com");
    EXPECT_TRUE(GetRecipientAddresses(root, TRecipientKind::Bcc).empty());
  }
}

// A header repeated past the limit is kept in the header text only; the first header of each kind
// is stored however late it comes.
TEST(MimeLimits, RepeatedHeadersStopAtTheLimit) {
  constexpr int kRepeats = TQvEMLFile::kMaxRepeatedHeaders + 100;
  std::string message;
  for (int i = 0; i <= kRepeats; ++i)
    message += "Subject: s" + std::to_string(i) + "\r\n";
  message += "Content-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n";
  auto reader = Load(message);
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(All(root, kSubject).size(), static_cast<size_t>(TQvEMLFile::kMaxRepeatedHeaders + 1));
  EXPECT_EQ(Text(root, kSubject), "s0");
  EXPECT_NE(Text(root, kTransportHeaders).find("Subject: s" + std::to_string(kRepeats) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Find(root, kMessageCodePage)->Value.ToInt64(), 65001);
  EXPECT_EQ(Text(root, kBody), "body\r\n");
}

TEST(MimeLimits, SubjectWithManyEncodedWords) {
  std::string subject;
  for (int i = 0; i < 20000; ++i)
    subject += "=?utf-8?Q?a?=";
  auto reader = Load("Subject: " + subject + "\r\n\r\n");
  EXPECT_EQ(U8(reader->Properties().GetSubject()), std::string(20000, 'a'));
  // Openers without closers: decoding stops at the first, in linear time.
  std::string open;
  for (int i = 0; i < 20000; ++i)
    open += "=?utf-8?Q?x ";
  auto unclosed = Load("Subject: " + open + "\r\n\r\n");
  EXPECT_EQ(U8(unclosed->Properties().GetSubject()), open.substr(0, open.size() - 1));
}

TEST(MimeLimits, BoundaryStackDepthIsCapped) {
  constexpr int kDepth = 200;
  std::string message = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
  for (int i = 1; i <= kDepth; ++i)
    message += "--b" + std::to_string(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=b" +
               std::to_string(i) + "\r\n\r\n";
  message += "--b" + std::to_string(kDepth) + "\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
  auto reader = Load(message);
  EXPECT_LE(reader->BoundaryStack.size(), TQvEMLFile::kMaxBoundaryDepth);
  // The part that could not open its boundary holds the rest of the nesting as its content.
  const TMSGProperties& root = reader->Properties();
  const auto nodes = All(root, TAG_ATTACHMENT_NODE);
  ASSERT_EQ(nodes.size(), TQvEMLFile::kMaxBoundaryDepth);
  const TMSGProperty* last = Find(nodes.back()->SubProperties(), TAG_ATTACH_DATA_BIN);
  ASSERT_NE(last, nullptr);
  EXPECT_NE(last->Value.Bytes().find("deep"), std::string::npos);
}

TEST(MimeLimits, DashBoundaryNestingIsCapped) {
  constexpr int kDepth = 100;
  std::string message = "Content-Type: multipart/mixed; boundary=-\r\n\r\n";
  for (int i = 0; i < kDepth; ++i)
    message += "-\r\nContent-Type: multipart/mixed; boundary=-\r\n\r\n";
  message += "-\r\nContent-Type: application/x-leaf; name=leaf\r\n\r\nleaf\r\n";
  auto reader = Load(message);
  int depth = 0;
  for (const TMSGProperties* level = &reader->Properties();;) {
    const auto nodes = All(*level, TAG_ATTACHMENT_NODE);
    if (nodes.empty())
      break;
    level = &nodes.front()->SubProperties();
    ++depth;
  }
  EXPECT_GE(depth, 2);
  EXPECT_LE(depth, TQvEMLFile::kMaxNesting);
}

TEST(MimeLimits, ManyPartsWithoutBlankLines) {
  std::string message = "Content-Type: multipart/mixed; boundary=P\r\n\r\n";
  constexpr int kParts = 20000;
  for (int i = 0; i < kParts; ++i)
    message +=
        "--P\r\nContent-Type: multipart/alternative; boundary=Q" + std::to_string(i) + "\r\n";
  message += "--P--\r\n";
  auto reader = Load(message);
  // Past the limit of parts the rest of the input is one last part's content, byte for byte.
  const auto nodes = All(reader->Properties(), TAG_ATTACHMENT_NODE);
  ASSERT_EQ(nodes.size(), static_cast<size_t>(TQvEMLFile::kMaxParts + 1));
  const TMSGProperty* rest = Find(nodes.back()->SubProperties(), TAG_ATTACH_DATA_BIN);
  ASSERT_NE(rest, nullptr);
  const std::string restText = rest->Value.Bytes();
  EXPECT_TRUE(restText.starts_with("--P\r\nContent-Type: multipart/alternative; boundary=Q" +
                                   std::to_string(TQvEMLFile::kMaxParts) + "\r\n"));
  EXPECT_EQ(message.substr(message.size() - restText.size()), restText);
  EXPECT_LE(reader->BoundaryStack.size(), 2u);
}

TEST(MimeLimits, ManyBodyParts) {
  // Every part is a body part: the first of each kind is promoted, the rest stay in their nodes.
  std::string message = "Content-Type: multipart/alternative; boundary=T\r\n\r\n";
  constexpr int kParts = 20000;
  for (int i = 0; i < kParts; ++i)
    message += "--T\r\nContent-Type: text/" + std::string(i % 2 ? "html" : "plain") +
               "\r\n\r\n<html>" + std::to_string(i) + "</html>\r\n";
  message += "--T--\r\n";
  auto reader = Load(message);
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(All(root, TAG_ATTACHMENT_NODE).size(),
            static_cast<size_t>(std::min(kParts, TQvEMLFile::kMaxParts + 1)));
  // The subtype decides, and of alternatives the last of each kind wins.
  const std::string last = std::to_string(TQvEMLFile::kMaxParts - 1);
  EXPECT_EQ(U8(root.GetBodyHTML()), "<html>" + last + "</html>");
  EXPECT_EQ(U8(root.GetBody()), "<html>" + std::to_string(TQvEMLFile::kMaxParts - 2) + "</html>");
  EXPECT_EQ(All(root, kBodyHtml).size(), 1u);
  EXPECT_EQ(All(root, kBody).size(), 1u);
}

TEST(MimeLimits, DamagedCopiesOfCorpusFilesLoad) {
  // Cut and mangled copies of real messages: every prefix length class and random byte damage.
  std::mt19937 random(20261207);
  std::vector<std::string> files = testutil::CorpusFiles("eml", ".eml");
  for (const std::string& f : testutil::CorpusFiles("mht", ".mhtml"))
    files.push_back(f);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    TFileStream in(path, TFileStream::OpenRead);
    std::string data(static_cast<size_t>(in.Size()), '\0');
    data.resize(in.Read(data.data(), data.size()));
    if (data.size() > 200000)
      data.resize(200000);
    for (int round = 0; round < 4; ++round) {
      std::string copy = data.substr(0, random() % (data.size() + 1));
      for (int i = 0; i < 20 && !copy.empty(); ++i) {
        const char noise[] = {'\r', '\n', '-', '=', '?', '"', ';', '<', ' ', '\t', '\0', '\xFF'};
        copy[random() % copy.size()] = noise[random() % sizeof noise];
      }
      EXPECT_NO_THROW(Load(copy));
    }
  }
}

TEST(MimeLimits, UnclosedDelimitersRunToTheEnd) {
  auto reader = Load(Join({"Content-Type: multipart/mixed; boundary=U", "", "--U",
                           "Content-Type: application/x-a; name=a", "", "never", "closed"}));
  const TMSGProperties& root = reader->Properties();
  ASSERT_EQ(root.AttachmentCount(), 1);
  EXPECT_EQ(AttachmentData(root, 0), "never\r\nclosed\r\n");
  // A declared boundary that never occurs: nothing but the header.
  auto missing = Load(
      Join({"Subject: s", "Content-Type: multipart/related; boundary=Z", "", "<html>lost</html>"}));
  EXPECT_EQ(missing->Properties().AttachmentCount(), 0);
  EXPECT_EQ(U8(missing->Properties().GetSubject()), "s");
}

} // namespace
} // namespace orlendo
