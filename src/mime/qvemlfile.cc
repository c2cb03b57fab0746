#include "mime/qvemlfile.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "mime/mime_headers.h"
#include "mime/rfc2047.h"
#include "mime/signed_content.h"
#include "mime/tnef_message.h"
#include "model/qvmsgcnst.h"
#include "model/utf8.h"
#include "text/internet_encodings.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

// Tags that the reader writes.
constexpr uint32_t TAG_TRANSPORT_MESSAGE_HEADERS = 0x007D001E;
constexpr uint32_t TAG_MESSAGE_CLASS = 0x001A001E;
constexpr uint32_t TAG_X400_CONTENT_TYPE = 0x003C0102;
constexpr uint32_t TAG_MESSAGE_CODEPAGE = 0x3FFD0003;
constexpr uint32_t TAG_ATTACH_FILENAME = 0x3704001E;
constexpr uint32_t TAG_ATTACH_LONG_FILENAME = 0x3707001E;
constexpr uint32_t TAG_BODY = 0x1000001E;
constexpr uint32_t TAG_BODY_HTML = 0x1013001E;
constexpr uint32_t TAG_DISPLAY_NAME = 0x3001001E;
constexpr uint32_t TAG_EMAIL_ADDRESS = 0x3003001E;
constexpr uint32_t TAG_PRIORITY = 0x00260003;
constexpr uint32_t TAG_ADDRTYPE = 0x3002001E;
constexpr uint32_t TAG_SMTP_ADDRESS = 0x39FE001E;
constexpr uint32_t TAG_RECIPIENT_TYPE = 0x0C150003;
constexpr uint32_t TAG_ATTACH_MIME_TAG = 0x370E001E;
constexpr uint32_t TAG_ATTACH_CONTENT_ID = 0x3712001E;
constexpr uint32_t TAG_ATTACH_CONTENT_LOCATION = 0x3713001E;
constexpr uint32_t TAG_ATTACHMENT_HIDDEN = 0x7FFE000B;

// Text types that a view shows as a body, and those that only a few clients understand: an
// alternative of the latter is kept but neither shown nor listed as an attachment.
bool IsShownTextType(std::string_view type) {
  return type == "text/plain" || type == "text/html" || type == "text/rtf" ||
         type == "application/smil";
}
bool IsUnshownTextType(std::string_view type) {
  return type == "text/enriched" || type == "text/richtext" || type == "text/watch-html" ||
         type == "text/x-amp-html";
}

enum class Handler {
  None,
  AddressList,
  DecodedText,
  Priority,
  ContentType,
  ContentLocation,
  ContentId,
  TransferEncoding,
  ReplyTo,
  Importance
};

struct HeaderRow {
  const char* Name;
  uint32_t Tag;
  Handler Kind;
};

// Matched in this order; the first match wins. Names are matched as prefixes of the line, so the
// order decides between names that begin alike.
constexpr HeaderRow kHeaders[] = {
    {"FROM:", 0x0042001E, Handler::AddressList},
    {"SUBJECT:", 0x0037001E, Handler::DecodedText},
    {"ORGANIZATION:", 0x8101101E, Handler::None},
    {"TO:", 0x0044001E, Handler::AddressList},
    {"CC:", 0x0E03001E, Handler::AddressList},
    {"BCC:", 0x0E02001E, Handler::AddressList},
    {"DATE:", 0x00390040, Handler::None},
    {"X-PRIORITY:", TAG_PRIORITY, Handler::Priority},
    {"PRIORITY:", TAG_PRIORITY, Handler::Priority},
    {"CONTENT-TYPE:", 0, Handler::ContentType},
    {"CONTENT-LOCATION:", 0, Handler::ContentLocation},
    {"CONTENT-DESCRIPTION:", 0x806F101E, Handler::None},
    {"CONTENT-ID:", 0x0008001E, Handler::ContentId},
    {"MESSAGE-ID:", 0x1035001E, Handler::None},
    {"THREAD-TOPIC:", 0x0070001E, Handler::None},
    {"THREAD-INDEX:", 0x00710102, Handler::None},
    {"CONTENT-TRANSFER-ENCODING:", 0, Handler::TransferEncoding},
    {"REPLY-TO:", 0x0050001F, Handler::ReplyTo},      // REPLY_RECIPIENT_NAMES
    {"IN-REPLY-TO:", 0x1042001E, Handler::None},      // IN_REPLY_TO_ID
    {"REFERENCES:", 0x1039001E, Handler::None},       // INTERNET_REFERENCES
    {"IMPORTANCE:", 0x00170003, Handler::Importance}, // IMPORTANCE
};

constexpr char kContentDisposition[] = "CONTENT-DISPOSITION:";

// The address tag that belongs to the name tag of an address header.
uint32_t AddressTagOf(uint32_t nameTag) {
  switch (nameTag) {
  case 0x0042001E:
    return 0x0065001E; // From: SENT_REPRESENTING_EMAIL_ADDRESS
  case 0x0044001E:
    return 0x0078001E; // To: RCVD_REPRESENTING_EMAIL_ADDRESS
  case 0x0E03001E:
    return 0x0073001E; // Cc: ORIGINAL_DISPLAY_CC
  default:
    return 0x0072001E; // Bcc: ORIGINAL_DISPLAY_BCC
  }
}

// The recipient type (1 To, 2 Cc, 3 Bcc) of the name tag of an address header; 0 for From.
int32_t RecipientTypeOf(uint32_t nameTag) {
  switch (nameTag) {
  case 0x0044001E:
    return 1;
  case 0x0E03001E:
    return 2;
  case 0x0E02001E:
    return 3;
  default:
    return 0;
  }
}

int32_t SizeOf(size_t length) {
  return static_cast<int32_t>(std::min<size_t>(length, INT32_MAX));
}

