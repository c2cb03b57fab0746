// A message to PDF windowless, as a user runs it: the whole quillet process (start, the window
// module loaded, the offscreen platform, the web engine for HTML, the PDF written), for a typical
// HTML message with an inline image and for a plain-text one; and a batch of copies of the HTML
// message in one --convert run, where the web engine starts once (its per-file rate is the cost
// of one more message). Goal: a typical message in under 1 s.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace orlendo {
namespace {

namespace fs = std::filesystem;

std::string CorpusFile(const char* name) {
  return std::string(ORLENDO_SOURCE_DIR) + "/tests/data/corpus/" + name;
}

std::string Scratch() {
  const char* env = std::getenv("ORLENDO_BENCH_DATA");
  const std::string folder = std::string(env && *env ? env : "/tmp/orlendo-bench") + "/pdf";
  fs::create_directories(folder);
  return folder;
}

// Runs quillet with args, its output thrown away; its exit status.
int RunQuillet(const std::vector<std::string>& args) {
  std::vector<std::string> all = {QUILLET_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_MessageToPdfWindowless(benchmark::State& state, const char* file) {
  const std::string target = Scratch() + "/one.pdf";
  for (auto _ : state) {
    if (RunQuillet({CorpusFile(file), "/E", "pdf", target, "/NOINI"}) != 0) {
      state.SkipWithError("quillet failed");
      return;
    }
  }
}
BENCHMARK_CAPTURE(BM_MessageToPdfWindowless, html_with_inline_image,
                  "msg/mrdr_EmailWithAttachments.msg")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK_CAPTURE(BM_MessageToPdfWindowless, plain_text, "eml/mimekit_startrek.eml")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

void BM_BatchToPdf(benchmark::State& state) {
  const int copies = static_cast<int>(state.range(0));
  const std::string in = Scratch() + "/batch_in";
  fs::create_directories(in);
  for (int i = 0; i < copies; ++i)
    fs::copy_file(CorpusFile("msg/mrdr_EmailWithAttachments.msg"),
                  in + "/m" + std::to_string(i) + ".msg", fs::copy_options::overwrite_existing);
  for (auto _ : state) {
    state.PauseTiming();
    const std::string out = Scratch() + "/batch_out";
    fs::remove_all(out);
    state.ResumeTiming();
    if (RunQuillet({"--convert", "--to", "pdf", "--quiet", "--out", out, in}) != 0) {
      state.SkipWithError("quillet --convert failed");
      return;
    }
  }
  state.counters["files_per_s"] =
      benchmark::Counter(static_cast<double>(copies) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BatchToPdf)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace
} // namespace orlendo
