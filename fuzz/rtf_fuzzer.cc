// Runs the input through HTML recovery, text recovery and rendering of RTF.
#include <cstdint>
#include <string>

#include "text/rtf_html.h"
#include "text/rtf_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orlendo;
  const std::string rtf(reinterpret_cast<const char*>(data), size);
  (void)IsRtfEncapsulatedHtml(rtf);
  (void)ExtractHtmlFromRtf(rtf);
  (void)ExtractTextFromRtf(rtf);
  (void)RtfToHtml(rtf);
  return 0;
}
