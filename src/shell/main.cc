// quillet: the program entry.
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/dump.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fputs("Usage: quillet --dump FILE\n"
             "  --dump FILE   print every property of the message FILE, one per line\n"
             "  --help        show this help\n"
             "  --version     show the version\n",
             out);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quillet %s\n", ORLENDO_VERSION);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--dump") == 0) {
    return orlendo::DumpMessageFile(argv[2], stdout, stderr);
  }
  PrintUsage(stderr);
  return 2;
}
