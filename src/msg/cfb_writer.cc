#include "msg/cfb_writer.h"

#include <algorithm>
#include <cstring>

#include "msg/cfb_directory.h"
#include "msg/cfb_format.h"
#include "msg/cfb_header.h"
#include "msg/compound_file.h"

namespace orlendo::cfb {

namespace {

constexpr uint32_t SECTOR_LEN = 1u << SECTOR_SHIFT_V3;
constexpr uint32_t IDS_PER_SECTOR = SECTOR_LEN / 4;

uint64_t CeilDiv(uint64_t a, uint64_t b) {
  return (a + b - 1) / b;
}

} // namespace

WrittenImage WriteImage(const std::vector<WriterEntry>& entries, const StreamFiller& fill) {
  // Whole streams to the filler, as it wants them.
  std::vector<std::string> pending(entries.size());
  WrittenImage out;
  out.startSector = WriteImageTo(
      entries,
      [&](uint32_t entry, uint64_t offset, uint8_t* dst, size_t count) {
        std::string& whole = pending[entry];
        if (offset == 0) {
          whole.assign(size_t(entries[entry].size), '\0');
          fill(entry, reinterpret_cast<uint8_t*>(whole.data()));
        }
        std::memcpy(dst, whole.data() + offset, count);
        if (offset + count >= whole.size())
          std::string().swap(whole);
      },
      [&](const uint8_t* data, size_t size) {
        out.bytes.append(reinterpret_cast<const char*>(data), size);
      });
  return out;
}

std::vector<uint32_t> WriteImageTo(const std::vector<WriterEntry>& entries,
                                   const StreamReader& read, const ImageSink& sink) {
  // Directory ids in breadth-first order from the root, so that a storage's entries sit near
  // each other; the input order does not matter.
  std::vector<uint32_t> order{0};
  std::vector<uint32_t> dirId(entries.size(), NO_STREAM);
  dirId[0] = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    for (uint32_t c : entries[order[i]].children) {
      if (dirId[c] != NO_STREAM)
        continue; // listed twice: keep the first
      dirId[c] = uint32_t(order.size());
      order.push_back(c);
    }
  }
  const uint32_t numEntries = uint32_t(order.size());

  // Place the streams: small ones in the mini stream, the others in whole sectors.
  struct {
    std::string bytes;
    std::vector<uint32_t> startSector;
  } out;
  out.startSector.assign(entries.size(), END_OF_CHAIN);
  std::vector<uint64_t> offsetInArea(entries.size(), 0); // mini stream offset or data offset
  uint64_t miniLen = 0;     // bytes of the mini stream (whole mini sectors)
  uint64_t regularSecs = 0; // sectors of the large streams
  for (uint32_t idx : order) {
    const WriterEntry& e = entries[idx];
    if (e.objectType != OBJ_TYPE_STREAM || e.size == 0)
      continue;
    if (e.size < MINI_STREAM_CUTOFF) {
      offsetInArea[idx] = miniLen;
      out.startSector[idx] = uint32_t(miniLen / MINI_SECTOR_LEN);
      miniLen += CeilDiv(e.size, MINI_SECTOR_LEN) * MINI_SECTOR_LEN;
    } else {
      offsetInArea[idx] = regularSecs;
      regularSecs += CeilDiv(e.size, SECTOR_LEN);
    }
  }
  const uint64_t miniSecs = miniLen / MINI_SECTOR_LEN;
  const uint64_t dirSecs = CeilDiv(uint64_t(numEntries) * DIR_ENTRY_LEN, SECTOR_LEN);
  const uint64_t miniFatSecs = CeilDiv(miniSecs * 4, SECTOR_LEN);
  const uint64_t miniStreamSecs = CeilDiv(miniLen, SECTOR_LEN);
  const uint64_t dataSecs = dirSecs + miniFatSecs + miniStreamSecs + regularSecs;