// line == prefix + boundary + suffix, without building the string.
bool IsForm(std::string_view line, std::string_view prefix, std::string_view boundary,
            std::string_view suffix) {
  return line.size() == prefix.size() + boundary.size() + suffix.size() &&
         line.substr(0, prefix.size()) == prefix &&
         line.substr(prefix.size(), boundary.size()) == boundary &&
         line.substr(prefix.size() + boundary.size()) == suffix;
}

// The text of 8-bit part content in the code page its part declared, decoded the way the model
// decodes a message's 8-bit strings (a code page outside the Windows ones taken as it stands).
std::u16string DecodePartText(const std::string& bytes, int codePage) {
  if (codePage > 0) {
    const int family = WindowsFamilyCodePage(codePage);
    if (family != codePage && family != 65001 && IcuConverterName(static_cast<unsigned>(codePage)))
      return CodePageToWide(bytes, static_cast<unsigned>(codePage));
    return DecodeStoredText(bytes, codePage);
  }
  return DecodeStoredText(bytes, 0);
}

} // namespace

TQvEMLFile::TQvEMLFile() {
  CurrentLevel = &Properties();
}

TQvEMLFile::~TQvEMLFile() = default;

void TQvEMLFile::Clear() {
  TQvMessage::Clear();
  Boundary.clear();
  BoundaryStack.clear();
  TransferEncoding.clear();
  Charset.clear();
  CurrentLevel = &Properties();
  lines_.Clear();
  promoted_.clear();
  containers_.clear();
  containerIds_ = 0;
  containerTypes_.clear();
  for (std::vector<int>& path : bodyPaths_)
    path.clear();
  partPath_.clear();
  parentType_.clear();
  childIndex_ = -1;
  blockTags_.clear();
  repeatedHeaders_ = 0;
  recipients_ = 0;
  levelRecipients_ = 0;
  parts_ = 0;
  signedStarts_.clear();
}

void TQvEMLFile::LoadFromStream(TStream& stream) {
  TQvMessage::LoadFromStream(stream);
  std::string data;
  const int64_t remaining = stream.Size() - stream.Position();
  if (remaining > 0) {
    data.resize(static_cast<size_t>(remaining));
    data.resize(stream.Read(data.data(), data.size()));
  }
  // A stream may hold more than its size said (or not know its size): read to its end.
  char chunk[65536];
  for (size_t got; (got = stream.Read(chunk, sizeof chunk)) > 0;)
    data.append(chunk, got);
  lines_.Assign(std::move(data));

  size_t cursor = 0;
  parentType_.clear();
  childIndex_ = -1;
  partPath_.clear();
  ReadHeaderBlock(Properties(), cursor);
  if (partType_ == "multipart/signed" && !Boundary.empty())
    signedStarts_.push_back({&Properties(), 0, Boundary});
  if (!Boundary.empty())
    MultipartWalk(Properties(), cursor, 0, 0);
  else
    ReadLeafBody(Properties(), cursor);
  CurrentLevel = &Properties();
  StoreSignedEntities();
  // A winmail.dat holds the attachments and the rich body the sender meant.
  ExpandTnefAttachments(Properties());
  // An opaque-signed message holds its content inside its signature.
  ExpandSignedContent(Properties());
}

void TQvEMLFile::StoreSignedEntities() {
  const std::string_view text = lines_.Text();
  size_t line = 0;
  for (const TSignedStart& entity : signedStarts_) {
    // The entities are met in input order: the search for each one's first line goes on from
    // the last one's.
    while (line < lines_.Count() &&
           static_cast<size_t>(lines_[line].data() - text.data()) < entity.Start)
      ++line;
    size_t end = text.size();
    for (size_t i = line; i < lines_.Count(); ++i) {
      std::string_view candidate = lines_[i];
      while (!candidate.empty() && (candidate.back() == ' ' || candidate.back() == '\t'))
        candidate.remove_suffix(1);
      if (candidate.size() == entity.Boundary.size() + 4 && candidate.substr(0, 2) == "--" &&
          candidate.substr(2, entity.Boundary.size()) == entity.Boundary &&
          candidate.substr(candidate.size() - 2) == "--") {
        end = static_cast<size_t>(lines_[i].data() + lines_[i].size() - text.data());
        break;
      }
    }
    if (end <= entity.Start)
      continue;
    CurrentLevel = entity.Level;
    Store(TAG_SIGNED_ENTITY,
          TVariant::FromBytes(std::string(text.substr(entity.Start, end - entity.Start))),
          SizeOf(end - entity.Start));
  }
  CurrentLevel = &Properties();
}

void TQvEMLFile::LoadFromFile(const std::string& fileName) {
  TQvMessage::LoadFromFile(fileName);
  TFileStream file(fileName, TFileStream::OpenRead);
  LoadFromStream(file);
}

TMSGProperty* TQvEMLFile::Store(uint32_t tag, TVariant value, int32_t size) {
  TMSGProperty* record = CurrentLevel->Add();
  record->TagID = tag;
  record->Value = std::move(value);
  record->DataSize = size;
  return record;
}

void TQvEMLFile::StoreHeader(uint32_t tag, TVariant value, int32_t size) {
  if (std::find(blockTags_.begin(), blockTags_.end(), tag) == blockTags_.end()) {
    blockTags_.push_back(tag);
  } else {
    // Lookups take the first record of a tag. Past the limit a repeated header is kept in the
    // block's transport headers only, which hold it whole.
    if (repeatedHeaders_ >= kMaxRepeatedHeaders)
      return;
    ++repeatedHeaders_;
  }
  Store(tag, std::move(value), size);
}

