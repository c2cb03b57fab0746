#include "export/eml_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "export/generator_text.h"
#include "export/html_body.h"
#include "export/ics_writer.h"
#include "export/item_accessors.h"
#include "export/message_addresses.h"
#include "export/utf8_text.h"
#include "mime/qvemlfile.h"
#include "mime/signed_content.h"
#include "mime/tnef_message.h"
#include "msg/qvmsgfile.h"
#include "text/base64.h"
#include "text/quoted_printable_encode.h"
#include "text/qvmsgcp.h"
#include "text/rfc2047_encode.h"
#include "text/rfc822_date.h"
#include "text/rtf_html.h"
#include "text/rtf_render.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_ATTACH_MIME_TAG = 0x370E0000;         // by property id
constexpr uint32_t TAG_ATTACH_CONTENT_ID = 0x37120000;       // by property id
constexpr uint32_t TAG_ATTACH_CONTENT_LOCATION = 0x37130000; // by property id
constexpr uint32_t TAG_X400_CONTENT_TYPE = 0x003C0000;       // by property id
constexpr uint32_t TAG_ATTACHMENT_HIDDEN = 0x7FFE000B;
constexpr uint32_t TAG_CONTENT_IDENTIFIER = 0x0008001E;
constexpr uint32_t TAG_CREATION_TIME = 0x30070040;
constexpr uint32_t TAG_LAST_MODIFICATION_TIME = 0x30080040;
constexpr uint32_t TAG_REPLY_RECIPIENT_NAMES = 0x00500000; // by property id
constexpr uint32_t TAG_IN_REPLY_TO_ID = 0x10420000;        // by property id
constexpr uint32_t TAG_INTERNET_REFERENCES = 0x10390000;   // by property id
constexpr size_t kOutputBufferSize = 1 << 16;
// Header lines are folded to this length where they have room to break, and never pass the
// second (RFC 5322, 2.1.1).
constexpr size_t kFoldColumn = 78;
constexpr size_t kMaxLineLength = 998;
// Longer words of a header value go out as encoded-words, which can be folded.
constexpr size_t kMaxPlainWord = 900;
// Embedded messages deeper than this are left out: the output of a hostile file stays bounded
// and the writer's recursion with it.
constexpr int kMaxEmbeddingDepth = 32;
// Attachment bytes handed to the base64 encoder at a time (whole lines of 57 bytes).
constexpr size_t kBase64InputChunk = 57 * 4096;

// Collects the output and hands it to the stream in large writes.
class EmlOutput {
public:
  explicit EmlOutput(TStream& stream) : stream_(stream) { buffer_.reserve(kOutputBufferSize); }
  void Raw(std::string_view text) {
    if (buffer_.size() + text.size() > kOutputBufferSize)
      Flush();
    if (text.size() >= kOutputBufferSize) {
      stream_.WriteBuffer(text.data(), text.size());
    } else {
      buffer_ += text;
    }
  }
  // The text followed by CR LF.
  void Line(std::string_view text = {}) {
    Raw(text);
    Raw("\r\n");
  }
  void Flush() {
    if (!buffer_.empty())
      stream_.WriteBuffer(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

private:
  TStream& stream_;
  std::string buffer_;
};

// A write-only stream that base64-encodes what it receives straight into the output.
class Base64Sink : public TStream {
public:
  explicit Base64Sink(EmlOutput& out) : out_(out) {}
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t count) override {
    const char* data = static_cast<const char*>(buffer);
    if (!encoded_ && count > 0)
      encoded_ = std::make_unique_for_overwrite<char[]>(
          Base64LineEncoder::MaxEncodedSize(kBase64InputChunk));
    for (size_t done = 0; done < count;) {
      const size_t n = std::min(kBase64InputChunk, count - done);
      const char* end = encoder_.Filter(std::string_view(data + done, n), encoded_.get());
      out_.Raw(std::string_view(encoded_.get(), static_cast<size_t>(end - encoded_.get())));
      done += n;
    }
    written_ += static_cast<int64_t>(count);
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (offset != 0 || origin == TSeekOrigin::Beginning) {
      if (!(origin == TSeekOrigin::Beginning && offset == written_))
        throw EMSGError("The attachment encoder cannot seek");
    }
    return written_;
  }
  int64_t Size() override { return written_; }
  // Ends the data; true when any byte was written.
  bool Complete() {
    char tail[8];
    const char* end = encoder_.Complete(tail);
    out_.Raw(std::string_view(tail, static_cast<size_t>(end - tail)));
    return written_ > 0;
  }

private:
  EmlOutput& out_;
  Base64LineEncoder encoder_;
  std::unique_ptr<char[]> encoded_; // one chunk's characters
  int64_t written_ = 0;
};

// The text without U+0000: the conversions end text at the first one, and no header or text
// part can carry it, so it is dropped rather than losing what follows it.
std::u16string WithoutNul(std::u16string_view text) {
  std::u16string out(text);
  out.erase(std::remove(out.begin(), out.end(), u'\0'), out.end());
  return out;
}

// True when text has a run of more than `limit` characters without a blank: such a word cannot
// be folded and must travel as encoded-words.
bool HasLongWord(std::u16string_view text, size_t limit) {
  size_t run = 0;
  for (const char16_t c : text) {
    run = (c == u' ' || c == u'\t') ? 0 : run + 1;
    if (run > limit)
      return true;
  }
  return false;
}

// Text converted for the output, with the charset that its bytes are in.
struct ConvertedText {
  std::string bytes;
  std::string charset;
};

// The charset of the message's text: the one of its code page, or UTF-8 when it has none that
// a reader would know.
std::string OutputCharset(const TMSGProperties& level) {
  if (FindCodePage(level.GetCodePage()) == nullptr)
    return "utf-8";
  return level.GetCharset();
}

// Words of atom characters separated by single blanks: a display name that needs no quotes.
bool IsAtomPhrase(std::u16string_view text) {
  if (text.empty() || text.front() == u' ' || text.back() == u' ')
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u' ') {
      if (text[i + 1] == u' ')
        return false;
      continue;
    }
    const bool atext =
        (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
        std::u16string_view(u"!#$%&'*+-/=?^_`{|}~").find(c) != std::u16string_view::npos;
    if (!atext)
      return false;
  }
  return true;
}

// The conversion of text into the message charset: the .msg reader's OnConvertCodepage hook
// when one is assigned, else a true conversion that falls back to UTF-8 when the charset cannot
// hold every character.
class CharsetConverter {
public:
  explicit CharsetConverter(const TMSGProperties& level)
      : level_(level), charset_(OutputCharset(level)) {
    if (const auto* msg = dynamic_cast<const TQvMSGFile*>(level.OwnerMessage)) {
      if (msg->OnConvertCodepage)
        hook_ = &msg->OnConvertCodepage;
    }
  }

  const std::string& Charset() const { return charset_; }

  ConvertedText Convert(std::u16string_view text) const {
    if (text.empty())
      return {std::string(), charset_};
    if (hook_ != nullptr)
      return {Hook(text), charset_};
    std::string bytes;
    if (TryEncodeCharset(charset_, text, bytes))
      return {std::move(bytes), charset_};
    return {EncodeUtf8(text), "utf-8"};
  }

