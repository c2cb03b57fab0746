#include "app/batch_convert.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <typeinfo>

#include "app/pdf_output.h"
#include "app/reader_choice.h"
#include "export/eml_writer.h"
#include "export/ics_writer.h"
#include "export/item_accessors.h"
#include "export/mailbox_format.h"
#include "export/vcard_writer.h"
#include "mime/qvemlfile.h"
#include "model/qvmsg.h"
#include "model/utf8.h"

namespace orlendo {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t TAG_MESSAGE_FLAGS = 0x0E070003;
constexpr int64_t MSGFLAG_READ = 0x1;
// Files up to this size are read whole, once: their kind, their reader and the bytes an mbox
// takes as they are all come from that one read. Larger ones are read in place by their readers.
constexpr off_t kReadWholeLimit = off_t(16) << 20;
// Messages framed for an mbox are written in batches of about this size.
constexpr size_t kMboxBatchBytes = size_t(256) << 10;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  return s;
}

// The last part of a file's name (its name in its folder).
std::string_view FileNamePart(std::string_view name) {
  const size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// Where the extension of a name in a folder begins, as std::filesystem reads it: at its last
// dot, unless that is its first character ("." and ".." have none either); its size when it has
// none. Parsing a whole path for each of thousands of files costs more than reading it.
size_t ExtensionStart(std::string_view file) {
  if (file == "." || file == "..")
    return file.size();
  const size_t dot = file.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? file.size() : dot;
}

std::string LowerExtension(std::string_view name) {
  const std::string_view file = FileNamePart(name);
  return Lower(std::string(file.substr(ExtensionStart(file))));
}

bool IsMessageExtension(const std::string& ext) {
  return ext == ".msg" || ext == ".eml" || ext == ".emlx" || ext == ".mht" || ext == ".mhtml";
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// One file to convert.
struct TJob {
  std::string Input;
  fs::path RelativeFolder; // below Out, for the file formats
  bool Named = false;      // named directly rather than found in a folder
};

// The folder below Out that keeps a directly named file's place: its relative folder, unless
// the name is absolute or climbs out.
fs::path NamedRelativeFolder(const std::string& name) {
  if (!name.empty() && name.front() == '/')
    return {};
  const fs::path p = fs::path(name).lexically_normal();
  if (p.is_absolute())
    return {};
  for (const auto& part : p)
    if (part == "..")
      return {};
  return p.parent_path();
}

// A bounded queue between the walk and the workers, so that a walk of a million files never
// holds more than a few names. Small messages convert in tens of microseconds, so a wake-up per
// name would cost as much as the work: a side is woken only when it sleeps, and the walk only
// when the queue has drained to half, to refill it in one go.
class TJobQueue {
public:
  explicit TJobQueue(size_t capacity) : capacity_(capacity) {}
  // False when the queue was closed (the run is cancelled).
  bool Push(TJob job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.size() >= capacity_ && !closed_) {
      ++pushersWaiting_;
      notFull_.wait(lock, [&] { return queue_.size() <= capacity_ / 2 || closed_; });
      --pushersWaiting_;
    }
    if (closed_)
      return false;
    queue_.push_back(std::move(job));
    if (poppersWaiting_ > 0)
      notEmpty_.notify_one();
    return true;
  }
  std::optional<TJob> Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty() && !closed_ && !finished_) {
      ++poppersWaiting_;
      notEmpty_.wait(lock, [&] { return !queue_.empty() || closed_ || finished_; });
      --poppersWaiting_;
    }
    if (queue_.empty() || closed_)
      return std::nullopt;
    TJob job = std::move(queue_.front());
    queue_.pop_front();
    if (pushersWaiting_ > 0 && queue_.size() <= capacity_ / 2)
      notFull_.notify_one();
    return job;
  }
  // No more jobs will come; the workers end when the queue is empty.
  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    notEmpty_.notify_all();
  }
  // Drops what is queued and ends the workers and the walk.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

private:
  std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::condition_variable notFull_;
  std::deque<TJob> queue_;
  size_t capacity_;
  unsigned pushersWaiting_ = 0;
  unsigned poppersWaiting_ = 0;
  bool finished_ = false;
  bool closed_ = false;
};

// Gives an output the name folder/stem+extension, or the first of "stem (2)extension",
// "stem (3)extension", ... that place can take: place(target, name), with the whole path and the
// name in folder, makes the file there and returns true, or returns false with errno set, EEXIST
// for a name that is taken. Never replaces a file. Returns the path.
template <typename Place>
std::string PlaceAtFreeName(const fs::path& folder, const std::string& stem,
                            const std::string& extension, Place place) {
  for (unsigned n = 1; n < 1000000; ++n) {
    const std::string name =
        n == 1 ? stem + extension : stem + " (" + std::to_string(n) + ")" + extension;
    // The folder's path and the name: name is never absolute, and joining needs no parsing.
    const std::string& base = folder.native();
    const std::string target = base.empty()         ? name
                               : base.back() == '/' ? base + name
                                                    : base + '/' + name;
    if (place(target, name))
      return target;
    if (errno != EEXIST)
      throw EMSGError("Unable to write to " + target + ": " + ErrnoText(errno));
  }
  throw EMSGError("Unable to write to " + (folder / (stem + extension)).string() +
                  ": every numbered name is taken");
}

