// The HTML of a message as the EML writer and the preview show it.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// GetBodyHTML of level; when that is empty, the HTML encapsulated in its RTF body
// (ExtractHtmlFromRtf of the RTF as stored, so that its 8-bit bytes are read in the RTF's own code
// page and character references stay the HTML's). Empty when the message has neither.
std::u16string GetHtmlBodyOrFromRtf(const TMSGProperties& level);

} // namespace orlendo
