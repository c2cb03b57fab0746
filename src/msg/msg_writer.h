// The .msg writer: a property tree saved as an Outlook compound file, the mirror of the reader
// (qvmsgfile.h).
//
// Every node record becomes a sub-storage, every leaf record a "__substg1.0_" stream holding its
// value, and every property-stream record the stream "__properties_version1.0": its header at the
// length of its class, then one 16-byte entry per child, with the type codes the reader reads
// back into the same records. A tree read from a .msg and written again gives the same storages
// and streams with the same bytes, except that a compressed RTF body is stored uncompressed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/qvmsg.h"
#include "msg/compound_file.h"

namespace orlendo {

// The top-level properties that a partial save (full false) writes, in this order, when the
// collection holds them (by exact tag, at its own level).
inline constexpr std::array<uint32_t, 32> kPartialSaveTags = {
    0x001A001E, 0x004B001E, 0x004B001F, 0x0072001E, 0x0072001F, 0x0073001E, 0x0073001F, 0x0E04001E,
    0x0E04001F, 0x0E03001E, 0x0E03001F, 0x0E02001E, 0x0E02001F, 0x0042001E, 0x0042001F, 0x0044001E,
    0x0044001F, 0x0065001E, 0x0065001F, 0x0078001E, 0x0078001F, 0x0037001E, 0x0037001F, 0x003D001E,
    0x0E1D001E, 0x0070001E, 0x00390040, 0x1035001E, 0x1000001E, 0x1000001F, 0x1013001E, 0x300B0102};

// A PT_UNICODE record whose text another tree holds (as UTF-8, or as UTF-16 when Wide), written
// as UTF-16 when the file is: a tree built only to be written (the Outlook form of an Internet
// message) refers to the large texts of its source instead of copying them. Value stays empty;
// DataSize is the size of the UTF-16, and the text (UTF-8 valid) must outlive the writing.
class TMSGPropertyTextRef : public TMSGProperty {
public:
  using TMSGProperty::TMSGProperty;
  bool Wide = false;
  std::string_view Utf8;
  std::u16string_view Utf16;
};

// Saves collection as the .msg file fileName: with full, every record of the tree; without, only
// kPartialSaveTags (no property stream, recipients or attachments). The file is written under a
// temporary name in the same folder and renamed over fileName once complete, so a failed save
// (EOleError or EMSGError, raised to the caller) leaves an existing file as it was.
void SaveToMSG(const TMSGProperties& collection, const std::string& fileName, bool full);

// The same into memory: the complete compound-file image.
std::string SaveToMSGImage(const TMSGProperties& collection, bool full);

// Writes the records of collection (all, or the partial selection) into storage.
void WriteCollection(const TMSGProperties& collection, cfb::Storage& storage, bool full);

// Writes one record and its subtree into storage:
// - a property-stream record (one of the header classes, or a record named
//   "__properties_version1.0" with children) becomes that stream;
// - a record that stands for a storage (it has children, or it is an empty storage of the
//   reader: a node tag, or a tag-less or PT_OBJECT record named by a wide string) becomes a
//   sub-storage holding its children;
// - an OLE object kept as a compound-file image (tag 0x3701000D without children) becomes the
//   storage that the image holds;
// - any other record with a tag becomes the stream "__substg1.0_" + eight upper-case hex digits
//   holding WriteValue's bytes; a leaf with tag 0 is not written. A multi-valued record of a
//   variable-size type (0x101E, 0x101F, 0x1102) also gets one stream per value, the name
//   followed by "-" and the value's index in eight hex digits; a single value under such a tag
//   is written as the one value of the property.
// Raises EOleError for failures of the compound file (invalid names among them) and for a GUID
// value that does not parse.
void WriteStorage(const TMSGProperty& record, cfb::Storage& storage);

// Writes the value of a leaf record into stream: for a multi-valued value the stream of its tag
// (the fixed-size values, or the lengths of the variable-size ones; the bytes read, when the
// values are the ones read from them); nothing when DataSize is 0; a compressed-RTF
// record uncompressed (with a "MELA" header when it was read with one); any other record by its
// type. Values the reader keeps as raw bytes (types it does not decode) are written back as they
// are.
void WriteValue(const TMSGProperty& record, cfb::Stream& stream);

// WriteValue's bytes for a leaf record of a string type (8-bit: 0x001E, 0x101E, 0x8008, 0x8013;
// UTF-16LE: 0x001F, 0x101F) that holds one value: a view of the value where they are its own
// bytes, else made in scratch. nullopt for every other record. A text of megabytes is so read
// where it stands, not through a stream.
std::optional<std::string_view> StoredStringBytes(const TMSGProperty& record, std::string& scratch);

// The bytes of a property stream: the header at the length of the record's class (a shorter
// header of a childless record is written as it is, so that a stream shorter than its header
// keeps its bytes), then one 16-byte entry per child.
std::string PropertyStreamBytes(const TMSGProperty& record);

// One 16-byte entry of a property stream. siblings is the collection that holds the property
// stream: an entry whose type the reader could not keep (stored type 0) takes its type code and
// size from the stream or storage of the same property id there, so that the variable-length
// properties stay declared. Values that the reader reads past their slot (codes 0x0048, 0x000E,
// 0x0008) keep their first bytes in the slot; the rest is what the reader takes from the head of
// the following entry.
std::array<uint8_t, 16> PropertyStreamEntry(const TMSGProperty& entry,
                                            const TMSGProperties* siblings);

// A local date-time as a FILETIME with the offset from UTC in effect now: the reverse of the
// conversion of stream values (property-stream entries use the zone's rules for their date,
// LocalDateTimeToFileTime of text/datetime.h). Milliseconds are kept.
uint64_t LocalDateTimeToFileTimeNow(TDateTime localTime);

// The 16 bytes of a GUID written as text in braces, 8-4-4-4-12 hex digits (as the reader renders
// it). False when the text is not such a GUID.
bool ParseGuidText(const std::string& text, std::array<uint8_t, 16>& guid);

} // namespace orlendo
