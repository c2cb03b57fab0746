#include "msg/cfb_directory.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace orlendo::cfb {

namespace {

[[noreturn]] void Corrupt(const std::string& message) {
  throw EOleError(STG_E_DOCFILECORRUPT, message);
}

std::string Num(uint64_t v) {
  return std::to_string(v);
}

char16_t Upper(char16_t c) {
  if (c < 0x80)
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  // Surrogate halves map to themselves; the simple mapping keeps every name's length.
  const UChar32 u = u_toupper(UChar32(c));
  return u <= 0xFFFF ? char16_t(u) : c;
}

} // namespace

std::u16string UpperName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out)
    c = Upper(c);
  return out;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return a.size() < b.size() ? -1 : 1;
  // Most names share long prefixes ("__substg1.0_"): equal units are passed four at a time.
  size_t i = 0;
  for (; i + 4 <= a.size(); i += 4) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y)
      break;
  }
  for (; i < a.size(); ++i) {
    if (a[i] == b[i])
      continue;
    const char16_t x = Upper(a[i]);
    const char16_t y = Upper(b[i]);
    if (x != y)
      return x < y ? -1 : 1;
  }
  return 0;
}

DirEntry ParseDirEntry(const uint8_t* p, uint32_t index, uint16_t majorVersion,
                       Validation validation) {
  DirEntry e;
  ParseDirEntry(p, index, majorVersion, validation, e);
  return e;
}

void ParseDirEntry(const uint8_t* p, uint32_t index, uint16_t majorVersion, Validation validation,
                   DirEntry& e) {
  const bool strict = validation == Validation::Strict;
  e.objectType = p[66];
  e.color = p[67];
  e.leftSibling = ReadU32(p + 68);
  e.rightSibling = ReadU32(p + 72);
  e.child = ReadU32(p + 76);
  std::memcpy(e.clsid.data(), p + 80, 16);
  e.stateBits = ReadU32(p + 96);
  e.creationTime = ReadU64(p + 100);
  e.modificationTime = ReadU64(p + 108);
  e.startSector = ReadU32(p + 116);
  e.streamSize = ReadU64(p + 120);
  if (e.objectType == OBJ_TYPE_UNUSED) {
    e.name = EntryName();
    return;
  }

  const uint16_t nameLen = ReadU16(p + 64);
  uint32_t units = 0;
  if (nameLen >= 2 && nameLen <= 64 && nameLen % 2 == 0) {
    units = nameLen / 2 - 1;
  } else {
    if (strict) {
      Corrupt("Directory entry " + Num(index) + " has a name length of " + Num(nameLen) +
              " bytes (at most 64)");
    }
    // Take the name up to its terminating zero; the last unit of the 64-byte field belongs to
    // that zero, so every name read here can also be written again.
    while (units < DIR_NAME_MAX_UNITS && ReadU16(p + 2 * units) != 0)
      ++units;
  }
  // A zero inside the counted length ends the name as the other readers see it.
  uint32_t length = 0;
  char16_t name[DIR_NAME_MAX_UNITS];
  for (; length < units; ++length) {
    const char16_t unit = char16_t(ReadU16(p + 2 * length));
    if (unit == 0)
      break;
    name[length] = unit;
  }
  e.name.Assign(std::u16string_view(name, length));

  if (e.color != COLOR_RED && e.color != COLOR_BLACK) {
    if (strict)
      Corrupt("Directory entry " + Num(index) + " has unknown colour " + Num(e.color));
    e.color = COLOR_BLACK;
  }
  if (majorVersion == 3 && (e.streamSize >> 32) != 0) {
    if (strict) {
      Corrupt("Directory entry " + Num(index) + " of a version 3 file has stream size " +
              Num(e.streamSize) + " (more than 32 bits)");
    }
    e.streamSize &= 0xFFFFFFFFu;
  }
}

