// The process's resident memory, for the peak-memory benchmarks: the high-water mark is reset
// before a run (Linux, /proc/self/clear_refs) and read after it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace orlendo {

// A status field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long StatusKB(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0)
      return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

inline bool ResetHighWaterMark() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

} // namespace orlendo
