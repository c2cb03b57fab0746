#include "components/item_view.h"

#include <QImage>
#include <QStringList>
#include <QUrl>
#include <cmath>

#include "app/message_strings.h"
#include "components/html_view.h"
#include "export/item_accessors.h"
#include "model/qvmsg.h"
#include "text/datetime.h"

namespace orlendo {

namespace {

constexpr double kMinutesPerDay = 1440.0;

QString S(const char* key) {
  return QString::fromStdString(MessageString(key));
}

// A message string with its "%s" filled in order and "%%" as "%".
QString Fill(const char* key, const QStringList& args) {
  const QString text = S(key);
  QString out;
  int next = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
      out += next < args.size() ? args[next++] : QString();
      ++i;
    } else if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// One piece of a "|"-separated list string.
QString Piece(const char* key, int index) {
  const QStringList pieces = S(key).split('|');
  return index >= 0 && index < pieces.size() ? pieces[index].trimmed() : QString();
}

QString Esc(const QString& s) {
  return s.toHtmlEscaped();
}
QString Esc(const std::u16string& s) {
  return QString::fromStdU16String(s).toHtmlEscaped();
}

QDateTime ToQt(TDateTime value) {
  const TDateTimeParts p = SplitDateTime(std::round(value * 86400.0) / 86400.0);
  return QDateTime(QDate(p.Year, p.Month, p.Day), QTime(p.Hour, p.Minute, p.Second));
}

// Names and date forms come from the message strings, so that the language file that translates
// the window translates them too.
QString DayName(int day) {
  return Piece("strDayNames", day); // 0 = Sunday
}
QString MonthName(int month) {
  return Piece("strMonthNames", month - 1);
}

QString LongDate(TDateTime value) {
  const QDate d = ToQt(value).date();
  return Fill("strLongDate", {DayName(d.dayOfWeek() % 7), QString::number(d.day()),
                              MonthName(d.month()), QString::number(d.year())});
}
QString ShortDate(TDateTime value) {
  const QDate d = ToQt(value).date();
  return Fill("strShortDate",
              {QString::number(d.day()), MonthName(d.month()), QString::number(d.year())});
}
QString Time(TDateTime value) {
  return ToQt(value).time().toString("HH:mm");
}

QString DayList(int mask) {
  QStringList days;
  for (int d = 0; d < 7; ++d)
    if (mask & (1 << d))
      days << DayName(d);
  if (days.size() <= 1)
    return days.join(QString());
  const QString last = days.takeLast();
  return days.join(", ") + " " + S("strRecurAnd") + " " + last;
}

QString Row(const QString& label, const QString& valueHtml) {
  if (valueHtml.isEmpty())
    return {};
  return "<tr><td style=\"padding-right:8px; white-space:nowrap\"><b>" + Esc(label) +
         "</b></td><td>" + valueHtml + "</td></tr>";
}

QString Mail(const std::u16string& name, const std::u16string& address) {
  if (address.empty())
    return Esc(name);
  const QString a = QString::fromStdU16String(address);
  const QString link =
      "<a href=\"mailto:" + Esc(QString::fromUtf8(QUrl::toPercentEncoding(a, "@"))) + "\">" +
      Esc(a) + "</a>";
  return name.empty() || name == address ? link : Esc(name) + " &lt;" + link + "&gt;";
}

QString Banner(const QString& text, const char* colour) {
  return QString("<table width=\"100%\" cellpadding=\"4\"><tr><td bgcolor=\"") + colour +
         "\" style=\"color:white\"><b>" + Esc(text) + "</b></td></tr></table>";
}

QString AppointmentHtml(const TMSGProperties& level) {
  const TAppointment a = ReadAppointment(level);
  QString html;
  const QString subject = QString::fromStdU16String(a.Subject);
  switch (a.Kind) {
  case TItemKind::MeetingRequest:
    html += Banner(Fill("strMeetingRequest", {subject}), "#3366CC");
    break;
  case TItemKind::MeetingCancellation:
    html += Banner(Fill("strMeetingCanceled", {subject}), "#B03030");
    break;
  case TItemKind::MeetingResponse:
    html +=
        Banner(a.Response == TMeetingResponse::Accepted    ? Fill("strMeetingAccepted", {subject})
               : a.Response == TMeetingResponse::Tentative ? Fill("strMeetingTentative", {subject})
                                                           : Fill("strMeetingDeclined", {subject}),
               a.Response == TMeetingResponse::Accepted    ? "#2E7D32"
               : a.Response == TMeetingResponse::Tentative ? "#8A6D00"
                                                           : "#B03030");
    break;
  default:
    html += "<p style=\"font-size:large\"><b>" + Esc(subject) + "</b></p>";
    break;
  }
  html += "<table cellspacing=\"2\">";
  QString when = Esc(FormatWhen(a.StartUtc, a.EndUtc, a.StartZone, a.AllDay));
  // The reader's own time, when the item's zone says otherwise.
  if (!a.AllDay && a.StartZone.IsKnown() &&
      a.StartZone.OffsetAtUtc(a.StartUtc) !=
          std::lround((UtcToLocalDateTime(a.StartUtc) - a.StartUtc) * kMinutesPerDay))
    when += "<br>" + Esc(FormatWhen(a.StartUtc, a.EndUtc, TTimeZone{}, false));
  html += Row(S("strItemWhen"), when);
  html += Row(S("strItemWhere"), Esc(a.Location));
  if (a.Recurrence.IsValid()) {
    QString words = Esc(RecurrenceInWords(a.Recurrence));
    QStringList changes;
    const double start = a.Recurrence.StartMinutes / kMinutesPerDay;
    for (TDateTime day : CancelledDates(a.Recurrence))
      changes << Esc(Fill("strRecurCancelled", {ShortDate(day + start)}));
    for (const TRecurException& e : a.Recurrence.Exceptions)
      changes << Esc(
          Fill("strRecurMoved", {ShortDate(e.OriginalStart) + " " + Time(e.OriginalStart),
                                 ShortDate(e.Start) + " " + Time(e.Start)}));
    if (!changes.isEmpty())
      words += "<br>" + changes.join("<br>");
    html += Row(S("strItemRecurrence"), words);
  }
  if (a.IsMeeting) {
    html += Row(S("strItemOrganizer"), Mail(a.OrganizerName, a.OrganizerAddress));
    for (int type : {1, 2, 3}) {
      QStringList people;
      for (const TAttendee& at : a.Attendees)
        if (at.Type == type)
          people << Mail(at.Name, at.Address);
      html += Row(S(type == 1   ? "strItemRequired"
                    : type == 2 ? "strItemOptional"
                                : "strItemResources"),
                  people.join("; "));
    }
  }
  if (a.Kind != TItemKind::MeetingResponse && a.Kind != TItemKind::MeetingCancellation)
    html +=
        Row(S("strItemShowAs"), Esc(Piece("strItemBusyStatuses", std::clamp(a.BusyStatus, 0, 4))));
  if (a.ReminderSet && a.Kind != TItemKind::MeetingResponse)
    html += Row(S("strItemReminder"),
                Esc(Fill("strItemMinutesBefore", {QString::number(a.ReminderMinutes)})));
  return html + "</table>";
}

QString AddressHtml(const TContactAddress& a) {
  QStringList lines;
  for (const std::u16string* line : {&a.PoBox, &a.Street})
    if (!line->empty())
      lines << Esc(*line).replace("\r\n", "<br>").replace("\n", "<br>");
  QStringList cityLine;
  for (const std::u16string* part : {&a.PostalCode, &a.City, &a.State})
    if (!part->empty())
      cityLine << Esc(*part);
  if (!cityLine.isEmpty())
    lines << cityLine.join(" ");
  if (!a.Country.empty())
    lines << Esc(a.Country);
  return lines.join("<br>");
}

QString ContactHtml(const TMSGProperties& level) {
  const TContact c = ReadContact(level);
  QString card = "<table cellspacing=\"2\">";
  card +=
      "<tr><td colspan=\"2\" style=\"font-size:large\"><b>" + Esc(c.DisplayName) + "</b></td></tr>";
  card += Row(S("strContactCompany"), Esc(c.Company));
  card += Row(S("strContactDepartment"), Esc(c.Department));
  card += Row(S("strContactJobTitle"), Esc(c.JobTitle));
  QStringList mails;
  for (const TContactEmail& e : c.Emails)
    mails << Mail(std::u16string(), e.Address);
  card += Row(S("strContactEmail"), mails.join("<br>"));
  static const char* const kPhoneKinds[] = {"work",  "home",      "cell",     "main", "car",
                                            "pager", "assistant", "callback", "isdn", "radio",
                                            "telex", "textphone", "other"};
  QStringList phones;
  for (const TContactPhone& p : c.Phones) {
    int index = 12;
    for (int i = 0; i < 13; ++i)
      if (std::string(kPhoneKinds[i]) == p.Kind)
        index = i;
    if (p.Fax)
      index = std::string(p.Kind) == "work" ? 13 : std::string(p.Kind) == "home" ? 14 : 15;
    phones << Esc(QString::fromStdU16String(p.Number)) + " <i>(" +
                  Esc(Piece("strContactPhones", index)) + ")</i>";
  }
  card += Row(S("strContactPhone"), phones.join("<br>"));
  for (const TContactAddress& a : c.Addresses) {
    const std::string kind = a.Kind;
    card += Row(Piece("strContactAddresses", kind == "work"   ? 0
                                             : kind == "home" ? 1
                                                              : 2),
                AddressHtml(a));
  }
  QStringList pages;
  for (const std::u16string& url : c.WebPages) {
    QString u = QString::fromStdU16String(url);
    const QString href = u.contains("://") ? u : "http://" + u;
    pages << "<a href=\"" + Esc(href) + "\">" + Esc(u) + "</a>";
  }
  card += Row(S("strContactWeb"), pages.join("<br>"));
  if (c.Birthday != 0)
    card += Row(S("strContactBirthday"), Esc(ShortDate(c.Birthday)));
  if (c.Anniversary != 0)
    card += Row(S("strContactAnniversary"), Esc(ShortDate(c.Anniversary)));
  card += "</table>";
  if (c.Photo.empty())
    return card;
  return "<table><tr><td valign=\"top\" style=\"padding-right:10px\"><img src=\"item-photo\" "
         "width=\"96\"></td><td valign=\"top\">" +
         card + "</td></tr></table>";
}

QString DistListHtml(const TMSGProperties& level) {
  const TDistList list = ReadDistList(level);
  QStringList members;
  for (const TDistListMember& m : list.Members)
    members << Mail(m.Name, m.Address);
  return "<p style=\"font-size:large\"><b>" + Esc(list.Name) + "</b></p><table>" +
         Row(S("strDistListMembers"), members.join("<br>")) + "</table>";
}

QString TaskHtml(const TMSGProperties& level) {
  const TMSGProperties* task = &level;
  if (GetItemKind(level) == TItemKind::TaskRequest) {
    for (int i = 0; i < level.AttachmentCount(); ++i) {
      const TMSGProperty* node = level.GetAttachment(i);
      const TMSGProperty* object =
          node != nullptr ? node->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false)
                          : nullptr;
      if (object != nullptr && GetItemKind(object->SubProperties()) == TItemKind::Task)
        task = &object->SubProperties();
    }
  }
  const TTask t = ReadTask(*task);
  QString html =
      "<p style=\"font-size:large\"><b>" + Esc(t.Subject) + "</b></p><table cellspacing=\"2\">";
  html +=
      Row(S("strTaskStatus"),
          Esc(Piece("strTaskStatuses", t.Status) + ", " +
              Fill("strTaskComplete",
                   {QString::number(std::lround(t.Status == 2 ? 100 : t.PercentComplete * 100))})));
  if (t.StartDate != 0)
    html += Row(S("strTaskStart"), Esc(LongDate(t.StartDate)));
  if (t.DueDate != 0)
    html += Row(S("strTaskDue"), Esc(LongDate(t.DueDate)));
  if (t.Status == 2 && t.DateCompleted != 0)
    html += Row(S("strTaskCompleted"), Esc(LongDate(t.DateCompleted)));
  html += Row(S("strTaskPriority"), Esc(Piece("strTaskPriorities", t.Importance)));
  html += Row(S("strTaskOwner"), Esc(t.Owner));
  if (t.Recurrence.IsValid())
    html += Row(S("strItemRecurrence"), Esc(RecurrenceInWords(t.Recurrence)));
  return html + "</table>";
}

QString NoteHtml(const TMSGProperties& level) {
  const TNote note = ReadNote(level);
  static const char* const kColours[] = {"#C9E1F8", "#CDEBC4", "#F5CCE0", "#FFF7AF", "#F4F4F4"};
  return QString("<table width=\"100%\" cellpadding=\"6\"><tr><td bgcolor=\"") +
         kColours[note.Colour] + "\">" +
         Esc(QString::fromStdU16String(note.Text).trimmed())
             .replace("\r\n", "<br>")
             .replace("\n", "<br>") +
         "</td></tr></table><table>" +
         Row(S("strNoteColour"), Esc(Piece("strNoteColours", note.Colour))) + "</table>";
}

} // namespace

