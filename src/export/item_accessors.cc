#include "export/item_accessors.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "model/named_properties.h"
#include "model/property_types.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr uint16_t PT_LONG = 0x0003;
constexpr uint16_t PT_DOUBLE = 0x0005;
constexpr uint16_t PT_BOOLEAN = 0x000B;
constexpr uint16_t PT_SYSTIME = 0x0040;
constexpr uint16_t PT_BINARY = 0x0102;
constexpr uint16_t PT_MV_BINARY = 0x1102;

constexpr uint16_t PID_MESSAGE_CLASS = 0x001A;
constexpr uint16_t PID_IMPORTANCE = 0x0017;
constexpr uint16_t PID_SENT_REPRESENTING_NAME = 0x0042;
constexpr uint16_t PID_SENT_REPRESENTING_ADDRTYPE = 0x0064;
constexpr uint16_t PID_SENT_REPRESENTING_EMAIL = 0x0065;
constexpr uint16_t PID_SENT_REPRESENTING_SMTP = 0x5D02;
constexpr uint16_t PID_SENDER_SMTP = 0x5D01;
constexpr uint16_t PID_CLIENT_SUBMIT_TIME = 0x0039;
constexpr uint16_t PID_CREATION_TIME = 0x3007;
constexpr uint16_t PID_LAST_MODIFICATION_TIME = 0x3008;
constexpr uint16_t PID_SEARCH_KEY = 0x300B;
constexpr uint16_t PID_DISPLAY_NAME = 0x3001;
constexpr uint16_t PID_ADDRTYPE = 0x3002;
constexpr uint16_t PID_EMAIL_ADDRESS = 0x3003;
constexpr uint16_t PID_SMTP_ADDRESS = 0x39FE;
constexpr uint16_t PID_RECIPIENT_TYPE = 0x0C15;
constexpr uint16_t PID_RECIPIENT_FLAGS = 0x5FFD;
constexpr uint16_t PID_RECIPIENT_TRACKSTATUS = 0x5FFF;
constexpr uint16_t PID_ATTACH_DATA = 0x3701;
constexpr uint16_t PID_ATTACH_EXTENSION = 0x3703;
constexpr uint16_t PID_ATTACH_MIME_TAG = 0x370E;
constexpr uint16_t PID_ATTACHMENT_CONTACTPHOTO = 0x7FFF;

constexpr double kMinutesPerDay = 1440.0;
// Minutes since 1601-01-01 count from 109205 days before the date-time's epoch.
constexpr double kEpochShiftDays = 109205.0;

const TMSGProperty* FindAtLevel(const TMSGProperties& level, uint16_t propId, uint16_t type) {
  const auto matches = [&](const TMSGProperty& r) {
    return PropId(r.TagID) == propId && (type == 0 || PropType(r.TagID) == type);
  };
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty& r = *level.Items(i);
    // A record of type 0 is a declaration, never a value.
    if (r.TagID != 0 && PropType(r.TagID) != 0 && matches(r) && r.SubProperties().Count() == 0)
      return &r;
  }
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty& stream = *level.Items(i);
    if (stream.TagID != 0)
      continue;
    const TMSGProperties& entries = stream.SubProperties();
    for (int j = 0; j < entries.Count(); ++j) {
      const TMSGProperty& e = *entries.Items(j);
      if (matches(e) && IsFixedSizeType(PropType(e.TagID)))
        return &e;
    }
  }
  return nullptr;
}

std::u16string StripZeros(std::u16string s) {
  while (!s.empty() && s.back() == u'\0')
    s.pop_back();
  const size_t zero = s.find(u'\0');
  if (zero != std::u16string::npos)
    s.resize(zero);
  return s;
}

std::u16string TextOf(const TMSGProperty* r) {
  if (r == nullptr || r->Value.IsMulti())
    return {};
  return StripZeros(r->GetValueText());
}

std::u16string LevelText(const TMSGProperties& level, uint16_t propId) {
  std::u16string text = TextOf(FindAtLevel(level, propId, 0x001F));
  return text.empty() ? TextOf(FindAtLevel(level, propId, 0x001E)) : text;
}

std::string LevelBytes(const TMSGProperties& level, uint16_t propId) {
  const TMSGProperty* r = FindAtLevel(level, propId, PT_BINARY);
  return r != nullptr && r->Value.IsBytes() ? r->Value.Bytes() : std::string();
}

std::optional<int64_t> LevelInt(const TMSGProperties& level, uint16_t propId) {
  const TMSGProperty* r = FindAtLevel(level, propId, 0);
  if (r == nullptr || !IsFixedSizeType(PropType(r->TagID)))
    return std::nullopt;
  return r->Value.ToInt64();
}

TDateTime LevelTime(const TMSGProperties& level, uint16_t propId) {
  const TMSGProperty* r = FindAtLevel(level, propId, PT_SYSTIME);
  return r != nullptr ? ModelTimeToUtc(r->Value.AsDateTime()) : 0;
}

// The named properties of the map of the file that level is stored in, by set and LID.
struct NamedIds {
  const TMSGProperty* node = nullptr;
  uint64_t generation = 0;
  std::map<std::pair<std::string, uint32_t>, uint16_t> ids;
};

uint16_t NamedId(const TMSGProperties& level, const char* setGuid, uint32_t lid) {
  const TMSGProperty* node = level.Root().FindPropertyCached(TAG_NAMEID_NODE);
  if (node == nullptr)
    return 0;
  static thread_local NamedIds cached;
  const uint64_t now = TreeGeneration();
  if (cached.node != node || cached.generation != now) {
    cached.node = node;
    cached.generation = ObserveTreeGeneration();
    cached.ids.clear();
    for (const TNamedProperty& named : ReadNamedPropertyMap(*node)) {
      if (!named.IsString)
        cached.ids.emplace(std::pair(named.SetGuid, named.Lid), named.PropId);
    }
  }
  const auto it = cached.ids.find(std::pair(std::string(setGuid), lid));
  return it != cached.ids.end() ? it->second : 0;
}

