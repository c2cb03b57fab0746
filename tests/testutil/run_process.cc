#include "run_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orlendo::testutil {

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orlendo-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  TempDir dir;
  const std::string outPath = dir.File("stdout");
  const std::string errPath = dir.File("stderr");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0)
      _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // A program that runs away must not fill the disk or run for ever: its output files are
    // capped at 1 GiB (SIGXFSZ beyond) and its processor time at 15 minutes.
    const rlimit fileLimit{1UL << 30, 1UL << 30};
    setrlimit(RLIMIT_FSIZE, &fileLimit);
    const rlimit cpuLimit{900, 900};
    setrlimit(RLIMIT_CPU, &cpuLimit);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR)
      throw std::runtime_error("waitpid failed");
  }
  ProcessResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  return result;
}

ProcessResult RunPython(const std::string& script, const std::vector<std::string>& args) {
  TempDir dir;
  const std::string scriptPath = dir.File("script.py");
  {
    std::ofstream out(scriptPath, std::ios::binary);
    out << script;
  }
  std::vector<std::string> all{scriptPath};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess("/usr/bin/python3", all);
}

bool PythonHasModule(const std::string& module) {
  return RunPython("import " + module + "\n").exitCode == 0;
}

std::string CorpusPath(const std::string& relative) {
  return std::string(ORLENDO_CORPUS_DIR) + "/" + relative;
}

std::vector<std::string> CorpusFiles(const std::string& folder, const std::string& extension) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusPath(folder))) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.size() >= extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace orlendo::testutil