void SerializeDirEntry(const DirEntry& e, uint8_t* p) {
  std::memset(p, 0, DIR_ENTRY_LEN);
  const size_t units = std::min<size_t>(e.name.size(), DIR_NAME_MAX_UNITS);
  for (size_t i = 0; i < units; ++i)
    WriteU16(p + 2 * i, uint16_t(e.name[i]));
  WriteU16(p + 64, e.objectType == OBJ_TYPE_UNUSED ? 0 : uint16_t(2 * (units + 1)));
  p[66] = e.objectType;
  p[67] = e.color;
  WriteU32(p + 68, e.leftSibling);
  WriteU32(p + 72, e.rightSibling);
  WriteU32(p + 76, e.child);
  std::memcpy(p + 80, e.clsid.data(), 16);
  WriteU32(p + 96, e.stateBits);
  WriteU64(p + 100, e.creationTime);
  WriteU64(p + 108, e.modificationTime);
  WriteU32(p + 116, e.startSector);
  WriteU64(p + 120, e.streamSize);
}

std::vector<std::vector<uint32_t>> CollectChildren(const std::vector<DirEntry>& entries,
                                                   Validation validation) {
  const bool strict = validation == Validation::Strict;
  const uint32_t n = uint32_t(entries.size());
  std::vector<std::vector<uint32_t>> children(n);
  if (n == 0)
    return children;
  std::vector<bool> seen(n, false);
  seen[0] = true;
  // Each entry goes on these at most once (twice on the stack, as a left and a right link).
  std::vector<uint32_t> storages; // storages whose trees are still to walk
  storages.reserve(n);
  storages.push_back(0);
  std::vector<uint32_t> stack;
  stack.reserve(2 * size_t(n) + 1);
  std::vector<uint32_t> found; // the children of the storage walked, kept at their exact number
  found.reserve(n);
  while (!storages.empty()) {
    const uint32_t parent = storages.back();
    storages.pop_back();
    found.clear();
    stack.assign(1, entries[parent].child);
    while (!stack.empty()) {
      const uint32_t id = stack.back();
      stack.pop_back();
      if (id == NO_STREAM)
        continue;
      if (id >= n) {
        if (strict) {
          Corrupt("Found reference to directory entry " + Num(id) +
                  ", but the directory has only " + Num(n) + " entries");
        }
        continue;
      }
      if (seen[id]) {
        if (strict)
          Corrupt("Directory entry " + Num(id) + " pointed to twice");
        continue;
      }
      seen[id] = true;
      const DirEntry& e = entries[id];
      if (e.objectType != OBJ_TYPE_STORAGE && e.objectType != OBJ_TYPE_STREAM) {
        if (strict) {
          Corrupt("Directory entry " + Num(id) + " of type " + Num(e.objectType) +
                  " inside the tree of entry " + Num(parent));
        }
        continue;
      }
      found.push_back(id);
      if (e.objectType == OBJ_TYPE_STORAGE)
        storages.push_back(id);
      stack.push_back(e.rightSibling);
      stack.push_back(e.leftSibling);
    }
    children[parent].assign(found.begin(), found.end());
  }
  return children;
}

uint32_t BuildSiblingTree(const std::vector<uint32_t>& sortedIds, std::vector<DirEntry>& entries) {
  if (sortedIds.empty())
    return NO_STREAM;
  // Splitting at the middle keeps every path from the root to a missing child within one step
  // of the others. With the last level red (when it is not full) and all else black, every
  // such path then passes the same number of black entries.
  struct Range {
    size_t lo, hi; // [lo, hi)
    uint32_t depth;
    uint32_t* link; // where the root of this range is linked
  };
  const size_t n = sortedIds.size();
  uint32_t height = 0; // levels of the tree
  while ((size_t(1) << height) - 1 < n)
    ++height;
  const bool lastLevelFull = (size_t(1) << height) - 1 == n;
  uint32_t root = NO_STREAM;
  std::vector<Range> pending{{0, n, 0, &root}};
  while (!pending.empty()) {
    const Range r = pending.back();
    pending.pop_back();
    if (r.lo >= r.hi) {
      *r.link = NO_STREAM;
      continue;
    }
    const size_t mid = r.lo + (r.hi - r.lo) / 2;
    const uint32_t id = sortedIds[mid];
    DirEntry& e = entries[id];
    *r.link = id;
    e.color = (!lastLevelFull && r.depth + 1 == height) ? COLOR_RED : COLOR_BLACK;
    pending.push_back({r.lo, mid, r.depth + 1, &e.leftSibling});
    pending.push_back({mid + 1, r.hi, r.depth + 1, &e.rightSibling});
  }
  return root;
}

} // namespace orlendo::cfb