// Moves temp to a free name (PlaceAtFreeName), never replacing a file, not even one that appears
// meanwhile.
std::string RenameToFreeName(const std::string& temp, const fs::path& folder,
                             const std::string& stem, const std::string& extension) {
  return PlaceAtFreeName(
      folder, stem, extension, [&](const std::string& target, const std::string&) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
          return true;
        if (errno != EINVAL && errno != ENOSYS)
          return false;
        // A file system without the no-replace rename: a hard link fails on an existing name too.
        if (::link(temp.c_str(), target.c_str()) != 0)
          return false;
        ::unlink(temp.c_str());
        return true;
      });
}

// Creates a free name (PlaceAtFreeName) as an empty file, so that the name is this run's from the
// start; returns it.
std::string ClaimFreeName(const fs::path& folder, const std::string& stem,
                          const std::string& extension) {
  return PlaceAtFreeName(
      folder, stem, extension, [](const std::string& target, const std::string&) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
          return false;
        ::close(fd);
        return true;
      });
}

// An output folder held open while its files are written: each file is then made and named
// relative to it, without looking the folder's path up again.
class TFolderHandle {
public:
  TFolderHandle() = default;
  TFolderHandle(const TFolderHandle&) = delete;
  TFolderHandle& operator=(const TFolderHandle&) = delete;
  ~TFolderHandle() { Close(); }
  // The folder's descriptor, opened when it is another folder than last time; -1 when it
  // cannot be opened.
  int For(const std::string& folder) {
    if (fd_ >= 0 && folder == folder_)
      return fd_;
    Close();
    fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0)
      folder_ = folder;
    return fd_;
  }
  int For(const fs::path& folder) { return For(folder.native()); }
  void Close() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
    folder_.clear();
  }

private:
  int fd_ = -1;
  std::string folder_;
};

// An input file as the worker reaches it: through the descriptor of its folder, held while
// that folder's files come one after the other, so that each is looked up by its name alone.
struct TInputName {
  int folder = AT_FDCWD;
  const char* name = nullptr;
};

TInputName ReachInput(const std::string& input, TFolderHandle& folders) {
  const size_t slash = input.rfind('/');
  if (slash == std::string::npos || slash + 1 == input.size())
    return {AT_FDCWD, input.c_str()};
  const int fd = folders.For(input.substr(0, slash + 1));
  if (fd < 0)
    return {AT_FDCWD, input.c_str()};
  return {fd, input.c_str() + slash + 1};
}

