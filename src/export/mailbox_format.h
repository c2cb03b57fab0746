// The two mail-folder formats that mail programs read: one mbox file (the mboxrd form) and a
// Maildir folder. These give the framing; the messages themselves come from the EML writer or,
// for Internet messages, from their own files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

// The address for the "From " line of a message: the sender's Internet address, or
// "MAILER-DAEMON" when the message names none (the line must hold one word without blanks).
std::string MboxEnvelopeSender(const TMSGProperties& level);

// The "From " line that opens a message in an mbox, with its LF: the sender and the time in the
// fixed form of C's asctime, in UTC ("From ann@example.org Wed Dec  9 14:51:37 2026\n").
// unixSeconds outside the years 1970..9999 is written as the epoch.
std::string MboxFromLine(std::string_view sender, int64_t unixSeconds);

// The seconds since the epoch of the message's sent date (GetSentDate, a local date-time), or
// fallback when the message has none.
int64_t MessageUnixSeconds(const TMSGProperties& level, int64_t fallback);

// One message as it goes into an mboxrd file: fromLine, then the message with every line that
// begins with any number of ">" followed by "From " given one more ">" (so that a reader removes
// exactly one and gets the text back), ending in a line end and followed by the empty line that
// separates it from the next. An "From " envelope line at the very start of message (a file
// saved from an mbox) is replaced by fromLine rather than quoted into the headers. With toLF,
// CR LF line ends become LF (for our own output, which is all text); otherwise the bytes stay as
// they are.
std::string MboxrdMessage(std::string_view fromLine, std::string_view message, bool toLF);

// The message without a leading "From " envelope line; with toLF, CR LF line ends become LF.
// What goes into a Maildir file.
std::string MaildirMessage(std::string_view message, bool toLF);

// A file name for a new message of a Maildir that no other delivery on any host uses: the time,
// the microseconds, the process id, sequence (a counter unique within the process) and the host
// name with "/" and ":" written as "\057" and "\072". Without the ":2," info part.
std::string MaildirUniqueName(uint64_t sequence);

} // namespace orlendo
