#include "shell/mail_handoff.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "app/program_version.h"
#include "model/qvmsg.h"
#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "text/datetime.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

// A stored attachment name is the sender's data: only its last component, without control
// characters, may become a file name in our folder.
std::string SafeFileName(const std::string& stored, int index) {
  std::string name = stored;
  size_t cut = name.find_last_of("/\\");
  if (cut != std::string::npos)
    name = name.substr(cut + 1);
  std::string clean;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
      clean += c;
  if (clean.empty() || clean == "." || clean == "..")
    clean = SAttachmentDefaultName + std::to_string(index + 1);
  return clean;
}

// A private folder (mode 0700) removed with its contents when the holder goes.
class PrivateFolder {
public:
  PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillet-mail-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
      throw EMSGError("Unable to create directory " + tmpl);
    path_ = tmpl;
  }
  ~PrivateFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

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
         utf8::Encode(message.GetBody());
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
    args.insert(args.end(), {"--body", body});
  for (const auto& a : attachmentPaths)
    args.insert(args.end(), {"--attach", a});
  for (const auto& r : recipients)
    args.push_back(r);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0)
    return -1;
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0)
      ::dup2(null, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR)
      return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ReplyOrForward(const TMSGProperties& message, bool forward) {
  if (FindOnPath("xdg-email").empty())
    return;
  const std::string subject = ReplySubject(message, forward);
  const std::string body = ReplyBody(message);
  PrivateFolder folder;
  std::vector<std::string> paths;
  std::set<std::string> used;
  for (int i = 0; i < message.AttachmentCount(); ++i) {
    const TMSGProperty* node = message.GetAttachment(i);
    if (node == nullptr || node->GetAttachMethod() != 1)
      continue;
    std::string name = SafeFileName(node->GetAttachmentFileName(i), i);
    std::string dir = folder.Path();
    // Two attachments of one name each keep it, in folders of their own.
    if (!used.insert(name).second) {
      dir += "/" + std::to_string(i + 1);
      fs::create_directory(dir);
    }
    const std::string path = dir + "/" + name;
    message.SaveAttachmentToFile(i, path);
    paths.push_back(path);
  }
  SendMailMessage(subject, body, {}, paths);
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
