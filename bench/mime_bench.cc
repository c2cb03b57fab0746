// Loading a 20 MB Internet message whose size is almost all base64 attachments: the reader's
// line splitting, delimiter search and base64 decoding together. Goal: at least 200 MB/s.
#include <benchmark/benchmark.h>

#include "big_eml.h"
#include "mime/qvemlfile.h"

namespace {

void BM_LoadBigEml(benchmark::State& state) {
  const std::string message = orlendo::bench::BigEml();
  orlendo::TMemoryStream stream(message);
  orlendo::TQvEMLFile reader;
  for (auto _ : state) {
    stream.SetPosition(0);
    reader.LoadFromStream(stream);
    benchmark::DoNotOptimize(reader.Properties().AttachmentCount());
  }
  if (reader.Properties().AttachmentCount() != 4)
    state.SkipWithError("attachments lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_LoadBigEml)->Unit(benchmark::kMillisecond);

// A message of many small parts: the per-part work (header blocks, nodes, promotion checks).
void BM_LoadManySmallParts(benchmark::State& state) {
  std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
  for (int i = 0; i < 5000; ++i)
    message += "--b\r\nContent-Type: image/gif; name=\"i" + std::to_string(i) +
               ".gif\"\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlhAQABAAAAACw=\r\n";
  message += "--b--\r\n";
  orlendo::TMemoryStream stream(message);
  orlendo::TQvEMLFile reader;
  for (auto _ : state) {
    stream.SetPosition(0);
    reader.LoadFromStream(stream);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_LoadManySmallParts)->Unit(benchmark::kMillisecond);

} // namespace
