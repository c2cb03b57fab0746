// quillet: the program entry. The windowless paths (export, dump, help) are decided here,
// before anything of a window system exists; only a run that opens a window loads the window
// module, and with it the Qt libraries.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/command_line.h"
#include "shell/window_module_loader.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return true;
  }
  return false;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (orlendo::RunsWithoutWindow(args) || !HasDisplay())
    return orlendo::RunWindowless(args, stdout, stderr);
  std::string reason;
  const orlendo::TModuleMain windowMain = orlendo::WindowModuleEntry("quillet_window_main", reason);
  if (!windowMain) {
    std::fprintf(stderr, "quillet: the window module could not be loaded: %s\n", reason.c_str());
    return orlendo::RunWindowless(args, stdout, stderr);
  }
  return windowMain(argc, argv);
}