std::u16string TQvEMLFile::DecodeWords(std::string_view value) {
  if (!OnConvertCodepage) {
    // The charsets of the encoded-words: one that nothing here knows is read by the fallback,
    // and the user is told so. Runs of words in one charset are the rule: each name is looked
    // up once per run.
    std::string_view previous;
    for (size_t at = value.find("=?"); at != std::string_view::npos; at = value.find("=?", at)) {
      at += 2;
      const size_t question = value.find('?', at);
      if (question == std::string_view::npos)
        break;
      const std::string_view charset = value.substr(at, question - at);
      if (charset != previous)
        NoteCharset(std::string(charset));
      previous = charset;
      at = question + 1;
    }
  }
  return DecodeEncodedWords(value, OnConvertCodepage, this, headerCharset_);
}

void TQvEMLFile::NoteCharset(const std::string& charset) {
  // RFC 2231 lets a language follow the name ("utf-8*en"): the name is what comes before it.
  const std::string name = charset.substr(0, charset.find('*'));
  if (!name.empty() && !IsKnownCharset(name))
    AddLoadNote(SUnknownCharsetKey, SUnknownCharset, {name.substr(0, 64)});
}

TQvEMLFile::DelimiterKind TQvEMLFile::ClassifyDelimiter(std::string_view line,
                                                        size_t& index) const {
  // Closing forms of every open boundary before any opening form, innermost first.
  if (line.empty() || BoundaryStack.empty())
    return DelimiterKind::None;
  for (size_t i = BoundaryStack.size(); i-- > 0;) {
    const std::string& b = BoundaryStack[i];
    if (IsForm(line, "", b, "--") || IsForm(line, "--", b, "--")) {
      index = i;
      return DelimiterKind::Closing;
    }
  }
  for (size_t i = BoundaryStack.size(); i-- > 0;) {
    const std::string& b = BoundaryStack[i];
    if (IsForm(line, "", b, "") || IsForm(line, "--", b, "")) {
      index = i;
      return DelimiterKind::Opening;
    }
  }
  return DelimiterKind::None;
}

void TQvEMLFile::ReadHeaderBlock(TMSGProperties& level, size_t& cursor) {
  CurrentLevel = &level;
  blockTags_.clear();
  levelRecipients_ = 0;
  TransferEncoding.clear();
  Charset.clear();
  partType_.clear();
  partContentId_.clear();
  partLocation_.clear();
  hadContentType_ = false;
  partDisposition_.clear();
  typeFileName_.clear();
  dispositionFileName_.clear();
  locationFileName_.clear();
  partIsBody_ = false;
  partIsUnshownText_ = false;
  partOpensMultipart_ = false;
  const size_t count = lines_.Count();
  size_t index = 0;
  if (cursor >= count || ClassifyDelimiter(lines_[cursor], index) != DelimiterKind::None) {
    ClassifyPart(level);
    return;
  }
  if (lines_[cursor].empty()) {
    ++cursor;
    ClassifyPart(level);
    return;
  }

  headerCharset_ = BlockCharset(cursor);
  // The block as received (unfolded) comes first among the part's properties.
  TMSGProperty* headers = Store(TAG_TRANSPORT_MESSAGE_HEADERS, TVariant::FromBytes({}), 0);
  std::string text, folded;
  while (cursor < count) {
    // A delimiter ends the block unread, so that a part without a blank line after its header
    // does not swallow the next part.
    if (ClassifyDelimiter(lines_[cursor], index) != DelimiterKind::None)
      break;
    const std::string_view line = ReadHeaderLine(lines_, cursor, folded);
    if (line.empty())
      break;
    // Room for the line and its line end at once: appending them one after the other would
    // double a huge line's buffer.
    if (text.capacity() < text.size() + line.size() + 2)
      text.reserve(std::max(text.size() + line.size() + 2, text.capacity() * 2));
    text += line;
    text += "\r\n";
    ApplyHeaderLine(line);
  }
  headers->DataSize = SizeOf(text.size());
  headers->Value = TVariant::FromBytes(std::move(text));
  ClassifyPart(level);
}

void TQvEMLFile::ClassifyPart(TMSGProperties& level) {
  // RFC 2045, 5.2: a part without a Content-Type, or with one that is not a type/subtype, is
  // US-ASCII plain text (RFC 2046, 5.1.5: in a digest, a message), as mail clients read it.
  if (partType_.empty())
    partType_ =
        parentType_ == "multipart/digest" && !hadContentType_ ? "message/rfc822" : "text/plain";
  // RFC 2183: the disposition's file name wins over the type's name, as in every mail client.
  std::u16string fileName =
      !dispositionFileName_.empty() ? std::move(dispositionFileName_) : std::move(typeFileName_);
  const bool named = !fileName.empty() || partDisposition_ == "attachment";
  // The root of a related multipart is its first part; the others are what that root uses, or
  // attachments. The second part of a signed multipart is its signature.
  const bool resource = parentType_ == "multipart/related" && childIndex_ > 0;
  const bool signature = parentType_ == "multipart/signed" && childIndex_ == 1;
  partIsBody_ = IsShownTextType(partType_) && !named && !resource && !signature;
  partIsUnshownText_ = IsUnshownTextType(partType_) && !named && !resource && !signature;
  // The message itself is marked only when its header said what it is.
  if (partIsBody_ && (level.ParentProperty != nullptr || hadContentType_))
    StoreHeader(TAG_MESSAGE_CLASS, TVariant::FromBytes("IPM.Note"), 8);
  if (!fileName.empty()) {
    const int32_t size = SizeOf(fileName.size());
    StoreHeader(TAG_ATTACH_FILENAME, TVariant::FromWide(std::move(fileName)), size);
  }
  if (!locationFileName_.empty()) {
    const int32_t size = SizeOf(locationFileName_.size());
    StoreHeader(TAG_ATTACH_FILENAME, TVariant::FromBytes(std::move(locationFileName_)), size);
  }
  // A part keeps how it was typed, referenced and nested, so that it can be written out as it
  // came.
  if (level.ParentProperty != nullptr) {
    StorePartIdentity();
    Store(TAG_MIME_PART_DEPTH, TVariant::FromInteger(static_cast<int32_t>(partPath_.size())), 4);
    // Mail clients do not list a signature among the attachments.
    if (signature)
      Store(TAG_ATTACHMENT_HIDDEN, TVariant::FromBoolean(true), 2);
  }
}

