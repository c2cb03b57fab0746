#include "mime/signed_content.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "mime/inner_content.h"
#include "mime/mime_headers.h"
#include "mime/mime_lines.h"
#include "mime/qvemlfile.h"
#include "mime/smime_cms.h"
#include "model/stream.h"
#include "text/base64.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr uint16_t PID_RTF_COMPRESSED = 0x1009;
constexpr uint16_t PID_BODY_HTML = 0x1013;
constexpr uint16_t PID_ATTACH_DATA = 0x3701;
constexpr uint32_t TAG_ATTACH_DATA_BIN = 0x37010102;
constexpr uint32_t TAG_ATTACH_MIME_TAG = 0x370E0000;
constexpr uint32_t TAG_ATTACH_FILENAME = 0x37040000;
constexpr uint32_t TAG_ATTACH_LONG_FILENAME = 0x37070000;
constexpr uint32_t TAG_ATTACHMENT_HIDDEN = 0x7FFE000B;
constexpr uint32_t TAG_BODY_HTML_W = 0x1013001F;

// How deep the unpacking of signed content is on this thread: the content is read by a reader
// that unpacks its own signed attachments in turn.
thread_local int unpackDepth = 0;

TMSGProperty* AttachmentData(const TMSGProperty& node) {
  const TMSGProperties& sub = node.SubProperties();
  for (int i = 0; i < sub.Count(); ++i) {
    TMSGProperty* r = sub.Items(i);
    if (r->TagID == TAG_ATTACH_DATA_BIN && r->Value.IsBytes())
      return r;
  }
  return nullptr;
}

std::string LowerText(const TMSGProperties& sub, uint32_t tag) {
  return AsciiLower(WideToSystem(sub.GetPropertyText(tag, true, false)));
}

} // namespace

std::string CanonicalLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

// The header block of entity read into lines (unfolded), and where its body begins.
std::vector<std::string> HeaderLines(std::string_view entity, size_t* bodyStart) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < entity.size()) {
    size_t end = entity.find_first_of("\r\n", pos);
    if (end == std::string_view::npos)
      end = entity.size();
    const std::string_view line = entity.substr(pos, end - pos);
    size_t next = end;
    if (next < entity.size() && entity[next] == '\r')
      ++next;
    if (next < entity.size() && entity[next] == '\n')
      ++next;
    if (line.empty()) {
      pos = next;
      break;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !out.empty())
      out.back() += std::string("\r\n") + std::string(line);
    else
      out.emplace_back(line);
    pos = next;
  }
  if (bodyStart != nullptr)
    *bodyStart = std::min(pos, entity.size());
  return out;
}

std::string Unfolded(std::string_view line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' || line[i] == '\n') {
      if (!out.empty() && out.back() != ' ')
        out += ' ';
      while (i + 1 < line.size() && (line[i + 1] == '\r' || line[i + 1] == '\n' ||
                                     line[i + 1] == ' ' || line[i + 1] == '\t'))
        ++i;
      continue;
    }
    out += line[i];
  }
  return out;
}

// The value of the first header of lines named name ("CONTENT-TYPE:"), unfolded.
std::string HeaderOf(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (MatchesHeaderName(line, name))
      return Unfolded(HeaderValue(line, name));
  }
  return {};
}

bool IsDelimiter(std::string_view line, std::string_view boundary, bool closing) {
  // Trailing blanks after a delimiter are allowed (RFC 2046, 5.1.1).
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  if (line.size() < 2 + boundary.size() || line.substr(0, 2) != "--" ||
      line.substr(2, boundary.size()) != boundary)
    return false;
  const std::string_view rest = line.substr(2 + boundary.size());
  return closing ? rest == "--" : rest.empty();
}

// The inner message of an unpacked entity: its content read by the Internet message reader.
std::unique_ptr<TQvEMLFile> ReadContent(std::string content) {
  auto inner = std::make_unique<TQvEMLFile>();
  TMemoryStream stream(std::move(content));
  ++unpackDepth;
  try {
    inner->LoadFromStream(stream);
  } catch (...) {
    --unpackDepth;
    return nullptr;
  }
  --unpackDepth;
  return inner;
}

