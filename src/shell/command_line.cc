#include "shell/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "app/pdf_output.h"
#include "app/program_version.h"
#include "export/eml_writer.h"
#include "export/ics_writer.h"
#include "export/item_accessors.h"
#include "export/vcard_writer.h"
#include "model/qvmsg.h"
#include "msg/compound_file.h"
#include "msg/qvmsgfile.h"
#include "shell/batch_command.h"
#include "shell/dump.h"
#include "shell/window_module_loader.h"

namespace orlendo {
namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// "--noini" -> "/NOINI", "--deffformat=html" -> "/DEFFORMAT=html" (value case kept).
std::string NormaliseSpelling(const std::string& arg) {
  if (!StartsWith(arg, "--") || arg.size() < 3)
    return arg;
  size_t eq = arg.find('=');
  std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  std::string value = eq == std::string::npos ? std::string() : arg.substr(eq);
  return "/" + Upper(name) + value;
}

const char* const kWholeSwitches[] = {"/ALL",   "/NOINI",  "/NOLOGO", "/NOMENU",
                                      "/BASIC", "/SIMPLE", "/E"};
const char* const kValueSwitches[] = {
    "/DEFFORMAT=", "/LANG=", "/LEFT=", "/TOP=", "/WIDTH=", "/HEIGHT="};

bool ParseDecimal(const std::string& text, int& value) {
  if (text.empty())
    return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < -1000000 || v > 1000000)
    return false;
  value = static_cast<int>(v);
  return true;
}

std::string ReplaceExtension(const std::string& fileName, const std::string& extension) {
  size_t slash = fileName.rfind('/');
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return fileName + extension;
  return fileName.substr(0, dot) + extension;
}

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: quillet FILE /E FORMAT [TARGET]   convert FILE to FORMAT (txt, htm, html, xml,\n"
      "                                         eml, msg, pdf; ics for calendar items and\n"
      "                                         tasks, vcf for contacts) into TARGET, or\n"
      "                                         beside FILE\n"
      "       quillet --dump FILE               print FILE's property tree\n"
      "       quillet --help | --version\n",
      out);
  std::fputs(kConvertUsage, out);
  std::fputs("Switches: /ALL (all properties, the default), /NOINI (do not write the settings),\n"
             "/DEFFORMAT=HTML|RTF|TEXT, /NOLOGO, /NOMENU, /BASIC, /SIMPLE, /LANG=FILE,\n"
             "/LEFT=, /TOP=, /WIDTH=, /HEIGHT= (also as --all, --noini, ...).\n",
             out);
}

// True when a --convert run asks for PDF ("--to pdf", "--to=pdf", any letter case).
bool ConvertsToPdf(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--")
      break;
    if (args[i] == "--to" && i + 1 < args.size())
      return Upper(args[i + 1]) == "PDF";
    if (StartsWith(args[i], "--to="))
      return Upper(args[i].substr(5)) == "PDF";
  }
  return false;
}

// PDF is drawn by the window module's printing: the run starts again inside it, with the
// module's PDF writer installed. Nothing else of a windowless run loads it.
int RunInPdfModule(const std::vector<std::string>& args, std::FILE* err) {
  std::string reason;
  const TModuleMain pdfMain = WindowModuleEntry("quillet_pdf_main", reason);
  if (!pdfMain) {
    std::fprintf(err,
                 "quillet: PDF output needs the window module, which could not be loaded: %s\n",
                 reason.c_str());
    return 2;
  }
  std::vector<std::string> copies;
  copies.reserve(args.size() + 1);
  copies.push_back("quillet");
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : copies)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  return pdfMain(static_cast<int>(copies.size()), argv.data());
}

} // namespace

std::string LanguageFileFromSwitch(const std::string& value) {
  namespace fs = std::filesystem;
  if (value.empty() || value[0] == '/')
    return value;
  std::error_code ec;
  const std::string inLanguages = DataFolder() + "languages/" + value;
  const std::string inData = DataFolder() + value;
  if (fs::is_regular_file(inLanguages, ec))
    return inLanguages;
  if (fs::is_regular_file(inData, ec))
    return inData;
  if (fs::is_regular_file(value, ec))
    return fs::absolute(value, ec).lexically_normal().string();
  // A file that is not there reads as empty: the name says where it was looked for.
  return inLanguages;
}

bool IsKnownSwitch(const std::string& rawArg) {
  std::string arg = Upper(NormaliseSpelling(rawArg));
  for (const char* s : kWholeSwitches)
    if (arg == s)
      return true;
  for (const char* s : kValueSwitches)
    if (StartsWith(arg, s))
      return true;
  return false;
}

