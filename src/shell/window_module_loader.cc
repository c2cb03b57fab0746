#include "shell/window_module_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace orlendo {

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

TModuleMain WindowModuleEntry(const char* name, std::string& error) {
  const std::string path = WindowModulePath();
  if (path.empty()) {
    error = "not found beside the program";
    return nullptr;
  }
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = dlerror();
    error = reason ? reason : "unknown error";
    return nullptr;
  }
  auto entry = reinterpret_cast<TModuleMain>(dlsym(module, name));
  if (!entry) {
    const char* reason = dlerror();
    error = reason ? reason : "unknown error";
  }
  return entry;
}

} // namespace orlendo
