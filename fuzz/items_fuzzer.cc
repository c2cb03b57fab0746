// The structures of calendar items, read from any bytes: the recurrence pattern (alone, as a
// task stores it, and with an appointment's part) and the two forms of time zone definition,
// then what the writers make of them.
#include <cstdint>
#include <string>

#include "export/item_accessors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (bool appointment : {true, false}) {
    const TRecurrence r = ParseRecurrence(bytes, appointment);
    (void)CancelledDates(r);
  }
  const TTimeZone zone = ParseTimeZoneDefinition(bytes);
  if (zone.IsKnown()) {
    const TDateTime t = zone.ToUtc(45000.5);
    (void)zone.ToLocal(t);
  }
  const TTimeZone old = ParseTimeZoneStruct(bytes, u"zone");
  if (old.IsKnown())
    (void)old.OffsetAtUtc(45000.5);
  return 0;
}
