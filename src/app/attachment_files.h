// Where attachment files go: names from a message made safe for the file system, the process's
// private folder for opened attachments, and the file packages inside OLE objects. No Qt here:
// the preview and the save commands share these rules, and the windowless tests check them.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace orlendo {

// A file name as the sender wrote it is data, never a path: this is its last component ("/"
// and "\" both separate), without control characters, without leading or trailing blanks, and
// at most 255 bytes (the extension kept, UTF-8 cut at a character boundary). A name that is then
// empty, "." or ".." becomes fallback.
std::string SafeFileName(const std::string& name, const std::string& fallback = "attachment");

// folder + "/" + SafeFileName(name): always a file directly inside folder, whatever name holds.
std::string PathInFolder(const std::string& folder, const std::string& name);

// A file name inside folder that is neither an existing file there nor one of taken: name itself
// when it is free, else "name (2).ext", "name (3).ext", ... (the number before the extension).
std::string DistinctFileName(const std::string& folder, const std::string& name,
                             const std::vector<std::string>& taken);

// What kind of program a file is when opening it would run it (a desktop entry, a script, a
// Java archive, a Windows program through Wine, an AppImage, an ELF program), judged by its
// name and, when given, its first bytes ("#!", ELF, "MZ"); "" for a file that opening only
// shows. Mail clients ask before they open such an attachment.
std::string RunnableFileKind(const std::string& fileName, const std::string& head = {});

// The name under which an embedded message is saved: caption + ".msg", with every "/" and ":"
// replaced by "_".
std::string EmbeddedMessageFileName(const std::string& caption);

// The process's temporary files (opened attachments): one folder made with mkdtemp (mode 0700)
// under $TMPDIR or /tmp on first use, so that no other user can read or predict them; every
// file gets a subfolder of its own, so two attachments of the same name never overwrite each
// other while an application still shows the first. The folder and all it holds are removed by
// DeleteAll, which runs at the latest when the process ends normally.
class TTempFiles {
public:
  static TTempFiles& Instance();
  ~TTempFiles();

  // A new path for a file called name (made safe) in a fresh subfolder; raises EMSGError
  // "Unable to create directory" when the folder cannot be made.
  std::string NewPath(const std::string& name);
  // Records a file written there, so that it is made private (mode 0600) and listed.
  void Add(const std::string& path);
  const std::vector<std::string>& Files() const { return files_; }
  // The private folder, or "" before first use.
  const std::string& Folder() const { return folder_; }
  void DeleteAll();

private:
  TTempFiles() = default;
  std::mutex lock_;
  std::string folder_;
  int next_ = 0;
  std::vector<std::string> files_;
};

// An OLE "Package" object (the stream "\1Ole10Native") holds a file: the name under which it was
// packed and its bytes.
struct TOlePackage {
  std::string FileName; // UTF-8, as stored (not yet made safe)
  std::string Data;
};

// Reads the package of an OLE object stored as a compound-file image. False when the image is not
// a compound file, has no "\1Ole10Native" stream, or the stream is too short for what its sizes
// claim.
bool ReadOlePackage(const std::string& objectImage, TOlePackage& package);
// The same on the bytes of the "\1Ole10Native" stream itself.
bool ParseOle10Native(const std::string& stream, TOlePackage& package);

} // namespace orlendo
