// The allocation tables: the FAT (one next-sector link per sector of the file), found through
// the DIFAT (the header's 109 entries and a chain of DIFAT sectors), and the mini FAT (one link
// per 64-byte mini sector of the mini stream), itself stored in a FAT chain.
#pragma once

#include <cstdint>
#include <vector>

#include "msg/cfb_chain.h"
#include "msg/cfb_header.h"
#include "msg/cfb_sector.h"

namespace orlendo::cfb {

struct Fat {
  std::vector<uint32_t> fatSectorIds;   // the sectors that hold the FAT, in order
  std::vector<uint32_t> difatSectorIds; // the sectors that hold DIFAT entries beyond the header's
  std::vector<uint32_t> entries;        // the FAT itself
};

// Reads the DIFAT and the FAT. Raises EOleError STG_E_DOCFILECORRUPT for a FAT or DIFAT sector
// outside the file, a DIFAT chain that loops, or a header that claims more FAT sectors than the
// file holds. Permissive validation takes the FAT sectors that the DIFAT lists when the header
// counts more; Strict refuses that.
Fat LoadFat(const Header& header, const Sectors& sectors, Validation validation);

// Reads the mini FAT through its FAT chain. Permissive validation follows the chain to its end;
// Strict requires the header's count of mini FAT sectors.
std::vector<uint32_t> LoadMiniFat(const Header& header, const Sectors& sectors, const Fat& fat,
                                  LoopGuard& fatGuard, Validation validation);

} // namespace orlendo::cfb
