// The property tag dictionary: MAPI names and short descriptions by property id, and the other
// two name lists the property inspector shows (categories and property types).
#pragma once

#include <cstdint>
#include <span>

#include "model/qvmsg.h"

namespace orlendo {

// One row of the dictionary. Only the first row of each property id is ever returned by a
// lookup, so only those are stored: one row per property id, in the dictionary's fixed order.
struct TPropertyTag {
  uint16_t PropId;
  const char* Name;        // the MAPI name without its "PR_" prefix, e.g. SUBJECT
  const char* Description; // e.g. "Subject"
};

// All rows, in table order (indexes 1 .. size).
std::span<const TPropertyTag> PropertyTagTable();

// The index (1-based) of the row whose property id equals the property id of tag; the type half
// of tag is ignored. -1 when no row has that id.
int FindTagIndex(uint32_t tag);

// Name and description of the row at a 1-based index returned by FindTagIndex; empty texts for
// any other index.
const char* TagName(int index);
const char* TagDescription(int index);

// The names of TMSGPropertyCategory, in enumeration order (20 entries).
std::span<const char* const> CategoryNames();
const char* CategoryName(TMSGPropertyCategory category);

// The inspector's list of property types (18 entries, in list order).
struct TPropertyTypeName {
  uint16_t Type;
  const char* Text;
};
std::span<const TPropertyTypeName> PropertyTypeNames();
// The list entry of a property type, or -1 when the type has none (multi-valued types among
// them).
int PropertyTypeIndex(uint16_t type);

} // namespace orlendo
