// Throughput of the transfer-encoding codecs on a 1 MiB body.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "text/base64.h"
#include "text/quoted_printable.h"
#include "text/qvmsgcp.h"

namespace {

constexpr std::size_t kBodySize = 1 << 20;

std::string RandomBytes(std::size_t n) {
  std::mt19937 rng(42);
  std::string data(n, '\0');
  for (char& c : data)
    c = static_cast<char>(rng());
  return data;
}

// Mostly text with the escapes of a Latin-script mail: accents, soft breaks at 76 columns.
std::string QuotedPrintableBody(std::size_t n) {
  const std::string line =
      "Gr=C3=BC=C3=9Fe aus K=C3=B6ln, das Wetter ist sch=C3=B6n und wir gehen=\r\n"
      "spazieren. Plain ASCII text makes up most of a typical message body.\r\n";
  std::string body;
  while (body.size() < n)
    body += line;
  return body;
}

void BM_Base64Encode(benchmark::State& state) {
  const std::string data = RandomBytes(kBodySize);
  for (auto _ : state)
    benchmark::DoNotOptimize(orlendo::EncodeBase64(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64Encode);

void BM_Base64Decode(benchmark::State& state) {
  const std::string encoded = orlendo::EncodeBase64(RandomBytes(kBodySize));
  for (auto _ : state)
    benchmark::DoNotOptimize(orlendo::DecodeBase64(encoded));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_Base64Decode);

// The MIME reader's way: 4 KiB pieces through one decoder into one output.
void BM_Base64DecodeStreamed(benchmark::State& state) {
  const std::string encoded = orlendo::EncodeBase64(RandomBytes(kBodySize));
  for (auto _ : state) {
    orlendo::Base64Decoder decoder;
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); i += 4096)
      decoder.Filter(std::string_view(encoded).substr(i, 4096), out);
    decoder.Complete({}, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_Base64DecodeStreamed);

void BM_QuotedPrintableDecode(benchmark::State& state) {
  const std::string body = QuotedPrintableBody(kBodySize);
  for (auto _ : state)
    benchmark::DoNotOptimize(orlendo::DecodeQuotedPrintable(body));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_QuotedPrintableDecode);

void BM_Utf8ToWide(benchmark::State& state) {
  std::string text;
  while (text.size() < kBodySize)
    text += "Grüße aus Köln, plain ASCII text around it. ";
  for (auto _ : state)
    benchmark::DoNotOptimize(orlendo::SystemToWide(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToWide);

} // namespace