  // The FAT covers itself and the DIFAT sectors too: grow both until they cover everything.
  uint64_t fatSecs = 0, difatSecs = 0;
  for (;;) {
    difatSecs = fatSecs > NUM_DIFAT_ENTRIES_IN_HEADER
                    ? CeilDiv(fatSecs - NUM_DIFAT_ENTRIES_IN_HEADER, IDS_PER_SECTOR - 1)
                    : 0;
    const uint64_t need = CeilDiv(dataSecs + fatSecs + difatSecs, IDS_PER_SECTOR);
    if (need <= fatSecs)
      break;
    fatSecs = need;
  }
  const uint64_t totalSecs = fatSecs + difatSecs + dataSecs;
  if (totalSecs > MAX_REGULAR_SECTOR) {
    throw EOleError(STG_E_MEDIUMFULL, "The file would need " + std::to_string(totalSecs) +
                                          " sectors, but version 3 addresses at most " +
                                          std::to_string(MAX_REGULAR_SECTOR));
  }

  // Layout: FAT, DIFAT, directory, mini FAT, mini stream, large streams.
  const uint32_t firstDifat = uint32_t(fatSecs);
  const uint32_t firstDir = uint32_t(fatSecs + difatSecs);
  const uint32_t firstMiniFat = uint32_t(firstDir + dirSecs);
  const uint32_t firstMiniStream = uint32_t(firstMiniFat + miniFatSecs);
  const uint32_t firstRegular = uint32_t(firstMiniStream + miniStreamSecs);

  // Everything before the large streams is made in memory; they follow it.
  out.bytes.assign(size_t(HEADER_LEN + uint64_t(firstRegular) * SECTOR_LEN), '\0');
  uint8_t* image = reinterpret_cast<uint8_t*>(out.bytes.data());
  auto sectorPtr = [&](uint64_t s) { return image + HEADER_LEN + s * SECTOR_LEN; };

