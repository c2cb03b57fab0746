// Batch conversion through the engine behind quillet --convert: the whole test corpus (.msg,
// .eml, .mht) and 10,000 generated Outlook messages, to EML files and to one mbox, on 1 and 2
// jobs. Counters: files_per_s, MB_per_s of input, and peak_MB, the process's peak resident
// memory (run one benchmark per process with --benchmark_filter to see its own peak; the goal is
// a peak that does not grow with the number of files).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../tools/message_builder.h"
#include "app/batch_convert.h"
#include "msg/msg_writer.h"
#include "noisy_bytes.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

constexpr int kGenerated = 10000;

std::string DataFolder() {
  const char* env = std::getenv("ORLENDO_BENCH_DATA");
  return env && *env ? env : "/tmp/orlendo-bench";
}

// The message of index i: a few recipients, a body, and on every tenth one a 20 KB attachment.
void WriteGenerated(const std::string& path, int i) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  const uint32_t attachments = i % 10 == 0 ? 1 : 0;
  tools::LevelBuilder m = tools::BeginMessage<TMSGPropertyTopLevel>(root, 3, attachments);
  const std::string subject = "Generated message " + std::to_string(i);
  m.Text(0x001A, "IPM.Note");
  m.Text(0x0037, subject);
  m.Text(0x0070, subject);
  m.Text(0x0C1A, "Bench Sender");
  m.Text(0x0C1F, "sender@example.org");
  m.Text(0x0042, "Bench Sender");
  m.Text(0x0065, "sender@example.org");
  m.Text(0x0E04, "Recipient 0; Recipient 1");
  std::string body;
  for (int line = 0; line < 30; ++line)
    body += "Line " + std::to_string(line) + " of a message made for the batch benchmark.\r\n";
  body += "From the archive, the end.\r\n";
  m.Text(0x1000, body);
  m.Long(0x0017, 1);
  m.Long(0x0E07, i % 3 ? 1 : 0);
  m.Long(0x3FFD, 65001);
  m.Time(0x0039, 1796983200 + i * 60);
  tools::AddRecipient(root, 0, "Recipient 0", "r0@example.org", 1);
  tools::AddRecipient(root, 1, "Recipient 1", "r1@example.org", 1);
  tools::AddRecipient(root, 2, "Recipient 2", "r2@example.org", 2);
  if (attachments)
    tools::AddFileAttachment(root, 0, "data.bin", "application/octet-stream",
                             bench::NoisyBytes(20000, static_cast<uint64_t>(i) + 1));
  tools::AddEmptyNameMap(root);
  SaveToMSG(root, path, true);
}

// The folder of generated messages, made once and kept between runs.
const std::string& GeneratedFolder() {
  static const std::string folder = [] {
    const std::string f = DataFolder() + "/convert_generated";
    const std::string done = f + "/.complete";
    if (!fs::exists(done)) {
      fs::create_directories(f);
      for (int i = 0; i < kGenerated; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%03d", i / 100);
        fs::create_directories(f + name);
        WriteGenerated(f + name + "/m" + std::to_string(i) + ".msg", i);
      }
      std::ofstream(done) << kGenerated << "\n";
    }
    return f;
  }();
  return folder;
}

const std::string& CorpusFolder() {
  static const std::string folder = std::string(ORLENDO_SOURCE_DIR) + "/tests/data/corpus";
  return folder;
}

double InputMegabytes(const std::string& folder) {
  uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file())
      bytes += e.file_size();
  return static_cast<double>(bytes) / 1e6;
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Args: the format (0 EML files, 1 one mbox) and the number of jobs.
void Convert(benchmark::State& state, const std::string& input) {
  const bool mbox = state.range(0) == 1;
  const double megabytes = InputMegabytes(input);
  std::string pattern = (fs::temp_directory_path() / "orlendo-convertbench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  uint64_t files = 0;
  int run = 0;
  for (auto _ : state) {
    TConvertOptions options;
    options.Format = mbox ? TConvertFormat::Mbox : TConvertFormat::Eml;
    options.Extension = mbox ? "" : ".eml";
    options.Out = pattern + "/" + std::to_string(run++) + (mbox ? ".mbox" : "");
    options.Recursive = true;
    options.Jobs = static_cast<unsigned>(state.range(1));
    const TConvertSummary summary = ConvertFiles({input}, options);
    files = summary.Totals.Converted;
    state.PauseTiming();
    fs::remove_all(options.Out);
    state.ResumeTiming();
  }
  fs::remove_all(pattern);
  state.counters["files"] = static_cast<double>(files);
  state.counters["files_per_s"] =
      benchmark::Counter(static_cast<double>(files) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["MB_per_s"] = benchmark::Counter(
      megabytes * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["peak_MB"] = PeakMegabytes();
}

void BM_ConvertCorpus(benchmark::State& state) {
  Convert(state, CorpusFolder());
}
BENCHMARK(BM_ConvertCorpus)
    ->ArgNames({"mbox", "jobs"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConvertGenerated(benchmark::State& state) {
  Convert(state, GeneratedFolder());
}
BENCHMARK(BM_ConvertGenerated)
    ->ArgNames({"mbox", "jobs"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

} // namespace
} // namespace orlendo