// Named-property readers of one level.
struct Named {
  const TMSGProperties& level;
  const TMSGProperty* Find(const char* set, uint32_t lid, uint16_t type) const {
    return FindNamedProperty(level, set, lid, type);
  }
  std::u16string Text(const char* set, uint32_t lid) const {
    std::u16string text = TextOf(Find(set, lid, 0x001F));
    return text.empty() ? TextOf(Find(set, lid, 0x001E)) : text;
  }
  std::string Bytes(const char* set, uint32_t lid) const {
    const TMSGProperty* r = Find(set, lid, PT_BINARY);
    return r != nullptr && r->Value.IsBytes() ? r->Value.Bytes() : std::string();
  }
  std::optional<int64_t> Int(const char* set, uint32_t lid) const {
    const TMSGProperty* r = Find(set, lid, 0);
    if (r == nullptr || !IsFixedSizeType(PropType(r->TagID)))
      return std::nullopt;
    return r->Value.ToInt64();
  }
  bool Bool(const char* set, uint32_t lid) const { return Int(set, lid).value_or(0) != 0; }
  double Double(const char* set, uint32_t lid) const {
    const TMSGProperty* r = Find(set, lid, PT_DOUBLE);
    return r != nullptr ? r->Value.ToDouble() : 0.0;
  }
  TDateTime Time(const char* set, uint32_t lid) const {
    const TMSGProperty* r = Find(set, lid, PT_SYSTIME);
    return r != nullptr ? ModelTimeToUtc(r->Value.AsDateTime()) : 0;
  }
};

// Little-endian reads that never go past the end: a short blob reads as zeros and flags failure.
class Reader {
public:
  explicit Reader(const std::string& bytes, size_t at = 0) : b_(bytes), at_(at) {}
  bool Ok() const { return ok_; }
  size_t Position() const { return at_; }
  bool Has(size_t n) const { return ok_ && at_ <= b_.size() && b_.size() - at_ >= n; }
  uint32_t U(size_t n) {
    if (!Has(n)) {
      ok_ = false;
      return 0;
    }
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
      v |= static_cast<uint32_t>(static_cast<unsigned char>(b_[at_ + i])) << (8 * i);
    at_ += n;
    return v;
  }
  uint8_t U8() { return static_cast<uint8_t>(U(1)); }
  uint16_t U16() { return static_cast<uint16_t>(U(2)); }
  uint32_t U32() { return U(4); }
  int32_t I32() { return static_cast<int32_t>(U(4)); }
  std::string Take(size_t n) {
    if (!Has(n)) {
      ok_ = false;
      return {};
    }
    std::string s = b_.substr(at_, n);
    at_ += n;
    return s;
  }
  std::u16string Wide(size_t chars) {
    std::u16string s;
    if (chars > (b_.size() - std::min(at_, b_.size())) / 2) {
      ok_ = false;
      return s;
    }
    s.reserve(chars);
    for (size_t i = 0; i < chars; ++i)
      s.push_back(static_cast<char16_t>(U16()));
    return s;
  }
  void Skip(size_t n) {
    if (!Has(n))
      ok_ = false;
    else
      at_ += n;
  }

private:
  const std::string& b_;
  size_t at_;
  bool ok_ = true;
};

TZoneTransition ReadSystemTime(Reader& r) {
  TZoneTransition t;
  t.Year = r.U16();
  t.Month = r.U16();
  t.DayOfWeek = r.U16();
  t.Day = r.U16();
  t.Hour = r.U16();
  t.Minute = r.U16();
  r.U16(); // seconds
  r.U16(); // milliseconds
  if (t.Month < 0 || t.Month > 12 || t.DayOfWeek > 6 || t.Day > 31 || t.Hour > 23 || t.Minute > 59)
    t = TZoneTransition{};
  return t;
}

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

TDateTime DateOf(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) + 25569);
}

// The local wall time of a transition in year.
TDateTime TransitionIn(const TZoneTransition& t, int year) {
  int day = t.Day;
  if (t.Year == 0) {
    const int firstDow = DayOfWeek(DateOf(year, t.Month, 1));
    day = 1 + (t.DayOfWeek - firstDow + 7) % 7 + (std::clamp(t.Day, 1, 5) - 1) * 7;
    while (day > DaysInMonth(year, t.Month))
      day -= 7;
  } else {
    day = std::clamp(day, 1, DaysInMonth(year, t.Month));
  }
  return DateOf(year, t.Month, day) + (t.Hour * 60 + t.Minute) / kMinutesPerDay;
}

int YearOf(TDateTime value) {
  return SplitDateTime(value).Year;
}

std::u16string HexUpper(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::u16string s;
  for (unsigned char c : bytes) {
    s.push_back(static_cast<char16_t>(kHex[c >> 4]));
    s.push_back(static_cast<char16_t>(kHex[c & 15]));
  }
  return s;
}