// Fills level from the inner message: bodies where level has none of their kind, the inner
// attachments (the signature aside) as attachment nodes of level.
void MergeContent(TMSGProperties& level, const TMSGProperties& inner) {
  const bool outerRich = DirectProperty(level, PID_RTF_COMPRESSED) != nullptr ||
                         DirectProperty(level, PID_BODY_HTML) != nullptr;
  if (!outerRich) {
    std::u16string html = inner.GetBodyHTML();
    if (!html.empty()) {
      TMSGProperty* copy = level.Add();
      copy->TagID = TAG_BODY_HTML_W;
      copy->DataSize = RecordSize(html.size() * 2);
      copy->Value = TVariant::FromWide(std::move(html));
      level.BodyFormat = 3;
    } else if (const TMSGProperty* rtf = DirectProperty(inner, PID_RTF_COMPRESSED);
               rtf != nullptr && rtf->Value.IsString()) {
      TMSGProperty* copy = level.Add();
      copy->TagID = rtf->TagID;
      copy->Value = rtf->Value;
      copy->DataSize = rtf->DataSize;
      level.BodyFormat = 2;
    }
  }
  AddPlainBodyWhereMissing(level, inner);
  const int count = inner.AttachmentCount();
  const TMSGProperty* last = nullptr;
  for (int i = 0; i < count; ++i) {
    const TMSGProperty* node = inner.GetAttachment(i);
    if (node == nullptr || node == last)
      continue;
    last = node;
    const TMSGProperties& sub = node->SubProperties();
    if (const TMSGProperty* hidden = sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, false);
        hidden != nullptr && hidden->Value.ToInt64() != 0)
      continue; // the signature, which stays in the signed entity
    TMSGProperty* copy = level.Add();
    copy->TagID = TAG_ATTACHMENT_NODE;
    for (int j = 0; j < sub.Count(); ++j) {
      const TMSGProperty* r = sub.Items(j);
      // The outer level is no MIME tree: the copies are plain attachments of it.
      if (r->TagID == TQvEMLFile::TAG_MIME_PART_DEPTH)
        continue;
      copy->SubProperties().Add()->Assign(*r);
    }
    copy->SubProperties().AddProperty(TAG_UNPACKED_ATTACHMENT, TVariant::FromBoolean(true));
  }
}

enum class SignedKind { None, Clear, Opaque };

SignedKind KindOf(const TMSGProperty& node, const std::string& data) {
  const TMSGProperties& sub = node.SubProperties();
  const std::string type = LowerText(sub, TAG_ATTACH_MIME_TAG);
  if (type.find("multipart/signed") != std::string::npos &&
      EntityContentType(data) == "multipart/signed")
    return SignedKind::Clear;
  std::string name = LowerText(sub, TAG_ATTACH_LONG_FILENAME);
  if (name.empty())
    name = LowerText(sub, TAG_ATTACH_FILENAME);
  const bool p7m = type.find("pkcs7-mime") != std::string::npos ||
                   (name.size() >= 4 && name.compare(name.size() - 4, 4, ".p7m") == 0);
  if (p7m && !data.empty() && static_cast<unsigned char>(data[0]) == 0x30)
    return SignedKind::Opaque;
  return SignedKind::None;
}

void ExpandOne(TMSGProperties& level, TMSGProperty& node, TMSGProperty& data, SignedKind kind) {
  std::string content;
  if (kind == SignedKind::Clear) {
    TSignedParts parts;
    if (!SplitMultipartSigned(data.Value.Bytes(), parts))
      return;
    content = std::move(parts.Content);
  } else if (!ExtractSignedContent(data.Value.Bytes(), content)) {
    return; // encrypted, or no CMS at all: the attachment stays as it is
  }
  std::unique_ptr<TQvEMLFile> inner = ReadContent(std::move(content));
  if (inner == nullptr)
    return;
  MergeContent(level, inner->Properties());
  TMSGProperties& sub = node.SubProperties();
  if (sub.FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false, false) != nullptr) {
    // A part of an Internet message's tree keeps its bytes where the writers find them, hidden
    // from the list of files like a signature.
    if (TMSGProperty* hidden = sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, false))
      hidden->Value = TVariant::FromBoolean(true);
    else
      sub.AddProperty(TAG_ATTACHMENT_HIDDEN, TVariant::FromBoolean(true));
    return;
  }
  std::unique_ptr<TMSGProperty> moved = sub.Release(data.Index());
  TMSGProperty* holder = sub.Add();
  holder->Value = TVariant::FromWide(kSignedHolderName);
  TMSGProperty* bytes = holder->SubProperties().Add();
  bytes->TagID = moved->TagID;
  bytes->DataSize = moved->DataSize;
  bytes->Value = std::move(moved->Value);
}

