// LoadMessage to filled pages in the real window on the offscreen platform: a typical corpus
// message, the corpus message with the most recipients, and the 100 MB attachment message and
// the 20 MB one-line message of bench/generate; LoadMessage until the preview's HTML view has
// loaded the body; and selecting each top-level property of the one-line message. Each benchmark
// reports the file's size and the process's peak resident memory above what it held before the
// first load and above a window that has shown a small message; run one benchmark per process
// (--benchmark_filter) to read the peak of that file alone. Goal: any file up to 100 MB opens to
// filled pages in under 1 s, within 3 times its size.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "components/html_view.h"
#include "components/msg_panel.h"
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

// A shown window whose message boxes end the benchmark; as at start-up with a file named, the
// HTML view exists before the first load.
std::unique_ptr<TfrmMain> ShownWindow(benchmark::State& state) {
  DesktopHooks().ShowMessage = [&state](QWidget*, const QString& text) {
    state.SkipWithError(text.toStdString().c_str());
  };
  DesktopHooks().Beep = [] {};
  auto window =
      std::make_unique<TfrmMain>(std::vector<std::string>{"/NOINI", "/WIDTH=1000", "/HEIGHT=700"});
  window->show();
  window->frmMessage->FormShow();
  QApplication::processEvents();
  return window;
}

const std::string kCorpus = ORLENDO_CORPUS_DIR;
const std::string kTypical = kCorpus + "/msg/mrdr_EmailWithAttachments.msg";

void LoadToFilledPages(benchmark::State& state, const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) {
    state.SkipWithError(("missing " + file + " (run bench/generate)").c_str());
    return;
  }
  auto shown = ShownWindow(state);
  TfrmMain& window = *shown;
  const auto load = [&window](const std::string& name) {
    window.cbFileName->setEditText(QString::fromStdString(name));
    window.LoadMessage();
    window.PageControl->setCurrentWidget(window.tsProperties);
    // The pages are filled when they have been laid out and painted once.
    QApplication::processEvents();
  };
  // What the file costs is measured over a window that has shown a small message once (fonts,
  // icons and the pages' first layout), the state in which a user opens the next file.
  load(kTypical);
  const double windowMB = PeakResidentMB();
  for (auto _ : state)
    load(file);
  state.counters["file_MB"] = static_cast<double>(size) / (1024.0 * 1024.0);
  state.counters["peak_rss_over_start_MB"] = PeakResidentMB() - baselineMB;
  state.counters["peak_rss_over_window_MB"] = PeakResidentMB() - windowMB;
}

// After the load, selecting each top-level property in turn: its value and its bytes are shown,
// the largest included.
void SelectEachProperty(benchmark::State& state, const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    state.SkipWithError(("missing " + file + " (run bench/generate)").c_str());
    return;
  }
  auto shown = ShownWindow(state);
  TfrmMain& window = *shown;
  window.cbFileName->setEditText(QString::fromStdString(file));
  window.LoadMessage();
  window.PageControl->setCurrentWidget(window.tsProperties);
  QApplication::processEvents();
  auto* tree = window.tsProperties->findChild<QTreeView*>("tvProperties");
  QAbstractItemModel* model = tree != nullptr ? tree->model() : nullptr;
  if (model == nullptr) {
    state.SkipWithError("no property tree");
    return;
  }
  for (auto _ : state) {
    for (int row = 0; row < model->rowCount() && row < 200; ++row) {
      tree->setCurrentIndex(model->index(row, 0));
      QApplication::processEvents();
    }
  }
  state.counters["peak_rss_over_start_MB"] = PeakResidentMB() - baselineMB;
}

// The preview is on top, as after start-up; the iteration ends with the view's load-finished.
void LoadToHtmlShown(benchmark::State& state, const std::string& file) {
  auto shown = ShownWindow(state);
  TfrmMain& window = *shown;
  for (auto _ : state) {
    QSignalSpy loaded(window.frmMessage->wbHTMLBody, &THtmlView::LoadFinished);
    window.cbFileName->setEditText(QString::fromStdString(file));
    window.LoadMessage();
    QElapsedTimer limit;
    limit.start();
    while (loaded.isEmpty() && limit.elapsed() < 20000)
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (loaded.isEmpty()) {
      state.SkipWithError("the HTML view never finished loading");
      break;
    }
  }
}

BENCHMARK_CAPTURE(LoadToFilledPages, typical, kCorpus + "/msg/mrdr_EmailWithAttachments.msg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadToFilledPages, lots_of_recipients,
                  kCorpus + "/msg/poi_lots-of-recipients.msg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadToFilledPages, big_100MB, BenchData("big_attachment.msg"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(LoadToFilledPages, one_line_20MB, BenchData("one_line.eml"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(SelectEachProperty, select_one_line_20MB, BenchData("one_line.eml"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(LoadToHtmlShown, typical_html, kCorpus + "/msg/mrdr_EmailWithAttachments.msg")
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orlendo

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char folder[] = "/tmp/quillet-window-bench-XXXXXX";
  if (!mkdtemp(folder))
    return 1;
  setenv("XDG_CONFIG_HOME", folder, 1);
  // The web view's helper process does not start as root with its sandbox on.
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QApplication app(argc, argv);
  orlendo::baselineMB = orlendo::PeakResidentMB();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}
