#include "export/message_addresses.h"

#include <cstring>

#include <initializer_list>

#include "export/property_chains.h"
#include "mime/rfc2047.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr uint32_t PR_SENT_REPRESENTING_NAME_A = 0x0042001E;
constexpr uint32_t PR_SENT_REPRESENTING_NAME_W = 0x0042001F;
constexpr uint32_t PR_SENDER_NAME_A = 0x0C1A001E;
constexpr uint32_t PR_SENDER_NAME_W = 0x0C1A001F;
constexpr uint32_t PID_SENDER_SMTP_ADDRESS = 0x5D010000;
constexpr uint32_t PID_SENT_REPRESENTING_SMTP_ADDRESS = 0x5D020000;
constexpr uint32_t PID_CREATOR_NAME = 0x3FF80000;
constexpr uint32_t PID_LAST_MODIFIER_NAME = 0x3FFA0000;
constexpr uint32_t PID_CREATOR_SMTP_ADDRESS = 0x5D0A0000;
constexpr uint32_t PID_LAST_MODIFIER_SMTP_ADDRESS = 0x5D0B0000;
constexpr uint32_t PID_DISPLAY_NAME = 0x30010000;
constexpr uint32_t PID_EMAIL_ADDRESS = 0x30030000;
constexpr uint32_t PID_SMTP_ADDRESS = 0x39FE0000;
constexpr uint32_t PID_ORG_EMAIL_ADDRESS = 0x403E0000;
constexpr uint32_t PR_RECIPIENT_TYPE = 0x0C150003;

// The display lists of each kind, in the order the accessors have always read them.
constexpr std::initializer_list<uint32_t> kToLists = {0x0E04001E, 0x0E04001F, 0x0044001E,
                                                      0x0044001F};
constexpr std::initializer_list<uint32_t> kCcLists = {0x0073001E, 0x0073001F, 0x0E03001E,
                                                      0x0E03001F};
constexpr std::initializer_list<uint32_t> kBccLists = {0x0072001E, 0x0072001F, 0x0E02001E,
                                                       0x0E02001F};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char16_t LowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i]))
      return false;
  }
  return true;
}

// Names as people write them: letter case, blanks around and the quotes that some programs put
// around a display name do not make another person. NameKey is the part of the name that
// counts; SameName compares two names by it.
std::u16string_view NameKey(std::u16string_view name) {
  std::u16string_view key = TrimmedName(name);
  while (key.size() >= 2 && (key.front() == u'"' || key.front() == u'\'') &&
         key.back() == key.front())
    key = TrimmedName(key.substr(1, key.size() - 2));
  return key;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return SameText(NameKey(a), NameKey(b));
}

// A name that only repeats the address adds nothing to it.
TMailAddress Person(std::u16string name, std::u16string address) {
  TrimNameInPlace(name);
  TrimNameInPlace(address);
  if (!address.empty() && SameName(name, address))
    name.clear();
  return {std::move(name), std::move(address)};
}

// The address of text when it is an Internet address, else empty.
std::u16string InternetAddressOr(std::u16string text) {
  TrimNameInPlace(text);
  return IsInternetAddress(text) ? text : std::u16string();
}

// The mailboxes that the transport headers give, with the From field first: the place to look up
// the SMTP address of a person whom the message names by an Exchange address only.
class HeaderAddresses {
public:
  explicit HeaderAddresses(const TMSGProperties& level)
      : headers_(TransportHeaderView(level, storage_)) {}
  HeaderAddresses(const HeaderAddresses&) = delete;
  HeaderAddresses& operator=(const HeaderAddresses&) = delete;

