// The command line of quillet: switches, the export form "FILE /E FORMAT [TARGET]", and the
// windowless start-up that runs it. Nothing here needs a display or the window libraries.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"

namespace orlendo {

class TQvMessage;

// Per-run state that switches set beyond the settings record.
struct TRunState {
  bool NoMenu = false; // "/NOMENU": the window shows no menu and no tool bar
};

// The language file that "/LANG=value" names: an absolute path as it stands; otherwise the
// value as a file name or path inside the languages folder of the data folder, else inside the
// data folder itself, else relative to the current folder, wherever such a file exists (the
// languages folder when none does).
std::string LanguageFileFromSwitch(const std::string& value);

// True when arg is a switch the program knows ("/ALL", "/E", "/DEFFORMAT=...", ...; the GNU
// spellings "--all", "--noini", ... too). Anything else is a file name or a value.
bool IsKnownSwitch(const std::string& arg);

// Applies one argument to the settings. Unknown arguments (file names, "/E", format words) do
// nothing. Values after "=" keep their letter case; "/DEFFORMAT=" compares its value upper-cased.
void ProcessSwitch(const std::string& arg, TSettings& settings, TRunState& state);

// Splits ExtendedSettings at every blank and applies each non-empty piece.
void ApplyExtendedSettings(TSettings& settings, TRunState& state);

// The message component for a file, by its upper-cased extension: ".EML" and ".MHT" the
// Internet readers, anything else the .msg reader.
std::unique_ptr<TQvMessage> CreateMessageForFile(const std::string& fileName);

// Writes message to target with the writer chosen by the upper-cased extension: ".HTM" and
// ".HTML" HTML, ".XML" XML, ".EML" EML, ".MSG" .msg, ".ICS" iCalendar, ".VCF" vCard, ".PDF"
// the installed PDF writer (app/pdf_output.h; without one, EMSGError and nothing written),
// anything else plain text; full selects all properties. ".ICS" of an item that is no calendar item
// or task, and ".VCF" of one that is no contact or distribution list, raise EWrongItemKind (the
// windowless run ends with exit code 3) and write nothing. The output is written to a temporary
// file beside the target and renamed over it only when complete, so a failed export leaves no
// partial file and an old target intact.
void ExportMessage(const TQvMessage& message, const std::string& target,
                   const std::string& extension, bool full);

// True for the upper-cased extensions that ExportMessage has a writer of its own for: ".TXT",
// ".HTM", ".HTML", ".XML", ".EML", ".MSG", ".ICS", ".VCF" and ".PDF". The export switch takes no
// other format.
bool IsExportFormat(const std::string& extension);

// The folder of the program's data files (languages, help, icons, the sample message): the
// installed <prefix>/share/quillet when it exists, else the source tree's resources folder.
std::string DataFolder();

// True when args ask for a windowless run: "--help", "--version", "--dump", "--convert", or the
// export switch "/E" anywhere.
bool RunsWithoutWindow(const std::vector<std::string>& args);

// Runs the program without a window. args are the arguments after the program name. Output
// and errors go to out and err; the result is the exit status. A run that writes PDF without a
// PDF writer installed runs again inside the window module (quillet_pdf_main), on stdout and
// stderr; exit status 2 when the module cannot be loaded. Settings are read and written
// as at every start (unless "/NOINI").
int RunWindowless(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace orlendo