std::string TQvEMLFile::BlockCharset(size_t cursor) const {
  // Raw 8-bit header text that is not UTF-8 is in the block's charset, which a Content-Type line
  // after that text may give: the block is looked through once before it is read.
  std::string type;
  bool inType = false;
  size_t index = 0;
  for (; cursor < lines_.Count(); ++cursor) {
    const std::string_view line = lines_[cursor];
    if (line.empty() || ClassifyDelimiter(line, index) != DelimiterKind::None)
      break;
    if (line.front() == ' ' || line.front() == '\t') {
      if (inType && type.size() < 4096)
        type.append(line);
      continue;
    }
    if (!type.empty())
      break;
    inType = MatchesHeaderName(line, "CONTENT-TYPE:");
    if (inType)
      type = std::string(HeaderValue(line, "CONTENT-TYPE:"));
  }
  std::string charset;
  FindParameter(type, AsciiLower(type), "charset=", charset);
  return charset;
}

void TQvEMLFile::StorePartIdentity() {
  for (const auto& [tag, text] : {std::pair{TAG_ATTACH_MIME_TAG, &partType_},
                                  std::pair{TAG_ATTACH_CONTENT_ID, &partContentId_},
                                  std::pair{TAG_ATTACH_CONTENT_LOCATION, &partLocation_}})
    if (!text->empty())
      Store(tag, TVariant::FromBytes(*text), SizeOf(text->size()));
}

void TQvEMLFile::ApplyHeaderLine(std::string_view line) {
  for (const HeaderRow& row : kHeaders) {
    if (!MatchesHeaderName(line, row.Name))
      continue;
    const std::string_view name = row.Name;
    const std::string_view value = HeaderValue(line, name);
    const int32_t size = SizeOf(value.size());
    switch (row.Kind) {
    case Handler::AddressList:
      HandleAddressList(value, row.Tag);
      break;
    case Handler::DecodedText: {
      const std::string_view raw = Unquote(value);
      if (raw.find("=?") == std::string_view::npos && IsValidUtf8(raw)) {
        // Text without encoded words that is its own UTF-8 is that text as it stands: it is
        // kept so, where the line stands in the input a part of it, and never widened to be
        // read. A subject as large as the file would take twice its size again as UTF-16.
        const auto at = reinterpret_cast<uintptr_t>(raw.data());
        const auto input = reinterpret_cast<uintptr_t>(lines_.Text().data());
        const bool inInput = at >= input && at + raw.size() <= input + lines_.Text().size();
        StoreHeader(row.Tag,
                    inInput ? TVariant::FromWideUtf8(lines_.Buffer(), raw)
                            : TVariant::FromWideUtf8(std::string(raw)),
                    SizeOf(utf8::Utf16Length(raw)));
        break;
      }
      std::u16string text = DecodeWords(raw);
      const int32_t textSize = SizeOf(text.size());
      StoreHeader(row.Tag, TVariant::FromWide(std::move(text)), textSize);
      break;
    }
    case Handler::Priority:
      StoreHeader(row.Tag, TVariant::FromInteger(PriorityFromHeader(value)), 4);
      break;
    case Handler::ContentType:
      HandleContentType(value);
      break;
    case Handler::ContentLocation: {
      partLocation_ = std::string(TrimBlanks(value));
      std::string fileName;
      if (ContentLocationFileName(value, fileName)) {
        StoreHeader(TAG_ATTACH_LONG_FILENAME, TVariant::FromBytes(std::string(value)),
                    SizeOf(value.size()));
        // Stored after a name that the part gives itself, which comes first.
        locationFileName_ = std::move(fileName);
      }
      break;
    }
    case Handler::ContentId: {
      StoreHeader(row.Tag, TVariant::FromBytes(std::string(value)), size);
      std::string_view id = TrimBlanks(value);
      if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
        id = id.substr(1, id.size() - 2);
      partContentId_ = std::string(TrimBlanks(id));
      break;
    }
    case Handler::TransferEncoding:
      TransferEncoding = AsciiUpper(TrimBlanks(value));
      break;
    case Handler::ReplyTo: {
      std::u16string list = ReplyToList(value);
      if (!list.empty()) {
        const int32_t listSize = SizeOf(list.size());
        StoreHeader(row.Tag, TVariant::FromWide(std::move(list)), listSize);
      }
      break;
    }
    case Handler::Importance: {
      // RFC 2156: "low", "normal" or "high", the values 0, 1 and 2 of IMPORTANCE.
      const std::string lower = AsciiLower(TrimBlanks(value));
      const int importance = lower.rfind("high", 0) == 0 ? 2 : lower.rfind("low", 0) == 0 ? 0 : 1;
      StoreHeader(row.Tag, TVariant::FromInteger(importance), 4);
      break;
    }
    case Handler::None:
      if (PropType(row.Tag) == 0x0040)
        HandleDate(value, row.Tag);
      else
        StoreHeader(row.Tag, TVariant::FromBytes(std::string(value)), size);
      break;
    }
    return;
  }
  if (MatchesHeaderName(line, kContentDisposition)) {
    const std::string_view value = HeaderValue(line, kContentDisposition);
    std::u16string fileName;
    if (DispositionFileName(value, OnConvertCodepage, this, fileName))
      dispositionFileName_ = std::move(fileName);
    partDisposition_ = AsciiLower(TrimBlanks(value.substr(0, value.find(';'))));
  }
}