  bool Has(std::string_view field) const { return !HeaderFieldValue(headers_, field).empty(); }
  TMailAddressList Field(std::string_view field) const {
    return ParseAddressList(HeaderFieldValue(headers_, field));
  }
  // The address that the headers give a person of this name, or empty.
  std::u16string AddressOf(const std::u16string& name) {
    if (headers_.empty() || NameKey(name).empty())
      return {};
    if (!parsed_) {
      for (const char* field : {"From", "To", "Cc", "Bcc"}) {
        for (TMailAddress& a : Field(field))
          all_.push_back(std::move(a));
      }
      parsed_ = true;
    }
    const std::u16string_view key = NameKey(name);
    for (const TMailAddress& a : all_) {
      if (!a.Address.empty() && SameText(NameKey(a.Name), key))
        return a.Address;
    }
    return {};
  }

private:
  // The level's record, or the text made of it (declared first: headers_ may view it).
  std::string storage_;
  std::string_view headers_;
  bool parsed_ = false;
  TMailAddressList all_;
};

bool IsRecipientNode(const TMSGProperty& item) {
  return item.TagID == TAG_RECIPIENT_NODE;
}

// The Internet address of a recipient level: its SMTP address, else its address or organisation
// address when that is an Internet address.
std::u16string RecipientSmtp(const TMSGProperties& recipient) {
  for (uint32_t id : {PID_SMTP_ADDRESS, PID_EMAIL_ADDRESS, PID_ORG_EMAIL_ADDRESS}) {
    std::u16string address = InternetAddressOr(recipient.GetPropertyText(id, true, false));
    if (!address.empty())
      return address;
  }
  return {};
}

TMailAddress RecipientAddress(const TMSGProperties& recipient, HeaderAddresses& headers) {
  const std::u16string name = recipient.GetPropertyText(PID_DISPLAY_NAME, true, false);
  std::u16string address = RecipientSmtp(recipient);
  if (address.empty())
    address = headers.AddressOf(name);
  return Person(name, address);
}

// The collapsed, decoded text of a display name as written in a header: quoted strings
// unescaped, runs of white space as one blank, encoded words decoded.
std::u16string DecodePhrase(std::string_view raw) {
  std::string text;
  bool blank = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '"') {
      for (++i; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size())
          ++i;
        if (raw[i] != '\r' && raw[i] != '\n')
          text += raw[i];
      }
      blank = false;
    } else if (IsBlank(c)) {
      blank = true;
    } else {
      if (blank && !text.empty())
        text += ' ';
      blank = false;
      text += c;
    }
  }
  return TrimName(DecodeEncodedWords(text, nullptr, nullptr));
}

// The text without white space outside quoted strings: an address that a folded line split.
std::string WithoutBlanks(std::string_view raw) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '"')
      quoted = !quoted;
    if (!quoted && IsBlank(raw[i]))
      continue;
    out += raw[i];
  }
  return out;
}

TMailAddressList FromDisplayList(const TMSGProperties& level, std::u16string list,
                                 HeaderAddresses& headers, bool deleteFirstNul) {
  if (const size_t nul = list.find(u'\0'); deleteFirstNul && nul != std::u16string::npos)
    list.erase(nul, 1);
  TMailAddressList out;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find(u';', pos);
    if (end == std::u16string::npos)
      end = list.size();
    const std::u16string name = TrimName(std::u16string_view(list).substr(pos, end - pos));
    pos = end + 1;
    if (name.empty())
      continue;
    std::u16string address;
    for (int i = 0; i < level.Count() && address.empty(); ++i) {
      const TMSGProperty* item = level.Items(i);
      if (IsRecipientNode(*item) &&
          item->SubProperties().GetPropertyText(PID_DISPLAY_NAME, true, false) == name)
        address = RecipientSmtp(item->SubProperties());
    }
    if (address.empty())
      address = IsInternetAddress(name) ? name : headers.AddressOf(name);
    out.push_back(Person(name, address));
  }
  return out;
}

} // namespace

