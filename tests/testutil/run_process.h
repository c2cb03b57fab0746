// Running other programs from tests: our own executable, and python3 for the interop checks
// against olefile.
#pragma once

#include <string>
#include <vector>

namespace orlendo::testutil {

struct ProcessResult {
  int exitCode = -1; // the exit status, or -1 when the program did not exit normally
  std::string out;   // everything written to standard output
  std::string err;   // everything written to standard error
};

// Runs program with args (no shell involved), stdin from /dev/null, and waits for it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

// Runs /usr/bin/python3 on script (saved to a private temporary file) with args.
ProcessResult RunPython(const std::string& script, const std::vector<std::string>& args = {});

// True when /usr/bin/python3 can import module.
bool PythonHasModule(const std::string& module);

// The files of a corpus folder (for example "msg") whose names end in extension, sorted by name,
// as full paths.
std::vector<std::string> CorpusFiles(const std::string& folder, const std::string& extension);

// The full path of a corpus file ("msg/poi_blank.msg").
std::string CorpusPath(const std::string& relative);

// A private temporary folder (mkdtemp), removed with its contents by the destructor.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

} // namespace orlendo::testutil