// The UID of a meeting from its global object id: the iCalendar UID that the id carries
// ("vCal-Uid"), else the id in hexadecimal with its instance date cleared, so that every
// occurrence and every message of one meeting share it.
std::string UidFromGlobalObjectId(std::string id) {
  if (id.size() < 40)
    return id.empty() ? std::string() : EncodeUtf8(HexUpper(id));
  Reader r(id, 36);
  const uint32_t size = r.U32();
  const std::string data = r.Take(size);
  static const std::string kVcal("vCal-Uid\x01\x00\x00\x00", 12);
  if (r.Ok() && data.compare(0, kVcal.size(), kVcal) == 0) {
    std::string uid = data.substr(kVcal.size());
    const size_t zero = uid.find('\0');
    if (zero != std::string::npos)
      uid.resize(zero);
    if (!uid.empty())
      return uid;
  }
  for (size_t i = 16; i < 20; ++i)
    id[i] = '\0';
  return EncodeUtf8(HexUpper(id));
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

bool ClassIs(const std::u16string& cls, std::u16string_view name) {
  return cls.size() >= name.size() && cls.compare(0, name.size(), name) == 0 &&
         (cls.size() == name.size() || cls[name.size()] == u'.');
}

std::u16string MessageClass(const TMSGProperties& level) {
  return Lower(GetMessageClass(level));
}

std::string ClassForMessage(const TMSGProperties& level) {
  const std::u16string cls = GetMessageClass(level);
  return cls.empty() ? std::string("none") : "\"" + EncodeUtf8(cls) + "\"";
}

// The calendar date of a date that Outlook keeps as a local midnight in UTC, or as a midnight
// taken for UTC: either way the nearest midnight in the half day around it.
TDateTime CalendarDate(TDateTime utc) {
  if (utc == 0)
    return 0;
  return std::floor(utc + 0.5);
}

// The attachments of level that are embedded messages, with their levels.
std::vector<const TMSGProperties*> EmbeddedLevels(const TMSGProperties& level) {
  std::vector<const TMSGProperties*> out;
  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr || !node->IsEmbeddedMessage())
      continue;
    const TMSGProperty* object =
        node->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
    if (object != nullptr)
      out.push_back(&object->SubProperties());
  }
  return out;
}

std::u16string SmtpOfRecipient(const TMSGProperties& r) {
  std::u16string smtp = LevelText(r, PID_SMTP_ADDRESS);
  if (!smtp.empty())
    return smtp;
  std::u16string address = LevelText(r, PID_EMAIL_ADDRESS);
  const std::u16string type = Lower(LevelText(r, PID_ADDRTYPE));
  if (type == u"smtp" || (type.empty() && address.find(u'@') != std::u16string::npos))
    return address;
  return {};
}

std::vector<TAttendee> ReadAttendees(const TMSGProperties& level) {
  std::vector<TAttendee> out;
  for (int i = 0; i < level.Count(); ++i) {
    const TMSGProperty* node = level.Items(i);
    if (node->TagID != TAG_RECIPIENT_NODE)
      continue;
    const TMSGProperties& r = node->SubProperties();
    TAttendee a;
    a.Name = LevelText(r, PID_DISPLAY_NAME);
    a.Address = SmtpOfRecipient(r);
    const int64_t type = LevelInt(r, PID_RECIPIENT_TYPE).value_or(1) & 0x0F;
    a.Type = type == 2 ? 2 : type == 3 ? 3 : 1;
    a.Response = static_cast<int>(LevelInt(r, PID_RECIPIENT_TRACKSTATUS).value_or(0));
    const int64_t flags = LevelInt(r, PID_RECIPIENT_FLAGS).value_or(0);
    a.Organizer = (flags & 0x0002) != 0;
    // A recipient deleted from one occurrence only is no attendee of the series.
    if ((flags & 0x0020) != 0)
      continue;
    if (a.Name.empty() && a.Address.empty())
      continue;
    out.push_back(std::move(a));
  }
  return out;
}

TDateTime StampOf(const TMSGProperties& level) {
  for (uint16_t id : {PID_LAST_MODIFICATION_TIME, PID_CREATION_TIME, PID_CLIENT_SUBMIT_TIME}) {
    if (const TDateTime t = LevelTime(level, id); t != 0)
      return t;
  }
  return 0;
}

std::string SniffImageType(const std::string& data, const std::u16string& declared) {
  if (data.compare(0, 3, "\xFF\xD8\xFF") == 0)
    return "image/jpeg";
  if (data.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0)
    return "image/png";
  if (data.compare(0, 4, "GIF8") == 0)
    return "image/gif";
  if (data.compare(0, 2, "BM") == 0)
    return "image/bmp";
  const std::string type = EncodeUtf8(Lower(declared));
  return type.compare(0, 6, "image/") == 0 ? type : "application/octet-stream";
}

} // namespace

// ---------------------------------------------------------------------------------------------

TDateTime ModelTimeToUtc(TDateTime local) {
  if (local == 0)
    return 0;
  const double utc = local - CurrentUtcOffsetMinutes() / kMinutesPerDay;
  // The readers work in whole milliseconds; a second is as fine as any calendar goes.
  return std::round(utc * 86400.0) / 86400.0;
}

const TMSGProperty* FindNamedProperty(const TMSGProperties& level, const char* setGuid,
                                      uint32_t lid, uint16_t type) {
  const uint16_t id = NamedId(level, setGuid, lid);
  return id == 0 ? nullptr : FindAtLevel(level, id, type);
}

std::u16string GetMessageClass(const TMSGProperties& level) {
  return LevelText(level, PID_MESSAGE_CLASS);
}

std::string NotACalendarItemMessage(const TMSGProperties& level) {
  return "The message is not a calendar item or task (message class " + ClassForMessage(level) +
         "): nothing written.";
}

std::string NotAContactMessage(const TMSGProperties& level) {
  return "The message is not a contact or distribution list (message class " +
         ClassForMessage(level) + "): nothing written.";
}

