// The typed accessors over one message level: every consumer of message content (preview,
// writers, mail hand-off) asks these, so that a .msg file and an Internet message answer alike.
//
// Each accessor is a fixed chain of sources; the first non-empty text wins. On the root
// collection most chains look at the root level alone, because a recursive search there would
// pick up the subject or sender of an attached message; on an inner level (an embedded message)
// they also search below, where the inner message's own properties live.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "export/message_addresses.h"
#include "export/property_chains.h"
#include "model/qvmsg.h"
#include "msg/ole_package.h"
#include "text/html_entities.h"
#include "text/qvmsgcp.h"
#include "text/rfc822_date.h"

namespace orlendo {

namespace {

// Property ids and exact tags of the chains below.
constexpr uint32_t PR_SUBJECT_W = 0x0037001F;
constexpr uint32_t PR_SUBJECT_A = 0x0037001E;
constexpr uint32_t PR_CONVERSATION_TOPIC_A = 0x0070001E;
constexpr uint32_t PR_BODY_W = 0x1000001F;
constexpr uint32_t PR_BODY_A = 0x1000001E;
constexpr uint32_t PID_BODY_HTML = 0x10130000;
constexpr uint32_t PID_RTF_COMPRESSED = 0x10090000;
constexpr uint32_t PR_TRANSPORT_MESSAGE_HEADERS_A = 0x007D001E;
constexpr uint32_t PR_TRANSPORT_MESSAGE_HEADERS_W = 0x007D001F;
constexpr uint32_t PID_INTERNET_MESSAGE_ID = 0x10350000;
constexpr uint32_t PR_SENDER_EMAIL_ADDRESS_A = 0x0C1F001E;
constexpr uint32_t PR_SENDER_EMAIL_ADDRESS_W = 0x0C1F001F;
constexpr uint32_t PR_SENT_REPRESENTING_EMAIL_ADDRESS_A = 0x0065001E;
constexpr uint32_t PR_SENT_REPRESENTING_EMAIL_ADDRESS_W = 0x0065001F;
constexpr uint32_t PR_RCVD_REPRESENTING_EMAIL_ADDRESS_A = 0x0078001E;
constexpr uint32_t PR_RCVD_REPRESENTING_EMAIL_ADDRESS_W = 0x0078001F;
constexpr uint32_t PR_EMAIL_ADDRESS_A = 0x3003001E;
constexpr uint32_t PR_EMAIL_ADDRESS_W = 0x3003001F;
constexpr uint32_t PID_DISPLAY_NAME = 0x30010000;
constexpr uint32_t PID_SMTP_ADDRESS = 0x39FE0000;
constexpr uint32_t PID_ORG_EMAIL_ADDRESS = 0x403E0000;
constexpr uint32_t PID_EMAIL_ADDRESS = 0x30030000;
constexpr uint32_t PR_PRIORITY = 0x00260003;
constexpr uint32_t PR_IMPORTANCE = 0x00170003;
constexpr uint32_t PR_MESSAGE_CODEPAGE = 0x3FFD0003;
constexpr uint32_t PR_INTERNET_CPID = 0x3FDE0003;
constexpr uint32_t PID_ATTACH_DATA = 0x37010000;

// The date properties that stand in for a missing or unreadable "Date:" header, in the order in
// which they describe the sending best.
constexpr uint32_t kSentDateTags[] = {
    0x00390040, // CLIENT_SUBMIT_TIME
    0x004E0040, // ORIGINAL_SUBMIT_TIME
    0x0E060040, // MESSAGE_DELIVERY_TIME
    0x00550040, // ORIGINAL_DELIVERY_TIME
    0x00480040, // PROVIDER_SUBMIT_TIME
    0x30080040, // LAST_MODIFICATION_TIME
    0x30070040, // CREATION_TIME
    0x000F0040, // DEFERRED_DELIVERY_TIME
};

std::string TrimBytes(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ')
    ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ')
    --end;
  return s.substr(begin, end - begin);
}

// The value of the first "Date:" line of a header block, trimmed; empty when there is none.
std::string HeaderDateText(std::string_view headers) {
  size_t pos = 0;
  while (pos < headers.size()) {
    const size_t end = HeaderLineEnd(headers, pos);
    if (end - pos >= 5 && headers.compare(pos, 5, "Date:") == 0)
      return TrimBytes(std::string(headers.substr(pos + 5, end - pos - 5)));
    pos = end;
    if (pos < headers.size() && headers[pos] == '\r')
      ++pos;
    if (pos < headers.size() && headers[pos] == '\n')
      ++pos;
  }
  return {};
}

// A numeric variant as an integer the way a code page is meant: rounded to nearest.
int NumberToInt(const TVariant& value) {
  double d = value.ToDouble();
  if (!std::isfinite(d))
    return 0;
  d = std::nearbyint(d);
  if (d <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  if (d >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  return static_cast<int>(d);
}

// The first record of the tags, in chain order, that the message of level holds itself; only
// when it holds none of them, the first found below it (an Internet message keeps the charset of
// its text in its parts). A property of an attached message never answers for the message that
// carries it.
const TMSGProperty* FindOwnFirst(const TMSGProperties& level,
                                 std::initializer_list<uint32_t> tags) {
  for (const uint32_t tag : tags) {
    if (const TMSGProperty* record = level.FindOwnProperty(tag))
      return record;
  }
  for (const uint32_t tag : tags) {
    if (const TMSGProperty* record = level.FindProperty(tag, false, true))
      return record;
  }
  return nullptr;
}

} // namespace

std::u16string QuoteDisplayName(const std::u16string& name) {
  if (name.find_first_of(u" .,:") != std::u16string::npos)
    return u"\"" + name + u"\"";
  return name;
}

std::u16string TMSGProperties::GetSubject() const {
  return FirstText(*this, {PR_SUBJECT_W, PR_SUBJECT_A, PR_CONVERSATION_TOPIC_A}, !IsRoot());
}

std::u16string TMSGProperties::GetBody() const {
  return FirstText(*this, {PR_BODY_W, PR_BODY_A}, !IsRoot());
}

std::u16string TMSGProperties::GetBodyHTML() const {
  const TMSGProperty* record = FindProperty(PID_BODY_HTML, true, !IsRoot());
  if (record == nullptr)
    return {};
  // A binary HTML body holds the bytes in which the message travelled, that is in its Internet
  // code page, which may differ from the code page of its 8-bit strings (a message saved with
  // MESSAGE_CODEPAGE 1252 and INTERNET_CPID 65001 carries UTF-8 HTML).
  if (PropType(record->TagID) == 0x0102 && record->Value.IsBytes() &&
      record->Collection() != nullptr) {
    const TMSGProperties& level = record->Collection()->MessageLevel();
    const TMSGProperty* cpid = level.FindProperty(PR_INTERNET_CPID, false, true);
    if (cpid == nullptr)
      cpid = level.Root().FindProperty(PR_INTERNET_CPID, false, true);
    int codePage =
        cpid != nullptr && cpid->Value.Kind() == VarKind::Integer ? cpid->Value.AsInteger() : 0;
    if (codePage == 65001)
      return DecodeStoredText(record->Value.Bytes(), codePage);
    if (codePage > 0 && IcuConverterName(static_cast<unsigned>(codePage)) != nullptr)
      return CodePageToWide(record->Value.Bytes(), static_cast<unsigned>(codePage));
  }
  return record->GetValueText();
}

std::u16string TMSGProperties::GetBodyRTF() const {
  std::u16string rtf = GetPropertyText(PID_RTF_COMPRESSED, true, !IsRoot());
  if (rtf.find(u"&#") != std::u16string::npos)
    DecodeHtmlEntities(rtf);
  return rtf;
}

std::string TMSGProperties::GetBodyRTFBytes() const {
  const TMSGProperty* record = FindProperty(PID_RTF_COMPRESSED, true, !IsRoot());
  if (record == nullptr)
    return {};
  if (record->Value.IsBytes())
    return record->Value.Bytes();
  return WideToSystem(GetBodyRTF());
}

std::u16string TMSGProperties::GetTransportHeaders() const {
  return FirstText(*this, {PR_TRANSPORT_MESSAGE_HEADERS_A, PR_TRANSPORT_MESSAGE_HEADERS_W},
                   !IsRoot());
}

std::u16string TMSGProperties::GetMessageID() const {
  return GetPropertyText(PID_INTERNET_MESSAGE_ID, true, !IsRoot());
}

std::u16string TMSGProperties::GetSenderEmail() const {
  return FirstText(*this,
                   {PR_SENDER_EMAIL_ADDRESS_A, PR_SENDER_EMAIL_ADDRESS_W,
                    PR_SENT_REPRESENTING_EMAIL_ADDRESS_A, PR_SENT_REPRESENTING_EMAIL_ADDRESS_W},
                   !IsRoot());
}

std::u16string TMSGProperties::GetRecipientEmail() const {
  std::u16string address =
      FirstText(*this, {PR_RCVD_REPRESENTING_EMAIL_ADDRESS_A, PR_RCVD_REPRESENTING_EMAIL_ADDRESS_W},
                !IsRoot());
  if (!address.empty())
    return address;
  return FirstText(*this, {PR_EMAIL_ADDRESS_A, PR_EMAIL_ADDRESS_W}, true);
}

// The people of the message come from the recipient table and the sender's properties, with
// the SMTP addresses that the message holds for them (message_addresses.h): a display list
// names people by display name only, and an Exchange message by X.500 names that no mail
// program outside the organisation can use.
std::u16string TMSGProperties::GetFrom() const {
  return FormatMailAddress(GetSenderAddress(*this));
}

std::u16string TMSGProperties::GetTo() const {
  return FormatMailAddressList(GetRecipientAddresses(*this, TRecipientKind::To));
}

std::u16string TMSGProperties::GetCc() const {
  return FormatMailAddressList(GetRecipientAddresses(*this, TRecipientKind::Cc));
}

std::u16string TMSGProperties::GetBcc() const {
  return FormatMailAddressList(GetRecipientAddresses(*this, TRecipientKind::Bcc));
}

std::u16string TMSGProperties::FormatRecipient(const std::u16string& name) const {
  // An empty slot of a display list names nobody; matching it against recipients without a
  // display name would attach a stranger's address to it.
  if (name.empty())
    return name;
  for (int i = 0; i < Count(); ++i) {
    const TMSGProperty* item = Items(i);
    if (item->Category() != mpcRecipient)
      continue;
    const TMSGProperties& recipient = item->SubProperties();
    if (recipient.GetPropertyText(PID_DISPLAY_NAME, true, false) != name)
      continue;
    std::u16string address = recipient.GetPropertyText(PID_SMTP_ADDRESS, true, false);
    if (address.empty())
      address = recipient.GetPropertyText(PID_ORG_EMAIL_ADDRESS, true, false);
    if (address.empty())
      address = recipient.GetPropertyText(PID_EMAIL_ADDRESS, true, false);
    if (address.empty() || address == name)
      continue;
    return QuoteDisplayName(name) + u" <" + address + u">";
  }
  return name;
}

std::u16string TMSGProperties::FormatRecipientList(const std::u16string& list) const {
  std::u16string result;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find(u';', pos);
    if (end == std::u16string::npos)
      end = list.size();
    std::u16string formatted = FormatRecipient(TrimName(list.substr(pos, end - pos)));
    if (!formatted.empty()) {
      if (!result.empty())
        result += u';';
      result += formatted;
    }
    pos = end + 1;
  }
  return result;
}

TDateTime TMSGProperties::GetSentDate() const {
  std::string storage;
  std::string_view headers = TransportHeaderView(*this, storage);
  while (!headers.empty() && static_cast<unsigned char>(headers.front()) <= ' ')
    headers.remove_prefix(1);
  if (!headers.empty()) {
    std::string dateText = HeaderDateText(headers);
    if (!dateText.empty()) {
      // A received message may carry any "Date:" text; an impossible date (31 February,
      // hour 25) is no date, and must not make the message unreadable.
      TDateTime parsed = 0;
      if (TryParseRfc822Date(dateText, parsed) && parsed != 0)
        return parsed;
    }
  }
  for (const bool ownLevel : {true, false}) {
    for (uint32_t tag : kSentDateTags) {
      if (const TMSGProperty* record =
              ownLevel ? FindOwnProperty(tag) : FindProperty(tag, false, true))
        return record->Value.ToDouble();
    }
  }
  return 0;
}

uint8_t TMSGProperties::GetPriority() const {
  // The message's own PRIORITY or IMPORTANCE first; one of an attached message only when it
  // has neither.
  const TMSGProperty* record = FindOwnFirst(*this, {PR_PRIORITY, PR_IMPORTANCE});
  if (record == nullptr)
    return 2;
  if (record->TagID == PR_PRIORITY)
    return static_cast<uint8_t>(record->Value.ToInt64() + 2);
  // IMPORTANCE counts from 0 (low) over 1 (normal, the value of almost every message) to 2
  // (high), where PRIORITY counts from -1: the same three levels.
  return static_cast<uint8_t>(record->Value.ToInt64() + 1);
}

int TMSGProperties::GetCodePage() const {
  const TMSGProperty* record = FindOwnFirst(*this, {PR_MESSAGE_CODEPAGE, PR_INTERNET_CPID});
  if (record != nullptr) {
    switch (record->Value.Kind()) {
    case VarKind::Integer:
    case VarKind::Floating:
    case VarKind::Currency:
      return NumberToInt(record->Value);
    default:
      return 0;
    }
  }
  if (!IsRoot())
    return Root().GetCodePage();
  return 0;
}

std::string TMSGProperties::GetCharset() const {
  int codePage = GetCodePage();
  if (const TMsgCodePageData* row = FindCodePage(codePage))
    return row->Name;
  return "windows-" + std::to_string(codePage);
}

void TMSGProperties::SaveAttachmentToStream(int index, TStream& stream) const {
  const TMSGProperty* node = GetAttachment(index);
  if (node == nullptr)
    return;
  const TMSGProperties& attachment = node->SubProperties();
  const TMSGProperty* data = attachment.FindProperty(PID_ATTACH_DATA, true, !attachment.IsRoot());
  if (data == nullptr || data->DataSize <= 0)
    return;
  std::string converted;
  const std::string* bytes = &data->Value.Bytes();
  if (!data->Value.IsBytes()) {
    converted = WideToSystem(data->Value.ToWide());
    bytes = &converted;
  }
  // DataSize is the stored size; never write past the bytes that are really held.
  size_t size = std::min(static_cast<size_t>(data->DataSize), bytes->size());
  // A file packed into an OLE object is, to whoever opens the attachment, that file: the
  // compound file around it is of use to no program but the one that packed it.
  if (PropType(data->TagID) == 0x000D) {
    TOlePackage package;
    if (ReadOlePackage(bytes->substr(0, size), package)) {
      stream.WriteBuffer(package.Data.data(), package.Data.size());
      return;
    }
  }
  stream.WriteBuffer(bytes->data(), size);
}

void TMSGProperties::SaveAttachmentToFile(int index, const std::string& fileName) const {
  TFileStream file(fileName, TFileStream::Create);
  SaveAttachmentToStream(index, file);
  file.Close();
}

} // namespace orlendo
