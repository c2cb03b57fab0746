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

void BadChainLink(const std::vector<uint32_t>& table, uint32_t start, uint32_t current,
                  uint32_t sectorsAvailable, const ChainKind& kind) {
  const std::string sector = kind.sectorName;
  if (current > MAX_REGULAR_SECTOR) {
    throw EOleError(STG_E_DOCFILECORRUPT, "Found marker " + HexString(current) + " inside the " +
                                              kind.tableName + " chain starting at " + sector +
                                              " " + std::to_string(start));
  }
  if (current >= table.size()) {
    throw EOleError(STG_E_DOCFILECORRUPT,
                    "Found reference to " + sector + " " + std::to_string(current) + ", but the " +
                        kind.tableName + " has only " + std::to_string(table.size()) + " entries");
  }
  if (current >= sectorsAvailable) {
    throw EOleError(STG_E_DOCFILECORRUPT,
                    "Found reference to " + sector + " " + std::to_string(current) + ", but the " +
                        kind.spaceName + " has only " + std::to_string(sectorsAvailable) + " " +
                        sector + "s");
  }
  std::string name = kind.tableName;
  name[0] = char(std::toupper(uint8_t(name[0])));
  throw EOleError(STG_E_DOCFILECORRUPT, name + " chain starting at " + sector + " " +
                                            std::to_string(start) + " loops: " + sector + " " +
                                            std::to_string(current) + " pointed to twice");
}

std::vector<uint32_t> FollowChain(const std::vector<uint32_t>& table, uint32_t start,
                                  uint64_t maxSectors, uint32_t sectorsAvailable, LoopGuard& guard,
                                  const ChainKind& kind) {
  std::vector<uint32_t> chain;
  // A chain visits each sector once at most: the list never grows past this.
  chain.reserve(size_t(std::min<uint64_t>({maxSectors, table.size(), sectorsAvailable})));
  WalkChain(table, start, maxSectors, sectorsAvailable, guard, kind,
            [&](uint32_t sector) { chain.push_back(sector); });
  return chain;
}

void Extents::Append(uint64_t fileOffset, uint64_t length) {
  if (length == 0)
    return;
  if (count_ > 0) {
    Extent& last = Last();
    if (last.fileOffset + last.length == fileOffset) {
      last.length += length;
      length_ += length;
      return;
    }
  }
  const Extent e{length_, fileOffset, length};
  if (count_ == 0)
    first_ = e;
  else
    more_.push_back(e);
  ++count_;
  length_ += length;
}

size_t Extents::Find(uint64_t pos) const {
  if (more_.empty() || pos < more_.front().logicalStart)
    return 0;
  // The last extent whose start is at or before pos.
  auto it = std::upper_bound(more_.begin(), more_.end(), pos,
                             [](uint64_t p, const Extent& e) { return p < e.logicalStart; });
  return size_t(it - more_.begin());
}

uint64_t Extents::FileOffset(uint64_t pos, uint64_t* runLeft) const {
  const Extent& e = At(Find(pos));
  if (runLeft)
    *runLeft = e.length - (pos - e.logicalStart);
  return e.fileOffset + (pos - e.logicalStart);
}

} // namespace orlendo::cfb
