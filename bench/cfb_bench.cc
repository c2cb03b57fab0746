// Reading a 100 MB .msg-shaped compound file: every stream through the compound-file layer,
// against reading the file's bytes once. Both report the file's size per iteration, so their
// bytes/s compare directly. The file is made in /tmp when it is missing.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "big_msg.h"
#include "msg/compound_file.h"

namespace {

using namespace orlendo::cfb;

constexpr uint64_t kAttachmentBytes = 100ull << 20;
constexpr size_t kChunk = 1 << 20;

const std::string& BigMsgPath() {
  static const std::string path = [] {
    const std::string p = "/tmp/orlendo_bench_bigmsg_100mb.msg";
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || uint64_t(st.st_size) < kAttachmentBytes ||
        !IsCompoundFile(p)) {
      orlendo::bench::GenerateBigMsg(p, kAttachmentBytes);
    }
    return p;
  }();
  return path;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return uint64_t(st.st_size);
}

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Reads every stream of the file in chunks; returns the stream bytes read. When heapPeak is
// given, it records the most heap in use after any chunk.
uint64_t ReadEveryStream(const std::string& path, std::vector<char>& buffer,
                         size_t* heapPeak = nullptr) {
  uint64_t total = 0;
  std::vector<Storage> pending{OpenFile(path)};
  while (!pending.empty()) {
    Storage s = pending.back();
    pending.pop_back();
    for (const EntryStat& e : s.Children()) {
      if (e.kind != EntryKind::Stream) {
        pending.push_back(s.OpenStorage(e.name));
        continue;
      }
      Stream stream = s.OpenStream(e.name);
      while (size_t n = stream.Read(buffer.data(), buffer.size())) {
        total += n;
        if (heapPeak)
          *heapPeak = std::max(*heapPeak, HeapInUse());
      }
    }
  }
  return total;
}

void BM_ReadFileBytesOnce(benchmark::State& state) {
  const std::string& path = BigMsgPath();
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    uint64_t total = 0;
    while (true) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n <= 0)
        break;
      total += uint64_t(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize(path)));
}
BENCHMARK(BM_ReadFileBytesOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadEveryStream(benchmark::State& state) {
  const std::string& path = BigMsgPath();
  std::vector<char> buffer(kChunk);
  uint64_t streamBytes = 0;
  for (auto _ : state) {
    streamBytes = ReadEveryStream(path, buffer);
    benchmark::DoNotOptimize(streamBytes);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize(path)));
  // Memory the reader itself needs, beyond the caller's buffer: the file is mapped, not copied.
  const size_t before = HeapInUse();
  size_t peak = before;
  ReadEveryStream(path, buffer, &peak);
  state.counters["file_MB"] = double(FileSize(path)) / (1 << 20);
  state.counters["stream_MB"] = double(streamBytes) / (1 << 20);
  state.counters["heap_growth_MB"] = double(peak - before) / (1 << 20);
}
BENCHMARK(BM_ReadEveryStream)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same through ReadAll: one allocation of each stream's size, made by the caller's choice.
void BM_ReadEveryStreamWhole(benchmark::State& state) {
  const std::string& path = BigMsgPath();
  for (auto _ : state) {
    uint64_t total = 0;
    std::vector<Storage> pending{OpenFile(path)};
    while (!pending.empty()) {
      Storage s = pending.back();
      pending.pop_back();
      for (const EntryStat& e : s.Children()) {
        if (e.kind == EntryKind::Stream) {
          total += s.OpenStream(e.name).ReadAll().size();
        } else {
          pending.push_back(s.OpenStorage(e.name));
        }
      }
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize(path)));
}
BENCHMARK(BM_ReadEveryStreamWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
