// What the readers share that lift the content of a message held inside another (a winmail.dat,
// a signed part) into the level that holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/qvmsg.h"

namespace orlendo {

// A byte count as a record's DataSize, which is 32-bit.
int32_t RecordSize(size_t n);

// The record of a property id directly in level (not a node), or null.
TMSGProperty* DirectProperty(const TMSGProperties& level, uint16_t propId);

// Gives level inner's plain-text body where level has none of its own; a level without a body
// format then has plain text.
void AddPlainBodyWhereMissing(TMSGProperties& level, const TMSGProperties& inner);

} // namespace orlendo
