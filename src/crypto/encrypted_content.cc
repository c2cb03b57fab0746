#include "crypto/encrypted_content.h"

#include <set>

#include "crypto/cms_envelope.h"
#include "crypto/pgp_mime.h"
#include "mime/qvemlfile.h"
#include "model/qvmsg.h"
#include "model/stream.h"

namespace orlendo {

namespace {

constexpr uint32_t TAG_ATTACH_LONG_FILENAME_ID = 0x37070000;
constexpr uint32_t TAG_ATTACH_FILENAME_ID = 0x37040000;
constexpr uint32_t TAG_ATTACH_MIME_TAG_ID = 0x370E0000;

std::string LowerAscii(const std::u16string& text) {
  std::string out;
  for (char16_t c : text)
    out += c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) : '?';
  return out;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::string* AttachmentData(const TMSGProperty& node) {
  const TMSGProperty* data = node.SubProperties().FindProperty(TAG_ATTACH_DATA_BIN, false, false);
  return data != nullptr ? &data->Value.Bytes() : nullptr;
}

bool IsPgpMessage(const std::string& data) {
  size_t start = data.find_first_not_of(" \t\r\n");
  return start != std::string::npos && data.compare(start, 27, "-----BEGIN PGP MESSAGE-----") == 0;
}

} // namespace

TEncryptedContent FindEncryptedContent(const TMSGProperties& level) {
  TEncryptedContent found;
  bool pgpControl = false;
  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr)
      continue;
    const TMSGProperties& sub = node->SubProperties();
    const std::string mimeTag =
        LowerAscii(sub.GetPropertyText(TAG_ATTACH_MIME_TAG_ID, true, false));
    std::string name = LowerAscii(sub.GetPropertyText(TAG_ATTACH_LONG_FILENAME_ID, true, false));
    if (name.empty())
      name = LowerAscii(sub.GetPropertyText(TAG_ATTACH_FILENAME_ID, true, false));
    if (mimeTag.rfind("application/pgp-encrypted", 0) == 0)
      pgpControl = true;
    const std::string* data = AttachmentData(*node);
    if (data == nullptr || data->empty())
      continue;
    if (mimeTag.find("pkcs7-mime") != std::string::npos || EndsWith(name, ".p7m")) {
      TCmsEnvelope envelope = ReadCmsEnvelope(*data);
      if (!envelope.Ok)
        continue;
      found.Kind = TEncryptedContent::TKind::Cms;
      found.Data = *data;
      for (const TCmsRecipient& r : envelope.Recipients)
        found.Recipients.push_back({r.Issuer, r.Serial.empty() ? r.SubjectKeyId : r.Serial});
      return found;
    }
    // The data part of a multipart/encrypted follows its control part.
    if (pgpControl && IsPgpMessage(*data)) {
      found.Kind = TEncryptedContent::TKind::OpenPgp;
      found.Data = *data;
      for (const TPgpRecipient& r : PgpRecipients(*data))
        found.Recipients.push_back({r.UserId, r.KeyId});
      return found;
    }
  }
  return found;
}

std::unique_ptr<TQvEMLFile> ReadDecryptedMessage(std::string content, const TMSGProperties& outer) {
  auto message = std::make_unique<TQvEMLFile>();
  TMemoryStream stream(std::move(content));
  message->LoadFromStream(stream);
  // The clear text need not stay in this copy once it is read.
  std::string& held = stream.MutableData();
  std::fill(held.begin(), held.end(), '\0');

  TMSGProperties& inner = message->Properties();
  std::set<uint16_t> own;
  for (int i = 0; i < inner.Count(); ++i)
    own.insert(PropId(inner.Items(i)->TagID));
  // The encrypted content's own attachments and bodies replace the outer ones.
  for (uint32_t skip : {TAG_ATTACHMENT_NODE, 0x10000000u, 0x10130000u, 0x10090000u})
    own.insert(PropId(skip));
  for (int i = 0; i < outer.Count(); ++i) {
    const TMSGProperty* record = outer.Items(i);
    if (own.count(PropId(record->TagID)))
      continue;
    inner.Add()->Assign(*record);
  }
  return message;
}

} // namespace orlendo