  // A header value: ASCII as it is, anything else as encoded-words.
  std::string Header(std::u16string_view original) const {
    // Copied only when there is a U+0000 to drop: a header value can be as large as the file.
    std::u16string cleaned;
    std::u16string_view text = original;
    if (original.find(u'\0') != std::u16string_view::npos) {
      cleaned = WithoutNul(original);
      text = cleaned;
    }
    const bool longWord = HasLongWord(text, kMaxPlainWord);
    if (IsPlainHeaderText(text) && !longWord)
      return WideToSystem(text);
    if (hook_ != nullptr) {
      const HeaderTextEncoder encode = [this](std::u16string_view part) { return Hook(part); };
      return longWord ? EncodeAsWords(text, charset_, encode)
                      : EncodeHeaderWords(text, charset_, encode);
    }
    return longWord ? EncodeAsWords(text, charset_) : EncodeHeaderValue(text, charset_);
  }

  // A display name in an address header: the name itself when it is a run of atoms, a quoted
  // string when it is ASCII with other characters, else encoded-words and nothing else.
  std::string Phrase(std::u16string_view original) const {
    const std::u16string text = WithoutNul(original);
    if (!IsPlainHeaderText(text) || HasLongWord(text, kMaxPlainWord)) {
      if (hook_ != nullptr)
        return EncodeAsWords(text, charset_,
                             [this](std::u16string_view part) { return Hook(part); });
      return EncodeAsWords(text, charset_);
    }
    if (IsAtomPhrase(text))
      return WideToSystem(text);
    std::string quoted = "\"";
    for (const char16_t c : text) {
      if (c == u'"' || c == u'\\')
        quoted += '\\';
      quoted += static_cast<char>(c == u'\t' ? u' ' : c);
    }
    return quoted + "\"";
  }

  std::string Parameter(std::u16string_view text) const {
    return EncodeParameterValue(WithoutNul(text), charset_);
  }

  // An unstructured header field (name ends in ": ") whose UTF-8 value is large, written to out
  // piece by piece in the form that Header and Fold give it: plain text folded at its blanks, or
  // else the whole value as encoded-words, one per line.
  void LargeHeader(std::string_view name, std::string_view utf8, EmlOutput& out) const;

private:
  std::string Hook(std::u16string_view text) const {
    std::string value = WideToSystem(text);
    if (!value.empty())
      (*hook_)(const_cast<TMSGProperties*>(&level_), charset_, value);
    return value;
  }

  const TMSGProperties& level_;
  std::string charset_;
  const TQvMSGConvertCodepage* hook_ = nullptr;
};

// Header values past this size are written piece by piece.
constexpr size_t kLargeHeaderValue = 1 << 20;
// The UTF-8 bytes converted and encoded at a time.
constexpr size_t kHeaderPiece = 1 << 15;

// IsPlainHeaderText without a long word, on UTF-8 bytes: printable ASCII and TAB only, no "=?",
// no run of more than kMaxPlainWord characters without a blank.
bool IsPlainHeaderBytes(std::string_view utf8) {
  size_t run = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (!((c >= 0x20 && c < 0x7F) || c == '\t'))
      return false;
    if (c == '=' && i + 1 < utf8.size() && utf8[i + 1] == '?')
      return false;
    run = (c == ' ' || c == '\t') ? 0 : run + 1;
    if (run > kMaxPlainWord)
      return false;
  }
  return true;
}

// Fold(name + value, false) of a value without line breaks, one character at a time, holding no
// more than the line being made.
class UnstructuredFolder {
public:
  UnstructuredFolder(std::string_view name, EmlOutput& out)
      : out_(out), line_(name), firstBreak_(name.size()), position_(name.size()) {}
  void Add(std::string_view text) {
    for (const char c : text) {
      if ((c == ' ' || c == '\t') && position_ >= firstBreak_ && !line_.empty())
        candidate_ = line_.size();
      line_ += c;
      ++position_;
      if (line_.size() > kFoldColumn && candidate_ > 0) {
        out_.Line(std::string_view(line_).substr(0, candidate_));
        line_.erase(0, candidate_);
        candidate_ = 0;
      } else if (line_.size() >= kMaxLineLength) {
        // Nothing to break at: the break adds a blank to the value.
        out_.Line(std::string_view(line_).substr(0, line_.size() - 1));
        line_.erase(0, line_.size() - 1);
        line_.insert(0, " ");
        candidate_ = 0;
      }
    }
  }
  void Finish() { out_.Line(line_); }

private:
  EmlOutput& out_;
  std::string line_;
  size_t firstBreak_;
  size_t position_; // in name + value, of the next character
  size_t candidate_ = 0;
};

void CharsetConverter::LargeHeader(std::string_view name, std::string_view utf8,
                                   EmlOutput& out) const {
  if (IsPlainHeaderBytes(utf8)) {
    UnstructuredFolder folder(name, out);
    for (size_t at = 0; at < utf8.size(); at += kHeaderPiece)
      folder.Add(utf8.substr(at, kHeaderPiece));
    folder.Finish();
    return;
  }
  out.Raw(name);
  bool first = true;
  while (!utf8.empty()) {
    size_t cut = std::min(utf8.size(), kHeaderPiece);
    while (cut < utf8.size() && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
      --cut;
    std::u16string piece = SystemToWide(utf8.substr(0, cut));
    utf8.remove_prefix(cut);
    piece.erase(std::remove(piece.begin(), piece.end(), u'\0'), piece.end());
    if (piece.empty())
      continue;
    // Encoded-words side by side read as one text: the pieces join without a seam.
    std::string words = hook_ != nullptr
                            ? EncodeAsWords(piece, charset_,
                                            [this](std::u16string_view part) { return Hook(part); })
                            : EncodeAsWords(piece, charset_);
    if (!first)
      out.Raw("\r\n ");
    first = false;
    out.Raw(words);
  }
  out.Line();
}

// A header value without line breaks or other control characters (which would end the header).
std::u16string WithoutControls(std::u16string text) {
  std::replace_if(
      text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }, u' ');
  return text;
}

struct TextPart {
  const char* type; // "text/plain", "text/rtf", "text/html", "text/calendar; method=..."
  ConvertedText text;
};

const char* MeetingMethod(const TMSGProperties& level) {
  switch (GetItemKind(level)) {
  case TItemKind::MeetingRequest:
    return "text/calendar; method=REQUEST";
  case TItemKind::MeetingResponse:
    return "text/calendar; method=REPLY";
  case TItemKind::MeetingCancellation:
    return "text/calendar; method=CANCEL";
  default:
    return nullptr;
  }
}

