// Peak memory of the Internet reader on hostile messages, read from a file as the program reads
// them: huge folded headers, address lists of every length, repeated headers, thousands of tiny
// parts, a body on one line, a body of nothing but line ends, and the 20 MB message of base64
// attachments. Goal: the peak stays within 4 times
// the file size plus 64 MB.
//
// The peak is the process's resident high-water mark during the load, over what was resident
// before it (Linux resets the mark through /proc/self/clear_refs; freed heap is trimmed first).
// Counters: file_MB, peak_MB and goal_MB; peak_MB above goal_MB misses the goal.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "big_eml.h"
#include "mime/qvemlfile.h"
#include "peak_memory.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

// The input files, written once per run into a private folder that goes away at exit.
class HostileInputs {
public:
  static HostileInputs& Get() {
    static HostileInputs inputs;
    return inputs;
  }
  ~HostileInputs() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  // The path of the file `name`, made by `make` on first use.
  std::string File(const std::string& name, const std::function<std::string()>& make) {
    const std::string path = folder_ + "/" + name;
    if (!fs::exists(path)) {
      const std::string text = make();
      std::ofstream(path, std::ios::binary) << text;
    }
    return path;
  }

private:
  HostileInputs() {
    std::string pattern = (fs::temp_directory_path() / "orlendo-mimemem-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      folder_ = pattern;
  }
  std::string folder_;
};

// A header of `size` bytes folded over lines that each continue it with `piece`.
std::string FoldedHeader(const std::string& name, size_t size, const std::string& piece) {
  std::string text = "Subject: folded\r\n" + name + ": " + piece;
  while (text.size() < size)
    text += "\r\n " + piece;
  return text + "\r\n\r\nbody\r\n";
}

std::string OneLineBody(size_t size) {
  std::string text = "Subject: one line\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  text.append(size - text.size() - 2, 'x');
  return text + "\r\n";
}

// The same as the HTML alternative of a multipart message, in quoted-printable with bytes that
// are not UTF-8, so that the body is repaired, decoded and promoted.
std::string OneLineAlternative(size_t size) {
  std::string text = "Subject: one line\r\nContent-Type: multipart/alternative; boundary=A\r\n\r\n"
                     "--A\r\nContent-Type: text/html; charset=utf-8\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n<html>";
  while (text.size() + 12 < size)
    text += "x=FFy";
  return text + "\r\n--A--\r\n";
}

std::string LineEndsOnly(size_t size) {
  std::string text = "Subject: empty lines\n\n";
  text.append(size - text.size(), '\n');
  return text;
}

void PeakOfLoad(benchmark::State& state, const std::string& name,
                const std::function<std::string()>& make) {
  const std::string path = HostileInputs::Get().File(name, make);
  const double fileMB = static_cast<double>(fs::file_size(path)) / (1 << 20);
  double peakMB = 0;
  for (auto _ : state) {
    // What earlier loads freed goes back to the system first, so that it does not hide this
    // load's growth.
    malloc_trim(0);
    const long before = StatusKB("VmRSS");
    if (!ResetHighWaterMark() || before < 0) {
      state.SkipWithError("the resident high-water mark cannot be reset here");
      return;
    }
    {
      TQvEMLFile reader;
      reader.LoadFromFile(path);
      benchmark::DoNotOptimize(reader.Properties().Count());
      peakMB = std::max(peakMB, static_cast<double>(StatusKB("VmHWM") - before) / 1024);
    }
  }
  state.counters["file_MB"] = fileMB;
  state.counters["peak_MB"] = peakMB;
  state.counters["goal_MB"] = 4 * fileMB + 64;
}

void BM_ReaderPeakFoldedTo(benchmark::State& state) {
  PeakOfLoad(state, "folded_to.eml",
             [] { return FoldedHeader("To", 3400000, "Some One <some.one@example.com>,"); });
}
BENCHMARK(BM_ReaderPeakFoldedTo)->Unit(benchmark::kMillisecond)->Iterations(3);

// The shortest addresses on one line, in numbers far past the recipient entries the reader makes,
// and as many as it still makes entries for.
std::string ShortAddresses(size_t count) {
  std::string text = "Subject: short addresses\r\nTo: a@b";
  for (size_t i = 1; i < count; ++i)
    text += ",a@b";
  return text + "\r\n\r\nbody\r\n";
}

void BM_ReaderPeakShortAddresses(benchmark::State& state) {
  PeakOfLoad(state, "short_addresses.eml", [] { return ShortAddresses(850000); });
}
BENCHMARK(BM_ReaderPeakShortAddresses)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakAddressesAtTheLimit(benchmark::State& state) {
  PeakOfLoad(state, "limit_addresses.eml",
             [] { return ShortAddresses(TQvEMLFile::kMaxRecipientEntries); });
}
BENCHMARK(BM_ReaderPeakAddressesAtTheLimit)->Unit(benchmark::kMillisecond)->Iterations(3);

// Parts of ten bytes, and parts that each carry every header the reader stores, to the size of
// the folded headers.
std::string ManyParts(size_t size, const std::string& headers) {
  std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
  while (text.size() < size)
    text += "--b\r\n" + headers + "\r\nx\r\n";
  return text + "--b--\r\n";
}

void BM_ReaderPeakEmptyParts(benchmark::State& state) {
  PeakOfLoad(state, "empty_parts.eml", [] { return ManyParts(3400000, ""); });
}
BENCHMARK(BM_ReaderPeakEmptyParts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakPartsWithEveryHeader(benchmark::State& state) {
  PeakOfLoad(state, "header_parts.eml", [] {
    return ManyParts(3400000,
                     "Subject: s\r\nOrganization: o\r\nFrom: a@b\r\nTo: a@b\r\nCc: a@b\r\n"
                     "Bcc: a@b\r\nDate: Mon, 1 Jan 2024 00:00:00 +0000\r\nX-Priority: 1\r\n"
                     "Content-Type: text/x; name=a; charset=utf-8\r\n"
                     "Content-Location: http://a/b\r\nContent-Description: d\r\n"
                     "Content-ID: <c>\r\nMessage-ID: <m>\r\nThread-Topic: t\r\n"
                     "Thread-Index: i\r\nContent-Disposition: attachment; filename=x\r\n");
  });
}
BENCHMARK(BM_ReaderPeakPartsWithEveryHeader)->Unit(benchmark::kMillisecond)->Iterations(3);

// One short header, and one address header, repeated to the size of the folded headers.
std::string RepeatedHeader(size_t size, const std::string& line) {
  std::string text;
  while (text.size() < size)
    text += line;
  return text + "\r\nbody\r\n";
}

void BM_ReaderPeakRepeatedSubject(benchmark::State& state) {
  PeakOfLoad(state, "repeated_subject.eml",
             [] { return RepeatedHeader(3400000, "Subject: a\r\n"); });
}
BENCHMARK(BM_ReaderPeakRepeatedSubject)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakRepeatedTo(benchmark::State& state) {
  PeakOfLoad(state, "repeated_to.eml", [] { return RepeatedHeader(3400000, "To: a@b\r\n"); });
}
BENCHMARK(BM_ReaderPeakRepeatedTo)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakFoldedShortLines(benchmark::State& state) {
  PeakOfLoad(state, "folded_short.eml", [] { return FoldedHeader("X-Folded", 3400000, "w"); });
}
BENCHMARK(BM_ReaderPeakFoldedShortLines)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakOneLineBody(benchmark::State& state) {
  PeakOfLoad(state, "one_line.eml", [] { return OneLineBody(20u << 20); });
}
BENCHMARK(BM_ReaderPeakOneLineBody)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakOneLineAlternative(benchmark::State& state) {
  PeakOfLoad(state, "one_line_alternative.eml", [] { return OneLineAlternative(20u << 20); });
}
BENCHMARK(BM_ReaderPeakOneLineAlternative)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakLineEndsOnly(benchmark::State& state) {
  PeakOfLoad(state, "line_ends.eml", [] { return LineEndsOnly(20u << 20); });
}
BENCHMARK(BM_ReaderPeakLineEndsOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReaderPeakBase64Attachments(benchmark::State& state) {
  PeakOfLoad(state, "big.eml", [] { return bench::BigEml(); });
}
BENCHMARK(BM_ReaderPeakBase64Attachments)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace orlendo
