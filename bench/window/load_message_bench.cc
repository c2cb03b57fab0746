// LoadMessage to filled pages, in the real window on the offscreen platform: a typical corpus
// message, the corpus message with the most recipients, and the 100 MB message of
// bench/generate. Each benchmark reports the file's size and the process's peak resident memory
// above what it held before the first load; run one benchmark per process
// (--benchmark_filter) to read the peak of that file alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "shell/window/desktop.h"
#include "shell/window/main_window.h"

namespace orlendo {
namespace {

double PeakResidentMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double baselineMB = 0;

std::string BenchData(const char* name) {
  const char* folder = std::getenv("ORLENDO_BENCH_DATA");
  return std::string(folder && *folder ? folder : "/tmp/orlendo-bench") + "/" + name;
}

void LoadToFilledPages(benchmark::State& state, const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) {
    state.SkipWithError(("missing " + file + " (run bench/generate)").c_str());
    return;
  }
  DesktopHooks().ShowMessage = [&state](QWidget*, const QString& text) {
    state.SkipWithError(text.toStdString().c_str());
  };
  DesktopHooks().Beep = [] {};
  TfrmMain window({"/NOINI", "/WIDTH=1000", "/HEIGHT=700"});
  window.show();
  QApplication::processEvents();
  for (auto _ : state) {
    window.cbFileName->setEditText(QString::fromStdString(file));
    window.LoadMessage();
    window.PageControl->setCurrentWidget(window.tsProperties);
    // The pages are filled when they have been laid out and painted once.
    QApplication::processEvents();
  }
  state.counters["file_MB"] = static_cast<double>(size) / (1024.0 * 1024.0);
  state.counters["peak_rss_over_start_MB"] = PeakResidentMB() - baselineMB;
}

const std::string kCorpus = ORLENDO_CORPUS_DIR;

BENCHMARK_CAPTURE(LoadToFilledPages, typical, kCorpus + "/msg/mrdr_EmailWithAttachments.msg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadToFilledPages, lots_of_recipients,
                  kCorpus + "/msg/poi_lots-of-recipients.msg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadToFilledPages, big_100MB, BenchData("big_attachment.msg"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace
} // namespace orlendo

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char folder[] = "/tmp/quillet-window-bench-XXXXXX";
  if (!mkdtemp(folder))
    return 1;
  setenv("XDG_CONFIG_HOME", folder, 1);
  QApplication app(argc, argv);
  orlendo::baselineMB = orlendo::PeakResidentMB();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}
