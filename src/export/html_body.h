// The HTML of a message as the EML writer and the preview show it.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// GetBodyHTML of level; when that is empty, the HTML encapsulated in its RTF body
// (ExtractHtmlFromRtf of the RTF as stored, so that its 8-bit bytes are read in the RTF's own code
// page and character references stay the HTML's). Empty when the message has neither.
std::u16string GetHtmlBodyOrFromRtf(const TMSGProperties& level);

// The plain text of level for every place that wants text: GetBody; when that is empty, the text
// that its HTML body shows (HtmlToPlainText); else the text of its RTF body (the encapsulated
// text, or the text of the encapsulated HTML or of the rendered RTF, taken the same way). Empty
// when the message has no body.
std::u16string GetPlainTextBody(const TMSGProperties& level);

} // namespace orlendo