void TQvEMLFile::HandleDate(std::string_view value, uint32_t tag) {
  const std::string text(value);
  TDateTime date = 0;
  if (TryParseRfc822Date(text, date))
    StoreHeader(tag, TVariant::FromDateTime(date), SizeOf(text.size()));
  // Text that is no date, or whose fields cannot form one, is left out: one bad header must not
  // make the rest of a received message unreadable.
}

void TQvEMLFile::HandleAddressList(std::string_view value, uint32_t tag) {
  const int32_t recipientType = RecipientTypeOf(tag);
  std::string addresses;
  std::u16string decodedNames;
  bool first = true;
  ForEachHeaderAddress(value, [&](TAddressItem& item) {
    std::u16string name = DecodeWords(item.Name);
    if (!first && !decodedNames.empty())
      decodedNames += u';';
    decodedNames += name;
    if (!first && !addresses.empty())
      addresses += ';';
    addresses += item.Address;
    first = false;
    if (recipientType != 0) // the sender is no recipient
      AddRecipientEntry(item, std::move(name), recipientType);
  });
  if (!decodedNames.empty()) {
    const int32_t size = SizeOf(decodedNames.size());
    StoreHeader(tag, TVariant::FromWide(std::move(decodedNames)), size);
  }
  if (!addresses.empty()) {
    std::u16string text = DecodeWords(addresses);
    const int32_t size = SizeOf(text.size());
    StoreHeader(AddressTagOf(tag), TVariant::FromWide(std::move(text)), size);
  }
}

std::u16string TQvEMLFile::ReplyToList(std::string_view value) {
  // The mailboxes written out again, decoded, as one list that an address parser reads back.
  std::u16string list;
  ForEachHeaderAddress(value, [&](TAddressItem& item) {
    const std::u16string name = DecodeWords(item.Name);
    const std::u16string address = SystemToWide(item.Address);
    if (!list.empty())
      list += u", ";
    if (name.empty()) {
      list += address;
      return;
    }
    if (name.find_first_of(u"\"\\,;:<>()@[]") == std::u16string::npos) {
      list += name;
    } else {
      list += u'"';
      for (const char16_t c : name) {
        if (c == u'"' || c == u'\\')
          list += u'\\';
        list += c;
      }
      list += u'"';
    }
    if (!address.empty())
      list += u" <" + address + u">";
  });
  return list;
}

void TQvEMLFile::AddRecipientEntry(const TAddressItem& item, std::u16string name,
                                   int32_t recipientType) {
  if (levelRecipients_ < 0)
    return;
  if (recipients_ >= kMaxRecipientEntries) {
    // Past the limit the header text is the only list of this level: the entries made so far go
    // too, so that every reader of its recipients takes all of them from one place, the headers.
    CurrentLevel->RemoveAll(TAG_RECIPIENT_NODE);
    recipients_ -= levelRecipients_;
    levelRecipients_ = -1;
    return;
  }
  ++recipients_;
  ++levelRecipients_;
  // Every recipient of To, Cc and Bcc, also a single one, is an entry of the recipient table
  // with its type, so that a writer can list each one with its address.
  TMSGProperty* recipient = Store(TAG_RECIPIENT_NODE, TVariant::FromWide(u"recip_version"), 13);
  TMSGProperties& entry = recipient->SubProperties();
  // As in a recipient table, the display name is never empty: without a name it is the address.
  entry.AddProperty(TAG_DISPLAY_NAME, TVariant::FromWide(name.empty() ? SystemToWide(item.Address)
                                                                      : std::move(name)));
  entry.AddProperty(TAG_EMAIL_ADDRESS, TVariant::FromBytes(item.Address));
  if (!item.Address.empty()) {
    entry.AddProperty(TAG_ADDRTYPE, TVariant::FromBytes("SMTP"));
    entry.AddProperty(TAG_SMTP_ADDRESS, TVariant::FromBytes(item.Address));
  }
  entry.AddProperty(TAG_RECIPIENT_TYPE, TVariant::FromInteger(recipientType));
}

void TQvEMLFile::HandleContentType(std::string_view value) {
  const std::string lower = AsciiLower(value);
  hadContentType_ = true;
  StoreHeader(TAG_X400_CONTENT_TYPE, TVariant::FromBytes(std::string(value)), SizeOf(value.size()));
  const std::string_view type = TrimBlanks(std::string_view(lower).substr(0, lower.find(';')));
  if (type.find('/') != std::string_view::npos)
    partType_ = std::string(type);
  std::string param;
  if (FindParameter(value, lower, "charset=", param)) {
    Charset = param;
    if (!OnConvertCodepage)
      NoteCharset(Charset);
    StoreHeader(TAG_MESSAGE_CODEPAGE, TVariant::FromInteger(CharsetToCodePage(Charset)),
                SizeOf(Charset.size()));
  }
  if (FindParameter(value, lower, "name=", param))
    typeFileName_ = DecodeWords(param);
  if (FindParameter(value, lower, "boundary=", param) && !param.empty() &&
      BoundaryStack.size() < kMaxBoundaryDepth) {
    Boundary = param;
    BoundaryStack.push_back(std::move(param));
    const int id = containerIds_++;
    containers_.push_back({partType_, id, 0});
    containerTypes_.push_back(partType_);
    partOpensMultipart_ = true;
  }
}

