// Decodes the input as the stream of a compressed RTF body, and round-trips what comes out.
#include <cstdint>
#include <string>

#include "msg/compressed_rtf.h"
#include "model/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  RtfStreamContent content = DecodeRtfStream(input);
  (void)DecompressLzfu(input, 1 << 20);
  (void)RtfCrc32(input);
  if (!content.text.empty() && content.text.size() < (1 << 16)) {
    TMemoryStream out;
    EncodeRTFForSave(content.text, 1, &out);
    RtfStreamContent back = DecodeRtfStream(out.Data());
    if (back.text != content.text) __builtin_trap();
  }
  return 0;
}
