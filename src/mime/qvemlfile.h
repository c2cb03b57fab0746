// The Internet message reader: .eml files (RFC 822 headers with MIME parts) and MHTML web
// archives (.mht) into the property model that the .msg reader fills.
//
// Header fields become properties with fixed tags, bodies become the plain, HTML or RTF body
// properties, and every other MIME part becomes an attachment node with its decoded content.
// Nested multiparts are flattened: every part of every level becomes an attachment node of the
// root collection, in file order; the bodies of the first body part of each kind are promoted to
// the root. The parser is forgiving: it accepts any input and never fails on its content.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "mime/mime_lines.h"
#include "model/qvmsg.h"

namespace orlendo {

struct TAddressItem;

class TQvEMLFile : public TQvMessage {
public:
  // Limits against hostile input. A part that would push a boundary beyond kMaxBoundaryDepth
  // open ones is read as a leaf (its inner parts become its content), and so is a part that would
  // open a nested walk beyond kMaxNesting levels.
  static constexpr size_t kMaxBoundaryDepth = 32;
  static constexpr int kMaxNesting = 8;
  // A message level whose To, Cc and Bcc would take the recipient entries of one load beyond this
  // number makes none: its addresses stay in its header text, the display lists and the address
  // lists, which is where the accessors and writers then take them from. Real messages stay far
  // below it; lists of short addresses beyond it would cost the model many times the file's size.
  static constexpr int kMaxRecipientEntries = 10000;
  // A multipart delimiter past this many parts in one message opens no part: the input from it
  // to its end becomes the content of one last part, kept as it stands.
  static constexpr int kMaxParts = 10000;
  // The properties that header lines store for a tag their block already stored (a second
  // Subject), at most, in one load; past it such a line is kept in its block's header text only.
  static constexpr int kMaxRepeatedHeaders = 50000;
  // The multipart/signed entities whose bytes one load keeps, at most: each is a copy of its part
  // of the input, and finding its end costs a pass over the input. Real messages have one.
  static constexpr size_t kMaxSignedEntities = 4;
  // The property of each part node that gives how deep the part sits in the MIME tree (1 for a
  // part of the message's own multipart), so that the flattened parts can be written back in
  // their structure.
  static constexpr uint32_t TAG_MIME_PART_DEPTH = 0x67F00003;

  TQvEMLFile();
  ~TQvEMLFile() override;

  // Empties the model, the lines, the boundaries and the part state.
  void Clear() override;
  // Clears, then reads the stream from its position to its end and parses it. Read errors of
  // the stream propagate; the content itself never raises.
  void LoadFromStream(TStream& stream) override;
  // Raises "File %s is not found." for a missing file; otherwise clears, opens the file for
  // reading and loads it. The file is closed on every path.
  void LoadFromFile(const std::string& fileName) override;

  // Saves the message as an Outlook message would hold it (export/outlook_message.h), not the
  // MIME-shaped tree as it stands.
  void SaveToMSG(const std::string& fileName, bool full) const override;

  // The whole input split into lines; filled by a load, emptied by Clear.
  const TMimeLines& Lines() const { return lines_; }

  // Content-Transfer-Encoding of the part being read, trimmed and upper-cased.
  std::string TransferEncoding;
  // The charset parameter of the part being read.
  std::string Charset;
  // The boundary that is current (innermost open one); empty for a single-part message.
  std::string Boundary;
  // Every boundary declared and still open, innermost last.
  std::vector<std::string> BoundaryStack;
  // The collection that receives the next property.
  TMSGProperties* CurrentLevel = nullptr;

private:
  enum class DelimiterKind { None, Opening, Closing };