TItemKind GetItemKind(const TMSGProperties& level) {
  const std::u16string cls = MessageClass(level);
  if (ClassIs(cls, u"ipm.appointment"))
    return TItemKind::Appointment;
  if (ClassIs(cls, u"ipm.schedule.meeting.request"))
    return TItemKind::MeetingRequest;
  if (ClassIs(cls, u"ipm.schedule.meeting.resp"))
    return TItemKind::MeetingResponse;
  if (ClassIs(cls, u"ipm.schedule.meeting.canceled"))
    return TItemKind::MeetingCancellation;
  if (ClassIs(cls, u"ipm.contact"))
    return TItemKind::Contact;
  if (ClassIs(cls, u"ipm.distlist"))
    return TItemKind::DistributionList;
  if (cls.compare(0, 15, u"ipm.taskrequest") == 0)
    return TItemKind::TaskRequest;
  if (ClassIs(cls, u"ipm.task"))
    return TItemKind::Task;
  if (ClassIs(cls, u"ipm.stickynote"))
    return TItemKind::StickyNote;
  return TItemKind::Mail;
}

TMeetingResponse GetMeetingResponse(const TMSGProperties& level) {
  const std::u16string cls = MessageClass(level);
  if (ClassIs(cls, u"ipm.schedule.meeting.resp.pos"))
    return TMeetingResponse::Accepted;
  if (ClassIs(cls, u"ipm.schedule.meeting.resp.tent"))
    return TMeetingResponse::Tentative;
  if (ClassIs(cls, u"ipm.schedule.meeting.resp.neg"))
    return TMeetingResponse::Declined;
  return TMeetingResponse::None;
}

// --- Time zones ---

const TZoneRule& TTimeZone::RuleFor(int year) const {
  const TZoneRule* best = &Rules.front();
  for (const TZoneRule& rule : Rules) {
    if (rule.Year <= year)
      best = &rule;
  }
  return *best;
}

int TTimeZone::OffsetAtLocal(TDateTime local) const {
  if (!IsKnown())
    return 0;
  const int year = YearOf(local);
  const TZoneRule& rule = RuleFor(year);
  const int standard = -(rule.Bias + rule.StandardBias);
  if (!rule.HasDaylight())
    return standard;
  const int daylight = -(rule.Bias + rule.DaylightBias);
  const TDateTime toDaylight = TransitionIn(rule.DaylightDate, year);
  const TDateTime toStandard = TransitionIn(rule.StandardDate, year);
  const bool inDaylight = toDaylight < toStandard ? local >= toDaylight && local < toStandard
                                                  : local >= toDaylight || local < toStandard;
  return inDaylight ? daylight : standard;
}

int TTimeZone::OffsetAtUtc(TDateTime utc) const {
  if (!IsKnown())
    return 0;
  const TZoneRule& first = RuleFor(YearOf(utc));
  const int standard = -(first.Bias + first.StandardBias);
  const int year = YearOf(utc + standard / kMinutesPerDay);
  const TZoneRule& rule = RuleFor(year);
  const int std2 = -(rule.Bias + rule.StandardBias);
  if (!rule.HasDaylight())
    return std2;
  const int daylight = -(rule.Bias + rule.DaylightBias);
  // The transitions as instants: into daylight time from standard time, and back.
  const TDateTime toDaylight = TransitionIn(rule.DaylightDate, year) - std2 / kMinutesPerDay;
  const TDateTime toStandard = TransitionIn(rule.StandardDate, year) - daylight / kMinutesPerDay;
  const bool inDaylight = toDaylight < toStandard ? utc >= toDaylight && utc < toStandard
                                                  : utc >= toDaylight || utc < toStandard;
  return inDaylight ? daylight : std2;
}

TDateTime TTimeZone::ToLocal(TDateTime utc) const {
  return utc + OffsetAtUtc(utc) / kMinutesPerDay;
}

TDateTime TTimeZone::ToUtc(TDateTime local) const {
  return local - OffsetAtLocal(local) / kMinutesPerDay;
}

namespace {

// No zone is a day away from UTC; anything beyond is damage (and would overflow the sums).
bool SaneBiases(const TZoneRule& rule) {
  constexpr int kDay = 24 * 60;
  for (int bias : {rule.Bias, rule.StandardBias, rule.DaylightBias})
    if (bias < -kDay || bias > kDay)
      return false;
  return true;
}

} // namespace

TTimeZone ParseTimeZoneDefinition(const std::string& bytes) {
  TTimeZone zone;
  Reader r(bytes);
  r.U8(); // major version
  r.U8(); // minor version
  const uint16_t headerSize = r.U16();
  r.U16(); // reserved
  const uint16_t nameLength = r.U16();
  zone.Name = r.Wide(nameLength);
  if (!r.Ok())
    return {};
  Reader rules(bytes, 4 + static_cast<size_t>(headerSize));
  // The rule count closes the header.
  Reader count(bytes, 4 + static_cast<size_t>(headerSize) - 2);
  const uint16_t ruleCount = count.U16();
  for (uint16_t i = 0; i < ruleCount && rules.Has(66); ++i) {
    TZoneRule rule;
    rules.U8();
    rules.U8();
    rules.U16(); // reserved
    rules.U16(); // flags
    rule.Year = rules.U16();
    rules.Skip(14);
    rule.Bias = rules.I32();
    rule.StandardBias = rules.I32();
    rule.DaylightBias = rules.I32();
    rule.StandardDate = ReadSystemTime(rules);
    rule.DaylightDate = ReadSystemTime(rules);
    if (!SaneBiases(rule))
      continue;
    zone.Rules.push_back(rule);
  }
  std::stable_sort(zone.Rules.begin(), zone.Rules.end(),
                   [](const TZoneRule& a, const TZoneRule& b) { return a.Year < b.Year; });
  if (zone.Rules.empty())
    zone.Name.clear();
  return zone;
}

TTimeZone ParseTimeZoneStruct(const std::string& bytes, const std::u16string& name) {
  TTimeZone zone;
  if (bytes.size() < 48)
    return zone;
  Reader r(bytes);
  TZoneRule rule;
  rule.Bias = r.I32();
  rule.StandardBias = r.I32();
  rule.DaylightBias = r.I32();
  r.U16();
  rule.StandardDate = ReadSystemTime(r);
  r.U16();
  rule.DaylightDate = ReadSystemTime(r);
  if (!r.Ok() || !SaneBiases(rule))
    return zone;
  zone.Rules.push_back(rule);
  zone.Name = name;
  return zone;
}

