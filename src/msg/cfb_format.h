// Constants of the Compound File Binary format and little-endian access to its fields. The names
// are the format's own, so that the code reads next to the published description.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace orlendo::cfb {

// Special values of a sector number (a FAT entry or a chain link).
inline constexpr uint32_t MAX_REGULAR_SECTOR = 0xFFFFFFFA;
inline constexpr uint32_t DIFAT_SECTOR = 0xFFFFFFFC; // marks a sector that holds DIFAT entries
inline constexpr uint32_t FAT_SECTOR = 0xFFFFFFFD;   // marks a sector that holds FAT entries
inline constexpr uint32_t END_OF_CHAIN = 0xFFFFFFFE;
inline constexpr uint32_t FREE_SECTOR = 0xFFFFFFFF;

// Special value of a directory link (left, right, child).
inline constexpr uint32_t NO_STREAM = 0xFFFFFFFF;
inline constexpr uint32_t MAX_REGULAR_STREAM_ID = 0xFFFFFFFA;

inline constexpr uint8_t HEADER_SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// The signature of the beta format that preceded version 3; files with it are refused as old.
inline constexpr uint8_t OLD_HEADER_SIGNATURE[8] = {0x0E, 0x11, 0xFC, 0x0D, 0xD0, 0xCF, 0x11, 0x0E};
inline constexpr uint32_t HEADER_LEN = 512;
inline constexpr uint16_t BYTE_ORDER_MARK = 0xFFFE;
inline constexpr uint16_t MINOR_VERSION = 0x003E;
inline constexpr uint16_t SECTOR_SHIFT_V3 = 9;
inline constexpr uint16_t SECTOR_SHIFT_V4 = 12;
inline constexpr uint16_t MINI_SECTOR_SHIFT = 6;
inline constexpr uint32_t MINI_SECTOR_LEN = 64;
inline constexpr uint32_t MINI_STREAM_CUTOFF = 4096;
inline constexpr uint32_t NUM_DIFAT_ENTRIES_IN_HEADER = 109;

inline constexpr uint32_t DIR_ENTRY_LEN = 128;
inline constexpr uint32_t DIR_NAME_MAX_UNITS = 31; // plus the terminating zero: 64 bytes

// Object types of a directory entry.
inline constexpr uint8_t OBJ_TYPE_UNUSED = 0;
inline constexpr uint8_t OBJ_TYPE_STORAGE = 1;
inline constexpr uint8_t OBJ_TYPE_STREAM = 2;
inline constexpr uint8_t OBJ_TYPE_ROOT = 5;

inline constexpr uint8_t COLOR_RED = 0;
inline constexpr uint8_t COLOR_BLACK = 1;

inline uint16_t ReadU16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t ReadU64(const uint8_t* p) {
  return ReadU32(p) | (uint64_t(ReadU32(p + 4)) << 32);
}
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}
inline void WriteU64(uint8_t* p, uint64_t v) {
  WriteU32(p, uint32_t(v));
  WriteU32(p + 4, uint32_t(v >> 32));
}

// "0x" and the value in upper-case hex digits, as people see it in a hex dump.
inline std::string HexString(uint32_t value, int digits = 8) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, unsigned(value));
  return buf;
}

} // namespace orlendo::cfb
