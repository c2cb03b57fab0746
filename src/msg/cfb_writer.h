// Serialises a tree of storages and streams into a complete version 3 compound file image:
// streams under 4096 bytes go to the mini stream, the FAT is listed through DIFAT sectors when
// it needs more than the header's 109 entries, and each storage's children form a balanced
// red-black tree in the compound-file name order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "msg/compound_file.h"

namespace orlendo::cfb {

struct WriterEntry {
  EntryName name;
  uint8_t objectType; // OBJ_TYPE_ROOT for entry 0, OBJ_TYPE_STORAGE or OBJ_TYPE_STREAM
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t size = 0;              // streams only
  std::vector<uint32_t> children; // storages only: indexes into the entry list
};

struct WrittenImage {
  std::string bytes;
  // Per entry of the input: its start sector in the image (a mini sector for streams under
  // the cutoff, END_OF_CHAIN for empty streams and storages).
  std::vector<uint32_t> startSector;
};

// Called once per stream to copy its size bytes to dst.
using StreamFiller = std::function<void(uint32_t entry, uint8_t* dst)>;

// Builds the image of entries (entry 0 is the root; every other entry reachable from it exactly
// once). Raises EOleError STG_E_MEDIUMFULL when the file would exceed what version 3 addresses.
WrittenImage WriteImage(const std::vector<WriterEntry>& entries, const StreamFiller& fill);

// Called for pieces of a stream, front to back: copies the count bytes at offset to dst.
using StreamReader =
    std::function<void(uint32_t entry, uint64_t offset, uint8_t* dst, size_t count)>;
// Receives the image in order, a piece at a time.
using ImageSink = std::function<void(const uint8_t* data, size_t size)>;

// The same image handed to sink as it is made: everything before the large streams (header,
// allocation tables, directory, mini stream) at once, then the large streams piece by piece, so
// that the image of large streams is never held whole. Returns the start sectors of WrittenImage.
std::vector<uint32_t> WriteImageTo(const std::vector<WriterEntry>& entries,
                                   const StreamReader& read, const ImageSink& sink);

} // namespace orlendo::cfb
