// Speed of the EML writer, in bytes of .msg file per second: a message with one 100 MB
// attachment read from disk, then written as EML to a file (the writer streams the base64 of the
// attachment) and, for comparison, read alone. The goal: writing takes at most twice as long as
// reading.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tools/message_builder.h"
#include "export/eml_writer.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "noisy_bytes.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

using bench::NoisyBytes;

// The input message and the output folder, made once per run and removed at exit.
class EmlInputs {
public:
  static EmlInputs& Get() {
    static EmlInputs inputs;
    return inputs;
  }
  ~EmlInputs() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  const std::string& Folder() const { return folder_; }
  const std::string& BigAttachment() {
    if (big_.empty()) {
      big_ = folder_ + "/big_attachment.msg";
      TQvMessage message;
      TMSGProperties& root = message.Properties();
      tools::LevelBuilder m = tools::BeginMessage<TMSGPropertyTopLevel>(root, 1, 1);
      m.Text(0x001A, "IPM.Note");
      m.Text(0x0037, "One 100 MB attachment");
      m.Text(0x0042, "Bench Sender");
      m.Text(0x0065, "sender@example.org");
      m.Text(0x0E04, "Recipient 0");
      m.Text(0x1000, "A message made for benchmarks.\r\n");
      tools::AddRecipient(root, 0, "Recipient 0", "r0@example.org", 1);
      tools::AddFileAttachment(root, 0, "data.bin", "application/octet-stream",
                               NoisyBytes(100u << 20, 7));
      tools::AddEmptyNameMap(root);
      SaveToMSG(root, big_, true);
    }
    return big_;
  }

private:
  EmlInputs() {
    std::string pattern = (fs::temp_directory_path() / "orlendo-emlbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      folder_ = pattern;
  }
  std::string folder_;
  std::string big_;
};

// Reading the message alone: the yardstick of the writer.
void BM_EmlBigAttachmentRead(benchmark::State& state) {
  const std::string& path = EmlInputs::Get().BigAttachment();
  const auto size = static_cast<int64_t>(fs::file_size(path));
  for (auto _ : state) {
    TQvMSGFile message;
    message.LoadFromFile(path);
    benchmark::DoNotOptimize(message.Properties().Count());
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_EmlBigAttachmentRead)->Unit(benchmark::kMillisecond);

// Writing the EML file of a message already read.
void BM_EmlBigAttachmentWrite(benchmark::State& state) {
  const std::string& path = EmlInputs::Get().BigAttachment();
  const auto size = static_cast<int64_t>(fs::file_size(path));
  TQvMSGFile message;
  message.LoadFromFile(path);
  const std::string target = EmlInputs::Get().Folder() + "/out.eml";
  for (auto _ : state)
    message.SaveToEMLFile(target);
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["eml_bytes"] = static_cast<double>(fs::file_size(target));
}
BENCHMARK(BM_EmlBigAttachmentWrite)->Unit(benchmark::kMillisecond);

// What quillet FILE /E eml does: the message read from disk and written to a new EML file
// (no file replaced, which makes the file system write it out at once). The goal: under 0.3 s.
void BM_EmlBigAttachmentConvert(benchmark::State& state) {
  const std::string& path = EmlInputs::Get().BigAttachment();
  const auto size = static_cast<int64_t>(fs::file_size(path));
  const std::string target = EmlInputs::Get().Folder() + "/converted.eml";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(target);
    state.ResumeTiming();
    TQvMSGFile message;
    message.LoadFromFile(path);
    TFileStream file(target, TFileStream::Create);
    SaveToEML(message.Properties(), &file);
    file.Close();
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_EmlBigAttachmentConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same into a stream that discards what it gets: the writer's own cost, without the disk.
class DiscardStream : public TStream {
public:
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void*, size_t count) override {
    written_ += static_cast<int64_t>(count);
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return written_; }
  int64_t written_ = 0;
};

void BM_EmlBigAttachmentWriteDiscarded(benchmark::State& state) {
  const std::string& path = EmlInputs::Get().BigAttachment();
  const auto size = static_cast<int64_t>(fs::file_size(path));
  TQvMSGFile message;
  message.LoadFromFile(path);
  for (auto _ : state) {
    DiscardStream out;
    SaveToEML(message.Properties(), &out);
    benchmark::DoNotOptimize(out.written_);
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_EmlBigAttachmentWriteDiscarded)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orlendo
