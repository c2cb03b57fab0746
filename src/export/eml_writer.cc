#include "export/eml_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "export/generator_text.h"
#include "export/html_body.h"
#include "export/message_addresses.h"
#include "msg/qvmsgfile.h"
#include "text/quoted_printable_encode.h"
#include "text/qvmsgcp.h"
#include "text/rfc2047_encode.h"
#include "text/rfc822_date.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_ATTACH_MIME_TAG = 0x370E0000;         // by property id
constexpr uint32_t TAG_ATTACH_CONTENT_ID = 0x37120000;       // by property id
constexpr uint32_t TAG_ATTACH_CONTENT_LOCATION = 0x37130000; // by property id
constexpr uint32_t TAG_X400_CONTENT_TYPE = 0x003C0000;       // by property id
constexpr uint32_t TAG_ATTACHMENT_HIDDEN = 0x7FFE000B;
constexpr uint32_t TAG_CONTENT_IDENTIFIER = 0x0008001E;
constexpr uint32_t TAG_AUTHENTICATION_WARNING = 0x8003001F;
constexpr size_t kOutputBufferSize = 1 << 16;
// Header lines are folded to this length where they have room to break (RFC 5322, 2.1.1).
constexpr size_t kFoldColumn = 78;
// Embedded messages deeper than this are left out: the output of a hostile file stays bounded
// and the writer's recursion with it.
constexpr int kMaxEmbeddingDepth = 32;
// Attachment bytes handed to the base64 encoder at a time (a multiple of its 210-byte cycle).
constexpr size_t kBase64InputChunk = 210 * 1024;

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

// Base64 with the line rule of EncodeBase64 (after each group, a CR LF when the count of bytes
// consumed is 0, 1 or 2 modulo 70: lines of 96, 92 and 92 characters, repeating every 210 input
// bytes), for any chunking of the input. The repeating 210-byte blocks take a fast path; the
// output equals EncodeBase64 of the whole input.
class StreamingBase64 {
public:
  StreamingBase64() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned v = 0; v < 4096; ++v) {
      pairs_[2 * v] = kAlphabet[v >> 6];
      pairs_[2 * v + 1] = kAlphabet[v & 63];
    }
  }

  void Filter(std::string_view input, std::string& out) {
    const auto* p = reinterpret_cast<const uint8_t*>(input.data());
    size_t n = input.size();
    out.reserve(out.size() + n / 210 * 286 + 300);
    while (heldCount_ > 0 && n > 0) {
      held_[heldCount_++] = *p++;
      --n;
      if (heldCount_ == 3) {
        Group(held_, 3, out);
        heldCount_ = 0;
      }
    }
    while (n >= 3 && consumed_ % 210 != 0) {
      Group(p, 3, out);
      p += 3;
      n -= 3;
    }
    if (n >= 210) {
      const size_t blocks = n / 210;
      const size_t at = out.size();
      out.resize(at + blocks * 286);
      char* o = out.data() + at;
      for (size_t b = 0; b < blocks; ++b) {
        for (const int bytes : {72, 69, 69}) {
          for (int k = 0; k < bytes; k += 3, p += 3, o += 4) {
            const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
            std::memcpy(o, &pairs_[2 * (v >> 12)], 2);
            std::memcpy(o + 2, &pairs_[2 * (v & 4095)], 2);
          }
          *o++ = '\r';
          *o++ = '\n';
        }
      }
      consumed_ += blocks * 210;
      n -= blocks * 210;
    }
    for (; n >= 3; p += 3, n -= 3)
      Group(p, 3, out);
    while (n > 0) {
      held_[heldCount_++] = *p++;
      --n;
    }
  }

  void Complete(std::string& out) {
    if (heldCount_ > 0)
      Group(held_, heldCount_, out);
    heldCount_ = 0;
    consumed_ = 0;
  }