bool IsTokenChar(char c) {
  return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// text as a MIME type when it is a well-formed type/subtype (parameters cut off), else empty: the
// value goes into a header and must not be able to end it or add parameters.
std::string WellFormedType(std::string text) {
  if (const size_t semicolon = text.find(';'); semicolon != std::string::npos)
    text.resize(semicolon);
  const auto first = text.find_first_not_of(" \t\r\n");
  const auto last = text.find_last_not_of(" \t\r\n");
  text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  const size_t slash = text.find('/');
  bool valid = slash != std::string::npos && slash > 0 && slash + 1 < text.size();
  for (size_t i = 0; valid && i < text.size(); ++i)
    valid = i == slash || IsTokenChar(text[i]);
  return valid ? text : std::string();
}

// The types of the common file kinds, for attachments that do not declare one.
std::string TypeOfExtension(const std::string& fileName) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"pdf", "application/pdf"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"bmp", "image/bmp"},
      {"tif", "image/tiff"},
      {"tiff", "image/tiff"},
      {"svg", "image/svg+xml"},
      {"ico", "image/x-icon"},
      {"webp", "image/webp"},
      {"txt", "text/plain"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"css", "text/css"},
      {"csv", "text/csv"},
      {"xml", "text/xml"},
      {"rtf", "application/rtf"},
      {"ics", "text/calendar"},
      {"vcf", "text/vcard"},
      {"js", "application/javascript"},
      {"json", "application/json"},
      {"zip", "application/zip"},
      {"gz", "application/gzip"},
      {"7z", "application/x-7z-compressed"},
      {"doc", "application/msword"},
      {"dot", "application/msword"},
      {"xls", "application/vnd.ms-excel"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"odt", "application/vnd.oasis.opendocument.text"},
      {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
      {"msg", "application/vnd.ms-outlook"},
      {"p7s", "application/pkcs7-signature"},
      {"p7m", "application/pkcs7-mime"},
      {"mp3", "audio/mpeg"},
      {"wav", "audio/wav"},
      {"mp4", "video/mp4"},
  };
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos)
    return {};
  const std::string extension = Lower(fileName.substr(dot + 1));
  for (const auto& [ext, type] : kTypes) {
    if (extension == ext)
      return type;
  }
  return {};
}

// One attachment of a message level, as it goes into the EML.
struct Attachment {
  int index = 0;
  const TMSGProperty* node = nullptr;
  const TMSGProperties* message = nullptr; // the embedded message, when it is one
  std::string type;
  std::u16string contentId;
  std::u16string contentLocation;
  bool inlinePart = false; // shown inside the HTML: goes with it in multipart/related
  bool rawMessage = false; // message/rfc822 data written as it stands
};

// The embedded message held by an attachment node, or null.
const TMSGProperties* EmbeddedMessageOf(const TMSGProperty& node) {
  if (!node.IsEmbeddedMessage())
    return nullptr;
  const TMSGProperty* object = node.SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
  return object != nullptr ? &object->SubProperties() : nullptr;
}

// Message data that can stand in the output as it is: 7bit or 8bit text lines that a reader of
// the output cannot take for one of our delimiters.
bool CanStandAsMessage(const TMSGProperties& level, int index) {
  TMemoryStream data;
  level.SaveAttachmentToStream(index, data);
  const std::string& bytes = data.Data();
  if (bytes.empty() || bytes.find('\0') != std::string::npos ||
      bytes.find(kEmlBoundary) != std::string::npos)
    return false;
  size_t lineStart = 0;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i == bytes.size() || bytes[i] == '\n' || bytes[i] == '\r') {
      if (i - lineStart > 998)
        return false;
      lineStart = i + 1;
    }
  }
  return true;
}

// The MIME type of a file attachment: ATTACH_MIME_TAG, else the Content-Type that the Internet
// reader kept, else one from the file name's extension, else the generic one. Multipart types
// may not be base64-encoded (RFC 2046): a reader would take the encoded data for MIME structure,
// so their bytes go out as opaque data.
std::string FileTypeOf(const TMSGProperty& node, const std::string& fileName) {
  const TMSGProperties& sub = node.SubProperties();
  std::string type =
      WellFormedType(WideToSystem(sub.GetPropertyText(TAG_ATTACH_MIME_TAG, true, false)));
  if (type.empty()) {
    const TMSGProperty* declared = sub.FindProperty(TAG_X400_CONTENT_TYPE, true, false);
    if (declared != nullptr && declared->Value.IsBytes())
      type = WellFormedType(declared->Value.Bytes());
  }
  if (type.empty())
    type = TypeOfExtension(fileName);
  if (type.empty() || Lower(type).rfind("multipart/", 0) == 0)
    return "application/octet-stream";
  return type;
}

bool ContainsNoCase(const std::string& lowerText, const std::u16string& needle) {
  return !needle.empty() && lowerText.find(Lower(WideToSystem(needle))) != std::string::npos;
}

// The attachment index of level, node its record, as it goes into the EML; lowerHtml is the
// HTML body in lower case, against which a part is taken for one the HTML shows.
Attachment AttachmentAt(const TMSGProperties& level, int index, const TMSGProperty* node,
                        const std::string& lowerHtml, bool hasHtml) {
  Attachment a;
  a.index = index;
  a.node = node;
  a.message = EmbeddedMessageOf(*node);
  const TMSGProperties& sub = node->SubProperties();
  if (a.message == nullptr) {
    a.type = FileTypeOf(*node, node->GetAttachmentFileName(index));
    if (Lower(a.type).rfind("message/", 0) == 0) {
      a.rawMessage = CanStandAsMessage(level, index);
      if (!a.rawMessage)
        a.type = "application/octet-stream";
    }
  }
  a.contentId = WithoutControls(sub.GetPropertyText(TAG_ATTACH_CONTENT_ID, true, false));
  if (a.contentId.empty()) // the Content-ID header field as an Internet message part had it
    a.contentId = WithoutControls(sub.GetPropertyText(TAG_CONTENT_IDENTIFIER, false, false));
  const size_t idBegin = a.contentId.find_first_not_of(u" <");
  a.contentId =
      idBegin == std::u16string::npos
          ? std::u16string()
          : a.contentId.substr(idBegin, a.contentId.find_last_not_of(u" >") + 1 - idBegin);
  a.contentLocation =
      WithoutControls(sub.GetPropertyText(TAG_ATTACH_CONTENT_LOCATION, true, false));
  if (a.message == nullptr && hasHtml) {
    const TMSGProperty* hidden = sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, true);
    a.inlinePart = (!a.contentId.empty() && ContainsNoCase(lowerHtml, u"cid:" + a.contentId)) ||
                   ContainsNoCase(lowerHtml, a.contentLocation) ||
                   (hidden != nullptr && hidden->Value.ToInt64() != 0);
  }
  return a;
}

std::vector<Attachment> AttachmentsOf(const TMSGProperties& level, const std::u16string& html) {
  const std::string lowerHtml = Lower(WideToSystem(html));
  std::vector<Attachment> out;
  const int count = level.AttachmentCount();
  for (int index = 0; index < count; ++index) {
    if (const TMSGProperty* node = level.GetAttachment(index))
      out.push_back(AttachmentAt(level, index, node, lowerHtml, !html.empty()));
  }
  return out;
}

// The creation-date and modification-date parameters of RFC 2183, of the dates the attachment
// holds, in UTC.
std::string FileDates(const TMSGProperties& attachment) {
  std::string out;
  for (const auto& [name, tag] : {std::pair{"creation-date", TAG_CREATION_TIME},
                                  std::pair{"modification-date", TAG_LAST_MODIFICATION_TIME}}) {
    const TMSGProperty* record = attachment.FindProperty(tag, false, false);
    if (record == nullptr)
      continue;
    const TDateTime date = record->Value.AsDateTime();
    // Years that a date field cannot hold, and the zero of a date that was never set.
    if (date <= -109205.0 || date >= 2958466.0 || date == 0)
      continue;
    try {
      out += std::string("; ") + name + "=\"" + FormatRfc822DateInZone(date, 0) + "\"";
    } catch (const std::exception&) {
      // A date that cannot be written is left out.
    }
  }
  return out;
}