  TMSGProperty* Store(uint32_t tag, TVariant value, int32_t size);
  void ReadHeaderBlock(TMSGProperties& level, size_t& cursor);
  void ApplyHeaderLine(std::string_view line);
  void HandleAddressList(std::string_view value, uint32_t tag);
  // Adds a load note when neither ICU nor the code-page table knows the charset name.
  void NoteCharset(const std::string& charset);
  // The charset parameter of the Content-Type of the header block at cursor, or "".
  std::string BlockCharset(size_t cursor) const;
  // The Reply-To list as text: "name <address>" items, names decoded, separated by commas.
  std::u16string ReplyToList(std::string_view value);
  // Stores a property of a header line: the first of its tag in the block always, another one
  // while the load has stored fewer than kMaxRepeatedHeaders such repeats.
  void StoreHeader(uint32_t tag, TVariant value, int32_t size);
  // Appends a part holding the input from the line before cursor to its end, and moves the
  // cursor to the end.
  void ReadRestAsPart(TMSGProperties& parent, size_t& cursor);
  // Appends a recipient entry for one mailbox of To, Cc or Bcc, unless the load has passed
  // kMaxRecipientEntries.
  void AddRecipientEntry(const TAddressItem& item, std::u16string name, int32_t recipientType);
  void HandleContentType(std::string_view value);
  // Decides, once a part's header block is read, whether the part is a body, an alternative that
  // no view shows, or an attachment, and stores its file name.
  void ClassifyPart(TMSGProperties& level);
  // The file name of a message/rfc822 part without one: its subject with ".eml".
  void NameEmbeddedMessage(const std::string& text);
  void HandleDate(std::string_view value, uint32_t tag);
  void ReadLeafBody(TMSGProperties& level, size_t& cursor);
  void MultipartWalk(TMSGProperties& parent, size_t& cursor, size_t baseIndex, int depth);
  void ReadPart(TMSGProperties& parent, size_t& cursor, int depth);
  void PromoteBodyPart(TMSGProperties& parent, const TMSGProperty& node);
  // A later part of a body kind (0 plain, 1 HTML) that the message already has: appended to the
  // body of that kind when it is shown after it, in its place when it is a later alternative.
  void AppendShownAfter(int kind, uint32_t tag, std::u16string text);
  // Stores the part's content type, Content-ID and Content-Location as attachment properties.
  void StorePartIdentity();
  DelimiterKind ClassifyDelimiter(std::string_view line, size_t& index) const;
  std::u16string DecodeWords(std::string_view value);

  TMimeLines lines_;
  // The charset that the Content-Type of the header block being read declares.
  std::string headerCharset_;
  // The content type (type/subtype, lower case), Content-ID (without angle brackets) and
  // Content-Location of the part whose header block was read last.
  std::string partType_, partContentId_, partLocation_;
  // The recipient entries of this load, and those of the header block being read (-1 once the
  // block passed the limit and made none).
  int recipients_ = 0;
  int levelRecipients_ = 0;
  // The parts read by this load.
  int parts_ = 0;
  // The tags that the header block being read has stored, and the repeats this load stored.
  std::vector<uint32_t> blockTags_;
  int repeatedHeaders_ = 0;
  // The body kinds (1 plain, 2 HTML, 4 RTF) already promoted into each collection.
  std::unordered_map<const TMSGProperties*, uint8_t> promoted_;

  // The multipart containers that are open, one for each entry of BoundaryStack: the message's
  // own first. A part's body role depends on the container it is in.
  struct TContainer {
    std::string Type; // multipart/subtype, lower case
    int Id = 0;
    int Children = 0;
  };
  std::vector<TContainer> containers_;
  int containerIds_ = 0;
  std::vector<std::string> containerTypes_; // by id
  // Of the part whose header block is read: its container's type and its place in it (-1 for
  // the message itself), and what its header block said.
  std::string parentType_;
  int childIndex_ = -1;
  bool hadContentType_ = false;
  std::string partDisposition_;
  std::u16string typeFileName_, dispositionFileName_;
  std::string locationFileName_;
  // The part whose header block was read last is a body (its text is shown), or text that no
  // view shows (kept, neither body nor attachment).
  bool partIsBody_ = false;
  bool partIsUnshownText_ = false;
  // The part is a multipart of its own: what its leaf body reads is its preamble.
  bool partOpensMultipart_ = false;
  // The containers (by id, outermost first) of the part that gave each body kind of the message:
  // a later part of that kind is shown after it unless they are alternatives of one another.
  std::vector<int> bodyPaths_[3];
  std::vector<int> partPath_;
  // The multipart/signed entities met: the level that gets the entity's bytes (the message's or
  // the part node's), where its header block begins in the input, and its boundary.
  struct TSignedStart {
    TMSGProperties* Level;
    size_t Start;
    std::string Boundary;
  };
  std::vector<TSignedStart> signedStarts_;
  // Stores each signed entity met, to its closing delimiter, in a TAG_SIGNED_ENTITY record of
  // its level, so that its signature can be checked and the entity written out as it came.
  void StoreSignedEntities();
};

// The reader of MHTML web archives: the same reader, chosen by the file's extension.
class TQvMHTFile : public TQvEMLFile {
public:
  using TQvEMLFile::TQvEMLFile;
};

} // namespace orlendo
