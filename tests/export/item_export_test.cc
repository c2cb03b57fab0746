// Calendar items and contacts of the corpus, exported by `quillet FILE /E ics|vcf`: Python's
// icalendar and vobject must read every file we write, and what they read must equal what an
// independent reader of the .msg (the npm package @kenjiuno/msgreader, when it is installed)
// finds: start, end, summary, location, attendees, recurrence (the RRULE expanded by dateutil
// against the occurrences of the stored pattern), names, mail addresses and phone numbers.
//
// msgreader is looked for in $ORLENDO_MSGREADER (the package folder), else in
// ~/.local/share/orlendo-peers/node_modules/@kenjiuno/msgreader
// (npm install --prefix ~/.local/share/orlendo-peers @kenjiuno/msgreader).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "../tools/item_builder.h"
#include "export/ics_writer.h"
#include "export/item_accessors.h"
#include "export/vcard_writer.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::CorpusFiles;
using testutil::CorpusPath;
using testutil::RunProcess;
using testutil::TempDir;

std::unique_ptr<TQvMSGFile> Load(const std::string& path) {
  auto message = std::make_unique<TQvMSGFile>();
  message->LoadFromFile(path);
  return message;
}

std::string MsgReaderDir() {
  if (const char* dir = std::getenv("ORLENDO_MSGREADER"))
    return dir;
  const char* home = std::getenv("HOME");
  const std::string dir = std::string(home != nullptr ? home : "/root") +
                          "/.local/share/orlendo-peers/node_modules/@kenjiuno/msgreader";
  return std::filesystem::exists(dir + "/package.json") ? dir : std::string();
}

// Prints what msgreader finds in a .msg as JSON.
constexpr char kMsgReaderFacts[] = R"JS(
const MsgReader = require(process.argv[1]).default;
const fs = require('fs');
const d = new MsgReader(fs.readFileSync(process.argv[2])).getFileData();
const out = {};
for (const k of ['messageClass', 'subject', 'apptStartWhole', 'apptEndWhole', 'apptLocation',
                 'apptRecur', 'givenName', 'surname', 'middleName', 'companyName',
                 'email1EmailAddress', 'email2EmailAddress', 'email3EmailAddress',
                 'businessTelephoneNumber', 'homeTelephoneNumber', 'mobileTelephoneNumber',
                 'businessFaxNumber'])
  if (d[k] !== undefined) out[k] = d[k];
out.recipients = (d.recipients || []).map(r => ({name: r.name, email: r.email,
                                                 smtp: r.smtpAddress, type: r.recipType}));
fs.writeFileSync(process.argv[3], JSON.stringify(out));
)JS";

// Reads one exported file; with the facts of msgreader, compares. Prints one problem per line,
// then "checked".
constexpr char kPythonCheck[] = R"PY(
import sys, json, datetime, email.utils, io, base64
from icalendar import Calendar
import vobject
from dateutil import rrule

kind, path, facts_path, ansi = sys.argv[1:5]
facts = json.load(open(facts_path, encoding='utf-8')) if facts_path != '-' else None
ansi = ansi == '1'
problems = []
def problem(text):
    problems.append(text)
text = open(path, 'rb').read().decode('utf-8')
UTC = datetime.timezone.utc

def peer_time(value):
    return email.utils.parsedate_to_datetime(value).astimezone(UTC)

