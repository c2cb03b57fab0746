// Converting many message files in one run: files, folders and lists of names, on every core,
// into files beside the inputs or in a mirrored folder tree, into one mbox file or into a
// Maildir. The command line's --convert and the window's Convert files... both drive this; it
// knows nothing of either (results and progress go to callbacks, cancelling is a flag).
//
// What a run promises:
// - every output file appears complete or not at all (written under a temporary name in its
//   folder and renamed when done), and no existing file is ever replaced: a name that is taken
//   becomes "name (2).eml", "name (3).eml", ...;
// - a file that cannot be read or written is counted as failed with its reason, and the run
//   goes on; files that are not messages are counted as skipped, and so are messages of another
//   kind than ics (calendar items and tasks) and vcf (contacts) ask for;
// - each job holds one message in memory at a time; nothing grows with the number of files
//   (the report is written as the files finish, folders are walked one at a time).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace orlendo {

enum class TConvertFormat { Eml, Msg, Txt, Html, Xml, Ics, Vcf, Pdf, Mbox, Maildir };

// The format of a --to word, any letter case: eml, msg, txt, htm, html, xml, ics, vcf, pdf,
// mbox, maildir. PDF is written by the installed PDF writer (app/pdf_output.h): without one,
// every message fails with the reason.
// extension is the output files' extension with its dot (".htm" for htm); empty for mbox and
// Maildir. False for any other word.
bool ParseConvertFormat(const std::string& word, TConvertFormat& format, std::string& extension);

// The format's word as the report gives it ("eml", "mbox", ...).
const char* ConvertFormatName(TConvertFormat format);

enum class TConvertStatus { Converted, Failed, Skipped };

// What became of one input file.
struct TConvertResult {
  std::string Input;
  TConvertStatus Status = TConvertStatus::Failed;
  std::string Output; // converted: the file written (the mbox file, or the file in the Maildir)
  std::string Reason; // failed or skipped: why, for a person to read
};

// The state of a run after a file finished.
struct TConvertProgress {
  uint64_t Converted = 0;
  uint64_t Failed = 0;
  uint64_t Skipped = 0;
  uint64_t Found = 0;  // input files found so far
  bool Listed = false; // every input has been found: Found is the total
  double Seconds = 0;  // since the run started
  uint64_t Done() const { return Converted + Failed + Skipped; }
};

struct TConvertOptions {
  TConvertFormat Format = TConvertFormat::Eml;
  std::string Extension = ".eml";
  // The output: a folder for the file formats (made when missing; the inputs' folders mirror
  // below it), or the mbox file, or the Maildir folder. Empty for the file formats: each output
  // goes beside its input. Required for mbox and Maildir.
  std::string Out;
  unsigned Jobs = 0;          // worker threads; 0: one per core
  bool Recursive = false;     // folders: also their subfolders
  bool FullProperties = true; // the text, HTML and XML reports and .msg: the whole property tree
  // Where the names of "-" are read from, one per line.
  std::FILE* NameList = stdin;
  // A JSON report of every file and the totals, written when the run ends (replacing the file).
  std::string ReportFile;
  // Called for each finished file and after it with the state of the run; one call at a time,
  // from the worker threads.
  std::function<void(const TConvertResult&, const TConvertProgress&)> OnFile;
  // Set (from any thread) to end the run early: files not yet begun are not converted.
  const std::atomic<bool>* Cancel = nullptr;
};

struct TConvertSummary {
  bool Started = false; // false: nothing could start (Error says why); no file was touched
  std::string Error;
  bool Cancelled = false;
  TConvertProgress Totals;
  std::string Output; // the mbox file or Maildir written, when one was
};

// Converts every message file that paths name: a file, a folder (its files; with Recursive, its
// whole tree, without following links to folders, and leaving out the output itself), or "-"
// for the names read from NameList. Output names are the input's name with Extension in place
// of its own; below Out, a file found in a folder keeps its path below that folder, and a file
// named directly keeps its relative path unless it climbs out with "..", or is absolute, when
// its name alone is kept.
TConvertSummary ConvertFiles(const std::vector<std::string>& paths, const TConvertOptions& options);

} // namespace orlendo