// An unnamed file in the folder held by folderFd for an output under construction (O_TMPFILE),
// named by LinkToFreeName once complete: a run that dies leaves nothing behind, and the folder
// gets one entry per output where a temporary costs it two more changes. Its mode is the
// ordinary one (the umask applies). -1 where the kernel or the file system has no unnamed files,
// or /proc, through which an unprivileged process names one, is not there.
int OpenUnnamedFile(int folderFd) {
  static const bool haveProc = ::access("/proc/thread-self/fd", X_OK) == 0;
  if (!haveProc)
    return -1;
  return ::openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the unnamed file fd a free name (PlaceAtFreeName) in the folder held by folderFd.
// Returns the path. The file is named through its descriptor where the kernel lets this process
// (with the capability to, or on kernels that let the opener do it), else through /proc.
std::string LinkToFreeName(int fd, int folderFd, const fs::path& folder, const std::string& stem,
                           const std::string& extension) {
  static std::atomic<bool> byDescriptor{true};
  std::string self;
  const auto viaProc = [&](const std::string& name) {
    if (self.empty())
      self = "/proc/thread-self/fd/" + std::to_string(fd); // the worker's own table
    return ::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  };
  return PlaceAtFreeName(folder, stem, extension, [&](const std::string&, const std::string& name) {
    if (byDescriptor.load(std::memory_order_relaxed)) {
      if (::linkat(fd, "", folderFd, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
      if (errno != ENOENT && errno != EPERM && errno != EINVAL)
        return false;
      if (!viaProc(name))
        return false;
      byDescriptor.store(false, std::memory_order_relaxed);
      return true;
    }
    return viaProc(name);
  });
}

// A new private file in folder for output under construction; its name begins with a dot so
// that no mail program or folder walk takes it for a finished file. With fd, the file is left
// open for writing there.
std::string MakeTempFile(const fs::path& folder, const std::string& base, int* fd = nullptr) {
  std::string name = (folder / ("." + base + ".XXXXXX")).string();
  const int made = ::mkstemp(name.data());
  if (made < 0)
    throw EMSGError("Unable to write to " + folder.string() + ": " + ErrnoText(errno));
  if (fd)
    *fd = made;
  else
    ::close(made);
  return name;
}

// The mode a new file gets (mkstemp makes it private), from the umask of the start of the run:
// reading the umask means setting it, which threads must not do while others create files.
mode_t OrdinaryMode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

void GiveOrdinaryMode(const std::string& file) {
  ::chmod(file.c_str(), OrdinaryMode());
}

// An output file under construction, written with plain writes (the writers buffer already).
class TFdStream : public TStream {
public:
  TFdStream(int fd, const std::string& name) : fd_(fd), name_(name) {}
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t count) override {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, p + done, count - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        throw EMSGError("Unable to write to " + name_ + ": " + ErrnoText(errno));
      done += static_cast<size_t>(n);
    }
    written_ += static_cast<int64_t>(count);
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (offset != 0 || origin == TSeekOrigin::Beginning) {
      if (!(origin == TSeekOrigin::Beginning && offset == written_))
        throw EMSGError("Unable to write to " + name_ + ": the output cannot seek");
    }
    return written_;
  }
  int64_t Size() override { return written_; }

private:
  int fd_;
  const std::string& name_;
  int64_t written_ = 0;
};

// Reads a regular file of the given size whole; false when it cannot be opened (its reader then
// says why).
bool ReadFileImage(TInputName input, const std::string& fileName, off_t size, std::string& image) {
  const int fd = ::openat(input.folder, input.name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return false;
  image.resize(static_cast<size_t>(size));
  size_t got = 0;
  while (got < image.size()) {
    const ssize_t n = ::read(fd, image.data() + got, image.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw EMSGError("Unable to read " + fileName + ": " + ErrnoText(error));
    }
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  image.resize(got);
  return true;
}

std::string ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in)
    throw EMSGError("Unable to read " + fileName + ": " + ErrnoText(errno));
  std::string data;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0)
    data.resize(static_cast<size_t>(size));
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

void WriteAll(int fd, const std::string& data, const std::string& fileName) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw EMSGError("Unable to write to " + fileName + ": " + ErrnoText(errno));
    done += static_cast<size_t>(n);
  }
}

