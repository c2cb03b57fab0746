// PDF output. The PDF writer draws the message with the window module's printing (the web
// engine for HTML, Qt's PDF writer for the rest), which the core and the command line must not
// load; whoever has started that machinery installs the writer here, and the converters look it
// up. Without one, PDF cannot be written, and the command line knows to start the module.
#pragma once

#include <functional>
#include <string>

namespace orlendo {

class TMSGProperties;

// Writes the message of level as PDF into the file path (which exists and is replaced);
// throws EMSGError with a reason for a person to read when it cannot. May be called from any
// thread; calls are served one at a time.
using TPdfWriter = std::function<void(const TMSGProperties& level, const std::string& path)>;

// Installs writer for the rest of the process (an empty function removes it).
void SetPdfWriter(TPdfWriter writer);

// The installed writer; an empty function when there is none.
TPdfWriter GetPdfWriter();

} // namespace orlendo
