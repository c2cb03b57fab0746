#include "msg/cfb_chain.h"

#include <algorithm>
#include <cctype>

#include "msg/cfb_format.h"
#include "msg/compound_file.h"

namespace orlendo::cfb {

uint32_t LoopGuard::NewWalk() {
  if (++current_ == 0) {
    std::fill(stamps_.begin(), stamps_.end(), 0);
    current_ = 1;
  }
  return current_;
}

std::vector<uint32_t> FollowChain(const std::vector<uint32_t>& table, uint32_t start,
                                  uint64_t maxSectors, uint32_t sectorsAvailable, LoopGuard& guard,
                                  const ChainKind& kind) {
  std::vector<uint32_t> chain;
  const uint32_t stamp = guard.NewWalk();
  uint32_t current = start;
  while (chain.size() < maxSectors && current != END_OF_CHAIN) {
    const std::string sector = kind.sectorName;
    if (current > MAX_REGULAR_SECTOR) {
      throw EOleError(STG_E_DOCFILECORRUPT, "Found marker " + HexString(current) + " inside the " +
                                                kind.tableName + " chain starting at " + sector +
                                                " " + std::to_string(start));
    }
    if (current >= table.size()) {
      throw EOleError(STG_E_DOCFILECORRUPT, "Found reference to " + sector + " " +
                                                std::to_string(current) + ", but the " +
                                                kind.tableName + " has only " +
                                                std::to_string(table.size()) + " entries");
    }
    if (current >= sectorsAvailable) {
      throw EOleError(STG_E_DOCFILECORRUPT,
                      "Found reference to " + sector + " " + std::to_string(current) +
                          ", but the " + kind.spaceName + " has only " +
                          std::to_string(sectorsAvailable) + " " + sector + "s");
    }
    if (guard.Visit(stamp, current)) {
      std::string table = kind.tableName;
      table[0] = char(std::toupper(uint8_t(table[0])));
      throw EOleError(STG_E_DOCFILECORRUPT, table + " chain starting at " + sector + " " +
                                                std::to_string(start) + " loops: " + sector + " " +
                                                std::to_string(current) + " pointed to twice");
    }
    chain.push_back(current);
    current = table[current];
  }
  return chain;
}

void Extents::Append(uint64_t fileOffset, uint64_t length) {
  if (length == 0)
    return;
  if (!list_.empty()) {
    Extent& last = list_.back();
    if (last.fileOffset + last.length == fileOffset) {
      last.length += length;
      length_ += length;
      return;
    }
  }
  list_.push_back(Extent{length_, fileOffset, length});
  length_ += length;
}

size_t Extents::Find(uint64_t pos) const {
  // The last extent whose start is at or before pos.
  auto it = std::upper_bound(list_.begin(), list_.end(), pos,
                             [](uint64_t p, const Extent& e) { return p < e.logicalStart; });
  return size_t(it - list_.begin()) - 1;
}

uint64_t Extents::FileOffset(uint64_t pos, uint64_t* runLeft) const {
  const Extent& e = list_[Find(pos)];
  if (runLeft)
    *runLeft = e.length - (pos - e.logicalStart);
  return e.fileOffset + (pos - e.logicalStart);
}

} // namespace orlendo::cfb
