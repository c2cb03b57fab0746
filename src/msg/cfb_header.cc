#include "msg/cfb_header.h"

#include <string>

namespace orlendo::cfb {

Header ParseHeader(const uint8_t* data, uint64_t fileSize, Validation validation) {
  if (fileSize < HEADER_LEN) {
    throw EOleError(STG_E_INVALIDHEADER, "File of " + std::to_string(fileSize) +
                                             " bytes is shorter than the " +
                                             std::to_string(HEADER_LEN) + "-byte header");
  }
  if (std::memcmp(data, OLD_HEADER_SIGNATURE, 8) == 0) {
    throw EOleError(STG_E_OLDFORMAT, "Beta-format signature");
  }
  if (std::memcmp(data, HEADER_SIGNATURE, 8) != 0) {
    throw EOleError(STG_E_INVALIDHEADER, "Invalid signature");
  }
  Header h;
  h.minorVersion = ReadU16(data + 24);
  h.majorVersion = ReadU16(data + 26);
  const uint16_t byteOrder = ReadU16(data + 28);
  h.sectorShift = ReadU16(data + 30);
  h.miniSectorShift = ReadU16(data + 32);
  h.numDirSectors = ReadU32(data + 40);
  h.numFatSectors = ReadU32(data + 44);
  h.firstDirSector = ReadU32(data + 48);
  h.transactionSignature = ReadU32(data + 52);
  h.miniStreamCutoff = ReadU32(data + 56);
  h.firstMiniFatSector = ReadU32(data + 60);
  h.numMiniFatSectors = ReadU32(data + 64);
  h.firstDifatSector = ReadU32(data + 68);
  h.numDifatSectors = ReadU32(data + 72);
  for (uint32_t i = 0; i < NUM_DIFAT_ENTRIES_IN_HEADER; ++i)
    h.difat[i] = ReadU32(data + 76 + 4 * i);

  if (h.majorVersion != 3 && h.majorVersion != 4) {
    throw EOleError(STG_E_OLDFORMAT, "Unsupported major version " + std::to_string(h.majorVersion) +
                                         " (expected 3 or 4)");
  }
  if (byteOrder != BYTE_ORDER_MARK) {
    throw EOleError(STG_E_INVALIDHEADER,
                    "Invalid byte order mark " + HexString(byteOrder, 4) + " (expected 0xFFFE)");
  }
  const uint16_t expectedShift = h.majorVersion == 3 ? SECTOR_SHIFT_V3 : SECTOR_SHIFT_V4;
  if (h.sectorShift != expectedShift) {
    throw EOleError(STG_E_INVALIDHEADER, "Sector shift " + std::to_string(h.sectorShift) +
                                             " does not match version " +
                                             std::to_string(h.majorVersion) + " (expected " +
                                             std::to_string(expectedShift) + ")");
  }
  if (h.miniSectorShift != MINI_SECTOR_SHIFT) {
    throw EOleError(STG_E_INVALIDHEADER, "Mini sector shift " + std::to_string(h.miniSectorShift) +
                                             " (expected " + std::to_string(MINI_SECTOR_SHIFT) +
                                             ")");
  }
  if (h.miniStreamCutoff != MINI_STREAM_CUTOFF) {
    throw EOleError(STG_E_INVALIDHEADER, "Mini stream cutoff " +
                                             std::to_string(h.miniStreamCutoff) + " (expected " +
                                             std::to_string(MINI_STREAM_CUTOFF) + ")");
  }
  if (validation == Validation::Strict && h.majorVersion == 3 && h.numDirSectors != 0) {
    throw EOleError(STG_E_INVALIDHEADER, "Version 3 header counts " +
                                             std::to_string(h.numDirSectors) +
                                             " directory sectors (expected 0)");
  }
  return h;
}

void SerializeHeader(const Header& h, uint8_t* out) {
  std::memset(out, 0, HEADER_LEN);
  std::memcpy(out, HEADER_SIGNATURE, 8);
  WriteU16(out + 24, h.minorVersion);
  WriteU16(out + 26, h.majorVersion);
  WriteU16(out + 28, BYTE_ORDER_MARK);
  WriteU16(out + 30, h.sectorShift);
  WriteU16(out + 32, h.miniSectorShift);
  WriteU32(out + 40, h.numDirSectors);
  WriteU32(out + 44, h.numFatSectors);
  WriteU32(out + 48, h.firstDirSector);
  WriteU32(out + 52, h.transactionSignature);
  WriteU32(out + 56, h.miniStreamCutoff);
  WriteU32(out + 60, h.firstMiniFatSector);
  WriteU32(out + 64, h.numMiniFatSectors);
  WriteU32(out + 68, h.firstDifatSector);
  WriteU32(out + 72, h.numDifatSectors);
  for (uint32_t i = 0; i < NUM_DIFAT_ENTRIES_IN_HEADER; ++i)
    WriteU32(out + 76 + 4 * i, h.difat[i]);
}

} // namespace orlendo::cfb
