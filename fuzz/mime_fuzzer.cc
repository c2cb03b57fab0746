// Loads the input as an Internet message (.eml, and again as .mht), then runs every accessor
// and writer on the tree.
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_common.h"
#include "mime/qvemlfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TQvEMLFile eml;
  TQvMHTFile mht;
  for (TQvEMLFile* message : {&eml, static_cast<TQvEMLFile*>(&mht)}) {
    TMemoryStream input(bytes);
    try {
      message->LoadFromStream(input);
    } catch (const std::exception&) {
    }
    try {
      fuzz::ExerciseMessage(*message);
    } catch (const EMSGError&) {
    }
  }
  return 0;
}