// --- Recurrence ---

namespace {

TDateTime FromMinutes(uint32_t minutes) {
  return minutes / kMinutesPerDay - kEpochShiftDays;
}

std::u16string ReadCountedAnsi(Reader& r, int codePage) {
  r.U16(); // length with the terminating zero, as some writers count it
  const uint16_t length = r.U16();
  return DecodeStoredText(r.Take(length), codePage);
}

} // namespace

TRecurrence ParseRecurrence(const std::string& bytes, bool appointment) {
  TRecurrence rec;
  Reader r(bytes);
  r.U16(); // reader version
  r.U16(); // writer version
  const uint16_t frequency = r.U16();
  rec.PatternType = r.U16();
  const uint16_t calendarType = r.U16();
  const uint32_t firstDateTime = r.U32();
  const uint32_t period = r.U32();
  r.U32(); // sliding flag (tasks that regenerate)
  switch (rec.PatternType) {
  case 0x0:
    break;
  case 0x1:
    rec.DayMask = static_cast<int>(r.U32() & 0x7F);
    break;
  case 0x2:
  case 0x4:
  case 0xA:
  case 0xC:
    rec.DayOfMonth = static_cast<int>(r.U32());
    break;
  case 0x3:
  case 0xB:
    rec.DayMask = static_cast<int>(r.U32() & 0x7F);
    rec.Nth = static_cast<int>(r.U32());
    break;
  default:
    return {};
  }
  const uint32_t endType = r.U32();
  rec.OccurrenceCount = static_cast<int>(r.U32());
  rec.FirstDayOfWeek = static_cast<int>(r.U32() % 7);
  const uint32_t deleted = r.U32();
  for (uint32_t i = 0; i < deleted && r.Has(4); ++i)
    rec.DeletedDates.push_back(FromMinutes(r.U32()));
  const uint32_t modified = r.U32();
  for (uint32_t i = 0; i < modified && r.Has(4); ++i)
    rec.ModifiedDates.push_back(FromMinutes(r.U32()));
  rec.StartDate = FromMinutes(r.U32());
  rec.EndDate = FromMinutes(r.U32());
  if (!r.Ok() || calendarType > 0x17 || rec.DeletedDates.size() != deleted ||
      rec.ModifiedDates.size() != modified)
    return {};
  (void)firstDateTime;
  // Hijri and other non-Gregorian patterns have no counterpart in the rules we write.
  if (rec.PatternType >= 0xA)
    return {};
  switch (frequency) {
  case 0x200A:
    rec.Frequency = rec.PatternType == 1 ? TRecurFrequency::Weekly : TRecurFrequency::Daily;
    rec.Interval = rec.PatternType == 1 ? std::max<int>(1, period)
                                        : std::max<int>(1, static_cast<int>(period / 1440));
    break;
  case 0x200B:
    rec.Frequency = TRecurFrequency::Weekly;
    rec.Interval = std::max<int>(1, period);
    break;
  case 0x200C:
    rec.Frequency = TRecurFrequency::Monthly;
    rec.Interval = std::max<int>(1, period);
    break;
  case 0x200D:
    rec.Frequency = TRecurFrequency::Yearly;
    rec.Interval = std::max<int>(1, static_cast<int>(period / 12));
    break;
  default:
    return {};
  }
  if (rec.Frequency == TRecurFrequency::Yearly || rec.Frequency == TRecurFrequency::Monthly)
    rec.MonthOfYear = SplitDateTime(rec.StartDate).Month;
  if (rec.Frequency == TRecurFrequency::Weekly && rec.DayMask == 0)
    rec.DayMask = 1 << DayOfWeek(rec.StartDate);
  rec.End = endType == 0x2021   ? TRecurEnd::ByDate
            : endType == 0x2022 ? TRecurEnd::AfterCount
                                : TRecurEnd::Never;
  if (!appointment)
    return rec;

  r.U32(); // reader version 2
  const uint32_t writerVersion2 = r.U32();
  rec.StartMinutes = static_cast<int>(r.U32());
  rec.EndMinutes = static_cast<int>(r.U32());
  if (!r.Ok() || rec.StartMinutes < 0 || rec.StartMinutes >= 1440 * 2)
    return rec.StartMinutes = rec.EndMinutes = 0, rec;
  const uint16_t exceptionCount = r.U16();
  std::vector<uint16_t> flags;
  for (uint16_t i = 0; i < exceptionCount && r.Ok(); ++i) {
    TRecurException e;
    e.Start = FromMinutes(r.U32());
    e.End = FromMinutes(r.U32());
    e.OriginalStart = FromMinutes(r.U32());
    const uint16_t override = r.U16();
    if (override & 0x0001)
      e.Subject = ReadCountedAnsi(r, 1252);
    if (override & 0x0002)
      r.U32(); // meeting type
    if (override & 0x0004)
      e.ReminderDelta = static_cast<int>(r.U32());
    if (override & 0x0008)
      e.ReminderSet = r.U32() != 0;
    if (override & 0x0010)
      e.Location = ReadCountedAnsi(r, 1252);
    if (override & 0x0020)
      e.BusyStatus = static_cast<int>(r.U32());
    if (override & 0x0040)
      r.U32(); // attachment
    if (override & 0x0080)
      r.U32(); // subtype (all day)
    if (override & 0x0100)
      r.U32(); // colour
    if (!r.Ok())
      break;
    flags.push_back(override);
    rec.Exceptions.push_back(std::move(e));
  }
  // The wide forms of changed subjects and locations follow in the extended exceptions.
  r.Skip(r.U32()); // reserved block 1
  if (writerVersion2 >= 0x3009) {
    for (size_t i = 0; i < rec.Exceptions.size() && r.Ok(); ++i) {
      r.Skip(r.U32()); // change highlight
      r.Skip(r.U32()); // reserved block EE1
      if (flags[i] & 0x0011) {
        r.Skip(12); // start, end, original start again
        if (flags[i] & 0x0001) {
          std::u16string subject = r.Wide(r.U16());
          if (r.Ok())
            rec.Exceptions[i].Subject = subject;
        }
        if (flags[i] & 0x0010) {
          std::u16string location = r.Wide(r.U16());
          if (r.Ok())
            rec.Exceptions[i].Location = location;
        }
      }
      r.Skip(r.U32()); // reserved block EE2
    }
  }
  return rec;
}

