#include "export/ics_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "export/content_lines.h"
#include "export/item_accessors.h"
#include "model/stream.h"
#include "model/utf8.h"
#include "text/datetime.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr double kMinutesPerDay = 1440.0;
const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string U8(const std::u16string& s) {
  return EncodeUtf8(s);
}

TDateTimeParts Parts(TDateTime t) {
  // Whole seconds: the fraction of a date-time is not exact.
  return SplitDateTime(std::round(t * 86400.0) / 86400.0);
}

std::string DateText(TDateTime t) {
  const TDateTimeParts p = Parts(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.Year, p.Month, p.Day);
  return buf;
}

std::string LocalText(TDateTime t) {
  const TDateTimeParts p = Parts(t);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

std::string UtcText(TDateTime t) {
  return LocalText(t) + "Z";
}

// The UTC offset, in minutes, of a time zone whose bias (UTC minus local time) is the sum of
// biases. A damaged item may claim any biases; an offset beyond a day is none that a calendar
// reads, so it is kept to the largest one the format has.
int UtcOffsetOfBias(int64_t bias, int64_t extraBias) {
  return static_cast<int>(std::clamp<int64_t>(-(bias + extraBias), -(23 * 60 + 59), 23 * 60 + 59));
}

std::string OffsetText(int minutes) {
  char buf[16];
  const int a = std::abs(minutes);
  std::snprintf(buf, sizeof buf, "%c%02d%02d", minutes < 0 ? '-' : '+', a / 60, a % 60);
  return buf;
}

TDateTime NowUtc() {
  return std::time(nullptr) / 86400.0 + 25569.0;
}

class Calendar {
public:
  void Line(const std::string& line) { AppendContentLine(out_, line); }
  void Text(const char* name, std::u16string value) {
    // Bodies end in line breaks that no calendar shows.
    while (!value.empty() && value.back() <= u' ')
      value.pop_back();
    if (!value.empty())
      Line(std::string(name) + ":" + EscapeContentText(U8(value)));
  }
  std::string Take() { return std::move(out_); }

private:
  std::string out_;
};

// A time of an item: in its zone with TZID when the zone is known, else in UTC.
struct TimeWriter {
  const TTimeZone& zone;
  bool allDay;
  std::string Param() const {
    return zone.IsKnown() && !zone.Name.empty() ? ";TZID=" + ContentParameter(U8(zone.Name))
                                                : std::string();
  }
  bool Zoned() const { return zone.IsKnown() && !zone.Name.empty(); }
  // name;TZID=...:local, name:utcZ, or name;VALUE=DATE:date, for an instant.
  std::string Instant(const char* name, TDateTime utc) const {
    if (allDay)
      return std::string(name) + ";VALUE=DATE:" + DateText(Zoned() ? zone.ToLocal(utc) : utc);
    if (Zoned())
      return name + Param() + ":" + LocalText(zone.ToLocal(utc));
    return std::string(name) + ":" + UtcText(utc);
  }
  // The same for a wall time of the zone.
  std::string Local(const char* name, TDateTime local) const {
    if (allDay)
      return std::string(name) + ";VALUE=DATE:" + DateText(local);
    if (Zoned())
      return name + Param() + ":" + LocalText(local);
    return std::string(name) + ":" + UtcText(local);
  }
};

void WriteTimeZone(Calendar& cal, const TTimeZone& zone, int year) {
  if (!zone.IsKnown() || zone.Name.empty())
    return;
  const TZoneRule& rule = zone.RuleFor(year);
  const int standard = UtcOffsetOfBias(rule.Bias, rule.StandardBias);
  const int daylight = UtcOffsetOfBias(rule.Bias, rule.DaylightBias);
  cal.Line("BEGIN:VTIMEZONE");
  cal.Line("TZID:" + EscapeContentText(U8(zone.Name)));
  auto observance = [&](const char* kind, const TZoneTransition& t, int from, int to) {
    cal.Line(std::string("BEGIN:") + kind);
    // The first onset in 1601, the year Windows rules count from. Built from its parts: a
    // date-time before 1900 is negative, and its fraction counts the other way.
    TDateTimeParts p;
    p.Year = 1601;
    p.Month = t.Month;
    p.Day = 1;
    const int firstDow = DayOfWeek(JoinDateTime(p));
    int day = 1 + (t.DayOfWeek - firstDow + 7) % 7 + (std::max(1, std::min(t.Day, 5)) - 1) * 7;
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    while (day > kMonthDays[t.Month - 1])
      day -= 7;
    p.Day = day;
    p.Hour = t.Hour;
    p.Minute = t.Minute;
    const TDateTime onset = JoinDateTime(p);
    cal.Line("DTSTART:" + LocalText(onset));
    cal.Line("TZOFFSETFROM:" + OffsetText(from));
    cal.Line("TZOFFSETTO:" + OffsetText(to));
    const int nth = t.Day >= 5 ? -1 : std::max(1, t.Day);
    cal.Line("RRULE:FREQ=YEARLY;BYMONTH=" + std::to_string(t.Month) +
             ";BYDAY=" + std::to_string(nth) + kDays[t.DayOfWeek]);
    cal.Line(std::string("END:") + kind);
  };
  if (rule.HasDaylight()) {
    observance("STANDARD", rule.StandardDate, daylight, standard);
    observance("DAYLIGHT", rule.DaylightDate, standard, daylight);
  } else {
    cal.Line("BEGIN:STANDARD");
    cal.Line("DTSTART:16010101T000000");
    cal.Line("TZOFFSETFROM:" + OffsetText(standard));
    cal.Line("TZOFFSETTO:" + OffsetText(standard));
    cal.Line("END:STANDARD");
  }
  cal.Line("END:VTIMEZONE");
}

std::string DayList(int mask) {
  std::string days;
  for (int d = 0; d < 7; ++d) {
    if (mask & (1 << d)) {
      if (!days.empty())
        days += ",";
      days += kDays[d];
    }
  }
  return days;
}

// The RRULE of a pattern; until is the last occurrence's start as the RRULE needs it.
std::string RecurrenceRule(const TRecurrence& r, const std::string& until) {
  std::string rule = "RRULE:FREQ=";
  switch (r.Frequency) {
  case TRecurFrequency::Daily:
    rule += "DAILY";
    break;
  case TRecurFrequency::Weekly:
    rule += "WEEKLY";
    break;
  case TRecurFrequency::Monthly:
    rule += "MONTHLY";
    break;
  case TRecurFrequency::Yearly:
    rule += "YEARLY";
    break;
  case TRecurFrequency::None:
    return {};
  }
  if (r.Interval > 1)
    rule += ";INTERVAL=" + std::to_string(r.Interval);
  if (r.Frequency == TRecurFrequency::Yearly)
    rule += ";BYMONTH=" + std::to_string(r.MonthOfYear);
  if (r.Frequency == TRecurFrequency::Weekly) {
    rule += ";BYDAY=" + DayList(r.DayMask);
  } else if (r.Frequency == TRecurFrequency::Monthly || r.Frequency == TRecurFrequency::Yearly) {
    if (r.PatternType == 3) {
      rule += ";BYDAY=" + DayList(r.DayMask);
      rule += ";BYSETPOS=" + std::to_string(r.Nth >= 5 ? -1 : std::max(1, r.Nth));
    } else if (r.PatternType == 4 || r.DayOfMonth >= 31) {
      rule += ";BYMONTHDAY=-1";
    } else if (r.DayOfMonth >= 29) {
      // Outlook takes the last day of a month that is too short; RRULE would skip the month.
      std::string days;
      for (int d = 28; d <= r.DayOfMonth; ++d)
        days += (days.empty() ? "" : ",") + std::to_string(d);
      rule += ";BYMONTHDAY=" + days + ";BYSETPOS=-1";
    } else {
      rule += ";BYMONTHDAY=" + std::to_string(std::max(1, r.DayOfMonth));
    }
  }
  if (r.End == TRecurEnd::AfterCount && r.OccurrenceCount > 0)
    rule += ";COUNT=" + std::to_string(r.OccurrenceCount);
  else if (r.End != TRecurEnd::Never && !until.empty())
    rule += ";UNTIL=" + until;
  if (r.Frequency == TRecurFrequency::Weekly)
    rule += std::string(";WKST=") + kDays[r.FirstDayOfWeek];
  return rule;
}

std::string MailTo(const std::u16string& address) {
  return "mailto:" + U8(address);
}

std::string PartStat(int response) {
  switch (response) {
  case 2:
    return "TENTATIVE";
  case 3:
    return "ACCEPTED";
  case 4:
    return "DECLINED";
  default:
    return "NEEDS-ACTION";
  }
}

void WriteOrganizer(Calendar& cal, const std::u16string& name, const std::u16string& address) {
  if (address.empty() && name.empty())
    return;
  std::string line = "ORGANIZER";
  if (!name.empty())
    line += ";CN=" + ContentParameter(U8(name));
  cal.Line(line + ":" + (address.empty() ? "mailto:" + U8(name) : MailTo(address)));
}

void WriteAttendee(Calendar& cal, const TAttendee& a, const std::string& partStat, bool rsvp) {
  std::string line = "ATTENDEE";
  if (!a.Name.empty())
    line += ";CN=" + ContentParameter(U8(a.Name));
  if (a.Type == 3)
    line += ";CUTYPE=RESOURCE;ROLE=NON-PARTICIPANT";
  else
    line += a.Type == 2 ? ";ROLE=OPT-PARTICIPANT" : ";ROLE=REQ-PARTICIPANT";
  line += ";PARTSTAT=" + partStat;
  if (rsvp)
    line += ";RSVP=TRUE";
  cal.Line(line + ":" + (a.Address.empty() ? "mailto:" + U8(a.Name) : MailTo(a.Address)));
}

const char* BusyText(int status) {
  switch (status) {
  case 0:
    return "FREE";
  case 1:
    return "TENTATIVE";
  case 3:
    return "OOF";
  case 4:
    return "WORKINGELSEWHERE";
  default:
    return "BUSY";
  }
}

void WriteAlarm(Calendar& cal, int minutes) {
  cal.Line("BEGIN:VALARM");
  cal.Line("ACTION:DISPLAY");
  cal.Line("DESCRIPTION:Reminder");
  cal.Line("TRIGGER:-PT" + std::to_string(std::max(0, minutes)) + "M");
  cal.Line("END:VALARM");
}

void WriteEvent(Calendar& cal, const TAppointment& a) {
  const TTimeZone& zone = a.StartZone;
  const TimeWriter at{zone, a.AllDay};
  const TimeWriter atEnd{a.EndZone.IsKnown() ? a.EndZone : zone, a.AllDay};
  const TRecurrence& r = a.Recurrence;
  const bool recurs = r.IsValid() && a.Kind != TItemKind::MeetingResponse;
  const TDateTime stamp = a.StampUtc != 0 ? a.StampUtc : NowUtc();
  const std::u16string organizerName = a.OrganizerName, organizerAddress = a.OrganizerAddress;
  const bool reply = a.Kind == TItemKind::MeetingResponse;

  auto common = [&](const std::u16string& summary, const std::u16string& location,
                    const std::u16string& body, int busy) {
    cal.Line("UID:" + EscapeContentText(a.Uid));
    cal.Line("DTSTAMP:" + UtcText(stamp));
    if (a.Sequence > 0)
      cal.Line("SEQUENCE:" + std::to_string(a.Sequence));
    cal.Text("SUMMARY", summary);
    cal.Text("LOCATION", location);
    cal.Text("DESCRIPTION", body);
    cal.Line(std::string("TRANSP:") + (busy == 0 ? "TRANSPARENT" : "OPAQUE"));
    cal.Line(std::string("X-MICROSOFT-CDO-BUSYSTATUS:") + BusyText(busy));
    if (a.Kind == TItemKind::MeetingCancellation)
      cal.Line("STATUS:CANCELLED");
    else if (a.IsMeeting && !reply)
      cal.Line("STATUS:CONFIRMED");
    if (reply) {
      // The one who answers is the sender; the organizer is whom the answer goes to.
      if (!a.Attendees.empty())
        WriteOrganizer(cal, a.Attendees.front().Name, a.Attendees.front().Address);
      TAttendee self;
      self.Name = organizerName;
      self.Address = organizerAddress;
      const char* answer = a.Response == TMeetingResponse::Accepted    ? "ACCEPTED"
                           : a.Response == TMeetingResponse::Tentative ? "TENTATIVE"
                           : a.Response == TMeetingResponse::Declined  ? "DECLINED"
                                                                       : "NEEDS-ACTION";
      WriteAttendee(cal, self, answer, false);
    } else if (a.IsMeeting) {
      WriteOrganizer(cal, organizerName, organizerAddress);
      for (const TAttendee& attendee : a.Attendees)
        WriteAttendee(cal, attendee, PartStat(attendee.Response),
                      a.Kind == TItemKind::MeetingRequest);
    }
  };

  cal.Line("BEGIN:VEVENT");
  TDateTime startLocal = zone.IsKnown() ? zone.ToLocal(a.StartUtc) : a.StartUtc;
  TDateTime endUtc = a.EndUtc;
  if (recurs && r.StartDate != 0) {
    // The series starts where its pattern does, which is where the first occurrence would be
    // even when that one is cancelled.
    startLocal = r.StartDate + r.StartMinutes / kMinutesPerDay;
    const TDateTime duration = r.EndMinutes > r.StartMinutes
                                   ? (r.EndMinutes - r.StartMinutes) / kMinutesPerDay
                                   : a.EndUtc - a.StartUtc;
    const TDateTime startUtc = zone.IsKnown() ? zone.ToUtc(startLocal) : startLocal;
    endUtc = startUtc + duration;
  }
  cal.Line(at.Local("DTSTART", startLocal));
  if (a.AllDay) {
    const TDateTime endLocal = atEnd.zone.IsKnown() ? atEnd.zone.ToLocal(endUtc) : endUtc;
    cal.Line("DTEND;VALUE=DATE:" + DateText(std::max(endLocal, startLocal + 1)));
  } else {
    cal.Line(atEnd.Instant("DTEND", endUtc));
  }
  common(a.Subject, a.Location, a.Body, a.BusyStatus);
  if (recurs) {
    std::string until;
    if (r.End == TRecurEnd::ByDate && r.EndDate != 0) {
      const TDateTime last = r.EndDate + r.StartMinutes / kMinutesPerDay;
      until = a.AllDay ? DateText(last) : UtcText(zone.IsKnown() ? zone.ToUtc(last) : last);
    }
    cal.Line(RecurrenceRule(r, until));
    for (TDateTime day : CancelledDates(r))
      cal.Line(at.Local("EXDATE", day + r.StartMinutes / kMinutesPerDay));
  }
  if (a.ReminderSet && !reply)
    WriteAlarm(cal, a.ReminderMinutes);
  cal.Line("END:VEVENT");

  if (!recurs)
    return;
  for (const TRecurException& e : r.Exceptions) {
    cal.Line("BEGIN:VEVENT");
    cal.Line(at.Local("RECURRENCE-ID", e.OriginalStart));
    cal.Line(at.Local("DTSTART", e.Start));
    if (a.AllDay)
      cal.Line("DTEND;VALUE=DATE:" + DateText(std::max(e.End, e.Start + 1)));
    else
      cal.Line(at.Local("DTEND", e.End));
    common(e.Subject.value_or(a.Subject), e.Location.value_or(a.Location),
           e.Body.empty() ? a.Body : e.Body, e.BusyStatus.value_or(a.BusyStatus));
    if (e.ReminderSet.value_or(a.ReminderSet))
      WriteAlarm(cal, e.ReminderDelta.value_or(a.ReminderMinutes));
    cal.Line("END:VEVENT");
  }
}

const char* TaskStatus(int status) {
  switch (status) {
  case 1:
    return "IN-PROCESS";
  case 2:
    return "COMPLETED";
  default:
    return "NEEDS-ACTION";
  }
}

void WriteTodo(Calendar& cal, const TTask& t) {
  cal.Line("BEGIN:VTODO");
  cal.Line("UID:" + EscapeContentText(t.Uid));
  cal.Line("DTSTAMP:" + UtcText(t.StampUtc != 0 ? t.StampUtc : NowUtc()));
  cal.Text("SUMMARY", t.Subject);
  cal.Text("DESCRIPTION", t.Body);
  if (t.StartDate != 0)
    cal.Line("DTSTART;VALUE=DATE:" + DateText(t.StartDate));
  if (t.DueDate != 0)
    cal.Line("DUE;VALUE=DATE:" + DateText(std::max(t.DueDate, t.StartDate)));
  cal.Line(std::string("STATUS:") + TaskStatus(t.Status));
  cal.Line("PERCENT-COMPLETE:" + std::to_string(static_cast<int>(std::lround(
                                     t.Status == 2 ? 100.0 : t.PercentComplete * 100))));
  if (t.Status == 2 && t.DateCompleted != 0)
    cal.Line("COMPLETED:" + UtcText(t.DateCompleted));
  cal.Line(std::string("PRIORITY:") + (t.Importance == 2 ? "1" : t.Importance == 0 ? "9" : "5"));
  if (t.Recurrence.IsValid() && t.StartDate != 0) {
    std::string until;
    if (t.Recurrence.End == TRecurEnd::ByDate && t.Recurrence.EndDate != 0)
      until = DateText(t.Recurrence.EndDate);
    cal.Line(RecurrenceRule(t.Recurrence, until));
  }
  if (t.ReminderSet && t.ReminderUtc != 0) {
    cal.Line("BEGIN:VALARM");
    cal.Line("ACTION:DISPLAY");
    cal.Line("DESCRIPTION:Reminder");
    cal.Line("TRIGGER;VALUE=DATE-TIME:" + UtcText(t.ReminderUtc));
    cal.Line("END:VALARM");
  }
  cal.Line("END:VTODO");
}

// The task of a task request travels as its embedded message.
const TMSGProperties& TaskLevel(const TMSGProperties& level) {
  if (GetItemKind(level) != TItemKind::TaskRequest)
    return level;
  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr || !node->IsEmbeddedMessage())
      continue;
    const TMSGProperty* object =
        node->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
    if (object != nullptr && GetItemKind(object->SubProperties()) == TItemKind::Task)
      return object->SubProperties();
  }
  return level;
}

} // namespace

