// The reader of Outlook .msg files: one walk of the compound file into the property tree.
//
// Every storage becomes a node record whose SubProperties receive what the storage holds, every
// stream whose name ends in a tag becomes a record holding the stream's value, and each property
// stream ("__properties_version1.0") becomes a record whose children are its 16-byte entries.
// Nothing is interpreted beyond that: recipients, attachments and embedded messages are
// recognised later by their node tags.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/qvmsg.h"
#include "msg/compound_file.h"

namespace orlendo {

// Embedded messages nested deeper than this are kept as the compound-file image of their
// storage (like an OLE object) instead of being walked.
inline constexpr int MAX_EMBEDDED_MESSAGE_DEPTH = 64;
// Any storage nested deeper than this is kept the same way. Room for the embedded messages
// above, each of which takes two levels (attachment storage, message storage), and their own
// recipient and attachment storages.
inline constexpr int MAX_STORAGE_DEPTH = 2 * MAX_EMBEDDED_MESSAGE_DEPTH + 16;

class TQvMSGFile : public TQvMessage {
public:
  // "File %s is not found." when there is no such file (the model is then left as it was);
  // "File %s is not valid file (compound storage)" when it is not a compound file; errors of the
  // compound-file layer (EOleError) as they come. The file is read in place, not copied into
  // memory. On any failure the records read so far stay in Properties().
  void LoadFromFile(const std::string& fileName) override;

  // Reads the stream from its position to its end into one block of memory and walks the
  // compound file in it.
  void LoadFromStream(TStream& stream) override;
  // The file's bytes read already: the same checks and messages as LoadFromFile.
  void LoadFromFileImage(const std::string& fileName, std::string image) override;

  // Appends the elements of storage to collection, recursively. The nesting limits count from
  // the level of collection in its tree, so that a storage handed in from outside (a dropped
  // storage) is held to them as well. Elements that cannot be opened or read are skipped; a
  // failure to list storage itself raises.
  void ReadStorage(const cfb::Storage& storage, TMSGProperties& collection);

private:
  void ReadStorageAt(const cfb::Storage& storage, const std::vector<cfb::EntryStat>& elements,
                     TMSGProperties& collection, int storageDepth, int embeddedDepth);
  void ReadSubStorage(const cfb::Storage& parent, const cfb::EntryStat& element,
                      TMSGProperties& collection, int storageDepth, int embeddedDepth);
  void ReadTaggedStream(const cfb::Storage& parent, const cfb::EntryStat& element, uint32_t tag,
                        TMSGProperties& collection);
  void ReadPropertyStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                          TMSGProperties& collection);
  void ReadDocumentStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                          TMSGProperties& collection);
  void ReadUntaggedStream(const cfb::Storage& parent, const cfb::EntryStat& element,
                          TMSGProperties& collection);
};

// The tag that ends an element name: its last eight characters (all of them when the name is
// shorter) read as a hexadecimal number. False when any of them is not a hexadecimal digit.
bool TagFromElementName(std::u16string_view name, uint32_t& tag);

// True when one of the storage's elements is an OLE system stream (\1Ole, \1CompObj,
// \1Ole10Native, \2OlePres000, \3MailStream, \5SummaryInformation,
// \5DocumentSummaryInformation).
bool IsOleObjectStorage(const std::vector<cfb::EntryStat>& elements);
bool IsOleObjectStorage(const cfb::Storage& storage);

// The storage as a complete compound file of its own (its image in memory).
std::string StorageToBytes(const cfb::Storage& storage);

// Decodes the 16-byte header-less entries of a property stream (the bytes after the header)
// into records appended to collection, one per complete 16-byte entry; value slots that a type
// reads past are read on into the following bytes, as far as entries exists.
void ReadPropertyEntries(std::string_view entries, TMSGProperties& collection);

} // namespace orlendo