// JSON string of a file name or reason. Names that are no UTF-8 are written with U+FFFD for
// the bytes that are not, so that the report stays a valid document.
std::string JsonString(const std::string& text) {
  const std::string valid = utf8::IsValid(text) ? text : utf8::Encode(utf8::Decode(text));
  std::string out = "\"";
  for (unsigned char c : valid) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* StatusName(TConvertStatus status) {
  switch (status) {
  case TConvertStatus::Converted:
    return "converted";
  case TConvertStatus::Failed:
    return "failed";
  case TConvertStatus::Skipped:
    return "skipped";
  }
  return "failed";
}

// The whole run: the walk on the calling thread, the conversions on the workers.
class TBatchRun {
public:
  TBatchRun(const TConvertOptions& options) : options_(options), queue_(256) {}

  TConvertSummary Run(const std::vector<std::string>& paths);

private:
  bool Prepare(TConvertSummary& summary);
  void Walk(const std::vector<std::string>& paths);
  bool Enqueue(TJob job);
  void WalkFolder(const fs::path& root);
  // What one worker keeps between its files.
  struct TWorker {
    std::string folderKey;      // what gave folder: the input's folder, or the one below Out
    fs::path folder;            // the output folder of the last file
    TFolderHandle outputFolder; // the folder the last unnamed output was made in
    TFolderHandle inputFolder;  // the folder of the last input
    // Small messages framed for the mbox wait here to be written together: one lock and one
    // write for many. Their results wait with them, so that none counts before it is written.
    std::string mboxPending;
    std::vector<TConvertResult> mboxResults;
    bool resultWaits = false; // the last Convert left its result to FlushMbox
  };
  void FlushMbox(TWorker& worker);
  void Work();
  TConvertResult Convert(const TJob& job, TWorker& worker);
  std::string WriteFile(const TQvMessage& message, const TJob& job, TWorker& worker);
  void AppendToMbox(const std::string& framed);
  std::string WriteToMaildir(const std::string& content, bool seen);
  void Finish(const TConvertResult& result);
  bool Cancelled() const { return options_.Cancel && options_.Cancel->load(); }
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  void WriteReportEnd(TConvertSummary& summary);

  const TConvertOptions& options_;
  TJobQueue queue_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

  // The output itself, left out of the walk.
  std::optional<fs::path> outCanonical_;
  fs::path outFolder_;

  std::mutex mboxMutex_;
  int mboxFd_ = -1;
  std::string mboxTemp_;
  std::string mboxTarget_;
  std::atomic<uint64_t> maildirSequence_{0};

  std::mutex resultMutex_;
  TConvertProgress progress_;
  std::FILE* report_ = nullptr;
  std::string reportTemp_;
  bool reportFirst_ = true;
};

bool TBatchRun::Prepare(TConvertSummary& summary) {
  std::error_code ec;
  const bool fileFormat =
      options_.Format != TConvertFormat::Mbox && options_.Format != TConvertFormat::Maildir;
  if (!fileFormat && options_.Out.empty()) {
    summary.Error = std::string("the ") + ConvertFormatName(options_.Format) +
                    " output needs a target: --out " +
                    (options_.Format == TConvertFormat::Mbox ? "FILE" : "FOLDER");
    return false;
  }
  if (options_.Format == TConvertFormat::Mbox) {
    fs::path target(options_.Out);
    if (fs::is_directory(target, ec)) {
      summary.Error = options_.Out + " is a folder; the mbox output is a file";
      return false;
    }
    outFolder_ = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(outFolder_, ec)) {
      summary.Error = "no folder " + outFolder_.string() + " to write " + options_.Out + " in";
      return false;
    }
    // The mbox's name is taken at once (an empty mbox until the run ends, when the whole one
    // replaces it), so that the report can name it.
    try {
      std::string stem = target.stem().string();
      std::string extension = target.extension().string();
      if (stem.empty()) {
        stem = target.filename().string();
        extension.clear();
      }
      mboxTarget_ = ClaimFreeName(target.parent_path(), stem, extension);
      mboxTemp_ = MakeTempFile(outFolder_, target.filename().string());
    } catch (const std::exception& e) {
      if (!mboxTarget_.empty())
        ::unlink(mboxTarget_.c_str());
      summary.Error = e.what();
      return false;
    }
    mboxFd_ = ::open(mboxTemp_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (mboxFd_ < 0) {
      summary.Error = "Unable to write to " + options_.Out + ": " + ErrnoText(errno);
      ::unlink(mboxTemp_.c_str());
      ::unlink(mboxTarget_.c_str());
      return false;
    }
  } else if (!options_.Out.empty()) {
    outFolder_ = options_.Out;
    fs::create_directories(outFolder_, ec);
    if (options_.Format == TConvertFormat::Maildir)
      for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(outFolder_ / sub, ec);
    if (!fs::is_directory(outFolder_, ec) ||
        (options_.Format == TConvertFormat::Maildir && !fs::is_directory(outFolder_ / "cur", ec))) {
      summary.Error = "Unable to create the folder " + options_.Out;
      return false;
    }
    outCanonical_ = fs::canonical(outFolder_, ec);
    if (ec)
      outCanonical_.reset();
  }
  if (!options_.ReportFile.empty()) {
    const fs::path report(options_.ReportFile);
    try {
      reportTemp_ = MakeTempFile(report.has_parent_path() ? report.parent_path() : fs::path("."),
                                 report.filename().string());
    } catch (const std::exception& e) {
      summary.Error = std::string(e.what()) + " (the report " + options_.ReportFile + ")";
      return false;
    }
    report_ = std::fopen(reportTemp_.c_str(), "wb");
    if (!report_) {
      summary.Error = "Unable to write to " + options_.ReportFile;
      return false;
    }
    std::fprintf(report_, "{\n  \"format\": %s,\n  \"output\": %s,\n  \"files\": [",
                 JsonString(ConvertFormatName(options_.Format)).c_str(),
                 JsonString(mboxTarget_.empty() ? options_.Out : mboxTarget_).c_str());
  }
  return true;
}

bool TBatchRun::Enqueue(TJob job) {
  if (Cancelled())
    return false;
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    ++progress_.Found;
  }
  return queue_.Push(std::move(job));
}

void TBatchRun::WalkFolder(const fs::path& root) {
  // One folder's names at a time, taken before any of its files is converted: outputs written
  // beside their inputs are then never found as inputs of the same run.
  std::vector<fs::path> folders{fs::path()};
  while (!folders.empty() && !Cancelled()) {
    const fs::path relative = folders.back();
    folders.pop_back();
    const fs::path folder = root / relative;
    std::error_code ec;
    if (outCanonical_ && fs::canonical(folder, ec) == *outCanonical_)
      continue;
    std::vector<std::string> files;
    std::vector<fs::path> subfolders;
    fs::directory_iterator it(folder, ec);
    if (ec) {
      {
        std::lock_guard<std::mutex> lock(resultMutex_);
        ++progress_.Found;
      }
      Finish({folder.string(),
              TConvertStatus::Failed,
              {},
              "Unable to list the folder: " + ec.message()});
      continue;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec)
        break;
      const fs::directory_entry& entry = *it;
      std::error_code kindError;
      if (entry.is_symlink(kindError) && entry.is_directory(kindError))
        continue; // links to folders could lead in circles
      if (entry.is_directory(kindError)) {
        if (options_.Recursive)
          subfolders.push_back(relative / entry.path().filename());
      } else if (entry.path().filename().string().front() != '.') {
        files.push_back(entry.path().filename().string());
      }
    }
    std::sort(files.begin(), files.end());
    for (const std::string& name : files)
      if (!Enqueue({(folder / name).string(), relative, false}))
        return;
    // Sorted backwards on the stack, so that folders are walked in name order.
    std::sort(subfolders.rbegin(), subfolders.rend());
    folders.insert(folders.end(), subfolders.begin(), subfolders.end());
  }
}