bool IsInternetAddress(std::u16string_view address) {
  const size_t at = address.rfind(u'@');
  if (at == std::u16string_view::npos || at == 0 || at + 1 >= address.size())
    return false;
  for (const char16_t c : address) {
    if (c <= u' ' || c == 0x7F)
      return false;
    switch (c) {
    case u'<':
    case u'>':
    case u'(':
    case u')':
    case u'[':
    case u']':
    case u',':
    case u';':
    case u':':
    case u'"':
    case u'\\':
      return false;
    default:
      break;
    }
  }
  return address.substr(at + 1).find(u'@') == std::u16string_view::npos && address.front() != u'/';
}

std::string_view TransportHeaderView(const TMSGProperties& level, std::string& storage) {
  for (const uint32_t tag : {0x007D001Eu, 0x007D001Fu}) {
    const TMSGProperty* record = level.FindProperty(tag, false, !level.IsRoot());
    if (record == nullptr)
      continue;
    // Headers of megabytes are not decoded and encoded again for the same bytes.
    if (record->TextIsBytesAsUtf8())
      return record->Value.Bytes();
    if (record->Value.IsBytes()) {
      const std::string& bytes = record->Value.Bytes();
      if (bytes.find('\0') == std::string::npos && IsValidUtf8(bytes) &&
          level.GetCodePage() == 65001)
        return bytes;
    }
    storage = WideToSystem(record->GetValueText());
    if (!storage.empty())
      return storage;
  }
  return {};
}

std::string TransportHeaderText(const TMSGProperties& level) {
  std::string storage;
  const std::string_view text = TransportHeaderView(level, storage);
  return text.data() == storage.data() ? std::move(storage) : std::string(text);
}

TMailAddress GetSenderAddress(const TMSGProperties& level) {
  const bool recursive = !level.IsRoot();
  std::u16string name =
      FirstText(level, {PR_SENT_REPRESENTING_NAME_A, PR_SENT_REPRESENTING_NAME_W}, recursive);
  if (const size_t nul = name.find(u'\0'); nul != std::u16string::npos)
    name.erase(nul, 1);
  if (name.empty())
    name = FirstText(level, {PR_SENDER_NAME_A, PR_SENDER_NAME_W}, recursive);
  const std::u16string own = level.GetSenderEmail();

  std::u16string address =
      InternetAddressOr(level.GetPropertyText(PID_SENDER_SMTP_ADDRESS, true, false));
  if (address.empty())
    address =
        InternetAddressOr(level.GetPropertyText(PID_SENT_REPRESENTING_SMTP_ADDRESS, true, false));
  if (address.empty())
    address = InternetAddressOr(own);
  HeaderAddresses headers(level);
  if (address.empty()) {
    for (const TMailAddress& from : headers.Field("From")) {
      if (!from.Address.empty() &&
          (from.Name.empty() || name.empty() || SameName(from.Name, name))) {
        address = from.Address;
        break;
      }
    }
  }
  // The sender is often among the recipients (a copy to oneself, a meeting's organiser), listed
  // with the SMTP address that the sender's own properties lack.
  for (int i = 0; address.empty() && i < level.Count(); ++i) {
    const TMSGProperty* item = level.Items(i);
    if (!IsRecipientNode(*item))
      continue;
    const TMSGProperties& recipient = item->SubProperties();
    const bool sameAddress =
        !own.empty() && SameText(recipient.GetPropertyText(PID_EMAIL_ADDRESS, true, false), own);
    const bool sameName =
        !name.empty() && SameName(recipient.GetPropertyText(PID_DISPLAY_NAME, true, false), name);
    if (sameAddress || sameName)
      address = RecipientSmtp(recipient);
  }
  // A message saved by its sender names the sender as its creator or last modifier too.
  for (const auto& [nameId, smtpId] :
       {std::pair{PID_CREATOR_NAME, PID_CREATOR_SMTP_ADDRESS},
        std::pair{PID_LAST_MODIFIER_NAME, PID_LAST_MODIFIER_SMTP_ADDRESS}}) {
    if (!address.empty() || name.empty())
      break;
    if (SameName(level.GetPropertyText(nameId, true, false), name))
      address = InternetAddressOr(level.GetPropertyText(smtpId, true, false));
  }
  // A From that holds no address at all ("<Saved by Mozilla 5.0 (Macintosh)>" in a web archive)
  // still says who made the message: its text stands as the name.
  if (address.empty() && name.empty())
    name = own;
  if (address.empty() && name.empty())
    return {};
  return Person(name, address);
}