std::vector<TDateTime> CancelledDates(const TRecurrence& recurrence) {
  // A changed occurrence is deleted at its original date too; its exception names that date.
  std::vector<TDateTime> out;
  for (TDateTime d : recurrence.DeletedDates) {
    const bool replaced = std::any_of(
        recurrence.Exceptions.begin(), recurrence.Exceptions.end(), [d](const TRecurException& e) {
          return std::floor(e.OriginalStart + 1e-6) == std::floor(d + 1e-6);
        });
    if (!replaced)
      out.push_back(d);
  }
  return out;
}

// --- Appointments ---

TAppointment ReadAppointment(const TMSGProperties& level) {
  TAppointment a;
  const Named n{level};
  a.Kind = GetItemKind(level);
  a.Response = GetMeetingResponse(level);
  a.Subject = level.GetSubject();
  a.Body = level.GetBody();
  a.Location = n.Text(PSETID_Appointment, 0x8208);
  if (a.Location.empty())
    a.Location = n.Text(PSETID_Meeting, 0x0002); // PidLidWhere
  a.StartUtc = n.Time(PSETID_Appointment, 0x820D);
  a.EndUtc = n.Time(PSETID_Appointment, 0x820E);
  if (a.StartUtc == 0)
    a.StartUtc = n.Time(PSETID_Common, 0x8516);
  if (a.EndUtc == 0)
    a.EndUtc = n.Time(PSETID_Common, 0x8517);
  if (a.EndUtc < a.StartUtc)
    a.EndUtc = a.StartUtc;
  a.AllDay = n.Bool(PSETID_Appointment, 0x8215);
  a.BusyStatus = static_cast<int>(n.Int(PSETID_Appointment, 0x8205).value_or(2));
  a.ReminderSet = n.Bool(PSETID_Common, 0x8503);
  a.ReminderMinutes = static_cast<int>(n.Int(PSETID_Common, 0x8501).value_or(15));
  a.Sequence = static_cast<int>(n.Int(PSETID_Appointment, 0x8201).value_or(0));
  const int64_t stateFlags = n.Int(PSETID_Appointment, 0x8217).value_or(0);
  a.IsMeeting = (stateFlags & 0x1) != 0 || a.Kind != TItemKind::Appointment;

  a.StartZone = ParseTimeZoneDefinition(n.Bytes(PSETID_Appointment, 0x825E));
  a.EndZone = ParseTimeZoneDefinition(n.Bytes(PSETID_Appointment, 0x825F));
  const std::string recur = n.Bytes(PSETID_Appointment, 0x8216);
  if (!recur.empty())
    a.Recurrence = ParseRecurrence(recur, true);
  if (a.Recurrence.IsValid()) {
    TTimeZone recurZone = ParseTimeZoneDefinition(n.Bytes(PSETID_Appointment, 0x8260));
    if (!recurZone.IsKnown())
      recurZone = ParseTimeZoneStruct(n.Bytes(PSETID_Appointment, 0x8233),
                                      n.Text(PSETID_Appointment, 0x8234));
    if (recurZone.IsKnown())
      a.StartZone = a.EndZone = recurZone;
  }
  if (!a.StartZone.IsKnown())
    a.StartZone = ParseTimeZoneStruct(n.Bytes(PSETID_Appointment, 0x8233),
                                      n.Text(PSETID_Appointment, 0x8234));
  if (!a.EndZone.IsKnown())
    a.EndZone = a.StartZone;

  // Exceptions with a body of their own keep it in their embedded message, which names the
  // occurrence it replaces by its original start (UTC).
  if (a.Recurrence.IsValid()) {
    for (const TMSGProperties* embedded : EmbeddedLevels(level)) {
      const Named e{*embedded};
      const TDateTime replaces = e.Time(PSETID_Appointment, 0x8228);
      if (replaces == 0)
        continue;
      for (TRecurException& ex : a.Recurrence.Exceptions) {
        const TDateTime original = a.StartZone.ToUtc(ex.OriginalStart);
        if (std::abs(original - replaces) < 1.0 / kMinutesPerDay) {
          ex.Body = embedded->GetBody();
          if (!ex.Location) {
            std::u16string where = e.Text(PSETID_Appointment, 0x8208);
            if (!where.empty())
              ex.Location = where;
          }
        }
      }
    }
  }

  std::vector<TAttendee> attendees = ReadAttendees(level);
  for (TAttendee& at : attendees) {
    if (at.Organizer && a.OrganizerName.empty()) {
      a.OrganizerName = at.Name;
      a.OrganizerAddress = at.Address;
    }
  }
  if (a.IsMeeting) {
    if (a.OrganizerName.empty() && a.OrganizerAddress.empty()) {
      a.OrganizerName = StripZeros(LevelText(level, PID_SENT_REPRESENTING_NAME));
      a.OrganizerAddress = LevelText(level, PID_SENT_REPRESENTING_SMTP);
      if (a.OrganizerAddress.empty())
        a.OrganizerAddress = LevelText(level, PID_SENDER_SMTP);
      if (a.OrganizerAddress.empty() &&
          Lower(LevelText(level, PID_SENT_REPRESENTING_ADDRTYPE)) == u"smtp")
        a.OrganizerAddress = LevelText(level, PID_SENT_REPRESENTING_EMAIL);
    }
    for (TAttendee& at : attendees) {
      if (!at.Organizer)
        a.Attendees.push_back(std::move(at));
    }
  }

  std::string goid = n.Bytes(PSETID_Meeting, 0x0023);
  if (goid.empty())
    goid = n.Bytes(PSETID_Meeting, 0x0003);
  a.Uid = UidFromGlobalObjectId(goid);
  if (a.Uid.empty())
    a.Uid = EncodeUtf8(HexUpper(LevelBytes(level, PID_SEARCH_KEY)));
  a.StampUtc = StampOf(level);
  return a;
}

