// SHA-256 of a byte string, as 64 lower-case hex digits: lets a test compare the bytes it reads
// with what another program (python's hashlib, sha256sum) reports, without dumping them.
#pragma once

#include <cstddef>
#include <string>

namespace orlendo::testutil {

std::string Sha256Hex(const void* data, size_t size);
inline std::string Sha256Hex(const std::string& bytes) {
  return Sha256Hex(bytes.data(), bytes.size());
}

} // namespace orlendo::testutil
