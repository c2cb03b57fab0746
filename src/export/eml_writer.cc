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
#include "msg/qvmsgfile.h"
#include "text/quoted_printable_encode.h"
#include "text/qvmsgcp.h"
#include "text/rfc2047_encode.h"
#include "text/rfc822_date.h"
#include "text/rtf_html.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_ATTACH_MIME_TAG = 0x370E0000;   // by property id
constexpr uint32_t TAG_ATTACH_CONTENT_ID = 0x37120000; // by property id
constexpr uint32_t TAG_AUTHENTICATION_WARNING = 0x8003001F;
constexpr size_t kOutputBufferSize = 1 << 16;
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

// The conversion of text into the message charset: the .msg reader's OnConvertCodepage hook
// when one is assigned, else a true conversion that falls back to UTF-8 when the charset cannot
// hold every character.
class CharsetConverter {
public:
  explicit CharsetConverter(const TMSGProperties& level)
      : level_(level), charset_(level.GetCharset()) {
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

struct TextPart {
  const char* type; // "text/plain", "text/rtf", "text/html"
  ConvertedText text;
};

bool IsTokenChar(char c) {
  return c > 0x20 && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

// The attachment's MIME type when it is a well-formed type/subtype, else the generic one: the
// value goes into a header and must not be able to end it or add parameters.
std::string MimeTypeOf(const TMSGProperty& node) {
  const std::string text =
      WideToSystem(node.SubProperties().GetPropertyText(TAG_ATTACH_MIME_TAG, true, false));
  std::string type(text);
  const auto first = type.find_first_not_of(" \t");
  const auto last = type.find_last_not_of(" \t");
  type = first == std::string::npos ? std::string() : type.substr(first, last - first + 1);
  const size_t slash = type.find('/');
  bool valid = slash != std::string::npos && slash > 0 && slash + 1 < type.size();
  for (size_t i = 0; valid && i < type.size(); ++i) {
    valid = i == slash || IsTokenChar(type[i]);
  }
  // Multipart and message types may not be base64-encoded (RFC 2046): a reader would take the
  // encoded data for MIME structure. Their bytes go out as opaque data.
  const std::string lower = [&] {
    std::string l = type;
    for (char& c : l)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return l;
  }();
  if (lower.rfind("multipart/", 0) == 0 || lower.rfind("message/", 0) == 0)
    valid = false;
  return valid ? type : "application/octet-stream";
}

// A header value without line breaks or other control characters (which would end the header).
std::u16string WithoutControls(std::u16string text) {
  std::replace_if(
      text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }, u' ');
  return text;
}

void WritePartHeader(EmlOutput& out, const std::string& boundary, const TextPart& part) {
  out.Line();
  out.Line("--" + boundary);
  out.Line(std::string("Content-Type: ") + part.type + "; charset=\"" + part.text.charset + "\"");
  out.Line("Content-Transfer-Encoding: quoted-printable");
  out.Line();
}

void WriteQuotedPrintable(EmlOutput& out, const std::string& bytes) {
  QuotedPrintableEncoder encoder;
  std::string encoded;
  encoder.Filter(bytes, encoded);
  encoder.Complete(encoded);
  out.Line(encoded);
}

} // namespace

void SaveToEML(const TMSGProperties& level, TStream* stream) {
  if (stream == nullptr)
    throw EMSGError("Stream is not defined");
  const CharsetConverter convert(level);
  EmlOutput out(*stream);

  // The bodies, taken before anything is written.
  const std::u16string body = level.GetBody();
  const std::u16string rtf = level.GetBodyRTF();
  std::u16string html = level.GetBodyHTML();
  if (html.empty() && !rtf.empty()) {
    // HTML is recovered from the RTF as stored: its literal 8-bit bytes are in the RTF's own code
    // page, and character references inside it belong to the HTML, not to us.
    const TMSGProperty* record = level.FindProperty(0x10090000, true, !level.IsRoot());
    const std::string rawRtf = record != nullptr && record->Value.IsBytes()
                                   ? record->Value.Bytes()
                                   : WideToSystem(rtf);
    html = SystemToWide(ExtractHtmlFromRtf(rawRtf));
  }
  std::vector<TextPart> parts;
  if (!body.empty())
    parts.push_back({"text/plain", convert.Convert(body)});
  if (!rtf.empty())
    parts.push_back({"text/rtf", convert.Convert(rtf)});
  if (!html.empty())
    parts.push_back({"text/html", convert.Convert(html)});
  const int attachmentCount = level.AttachmentCount();
  const bool alternative = parts.size() >= 2;
  const bool nested = alternative && attachmentCount >= 1;
  const bool multipart = alternative || attachmentCount >= 1;

  out.Line("From: " + convert.Header(level.GetFrom()));
  out.Line("To: " + convert.Header(level.GetTo()));
  if (const std::u16string cc = level.GetCc(); !cc.empty()) {
    out.Line("Cc: " + convert.Header(cc));
  }
  if (const std::u16string bcc = level.GetBcc(); !bcc.empty()) {
    out.Line("Bcc: " + convert.Header(bcc));
  }
  out.Line("Subject: " + convert.Header(level.GetSubject()));
  out.Line("Date: " + FormatRfc822Date(level.GetSentDate()));
  out.Line("Message-ID: " + convert.Header(level.GetMessageID()));
  out.Line("MIME-Version: 1.0");
  if (nested) {
    out.Line(std::string("Content-Type: multipart/mixed; boundary=\"") + kEmlBoundary + "\"");
  } else if (alternative) {
    out.Line(std::string("Content-Type: multipart/alternative; boundary=\"") + kEmlBoundary + "\"");
  } else if (multipart) {
    out.Line(std::string("Content-Type: multipart/related; boundary=\"") + kEmlBoundary + "\"");
  } else {
    // One text part (or none) is the body of the message itself.
    const TextPart* only = parts.empty() ? nullptr : &parts.front();
    const std::string charset = only != nullptr ? only->text.charset : convert.Charset();
    out.Line(std::string("Content-Type: ") + (only != nullptr ? only->type : "text/plain") +
             ";\r\n              charset=\"" + charset + "\"");
  }
  out.Line(!multipart && !parts.empty() ? "Content-Transfer-Encoding: quoted-printable"
                                        : "Content-Transfer-Encoding: 7bit");
  out.Line("X-Priority: " + std::to_string(5 - (level.GetPriority() % 128)));
  out.Line("X-Mailer: " + GeneratorText());
  if (const TMSGProperty* warning = level.FindProperty(TAG_AUTHENTICATION_WARNING, false, false)) {
    if (const std::u16string text = warning->GetValueText(); !text.empty()) {
      out.Line("X-Authentication-Warning: " + convert.Header(text));
    }
  }

  const std::string partBoundary = nested ? kEmlInnerBoundary : kEmlBoundary;
  if (nested) {
    out.Line();
    out.Line("This is a multi-part message in MIME format.");
    out.Line();
    out.Line(std::string("--") + kEmlBoundary);
    out.Line("Content-Type: multipart/alternative;");
    out.Line("    \tboundary=\"" + partBoundary + "\"");
  }
  for (const TextPart& part : parts) {
    if (multipart) {
      WritePartHeader(out, partBoundary, part);
    } else {
      out.Line(); // ends the header block
    }
    WriteQuotedPrintable(out, part.text.bytes);
  }
  if (nested) {
    out.Line();
    out.Line("--" + partBoundary + "--");
  }

  for (int index = 0; index < attachmentCount; ++index) {
    const TMSGProperty* node = level.GetAttachment(index);
    if (node == nullptr || node->IsEmbeddedMessage())
      continue;
    out.Line();
    out.Line(std::string("--") + kEmlBoundary);
    out.Line("Content-Type: " + MimeTypeOf(*node) + "; name=" +
             convert.Parameter(WithoutControls(SystemToWide(node->GetAttachmentName(index)))));
    const std::u16string contentId =
        node->SubProperties().GetPropertyText(TAG_ATTACH_CONTENT_ID, true, false);
    if (!contentId.empty()) {
      out.Line("Content-ID: <" + convert.Header(WithoutControls(contentId)) + ">");
    }
    out.Line("Content-Disposition: attachment; filename=" +
             convert.Parameter(WithoutControls(SystemToWide(node->GetAttachmentFileName(index)))));
    out.Line("Content-Transfer-Encoding: base64");
    out.Line();
    Base64Sink data(out);
    level.SaveAttachmentToStream(index, data);
    if (data.Complete())
      out.Line();
    out.Line();
  }
  if (multipart)
    out.Line(std::string("--") + kEmlBoundary + "--");
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