// Inserts folding line breaks before blanks so that header lines stay within kFoldColumn
// where a blank allows it. In structured fields (structured true) a blank after a comma (between
// the items of a list) is taken first, and blanks inside quoted strings only where a line would
// otherwise pass kMaxLineLength, so that no reader sees a break inside a name or parameter that
// need not be there. A line that has no blank left to break at is broken at kMaxLineLength all
// the same: RFC 5322 (2.1.1) allows no longer line.
std::string Fold(const std::string& line, bool structured) {
  if (line.size() <= kFoldColumn && line.find('\n') == std::string::npos)
    return line;
  const size_t colon = line.find(':');
  const size_t firstBreak = colon == std::string::npos ? 0 : colon + 2;
  std::string out;
  out.reserve(line.size() + line.size() / 32);
  size_t lineStart = 0; // in out
  size_t candidate = 0; // in out: a blank where the line may break; 0 for none
  size_t comma = 0;     // in out: a blank after a comma of a list
  size_t inQuotes = 0;  // in out: a blank inside a quoted string
  bool quoted = false;
  const auto breakAt = [&](size_t at) {
    out.insert(at, "\r\n");
    lineStart = at + 2;
    candidate = comma = inQuotes = 0;
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\n') {
      out += c;
      lineStart = out.size();
      candidate = comma = inQuotes = 0;
      continue;
    }
    if (structured && c == '\\' && quoted && i + 1 < line.size()) {
      out += c;
      out += line[++i];
    } else {
      if (structured && c == '"')
        quoted = !quoted;
      if ((c == ' ' || c == '\t') && i >= firstBreak && out.size() > lineStart) {
        if (quoted) {
          inQuotes = out.size();
        } else {
          candidate = out.size();
          if (structured && out.back() == ',')
            comma = out.size();
        }
      }
      out += c;
    }
    const size_t length = out.size() - lineStart;
    if (length > kFoldColumn && comma > lineStart)
      breakAt(comma);
    else if (length > kFoldColumn && candidate > lineStart)
      breakAt(candidate);
    else if (length >= kMaxLineLength && inQuotes > lineStart)
      breakAt(inQuotes);
    else if (length >= kMaxLineLength) {
      // Nothing to break at: the break adds a blank to the value, which beats a line that
      // readers may cut or refuse.
      out.insert(out.size() - 1, "\r\n ");
      lineStart = out.size() - 2;
      candidate = comma = inQuotes = 0;
    }
  }
  return out;
}

// The text of an address header: the addresses separated by commas, a person without an
// Internet address as an empty group of that name (which every reader accepts).
std::string AddressList(const CharsetConverter& convert, const TMailAddressList& list) {
  std::string out;
  for (const TMailAddress& a : list) {
    std::string text;
    const std::string address = WideToSystem(WithoutControls(WithoutNul(a.Address)));
    const std::u16string name = WithoutControls(WithoutNul(a.Name));
    if (name.empty()) {
      text = address;
    } else if (address.empty()) {
      text = convert.Phrase(name);
      // A blank ends an encoded-word before the colon.
      text += text.size() >= 2 && text.compare(text.size() - 2, 2, "?=") == 0 ? " :;" : ":;";
    } else {
      text = convert.Phrase(name) + " <" + address + ">";
    }
    if (text.empty())
      continue;
    if (!out.empty())
      out += ", ";
    out += text;
  }
  return out;
}

// The MIME tree of a message that the Internet reader read: its parts in file order, each with
// the depth it had, rebuilt into containers and leaves, so that the message goes out in the
// structure it came in (signed and report multiparts, the parts of a mixed one in their order,
// alternatives that no view of ours shows).
struct MimePart {
  const TMSGProperty* node = nullptr;
  int index = -1; // of its data among the level's attachments; -1 without data
  std::vector<MimePart> children;
  std::string boundary;
  // A file that came out of a TNEF stream: written like any attachment, from its properties.
  bool unpacked = false;
  // The plain body, to go out with the HTML of the rich body as its alternative.
  bool withRichBody = false;
};

constexpr uint32_t PID_MESSAGE_CODEPAGE = 0x3FFD0000;
constexpr uint32_t PID_TRANSPORT_MESSAGE_HEADERS = 0x007D0000;

std::string TypeOfNode(const TMSGProperty& node) {
  return Lower(WellFormedType(
      WideToSystem(node.SubProperties().GetPropertyText(TAG_ATTACH_MIME_TAG, true, false))));
}

bool IsContainer(const MimePart& part) {
  return part.index < 0 && TypeOfNode(*part.node).rfind("multipart/", 0) == 0;
}

// The root's own Content-Type when the level holds a tree to write, else empty.
std::string TreeRootType(const TMSGProperties& level) {
  const TMSGProperty* type = level.FindProperty(0x003C0102, false, false);
  if (type == nullptr || !type->Value.IsBytes() ||
      Lower(WellFormedType(type->Value.Bytes())).rfind("multipart/", 0) != 0)
    return {};
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* item = level.Items(i);
    if (item->TagID == TAG_ATTACHMENT_NODE &&
        item->SubProperties().FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false, false))
      return type->Value.Bytes();
  }
  return {};
}

// The parts of the tree of level; unpackedTnef tells whether it held a TNEF stream whose content
// was unpacked into level.
std::vector<MimePart> BuildTree(const TMSGProperties& level, bool& unpackedTnef) {
  unpackedTnef = false;
  std::vector<MimePart> roots;
  // The open containers, outermost first, as paths of child indexes from roots.
  std::vector<MimePart*> open;
  int counter = 0;
  // The depth of the last part met: files of a TNEF stream stand beside the stream.
  size_t unpackedDepth = 1;
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* item = level.Items(i);
    int here = 0;
    if (item->Category() == mpcAttachment) {
      here = PropId(item->TagID) == PropId(TAG_ATTACH_DATA_BIN) ? 1 : 0;
      const TMSGProperties& sub = item->SubProperties();
      for (int j = 0; j < sub.Count(); ++j)
        here += PropId(sub.Items(j)->TagID) == PropId(TAG_ATTACH_DATA_BIN) ? 1 : 0;
    }
    const TMSGProperty* depthRecord =
        item->TagID == TAG_ATTACHMENT_NODE
            ? item->SubProperties().FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false, false)
            : nullptr;
    if (depthRecord != nullptr && IsUnpackedTnef(*item)) {
      // The stream gives way to the files it held, which follow it.
      unpackedTnef = true;
      unpackedDepth = static_cast<size_t>(std::max<int64_t>(depthRecord->Value.ToInt64(), 1));
    } else if (depthRecord == nullptr && item->TagID == TAG_ATTACHMENT_NODE && here > 0) {
      // No part of the tree as it came: a file of a TNEF stream, at the stream's place (a
      // damaged stream stays beside them).
      MimePart part;
      part.node = item;
      part.index = counter;
      part.unpacked = true;
      if (open.size() >= unpackedDepth)
        open.resize(unpackedDepth - 1);
      (open.empty() ? roots : open.back()->children).push_back(std::move(part));
    } else if (depthRecord != nullptr) {
      // A damaged stream stays as it came; what could be read of it is in level all the same.
      unpackedTnef = unpackedTnef || IsTnefAttachment(*item);
      unpackedDepth = static_cast<size_t>(std::max<int64_t>(depthRecord->Value.ToInt64(), 1));
      MimePart part;
      part.node = item;
      part.index = here > 0 ? counter : -1;
      const size_t depth = unpackedDepth;
      if (open.size() >= depth)
        open.resize(depth - 1);
      std::vector<MimePart>& siblings = open.empty() ? roots : open.back()->children;
      siblings.push_back(std::move(part));
      // Pointers into siblings stay valid: only the last container of each level grows.
      if (IsContainer(siblings.back()))
        open.push_back(&siblings.back());
    }
    counter += here;
  }
  return roots;
}

