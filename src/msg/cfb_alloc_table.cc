#include "msg/cfb_alloc_table.h"

#include <bit>
#include <cstring>
#include <string>

namespace orlendo::cfb {

namespace {

[[noreturn]] void Corrupt(const std::string& message) {
  throw EOleError(STG_E_DOCFILECORRUPT, message);
}

std::string Num(uint64_t v) {
  return std::to_string(v);
}

// Appends the little-endian entries of sector id to entries; buf holds a sector.
void ReadEntries(const Sectors& sectors, uint32_t id, std::vector<uint8_t>& buf,
                 std::vector<uint32_t>& entries) {
  const size_t count = buf.size() / 4;
  if constexpr (std::endian::native == std::endian::little) {
    // The entries as they are stored are the machine's numbers: straight into the table.
    const size_t at = entries.size();
    entries.resize(at + count);
    sectors.Read(sectors.Offset(id), entries.data() + at, count * 4);
  } else {
    sectors.Read(sectors.Offset(id), buf.data(), buf.size());
    for (size_t j = 0; j < count; ++j)
      entries.push_back(ReadU32(&buf[4 * j]));
  }
}

} // namespace

Fat LoadFat(const Header& header, const Sectors& sectors, Validation validation) {
  Fat fat;
  const uint32_t count = sectors.Count();
  if (header.numFatSectors > count) {
    Corrupt("Header claims " + Num(header.numFatSectors) + " FAT sectors, but the file has only " +
            Num(count) + " sectors");
  }
  // The header's entries, then the DIFAT chain to its end: a loop in it is found even when the
  // entries before the loop already list enough FAT sectors.
  std::vector<uint32_t> listed;
  for (uint32_t id : header.difat) {
    if (id == FREE_SECTOR)
      break;
    listed.push_back(id);
  }
  const uint32_t perDifatSector = sectors.SectorLen() / 4 - 1;
  std::vector<bool> seen(count, false);
  uint32_t current = header.firstDifatSector;
  while (current != END_OF_CHAIN && current != FREE_SECTOR) {
    if (current >= count) {
      Corrupt("Found reference to DIFAT sector " + Num(current) + ", but the file has only " +
              Num(count) + " sectors");
    }
    if (seen[current])
      Corrupt("DIFAT chain loops: sector " + Num(current) + " pointed to twice");
    seen[current] = true;
    fat.difatSectorIds.push_back(current);
    const uint64_t base = sectors.Offset(current);
    for (uint32_t i = 0; i < perDifatSector; ++i) {
      const uint32_t id = sectors.ReadU32At(base + 4 * uint64_t(i));
      if (id != FREE_SECTOR)
        listed.push_back(id);
    }
    current = sectors.ReadU32At(base + 4 * uint64_t(perDifatSector));
  }
  if (validation == Validation::Strict) {
    if (fat.difatSectorIds.size() != header.numDifatSectors) {
      Corrupt("Header claims " + Num(header.numDifatSectors) +
              " DIFAT sectors, but the chain has " + Num(fat.difatSectorIds.size()));
    }
    if (listed.size() < header.numFatSectors) {
      Corrupt("Header claims " + Num(header.numFatSectors) +
              " FAT sectors, but the DIFAT lists only " + Num(listed.size()));
    }
  }
  const size_t numFat = std::min<size_t>(listed.size(), header.numFatSectors);
  const uint32_t perFatSector = sectors.SectorLen() / 4;
  fat.entries.reserve(numFat * perFatSector);
  std::vector<uint8_t> buf(sectors.SectorLen());
  for (size_t i = 0; i < numFat; ++i) {
    const uint32_t id = listed[i];
    if (id >= count) {
      Corrupt("Found reference to FAT sector " + Num(id) + ", but the file has only " + Num(count) +
              " sectors");
    }
    fat.fatSectorIds.push_back(id);
    ReadEntries(sectors, id, buf, fat.entries);
  }
  return fat;
}

std::vector<uint32_t> LoadMiniFat(const Header& header, const Sectors& sectors, const Fat& fat,
                                  LoopGuard& fatGuard, Validation validation) {
  std::vector<uint32_t> miniFat;
  if (header.firstMiniFatSector == END_OF_CHAIN || header.firstMiniFatSector == FREE_SECTOR) {
    return miniFat;
  }
  const uint64_t maxSectors =
      validation == Validation::Strict ? header.numMiniFatSectors : UINT64_MAX;
  const std::vector<uint32_t> chain = FollowChain(fat.entries, header.firstMiniFatSector,
                                                  maxSectors, sectors.Count(), fatGuard, FAT_CHAIN);
  if (validation == Validation::Strict && chain.size() != header.numMiniFatSectors) {
    Corrupt("Header claims " + Num(header.numMiniFatSectors) +
            " mini FAT sectors, but the chain has " + Num(chain.size()));
  }
  const uint32_t perSector = sectors.SectorLen() / 4;
  miniFat.reserve(chain.size() * perSector);
  std::vector<uint8_t> buf(sectors.SectorLen());
  for (uint32_t id : chain)
    ReadEntries(sectors, id, buf, miniFat);
  return miniFat;
}

} // namespace orlendo::cfb
