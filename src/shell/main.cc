// quillet: the program entry. The windowless paths (export, dump, help) are decided here,
// before anything of a window system exists; only a run that opens a window loads the window
// module, and with it the Qt libraries.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/command_line.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return true;
  }
  return false;
}

// The module beside the program (a build tree), else <prefix>/lib/quillet.
std::string WindowModulePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return {};
  const std::filesystem::path beside = exe.parent_path() / "quillet_window.so";
  if (std::filesystem::exists(beside, ec))
    return beside.string();
  const std::filesystem::path installed =
      exe.parent_path().parent_path() / "lib" / "quillet" / "quillet_window.so";
  if (std::filesystem::exists(installed, ec))
    return installed.string();
  return {};
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (orlendo::RunsWithoutWindow(args) || !HasDisplay())
    return orlendo::RunWindowless(args, stdout, stderr);
  const std::string modulePath = WindowModulePath();
  void* module = modulePath.empty() ? nullptr : dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  using TWindowMain = int (*)(int, char**);
  auto windowMain =
      module ? reinterpret_cast<TWindowMain>(dlsym(module, "quillet_window_main")) : nullptr;
  if (!windowMain) {
    const char* reason = modulePath.empty() ? "not found beside the program" : dlerror();
    std::fprintf(stderr, "quillet: the window module could not be loaded: %s\n",
                 reason ? reason : "unknown error");
    return orlendo::RunWindowless(args, stdout, stderr);
  }
  // The module stays loaded until the process ends: Qt's exit handlers live in it.
  return windowMain(argc, argv);
}