QString FormatWhen(TDateTime startUtc, TDateTime endUtc, const TTimeZone& zone, bool allDay) {
  if (startUtc == 0)
    return {};
  const bool zoned = zone.IsKnown();
  const TDateTime start = zoned ? zone.ToLocal(startUtc) : UtcToLocalDateTime(startUtc);
  const TDateTime end = zoned ? zone.ToLocal(endUtc) : UtcToLocalDateTime(endUtc);
  const QString zoneName =
      zoned && !zone.Name.empty() ? QString::fromStdU16String(zone.Name) : S("strItemLocalTime");
  if (allDay) {
    // An all-day item ends at the midnight after its last day.
    const TDateTime lastDay = std::max(start, end - 1.0 / kMinutesPerDay);
    QString text = LongDate(start);
    if (ToQt(lastDay).date() != ToQt(start).date())
      text += QString::fromUtf8(" \xE2\x80\x93 ") + LongDate(lastDay);
    return text + " (" + S("strItemAllDay") + ")";
  }
  QString text = LongDate(start) + " " + Time(start) + QString::fromUtf8("\xE2\x80\x93");
  if (ToQt(end).date() != ToQt(start).date())
    text += LongDate(end) + " ";
  return text + Time(end) + " (" + zoneName + ")";
}

QString RecurrenceInWords(const TRecurrence& r) {
  const QString n = QString::number(r.Interval);
  const QString nth = Piece("strRecurOrdinals", r.Nth >= 5 ? 4 : std::max(0, r.Nth - 1));
  const QString month = MonthName(std::clamp(r.MonthOfYear, 1, 12));
  QString text;
  switch (r.Frequency) {
  case TRecurFrequency::Daily:
    text = r.Interval == 1 ? S("strRecurDaily") : Fill("strRecurDays", {n});
    break;
  case TRecurFrequency::Weekly:
    text = r.Interval == 1 ? Fill("strRecurWeekly", {DayList(r.DayMask)})
                           : Fill("strRecurWeeks", {n, DayList(r.DayMask)});
    break;
  case TRecurFrequency::Monthly:
    if (r.PatternType == 3)
      text = r.Interval == 1 ? Fill("strRecurMonthlyNth", {nth, DayList(r.DayMask)})
                             : Fill("strRecurMonthsNth", {nth, DayList(r.DayMask), n});
    else if (r.PatternType == 4)
      text = S("strRecurLastDay");
    else
      text = r.Interval == 1 ? Fill("strRecurMonthly", {QString::number(r.DayOfMonth)})
                             : Fill("strRecurMonths", {QString::number(r.DayOfMonth), n});
    break;
  case TRecurFrequency::Yearly:
    if (r.PatternType == 3)
      text = Fill("strRecurYearlyNth", {nth, DayList(r.DayMask), month});
    else
      text = Fill("strRecurYearly", {QString::number(r.DayOfMonth) + " " + month});
    break;
  case TRecurFrequency::None:
    return {};
  }
  if (r.StartDate != 0)
    text += " " + Fill("strRecurFrom", {ShortDate(r.StartDate)});
  if (r.End == TRecurEnd::ByDate && r.EndDate != 0)
    text += " " + Fill("strRecurUntil", {ShortDate(r.EndDate)});
  else if (r.End == TRecurEnd::AfterCount)
    text += ", " + Fill("strRecurTimes", {QString::number(r.OccurrenceCount)});
  return text;
}

