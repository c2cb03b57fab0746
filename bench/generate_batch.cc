// Makes the generated Outlook messages of the batch benchmarks (see generated_messages.h), so
// that other programs can be run on the same files.
// Usage: bench_generate_batch FOLDER [COUNT]   (COUNT: 10000 unless given)
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "generated_messages.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "Usage: %s FOLDER [COUNT]\n", argv[0]);
    return 2;
  }
  const int count = argc == 3 ? std::atoi(argv[2]) : 10000;
  if (count <= 0) {
    std::fprintf(stderr, "%s: COUNT must be a positive number\n", argv[0]);
    return 2;
  }
  try {
    orlendo::bench::MakeGeneratedFolder(argv[1], count);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