if kind == 'ics':
    cal = Calendar.from_ical(text)
    vobject.readOne(text)
    zones = {str(z['TZID']): z.to_tz() for z in cal.walk('VTIMEZONE')}
    def aware(prop):
        dt = prop.dt
        if isinstance(dt, datetime.datetime) and dt.tzinfo is None:
            tzid = prop.params.get('TZID')
            if tzid is not None:
                dt = zones[str(tzid)].localize(dt)
        return dt
    events = cal.walk('VEVENT')
    todos = cal.walk('VTODO')
    if not events and not todos:
        problem('no VEVENT or VTODO')
    masters = [e for e in events if 'RECURRENCE-ID' not in e]
    overrides = [e for e in events if 'RECURRENCE-ID' in e]
    if facts is not None and masters:
        m = masters[0]
        if str(m.get('SUMMARY', '')) != facts.get('subject', '') and not ansi:
            problem('summary %r, msgreader %r' % (str(m.get('SUMMARY', '')), facts.get('subject')))
        if str(m.get('LOCATION', '')) != facts.get('apptLocation', '') and not ansi:
            problem('location %r, msgreader %r' % (str(m.get('LOCATION', '')),
                                                   facts.get('apptLocation')))
        start = aware(m['DTSTART']).astimezone(UTC)
        end = aware(m['DTEND']).astimezone(UTC)
        if 'apptStartWhole' in facts and start != peer_time(facts['apptStartWhole']):
            problem('start %s, msgreader %s' % (start, facts['apptStartWhole']))
        if 'apptEndWhole' in facts and end != peer_time(facts['apptEndWhole']):
            problem('end %s, msgreader %s' % (end, facts['apptEndWhole']))
        if 'ORGANIZER' in m:
            known = set()
            for r in facts['recipients']:
                for a in (r.get('smtp'), r.get('email')):
                    if a:
                        known.add(a.lower())
            attendees = m.get('ATTENDEE', [])
            if not isinstance(attendees, list):
                attendees = [attendees]
            for a in attendees:
                address = str(a).lower().replace('mailto:', '')
                if address not in known:
                    problem('attendee %s is no recipient' % address)
        recur = facts.get('apptRecur')
        if recur is not None:
            if 'RRULE' not in m:
                problem('no RRULE for a recurring item')
            else:
                pattern = recur['recurrencePattern']
                # Occurrences are wall times of the item's zone: expand naive, with UNTIL
                # (which is UTC) brought into the zone.
                first_start = aware(m['DTSTART'])
                zone = first_start.tzinfo
                def wall(dt):
                    if isinstance(dt, datetime.datetime) and dt.tzinfo is not None:
                        return zone.normalize(dt.astimezone(zone)).replace(tzinfo=None) if hasattr(zone, 'normalize') else dt.astimezone(zone).replace(tzinfo=None)
                    return dt
                rule = m['RRULE']
                if 'UNTIL' in rule:
                    rule = dict(rule)
                    rule['UNTIL'] = [wall(u) for u in rule['UNTIL']]
                    from icalendar.prop import vRecur
                    rule = vRecur(rule)
                rules = rrule.rruleset()
                rules.rrule(rrule.rrulestr(rule.to_ical().decode(), dtstart=wall(first_start)))
                exdates = m.get('EXDATE', [])
                if not isinstance(exdates, list):
                    exdates = [exdates]
                for ex in exdates:
                    for d in ex.dts:
                        rules.exdate(wall(d.dt) if d.dt.tzinfo is not None else d.dt)
                got = list(rules)
                # The pattern's own occurrences, from its stored fields (minutes since 1601 in
                # the item's zone): weekly and daily patterns, ended by date or count.
                base = datetime.datetime(1601, 1, 1)
                def at(minutes):
                    return base + datetime.timedelta(minutes=minutes)
                first = at(pattern['startDate'] + recur['startTimeOffset'])
                freq, period = pattern['recurFrequency'], pattern['period']
                want = []
                day = first
                last = at(pattern['endDate'] + recur['startTimeOffset'])
                count = pattern['occurrenceCount']
                weekstart = first - datetime.timedelta(days=(first.weekday() + 1 - pattern['firstDOW']) % 7)
                while len(want) < count and day <= last:
                    if pattern['patternType'] == 1:
                        bits = pattern['patternTypeWeek']['dayOfWeekBits']
                        week = (day - weekstart).days // 7
                        if bits & (1 << ((day.weekday() + 1) % 7)) and week % period == 0:
                            want.append(day)
                        day += datetime.timedelta(days=1)
                    elif pattern['patternType'] == 0:
                        want.append(day)
                        day += datetime.timedelta(minutes=period)
                    else:
                        break
                # A changed occurrence stays in the set under its RECURRENCE-ID; only the
                # deleted ones that no exception replaces are excluded.
                moved = {at(e['originalStartTime']).date() for e in recur.get('exceptionInfo', [])}
                deleted = {at(d).date() for d in pattern['deletedInstanceDates']} - moved
                want = [w for w in want if w.date() not in deleted]
                if pattern['patternType'] in (0, 1) and got != want:
                    problem('RRULE gives %d occurrences %s..., the pattern %d %s...' %
                            (len(got), got[:3], len(want), want[:3]))
                changed = {at(e['originalStartTime']): e for e in recur.get('exceptionInfo', [])}
                seen = set()
                for o in overrides:
                    rid = aware(o['RECURRENCE-ID']).replace(tzinfo=None)
                    if rid not in changed:
                        problem('RECURRENCE-ID %s names no changed occurrence' % rid)
                        continue
                    seen.add(rid)
                    e = changed[rid]
                    if aware(o['DTSTART']).replace(tzinfo=None) != at(e['startDateTime']):
                        problem('changed occurrence starts %s, msgreader %s' %
                                (o['DTSTART'].dt, at(e['startDateTime'])))
                    if 'subject' in e and str(o.get('SUMMARY', '')) != e['subject']:
                        problem('changed summary %r, msgreader %r' % (str(o.get('SUMMARY')), e['subject']))
                    if 'location' in e and str(o.get('LOCATION', '')) != e['location']:
                        problem('changed location %r, msgreader %r' % (str(o.get('LOCATION')), e['location']))
                if seen != set(changed):
                    problem('changed occurrences %s, msgreader %s' % (sorted(seen), sorted(changed)))
    print(json.dumps({'events': len(events), 'todos': len(todos),
                      'rrule': masters[0]['RRULE'].to_ical().decode() if masters and 'RRULE' in masters[0] else '',
                      'overrides': len(overrides)}))