void TQvEMLFile::ReadLeafBody(TMSGProperties& level, size_t& cursor) {
  CurrentLevel = &level;
  const size_t count = lines_.Count();
  const size_t first = cursor;
  size_t end = first;
  size_t index = 0;
  if (BoundaryStack.empty()) {
    end = count;
  } else {
    // A delimiter of any open boundary ends the body; it stays unread for the walk.
    while (end < count && ClassifyDelimiter(lines_[end], index) == DelimiterKind::None)
      ++end;
  }
  cursor = end;
  // The preamble of a multipart part is no content of it: no reader shows it (RFC 2046, 5.1.1).
  // An empty part of a multipart is still a part (a forwarded message that is empty is listed).
  if ((first == end && level.ParentProperty == nullptr) ||
      (partOpensMultipart_ && level.ParentProperty != nullptr))
    return;

  // The line end before a delimiter belongs to the delimiter (RFC 2046, 5.1.1): a part's content
  // ends with its last line's text. At the end of the input the last line keeps the line end it
  // has there, if any.
  const bool lastHasLineEnd = end < count ? false : lines_.EndsWithLineEnd();
  const auto lineEndAfter = [&](size_t i) { return i + 1 < end || lastHasLineEnd; };
  std::string text;
  size_t total = 0;
  for (size_t i = first; i < end; ++i)
    total += lines_[i].size() + 2;
  if (TransferEncoding == "BASE64") {
    // Decoded straight from the lines: the line ends would be skipped anyway.
    Base64Decoder decoder;
    text.reserve(total / 4 * 3 + 3);
    for (size_t i = first; i < end; ++i)
      decoder.Filter(lines_[i], text);
    decoder.Complete({}, text);
  } else if (TransferEncoding == "QUOTED-PRINTABLE") {
    // Decoded straight from the lines as well, so that the encoded text is never copied whole.
    QuotedPrintableDecoder decoder;
    text.reserve(total);
    for (size_t i = first; i < end; ++i) {
      decoder.Filter(lines_[i], text);
      if (lineEndAfter(i))
        decoder.Filter("\r\n", text);
    }
    decoder.Complete({}, text);
    text.shrink_to_fit();
  } else {
    // 7bit, 8bit and binary, and also an encoding we do not know ("8-bit"): the bytes as they
    // stand lose nothing, where dropping them would lose the part.
    text.reserve(total);
    for (size_t i = first; i < end; ++i) {
      text += lines_[i];
      if (lineEndAfter(i))
        text += "\r\n";
    }
  }

  TMSGProperty* const parentNode = level.ParentProperty;
  // A level that is a file rather than a message: a single-part message that carries a file name
  // and is not a text body (a mailed document, an image) is kept as an attachment, not shown as
  // body text.
  // A level that is a file rather than a message: a single-part message that is not text to
  // show (a mailed document, an image, a forwarded message) is kept as an attachment.
  const bool fileAtRoot = parentNode == nullptr && !partIsBody_ && !partIsUnshownText_;
  const bool bodyText = partIsBody_ || partIsUnshownText_;
  const bool attachmentData = (parentNode != nullptr && !bodyText) || fileAtRoot;

  // The system code page is UTF-8: UTF-8 body text stays as it is, only ill-formed sequences are
  // replaced. Attachment data keeps its bytes.
  if (!attachmentData && AsciiUpper(Charset) == "UTF-8" && !IsValidUtf8(text))
    text = WideToSystem(SystemToWide(text));
  if (Charset != "utf-8" && !text.empty() && OnConvertCodepage) {
    OnConvertCodepage(this, Charset, text);
    // The hook hands back system-code-page text: the part's code page must say so now.
    if (TMSGProperty* cp = level.FindProperty(TAG_MESSAGE_CODEPAGE, false, false))
      cp->Value = TVariant::FromInteger(65001);
  } else if (!attachmentData && !text.empty() && !Charset.empty() &&
             CharsetToCodePage(Charset) == 0 && IsKnownCharset(Charset)) {
    // A charset that has no Windows code page ("big5-hkscs") cannot be named by the part's code
    // page: its text is decoded now, by name, and kept as UTF-8.
    text = WideToSystem(DecodeCharset(Charset, text));
    if (TMSGProperty* cp = level.FindProperty(TAG_MESSAGE_CODEPAGE, false, false))
      cp->Value = TVariant::FromInteger(65001);
  }

  // The declared subtype decides what the text is, never its first characters.
  uint32_t tag = TAG_BODY;
  bool asAttachmentNode = fileAtRoot;
  if (parentNode != nullptr && !bodyText) {
    tag = TAG_ATTACH_DATA_BIN;
  } else if (!fileAtRoot) {
    if (partIsBody_ && partType_ == "text/html") {
      tag = TAG_BODY_HTML;
    } else if (partIsBody_ && partType_ == "text/rtf") {
      tag = TAG_RTF_COMPRESSED;
    } else if (TransferEncoding == "BINARY" || TransferEncoding == "BASE64") {
      // A TNEF stream is kept whole as an opaque attachment.
      const TMSGProperty* type = level.FindProperty(TAG_X400_CONTENT_TYPE, false, false);
      if (type != nullptr && type->Value.IsBytes() &&
          AsciiLower(type->Value.Bytes()).find("application/ms-tnef") != std::string::npos)
        asAttachmentNode = true;
    }
  }
  if (asAttachmentNode) {
    TMSGProperty* node = Store(TAG_ATTACHMENT_NODE, TVariant(), 0);
    if (TMSGProperty* name = level.FindProperty(TAG_ATTACH_FILENAME, false, false)) {
      std::unique_ptr<TMSGProperty> moved = level.Release(name->Index());
      TMSGProperty* copy = node->SubProperties().Add();
      copy->TagID = moved->TagID;
      copy->Value = std::move(moved->Value);
      copy->DataSize = moved->DataSize;
    }
    CurrentLevel = &node->SubProperties();
    StorePartIdentity();
    tag = TAG_ATTACH_DATA_BIN;
  }
  if (tag == TAG_ATTACH_DATA_BIN && partType_ == "message/rfc822" &&
      CurrentLevel->FindProperty(TAG_ATTACH_FILENAME, false, false) == nullptr)
    NameEmbeddedMessage(text);
  // A part that is no body is a file the sender attached, also when it has no name or content:
  // it stays listed, and its bytes stay as they are.
  const bool partFile = tag == TAG_ATTACH_DATA_BIN && parentNode != nullptr;
  if (!text.empty() && (text != "\r\n" || partFile)) {
    const int32_t size = SizeOf(text.size());
    Store(tag, TVariant::FromBytes(std::move(text)), size);
  } else if (tag == TAG_ATTACH_DATA_BIN &&
             (partFile ||
              CurrentLevel->FindProperty(TAG_ATTACH_FILENAME, false, false) != nullptr)) {
    Store(tag, TVariant::FromBytes({}), 0);
  }
}

