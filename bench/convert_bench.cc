// Batch conversion through the engine behind quillet --convert: the whole test corpus (.msg,
// .eml, .mht) and 10,000 generated Outlook messages, to EML files and to one mbox, on 1 and 2
// jobs. Counters: files_per_s, MB_per_s of input, cpu_us_per_file (all threads), and peak_MB,
// the process's peak resident memory (run one benchmark per process with --benchmark_filter to
// see its own peak; the goal is a peak that does not grow with the number of files).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/batch_convert.h"
#include "generated_messages.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

constexpr int kGenerated = 10000;

std::string DataFolder() {
  const char* env = std::getenv("ORLENDO_BENCH_DATA");
  return env && *env ? env : "/tmp/orlendo-bench";
}

// The folder of generated messages, made once and kept between runs.
const std::string& GeneratedFolder() {
  static const std::string folder = [] {
    const std::string f = DataFolder() + "/convert_generated";
    bench::MakeGeneratedFolder(f, kGenerated);
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

// User and system time of the whole process, all threads: the workers' work, which the
// benchmark's own CPU time (the main thread's) leaves out.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    TConvertOptions options;
    options.Format = mbox ? TConvertFormat::Mbox : TConvertFormat::Eml;
    options.Extension = mbox ? "" : ".eml";
    options.Out = pattern + "/" + std::to_string(run++) + (mbox ? ".mbox" : "");
    options.Recursive = true;
    options.Jobs = static_cast<unsigned>(state.range(1));
    const TConvertSummary summary = ConvertFiles({input}, options);
    files = summary.Totals.Converted;
    cpu += ProcessCpuSeconds() - before;
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
  // Process CPU time per file, in microseconds.
  state.counters["cpu_us_per_file"] =
      files ? cpu * 1e6 / (static_cast<double>(files) * static_cast<double>(state.iterations()))
            : 0.0;
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