else:
    card = vobject.readOne(text)
    fn = card.fn.value
    emails = {e.value.lower() for e in card.contents.get('email', [])}
    tels = {t.value for t in card.contents.get('tel', [])}
    n = card.n.value
    if facts is not None:
        if not ansi:
            for ours, theirs in ((n.given, 'givenName'), (n.family, 'surname'),
                                 (n.additional, 'middleName')):
                if theirs in facts and ours != facts[theirs]:
                    problem('%s %r, msgreader %r' % (theirs, ours, facts[theirs]))
            if 'companyName' in facts and facts['companyName']:
                org = card.org.value[0] if 'org' in card.contents else ''
                if org != facts['companyName']:
                    problem('company %r, msgreader %r' % (org, facts['companyName']))
        for k in ('email1EmailAddress', 'email2EmailAddress', 'email3EmailAddress'):
            if facts.get(k) and facts[k].lower() not in emails:
                problem('mail %s missing' % facts[k])
        for k in ('businessTelephoneNumber', 'homeTelephoneNumber', 'mobileTelephoneNumber',
                  'businessFaxNumber'):
            if facts.get(k) and facts[k] not in tels:
                problem('phone %s (%s) missing' % (facts[k], k))
    photo = ''
    # vobject decodes PHOTO as vCard 3 text, which ends at the first comma; the vCard 4 value is
    # a data: URI, taken here from vobject's own parse of the content line.
    for line, _ in vobject.base.getLogicalLines(io.StringIO(text)):
        name, params, value, group = vobject.base.parseLine(line)
        if name.upper() == 'PHOTO':
            head, _, data = value.partition(',')
            photo = '%s %d' % (head[5:].split(';')[0], len(base64.b64decode(data)))
    bday = card.bday.value if 'bday' in card.contents else ''
    print(json.dumps({'fn': fn, 'emails': sorted(emails), 'tels': sorted(tels), 'photo': photo,
                      'bday': bday}))
