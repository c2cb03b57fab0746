// Names of named properties. Property ids from 0x8000 up are assigned per file: the message's
// own map (the storage __nameid_version1.0, whose GUID, entry and string streams the reader
// keeps as binary records) says which property set and which numeric id (LID) or string name
// each of them stands for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/qvmsg.h"

namespace orlendo {

// One named property of a map.
struct TNamedProperty {
  uint16_t PropId = 0;   // 0x8000 and up
  std::string SetGuid;   // the property set as GUID text in braces
  bool IsString = false; // named by Name, else by Lid
  uint32_t Lid = 0;
  std::u16string Name;
};

// The named properties of a map node (tag 0x00010000). Entries that point outside the GUID or
// string stream, or whose property index goes beyond 0x7FFF, name nothing; the map is never
// trusted beyond its own bytes.
std::vector<TNamedProperty> ReadNamedPropertyMap(const TMSGProperty& mapNode);

// The well-known name of a property set ("PSETID_Common", "PS_PUBLIC_STRINGS", ...), or "" for
// a set that is not one of them.
const char* PropertySetName(const std::string& guidText);

// The canonical name of a numeric named property of a well-known set ("PidLidLocation"), or
// nullptr.
const char* CanonicalLidName(const std::string& guidText, uint32_t lid);

// The text that names record, UTF-8. For a property id from 0x8000 up that the map of the file
// the record is stored in names (embedded messages use the map of that file): the canonical
// name of its LID, or its string name, or the set and the LID ("PSETID_Common:0x00008599", the
// GUID where the set is not well known); with " (" set ")" after it when withDescription.
// An id from 0x8000 up of a file whose map does not name it has no name (""). Everything else is
// named by GetName(withDescription, false).
std::string PropertyDisplayName(const TMSGProperty& record, bool withDescription);

} // namespace orlendo