// --- Contacts ---

TContact ReadContact(const TMSGProperties& level) {
  TContact c;
  const Named n{level};
  c.DisplayName = LevelText(level, PID_DISPLAY_NAME);
  if (c.DisplayName.empty())
    c.DisplayName = level.GetSubject();
  c.GivenName = LevelText(level, 0x3A06);
  c.MiddleName = LevelText(level, 0x3A44);
  c.Surname = LevelText(level, 0x3A11);
  c.Prefix = LevelText(level, 0x3A45);
  c.Suffix = LevelText(level, 0x3A05);
  c.Nickname = LevelText(level, 0x3A4F);
  c.Company = LevelText(level, 0x3A16);
  c.JobTitle = LevelText(level, 0x3A17);
  c.Department = LevelText(level, 0x3A18);
  if (c.Department.empty())
    c.Department = n.Text(PSETID_Address, 0x8010);
  c.FileUnder = n.Text(PSETID_Address, 0x8005);
  c.Body = level.GetBody();

  for (uint32_t base : {0x8080u, 0x8090u, 0x80A0u}) {
    TContactEmail e;
    e.DisplayName = n.Text(PSETID_Address, base);
    const std::u16string type = Lower(n.Text(PSETID_Address, base + 2));
    e.Address = n.Text(PSETID_Address, base + 3);
    if (type != u"smtp" && (!type.empty() || e.Address.find(u'@') == std::u16string::npos)) {
      // An Exchange address: the original display name holds the Internet one, when any.
      const std::u16string original = n.Text(PSETID_Address, base + 4);
      e.Address = original.find(u'@') != std::u16string::npos ? original : std::u16string();
    }
    if (!e.Address.empty())
      c.Emails.push_back(std::move(e));
  }

  struct PhoneRow {
    uint16_t propId;
    const char* kind;
    bool fax;
  };
  static const PhoneRow kPhones[] = {
      {0x3A08, "work", false},      {0x3A1B, "work", false},     {0x3A09, "home", false},
      {0x3A2F, "home", false},      {0x3A1C, "cell", false},     {0x3A1A, "main", false},
      {0x3A57, "main", false},      {0x3A1E, "car", false},      {0x3A21, "pager", false},
      {0x3A2E, "assistant", false}, {0x3A02, "callback", false}, {0x3A2D, "isdn", false},
      {0x3A1D, "radio", false},     {0x3A2C, "telex", false},    {0x3A4B, "textphone", false},
      {0x3A1F, "other", false},     {0x3A24, "work", true},      {0x3A25, "home", true},
      {0x3A23, "other", true},
  };
  for (const PhoneRow& row : kPhones) {
    std::u16string number = LevelText(level, row.propId);
    if (!number.empty())
      c.Phones.push_back(TContactPhone{row.kind, row.fax, std::move(number)});
  }

  TContactAddress work;
  work.Kind = "work";
  work.Street = n.Text(PSETID_Address, 0x8045);
  work.City = n.Text(PSETID_Address, 0x8046);
  work.State = n.Text(PSETID_Address, 0x8047);
  work.PostalCode = n.Text(PSETID_Address, 0x8048);
  work.Country = n.Text(PSETID_Address, 0x8049);
  work.PoBox = n.Text(PSETID_Address, 0x804A);
  if (work.IsEmpty()) {
    work.Street = LevelText(level, 0x3A29);
    work.City = LevelText(level, 0x3A27);
    work.State = LevelText(level, 0x3A28);
    work.PostalCode = LevelText(level, 0x3A2A);
    work.Country = LevelText(level, 0x3A26);
    work.PoBox = LevelText(level, 0x3A2B);
  }
  TContactAddress home;
  home.Kind = "home";
  home.Street = LevelText(level, 0x3A5D);
  home.City = LevelText(level, 0x3A59);
  home.State = LevelText(level, 0x3A5C);
  home.PostalCode = LevelText(level, 0x3A5B);
  home.Country = LevelText(level, 0x3A5A);
  home.PoBox = LevelText(level, 0x3A5E);
  TContactAddress other;
  other.Kind = "other";
  other.Street = LevelText(level, 0x3A63);
  other.City = LevelText(level, 0x3A5F);
  other.State = LevelText(level, 0x3A62);
  other.PostalCode = LevelText(level, 0x3A61);
  other.Country = LevelText(level, 0x3A60);
  other.PoBox = LevelText(level, 0x3A64);
  for (TContactAddress* address : {&work, &home, &other}) {
    if (!address->IsEmpty())
      c.Addresses.push_back(std::move(*address));
  }

  for (std::u16string page :
       {n.Text(PSETID_Address, 0x802B), LevelText(level, 0x3A51), LevelText(level, 0x3A50)}) {
    if (!page.empty() && std::find(c.WebPages.begin(), c.WebPages.end(), page) == c.WebPages.end())
      c.WebPages.push_back(std::move(page));
  }

  c.Birthday = n.Time(PSETID_Address, 0x80DE);
  if (c.Birthday == 0)
    c.Birthday = LevelTime(level, 0x3A42);
  c.Birthday = CalendarDate(c.Birthday);
  c.Anniversary = n.Time(PSETID_Address, 0x80DF);
  if (c.Anniversary == 0)
    c.Anniversary = LevelTime(level, 0x3A41);
  c.Anniversary = CalendarDate(c.Anniversary);

  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr)
      continue;
    const TMSGProperties& at = node->SubProperties();
    if (LevelInt(at, PID_ATTACHMENT_CONTACTPHOTO).value_or(0) == 0)
      continue;
    const TMSGProperty* data = FindAtLevel(at, PID_ATTACH_DATA, PT_BINARY);
    if (data == nullptr || !data->Value.IsBytes() || data->Value.Bytes().empty())
      continue;
    c.Photo = data->Value.Bytes();
    std::u16string declared = LevelText(at, PID_ATTACH_MIME_TAG);
    if (declared.empty()) {
      const std::u16string ext = Lower(LevelText(at, PID_ATTACH_EXTENSION));
      declared = ext == u".png" ? u"image/png" : ext == u".gif" ? u"image/gif" : u"image/jpeg";
    }
    c.PhotoType = SniffImageType(c.Photo, declared);
    break;
  }
  return c;
}