for p in problems:
    print('problem: ' + p)
print('checked')
)PY";

// The items of the corpus: every .msg whose class is a calendar item or a contact.
struct CorpusItem {
  std::string path;
  TItemKind kind;
  bool ansi; // 8-bit strings, which msgreader does not decode in their code page
};

std::vector<CorpusItem> CorpusItems() {
  std::vector<CorpusItem> items;
  for (const std::string& path : CorpusFiles("msg", ".msg")) {
    std::unique_ptr<TQvMSGFile> message;
    try {
      message = Load(path);
    } catch (const std::exception&) {
      continue;
    }
    const TMSGProperties& root = message->Properties();
    const TItemKind kind = GetItemKind(root);
    if (HasICalendar(root) || HasVCard(root))
      items.push_back({path, kind, root.FindProperty(0x001A001F, false, false) == nullptr});
  }
  return items;
}

TEST(ItemKind, FromTheMessageClass) {
  const struct {
    const char* file;
    TItemKind kind;
  } cases[] = {
      {"msg/kmr_Appointment_sample_EST.msg", TItemKind::Appointment},
      {"msg/kmr_Lanch_time_every_friday_in_2023_chgs2.msg", TItemKind::Appointment},
      {"msg/poi_msgClassAppointment.msg", TItemKind::Appointment},
      {"msg/poi_msgClassContact.msg", TItemKind::Contact},
      {"msg/kmr_contactAnsi.msg", TItemKind::Contact},
      {"msg/poi_msgClassStickyNote.msg", TItemKind::StickyNote},
      {"msg/kmr_voteYes.msg", TItemKind::Mail},
      // "IPM.Note" followed by a zero, and a class of garbage bytes.
      {"msg/kmr_newOutlook_Microsoft_Outlook_test.msg", TItemKind::Mail},
      {"msg/poi_unknown_properties.msg", TItemKind::Mail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(GetItemKind(Load(CorpusPath(c.file))->Properties()), c.kind);
  }
  EXPECT_GE(CorpusItems().size(), 6u);
}

// The weekly lunch of 2023 in Tokyo time: cancelled on 6 January, moved from 13 to 12 January
// with a subject and place of its own (as its body says).
TEST(ItemRecurrence, WeeklyPatternWithACancelledAndAChangedOccurrence) {
  const auto message = Load(CorpusPath("msg/kmr_Lanch_time_every_friday_in_2023_chgs2.msg"));
  const TAppointment a = ReadAppointment(message->Properties());
  const TRecurrence& r = a.Recurrence;
  ASSERT_TRUE(r.IsValid());
  EXPECT_EQ(r.Frequency, TRecurFrequency::Weekly);
  EXPECT_EQ(r.DayMask, 1 << 5);
  EXPECT_EQ(r.End, TRecurEnd::ByDate);
  EXPECT_EQ(r.StartMinutes, 12 * 60);
  EXPECT_EQ(a.StartZone.Name, u"Tokyo Standard Time");
  EXPECT_EQ(a.StartZone.OffsetAtUtc(a.StartUtc), 9 * 60);
  const std::vector<TDateTime> cancelled = CancelledDates(r);
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_EQ(SplitDateTime(cancelled[0]).Day, 6);
  ASSERT_EQ(r.Exceptions.size(), 1u);
  const TRecurException& e = r.Exceptions[0];
  EXPECT_EQ(SplitDateTime(e.OriginalStart).Day, 13);
  EXPECT_EQ(SplitDateTime(e.Start).Day, 12);
  EXPECT_EQ(e.Location.value_or(u""), u"Awesome coffee shop");
  EXPECT_NE(e.Subject.value_or(u"").find(u"[rescheduled!]"), std::u16string::npos);
}

// Every cut of a stored pattern and of a zone definition reads without going past its end: the
// pattern is whole or not valid at all, a cut zone has only its whole rules.
TEST(ItemRecurrence, CutBlobsReadNoFurtherThanTheirEnd) {
  const auto message = Load(CorpusPath("msg/kmr_Lanch_time_every_friday_in_2023_chgs2.msg"));
  const TMSGProperty* recur =
      FindNamedProperty(message->Properties(), PSETID_Appointment, 0x8216, 0x0102);
  const TMSGProperty* zone =
      FindNamedProperty(message->Properties(), PSETID_Appointment, 0x825E, 0x0102);
  ASSERT_NE(recur, nullptr);
  ASSERT_NE(zone, nullptr);
  const std::string& pattern = recur->Value.Bytes();
  const std::string& definition = zone->Value.Bytes();
  for (size_t n = 0; n < pattern.size(); ++n) {
    // The copy is exactly n bytes, so that a read past it is a read outside the blob.
    const std::string cut = pattern.substr(0, n);
    const TRecurrence r = ParseRecurrence(cut, true);
    if (n < 50)
      EXPECT_FALSE(r.IsValid()) << n;
  }
  EXPECT_TRUE(ParseRecurrence(pattern, true).IsValid());
  for (size_t n = 0; n < definition.size(); ++n)
    EXPECT_FALSE(ParseTimeZoneDefinition(definition.substr(0, n)).IsKnown()) << n;
  EXPECT_TRUE(ParseTimeZoneDefinition(definition).IsKnown());
}

// Eastern time changes twice a year, and the rules changed in 2007: the definition of the
// item's end holds both rule sets.
TEST(ItemTimeZone, DaylightSavingTimeByTheRulesOfTheYear) {
  const auto message = Load(CorpusPath("msg/kmr_Appointment_sample_EST.msg"));
  const TTimeZone zone = ReadAppointment(message->Properties()).EndZone;
  ASSERT_TRUE(zone.IsKnown());
  EXPECT_EQ(zone.Name, u"Eastern Standard Time");
  auto utc = [](int y, int m, int d, int h) {
    TDateTimeParts p;
    p.Year = y, p.Month = m, p.Day = d, p.Hour = h;
    return JoinDateTime(p);
  };
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 12, 4, 13)), -5 * 60);
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 7, 1, 12)), -4 * 60);
  // 13 March 2022, 02:00 EST is 07:00 UTC: an hour before it is winter, an hour after summer.
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 3, 13, 6)), -5 * 60);
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 3, 13, 8)), -4 * 60);
  // 6 November 2022, 02:00 EDT is 06:00 UTC.
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 11, 6, 5)), -4 * 60);
  EXPECT_EQ(zone.OffsetAtUtc(utc(2022, 11, 6, 7)), -5 * 60);
  // Before 2007 summer time began in April.
  EXPECT_EQ(zone.OffsetAtUtc(utc(2006, 3, 20, 12)), -5 * 60);
  EXPECT_EQ(zone.OffsetAtUtc(utc(2006, 4, 3, 12)), -4 * 60);
}