// The signed bytes that ExpandSignedContent kept of node; with treeParts also those of a part of
// an Internet message's tree, which stay in place.
const TMSGProperty* HolderData(const TMSGProperty& node, bool treeParts) {
  const TMSGProperties& sub = node.SubProperties();
  if (const TMSGProperty* hidden =
          treeParts ? sub.FindProperty(TAG_ATTACHMENT_HIDDEN, false, false) : nullptr;
      hidden != nullptr && hidden->Value.ToInt64() != 0 &&
      sub.FindProperty(TQvEMLFile::TAG_MIME_PART_DEPTH, false, false) != nullptr) {
    const TMSGProperty* data = AttachmentData(node);
    if (data != nullptr && KindOf(node, data->Value.Bytes()) != SignedKind::None)
      return data;
  }
  for (int i = 0; i < sub.Count(); ++i) {
    const TMSGProperty* r = sub.Items(i);
    if (!IsSignedHolder(*r))
      continue;
    const TMSGProperties& held = r->SubProperties();
    for (int j = 0; j < held.Count(); ++j) {
      if (PropId(held.Items(j)->TagID) == PID_ATTACH_DATA && held.Items(j)->Value.IsBytes())
        return held.Items(j);
    }
  }
  return nullptr;
}

void AddEntity(std::vector<TSignedEntity>& out, const std::string& bytes) {
  TSignedEntity entity;
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x30) {
    entity.Opaque = true;
  } else {
    std::string protocol;
    if (EntityContentType(bytes, &protocol) != "multipart/signed")
      return;
    entity.Protocol = ProtocolOfSignature(protocol);
  }
  entity.Bytes = bytes;
  out.push_back(std::move(entity));
}

} // namespace

TSignatureProtocol ProtocolOfSignature(std::string_view protocol) {
  return protocol.find("pgp") != std::string_view::npos ? TSignatureProtocol::OpenPgp
                                                        : TSignatureProtocol::Smime;
}

std::string EntityContentType(std::string_view entity, std::string* protocol) {
  const std::string value = HeaderOf(HeaderLines(entity, nullptr), "CONTENT-TYPE:");
  const std::string lower = AsciiLower(value);
  if (protocol != nullptr) {
    std::string param;
    FindParameter(value, lower, "protocol=", param);
    *protocol = AsciiLower(TrimBlanks(param));
  }
  return std::string(TrimBlanks(std::string_view(lower).substr(0, lower.find(';'))));
}

std::vector<std::string> EntityContentHeaders(std::string_view entity) {
  std::vector<std::string> out;
  for (std::string& line : HeaderLines(entity, nullptr)) {
    if (AsciiLower(line.substr(0, 8)) == "content-")
      out.push_back(std::move(line));
  }
  return out;
}

std::string_view EntityBody(std::string_view entity) {
  size_t start = 0;
  HeaderLines(entity, &start);
  return entity.substr(start);
}