void TQvEMLFile::MultipartWalk(TMSGProperties& parent, size_t& cursor, size_t baseIndex,
                               int depth) {
  const std::string base = Boundary;
  if (base.empty())
    return;
  const size_t count = lines_.Count();
  std::string_view line;
  bool found = false;
  while (cursor < count) {
    line = lines_[cursor++];
    if (IsForm(line, "", base, "") || IsForm(line, "--", base, "")) {
      found = true;
      break;
    }
  }
  if (!found)
    return;
  for (;;) {
    size_t index = 0;
    const DelimiterKind kind = ClassifyDelimiter(line, index);
    if (kind != DelimiterKind::None && index < baseIndex) {
      // A delimiter of an enclosing multipart ends this one: the enclosing walk reads it.
      --cursor;
      return;
    }
    if (kind == DelimiterKind::Opening && parts_ >= kMaxParts) {
      ReadRestAsPart(parent, cursor);
      return;
    }
    if (kind == DelimiterKind::Opening) {
      // Nested multiparts are flattened: a delimiter of an outer boundary closes the inner ones.
      BoundaryStack.resize(index + 1);
      containers_.resize(index + 1);
      Boundary = BoundaryStack[index];
      TContainer& container = containers_[index];
      parentType_ = container.Type;
      childIndex_ = container.Children++;
      partPath_.clear();
      for (const TContainer& c : containers_)
        partPath_.push_back(c.Id);
      ReadPart(parent, cursor, depth);
    } else if (kind == DelimiterKind::Closing) {
      if (index == baseIndex) {
        BoundaryStack.resize(index + 1);
        containers_.resize(index + 1);
        Boundary = BoundaryStack[index];
        return; // what follows is the epilogue
      }
      BoundaryStack.resize(index);
      containers_.resize(index);
      Boundary = BoundaryStack.back();
    }
    // Any other line is the epilogue of an inner multipart and is skipped.
    if (cursor >= count)
      return;
    line = lines_[cursor++];
  }
}

void TQvEMLFile::ReadRestAsPart(TMSGProperties& parent, size_t& cursor) {
  const std::string_view text = lines_.Text();
  const size_t from = static_cast<size_t>(lines_[cursor - 1].data() - text.data());
  cursor = lines_.Count();
  CurrentLevel = &parent;
  TMSGProperty* node = Store(TAG_ATTACHMENT_NODE, TVariant(), 0);
  CurrentLevel = &node->SubProperties();
  const int32_t size = SizeOf(text.size() - from);
  Store(TAG_ATTACH_DATA_BIN, TVariant::FromBytes(std::string(text.substr(from))), size);
  CurrentLevel = &parent;
}

void TQvEMLFile::ReadPart(TMSGProperties& parent, size_t& cursor, int depth) {
  ++parts_;
  CurrentLevel = &parent;
  TMSGProperty* node = Store(TAG_ATTACHMENT_NODE, TVariant(), 0);
  const std::string savedEncoding = TransferEncoding;
  const size_t openBefore = BoundaryStack.size();
  const size_t headerStart = cursor < lines_.Count()
                                 ? static_cast<size_t>(lines_[cursor].data() - lines_.Text().data())
                                 : lines_.Text().size();
  ReadHeaderBlock(node->SubProperties(), cursor);
  if (partType_ == "multipart/signed" && BoundaryStack.size() > openBefore &&
      signedStarts_.size() < kMaxSignedEntities)
    signedStarts_.push_back({&node->SubProperties(), headerStart, BoundaryStack.back()});
  // A part whose own boundary is "-" is read as a multipart of its own, below its node.
  if (BoundaryStack.size() > openBefore && BoundaryStack.back() == "-" && depth + 1 < kMaxNesting) {
    MultipartWalk(node->SubProperties(), cursor, BoundaryStack.size() - 1, depth + 1);
    BoundaryStack.resize(openBefore);
    containers_.resize(openBefore);
    Boundary = BoundaryStack.empty() ? std::string() : BoundaryStack.back();
  } else {
    ReadLeafBody(node->SubProperties(), cursor);
  }
  CurrentLevel = &parent;
  TransferEncoding = savedEncoding;
  if (node->IsEmbeddedMessage())
    PromoteBodyPart(parent, *node);
}

