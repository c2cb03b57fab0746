#include "export/mailbox_format.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "export/message_addresses.h"
#include "model/utf8.h"
#include "text/datetime.h"

namespace orlendo {

namespace {

// 9999-12-31 23:59:59 UTC: asctime's fixed form has room for four-digit years only.
constexpr int64_t kLastSecond = 253402300799;

bool IsFromLine(std::string_view line) {
  return line.substr(0, 5) == "From ";
}

// The message without a leading envelope line.
std::string_view WithoutEnvelope(std::string_view message) {
  if (!IsFromLine(message))
    return message;
  const size_t lf = message.find('\n');
  return lf == std::string_view::npos ? std::string_view() : message.substr(lf + 1);
}

// Appends line (without its end) and a line end.
void AppendLine(std::string& out, std::string_view line, bool hadCR, bool toLF) {
  out.append(line);
  if (hadCR && !toLF)
    out.push_back('\r');
  out.push_back('\n');
}

} // namespace

std::string MboxEnvelopeSender(const TMSGProperties& level) {
  const std::u16string address = GetSenderAddress(level).Address;
  if (address.empty() || !IsInternetAddress(address))
    return "MAILER-DAEMON";
  return utf8::Encode(address);
}

std::string MboxFromLine(std::string_view sender, int64_t unixSeconds) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (unixSeconds < 0 || unixSeconds > kLastSecond)
    unixSeconds = 0;
  const time_t seconds = static_cast<time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char date[64];
  std::snprintf(date, sizeof date, "%s %s %2d %02d:%02d:%02d %d", kDays[tm.tm_wday % 7],
                kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                tm.tm_year + 1900);
  std::string line = "From ";
  line.append(sender.empty() ? std::string_view("MAILER-DAEMON") : sender);
  line += ' ';
  line += date;
  line += '\n';
  return line;
}

int64_t MessageUnixSeconds(const TMSGProperties& level, int64_t fallback) {
  const TDateTime sent = level.GetSentDate();
  if (sent == 0)
    return fallback;
  const int64_t ms = DateTimeToUnixMs(LocalToUtcDateTime(sent));
  if (ms == 0)
    return fallback;
  return ms / 1000;
}

std::string MboxrdMessage(std::string_view fromLine, std::string_view message, bool toLF) {
  message = WithoutEnvelope(message);
  std::string out;
  out.reserve(fromLine.size() + message.size() + message.size() / 64 + 2);
  out.append(fromLine);
  size_t pos = 0;
  while (pos < message.size()) {
    size_t lf = message.find('\n', pos);
    const bool last = lf == std::string_view::npos;
    if (last)
      lf = message.size();
    std::string_view line = message.substr(pos, lf - pos);
    const bool hadCR = !line.empty() && line.back() == '\r';
    if (hadCR)
      line.remove_suffix(1);
    size_t quotes = 0;
    while (quotes < line.size() && line[quotes] == '>')
      ++quotes;
    if (IsFromLine(line.substr(quotes)))
      out.push_back('>');
    // A last line without its end gets one, of the kind the message uses.
    AppendLine(out, line, hadCR || (last && message.find("\r\n") != std::string_view::npos), toLF);
    pos = lf + 1;
  }
  out.push_back('\n');
  return out;
}

std::string MaildirMessage(std::string_view message, bool toLF) {
  message = WithoutEnvelope(message);
  if (!toLF)
    return std::string(message);
  std::string out;
  out.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
      continue;
    out.push_back(message[i]);
  }
  return out;
}

std::string MaildirUniqueName(uint64_t sequence) {
  timeval now{};
  gettimeofday(&now, nullptr);
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
    std::snprintf(host, sizeof host, "localhost");
  std::string hostPart;
  for (const char* p = host; *p; ++p) {
    if (*p == '/')
      hostPart += "\\057";
    else if (*p == ':')
      hostPart += "\\072";
    else
      hostPart += *p;
  }
  char head[96];
  std::snprintf(head, sizeof head, "%lld.M%ldP%ldQ%llu.", static_cast<long long>(now.tv_sec),
                static_cast<long>(now.tv_usec), static_cast<long>(getpid()),
                static_cast<unsigned long long>(sequence));
  return head + hostPart;
}

} // namespace orlendo