// The value with its boundary parameter replaced by boundary (or added).
std::string WithBoundary(std::string value, const std::string& boundary) {
  const std::string lower = Lower(value);
  size_t at = lower.find("boundary=");
  if (at == std::string::npos)
    return value + "; boundary=\"" + boundary + "\"";
  at += 9;
  size_t end = at;
  if (end < value.size() && value[end] == '"') {
    end = value.find('"', end + 1);
    end = end == std::string::npos ? value.size() : end + 1;
  } else {
    while (end < value.size() && value[end] != ';' && value[end] != ' ' && value[end] != '\t')
      ++end;
  }
  return value.replace(at, end - at, "\"" + boundary + "\"");
}

// The header lines of a part's own block that say what the part is (its content headers), in
// their order, unfolded as the reader kept them.
std::vector<std::string> ContentHeaders(const TMSGProperty& node) {
  std::vector<std::string> out;
  const TMSGProperty* block =
      node.SubProperties().FindProperty(PID_TRANSPORT_MESSAGE_HEADERS, true, false);
  if (block == nullptr || !block->Value.IsString())
    return out;
  const std::string text =
      block->Value.IsBytes() ? block->Value.Bytes() : WideToSystem(block->Value.Wide());
  for (size_t from = 0; from < text.size();) {
    size_t end = text.find("\r\n", from);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 2;
    const std::string lower = Lower(line.substr(0, line.find(':')));
    if (lower.rfind("content-", 0) == 0 && lower != "content-transfer-encoding" &&
        lower != "content-length" && line.find(':') != std::string::npos) {
      for (char& c : line) {
        if (c == '\r' || c == '\n' || c == '\0')
          c = ' ';
      }
      out.push_back(std::move(line));
    }
  }
  return out;
}

// The text of a body part, in the code page its part declared.
std::u16string PartText(const TMSGProperty& node, uint32_t propId) {
  const TMSGProperties& part = node.SubProperties();
  const TMSGProperty* record = part.FindProperty(propId, true, false);
  if (record == nullptr)
    return {};
  if (!record->Value.IsBytes())
    return record->GetValueText();
  const TMSGProperty* codePage = part.FindProperty(PID_MESSAGE_CODEPAGE, true, false);
  const int cp = codePage != nullptr ? static_cast<int>(codePage->Value.ToInt64()) : 0;
  if (cp > 0) {
    const int family = WindowsFamilyCodePage(cp);
    if (family != cp && family != 65001 && IcuConverterName(static_cast<unsigned>(cp)))
      return CodePageToWide(record->Value.Bytes(), static_cast<unsigned>(cp));
  }
  return DecodeStoredText(record->Value.Bytes(), cp);
}

// The HTML that the renderer makes of a native RTF body; empty without one, and for RTF that
// only encapsulates the plain text the message has anyway.
std::u16string RenderedRtf(const TMSGProperties& level, bool hasPlain) {
  const TMSGProperty* record =
      level.FindProperty(TAG_RTF_COMPRESSED & 0xFFFF0000, true, !level.IsRoot());
  if (record == nullptr)
    return {};
  const std::string rtf =
      record->Value.IsBytes() ? record->Value.Bytes() : WideToSystem(record->GetValueText());
  if (rtf.empty() || (hasPlain && IsRtfEncapsulatedText(rtf)))
    return {};
  return SystemToWide(RtfToHtml(rtf));
}

// The zone in which the sender wrote the date: that of the "Date:" field of the transport
// headers when it names one and gives the date of the message, else UTC (a .msg date has none).
int SenderZoneMinutes(const TMSGProperties& level, TDateTime date) {
  std::string storage;
  const std::string_view headers = TransportHeaderView(level, storage);
  for (size_t pos = 0; pos < headers.size();) {
    size_t end = headers.find_first_of("\r\n", pos);
    if (end == std::string::npos)
      end = headers.size();
    if (end - pos >= 5 && headers.compare(pos, 5, "Date:") == 0) {
      TDateTime parsed = 0;
      int zone = 0;
      bool hasZone = false;
      if (TryParseRfc822Date(std::string(headers.substr(pos + 5, end - pos - 5)), parsed, zone,
                             hasZone) &&
          hasZone && std::abs(parsed - date) < 1.0 / 86400)
        return zone;
      return 0;
    }
    pos = headers.find_first_not_of("\r\n", end);
    if (pos == std::string::npos)
      break;
  }
  return 0;
}

// Writes one message level: its header block and its body, with the attachments that are
// messages as message/rfc822 parts holding their own EML.
class MessageWriter {
public:
  MessageWriter(EmlOutput& out, int depth) : out_(out), depth_(depth) {
    base_ = depth == 0 ? std::string(kEmlBoundary)
                       : "=_Message" + std::to_string(depth) + "_" + kEmlBoundary;
  }

  void Write(const TMSGProperties& level) {
    // A signed message goes out as it was signed, so that its signature still holds.
    if (const TMSGProperty* entity = OuterSignedEntity(level)) {
      WriteSigned(level, entity->Value.Bytes());
      return;
    }
    if (const std::string rootType = TreeRootType(level); !rootType.empty()) {
      WriteTree(level, rootType);
      return;
    }
    const CharsetConverter convert(level);
    const std::u16string body = level.GetBody();
    // The RTF goes out as HTML, never as a text/rtf alternative, which mail clients show as an
    // unnamed attachment: the HTML it encapsulates, else the HTML the renderer makes of it.
    std::u16string html = GetHtmlBodyOrFromRtf(level);
    if (html.empty())
      html = RenderedRtf(level, !body.empty());
    std::vector<TextPart> texts;
    if (!body.empty())
      texts.push_back({"text/plain", convert.Convert(body)});
    texts.reserve(4); // htmlPart points into it
    const TextPart* htmlPart = nullptr;
    if (!html.empty()) {
      texts.push_back({"text/html", convert.Convert(html)});
      htmlPart = &texts.back();
    }
    // A meeting message carries its calendar object as the last alternative, as mail clients
    // send it, so that the receiving calendar offers to accept it.
    if (const char* method = MeetingMethod(level))
      texts.push_back({method, {MakeICalendar(level), "utf-8"}});
    std::vector<Attachment> attachments = AttachmentsOf(level, html);
    if (depth_ >= kMaxEmbeddingDepth) {
      attachments.erase(std::remove_if(attachments.begin(), attachments.end(),
                                       [](const Attachment& a) { return a.message != nullptr; }),
                        attachments.end());
    }
    std::vector<const Attachment*> inlines, others;
    for (const Attachment& a : attachments)
      (a.inlinePart ? inlines : others).push_back(&a);

    // The body tree, from the inside out: the HTML with its images, the text alternatives, the
    // attachments around them. Each container gets a boundary of its own.
    Entity root;
    {
      Entity htmlEntity;
      if (htmlPart != nullptr) {
        htmlEntity.text = htmlPart;
        if (!inlines.empty()) {
          Entity related;
          related.subtype = "related";
          related.children.push_back(std::move(htmlEntity));
          for (const Attachment* a : inlines)
            related.children.push_back(Entity::Of(a));
          htmlEntity = std::move(related);
        }
      }
      Entity bodyEntity;
      if (texts.size() >= 2) {
        bodyEntity.subtype = "alternative";
        for (const TextPart& t : texts) {
          if (&t == htmlPart)
            bodyEntity.children.push_back(std::move(htmlEntity));
          else
            bodyEntity.children.push_back(Entity::OfText(&t));
        }
      } else if (htmlPart != nullptr) {
        bodyEntity = std::move(htmlEntity);
      } else if (!texts.empty()) {
        bodyEntity.text = &texts.front();
      }
      const bool hasBody = !bodyEntity.subtype.empty() || bodyEntity.text != nullptr;
      if (!others.empty()) {
        root.subtype = "mixed";
        if (hasBody)
          root.children.push_back(std::move(bodyEntity));
        for (const Attachment* a : others)
          root.children.push_back(Entity::Of(a));
      } else {
        root = std::move(bodyEntity);
      }
    }
    AssignBoundaries(root, true);

    WriteHeaderBlock(level, convert, root);
    if (root.IsMultipart()) {
      if (root.subtype == "mixed") {
        out_.Line();
        out_.Line("This is a multi-part message in MIME format.");
      }
      WriteChildren(level, convert, root);
    } else {
      out_.Line(); // ends the header block
      if (root.text != nullptr)
        WriteQuotedPrintable(root.text->text.bytes);
    }
  }

private:
  // One MIME entity of the body: a text part, an attachment or a multipart container.
  struct Entity {
    std::string subtype;     // of a multipart container; empty for a leaf
    std::string contentType; // the container's own Content-Type value, when it has one
    const TextPart* text = nullptr;
    const Attachment* attachment = nullptr;
    std::string boundary;
    std::vector<Entity> children;

