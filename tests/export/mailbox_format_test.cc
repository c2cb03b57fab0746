// The mbox and Maildir framing: the quoting that lets a reader give back every line, and the
// envelope line that mail programs look for.
#include "export/mailbox_format.h"

#include <gtest/gtest.h>

namespace orlendo {
namespace {

TEST(Mboxrd, QuotesEveryFromLineOnceMoreAndFramesTheMessage) {
  struct Case {
    const char* message;
    bool toLF;
    const char* framed; // after the "From " line
  };
  const Case cases[] = {
      {"Subject: a\n\nFrom here\n>From there\n>>From far\n", false,
       "Subject: a\n\n>From here\n>>From there\n>>>From far\n\n"},
      // Not "From ": left alone.
      {"A\n\nFrom\nFromage\n >From x\nfrom y\n", false, "A\n\nFrom\nFromage\n >From x\nfrom y\n\n"},
      // A file saved from an mbox: its envelope line gives way to the new one.
      {"From old@x Mon Jan  1 00:00:00 2001\nA: b\n\nt\n", false, "A: b\n\nt\n\n"},
      // The last line gets the line end the message uses.
      {"A: b\r\n\r\nFrom t", false, "A: b\r\n\r\n>From t\r\n\n"},
      {"A: b\r\n\r\nFrom t\r\nx\r\n", true, "A: b\n\n>From t\nx\n\n"},
      {"", false, "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(MboxrdMessage("From a@b Thu Jan  1 00:00:00 1970\n", c.message, c.toLF),
              std::string("From a@b Thu Jan  1 00:00:00 1970\n") + c.framed);
  }
  EXPECT_EQ(MaildirMessage("From old@x Mon\r\nA: b\r\n\r\nFrom t\r\n", true), "A: b\n\nFrom t\n");
}

TEST(Mboxrd, FromLineHasTheFixedDateFormInUtc) {
  EXPECT_EQ(MboxFromLine("ann@example.org", 1796827897),
            "From ann@example.org Wed Dec  9 14:51:37 2026\n");
  EXPECT_EQ(MboxFromLine("", 0), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(MboxFromLine("x@y", -5), "From x@y Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(MboxFromLine("x@y", 253402300800), "From x@y Thu Jan  1 00:00:00 1970\n");
  EXPECT_NE(MaildirUniqueName(1), MaildirUniqueName(2));
  EXPECT_EQ(MaildirUniqueName(1).find_first_of("/:"), std::string::npos);
}

} // namespace
} // namespace orlendo