// A one-off entry id: flags, the one-off provider's UID, version and flags, then the display
// name, address type and address as zero-terminated strings (UTF-16 when flag 0x8000 is set).
static bool ParseOneOffEntryId(const std::string& id, TDistListMember& member) {
  static const std::string kOneOff(
      "\x81\x2B\x1F\xA4\xBE\xA3\x10\x19\x9D\x6E\x00\xDD\x01\x0F\x54\x02", 16);
  if (id.size() < 24 || id.compare(4, 16, kOneOff) != 0)
    return false;
  Reader r(id, 20);
  r.U16(); // version
  const uint16_t flags = r.U16();
  const bool unicode = (flags & 0x8000) != 0;
  auto next = [&]() {
    std::u16string s;
    if (unicode) {
      while (r.Has(2)) {
        const char16_t c = static_cast<char16_t>(r.U16());
        if (c == 0)
          break;
        s.push_back(c);
      }
    } else {
      std::string bytes;
      while (r.Has(1)) {
        const char c = static_cast<char>(r.U8());
        if (c == 0)
          break;
        bytes.push_back(c);
      }
      s = DecodeStoredText(bytes, 0);
    }
    return s;
  };
  member.Name = next();
  const std::u16string type = Lower(next());
  member.Address = next();
  return type == u"smtp" || member.Address.find(u'@') != std::u16string::npos;
}

TDistList ReadDistList(const TMSGProperties& level) {
  TDistList list;
  const Named n{level};
  list.Name = n.Text(PSETID_Address, 0x8053);
  if (list.Name.empty())
    list.Name = LevelText(level, PID_DISPLAY_NAME);
  if (list.Name.empty())
    list.Name = level.GetSubject();
  list.Body = level.GetBody();
  const TMSGProperty* members = n.Find(PSETID_Address, 0x8054, PT_MV_BINARY);
  if (members == nullptr)
    members = n.Find(PSETID_Address, 0x8055, PT_MV_BINARY);
  if (members != nullptr && members->Value.IsMulti()) {
    for (const TVariant& item : members->Value.Multi().Items) {
      TDistListMember member;
      if (item.IsBytes() && ParseOneOffEntryId(item.Bytes(), member))
        list.Members.push_back(std::move(member));
    }
  }
  return list;
}

// --- Tasks and notes ---

TTask ReadTask(const TMSGProperties& level) {
  TTask t;
  const Named n{level};
  t.Subject = level.GetSubject();
  t.Body = level.GetBody();
  t.Owner = n.Text(PSETID_Task, 0x811F);
  t.Status = static_cast<int>(n.Int(PSETID_Task, 0x8101).value_or(0));
  t.PercentComplete = std::clamp(n.Double(PSETID_Task, 0x8102), 0.0, 1.0);
  t.StartDate = CalendarDate(n.Time(PSETID_Task, 0x8104));
  t.DueDate = CalendarDate(n.Time(PSETID_Task, 0x8105));
  t.DateCompleted = CalendarDate(n.Time(PSETID_Task, 0x810F));
  t.Importance =
      static_cast<int>(std::clamp<int64_t>(LevelInt(level, PID_IMPORTANCE).value_or(1), 0, 2));
  if (n.Bool(PSETID_Task, 0x8126)) {
    const std::string recur = n.Bytes(PSETID_Task, 0x8116);
    if (!recur.empty())
      t.Recurrence = ParseRecurrence(recur, false);
  }
  t.ReminderSet = n.Bool(PSETID_Common, 0x8503);
  t.ReminderUtc = n.Time(PSETID_Common, 0x8502);
  t.StampUtc = StampOf(level);
  const std::string id = n.Bytes(PSETID_Common, 0x8519);
  t.Uid = id.size() == 16 ? GuidText(reinterpret_cast<const unsigned char*>(id.data()))
                          : EncodeUtf8(HexUpper(LevelBytes(level, PID_SEARCH_KEY)));
  if (t.Uid.size() > 2 && t.Uid.front() == '{')
    t.Uid = t.Uid.substr(1, t.Uid.size() - 2);
  return t;
}

TNote ReadNote(const TMSGProperties& level) {
  TNote note;
  const Named n{level};
  note.Text = level.GetBody();
  note.Colour = static_cast<int>(std::clamp<int64_t>(n.Int(PSETID_Note, 0x8B00).value_or(3), 0, 4));
  return note;
}

} // namespace orlendo