void TBatchRun::Walk(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (Cancelled())
      return;
    if (path == "-") {
      if (!options_.NameList)
        continue;
      char* buffer = nullptr;
      size_t room = 0;
      ssize_t length;
      bool more = true;
      while (more && (length = ::getline(&buffer, &room, options_.NameList)) >= 0) {
        std::string line(buffer, static_cast<size_t>(length));
        if (!line.empty() && line.back() == '\n')
          line.pop_back();
        if (!line.empty() && line.back() == '\r')
          line.pop_back();
        if (!line.empty() && !Enqueue({line, NamedRelativeFolder(line), true}))
          more = false;
      }
      std::free(buffer);
      if (!more)
        return;
      continue;
    }
    std::error_code ec;
    if (fs::is_directory(path, ec))
      WalkFolder(path);
    else if (!Enqueue({path, NamedRelativeFolder(path), true}))
      return;
  }
}

void TBatchRun::Finish(const TConvertResult& result) {
  std::lock_guard<std::mutex> lock(resultMutex_);
  switch (result.Status) {
  case TConvertStatus::Converted:
    ++progress_.Converted;
    break;
  case TConvertStatus::Failed:
    ++progress_.Failed;
    break;
  case TConvertStatus::Skipped:
    ++progress_.Skipped;
    break;
  }
  progress_.Seconds = Elapsed();
  if (report_) {
    std::string entry = reportFirst_ ? "\n    {" : ",\n    {";
    reportFirst_ = false;
    entry += "\"input\": " + JsonString(result.Input) + ", \"status\": \"" +
             StatusName(result.Status) + "\"";
    if (!result.Output.empty())
      entry += ", \"output\": " + JsonString(result.Output);
    if (!result.Reason.empty())
      entry += ", \"reason\": " + JsonString(result.Reason);
    entry += "}";
    std::fputs(entry.c_str(), report_);
  }
  if (options_.OnFile)
    options_.OnFile(result, progress_);
}

