#include "shell/mail_handoff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "model/qvmsg.h"
#include "model/utf8.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A stand-in xdg-email first on PATH, like a mail client that keeps running: it waits until the
// test lets it go (or gives up after 20 s and says so), then records its arguments
// (NUL-separated) and, for every existing file it is given, the file's size.
class StandInMailer : public ::testing::Test {
protected:
  void SetUp() override {
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string script = tmp_.File("xdg-email");
    const std::string go = tmp_.File("go"), args = tmp_.File("args");
    std::ofstream(script) << "#!/bin/sh\n"
                             "n=0; while [ ! -f '"
                          << go << "' ] && [ $n -lt 200 ]; do sleep 0.1; n=$((n+1)); done\n"
                          << "[ -f '" << go << "' ] || echo waited > '" << tmp_.File("blocked")
                          << "'\n"
                          << "for a; do [ -f \"$a\" ] && wc -c < \"$a\" >> '" << tmp_.File("sizes")
                          << "'; done\n"
                          << "printf '%s\\0' \"$@\" > '" << args << ".part' && mv '" << args
                          << ".part' '" << args << "'\nexit 0\n";
    chmod(script.c_str(), 0755);
    setenv("PATH", (tmp_.Path() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  // Lets the stand-in go and waits until it has written its arguments.
  std::vector<std::string> Args() {
    std::ofstream(tmp_.File("go")) << "go";
    for (int i = 0; i < 300 && !fs::exists(tmp_.File("args")); ++i)
      usleep(100 * 1000);
    std::vector<std::string> out;
    std::string all = ReadText(tmp_.File("args"));
    for (size_t pos = 0, z; (z = all.find('\0', pos)) != std::string::npos; pos = z + 1)
      out.push_back(all.substr(pos, z - pos));
    fs::remove(tmp_.File("args"));
    fs::remove(tmp_.File("go"));
    return out;
  }
  std::string oldPath_;
  testutil::TempDir tmp_;
};

TEST_F(StandInMailer, ForwardHandsTheFilesAndEmbeddedMessagesWithoutWaiting) {
  TQvMSGFile msg;
  msg.LoadFromFile(testutil::CorpusPath("msg/poi_attachment_msg_pdf.msg"));
  const TMSGProperties& m = msg.Properties();
  ASSERT_EQ(m.AttachmentCount(), 2);
  // Returns while the mail client still runs: the stand-in only goes on once Args lets it.
  ReplyOrForward(m, true);
  const auto args = Args();
  EXPECT_FALSE(fs::exists(tmp_.File("blocked"))) << "the hand-off waited for the mail client";
  ASSERT_GE(args.size(), 5u);
  EXPECT_EQ(args[0], "--utf8");
  EXPECT_EQ(args[1], "--subject");
  EXPECT_EQ(args[2], "FW: " + utf8::Encode(m.GetSubject()));
  EXPECT_EQ(args[3], "--body");
  // xdg-email makes CR LF of each LF: a CR of ours would reach the client as CR CR LF.
  EXPECT_EQ(args[4].rfind("-----Original Message-----\nFrom: ", 0), 0u) << args[4];
  EXPECT_EQ(args[4].find('\r'), std::string::npos);
  EXPECT_NE(args[4].find("\nSent: 2010-06-1"), std::string::npos) << args[4];
  ASSERT_EQ(args.size(), 9u) << "a forward carries the file and the embedded message";
  std::vector<fs::path> files;
  for (size_t i = 5; i + 1 < args.size(); i += 2) {
    EXPECT_EQ(args[i], "--attach");
    files.push_back(args[i + 1]);
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.extension() < b.extension(); });
  EXPECT_EQ(files[0].extension(), ".msg");
  EXPECT_EQ(files[1].filename(), "smbprn.00009008.KdcPjl.pdf");
  // The files were there, whole, while the mailer ran, and stay for a client that reads them
  // later; the private folder goes when the program ends.
  const std::string sizes = ReadText(tmp_.File("sizes"));
  EXPECT_GT(std::atol(sizes.c_str()), 1000) << sizes;
  for (const fs::path& f : files) {
    EXPECT_TRUE(fs::exists(f)) << f;
    EXPECT_EQ(fs::status(f).permissions() & fs::perms::others_read, fs::perms::none);
  }
  // The embedded message file is a message other programs read.
  TQvMSGFile embedded;
  EXPECT_NO_THROW(embedded.LoadFromFile(files[0].string()));
  EXPECT_FALSE(embedded.Properties().GetSubject().empty());

  ReplyOrForward(m, false);
  const auto reply = Args();
  ASSERT_GE(reply.size(), 3u);
  EXPECT_EQ(reply[2], "RE: " + utf8::Encode(m.GetSubject()));
  // A reply goes to the sender: the last argument is an address, not an attachment path.
  const std::vector<std::string> to = ReplyRecipients(m);
  ASSERT_EQ(to.size(), 1u);
  EXPECT_NE(to[0].find('@'), std::string::npos) << to[0];
  EXPECT_EQ(reply.back(), to[0]);
}

TEST(MailHandoff, ReplyGoesToReplyToBeforeTheSender) {
  TMSGProperties m(nullptr, nullptr);
  m.AddProperty(0x0037001F, TVariant::FromWide(u"Hello"));
  m.AddProperty(0x0C1A001F, TVariant::FromWide(u"Ann Sender"));
  m.AddProperty(0x5D01001F, TVariant::FromWide(u"ann@example.org")); // SENDER_SMTP_ADDRESS
  EXPECT_EQ(ReplyRecipients(m), std::vector<std::string>{"ann@example.org"});
  m.AddProperty(0x007D001F, // TRANSPORT_MESSAGE_HEADERS
                TVariant::FromWide(u"From: Ann <ann@example.org>\r\nReply-To: \"List\" "
                                   u"<list@example.org>, bob@example.org\r\n\r\n"));
  EXPECT_EQ(ReplyRecipients(m), (std::vector<std::string>{"list@example.org", "bob@example.org"}));
}

TEST_F(StandInMailer, NoMailerEndsQuietly) {
  setenv("PATH", "/nonexistent", 1);
  TQvMSGFile msg;
  msg.LoadFromFile(testutil::CorpusPath("msg/poi_attachment_msg_pdf.msg"));
  EXPECT_NO_THROW(ReplyOrForward(msg.Properties(), true));
  EXPECT_FALSE(fs::exists(tmp_.File("args")));
  EXPECT_EQ(SendMailMessage("s", "b", {}, {}), -1);
}

TEST(MailHandoff, BodyWithoutDateHasNoSentLine) {
  TMSGProperties m(nullptr, nullptr);
  m.AddProperty(0x0037001F, TVariant::FromWide(u"Hello"));      // SUBJECT
  m.AddProperty(0x1000001F, TVariant::FromWide(u"Body text"));  // BODY
  m.AddProperty(0x0C1A001F, TVariant::FromWide(u"Ann Sender")); // SENDER_NAME
  const std::string body = ReplyBody(m);
  EXPECT_EQ(body.find("Sent:"), std::string::npos);
  EXPECT_NE(body.find("\r\nTo: \r\nCc: \r\nBcc: \r\nSubject: Hello\r\n\r\nBody text"),
            std::string::npos)
      << body;
  EXPECT_EQ(ReplySubject(m, false), "RE: Hello");
  // A message with only an HTML body hands over the text of the HTML.
  TMSGProperties html(nullptr, nullptr);
  html.AddProperty(0x1013001F, TVariant::FromWide(u"<html><head><style>p{}</style></head><body>"
                                                  u"<p>One &amp; two</p><p>three</p></body>"));
  EXPECT_TRUE(ReplyBody(html).ends_with("\r\n\r\nOne & two\r\n\r\nthree")) << ReplyBody(html);
  EXPECT_EQ(SupportMailUrl().rfind("mailto:", 0), 0u);
  EXPECT_EQ(SupportMailUrl().find(' '), std::string::npos);
}

} // namespace
} // namespace orlendo