TEST(ItemExport, PythonReadsEveryItemAsMsgReaderDoes) {
  if (!testutil::PythonHasModule("icalendar") || !testutil::PythonHasModule("vobject") ||
      !testutil::PythonHasModule("dateutil"))
    GTEST_SKIP() << "python3-icalendar, python3-vobject or python3-dateutil is missing";
  const std::string msgreader = MsgReaderDir();
  if (msgreader.empty())
    std::printf("msgreader is not installed: the files are read, not compared\n");
  TempDir work;
  // Besides the corpus, the kinds it lacks, written as .msg files by our writer.
  std::vector<CorpusItem> items = CorpusItems();
  {
    TQvMessage meeting;
    tools::BuildMeetingRequest(meeting.Properties());
    SaveToMSG(meeting.Properties(), work.File("meeting.msg"), true);
    items.push_back({work.File("meeting.msg"), TItemKind::MeetingRequest, false});
    TQvMessage task;
    tools::BuildTask(task.Properties());
    SaveToMSG(task.Properties(), work.File("task.msg"), true);
    items.push_back({work.File("task.msg"), TItemKind::Task, false});
    TQvMessage contact;
    tools::BuildContact(contact.Properties());
    SaveToMSG(contact.Properties(), work.File("contact.msg"), true);
    items.push_back({work.File("contact.msg"), TItemKind::Contact, false});
  }
  int n = 0;
  for (const CorpusItem& item : items) {
    SCOPED_TRACE(item.path);
    const bool calendar =
        item.kind != TItemKind::Contact && item.kind != TItemKind::DistributionList;
    const std::string target = work.File(std::to_string(n++) + (calendar ? ".ics" : ".vcf"));
    const auto run =
        RunProcess(QUILLET_EXE, {item.path, "/E", calendar ? "ics" : "vcf", target, "/NOINI"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string facts = "-";
    if (!msgreader.empty()) {
      facts = target + ".json";
      const auto peer =
          RunProcess("/usr/bin/node", {"-e", kMsgReaderFacts, msgreader, item.path, facts});
      ASSERT_EQ(peer.exitCode, 0) << peer.err;
    }
    const auto check = testutil::RunPython(
        kPythonCheck, {calendar ? "ics" : "vcf", target, facts, item.ansi ? "1" : "0"});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.out.find("problem:"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("checked"), std::string::npos) << check.out;
    if (item.kind == TItemKind::MeetingRequest) {
      EXPECT_NE(check.out.find("FREQ=WEEKLY;COUNT=6;INTERVAL=2;BYDAY=TU,TH"), std::string::npos)
          << check.out;
    }
    if (item.path == work.File("contact.msg")) {
      EXPECT_NE(check.out.find("\"photo\": \"image/png 69\""), std::string::npos) << check.out;
      EXPECT_NE(check.out.find("\"bday\": \"19900702\""), std::string::npos) << check.out;
    }
    if (item.kind == TItemKind::Task) {
      EXPECT_NE(check.out.find("\"todos\": 1"), std::string::npos) << check.out;
    }
    if (item.path.find("every_friday") != std::string::npos) {
      EXPECT_NE(check.out.find("FREQ=WEEKLY"), std::string::npos) << check.out;
      EXPECT_NE(check.out.find("\"overrides\": 1"), std::string::npos) << check.out;
    }
  }
}

// A mail asked for as a calendar or a card, and a contact asked for as a calendar: a clear
// error, exit code 3, and no file.
TEST(ItemExport, AnItemOfAnotherKindWritesNothing) {
  TempDir work;
  const struct {
    const char* file;
    const char* format;
  } cases[] = {
      {"msg/kmr_voteYes.msg", "ics"},
      {"msg/kmr_voteYes.msg", "vcf"},
      {"msg/poi_msgClassContact.msg", "ics"},
      {"msg/kmr_Appointment_sample_EST.msg", "vcf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.format);
    const std::string target = work.File(std::string("out.") + c.format);
    const auto run =
        RunProcess(QUILLET_EXE, {CorpusPath(c.file), "/E", c.format, target, "/NOINI"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("message class"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(work.Path()));
  }
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// The EML of a meeting request offers the calendar object as an alternative of its body, with
// method=REQUEST in the part's type and METHOD:REQUEST inside.
TEST(ItemExport, MeetingRequestMailCarriesItsCalendar) {
  if (!testutil::PythonHasModule("icalendar"))
    GTEST_SKIP() << "python3-icalendar is missing";
  TempDir work;
  TQvMessage meeting;
  tools::BuildMeetingRequest(meeting.Properties());
  meeting.SaveToEMLFile(work.File("meeting.eml"));
  const auto check = testutil::RunPython(R"PY(
import sys, email, email.policy
from icalendar import Calendar
m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
for part in m.walk():
    if part.get_content_type() == 'text/calendar':
        print(m.get_content_type(), part.get_param('method'),
              Calendar.from_ical(part.get_content())['METHOD'],
              [p.get_content_type() for p in m.iter_parts()])
)PY",
                                         {work.File("meeting.eml")});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(check.out, "multipart/alternative REQUEST REQUEST ['text/plain', 'text/calendar']\n");
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// The kinds that travel as answers and lists: a response is a REPLY with the answer as the
// sender's PARTSTAT, a cancellation a CANCEL of a cancelled event, a distribution list a group
// card with its members.
TEST(ItemExport, ResponsesCancellationsAndListsAsTheirReadersExpect) {
  if (!testutil::PythonHasModule("icalendar") || !testutil::PythonHasModule("vobject"))
    GTEST_SKIP() << "python3-icalendar or python3-vobject is missing";
  TempDir work;
  const struct {
    const char* messageClass;
    const char* expected;
  } cases[] = {
      {"IPM.Schedule.Meeting.Resp.Pos", "REPLY ACCEPTED mailto:maria.lindqvist@example.org -"},
      {"IPM.Schedule.Meeting.Resp.Tent", "REPLY TENTATIVE mailto:maria.lindqvist@example.org -"},
      {"IPM.Schedule.Meeting.Resp.Neg", "REPLY DECLINED mailto:maria.lindqvist@example.org -"},
      {"IPM.Schedule.Meeting.Canceled",
       "CANCEL NEEDS-ACTION mailto:jonas.weber@example.org CANCELLED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messageClass);
    TQvMessage meeting;
    tools::BuildMeetingRequest(meeting.Properties(), c.messageClass);
    std::ofstream(work.File("m.ics"), std::ios::binary) << MakeICalendar(meeting.Properties());
    const auto check = testutil::RunPython(R"PY(
import sys
from icalendar import Calendar
cal = Calendar.from_ical(open(sys.argv[1], encoding='utf-8').read())
e = cal.walk('VEVENT')[0]
a = e['ATTENDEE']
a = a[0] if isinstance(a, list) else a
print(cal['METHOD'], a.params['PARTSTAT'], str(a), e.get('STATUS', '-'))
)PY",
                                           {work.File("m.ics")});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.out, std::string(c.expected) + "\n");
  }
  // All day: dates, not times, and the same six days.
  TQvMessage allDay;
  tools::BuildMeetingRequest(allDay.Properties(), "IPM.Schedule.Meeting.Request", true);
  std::ofstream(work.File("d.ics"), std::ios::binary) << MakeICalendar(allDay.Properties());
  const auto days = testutil::RunPython(R"PY(
import sys
from icalendar import Calendar
from dateutil import rrule
e = Calendar.from_ical(open(sys.argv[1], encoding='utf-8').read()).walk('VEVENT')[0]
start = e['DTSTART'].dt
print(start, e['DTEND'].dt,
      [str(d) for d in rrule.rrulestr(e['RRULE'].to_ical().decode(), dtstart=start)])
)PY",
                                        {work.File("d.ics")});
  ASSERT_EQ(days.exitCode, 0) << days.err;
  EXPECT_EQ(days.out, "2024-03-05 2024-03-06 ['2024-03-05 00:00:00', '2024-03-07 00:00:00', "
                      "'2024-03-19 00:00:00', '2024-03-21 00:00:00', '2024-04-02 00:00:00', "
                      "'2024-04-04 00:00:00']\n");

  TQvMessage list;
  tools::BuildDistList(list.Properties());
  std::ofstream(work.File("l.vcf"), std::ios::binary) << MakeVCard(list.Properties());
  const auto check = testutil::RunPython(R"PY(
import sys, vobject
card = vobject.readOne(open(sys.argv[1], encoding='utf-8').read())
print(card.kind.value, card.fn.value, [m.value for m in card.contents['member']])
)PY",
                                         {work.File("l.vcf")});
  ASSERT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(check.out, "group Release team ['mailto:jonas.weber@example.org', "
                       "'mailto:aiko.tanaka@example.org']\n");
}

} // namespace
} // namespace orlendo
