// The bytes of a compound file and their division into sectors. A file opened from a path is
// mapped into memory rather than copied, so that reading a stream costs one copy of its bytes
// and no system call per sector; an in-memory file owns its bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "msg/cfb_format.h"
#include "msg/compound_file.h"

namespace orlendo::cfb {

class FileBytes {
public:
  // Maps the file read-only (falls back to reading it when it cannot be mapped). Raises
  // EOleError: STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND, STG_E_ACCESSDENIED or STG_E_READFAULT.
  static std::shared_ptr<const FileBytes> MapFile(const std::string& path);
  static std::shared_ptr<const FileBytes> Own(std::string bytes);

  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes();

  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }
  // Gives the whole pages of [offset, offset + n) of a mapped file back to the system; they are
  // read again from the file if needed. Nothing happens for bytes held in memory.
  void Release(uint64_t offset, uint64_t n) const;

private:
  FileBytes() = default;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  void* map_ = nullptr;
  std::string owned_;
};

// Sector n of a file starts at (n + 1) sector lengths: the first sector holds the header.
class Sectors {
public:
  Sectors() = default;
  // Permissive validation counts a last sector that the file holds only in part (its missing
  // bytes read as zero); Strict counts whole sectors only.
  Sectors(std::shared_ptr<const FileBytes> bytes, uint16_t sectorShift, Validation validation);

  uint32_t SectorLen() const { return 1u << shift_; }
  uint16_t Shift() const { return shift_; }
  // Number of sectors after the header that the file holds.
  uint32_t Count() const { return count_; }
  uint64_t Offset(uint32_t sector) const { return (uint64_t(sector) + 1) << shift_; }
  uint64_t FileSize() const { return bytes_ ? bytes_->Size() : 0; }

  // Copies n bytes at a file offset; bytes past the end of the file read as zero.
  void Read(uint64_t offset, void* dst, size_t n) const {
    const uint64_t size = bytes_->Size();
    size_t have = 0;
    if (offset < size)
      have = size_t(std::min<uint64_t>(n, size - offset));
    // A large run is copied piece by piece, each piece's mapped pages released once copied, so
    // that reading a big stream holds its bytes once, not once in the value and once mapped.
    constexpr size_t kPiece = size_t(1) << 20;
    for (size_t done = 0; done < have;) {
      const size_t piece = std::min(kPiece, have - done);
      std::memcpy(static_cast<uint8_t*>(dst) + done, bytes_->Data() + offset + done, piece);
      if (have >= kPiece)
        bytes_->Release(offset + done, piece);
      done += piece;
    }
    if (have < n)
      std::memset(static_cast<uint8_t*>(dst) + have, 0, n - have);
  }
  uint32_t ReadU32At(uint64_t offset) const {
    uint8_t b[4];
    Read(offset, b, 4);
    return ReadU32(b);
  }

private:
  std::shared_ptr<const FileBytes> bytes_;
  uint16_t shift_ = SECTOR_SHIFT_V3;
  uint32_t count_ = 0;
};

} // namespace orlendo::cfb
