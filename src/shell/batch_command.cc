#include "shell/batch_command.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "app/batch_convert.h"
#include "app/settings.h"

namespace orlendo {

const char kConvertUsage[] =
    "       quillet --convert [--to FORMAT] [--out DIR|FILE] [--jobs N] [--recursive]\n"
    "                         [--report FILE.json] [--quiet] PATH...\n"
    "                                         convert many files (PATH a file, a folder, or -\n"
    "                                         for names on standard input) to eml (the\n"
    "                                         default), msg, txt, htm, html, xml, ics, vcf,\n"
    "                                         pdf, mbox (--out FILE) or maildir (--out\n"
    "                                         FOLDER)\n";

namespace {

// The progress of a run on standard error: on a terminal one line that redraws itself at most
// ten times a second; otherwise a plain line per hundred files.
class TProgressLine {
public:
  TProgressLine(std::FILE* err, bool quiet)
      : err_(err), quiet_(quiet), terminal_(::isatty(::fileno(err)) == 1) {}

  void Failed(const TConvertResult& result) {
    Clear();
    std::fprintf(err_, "quillet: %s: %s\n", result.Input.c_str(), result.Reason.c_str());
    shown_ = false;
  }

  void Update(const TConvertProgress& p) {
    if (quiet_)
      return;
    if (terminal_) {
      if (shown_ && p.Seconds - lastDraw_ < 0.1)
        return;
      lastDraw_ = p.Seconds;
      std::fprintf(err_, "\r\033[K%s", Text(p).c_str());
      std::fflush(err_);
      shown_ = true;
    } else if (p.Done() % 100 == 0) {
      std::fprintf(err_, "quillet: %s\n", Text(p).c_str());
    }
  }

  void End(const TConvertSummary& s) {
    Clear();
    if (quiet_)
      return;
    const TConvertProgress& t = s.Totals;
    std::fprintf(
        err_, "quillet: %llu converted, %llu failed, %llu skipped in %.1f s%s\n",
        static_cast<unsigned long long>(t.Converted), static_cast<unsigned long long>(t.Failed),
        static_cast<unsigned long long>(t.Skipped), t.Seconds, s.Cancelled ? " (cancelled)" : "");
    if (!s.Output.empty())
      std::fprintf(err_, "quillet: wrote %s\n", s.Output.c_str());
  }

private:
  static std::string Text(const TConvertProgress& p) {
    const double rate = p.Seconds > 0 ? static_cast<double>(p.Done()) / p.Seconds : 0;
    char line[160];
    if (p.Listed) {
      std::string eta = "--:--";
      if (rate > 0) {
        const long seconds = std::lround(static_cast<double>(p.Found - p.Done()) / rate);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%ld:%02ld", seconds / 60, seconds % 60);
        eta = buf;
      }
      std::snprintf(line, sizeof line, "%llu/%llu files, %.1f files/s, ETA %s",
                    static_cast<unsigned long long>(p.Done()),
                    static_cast<unsigned long long>(p.Found), rate, eta.c_str());
    } else {
      std::snprintf(line, sizeof line, "%llu files done, %llu found so far, %.1f files/s",
                    static_cast<unsigned long long>(p.Done()),
                    static_cast<unsigned long long>(p.Found), rate);
    }
    std::string text = line;
    if (p.Failed)
      text += ", " + std::to_string(p.Failed) + " failed";
    return text;
  }

  void Clear() {
    if (terminal_ && shown_) {
      std::fputs("\r\033[K", err_);
      shown_ = false;
    }
  }

  std::FILE* err_;
  bool quiet_;
  bool terminal_;
  bool shown_ = false;
  double lastDraw_ = 0;
};

int UsageError(std::FILE* err, const std::string& message) {
  std::fprintf(err, "quillet: %s\nUsage:\n%s", message.c_str(), kConvertUsage);
  return 2;
}

} // namespace

int RunConvertCommand(const std::vector<std::string>& args, std::FILE* in, std::FILE* err) {
  TConvertOptions options;
  options.NameList = in;
  bool quiet = false;
  std::vector<std::string> paths;
  bool optionsEnd = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-') {
      paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    const bool takesValue =
        name == "--to" || name == "--out" || name == "--jobs" || name == "-j" || name == "--report";
    if (takesValue && !hasValue) {
      if (i + 1 >= args.size())
        return UsageError(err, name + " needs a value");
      value = args[++i];
    } else if (!takesValue && hasValue) {
      return UsageError(err, name + " takes no value");
    }
    if (name == "--to") {
      if (!ParseConvertFormat(value, options.Format, options.Extension))
        return UsageError(err, "unknown format \"" + value + "\"");
    } else if (name == "--out") {
      options.Out = value;
    } else if (name == "--jobs" || name == "-j") {
      errno = 0;
      char* end = nullptr;
      const long jobs = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || jobs < 1 || jobs > 256)
        return UsageError(err, "--jobs needs a number from 1 to 256");
      options.Jobs = static_cast<unsigned>(jobs);
    } else if (name == "--report") {
      options.ReportFile = value;
    } else if (name == "--recursive" || name == "-r") {
      options.Recursive = true;
    } else if (name == "--quiet" || name == "-q") {
      quiet = true;
    } else {
      return UsageError(err, "unknown switch " + arg);
    }
  }
  if (paths.empty())
    return UsageError(err, "no file or folder to convert");

  // The settings choose the whole property tree or the common properties, as for /E; a batch run
  // neither writes them nor adds its thousands of files to the recent list.
  TSettings settings;
  settings.DefaultDir = HomeFolder();
  LoadSettings(settings, false);
  options.FullProperties = settings.SaveMode == 0;

  TProgressLine progress(err, quiet);
  options.OnFile = [&](const TConvertResult& result, const TConvertProgress& p) {
    if (result.Status == TConvertStatus::Failed)
      progress.Failed(result);
    progress.Update(p);
  };
  const TConvertSummary summary = ConvertFiles(paths, options);
  if (!summary.Started) {
    std::fprintf(err, "quillet: %s\n", summary.Error.c_str());
    return 2;
  }
  progress.End(summary);
  if (!summary.Error.empty()) {
    std::fprintf(err, "quillet: %s\n", summary.Error.c_str());
    return 1;
  }
  return summary.Totals.Failed > 0 || summary.Cancelled ? 1 : 0;
}

} // namespace orlendo