  std::vector<uint32_t> fat(size_t(fatSecs * IDS_PER_SECTOR), FREE_SECTOR);
  auto chain = [&](uint64_t first, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
      fat[size_t(first + i)] = i + 1 == count ? END_OF_CHAIN : uint32_t(first + i + 1);
    }
  };
  for (uint64_t i = 0; i < fatSecs; ++i)
    fat[size_t(i)] = FAT_SECTOR;
  for (uint64_t i = 0; i < difatSecs; ++i)
    fat[size_t(firstDifat + i)] = DIFAT_SECTOR;
  chain(firstDir, dirSecs);
  chain(firstMiniFat, miniFatSecs);
  chain(firstMiniStream, miniStreamSecs);

  // Stream contents and their chains.
  std::vector<uint32_t> miniFat(size_t(miniFatSecs * IDS_PER_SECTOR), FREE_SECTOR);
  for (uint32_t idx : order) {
    const WriterEntry& e = entries[idx];
    if (e.objectType != OBJ_TYPE_STREAM || e.size == 0)
      continue;
    if (e.size < MINI_STREAM_CUTOFF) {
      const uint64_t first = offsetInArea[idx] / MINI_SECTOR_LEN;
      const uint64_t count = CeilDiv(e.size, MINI_SECTOR_LEN);
      for (uint64_t i = 0; i < count; ++i) {
        miniFat[size_t(first + i)] = i + 1 == count ? END_OF_CHAIN : uint32_t(first + i + 1);
      }
      read(idx, 0, sectorPtr(firstMiniStream) + offsetInArea[idx], size_t(e.size));
    } else {
      const uint64_t first = firstRegular + offsetInArea[idx];
      chain(first, CeilDiv(e.size, SECTOR_LEN));
      out.startSector[idx] = uint32_t(first);
    }
  }

  // Directory.
  std::vector<DirEntry> dir(numEntries);
  for (uint32_t idx : order) {
    const WriterEntry& e = entries[idx];
    DirEntry& d = dir[dirId[idx]];
    d.name = e.name;
    d.objectType = e.objectType;
    d.clsid = e.clsid;
    d.stateBits = e.stateBits;
    d.creationTime = e.creationTime;
    d.modificationTime = e.modificationTime;
    if (e.objectType == OBJ_TYPE_STREAM) {
      d.startSector = out.startSector[idx];
      d.streamSize = e.size;
    } else {
      d.startSector = 0;
      d.streamSize = 0;
    }
  }
  dir[0].startSector = miniLen ? firstMiniStream : END_OF_CHAIN;
  dir[0].streamSize = miniLen;
  std::vector<uint32_t> sorted;
  for (uint32_t idx : order) {
    const WriterEntry& e = entries[idx];
    if (e.objectType == OBJ_TYPE_STREAM)
      continue;
    sorted.clear();
    for (uint32_t c : e.children)
      sorted.push_back(dirId[c]);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
      return CompareNames(dir[a].name, dir[b].name) < 0;
    });
    dir[dirId[idx]].child = BuildSiblingTree(sorted, dir);
  }
  dir[0].color = COLOR_BLACK;
  for (uint32_t i = 0; i < numEntries; ++i) {
    SerializeDirEntry(dir[i], sectorPtr(firstDir) + uint64_t(i) * DIR_ENTRY_LEN);
  }
  // The rest of the last directory sector: unused entries.
  DirEntry unused;
  unused.startSector = 0;
  for (uint64_t i = numEntries; i < dirSecs * (SECTOR_LEN / DIR_ENTRY_LEN); ++i) {
    SerializeDirEntry(unused, sectorPtr(firstDir) + i * DIR_ENTRY_LEN);
  }

  // Mini FAT, FAT, DIFAT, header.
  for (size_t i = 0; i < miniFat.size(); ++i) {
    WriteU32(sectorPtr(firstMiniFat) + 4 * i, miniFat[i]);
  }
  for (size_t i = 0; i < fat.size(); ++i)
    WriteU32(sectorPtr(0) + 4 * i, fat[i]);

  Header h;
  h.numFatSectors = uint32_t(fatSecs);
  h.firstDirSector = firstDir;
  h.firstMiniFatSector = miniFatSecs ? firstMiniFat : END_OF_CHAIN;
  h.numMiniFatSectors = uint32_t(miniFatSecs);
  h.firstDifatSector = difatSecs ? firstDifat : END_OF_CHAIN;
  h.numDifatSectors = uint32_t(difatSecs);
  h.difat.fill(FREE_SECTOR);
  for (uint64_t i = 0; i < fatSecs && i < NUM_DIFAT_ENTRIES_IN_HEADER; ++i) {
    h.difat[size_t(i)] = uint32_t(i);
  }
  uint64_t nextFat = NUM_DIFAT_ENTRIES_IN_HEADER;
  for (uint64_t d = 0; d < difatSecs; ++d) {
    uint8_t* p = sectorPtr(firstDifat + d);
    for (uint32_t i = 0; i < IDS_PER_SECTOR - 1; ++i) {
      WriteU32(p + 4 * i, nextFat < fatSecs ? uint32_t(nextFat) : FREE_SECTOR);
      ++nextFat;
    }
    WriteU32(p + 4 * (IDS_PER_SECTOR - 1),
             d + 1 == difatSecs ? END_OF_CHAIN : uint32_t(firstDifat + d + 1));
  }
  SerializeHeader(h, image);
  sink(image, out.bytes.size());
  std::string().swap(out.bytes);

  // The large streams, in the order they were placed, each to the end of its last sector.
  constexpr size_t kPiece = 1 << 20;
  std::vector<uint8_t> piece(kPiece);
  for (uint32_t idx : order) {
    const WriterEntry& e = entries[idx];
    if (e.objectType != OBJ_TYPE_STREAM || e.size < MINI_STREAM_CUTOFF)
      continue;
    const uint64_t padded = CeilDiv(e.size, SECTOR_LEN) * SECTOR_LEN;
    for (uint64_t at = 0; at < padded; at += kPiece) {
      const size_t n = size_t(std::min<uint64_t>(kPiece, padded - at));
      const size_t data = at < e.size ? size_t(std::min<uint64_t>(n, e.size - at)) : 0;
      if (data > 0)
        read(idx, at, piece.data(), data);
      std::fill(piece.begin() + std::ptrdiff_t(data), piece.begin() + std::ptrdiff_t(n), 0);
      sink(piece.data(), n);
    }
  }
  return out.startSector;
}

} // namespace orlendo::cfb
