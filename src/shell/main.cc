// quillet: the program entry. The windowless paths (export, dump, help) are decided here,
// before anything of a window system exists.
#include <cstdio>
#include <string>
#include <vector>

#include "shell/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return orlendo::RunWindowless(args, stdout, stderr);
}