private:
  void Group(const uint8_t* g, int size, std::string& out) {
    const uint32_t v = (uint32_t{g[0]} << 16) | (size > 1 ? uint32_t{g[1]} << 8 : 0u) |
                       (size > 2 ? uint32_t{g[2]} : 0u);
    char quad[4];
    std::memcpy(quad, &pairs_[2 * (v >> 12)], 2);
    std::memcpy(quad + 2, &pairs_[2 * (v & 4095)], 2);
    if (size < 3)
      quad[3] = '=';
    if (size < 2)
      quad[2] = '=';
    out.append(quad, 4);
    consumed_ += static_cast<uint64_t>(size);
    if (consumed_ % 70 <= 2)
      out += "\r\n";
  }

  char pairs_[8192];
  uint8_t held_[3] = {};
  int heldCount_ = 0;
  uint64_t consumed_ = 0;
};

// A write-only stream that base64-encodes what it receives straight into the output.
class Base64Sink : public TStream {
public:
  explicit Base64Sink(EmlOutput& out) : out_(out) {}
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t count) override {
    const char* data = static_cast<const char*>(buffer);
    for (size_t done = 0; done < count;) {
      const size_t n = std::min(kBase64InputChunk, count - done);
      encoded_.clear();
      encoder_.Filter(std::string_view(data + done, n), encoded_);
      out_.Raw(encoded_);
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
    encoded_.clear();
    encoder_.Complete(encoded_);
    out_.Raw(encoded_);
    return written_ > 0;
  }

private:
  EmlOutput& out_;
  StreamingBase64 encoder_;
  std::string encoded_;
  int64_t written_ = 0;
};

// The text without U+0000: the conversions end text at the first one, and no header or text
// part can carry it, so it is dropped rather than losing what follows it.
std::u16string WithoutNul(std::u16string_view text) {
  std::u16string out(text);
  out.erase(std::remove(out.begin(), out.end(), u'\0'), out.end());
  return out;
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
    const std::u16string text = WithoutNul(original);
    if (IsPlainHeaderText(text))
      return WideToSystem(text);
    if (hook_ != nullptr) {
      return EncodeHeaderWords(text, charset_,
                               [this](std::u16string_view part) { return Hook(part); });
    }
    return EncodeHeaderValue(text, charset_);
  }

  // A display name in an address header: the name itself when it is a run of atoms, a quoted
  // string when it is ASCII with other characters, else encoded-words and nothing else.
  std::string Phrase(std::u16string_view original) const {
    const std::u16string text = WithoutNul(original);
    if (!IsPlainHeaderText(text)) {
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

// A header value without line breaks or other control characters (which would end the header).
std::u16string WithoutControls(std::u16string text) {
  std::replace_if(
      text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }, u' ');
  return text;
}

struct TextPart {
  const char* type; // "text/plain", "text/rtf", "text/html"
  ConvertedText text;
};

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

std::vector<Attachment> AttachmentsOf(const TMSGProperties& level, const std::u16string& html) {
  const std::string lowerHtml = Lower(WideToSystem(html));
  std::vector<Attachment> out;
  const int count = level.AttachmentCount();
  for (int index = 0; index < count; ++index) {
    const TMSGProperty* node = level.GetAttachment(index);
    if (node == nullptr)
      continue;
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
    if (a.message == nullptr && !html.empty()) {
      const TMSGProperty* hidden = sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, true);
      a.inlinePart = (!a.contentId.empty() && ContainsNoCase(lowerHtml, u"cid:" + a.contentId)) ||
                     ContainsNoCase(lowerHtml, a.contentLocation) ||
                     (hidden != nullptr && hidden->Value.ToInt64() != 0);
    }
    out.push_back(std::move(a));
  }
  return out;
}

