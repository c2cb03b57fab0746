// The choice of the reader for a message file, by what the file holds rather than by its name.
#pragma once

#include <memory>
#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// What the beginning of a file shows it to be.
enum class TMessageFileKind {
  Unknown,      // nothing recognisable: the reader of the file's extension decides
  CompoundFile, // an OLE compound file: an Outlook message
  Internet,     // an RFC 822 header block: an Internet message or a web archive
  AppleMail,    // an Apple Mail file: a byte-count line, the message, a property list
  Tnef          // a TNEF stream (winmail.dat)
};

// How many bytes of a file's beginning tell its kind.
inline constexpr size_t kMessageKindHeadSize = 4096;

// Looks at the first bytes. Only regular files are looked into; anything else (a folder, a
// pipe, a device) is Unknown without being read, so that the load reports it at once.
TMessageFileKind DetectMessageFileKind(const std::string& fileName);
// The same test on bytes already read (the file's beginning).
TMessageFileKind DetectMessageKind(std::string_view head);

// A new, empty reader for the file: the .msg reader for a compound file, the Internet reader for
// a header block (the web-archive reader when the name ends in .mht or .mhtml, the Apple Mail
// reader for its framing, the TNEF reader for a TNEF stream), and for anything else the reader of
// the extension (any letter case): .eml and .emlx the Internet reader, .mht and .mhtml the
// web-archive reader, every other name the .msg reader, whose load then says that the file is not a
// compound file.
std::unique_ptr<TQvMessage> CreateMessageReader(const std::string& fileName);
// The same choice for a file whose beginning was looked at already.
std::unique_ptr<TQvMessage> CreateMessageReader(const std::string& fileName, TMessageFileKind kind);

} // namespace orlendo