bool SplitMultipartSigned(std::string_view entity, TSignedParts& parts) {
  size_t bodyStart = 0;
  const std::vector<std::string> headers = HeaderLines(entity, &bodyStart);
  const std::string value = HeaderOf(headers, "CONTENT-TYPE:");
  const std::string lower = AsciiLower(value);
  if (TrimBlanks(std::string_view(lower).substr(0, lower.find(';'))) != "multipart/signed")
    return false;
  std::string boundary;
  if (!FindParameter(value, lower, "boundary=", boundary) || boundary.empty())
    return false;
  std::string protocol;
  FindParameter(value, lower, "protocol=", protocol);
  parts.Protocol = AsciiLower(TrimBlanks(protocol));

  // The body with canonical line ends: a message saved with bare LFs was signed with CR LF.
  const std::string body = CanonicalLineEnds(entity.substr(bodyStart));
  // The delimiters, each at the start of a line: [begin of line, end of line incl. CR LF).
  struct Line {
    size_t begin, end, next;
  };
  std::vector<Line> delimiters;
  size_t closing = std::string::npos;
  for (size_t pos = 0; pos < body.size();) {
    size_t end = body.find("\r\n", pos);
    const size_t next = end == std::string::npos ? body.size() : end + 2;
    if (end == std::string::npos)
      end = body.size();
    const std::string_view line(body.data() + pos, end - pos);
    if (IsDelimiter(line, boundary, true)) {
      closing = pos;
      break;
    }
    if (IsDelimiter(line, boundary, false))
      delimiters.push_back({pos, end, next});
    pos = next;
  }
  if (delimiters.size() < 2)
    return false;
  // The line end before a delimiter belongs to the delimiter.
  const size_t contentBegin = delimiters[0].next;
  const size_t contentEnd = delimiters[1].begin;
  if (contentEnd < contentBegin + 2)
    return false;
  parts.Content = body.substr(contentBegin, contentEnd - 2 - contentBegin);
  const size_t signatureBegin = delimiters[1].next;
  size_t signatureEnd = delimiters.size() > 2          ? delimiters[2].begin
                        : closing != std::string::npos ? closing
                                                       : body.size();
  if (signatureEnd >= signatureBegin + 2 && signatureEnd != body.size())
    signatureEnd -= 2;
  signatureEnd = std::max(signatureEnd, signatureBegin);
  const std::string_view signaturePart(body.data() + signatureBegin, signatureEnd - signatureBegin);
  size_t signatureBody = 0;
  const std::vector<std::string> signatureHeaders = HeaderLines(signaturePart, &signatureBody);
  const std::string encoding =
      AsciiLower(TrimBlanks(HeaderOf(signatureHeaders, "CONTENT-TRANSFER-ENCODING:")));
  const std::string_view text = signaturePart.substr(signatureBody);
  parts.Signature = encoding == "base64" ? DecodeBase64(text) : std::string(text);
  return true;
}

void ExpandSignedContent(TMSGProperties& level) {
  if (unpackDepth >= MAX_SIGNED_DEPTH)
    return;
  try {
    std::vector<std::pair<TMSGProperty*, SignedKind>> signedNodes;
    for (int i = 0; i < level.Count(); ++i) {
      TMSGProperty* node = level.Items(i);
      if (node->TagID != TAG_ATTACHMENT_NODE)
        continue;
      const TMSGProperty* data = AttachmentData(*node);
      if (data == nullptr)
        continue;
      const SignedKind kind = KindOf(*node, data->Value.Bytes());
      if (kind != SignedKind::None)
        signedNodes.emplace_back(node, kind);
    }
    for (const auto& [node, kind] : signedNodes) {
      if (TMSGProperty* data = AttachmentData(*node))
        ExpandOne(level, *node, *data, kind);
    }
  } catch (const std::bad_alloc&) {
    // The message as it was read stays usable.
  }
}

bool IsSignedHolder(const TMSGProperty& record) {
  return record.TagID == 0 && record.Value.IsWide() && record.Value.Wide() == kSignedHolderName;
}

const TMSGProperty* OuterSignedEntity(const TMSGProperties& level) {
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* r = level.Items(i);
    if (r->TagID == TAG_SIGNED_ENTITY && r->Value.IsBytes())
      return r;
  }
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* r = level.Items(i);
    if (r->TagID != TAG_ATTACHMENT_NODE)
      continue;
    if (const TMSGProperty* held = HolderData(*r, false))
      return held;
  }
  return nullptr;
}

std::vector<TSignedEntity> FindSignedEntities(const TMSGProperties& level) {
  std::vector<TSignedEntity> out;
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* r = level.Items(i);
    if (r->TagID == TAG_SIGNED_ENTITY && r->Value.IsBytes()) {
      AddEntity(out, r->Value.Bytes());
      continue;
    }
    if (r->TagID != TAG_ATTACHMENT_NODE)
      continue;
    const TMSGProperties& sub = r->SubProperties();
    if (const TMSGProperty* entity = sub.FindProperty(TAG_SIGNED_ENTITY, false, false);
        entity != nullptr && entity->Value.IsBytes())
      AddEntity(out, entity->Value.Bytes());
    else if (const TMSGProperty* held = HolderData(*r, true))
      AddEntity(out, held->Value.Bytes());
  }
  return out;
}

} // namespace orlendo