// Inserts folding line breaks before blanks so that header lines stay within kFoldColumn
// where a blank allows it. In structured fields (structured true) blanks inside quoted strings
// are not used, so that no reader can see the break inside a name or parameter.
std::string Fold(const std::string& line, bool structured) {
  if (line.size() <= kFoldColumn && line.find('\n') == std::string::npos)
    return line;
  const size_t colon = line.find(':');
  const size_t firstBreak = colon == std::string::npos ? 0 : colon + 2;
  std::string out;
  out.reserve(line.size() + line.size() / 32);
  size_t lineStart = 0; // in out
  size_t candidate = 0; // in out: a blank where the line may break; 0 for none
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\n') {
      out += c;
      lineStart = out.size();
      candidate = 0;
      continue;
    }
    if (structured && c == '\\' && quoted && i + 1 < line.size()) {
      out += c;
      out += line[++i];
      continue;
    }
    if (structured && c == '"')
      quoted = !quoted;
    if ((c == ' ' || c == '\t') && !quoted && i >= firstBreak && out.size() > lineStart)
      candidate = out.size();
    out += c;
    if (out.size() - lineStart > kFoldColumn && candidate > lineStart) {
      out.insert(candidate, "\r\n");
      lineStart = candidate + 2;
      candidate = 0;
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

// Writes one message level: its header block and its body, with the attachments that are
// messages as message/rfc822 parts holding their own EML.
class MessageWriter {
public:
  MessageWriter(EmlOutput& out, int depth) : out_(out), depth_(depth) {
    base_ = depth == 0 ? std::string(kEmlBoundary)
                       : "=_Message" + std::to_string(depth) + "_" + kEmlBoundary;
  }

  void Write(const TMSGProperties& level) {
    const CharsetConverter convert(level);
    const std::u16string body = level.GetBody();
    const std::u16string rtf = level.GetBodyRTF();
    const std::u16string html = GetHtmlBodyOrFromRtf(level);
    std::vector<TextPart> texts;
    if (!body.empty())
      texts.push_back({"text/plain", convert.Convert(body)});
    if (!rtf.empty())
      texts.push_back({"text/rtf", convert.Convert(rtf)});
    const TextPart* htmlPart = nullptr;
    if (!html.empty()) {
      texts.push_back({"text/html", convert.Convert(html)});
      htmlPart = &texts.back();
    }
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
    std::string subtype; // of a multipart container; empty for a leaf
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

  void WriteHeaderBlock(const TMSGProperties& level, const CharsetConverter& convert,
                        const Entity& root) {
    const TMailAddress sender = GetSenderAddress(level);
    if (const std::string from = AddressList(convert, {sender}); !from.empty())
      Header("From: " + from);
    const std::pair<const char*, TRecipientKind> kinds[] = {
        {"To: ", TRecipientKind::To}, {"Cc: ", TRecipientKind::Cc}, {"Bcc: ", TRecipientKind::Bcc}};
    for (const auto& [name, kind] : kinds) {
      const std::string list = AddressList(convert, GetRecipientAddresses(level, kind));
      if (!list.empty())
        Header(name + list);
    }
    if (const std::u16string subject = level.GetSubject(); !subject.empty())
      Header("Subject: " + convert.Header(subject), false);
    if (const TDateTime date = level.GetSentDate(); date != 0)
      Header("Date: " + FormatRfc822Date(date));
    // The ID in its angle brackets, also when the message stores it without them (or with one
    // of them lost).
    std::u16string id = WithoutControls(level.GetMessageID());
    id.erase(0, std::min(id.find_first_not_of(u" <"), id.size()));
    id.erase(id.find_last_not_of(u" >") + 1);
    if (!id.empty())
      Header("Message-ID: " + convert.Header(u"<" + id + u">"));
    out_.Line("MIME-Version: 1.0");
    if (root.IsMultipart()) {
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
    out_.Line("X-Priority: " + std::to_string(5 - (level.GetPriority() % 128)));
    out_.Line("X-Mailer: " + GeneratorText());
    if (const TMSGProperty* warning =
            level.FindProperty(TAG_AUTHENTICATION_WARNING, false, false)) {
      if (const std::u16string text = warning->GetValueText(); !text.empty())
        Header("X-Authentication-Warning: " + convert.Header(text), false);
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
        convert.Parameter(WithoutControls(SystemToWide(a.node->GetAttachmentFileName(a.index)))));
    if (a.rawMessage) {
      // Written as it stands, so that readers see the message inside; its lines end in CR LF
      // like the rest of the output.
      TMemoryStream data;
      level.SaveAttachmentToStream(a.index, data);
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
      return;
    }
    out_.Line("Content-Transfer-Encoding: base64");
    out_.Line();
    Base64Sink data(out_);
    level.SaveAttachmentToStream(a.index, data);
    if (data.Complete())
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
