// Speed of the .msg reader, in bytes of file per second: a message with one 100 MB attachment
// (read from disk and from memory), one with thousands of small storages, the largest real
// messages of the corpus, and compressed-RTF decompression.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "../tools/message_builder.h"
#include "msg/compressed_rtf.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "noisy_bytes.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

using bench::NoisyBytes;

// The input files, written once per run into a private folder that goes away at exit.
class Inputs {
public:
  static Inputs& Get() {
    static Inputs inputs;
    return inputs;
  }
  ~Inputs() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  const std::string& BigAttachment() {
    if (big_.empty()) {
      big_ = folder_ + "/big_attachment.msg";
      TQvMessage message;
      TMSGProperties& root = message.Properties();
      tools::LevelBuilder m = tools::BeginMessage<TMSGPropertyTopLevel>(root, 1, 1);
      m.Text(0x001A, "IPM.Note");
      m.Text(0x0037, "One 100 MB attachment");
      tools::AddRecipient(root, 0, "Recipient 0", "r0@example.org", 1);
      tools::AddFileAttachment(root, 0, "data.bin", "application/octet-stream",
                               NoisyBytes(100u << 20, 7));
      tools::AddEmptyNameMap(root);
      SaveToMSG(root, big_, true);
    }
    return big_;
  }
  const std::string& ManyStorages() {
    if (many_.empty()) {
      many_ = folder_ + "/many_storages.msg";
      TQvMessage message;
      TMSGProperties& root = message.Properties();
      tools::LevelBuilder m = tools::BeginMessage<TMSGPropertyTopLevel>(root, 3000, 300);
      m.Text(0x001A, "IPM.Note");
      m.Text(0x0037, "3000 recipients and 300 attachments");
      for (uint32_t i = 0; i < 3000; ++i) {
        tools::AddRecipient(root, i, "Recipient " + std::to_string(i),
                            "r" + std::to_string(i) + "@example.org", 1);
      }
      for (uint32_t i = 0; i < 300; ++i) {
        tools::AddFileAttachment(root, i, "file" + std::to_string(i) + ".bin",
                                 "application/octet-stream", NoisyBytes(3000 + 17 * i, i + 1));
      }
      tools::AddEmptyNameMap(root);
      SaveToMSG(root, many_, true);
    }
    return many_;
  }

private:
  Inputs() {
    std::string pattern = (fs::temp_directory_path() / "orlendo-msgload-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      folder_ = pattern;
  }
  std::string folder_;
  std::string big_;
  std::string many_;
};

std::string CorpusFile(const std::string& name) {
  return std::string(ORLENDO_SOURCE_DIR) + "/tests/data/corpus/msg/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void LoadFile(benchmark::State& state, const std::string& path) {
  if (!fs::exists(path)) {
    state.SkipWithError(("missing " + path).c_str());
    return;
  }
  const auto size = static_cast<int64_t>(fs::file_size(path));
  for (auto _ : state) {
    TQvMSGFile message;
    message.LoadFromFile(path);
    benchmark::DoNotOptimize(message.Properties().Count());
  }
  state.SetBytesProcessed(state.iterations() * size);
}

void BM_MsgLoadFileBigAttachment(benchmark::State& state) {
  LoadFile(state, Inputs::Get().BigAttachment());
}
BENCHMARK(BM_MsgLoadFileBigAttachment)->Unit(benchmark::kMillisecond);

void BM_MsgLoadStreamBigAttachment(benchmark::State& state) {
  const std::string image = ReadFile(Inputs::Get().BigAttachment());
  for (auto _ : state) {
    TMemoryStream stream(image);
    TQvMSGFile message;
    message.LoadFromStream(stream);
    benchmark::DoNotOptimize(message.Properties().Count());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_MsgLoadStreamBigAttachment)->Unit(benchmark::kMillisecond);

void BM_MsgLoadFileManyStorages(benchmark::State& state) {
  LoadFile(state, Inputs::Get().ManyStorages());
}
BENCHMARK(BM_MsgLoadFileManyStorages)->Unit(benchmark::kMillisecond);

void BM_MsgLoadCorpus(benchmark::State& state, const char* name) {
  LoadFile(state, CorpusFile(name));
}
BENCHMARK_CAPTURE(BM_MsgLoadCorpus, lots_of_recipients, "poi_lots-of-recipients.msg")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MsgLoadCorpus, many_embedded, "kmr_Many_entities.msg")
    ->Unit(benchmark::kMillisecond);

// Decompression of the largest RTF body of the corpus.
void BM_CompressedRtfDecode(benchmark::State& state) {
  std::string largest;
  for (const char* name :
       {"mrdr_RtfSampleEmail.msg", "omp_forward_with_attachments_and_embedded_images.msg",
        "poi_attachment_msg_inlineImg.msg"}) {
    const std::string path = CorpusFile(name);
    if (!fs::exists(path))
      continue;
    const cfb::Storage root = cfb::OpenFile(path);
    if (!root.Exists(u"__substg1.0_10090102"))
      continue;
    std::string bytes = root.OpenStream(u"__substg1.0_10090102").ReadAll();
    if (bytes.size() > largest.size())
      largest = std::move(bytes);
  }
  if (largest.empty()) {
    state.SkipWithError("no RTF body in the corpus");
    return;
  }
  int64_t produced = 0;
  for (auto _ : state) {
    const RtfStreamContent content = DecodeRtfStream(largest);
    produced += static_cast<int64_t>(content.text.size());
    benchmark::DoNotOptimize(content.text.data());
  }
  state.SetBytesProcessed(produced);
}
BENCHMARK(BM_CompressedRtfDecode);

} // namespace
} // namespace orlendo
