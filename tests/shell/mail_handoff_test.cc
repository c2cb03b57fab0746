#include "shell/mail_handoff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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

// A stand-in xdg-email first on PATH: it records its arguments (NUL-separated) and, for every
// existing file it is given, the file's size, since the attachments are gone once it returns.
class StandInMailer : public ::testing::Test {
protected:
  void SetUp() override {
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string script = tmp_.File("xdg-email");
    std::ofstream(script) << "#!/bin/sh\n"
                             "printf '%s\\0' \"$@\" > '"
                          << tmp_.File("args") << "'\n"
                          << "for a; do [ -f \"$a\" ] && wc -c < \"$a\" >> '" << tmp_.File("sizes")
                          << "'; done\nexit 0\n";
    chmod(script.c_str(), 0755);
    setenv("PATH", (tmp_.Path() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  std::vector<std::string> Args() const {
    std::vector<std::string> out;
    std::string all = ReadText(tmp_.File("args"));
    for (size_t pos = 0, z; (z = all.find('\0', pos)) != std::string::npos; pos = z + 1)
      out.push_back(all.substr(pos, z - pos));
    return out;
  }
  std::string oldPath_;
  testutil::TempDir tmp_;
};

TEST_F(StandInMailer, ForwardHandsOnlyTheFileAttachment) {
  TQvMSGFile msg;
  msg.LoadFromFile(testutil::CorpusPath("msg/poi_attachment_msg_pdf.msg"));
  const TMSGProperties& m = msg.Properties();
  ASSERT_EQ(m.AttachmentCount(), 2);
  ReplyOrForward(m, true);

  const auto args = Args();
  ASSERT_GE(args.size(), 7u);
  EXPECT_EQ(args[0], "--utf8");
  EXPECT_EQ(args[1], "--subject");
  EXPECT_EQ(args[2], "FW: " + utf8::Encode(m.GetSubject()));
  EXPECT_EQ(args[3], "--body");
  EXPECT_EQ(args[4].rfind("-----Original Message-----\r\nFrom: ", 0), 0u) << args[4];
  EXPECT_NE(args[4].find("\r\nSent: 2010-06-1"), std::string::npos) << args[4];
  ASSERT_EQ(args.size(), 7u) << "more than one attachment handed over";
  EXPECT_EQ(args[5], "--attach");
  const fs::path pdf = args[6];
  EXPECT_EQ(pdf.filename(), "smbprn.00009008.KdcPjl.pdf");
  // The file was there, whole, while the mailer ran, and is gone with its folder afterwards.
  const std::string sizes = ReadText(tmp_.File("sizes"));
  EXPECT_GT(std::atol(sizes.c_str()), 1000) << sizes;
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_FALSE(fs::exists(pdf.parent_path()));

  ReplyOrForward(m, false);
  EXPECT_EQ(Args()[2], "RE: " + utf8::Encode(m.GetSubject()));
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
