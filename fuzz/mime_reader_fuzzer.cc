// Loads the input as an Internet message and walks the tree it gives, nothing else: the reader
// alone, on small inputs, so that it is fuzzed thousands of times a second (the mime target
// also runs every writer and is far slower).
#include <cstdint>
#include <exception>
#include <string>

#include "mime/qvemlfile.h"

namespace {

// Reads every record, so that a record the reader left half made is touched.
size_t Walk(const orlendo::TMSGProperties& level, int depth) {
  size_t total = 0;
  for (int i = 0; i < level.Count(); ++i) {
    const orlendo::TMSGProperty* record = level.Items(i);
    total += record->GetValueText().size() + static_cast<size_t>(record->DataSize);
    if (depth < 16)
      total += Walk(record->SubProperties(), depth + 1);
  }
  return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  if (size > 65536)
    return 0;
  TQvEMLFile message;
  TMemoryStream input(std::string(reinterpret_cast<const char*>(data), size));
  try {
    message.LoadFromStream(input);
  } catch (const std::exception&) {
  }
  volatile size_t sink = Walk(message.Properties(), 0);
  (void)sink;
  return 0;
}
