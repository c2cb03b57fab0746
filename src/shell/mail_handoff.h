// Handing a reply, a forward or a support request to the desktop's mail client. The viewer
// never sends mail: xdg-email opens the client's compose window, filled in, and the user sends
// from there. Without xdg-email on PATH the commands end quietly, as there is no mail system.
#pragma once

#include <string>
#include <vector>

namespace orlendo {

class TMSGProperties;

// The quoted copy of message that a reply or forward carries (UTF-8, lines end in CR LF):
// "-----Original Message-----", From, Sent (only when the message has a date), To, Cc, Bcc and
// Subject lines, an empty line, then the plain-text body.
std::string ReplyBody(const TMSGProperties& message);
// "RE: " or "FW: " followed by the message's subject.
std::string ReplySubject(const TMSGProperties& message, bool forward);

// The full path of program in a folder of $PATH, or "" when there is none.
std::string FindOnPath(const std::string& program);

// The addresses a reply goes to: those of the Reply-To field of the transport headers, else the
// sender's Internet address; none when the message gives neither.
std::vector<std::string> ReplyRecipients(const TMSGProperties& message);

// Starts xdg-email with the subject, the body (its line ends handed over as LF, which xdg-email
// encodes as CR LF), each recipient as an address and each path as an attachment, detached: it
// does not wait for xdg-email or the mail client to end. Returns 0 when it was started, -1 when
// xdg-email is not on PATH or cannot be run.
int SendMailMessage(const std::string& subject, const std::string& body,
                    const std::vector<std::string>& recipients,
                    const std::vector<std::string>& attachmentPaths);

// Reply (forward false) or Forward: the subject and body above, the reply to ReplyRecipients
// (a forward to no one), and the message's file attachments and embedded messages (as .msg
// files; OLE objects are not passed on), written under their own names into the process's
// private temporary folder (TTempFiles), where they stay until the program ends. Ends quietly
// when there is no xdg-email or it fails; a failure to write an attachment raises before
// anything is handed over.
void ReplyOrForward(const TMSGProperties& message, bool forward);

// The "mailto:" address of the support mail, with its subject as a URL query.
std::string SupportMailUrl();

} // namespace orlendo
