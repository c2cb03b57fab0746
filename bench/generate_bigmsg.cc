// Writes a .msg-shaped compound file with one large attachment (default 100 MB).
// Usage: bench_generate_bigmsg OUTPUT [MEGABYTES]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "big_msg.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT [MEGABYTES]\n", argv[0]);
    return 2;
  }
  const long mb = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 100;
  if (mb <= 0 || mb > 2000) {
    std::fprintf(stderr, "MEGABYTES must be between 1 and 2000\n");
    return 2;
  }
  try {
    orlendo::bench::GenerateBigMsg(argv[1], uint64_t(mb) << 20);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
