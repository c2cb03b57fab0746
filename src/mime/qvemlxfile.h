// Apple Mail files (.emlx): a line with the byte count of the message, the message itself (an
// Internet message), then a property list of the mail program's own, which is not part of the
// message.
#pragma once

#include <string_view>

#include "mime/qvemlfile.h"

namespace orlendo {

// The message of an Apple Mail file's content: the bytes that its count line announces (as many
// as there are, when the file is cut short). Content without a count line is all message.
std::string_view EmlxMessageBytes(std::string_view content);

class TQvEMLXFile : public TQvEMLFile {
public:
  using TQvEMLFile::TQvEMLFile;
  // Clears, then reads the stream from its position to its end and parses the message it frames.
  void LoadFromStream(TStream& stream) override;
};

} // namespace orlendo