    static Entity Of(const Attachment* a) {
      Entity e;
      e.attachment = a;
      return e;
    }
    static Entity OfText(const TextPart* t) {
      Entity e;
      e.text = t;
      return e;
    }
    bool IsMultipart() const { return !subtype.empty(); }
  };

  // The message's outermost container takes the base boundary; a nested alternative the inner
  // one, a nested related part one of its own.
  void AssignBoundaries(Entity& entity, bool outermost) {
    if (!entity.IsMultipart())
      return;
    if (outermost)
      entity.boundary = base_;
    else if (entity.subtype == "alternative")
      entity.boundary = "=_NextPart_" + base_;
    else
      entity.boundary = "=_Related_" + base_;
    for (Entity& child : entity.children)
      AssignBoundaries(child, false);
  }

  void Header(const std::string& line, bool structured = true) {
    out_.Line(Fold(line, structured));
  }

  // A field whose value may be huge: written without the copies that building the line would
  // make, and without folding again what the encoder already folded within the line limit.
  void HeaderField(const char* name, std::string value, bool structured) {
    bool folded = value.find('\n') != std::string::npos;
    for (size_t start = 0, end; folded && start < value.size(); start = end + 1) {
      end = std::min(value.find('\n', start), value.size());
      folded = end - start + (start == 0 ? std::strlen(name) : 0) <= kMaxLineLength;
    }
    if (folded) {
      out_.Raw(name);
      out_.Line(value);
      return;
    }
    value.insert(0, name);
    const std::string line = Fold(value, structured);
    value = std::string();
    out_.Line(line);
  }

  void WriteHeaderBlock(const TMSGProperties& level, const CharsetConverter& convert,
                        const Entity& root,
                        const std::vector<std::string>* contentHeaders = nullptr) {
    const TMailAddress sender = GetSenderAddress(level);
    if (const std::string from = AddressList(convert, {sender}); !from.empty())
      Header("From: " + from);
    const std::pair<const char*, TRecipientKind> kinds[] = {
        {"To: ", TRecipientKind::To}, {"Cc: ", TRecipientKind::Cc}, {"Bcc: ", TRecipientKind::Bcc}};
    const TRecipientLists recipients = GetRecipientLists(level);
    for (const auto& [name, kind] : kinds) {
      const std::string list = AddressList(convert, recipients.Of(kind));
      if (!list.empty())
        Header(name + list);
    }
    if (const TUtf8Text subject = SubjectUtf8(level); subject.View().size() >= kLargeHeaderValue) {
      // A subject as large as the file: neither it nor its encoded form is copied whole.
      convert.LargeHeader("Subject: ", subject.View(), out_);
    } else if (std::string text = convert.Header(level.GetSubject()); !text.empty()) {
      HeaderField("Subject: ", std::move(text), false);
    }
    if (const TDateTime date = level.GetSentDate(); date != 0)
      Header("Date: " + FormatRfc822DateInZone(date, SenderZoneMinutes(level, date)));
    // The ID in its angle brackets, also when the message stores it without them (or with one
    // of them lost).
    std::u16string id = WithoutControls(level.GetMessageID());
    id.erase(0, std::min(id.find_first_not_of(u" <"), id.size()));
    id.erase(id.find_last_not_of(u" >") + 1);
    if (!id.empty())
      Header("Message-ID: " + convert.Header(u"<" + id + u">"));
    WriteThreadHeaders(level, convert);
    out_.Line("MIME-Version: 1.0");
    if (contentHeaders != nullptr) {
      for (const std::string& line : *contentHeaders)
        out_.Line(CanonicalLineEnds(line));
    } else if (!root.contentType.empty()) {
      Header("Content-Type: " + WithBoundary(root.contentType, root.boundary));
      out_.Line("Content-Transfer-Encoding: 7bit");
    } else if (root.IsMultipart()) {
      Header("Content-Type: multipart/" + root.subtype + "; boundary=\"" + root.boundary + "\"");
      out_.Line("Content-Transfer-Encoding: 7bit");
    } else {
      // One text part (or none) is the body of the message itself.
      const std::string charset =
          root.text != nullptr ? root.text->text.charset : convert.Charset();
      out_.Line(std::string("Content-Type: ") +
                (root.text != nullptr ? root.text->type : "text/plain") +
                ";\r\n              charset=\"" + charset + "\"");
      out_.Line(root.text != nullptr ? "Content-Transfer-Encoding: quoted-printable"
                                     : "Content-Transfer-Encoding: 7bit");
    }
    // The three levels that mail programs tell apart, written as they write them.
    const int priority = level.GetPriority() % 128;
    if (priority >= 3) {
      out_.Line("X-Priority: 1");
      out_.Line("Importance: high");
    } else if (priority <= 1) {
      out_.Line("X-Priority: 5");
      out_.Line("Importance: low");
    } else {
      out_.Line("X-Priority: 3");
    }
    out_.Line("X-Mailer: " + GeneratorText());
  }

  // Reply-To, In-Reply-To and References, so that a reply to the written message goes where the
  // sender asked and stays in its thread.
  void WriteThreadHeaders(const TMSGProperties& level, const CharsetConverter& convert) {
    const bool recursive = !level.IsRoot();
    TMailAddressList replyTo;
    for (TMailAddress& a : ParseAddressList(
             WideToSystem(level.GetPropertyText(TAG_REPLY_RECIPIENT_NAMES, true, recursive)))) {
      if (!a.Address.empty())
        replyTo.push_back(std::move(a));
    }
    if (const std::string list = AddressList(convert, replyTo); !list.empty())
      Header("Reply-To: " + list);
    for (const auto& [name, tag] : {std::pair{"In-Reply-To: ", TAG_IN_REPLY_TO_ID},
                                    std::pair{"References: ", TAG_INTERNET_REFERENCES}}) {
      const std::u16string ids =
          WithoutControls(WithoutNul(level.GetPropertyText(tag, true, recursive)));
      if (ids.find_first_not_of(u' ') != std::u16string::npos && IsPlainHeaderText(ids))
        Header(name + WideToSystem(ids));
    }
  }

