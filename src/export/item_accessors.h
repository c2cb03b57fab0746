// Items that are not mail: appointments and meeting messages, contacts and distribution lists,
// tasks and sticky notes, read from one message level into plain records for the preview and
// the iCalendar and vCard writers.
//
// Their properties are mostly named properties: each is found through the map of the file the
// level is stored in, by property set and numeric id (LID), never by a fixed property id, since
// ids from 0x8000 up are assigned per file. Times of the model are local date-times with the
// offset that holds now (as the readers make them); the records below hold UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/qvmsg.h"

namespace orlendo {

enum class TItemKind {
  Mail,
  Appointment,
  MeetingRequest,
  MeetingResponse,
  MeetingCancellation,
  Contact,
  DistributionList,
  Task,
  TaskRequest,
  StickyNote
};

enum class TMeetingResponse { None, Accepted, Tentative, Declined };

// The kind by the message class (case-insensitive, a class and its subclasses: "IPM.Contact.X"
// is a contact); anything else is mail.
TItemKind GetItemKind(const TMSGProperties& level);
// The answer of a meeting response (".Resp.Pos", ".Resp.Tent", ".Resp.Neg"); None otherwise.
TMeetingResponse GetMeetingResponse(const TMSGProperties& level);
// The message class of level as stored (trailing zeros removed), "" when it has none.
std::u16string GetMessageClass(const TMSGProperties& level);

// Raised by the iCalendar and vCard writers for an item of another kind.
class EWrongItemKind : public EMSGError {
public:
  using EMSGError::EMSGError;
};
// The messages of that error, naming the item's message class.
std::string NotACalendarItemMessage(const TMSGProperties& level);
std::string NotAContactMessage(const TMSGProperties& level);

inline bool IsCalendarKind(TItemKind kind) {
  return kind == TItemKind::Appointment || kind == TItemKind::MeetingRequest ||
         kind == TItemKind::MeetingResponse || kind == TItemKind::MeetingCancellation;
}

// Property sets of the named properties read here (GUID text as the map holds it).
inline constexpr char PSETID_Appointment[] = "{00062002-0000-0000-C000-000000000046}";
inline constexpr char PSETID_Meeting[] = "{6ED8DA90-450B-101B-98DA-00AA003F1305}";
inline constexpr char PSETID_Common[] = "{00062008-0000-0000-C000-000000000046}";
inline constexpr char PSETID_Address[] = "{00062004-0000-0000-C000-000000000046}";
inline constexpr char PSETID_Task[] = "{00062003-0000-0000-C000-000000000046}";
inline constexpr char PSETID_Note[] = "{0006200E-0000-0000-C000-000000000046}";

// The record of a named property at level (this level and its property stream, not below),
// with type (0 for any type); null when the file's map does not name it or the level lacks it.
const TMSGProperty* FindNamedProperty(const TMSGProperties& level, const char* setGuid,
                                      uint32_t lid, uint16_t type = 0);

// --- Time zones (the TZDEFINITION and TZSTRUCT structures) ---

// A transition as SYSTEMTIME holds it: Month 0 means no transition; Day is the week of the month
// (1..4, 5 = last) and DayOfWeek 0 = Sunday, unless Year is set (then a fixed date).
struct TZoneTransition {
  int Year = 0, Month = 0, DayOfWeek = 0, Day = 0, Hour = 0, Minute = 0;
};
struct TZoneRule {
  int Year = 0; // the first year the rule holds
  int Bias = 0; // UTC = local + Bias (minutes)
  int StandardBias = 0;
  int DaylightBias = 0;
  TZoneTransition StandardDate, DaylightDate;
  bool HasDaylight() const { return StandardDate.Month != 0 && DaylightDate.Month != 0; }
};
struct TTimeZone {
  std::u16string Name;          // the zone's key name ("Tokyo Standard Time"), may be empty
  std::vector<TZoneRule> Rules; // by year, ascending; empty when unknown
  bool IsKnown() const { return !Rules.empty(); }
  // The rule in force in year.
  const TZoneRule& RuleFor(int year) const;
  // Offset from UTC in minutes (east positive) at a UTC instant, and at a local wall time.
  int OffsetAtUtc(TDateTime utc) const;
  int OffsetAtLocal(TDateTime local) const;
  TDateTime ToLocal(TDateTime utc) const;
  TDateTime ToUtc(TDateTime local) const;
};
// A TZDEFINITION blob (PidLidAppointmentTimeZoneDefinition*); unknown zone when malformed.
TTimeZone ParseTimeZoneDefinition(const std::string& bytes);
// A TZSTRUCT blob (PidLidTimeZoneStruct) with its description as the name.
TTimeZone ParseTimeZoneStruct(const std::string& bytes, const std::u16string& name);

// --- Recurrence (the RecurrencePattern and AppointmentRecurrencePattern structures) ---

enum class TRecurFrequency { None, Daily, Weekly, Monthly, Yearly };
enum class TRecurEnd { Never, ByDate, AfterCount };

struct TRecurException {
  TDateTime OriginalStart = 0; // local wall times in the recurrence's zone
  TDateTime Start = 0, End = 0;
  std::optional<std::u16string> Subject, Location;
  std::optional<int> BusyStatus;
  std::optional<bool> ReminderSet;
  std::optional<int> ReminderDelta;
  std::u16string Body; // from the exception's embedded message, when it has one
};

struct TRecurrence {
  TRecurFrequency Frequency = TRecurFrequency::None;
  int PatternType = 0; // 0 day, 1 week, 2 month, 3 nth weekday of month, 4 last day of month
  int Interval = 1;    // in days, weeks, months or years
  int DayMask = 0;     // bit 0 Sunday .. bit 6 Saturday (weekly and nth patterns)
  int DayOfMonth = 0;  // month patterns
  int Nth = 0;         // 1..4, 5 = last (nth patterns)
  int MonthOfYear = 0; // yearly patterns, 1..12
  int FirstDayOfWeek = 0;
  TRecurEnd End = TRecurEnd::Never;
  int OccurrenceCount = 0;
  TDateTime StartDate = 0, EndDate = 0; // local midnights
  int StartMinutes = 0, EndMinutes = 0; // of an occurrence, from its day's midnight
  std::vector<TDateTime> DeletedDates;  // local midnights of the original starts
  std::vector<TDateTime> ModifiedDates; // local midnights of the changed occurrences' starts
  std::vector<TRecurException> Exceptions;
  bool IsValid() const { return Frequency != TRecurFrequency::None; }
};
// A RecurrencePattern, optionally followed by the appointment's part; invalid when malformed.
TRecurrence ParseRecurrence(const std::string& bytes, bool appointment);
// The deleted dates that no exception replaces (by its original start): the occurrences that
// are cancelled.
std::vector<TDateTime> CancelledDates(const TRecurrence& recurrence);

// --- Appointments and meeting messages ---

struct TAttendee {
  std::u16string Name, Address;
  int Type = 1;     // 1 required, 2 optional, 3 resource
  int Response = 0; // 0 none, 1 organizer, 2 tentative, 3 accepted, 4 declined, 5 not responded
  bool Organizer = false;
};

struct TAppointment {
  TItemKind Kind = TItemKind::Appointment;
  TMeetingResponse Response = TMeetingResponse::None;
  std::u16string Subject, Location, Body;
  TDateTime StartUtc = 0, EndUtc = 0;
  bool AllDay = false;
  int BusyStatus = 2; // 0 free, 1 tentative, 2 busy, 3 out of office, 4 working elsewhere
  bool ReminderSet = false;
  int ReminderMinutes = 15;
  bool IsMeeting = false;
  std::u16string OrganizerName, OrganizerAddress;
  std::vector<TAttendee> Attendees;
  TTimeZone StartZone, EndZone;
  TRecurrence Recurrence; // invalid when the item does not recur
  std::string Uid;
  int Sequence = 0;
  TDateTime StampUtc = 0;
};
TAppointment ReadAppointment(const TMSGProperties& level);

// --- Contacts and distribution lists ---

struct TContactEmail {
  std::u16string DisplayName, Address;
};
struct TContactPhone {
  const char* Kind; // "work", "home", "cell", "fax", "pager", "car", "main", "other", ...
  bool Fax = false;
  std::u16string Number;
};
struct TContactAddress {
  const char* Kind = ""; // "work", "home", "other"
  std::u16string PoBox, Street, City, State, PostalCode, Country;
  bool IsEmpty() const {
    return PoBox.empty() && Street.empty() && City.empty() && State.empty() && PostalCode.empty() &&
           Country.empty();
  }
};
struct TContact {
  std::u16string DisplayName, GivenName, MiddleName, Surname, Prefix, Suffix, Nickname;
  std::u16string Company, JobTitle, Department, Body, FileUnder;
  std::vector<TContactEmail> Emails;
  std::vector<TContactPhone> Phones;
  std::vector<TContactAddress> Addresses;
  std::vector<std::u16string> WebPages;
  TDateTime Birthday = 0, Anniversary = 0; // calendar dates (the time of day is not kept)
  std::string Photo;                       // image bytes
  std::string PhotoType;                   // "image/jpeg", "image/png", ...
};
TContact ReadContact(const TMSGProperties& level);

struct TDistListMember {
  std::u16string Name, Address;
};
struct TDistList {
  std::u16string Name, Body;
  std::vector<TDistListMember> Members;
};
TDistList ReadDistList(const TMSGProperties& level);

// --- Tasks and notes ---

struct TTask {
  std::u16string Subject, Body, Owner;
  int Status = 0;             // 0 not started, 1 in progress, 2 complete, 3 waiting, 4 deferred
  double PercentComplete = 0; // 0 .. 1
  TDateTime StartDate = 0, DueDate = 0, DateCompleted = 0; // calendar dates
  int Importance = 1;                                      // 0 low, 1 normal, 2 high
  TRecurrence Recurrence;
  bool ReminderSet = false;
  TDateTime ReminderUtc = 0;
  TDateTime StampUtc = 0;
  std::string Uid;
};
TTask ReadTask(const TMSGProperties& level);

struct TNote {
  std::u16string Text;
  int Colour = 3; // 0 blue, 1 green, 2 pink, 3 yellow, 4 white
};
TNote ReadNote(const TMSGProperties& level);

// A model date-time (local with the offset of now) as UTC, and back.
TDateTime ModelTimeToUtc(TDateTime local);

} // namespace orlendo