QString ItemHeaderHtml(const TMSGProperties& level) {
  const TItemKind kind = GetItemKind(level);
  switch (kind) {
  case TItemKind::Mail:
    return {};
  case TItemKind::Contact:
    return ContactHtml(level);
  case TItemKind::DistributionList:
    return DistListHtml(level);
  case TItemKind::Task:
  case TItemKind::TaskRequest:
    return TaskHtml(level);
  case TItemKind::StickyNote:
    return NoteHtml(level);
  default:
    return AppointmentHtml(level);
  }
}

TItemHeader::TItemHeader(QWidget* parent) : QTextBrowser(parent) {
  setObjectName("pnlItem");
  setReadOnly(true);
  setOpenLinks(false);
  setFrameShape(QFrame::NoFrame);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { OpenExternalLink(url); });
  hide();
}

QVariant TItemHeader::loadResource(int type, const QUrl& name) {
  // The block shows the item's own picture and nothing from anywhere else.
  if (type == QTextDocument::ImageResource && name == QUrl("item-photo") && !photo_.isNull())
    return photo_;
  return QVariant();
}

bool TItemHeader::ShowItem(const TMSGProperties* level) {
  clear();
  const QString html = level != nullptr ? ItemHeaderHtml(*level) : QString();
  if (html.isEmpty()) {
    hide();
    return false;
  }
  photo_ = QImage();
  if (GetItemKind(*level) == TItemKind::Contact) {
    const TContact c = ReadContact(*level);
    if (!c.Photo.empty())
      photo_.loadFromData(reinterpret_cast<const uchar*>(c.Photo.data()),
                          static_cast<int>(c.Photo.size()));
  }
  setHtml(html);
  show();
  return true;
}

void TItemHeader::FitHeight(int maxHeight) {
  document()->setTextWidth(viewport()->width() > 50 ? viewport()->width() : 500);
  const int wanted =
      static_cast<int>(std::ceil(document()->size().height())) + 2 * frameWidth() + 4;
  setFixedHeight(std::max(20, std::min(wanted, maxHeight)));
}

} // namespace orlendo