namespace {

// The recipients of the kinds asked for (each kind's list in out[kind]), in one pass over the
// recipient table; the lists of the kinds not asked for stay empty.
void CollectRecipients(const TMSGProperties& level, std::initializer_list<TRecipientKind> kinds,
                       TMailAddressList* out[4]) {
  HeaderAddresses headers(level);
  bool typed = false;
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* item = level.Items(i);
    if (!IsRecipientNode(*item))
      continue;
    const TMSGProperty* type = item->SubProperties().FindProperty(PR_RECIPIENT_TYPE, false, true);
    if (type == nullptr)
      continue;
    typed = true;
    const int64_t kind = type->Value.ToInt64() & 0x0F;
    if (kind < 1 || kind > 3 || out[kind] == nullptr)
      continue;
    TMailAddress address = RecipientAddress(item->SubProperties(), headers);
    if (!address.Name.empty() || !address.Address.empty())
      out[kind]->push_back(std::move(address));
  }
  if (typed)
    return;

  for (const TRecipientKind kind : kinds) {
    TMailAddressList& list = *out[static_cast<int>(kind)];
    const char* field = kind == TRecipientKind::To   ? "To"
                        : kind == TRecipientKind::Cc ? "Cc"
                                                     : "Bcc";
    if (headers.Has(field)) {
      list = headers.Field(field);
      continue;
    }
    const auto& lists = kind == TRecipientKind::To   ? kToLists
                        : kind == TRecipientKind::Cc ? kCcLists
                                                     : kBccLists;
    list = FromDisplayList(level, FirstText(level, lists, !level.IsRoot()), headers,
                           kind == TRecipientKind::To);
  }
}

} // namespace

TMailAddressList GetRecipientAddresses(const TMSGProperties& level, TRecipientKind kind) {
  TMailAddressList list;
  TMailAddressList* out[4] = {};
  out[static_cast<int>(kind)] = &list;
  CollectRecipients(level, {kind}, out);
  return list;
}

TRecipientLists GetRecipientLists(const TMSGProperties& level) {
  TRecipientLists lists;
  TMailAddressList* out[4] = {nullptr, &lists.To, &lists.Cc, &lists.Bcc};
  CollectRecipients(level, {TRecipientKind::To, TRecipientKind::Cc, TRecipientKind::Bcc}, out);
  return lists;
}

TMailAddressList ParseAddressList(std::string_view value) {
  TMailAddressList out;
  size_t i = 0;
  while (i < value.size()) {
    std::string phrase;  // the text outside angle brackets and comments
    std::string angle;   // the text inside angle brackets
    std::string comment; // the last comment
    bool hasAngle = false;
    bool inAngle = false;
    for (; i < value.size(); ++i) {
      const char c = value[i];
      if (c == '"') {
        std::string& target = inAngle ? angle : phrase;
        target += c;
        for (++i; i < value.size() && value[i] != '"'; ++i) {
          if (value[i] == '\\' && i + 1 < value.size())
            target += value[i++];
          target += value[i];
        }
        target += '"';
        continue;
      }
      if (inAngle) {
        if (c == '>')
          inAngle = false;
        else
          angle += c;
        continue;
      }
      if (c == '(') {
        comment.clear();
        int depth = 1;
        for (++i; i < value.size() && depth > 0; ++i) {
          if (value[i] == '\\' && i + 1 < value.size()) {
            comment += value[++i];
            continue;
          }
          depth += value[i] == '(' ? 1 : value[i] == ')' ? -1 : 0;
          if (depth > 0)
            comment += value[i];
        }
        --i;
        phrase += ' ';
        continue;
      }
      if (c == '<') {
        inAngle = hasAngle = true;
        angle.clear();
        continue;
      }
      if (c == ',' || c == ';') {
        ++i;
        break;
      }
      if (c == ':' && !hasAngle) { // a group's name
        phrase.clear();
        comment.clear();
        continue;
      }
      phrase += c;
    }
    if (hasAngle) {
      std::string addrSpec = WithoutBlanks(angle);
      if (!addrSpec.empty() && addrSpec.front() == '@' && addrSpec.find(':') != std::string::npos)
        addrSpec.erase(0, addrSpec.rfind(':') + 1); // an obsolete source route
      std::u16string address = InternetAddressOr(SystemToWide(addrSpec));
      std::u16string name = DecodePhrase(phrase);
      if (address.empty() && name.empty())
        name = SystemToWide(addrSpec);
      if (!address.empty() || !name.empty())
        out.push_back(Person(std::move(name), std::move(address)));
      continue;
    }
    const std::string bare = WithoutBlanks(phrase);
    if (bare.empty())
      continue;
    const std::u16string address = InternetAddressOr(SystemToWide(bare));
    if (!address.empty())
      out.push_back(Person(DecodePhrase(comment), address));
    else
      out.push_back(Person(DecodePhrase(phrase), u""));
  }
  return out;
}