std::string TBatchRun::WriteFile(const TQvMessage& message, const TJob& job, TWorker& worker) {
  // Files of one folder come one after the other: their output folder is found, and made, once.
  const std::string_view inputFile = FileNamePart(job.Input);
  const std::string_view folderKey =
      options_.Out.empty()
          ? std::string_view(job.Input).substr(0, job.Input.size() - inputFile.size())
          : std::string_view(job.RelativeFolder.native());
  if (worker.folderKey != folderKey || worker.folder.empty()) {
    worker.folderKey.assign(folderKey);
    worker.folder.clear();
    if (options_.Out.empty()) {
      const fs::path input(job.Input);
      worker.folder = input.has_parent_path() ? input.parent_path() : fs::path(".");
    } else {
      const fs::path folder = outFolder_ / job.RelativeFolder;
      std::error_code ec;
      fs::create_directories(folder, ec);
      if (!fs::is_directory(folder, ec))
        throw EMSGError("Unable to create the folder " + folder.string());
      worker.folder = folder;
    }
  }
  const fs::path& folder = worker.folder;
  std::string stem(inputFile.substr(0, ExtensionStart(inputFile)));
  if (stem.empty())
    stem = std::string(inputFile);
  const bool eml = options_.Format == TConvertFormat::Eml;
  if (eml) {
    const int folderFd = worker.outputFolder.For(folder);
    const int unnamed = folderFd >= 0 ? OpenUnnamedFile(folderFd) : -1;
    // A folder that went away since it was opened is made again on the path below.
    if (unnamed < 0)
      worker.outputFolder.Close();
    if (unnamed >= 0) {
      std::string name;
      try {
        // Straight into the file: the file writer would make a temporary of its own.
        TFdStream file(unnamed, folder.native());
        SaveToEML(message.Properties(), &file);
        name = LinkToFreeName(unnamed, folderFd, folder, stem, options_.Extension);
      } catch (...) {
        ::close(unnamed);
        throw;
      }
      if (::close(unnamed) != 0) {
        const int error = errno;
        ::unlink(name.c_str());
        throw EMSGError("Unable to write to " + name + ": " + ErrnoText(error));
      }
      return name;
    }
  }
  int fd = -1;
  std::string temp;
  try {
    temp = MakeTempFile(folder, stem + options_.Extension, eml ? &fd : nullptr);
  } catch (const EMSGError&) {
    if (options_.Out.empty())
      throw;
    // The folder went away since it was made: make it again.
    std::error_code ec;
    fs::create_directories(folder, ec);
    temp = MakeTempFile(folder, stem + options_.Extension, eml ? &fd : nullptr);
  }
  try {
    switch (options_.Format) {
    case TConvertFormat::Eml: {
      // Straight into the temporary: the file writer would make a temporary of its own.
      TFdStream file(fd, temp);
      SaveToEML(message.Properties(), &file);
      ::fchmod(fd, OrdinaryMode());
      const int closing = fd;
      fd = -1;
      if (::close(closing) != 0)
        throw EMSGError("Unable to write to " + temp + ": " + ErrnoText(errno));
      break;
    }
    case TConvertFormat::Msg:
      message.SaveToMSG(temp, options_.FullProperties);
      break;
    case TConvertFormat::Txt:
      message.SaveToTXTFile(temp, options_.FullProperties);
      break;
    case TConvertFormat::Html:
      message.SaveToHTMLFile(temp, options_.FullProperties);
      break;
    case TConvertFormat::Xml:
      message.SaveToXMLFile(temp, options_.FullProperties);
      break;
    case TConvertFormat::Ics:
      SaveToICSFile(message.Properties(), temp);
      break;
    case TConvertFormat::Vcf:
      SaveToVCFFile(message.Properties(), temp);
      break;
    case TConvertFormat::Pdf: {
      const TPdfWriter writer = GetPdfWriter();
      if (!writer)
        throw EMSGError("PDF output needs the window module, which is not loaded");
      writer(message.Properties(), temp);
      break;
    }
    case TConvertFormat::Mbox:
    case TConvertFormat::Maildir:
      break;
    }
    if (!eml)
      GiveOrdinaryMode(temp);
    return RenameToFreeName(temp, folder, stem, options_.Extension);
  } catch (...) {
    if (fd >= 0)
      ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
}

void TBatchRun::AppendToMbox(const std::string& framed) {
  // One write per message under the lock: messages never interleave, and a failed write leaves
  // the mbox ending at the last whole message.
  std::lock_guard<std::mutex> lock(mboxMutex_);
  const off_t end = ::lseek(mboxFd_, 0, SEEK_END);
  try {
    WriteAll(mboxFd_, framed, options_.Out);
  } catch (...) {
    if (end >= 0 && ::ftruncate(mboxFd_, end) != 0) {
      // The next message is then written after the partial one; its "From " line still begins a
      // message for every reader.
    }
    throw;
  }
}

std::string TBatchRun::WriteToMaildir(const std::string& content, bool seen) {
  const std::string name = MaildirUniqueName(maildirSequence_.fetch_add(1));
  const std::string temp = (outFolder_ / "tmp" / name).string();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    throw EMSGError("Unable to write to " + temp + ": " + ErrnoText(errno));
  try {
    WriteAll(fd, content, temp);
    if (::close(fd) != 0)
      throw EMSGError("Unable to write to " + temp + ": " + ErrnoText(errno));
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  try {
    return RenameToFreeName(temp, outFolder_ / "cur", name, seen ? ":2,S" : ":2,");
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

TConvertResult TBatchRun::Convert(const TJob& job, TWorker& worker) {
  TConvertResult result;
  result.Input = job.Input;
  try {
    const TInputName input = ReachInput(job.Input, worker.inputFolder);
    struct stat info {};
    if (::fstatat(input.folder, input.name, &info, 0) != 0) {
      result.Reason = "File " + job.Input + " is not found.";
      return result;
    }
    if (!S_ISREG(info.st_mode)) {
      result.Status = TConvertStatus::Skipped;
      result.Reason = "not a regular file";
      return result;
    }
    const std::string ext = LowerExtension(job.Input);
    // A file found in a folder is a message by its extension, or by its content when it has
    // none; a file named directly by its content too.
    const bool byExtension = IsMessageExtension(ext);
    TMessageFileKind kind = TMessageFileKind::Unknown;
    if (!byExtension && (job.Named || ext.empty()))
      kind = DetectMessageFileKind(job.Input);
    if (!byExtension && kind == TMessageFileKind::Unknown) {
      result.Status = TConvertStatus::Skipped;
      result.Reason = "not a message";
      return result;
    }
    std::string image;
    const bool haveImage =
        info.st_size <= kReadWholeLimit && ReadFileImage(input, job.Input, info.st_size, image);
    if (byExtension)
      kind = haveImage ? DetectMessageKind(std::string_view(image).substr(0, kMessageKindHeadSize))
                       : DetectMessageFileKind(job.Input);
    std::unique_ptr<TQvMessage> reader = CreateMessageReader(job.Input, kind);
    const bool mailbox =
        options_.Format == TConvertFormat::Mbox || options_.Format == TConvertFormat::Maildir;
    // An Internet message goes into a mailbox as it was received; every other message as our
    // EML.
    const bool internet = typeid(*reader) == typeid(TQvEMLFile);
    std::string content;
    if (!haveImage) {
      reader->LoadFromFile(job.Input);
    } else if (internet && mailbox) {
      content = image;
      reader->LoadFromFileImage(job.Input, std::move(image));
    } else {
      reader->LoadFromFileImage(job.Input, std::move(image));
    }
    // An item of another kind than the format holds is no input of this run.
    if (options_.Format == TConvertFormat::Ics && !HasICalendar(reader->Properties())) {
      result.Status = TConvertStatus::Skipped;
      result.Reason = NotACalendarItemMessage(reader->Properties());
      return result;
    }
    if (options_.Format == TConvertFormat::Vcf && !HasVCard(reader->Properties())) {
      result.Status = TConvertStatus::Skipped;
      result.Reason = NotAContactMessage(reader->Properties());
      return result;
    }

    if (!mailbox) {
      result.Output = WriteFile(*reader, job, worker);
    } else {
      if (internet) {
        if (!haveImage)
          content = ReadWholeFile(job.Input);
      } else {
        TMemoryStream stream;
        SaveToEML(reader->Properties(), &stream);
        content = stream.TakeData();
      }
      if (options_.Format == TConvertFormat::Mbox) {
        const std::string fromLine =
            MboxFromLine(MboxEnvelopeSender(reader->Properties()),
                         MessageUnixSeconds(reader->Properties(), info.st_mtime));
        reader.reset();
        std::string framed = MboxrdMessage(fromLine, content, !internet);
        content.clear();
        content.shrink_to_fit();
        result.Output = mboxTarget_;
        if (framed.size() >= kMboxBatchBytes) {
          // A large message goes on its own, never copied into the batch.
          FlushMbox(worker);
          AppendToMbox(framed);
        } else {
          worker.mboxPending += framed;
          worker.resultWaits = true;
        }
      } else {
        // Messages that carry no read state (Internet messages) count as read.
        const TMSGProperty* flags =
            reader->Properties().FindProperty(TAG_MESSAGE_FLAGS, false, false);
        const bool seen = flags == nullptr || (flags->Value.ToInt64() & MSGFLAG_READ) != 0;
        reader.reset();
        result.Output = WriteToMaildir(MaildirMessage(content, !internet), seen);
      }
    }
    result.Status = TConvertStatus::Converted;
  } catch (const std::bad_alloc&) {
    result.Status = TConvertStatus::Failed;
    result.Reason = "out of memory";
  } catch (const std::exception& e) {
    result.Status = TConvertStatus::Failed;
    result.Reason = e.what();
  }
  return result;
}

void TBatchRun::FlushMbox(TWorker& worker) {
  if (worker.mboxResults.empty())
    return;
  std::string failure;
  try {
    AppendToMbox(worker.mboxPending);
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  } catch (const std::exception& e) {
    failure = e.what();
  }
  worker.mboxPending.clear();
  for (TConvertResult& result : worker.mboxResults) {
    if (!failure.empty()) {
      result.Status = TConvertStatus::Failed;
      result.Reason = failure;
      result.Output.clear();
    }
    Finish(result);
  }
  worker.mboxResults.clear();
}

void TBatchRun::Work() {
  // Each worker keeps a descriptor table of its own (a copy of the process's at its start): the
  // kernel then takes no lock shared with the other workers to open and close its files, nor
  // counts each use of a descriptor against them. Whatever a worker opens is therefore its own
  // and is closed before its job ends; the files all share (standard streams, the mbox, the
  // report) were opened before the workers started. Where the call is refused, the table stays
  // shared, which is only slower.
  const bool ownTable = ::unshare(CLONE_FILES) == 0;
  const int reportFd = report_ ? ::fileno(report_) : -1;
  TWorker worker;
  while (std::optional<TJob> job = queue_.Pop()) {
    if (Cancelled())
      break;
    TConvertResult result = Convert(*job, worker);
    if (worker.resultWaits) {
      worker.resultWaits = false;
      worker.mboxResults.push_back(std::move(result));
      if (worker.mboxPending.size() >= kMboxBatchBytes)
        FlushMbox(worker);
    } else {
      Finish(result);
    }
  }
  FlushMbox(worker);
  // This table's copies of the shared files go now, so that the run's own close of the mbox and
  // the report is the last one, whose failure it sees.
  if (ownTable) {
    if (mboxFd_ >= 0)
      ::close(mboxFd_);
    if (reportFd >= 0)
      ::close(reportFd);
  }
  // The walk may be waiting for room in the queue.
  if (Cancelled())
    queue_.Close();
}

void TBatchRun::WriteReportEnd(TConvertSummary& summary) {
  if (!report_)
    return;
  const TConvertProgress& t = summary.Totals;
  std::fprintf(report_,
               "%s],\n  \"converted\": %llu,\n  \"failed\": %llu,\n  \"skipped\": %llu,\n"
               "  \"cancelled\": %s,\n  \"seconds\": %.3f\n}\n",
               reportFirst_ ? "" : "\n  ", static_cast<unsigned long long>(t.Converted),
               static_cast<unsigned long long>(t.Failed),
               static_cast<unsigned long long>(t.Skipped), summary.Cancelled ? "true" : "false",
               t.Seconds);
  const bool ok = std::fflush(report_) == 0 && !std::ferror(report_);
  std::fclose(report_);
  report_ = nullptr;
  GiveOrdinaryMode(reportTemp_);
  if (!ok || std::rename(reportTemp_.c_str(), options_.ReportFile.c_str()) != 0) {
    ::unlink(reportTemp_.c_str());
    if (summary.Error.empty())
      summary.Error = "Unable to write to " + options_.ReportFile;
  }
}

TConvertSummary TBatchRun::Run(const std::vector<std::string>& paths) {
  TConvertSummary summary;
  if (paths.empty()) {
    summary.Error = "no file or folder to convert";
    return summary;
  }
  if (!Prepare(summary)) {
    if (report_)
      std::fclose(report_);
    if (!reportTemp_.empty())
      ::unlink(reportTemp_.c_str());
    if (mboxFd_ >= 0) {
      ::close(mboxFd_);
      ::unlink(mboxTemp_.c_str());
      ::unlink(mboxTarget_.c_str());
    }
    return summary;
  }
  summary.Started = true;
  OrdinaryMode(); // read before any worker creates a file
  unsigned jobs = options_.Jobs ? options_.Jobs : std::thread::hardware_concurrency();
  jobs = std::clamp(jobs, 1u, 256u);
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs; ++i)
    workers.emplace_back([this] { Work(); });
  Walk(paths);
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    progress_.Listed = true;
  }
  if (Cancelled())
    queue_.Close();
  else
    queue_.Finish();
  for (std::thread& w : workers)
    w.join();
  summary.Cancelled = Cancelled();
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    progress_.Seconds = Elapsed();
    summary.Totals = progress_;
  }
  if (mboxFd_ >= 0) {
    const bool ok = ::close(mboxFd_) == 0;
    mboxFd_ = -1;
    GiveOrdinaryMode(mboxTemp_);
    if (ok && std::rename(mboxTemp_.c_str(), mboxTarget_.c_str()) == 0) {
      summary.Output = mboxTarget_;
    } else {
      summary.Error = "Unable to write to " + mboxTarget_ + ": " + ErrnoText(errno);
      ::unlink(mboxTemp_.c_str());
      ::unlink(mboxTarget_.c_str());
    }
  } else if (options_.Format == TConvertFormat::Maildir) {
    summary.Output = options_.Out;
  }
  WriteReportEnd(summary);
  return summary;
}

} // namespace

