// What a property's type says about where its value is stored.
#pragma once

#include <cstdint>

namespace orlendo {

// The types whose values a property stream holds itself (integers, floats, booleans, times);
// every other type is a stream of its own that the property stream only declares.
inline constexpr bool IsFixedSizeType(uint16_t type) {
  switch (type) {
  case 0x0002:
  case 0x0003:
  case 0x0004:
  case 0x0005:
  case 0x0006:
  case 0x0007:
  case 0x000A:
  case 0x000B:
  case 0x0014:
  case 0x0040:
    return true;
  default:
    return false;
  }
}

} // namespace orlendo