size_t HeaderLineEnd(std::string_view headers, size_t pos) {
  if (pos >= headers.size())
    return headers.size();
  const char* begin = headers.data() + pos;
  const size_t rest = headers.size() - pos;
  const void* lf = std::memchr(begin, '\n', rest);
  const size_t lfAt =
      lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : rest;
  const void* cr = std::memchr(begin, '\r', lfAt);
  return pos + (cr != nullptr ? static_cast<size_t>(static_cast<const char*>(cr) - begin) : lfAt);
}

std::string HeaderFieldValue(std::string_view headers, std::string_view name) {
  size_t pos = 0;
  while (pos < headers.size()) {
    const size_t end = HeaderLineEnd(headers, pos);
    const std::string_view line = headers.substr(pos, end - pos);
    size_t next = end;
    if (next < headers.size() && headers[next] == '\r')
      ++next;
    if (next < headers.size() && headers[next] == '\n')
      ++next;
    size_t colon = name.size();
    bool match = line.size() > colon;
    for (size_t k = 0; match && k < name.size(); ++k)
      match = LowerAscii(static_cast<unsigned char>(line[k])) ==
              LowerAscii(static_cast<unsigned char>(name[k]));
    while (match && colon < line.size() && (line[colon] == ' ' || line[colon] == '\t'))
      ++colon;
    if (match && colon < line.size() && line[colon] == ':') {
      std::string value(line.substr(colon + 1));
      // Continuation lines start with white space; unfolding removes only the line break.
      while (next < headers.size() && (headers[next] == ' ' || headers[next] == '\t')) {
        const size_t lineEnd = HeaderLineEnd(headers, next);
        value.append(headers.substr(next, lineEnd - next));
        next = lineEnd;
        if (next < headers.size() && headers[next] == '\r')
          ++next;
        if (next < headers.size() && headers[next] == '\n')
          ++next;
      }
      size_t b = 0, e = value.size();
      while (b < e && IsBlank(value[b]))
        ++b;
      while (e > b && IsBlank(value[e - 1]))
        --e;
      return value.substr(b, e - b);
    }
    pos = next;
  }
  return {};
}

std::u16string FormatMailAddress(const TMailAddress& address) {
  if (address.Name.empty())
    return address.Address;
  if (address.Address.empty())
    return address.Name;
  return QuoteDisplayName(address.Name) + u" <" + address.Address + u">";
}

std::u16string FormatMailAddressList(const TMailAddressList& list) {
  std::u16string out;
  for (const TMailAddress& address : list) {
    const std::u16string text = FormatMailAddress(address);
    if (text.empty())
      continue;
    if (!out.empty())
      out += u';';
    out += text;
  }
  return out;
}

} // namespace orlendo
