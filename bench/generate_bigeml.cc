// Writes the benchmark's large message to a file, for trying the reader (or quillet) on it:
//   bench_generate_bigeml out.eml [megabytes]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "big_eml.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [MEGABYTES]\n", argv[0]);
    return 2;
  }
  const long megabytes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20;
  if (megabytes <= 0 || megabytes > 4096) {
    std::fprintf(stderr, "MEGABYTES must be between 1 and 4096\n");
    return 2;
  }
  const std::string message = orlendo::bench::BigEml(static_cast<size_t>(megabytes) << 20);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(message.data(), 1, message.size(), out) != message.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s: %zu bytes\n", argv[1], message.size());
  return 0;
}
