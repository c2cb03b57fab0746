// Peak memory of reading a hostile message and writing it to each output format, as
// `quillet FILE /E FORMAT` does: a 20 MB Subject on one line, with and without blanks (a word
// too long to fold must be written as encoded-words). Goal: the peak stays within 4 times the
// file size plus 64 MB, as for the reader alone.
//
// Counters: file_MB, peak_MB and goal_MB; peak_MB above goal_MB misses the goal.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "export/eml_writer.h"
#include "export/outlook_message.h"
#include "export/report_writers.h"
#include "mime/qvemlfile.h"
#include "msg/msg_writer.h"
#include "peak_memory.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

// A private folder for the input and the outputs, removed at exit.
class Folder {
public:
  static Folder& Get() {
    static Folder folder;
    return folder;
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "orlendo-writermem-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      path_ = pattern;
  }
  std::string path_;
};

// A message whose Subject is `size` bytes of `piece` repeated on one line.
std::string LongSubject(const std::string& name, size_t size, const std::string& piece) {
  const std::string path = Folder::Get().File(name);
  if (!fs::exists(path)) {
    std::string text = "From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: ";
    text.reserve(size + 200);
    while (text.size() < size)
      text += piece;
    text += "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n";
    std::ofstream(path, std::ios::binary) << text;
  }
  return path;
}

using Writer = std::function<void(const TMSGProperties&, const std::string&)>;

void PeakOfExport(benchmark::State& state, const std::string& input, const Writer& write) {
  const double fileMB = static_cast<double>(fs::file_size(input)) / (1 << 20);
  const std::string output = Folder::Get().File("out");
  double peakMB = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const long before = StatusKB("VmRSS");
    if (!ResetHighWaterMark() || before < 0) {
      state.SkipWithError("the resident high-water mark cannot be reset here");
      return;
    }
    {
      TQvEMLFile reader;
      reader.LoadFromFile(input);
      write(reader.Properties(), output);
      peakMB = std::max(peakMB, static_cast<double>(StatusKB("VmHWM") - before) / 1024);
    }
    std::error_code ec;
    fs::remove(output, ec);
  }
  state.counters["file_MB"] = fileMB;
  state.counters["peak_MB"] = peakMB;
  state.counters["goal_MB"] = 4 * fileMB + 64;
}

const std::pair<const char*, Writer> kFormats[] = {
    {"none", [](const TMSGProperties&, const std::string&) {}},
    {"eml", [](const TMSGProperties& p, const std::string& f) { SaveToEMLFile(p, f); }},
    {"txt", [](const TMSGProperties& p, const std::string& f) { SaveToTXTFile(p, f, true); }},
    {"html", [](const TMSGProperties& p, const std::string& f) { SaveToHTMLFile(p, f, true); }},
    {"xml", [](const TMSGProperties& p, const std::string& f) { SaveToXMLFile(p, f, true); }},
    // As quillet writes an Internet message: in the Outlook form.
    {"msg",
     [](const TMSGProperties& p, const std::string& f) { SaveInternetMessageToMSG(p, f, true); }},
};

void BM_WriterPeakLongSubject(benchmark::State& state) {
  const auto& [name, write] = kFormats[state.range(0)];
  state.SetLabel(name);
  PeakOfExport(state, LongSubject("subject_words.eml", 20u << 20, "word "), write);
}
BENCHMARK(BM_WriterPeakLongSubject)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_WriterPeakLongSubjectOneWord(benchmark::State& state) {
  const auto& [name, write] = kFormats[state.range(0)];
  state.SetLabel(name);
  PeakOfExport(state, LongSubject("subject_one_word.eml", 20u << 20, "x"), write);
}
BENCHMARK(BM_WriterPeakLongSubjectOneWord)
    ->DenseRange(0, 5)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace
} // namespace orlendo
