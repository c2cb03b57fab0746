// Chains of sectors: following the links of an allocation table from a start sector, refusing
// links out of range and loops, and turning the result into extents (runs of contiguous bytes
// in the file) so that a stream is resolved once and then read with one copy per run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "msg/cfb_format.h"

namespace orlendo::cfb {

// Finds loops: every walk stamps the entries it visits, so meeting one's own stamp again is a
// loop. One guard serves all walks over one table, so a walk costs nothing per table entry.
class LoopGuard {
public:
  explicit LoopGuard(size_t entries = 0) : stamps_(entries, 0) {}
  void Resize(size_t entries) { stamps_.assign(entries, 0); }
  uint32_t NewWalk();
  // True when the entry was already visited in this walk; marks it otherwise.
  bool Visit(uint32_t stamp, uint32_t entry) {
    if (stamps_[entry] == stamp)
      return true;
    stamps_[entry] = stamp;
    return false;
  }

private:
  std::vector<uint32_t> stamps_;
  uint32_t current_ = 0;
};

// What a chain is made of, for the messages: "sector" of the FAT, or "mini sector" of the mini
// FAT.
struct ChainKind {
  const char* tableName;  // "FAT" or "mini FAT"
  const char* sectorName; // "sector" or "mini sector"
  const char* spaceName;  // "file" or "mini stream": where the sectors live
};
inline constexpr ChainKind FAT_CHAIN{"FAT", "sector", "file"};
inline constexpr ChainKind MINI_FAT_CHAIN{"mini FAT", "mini sector", "mini stream"};

// Raises the EOleError STG_E_DOCFILECORRUPT of a bad link met at current in the chain from start.
[[noreturn]] void BadChainLink(const std::vector<uint32_t>& table, uint32_t start, uint32_t current,
                               uint32_t sectorsAvailable, const ChainKind& kind);

// Follows the chain that starts at start through table, calling visit(sector) for each sector in
// order, and returns how many there were. Stops after maxSectors sectors, or at END_OF_CHAIN.
// Every sector id must lie below table.size() and below sectorsAvailable (the sectors that exist
// in the file or the mini stream). Raises EOleError STG_E_DOCFILECORRUPT for a link out of range,
// a marker other than END_OF_CHAIN inside the chain, or a loop. The guard must cover
// table.size() entries.
template <typename Visit>
uint64_t WalkChain(const std::vector<uint32_t>& table, uint32_t start, uint64_t maxSectors,
                   uint32_t sectorsAvailable, LoopGuard& guard, const ChainKind& kind,
                   Visit&& visit) {
  const uint32_t stamp = guard.NewWalk();
  // Markers lie above every regular sector, so one comparison refuses them and ids out of
  // range alike; the error says which it was.
  const uint64_t limit = std::min<uint64_t>(table.size(), sectorsAvailable);
  uint64_t count = 0;
  uint32_t current = start;
  while (count < maxSectors && current != END_OF_CHAIN) {
    if (current >= limit || current > MAX_REGULAR_SECTOR)
      BadChainLink(table, start, current, sectorsAvailable, kind);
    if (guard.Visit(stamp, current))
      BadChainLink(table, start, current, sectorsAvailable, kind);
    visit(current);
    ++count;
    current = table[current];
  }
  return count;
}

// The sectors of a chain (WalkChain) as a list.
std::vector<uint32_t> FollowChain(const std::vector<uint32_t>& table, uint32_t start,
                                  uint64_t maxSectors, uint32_t sectorsAvailable, LoopGuard& guard,
                                  const ChainKind& kind);

// A run of bytes of a stream that lies contiguous in the file.
struct Extent {
  uint64_t logicalStart; // offset in the stream
  uint64_t fileOffset;
  uint64_t length;
};

// The bytes of a stream: its extents in stream order; the total is the stream length they
// cover (the last sector may be used only in part). Most streams lie in one run, which is held
// without an allocation of its own.
class Extents {
public:
  // Appends length bytes at fileOffset, merging with the previous run when contiguous.
  void Append(uint64_t fileOffset, uint64_t length);
  uint64_t Length() const { return length_; }
  size_t Count() const { return count_; }
  const Extent& At(size_t i) const { return i == 0 ? first_ : more_[i - 1]; }
  // Index of the extent that holds the stream offset pos (pos < Length()).
  size_t Find(uint64_t pos) const;
  // Maps a stream offset to its file offset (pos < Length()), with the bytes left in its run.
  uint64_t FileOffset(uint64_t pos, uint64_t* runLeft) const;

private:
  Extent& Last() { return count_ == 1 ? first_ : more_.back(); }

  Extent first_{};
  std::vector<Extent> more_; // the runs after the first
  size_t count_ = 0;
  uint64_t length_ = 0;
};

} // namespace orlendo::cfb