  void WriteChildren(const TMSGProperties& level, const CharsetConverter& convert,
                     const Entity& container) {
    for (const Entity& child : container.children) {
      out_.Line();
      out_.Line("--" + container.boundary);
      WriteEntity(level, convert, child);
    }
    out_.Line();
    out_.Line("--" + container.boundary + "--");
  }

  void WriteEntity(const TMSGProperties& level, const CharsetConverter& convert,
                   const Entity& entity) {
    if (entity.IsMultipart()) {
      if (entity.subtype == "alternative") {
        out_.Line("Content-Type: multipart/alternative;");
        out_.Line("    \tboundary=\"" + entity.boundary + "\"");
      } else {
        Header("Content-Type: multipart/" + entity.subtype + "; boundary=\"" + entity.boundary +
               "\"");
      }
      WriteChildren(level, convert, entity);
      return;
    }
    if (entity.text != nullptr) {
      out_.Line(std::string("Content-Type: ") + entity.text->type + "; charset=\"" +
                entity.text->text.charset + "\"");
      out_.Line("Content-Transfer-Encoding: quoted-printable");
      out_.Line();
      WriteQuotedPrintable(entity.text->text.bytes);
      return;
    }
    WriteAttachment(level, convert, *entity.attachment);
  }

  void WriteAttachment(const TMSGProperties& level, const CharsetConverter& convert,
                       const Attachment& a) {
    const std::string disposition = a.inlinePart ? "inline" : "attachment";
    if (a.message != nullptr) {
      std::u16string name = WithoutControls(SystemToWide(a.node->GetAttachmentName(a.index)));
      if (name.size() < 4 || Lower(WideToSystem(name.substr(name.size() - 4))) != ".eml")
        name += u".eml";
      Header("Content-Type: message/rfc822; name=" + convert.Parameter(name));
      Header("Content-Disposition: " + disposition + "; filename=" + convert.Parameter(name));
      out_.Line("Content-Transfer-Encoding: 7bit");
      out_.Line();
      MessageWriter(out_, depth_ + 1).Write(*a.message);
      return;
    }
    Header("Content-Type: " + a.type + "; name=" +
           convert.Parameter(WithoutControls(SystemToWide(a.node->GetAttachmentName(a.index)))));
    if (!a.contentId.empty())
      Header("Content-ID: <" + convert.Header(a.contentId) + ">");
    if (!a.contentLocation.empty())
      Header("Content-Location: " + convert.Header(a.contentLocation));
    Header(
        "Content-Disposition: " + disposition + "; filename=" +
        convert.Parameter(WithoutControls(SystemToWide(a.node->GetAttachmentFileName(a.index)))) +
        FileDates(a.node->SubProperties()));
    if (a.rawMessage) {
      WriteRawMessage(level, a.index);
      return;
    }
    out_.Line("Content-Transfer-Encoding: base64");
    out_.Line();
    Base64Sink data(out_);
    level.SaveAttachmentToStream(a.index, data);
    if (data.Complete())
      out_.Line();
  }

  // The message's header block with the content headers of the signed entity, then the entity's
  // body byte for byte (line ends made CR LF, as signed content is canonically). An opaque
  // signature (the DER of a CMS signed-data) goes out as the smime.p7m it came as.
  void WriteSigned(const TMSGProperties& level, const std::string& entity) {
    const CharsetConverter convert(level);
    Entity root;
    if (!entity.empty() && static_cast<unsigned char>(entity[0]) == 0x30) {
      const std::vector<std::string> headers = {
          "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=\"smime.p7m\"",
          "Content-Disposition: attachment; filename=\"smime.p7m\"",
          "Content-Transfer-Encoding: base64"};
      WriteHeaderBlock(level, convert, root, &headers);
      out_.Line();
      Base64Sink data(out_);
      data.WriteBuffer(entity.data(), entity.size());
      if (data.Complete())
        out_.Line();
      return;
    }
    const std::vector<std::string> headers = EntityContentHeaders(entity);
    WriteHeaderBlock(level, convert, root, &headers);
    out_.Line();
    const std::string body = CanonicalLineEnds(EntityBody(entity));
    out_.Raw(body);
    if (!body.empty() && body.back() != '\n')
      out_.Line();
  }

  // The message in the MIME structure it was read in, with the files of a TNEF stream in the
  // stream's place and its rich body beside a plain one.
  void WriteTree(const TMSGProperties& level, const std::string& rootType) {
    const CharsetConverter convert(level);
    bool unpackedTnef = false;
    std::vector<MimePart> parts = BuildTree(level, unpackedTnef);
    richHtml_.clear();
    if (unpackedTnef && !HasRichPart(parts)) {
      // Also RTF that only wraps plain text: that text is the stream's, not the plain body's.
      richHtml_ = GetHtmlBodyOrFromRtf(level);
      if (richHtml_.empty())
        richHtml_ = RenderedRtf(level, false);
      if (!richHtml_.empty()) {
        richText_ = {"text/html", convert.Convert(richHtml_)};
        if (MimePart* plain = FirstPlainBody(parts)) {
          plain->withRichBody = true;
        } else {
          MimePart html;
          html.withRichBody = true;
          parts.insert(parts.begin(), std::move(html));
        }
      }
    }
    lowerRichHtml_ = Lower(WideToSystem(richHtml_));
    int next = 0;
    AssignTreeBoundaries(parts, next);
    Entity root;
    root.subtype = "mixed";
    root.contentType = rootType;
    root.boundary = base_;
    WriteHeaderBlock(level, convert, root);
    out_.Line();
    out_.Line("This is a multi-part message in MIME format.");
    WriteTreeChildren(level, convert, parts, base_);
  }

  void AssignTreeBoundaries(std::vector<MimePart>& parts, int& next) {
    for (MimePart& part : parts) {
      if (part.withRichBody && part.node != nullptr) {
        part.boundary = "=_Part" + std::to_string(++next) + "_" + base_;
      } else if (!part.unpacked && part.node != nullptr && IsContainer(part)) {
        part.boundary = "=_Part" + std::to_string(++next) + "_" + base_;
        AssignTreeBoundaries(part.children, next);
      }
    }
  }

  // A body part of the tree that is HTML or RTF: the message has a rich body of its own.
  static bool HasRichPart(const std::vector<MimePart>& parts) {
    return std::any_of(parts.begin(), parts.end(), [](const MimePart& p) {
      if (p.unpacked)
        return false;
      if (p.index < 0 && !IsContainer(p)) {
        const std::string type = TypeOfNode(*p.node);
        const TMSGProperties& sub = p.node->SubProperties();
        if (type == "text/html" || type == "text/rtf" || type == "text/enriched" ||
            sub.FindProperty(0x10130000, true, false) != nullptr ||
            sub.FindProperty(0x10090000, true, false) != nullptr)
          return true;
      }
      return HasRichPart(p.children);
    });
  }

  // The first plain-text body part, in reading order, outside attached messages.
  static MimePart* FirstPlainBody(std::vector<MimePart>& parts) {
    for (MimePart& p : parts) {
      if (p.unpacked)
        continue;
      if (IsContainer(p)) {
        if (MimePart* found = FirstPlainBody(p.children))
          return found;
        continue;
      }
      const std::string type = TypeOfNode(*p.node);
      if (p.index < 0 && (type.empty() || type == "text/plain"))
        return &p;
    }
    return nullptr;
  }

