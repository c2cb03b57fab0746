// The file inside an OLE "Package" object: what a mail program attached as an embedded object
// is, for its reader, the file that was packed into it.
#pragma once

#include <string>

namespace orlendo {

// An OLE "Package" object (the stream "\1Ole10Native") holds a file: the name under which it was
// packed and its bytes.
struct TOlePackage {
  std::string FileName; // UTF-8, as stored (not yet made safe)
  std::string Data;
};

// Reads the package of an OLE object stored as a compound-file image. False when the image is not
// a compound file, has no "\1Ole10Native" stream, or the stream is too short for what its sizes
// claim.
bool ReadOlePackage(const std::string& objectImage, TOlePackage& package);
// The same on the bytes of the "\1Ole10Native" stream itself.
bool ParseOle10Native(const std::string& stream, TOlePackage& package);

} // namespace orlendo
