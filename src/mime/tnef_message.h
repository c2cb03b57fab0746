// TNEF streams (winmail.dat) in the message model: the reader of a file that is a TNEF stream,
// and the unpacking of a TNEF attachment of an Internet or Outlook message into the message that
// carries it.
//
// The stream's message attributes and attMAPIProps become the properties of a message level,
// attRecipTable its recipient nodes, and each attachment (attAttachRenddata onwards, with
// attAttachment's properties) an attachment node like the ones the other readers make: long and
// short names, data, dates, MIME tag, Content-ID. An embedded message (its own TNEF stream in
// PR_ATTACH_DATA_OBJ) becomes an ATTACH_DATA_OBJ node holding that message; an OLE object keeps
// its compound-file image as ATTACH_DATA_OBJ bytes. 8-bit strings are decoded by the code page of
// attOemCodepage and held as Unicode, so that they read the same wherever they end up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mime/tnef_reader.h"
#include "model/qvmsg.h"

namespace orlendo {

// Embedded messages nested deeper than this keep their TNEF stream as attachment bytes.
inline constexpr int MAX_TNEF_DEPTH = 16;

// Reads a TNEF stream into message (properties and recipients) and attachments (attachment
// nodes; the same collection as message for a message of its own). With withNames, named
// properties get ids from 0x8000 up and a named-property map node is appended to message;
// without, they are left out (their ids would clash with the map of the message the level
// belongs to). Returns the damage found; in the strict mode the first damage raises ETnefError
// instead, with what was read so far left in place.
TTnefDamageLog ReadTnefStream(std::string_view stream, TMSGProperties& message,
                              TMSGProperties& attachments, bool withNames,
                              TTnefCompliance mode = TTnefCompliance::Loose);

// The reader of files that hold a TNEF stream (winmail.dat, .tnef, or any name).
class TQvTNEFFile : public TQvMessage {
public:
  // Loose by default: a damaged stream yields what could be read, and the load then raises an
  // EMSGError that says what could not. Strict raises ETnefError at the first damage.
  TTnefCompliance Compliance = TTnefCompliance::Loose;

  // "File %s is not found." for a missing file; otherwise reads the file and loads its bytes.
  void LoadFromFile(const std::string& fileName) override;
  // Reads the stream from its position to its end and loads the bytes.
  void LoadFromStream(TStream& stream) override;
  void LoadFromFileImage(const std::string& fileName, std::string image) override;

  // The damage of the last load.
  uint32_t Damage() const { return damage_; }

private:
  void LoadBytes(std::string_view bytes, const std::string& name);
  uint32_t damage_ = 0;
};

// True when the attachment node is a TNEF attachment: MIME type application/ms-tnef or
// application/vnd.ms-tnef, or the file name winmail.dat (any case), with data that begins with
// the TNEF signature.
bool IsTnefAttachment(const TMSGProperty& node);

// Unpacks every TNEF attachment of level (and of the embedded messages below it) into level:
// the attachments inside become attachment nodes of level; the rich body (RTF, HTML) fills level
// where it has neither, a plain body where it has none, and the other message properties (named
// ones aside) where level lacks them; recipients where it has none. The TNEF attachment stays
// in the tree with its bytes moved into a child node "TNEF", so that it is no longer listed as a
// file, and the files it held stand right after it; a damaged stream keeps it listed, named
// with what could not be read, beside what could. Never raises on the content.
void ExpandTnefAttachments(TMSGProperties& level);

// True for a TNEF attachment node whose content ExpandTnefAttachments unpacked: its files stand
// right after it in its level, and the stream is no file of its own any more.
bool IsUnpackedTnef(const TMSGProperty& node);

} // namespace orlendo