  void WriteTreeChildren(const TMSGProperties& level, const CharsetConverter& convert,
                         const std::vector<MimePart>& parts, const std::string& boundary) {
    for (const MimePart& part : parts) {
      out_.Line();
      out_.Line("--" + boundary);
      WriteTreePart(level, convert, part);
    }
    out_.Line();
    out_.Line("--" + boundary + "--");
  }

  void WriteTreePart(const TMSGProperties& level, const CharsetConverter& convert,
                     const MimePart& part) {
    if (part.withRichBody) {
      if (part.node == nullptr) {
        WriteEntity(level, convert, Entity::OfText(&richText_));
        return;
      }
      // The plain body and the HTML of the rich one, as alternatives: the plain one first, as
      // the least faithful.
      out_.Line("Content-Type: multipart/alternative;");
      out_.Line("    \tboundary=\"" + part.boundary + "\"");
      out_.Line();
      out_.Line("--" + part.boundary);
      MimePart plain = part;
      plain.withRichBody = false;
      WriteTreePart(level, convert, plain);
      out_.Line();
      out_.Line("--" + part.boundary);
      WriteEntity(level, convert, Entity::OfText(&richText_));
      out_.Line();
      out_.Line("--" + part.boundary + "--");
      return;
    }
    if (part.unpacked) {
      const Attachment a =
          AttachmentAt(level, part.index, part.node, lowerRichHtml_, !richHtml_.empty());
      if (a.message == nullptr || depth_ < kMaxEmbeddingDepth)
        WriteAttachment(level, convert, a);
      return;
    }
    const TMSGProperty& node = *part.node;
    std::vector<std::string> headers = ContentHeaders(node);
    const auto isType = [](const std::string& line) {
      return Lower(line.substr(0, 13)) == "content-type:";
    };
    const std::string type = TypeOfNode(node);
    if (const TMSGProperty* entity =
            node.SubProperties().FindProperty(TAG_SIGNED_ENTITY, false, false);
        entity != nullptr && entity->Value.IsBytes() && IsContainer(part)) {
      // A signed part as it came, header block and all: rebuilt, its signature would fail.
      const std::string bytes = CanonicalLineEnds(entity->Value.Bytes());
      out_.Raw(bytes);
      if (!bytes.empty() && bytes.back() != '\n')
        out_.Line();
      return;
    }
    if (IsContainer(part)) {
      bool typed = false;
      for (const std::string& line : headers) {
        if (isType(line)) {
          if (!typed)
            Header(WithBoundary(line, part.boundary));
          typed = true;
        } else {
          Header(line);
        }
      }
      if (!typed)
        Header("Content-Type: " + type + "; boundary=\"" + part.boundary + "\"");
      WriteTreeChildren(level, convert, part.children, part.boundary);
      return;
    }
    if (part.index < 0) {
      // A body, or text that no view of ours shows: its text in UTF-8, quoted-printable. RTF
      // goes out as the HTML made of it.
      std::u16string text = PartText(node, 0x10000000);
      std::string textType = type.empty() ? "text/plain" : type;
      if (text.empty() && !PartText(node, 0x10130000).empty()) {
        text = PartText(node, 0x10130000);
        textType = "text/html";
      } else if (text.empty() && node.SubProperties().FindProperty(0x10090000, true, false)) {
        text = GetHtmlBodyOrFromRtf(node.SubProperties());
        textType = "text/html";
      }
      for (const std::string& line : headers) {
        if (!isType(line))
          Header(line);
      }
      Header("Content-Type: " + textType + "; charset=\"utf-8\"");
      out_.Line("Content-Transfer-Encoding: quoted-printable");
      out_.Line();
      if (!text.empty())
        WriteQuotedPrintable(EncodeUtf8(WithoutNul(text)));
      return;
    }
    // An attachment: its headers as they came, its bytes in base64; a message or a multipart
    // that had no boundary as it stands, where it can.
    const bool asItStands = type.rfind("message/", 0) == 0 || type.rfind("multipart/", 0) == 0;
    TMemoryStream probe;
    if (asItStands)
      level.SaveAttachmentToStream(part.index, probe);
    const bool raw = asItStands && (probe.Data().empty() || CanStandAsMessage(level, part.index));
    bool typed = false;
    for (const std::string& line : headers) {
      if (isType(line)) {
        if (typed)
          continue;
        typed = true;
        if (asItStands && !raw) {
          Header("Content-Type: application/octet-stream");
          continue;
        }
      }
      Header(line);
    }
    if (!typed) {
      Header("Content-Type: " + (type.empty() || (asItStands && !raw)
                                     ? std::string("application/octet-stream")
                                     : type));
    }
    if (raw) {
      WriteRawMessage(level, part.index);
      return;
    }
    out_.Line("Content-Transfer-Encoding: base64");
    out_.Line();
    Base64Sink data(out_);
    level.SaveAttachmentToStream(part.index, data);
    if (data.Complete())
      out_.Line();
  }

  // Message data written as it stands, so that readers see the message inside; its lines end in
  // CR LF like the rest of the output.
  void WriteRawMessage(const TMSGProperties& level, int index) {
    TMemoryStream data;
    level.SaveAttachmentToStream(index, data);
    const std::string& bytes = data.Data();
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    out_.Line(ascii ? "Content-Transfer-Encoding: 7bit" : "Content-Transfer-Encoding: 8bit");
    out_.Line();
    std::string lines;
    lines.reserve(bytes.size() + bytes.size() / 16);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' || bytes[i] == '\n') {
        lines += "\r\n";
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
          ++i;
      } else {
        lines += bytes[i];
      }
    }
    out_.Raw(lines);
    if (!lines.empty() && lines.back() != '\n')
      out_.Line();
  }

  void WriteQuotedPrintable(const std::string& bytes) {
    QuotedPrintableEncoder encoder;
    std::string encoded;
    encoder.Filter(bytes, encoded);
    encoder.Complete(encoded);
    out_.Line(encoded);
  }

  EmlOutput& out_;
  int depth_;
  std::string base_;
  // The rich body of a TNEF stream, as the HTML that a tree without one gets.
  std::u16string richHtml_;
  std::string lowerRichHtml_;
  TextPart richText_{"text/html", {}};
};

} // namespace

void SaveToEML(const TMSGProperties& level, TStream* stream) {
  if (stream == nullptr)
    throw EMSGError("Stream is not defined");
  EmlOutput out(*stream);
  MessageWriter(out, 0).Write(level);
  out.Flush();
}

void SaveToEMLFile(const TMSGProperties& level, const std::string& fileName) {
  std::string tempName = fileName + ".XXXXXX";
  const int fd = mkstemp(tempName.data());
  if (fd < 0) {
    throw EMSGError("Cannot create file " + fileName + ". " + std::strerror(errno));
  }
  // mkstemp makes the file private; the message gets the mode of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  try {
    TFileStream file(tempName, TFileStream::Create);
    SaveToEML(level, &file);
    file.Close();
  } catch (...) {
    std::remove(tempName.c_str());
    throw;
  }
  if (std::rename(tempName.c_str(), fileName.c_str()) != 0) {
    const int error = errno;
    std::remove(tempName.c_str());
    throw EMSGError("Cannot create file " + fileName + ". " + std::strerror(error));
  }
}

void TQvMessage::SaveToEMLFile(const std::string& fileName) const {
  orlendo::SaveToEMLFile(Properties(), fileName);
}

} // namespace orlendo