bool HasICalendar(const TMSGProperties& level) {
  const TItemKind kind = GetItemKind(level);
  return IsCalendarKind(kind) || kind == TItemKind::Task || kind == TItemKind::TaskRequest;
}

std::string MakeICalendar(const TMSGProperties& level) {
  const TItemKind kind = GetItemKind(level);
  if (!HasICalendar(level))
    throw EWrongItemKind(NotACalendarItemMessage(level));
  Calendar cal;
  cal.Line("BEGIN:VCALENDAR");
  cal.Line("VERSION:2.0");
  cal.Line("PRODID:-//Norvane Software//Orlendo " ORLENDO_VERSION "//EN");
  cal.Line("CALSCALE:GREGORIAN");
  if (IsCalendarKind(kind)) {
    const TAppointment a = ReadAppointment(level);
    if (kind == TItemKind::MeetingRequest)
      cal.Line("METHOD:REQUEST");
    else if (kind == TItemKind::MeetingResponse)
      cal.Line("METHOD:REPLY");
    else if (kind == TItemKind::MeetingCancellation)
      cal.Line("METHOD:CANCEL");
    const int year =
        Parts(a.StartZone.IsKnown() ? a.StartZone.ToLocal(a.StartUtc) : a.StartUtc).Year;
    WriteTimeZone(cal, a.StartZone, year);
    if (a.EndZone.IsKnown() && a.EndZone.Name != a.StartZone.Name)
      WriteTimeZone(cal, a.EndZone, year);
    WriteEvent(cal, a);
  } else {
    WriteTodo(cal, ReadTask(TaskLevel(level)));
  }
  cal.Line("END:VCALENDAR");
  return cal.Take();
}

void SaveToICSFile(const TMSGProperties& level, const std::string& fileName) {
  const std::string text = MakeICalendar(level);
  TFileStream file(fileName, TFileStream::Create);
  file.WriteString(text);
}

} // namespace orlendo