bool ParseConvertFormat(const std::string& word, TConvertFormat& format, std::string& extension) {
  const std::string w = Lower(word);
  struct Entry {
    const char* word;
    TConvertFormat format;
    const char* extension;
  };
  static const Entry kFormats[] = {
      {"eml", TConvertFormat::Eml, ".eml"},    {"msg", TConvertFormat::Msg, ".msg"},
      {"txt", TConvertFormat::Txt, ".txt"},    {"htm", TConvertFormat::Html, ".htm"},
      {"html", TConvertFormat::Html, ".html"}, {"xml", TConvertFormat::Xml, ".xml"},
      {"ics", TConvertFormat::Ics, ".ics"},    {"vcf", TConvertFormat::Vcf, ".vcf"},
      {"pdf", TConvertFormat::Pdf, ".pdf"},    {"mbox", TConvertFormat::Mbox, ""},
      {"maildir", TConvertFormat::Maildir, ""}};
  for (const Entry& e : kFormats) {
    if (w == e.word) {
      format = e.format;
      extension = e.extension;
      return true;
    }
  }
  return false;
}

const char* ConvertFormatName(TConvertFormat format) {
  switch (format) {
  case TConvertFormat::Eml:
    return "eml";
  case TConvertFormat::Msg:
    return "msg";
  case TConvertFormat::Txt:
    return "txt";
  case TConvertFormat::Html:
    return "html";
  case TConvertFormat::Xml:
    return "xml";
  case TConvertFormat::Ics:
    return "ics";
  case TConvertFormat::Vcf:
    return "vcf";
  case TConvertFormat::Pdf:
    return "pdf";
  case TConvertFormat::Mbox:
    return "mbox";
  case TConvertFormat::Maildir:
    return "maildir";
  }
  return "eml";
}

TConvertSummary ConvertFiles(const std::vector<std::string>& paths,
                             const TConvertOptions& options) {
  TBatchRun run(options);
  return run.Run(paths);
}

} // namespace orlendo