namespace {

std::u16string AsciiLowerWide(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

} // namespace

void TQvEMLFile::AppendShownAfter(int kind, uint32_t tag, std::u16string text) {
  if (text.empty())
    return;
  // The innermost container of both parts: of alternatives the later wins; a related root and
  // what it uses are one body; parts side by side in a mixed multipart are shown one after the
  // other, as mail clients show them.
  const std::vector<int>& first = bodyPaths_[kind];
  size_t common = 0;
  while (common < first.size() && common < partPath_.size() && first[common] == partPath_[common])
    ++common;
  if (common == 0)
    return;
  const std::string& type = containerTypes_[static_cast<size_t>(first[common - 1])];
  if (type == "multipart/related")
    return;
  TMSGProperty* body = Properties().FindProperty(tag, false, false);
  if (body == nullptr || !body->Value.IsWide())
    return;
  if (type == "multipart/alternative") {
    // RFC 2046, 5.1.4: the last alternative that can be shown is the one its sender preferred.
    body->DataSize = SizeOf(text.size());
    body->Value = TVariant::FromWide(std::move(text));
    bodyPaths_[kind] = partPath_;
    return;
  }
  std::u16string& shown = body->Value.MutableWide();
  if (tag == TAG_BODY) {
    if (!shown.empty() && shown.back() != u'\n')
      shown += u"\r\n";
    shown += text;
  } else {
    // One document: what the later part's body holds goes before the first one's </body>.
    const std::u16string lower = AsciiLowerWide(text);
    const size_t open = lower.find(u"<body");
    const size_t from = open == std::u16string::npos ? 0 : lower.find(u'>', open);
    const size_t to = lower.rfind(u"</body");
    std::u16string_view inner(text);
    if (from != std::u16string::npos && open != std::u16string::npos)
      inner = inner.substr(from + 1);
    if (to != std::u16string::npos && to >= text.size() - inner.size())
      inner = inner.substr(0, to - (text.size() - inner.size()));
    // The closing tags stay at the end: only its tail is searched, so that many parts cost no
    // more than their size.
    const size_t tail = shown.size() > 1024 ? shown.size() - 1024 : 0;
    const size_t close = AsciiLowerWide(std::u16string_view(shown).substr(tail)).rfind(u"</body");
    if (close == std::u16string::npos)
      shown += inner;
    else
      shown.insert(tail + close, inner);
  }
  body->DataSize = SizeOf(shown.size());
}

void TQvEMLFile::NameEmbeddedMessage(const std::string& text) {
  // The subject of the message's own header block; mail clients name the part after it.
  std::u16string subject;
  TMimeLines lines;
  const size_t end = text.find("\r\n\r\n");
  lines.Assign(
      text.substr(0, end == std::string::npos ? std::min<size_t>(text.size(), 1 << 20) : end));
  for (size_t cursor = 0; cursor < lines.Count();) {
    const std::string line = ReadHeaderLine(lines, cursor);
    if (line.empty())
      break;
    if (MatchesHeaderName(line, "SUBJECT:")) {
      subject = DecodeWords(Unquote(HeaderValue(line, "SUBJECT:")));
      break;
    }
  }
  // A file name holds no folder and no control character.
  for (char16_t& c : subject) {
    if (c < 0x20 || c == u'/' || c == u'\\' || c == 0x7F)
      c = u'_';
  }
  while (!subject.empty() && (subject.back() == u' ' || subject.back() == u'.'))
    subject.pop_back();
  if (subject.size() > 200)
    subject.resize(200);
  std::u16string name = (subject.empty() ? u"message" : subject) + u".eml";
  const int32_t size = SizeOf(name.size());
  Store(TAG_ATTACH_FILENAME, TVariant::FromWide(std::move(name)), size);
}

void TQvEMLFile::PromoteBodyPart(TMSGProperties& parent, const TMSGProperty& node) {
  const TMSGProperties& part = node.SubProperties();
  const TMSGProperty* codePage = part.FindProperty(TAG_MESSAGE_CODEPAGE, false, false);
  const int cp = codePage != nullptr ? static_cast<int>(codePage->Value.ToInt64()) : 0;
  // The part's text in its own charset: the parts of one message may differ in charset, so the
  // text is decoded here, where the part's code page is known, and promoted as Unicode.
  const auto partText = [&](uint16_t propId) -> std::u16string {
    const TMSGProperty* record =
        part.FindProperty(static_cast<uint32_t>(propId) << 16, true, false);
    if (record == nullptr)
      return {};
    if (record->Value.IsBytes())
      return DecodePartText(record->Value.Bytes(), cp);
    return record->GetValueText();
  };
  CurrentLevel = &parent;
  // Which kinds `parent` already holds: once a kind is there, later parts cannot change it, and
  // asking the accessors again for every part would make many-part messages quadratic.
  uint8_t& held = promoted_[&parent];
  const auto promote = [&](uint8_t kind, std::u16string (TMSGProperties::*accessor)() const,
                           uint16_t propId, uint32_t tag, uint8_t format) {
    const int k = kind == 1 ? 0 : 1;
    if (held & kind) {
      if (&parent == &Properties())
        AppendShownAfter(k, tag, partText(propId));
      return;
    }
    std::u16string text = partText(propId);
    if (text.empty())
      return;
    held |= kind;
    bodyPaths_[k] = partPath_;
    if (!(parent.*accessor)().empty())
      return;
    const int32_t size = SizeOf(text.size());
    Store(tag, TVariant::FromWide(std::move(text)), size);
    parent.BodyFormat = format;
  };
  promote(1, &TMSGProperties::GetBody, 0x1000, TAG_BODY, 1);
  promote(2, &TMSGProperties::GetBodyHTML, 0x1013, TAG_BODY_HTML, 3);
  if (!(held & 4)) {
    // RTF is 7-bit text: its bytes are promoted as they are.
    const TMSGProperty* rtf = part.FindProperty(TAG_RTF_COMPRESSED, true, false);
    if (rtf != nullptr && rtf->Value.IsString() && !rtf->GetValueText().empty()) {
      held |= 4;
      if (parent.GetBodyRTF().empty()) {
        Store(TAG_RTF_COMPRESSED, rtf->Value, rtf->DataSize);
        parent.BodyFormat = 2;
      }
    }
  }
  const int attachments = part.AttachmentCount();
  for (int i = 0; i < attachments; ++i) {
    const TMSGProperty* source = part.GetAttachment(i);
    if (source == nullptr)
      continue;
    TMSGProperty* copy = Store(TAG_ATTACHMENT_NODE, TVariant(), 0);
    for (int j = 0; j < source->SubProperties().Count(); ++j)
      copy->SubProperties().Add()->Assign(*source->SubProperties().Items(j));
  }
}

} // namespace orlendo
