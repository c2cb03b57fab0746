#include "shell/mail_handoff.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "app/attachment_files.h"
#include "app/program_version.h"
#include "export/html_body.h"
#include "export/message_addresses.h"
#include "model/qvmsg.h"
#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "msg/msg_writer.h"
#include "text/datetime.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

// The level an embedded message holds: the collection of its first object record, or the
// node's own.
const TMSGProperties& EmbeddedLevel(const TMSGProperty& node) {
  const TMSGProperty* object = node.SubProperties().FindProperty(0x37010000, true, true);
  return object != nullptr ? object->SubProperties() : node.SubProperties();
}

// xdg-email turns every LF into a CR LF of its own; a CR of ours would arrive doubled.
std::string LfLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

} // namespace

std::string ReplyBody(const TMSGProperties& message) {
  const std::string crlf = "\r\n";
  std::string sent;
  if (const TDateTime date = message.GetSentDate(); date != 0)
    sent = "Sent: " + DateTimeToText(date) + crlf;
  return "-----Original Message-----" + crlf + "From: " + utf8::Encode(message.GetFrom()) + crlf +
         sent + "To: " + utf8::Encode(message.GetTo()) + crlf +
         "Cc: " + utf8::Encode(message.GetCc()) + crlf + "Bcc: " + utf8::Encode(message.GetBcc()) +
         crlf + "Subject: " + utf8::Encode(message.GetSubject()) + crlf + crlf +
         utf8::Encode(GetPlainTextBody(message));
}

std::string ReplySubject(const TMSGProperties& message, bool forward) {
  return (forward ? "FW: " : "RE: ") + utf8::Encode(message.GetSubject());
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr)
    return "";
  std::string folders = path;
  size_t pos = 0;
  while (pos <= folders.size()) {
    size_t colon = folders.find(':', pos);
    if (colon == std::string::npos)
      colon = folders.size();
    std::string folder = folders.substr(pos, colon - pos);
    pos = colon + 1;
    if (folder.empty())
      continue; // an empty entry would mean the current folder: never search there
    std::string candidate = folder + "/" + program;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

std::vector<std::string> ReplyRecipients(const TMSGProperties& message) {
  std::vector<std::string> addresses;
  const std::string headers = utf8::Encode(message.GetTransportHeaders());
  for (const TMailAddress& a : ParseAddressList(HeaderFieldValue(headers, "Reply-To")))
    if (!a.Address.empty())
      addresses.push_back(utf8::Encode(a.Address));
  if (addresses.empty()) {
    const TMailAddress sender = GetSenderAddress(message);
    if (!sender.Address.empty())
      addresses.push_back(utf8::Encode(sender.Address));
  }
  return addresses;
}

int SendMailMessage(const std::string& subject, const std::string& body,
                    const std::vector<std::string>& recipients,
                    const std::vector<std::string>& attachmentPaths) {
  const std::string program = FindOnPath("xdg-email");
  if (program.empty())
    return -1;
  std::vector<std::string> args = {program, "--utf8"};
  if (!subject.empty())
    args.insert(args.end(), {"--subject", subject});
  if (!body.empty())
    args.insert(args.end(), {"--body", LfLineEnds(body)});
  for (const auto& a : attachmentPaths)
    args.insert(args.end(), {"--attach", a});
  for (const auto& r : recipients)
    args.push_back(r);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  // The mail client may run in a terminal or stay open until the mail is sent: it is started
  // detached (its parent exits at once, so no zombie remains), and only whether it could be
  // started is waited for. A pipe closed by a successful exec tells that.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return -1;
  }
  if (pid == 0) {
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0)
      ::_exit(grandchild < 0 ? 126 : 0);
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0)
      ::dup2(null, 0);
    ::execv(program.c_str(), argv.data());
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) {
      ::close(report[0]);
      return -1;
    }
  int error = 0;
  ssize_t got;
  do
    got = ::read(report[0], &error, sizeof error);
  while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got > 0)
    return -1;
  return 0;
}

void ReplyOrForward(const TMSGProperties& message, bool forward) {
  if (FindOnPath("xdg-email").empty())
    return;
  const std::string subject = ReplySubject(message, forward);
  const std::string body = ReplyBody(message);
  // The files stay in the process's private folder until the program ends: a mail client that
  // hands the job to a copy of itself already running reads them after xdg-email has returned.
  TTempFiles& temp = TTempFiles::Instance();
  std::vector<std::string> paths;
  for (int i = 0; i < message.AttachmentCount(); ++i) {
    const TMSGProperty* node = message.GetAttachment(i);
    if (node == nullptr)
      continue;
    const int method = node->GetAttachMethod();
    if (method == 1) {
      const std::string path = temp.NewPath(node->GetAttachmentFileName(i));
      message.SaveAttachmentToFile(i, path);
      temp.Add(path);
      paths.push_back(path);
    } else if (method == 2) {
      // An embedded message goes along as a message file of its own.
      const std::string path = temp.NewPath(EmbeddedMessageFileName(node->GetAttachmentName(i)));
      SaveToMSG(EmbeddedLevel(*node), path, true);
      temp.Add(path);
      paths.push_back(path);
    }
  }
  SendMailMessage(subject, body, forward ? std::vector<std::string>() : ReplyRecipients(message),
                  paths);
}

std::string SupportMailUrl() {
  std::string subject = std::string("Orlendo ") + kProgramVersion;
  std::string query;
  for (char c : subject) {
    if (c == ' ')
      query += "%20";
    else
      query += c;
  }
  return std::string("mailto:") + kSupportMailAddress + "?subject=" + query;
}

} // namespace orlendo
