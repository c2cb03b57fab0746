// The 512-byte header at the start of a compound file: format version, sector sizes, where the
// directory, the mini FAT and the DIFAT begin, and the first 109 FAT sector ids.
#pragma once

#include <array>
#include <cstdint>

#include "msg/cfb_format.h"
#include "msg/compound_file.h"

namespace orlendo::cfb {

struct Header {
  uint16_t minorVersion = MINOR_VERSION;
  uint16_t majorVersion = 3;
  uint16_t sectorShift = SECTOR_SHIFT_V3;
  uint16_t miniSectorShift = MINI_SECTOR_SHIFT;
  uint32_t numDirSectors = 0;
  uint32_t numFatSectors = 0;
  uint32_t firstDirSector = END_OF_CHAIN;
  uint32_t transactionSignature = 0;
  uint32_t miniStreamCutoff = MINI_STREAM_CUTOFF;
  uint32_t firstMiniFatSector = END_OF_CHAIN;
  uint32_t numMiniFatSectors = 0;
  uint32_t firstDifatSector = END_OF_CHAIN;
  uint32_t numDifatSectors = 0;
  std::array<uint32_t, NUM_DIFAT_ENTRIES_IN_HEADER> difat{};

  uint32_t SectorLen() const { return 1u << sectorShift; }
};

// Reads and checks the header of a file of fileSize bytes (data holds at least HEADER_LEN bytes
// when fileSize allows). Raises EOleError: STG_E_INVALIDHEADER for a file that is not a compound
// file or whose sector sizes we cannot read, STG_E_OLDFORMAT for an unknown format version.
// Strict validation also refuses the stale fields that Permissive ignores.
Header ParseHeader(const uint8_t* data, uint64_t fileSize, Validation validation);

// Writes the header into the first HEADER_LEN bytes of out.
void SerializeHeader(const Header& header, uint8_t* out);

} // namespace orlendo::cfb
