// Loads the input as a .msg file from memory, then runs every accessor and writer on the tree.
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_common.h"
#include "msg/qvmsgfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  TQvMSGFile message;
  TMemoryStream input(std::string(reinterpret_cast<const char*>(data), size));
  try {
    message.LoadFromStream(input);
  } catch (const std::exception&) {
    // A failed load keeps what was read; that part must be safe to use too.
  }
  try {
    fuzz::ExerciseMessage(message);
  } catch (const EMSGError&) {
  }
  return 0;
}