void ProcessSwitch(const std::string& rawArg, TSettings& settings, TRunState& state) {
  if (!IsKnownSwitch(rawArg))
    return;
  const std::string arg = NormaliseSpelling(rawArg);
  const std::string upper = Upper(arg);
  if (upper == "/ALL") {
    settings.SaveMode = 0;
  } else if (upper == "/NOINI") {
    settings.UseIniFile = false;
  } else if (upper == "/NOLOGO") {
    settings.HideLogo = true;
  } else if (upper == "/NOMENU") {
    state.NoMenu = true;
  } else if (upper == "/BASIC") {
    settings.AppMode = 2;
  } else if (upper == "/SIMPLE") {
    settings.AppMode = 1;
  } else if (StartsWith(upper, "/DEFFORMAT=")) {
    std::string value = upper.substr(11);
    if (value == "HTML")
      settings.DefaultFormat = 3;
    else if (value == "RTF")
      settings.DefaultFormat = 2;
    else if (value == "TEXT")
      settings.DefaultFormat = 1;
  } else if (StartsWith(upper, "/LANG=")) {
    settings.LangFile = LanguageFileFromSwitch(arg.substr(6));
  } else {
    struct Coordinate {
      const char* prefix;
      int TSettings::*field;
    };
    const Coordinate coordinates[] = {{"/LEFT=", &TSettings::FormLeft},
                                      {"/TOP=", &TSettings::FormTop},
                                      {"/WIDTH=", &TSettings::FormWidth},
                                      {"/HEIGHT=", &TSettings::FormHeight}};
    for (const auto& c : coordinates) {
      std::string prefix = c.prefix;
      if (StartsWith(upper, prefix)) {
        settings.PositionSet = true;
        int value;
        if (ParseDecimal(arg.substr(prefix.size()), value))
          settings.*(c.field) = value;
        break;
      }
    }
  }
}

void ApplyExtendedSettings(TSettings& settings, TRunState& state) {
  const std::string& text = settings.ExtendedSettings;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t blank = text.find(' ', pos);
    if (blank == std::string::npos)
      blank = text.size();
    std::string piece = text.substr(pos, blank - pos);
    if (!piece.empty())
      ProcessSwitch(piece, settings, state);
    pos = blank + 1;
  }
}

std::unique_ptr<TQvMessage> CreateMessageForFile(const std::string& fileName) {
  return CreateMessageReader(fileName);
}

void ExportMessage(const TQvMessage& message, const std::string& target,
                   const std::string& extension, bool full) {
  const std::string ext = Upper(extension);
  // An item of another kind than the format asks for is refused before anything is written.
  if (ext == ".ICS" && !HasICalendar(message.Properties()))
    throw EWrongItemKind(NotACalendarItemMessage(message.Properties()));
  if (ext == ".VCF" && !HasVCard(message.Properties()))
    throw EWrongItemKind(NotAContactMessage(message.Properties()));
  std::filesystem::path targetPath(target);
  std::string folder = targetPath.has_parent_path() ? targetPath.parent_path().string() : ".";
  // The temporary keeps the target's extension so that nothing downstream sees another kind.
  std::string tmpl = folder + "/." + targetPath.filename().string() + ".XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0)
    throw EMSGError("Unable to write to " + target);
  ::close(fd);
  try {
    if (ext == ".HTM" || ext == ".HTML")
      message.SaveToHTMLFile(tmpl, full);
    else if (ext == ".XML")
      message.SaveToXMLFile(tmpl, full);
    else if (ext == ".EML") {
      // Straight into the temporary: the file writer would make a temporary of its own and
      // rename it over this one, which makes the file system write the whole file out at once.
      TFileStream file(tmpl, TFileStream::Create);
      SaveToEML(message.Properties(), &file);
      file.Close();
    } else if (ext == ".MSG")
      message.SaveToMSG(tmpl, full);
    else if (ext == ".ICS")
      SaveToICSFile(message.Properties(), tmpl);
    else if (ext == ".VCF")
      SaveToVCFFile(message.Properties(), tmpl);
    else if (ext == ".PDF") {
      const TPdfWriter writer = GetPdfWriter();
      if (!writer)
        throw EMSGError("PDF output needs the window module, which is not loaded");
      writer(message.Properties(), tmpl);
    } else
      message.SaveToTXTFile(tmpl, full);
    // mkstemp made the file private; an export gets the ordinary mode a new file would.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tmpl.c_str(), 0666 & ~mask);
    if (std::rename(tmpl.c_str(), target.c_str()) != 0)
      throw EMSGError("Unable to write to " + target);
  } catch (...) {
    ::unlink(tmpl.c_str());
    throw;
  }
}

