// The directory: 128-byte entries, one per storage or stream, linked into one red-black tree of
// siblings per storage. Reading collects the children of each storage by walking those trees
// (iteratively, refusing any entry reached twice); writing builds a balanced tree per storage.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "msg/cfb_format.h"
#include "msg/compound_file.h"

namespace orlendo::cfb {

struct DirEntry {
  EntryName name;
  uint8_t objectType = OBJ_TYPE_UNUSED;
  uint8_t color = COLOR_BLACK;
  uint32_t leftSibling = NO_STREAM;
  uint32_t rightSibling = NO_STREAM;
  uint32_t child = NO_STREAM;
  std::array<uint8_t, 16> clsid{};
  uint32_t stateBits = 0;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint32_t startSector = END_OF_CHAIN;
  uint64_t streamSize = 0;
};

// Reads entry number index from its 128 bytes. In version 3 files the high half of the stream
// size is ignored (old writers left garbage there) unless validation is Strict, which refuses
// it, as it refuses a bad name length or an unknown colour.
DirEntry ParseDirEntry(const uint8_t* p, uint32_t index, uint16_t majorVersion,
                       Validation validation);
// The same into e, every field of which it sets.
void ParseDirEntry(const uint8_t* p, uint32_t index, uint16_t majorVersion, Validation validation,
                   DirEntry& e);
void SerializeDirEntry(const DirEntry& entry, uint8_t* p);

// The children of every entry (empty for streams and for entries not reached from the root).
// Links out of range, entries reached twice (a sibling or child pointing back into the tree,
// at an ancestor for example) and unused entries inside a tree are dropped with everything below
// them; Strict validation refuses them with STG_E_DOCFILECORRUPT.
std::vector<std::vector<uint32_t>> CollectChildren(const std::vector<DirEntry>& entries,
                                                   Validation validation);

// The compound-file order of names: shorter names first, then by the upper-cased UTF-16 units.
int CompareNames(std::u16string_view a, std::u16string_view b);
// The name upper-cased unit by unit, as CompareNames compares it.
std::u16string UpperName(std::u16string_view name);
// Names are equal when they are equal upper-cased.
inline bool SameName(std::u16string_view a, std::u16string_view b) {
  return CompareNames(a, b) == 0;
}

// Links the given entries (sorted by CompareNames) into a balanced binary search tree that is a
// valid red-black tree, setting their siblings and colours. Returns the id of the tree's root,
// NO_STREAM when ids is empty.
uint32_t BuildSiblingTree(const std::vector<uint32_t>& sortedIds, std::vector<DirEntry>& entries);

} // namespace orlendo::cfb
