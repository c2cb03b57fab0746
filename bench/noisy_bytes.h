// Deterministic bytes that do not compress, for benchmark inputs.
#pragma once

#include <cstdint>
#include <string>

namespace orlendo::bench {

inline std::string NoisyBytes(size_t size, uint64_t seed) {
  std::string out(size, '\0');
  uint64_t x = seed | 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<char>(x);
  }
  return out;
}

}  // namespace orlendo::bench