bool IsExportFormat(const std::string& extension) {
  const std::string ext = Upper(extension);
  for (const char* known :
       {".TXT", ".HTM", ".HTML", ".XML", ".EML", ".MSG", ".ICS", ".VCF", ".PDF"})
    if (ext == known)
      return true;
  return false;
}

std::string DataFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    std::filesystem::path installed = exe.parent_path().parent_path() / "share" / "quillet";
    if (std::filesystem::is_directory(installed, ec))
      return installed.string() + "/";
  }
  return std::string(ORLENDO_SOURCE_DIR) + "/resources/";
}

bool RunsWithoutWindow(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "--version" ||
                        args[0] == "--dump" || args[0] == "--convert"))
    return true;
  return std::any_of(args.begin(), args.end(), [](const std::string& a) {
    return IsKnownSwitch(a) && Upper(NormaliseSpelling(a)) == "/E";
  });
}

int RunWindowless(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(out);
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::fprintf(out, "quillet (Orlendo) %s\n", kProgramVersion);
    return 0;
  }
  if (!args.empty() && args[0] == "--dump") {
    if (args.size() != 2) {
      std::fputs("Usage: quillet --dump FILE\n", err);
      return 2;
    }
    return DumpMessageFile(args[1], out, err);
  }
  if (!args.empty() && args[0] == "--convert") {
    if (ConvertsToPdf(args) && !GetPdfWriter())
      return RunInPdfModule(args, err);
    return RunConvertCommand(args, stdin, err);
  }

  TSettings settings;
  TRunState state;
  settings.DefaultDir = HomeFolder();
  LoadSettings(settings, false);
  ApplyExtendedSettings(settings, state);
  for (const auto& a : args)
    ProcessSwitch(a, settings, state);

  int status = 0;
  const bool hasFile = !args.empty() && !args[0].empty() && !IsKnownSwitch(args[0]);
  const bool exportForm = args.size() > 2 && Upper(NormaliseSpelling(args[1])) == "/E";
  if (!hasFile) {
    std::fputs("quillet: no message file given; try quillet --help\n", err);
    status = 2;
  } else if (!exportForm) {
    // Only the export form runs without a window; the program comes here for anything else only
    // when no window can be opened.
    std::fputs("quillet: no display to open the viewer window on; convert with: quillet FILE /E "
               "FORMAT [TARGET]\n",
               err);
    status = 2;
  } else if (!IsExportFormat("." + args[2])) {
    // Written as text under a name that promises another format, the file would mislead whoever
    // opens it; nothing is read or written.
    std::fprintf(err,
                 "quillet: cannot convert to \"%s\": the formats are txt, htm, html, xml, eml, "
                 "msg, ics, vcf and pdf\n",
                 args[2].c_str());
    status = 2;
  } else if (Upper(args[2]) == "PDF" && !GetPdfWriter()) {
    // The run in the module reads and writes the settings itself.
    return RunInPdfModule(args, err);
  } else {
    std::string fileName = std::filesystem::absolute(args[0]).lexically_normal().string();
    settings.RecentFiles.MoveToFront(fileName);
    std::unique_ptr<TQvMessage> message = CreateMessageForFile(fileName);
    bool loaded = false;
    try {
      message->LoadFromFile(fileName);
      loaded = true;
      for (const TQvMessage::TLoadNote& note : message->LoadNotes())
        std::fprintf(err, "quillet: %s: %s\n", fileName.c_str(), note.Text.c_str());
    } catch (const std::exception& e) {
      std::fprintf(err, "%s\n", e.what());
      status = 1;
    }
    if (loaded) {
      const std::string extension = "." + Upper(args[2]);
      // An explicit target keeps the letter case it was typed with.
      // A known switch in fourth place is a switch, not a target.
      const std::string target = args.size() >= 4 && !IsKnownSwitch(args[3])
                                     ? args[3]
                                     : ReplaceExtension(fileName, extension);
      try {
        ExportMessage(*message, target, extension, settings.SaveMode == 0);
        std::fprintf(out, "%s\n", target.c_str());
      } catch (const EWrongItemKind& e) {
        std::fprintf(err, "%s\n", e.what());
        status = 3;
      } catch (const std::exception& e) {
        std::fprintf(err, "%s\n", e.what());
        status = 1;
      }
    }
  }
  if (settings.UseIniFile) {
    try {
      SaveSettings(settings);
    } catch (const std::exception& e) {
      std::fprintf(err, "%s\n", e.what());
      if (status == 0)
        status = 1;
    }
  }
  return status;
}

} // namespace orlendo
