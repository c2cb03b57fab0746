// The header block of the preview for items that are not mail, as a calendar or an address
// book shows them: when and where, organizer and attendees, the recurrence in words and a
// banner for meeting messages; a contact card; a task's status and dates; a note's colour.
// Its texts are message strings, so a language file's "Custom" section translates them.
#pragma once

#include <QImage>
#include <QString>
#include <QTextBrowser>

#include "model/variant.h"

namespace orlendo {

class TMSGProperties;
struct TTimeZone;
struct TRecurrence;

// "Friday, 6 January 2023 12:00–13:00 (Tokyo Standard Time)": start and end (UTC) in the zone,
// the end's date left out when it is the start's; with allDay the dates alone. A zone that is
// not known shows local time.
QString FormatWhen(TDateTime startUtc, TDateTime endUtc, const TTimeZone& zone, bool allDay);

// The recurrence in words: "Every Friday from 6 January 2023 until 31 December 2023".
QString RecurrenceInWords(const TRecurrence& recurrence);

// The block's HTML for level; empty for mail. The contact picture, when there is one, is named
// "item-photo" in it, for the caller to add as a resource of the document.
QString ItemHeaderHtml(const TMSGProperties& level);

// The block in the preview: a read-only rich-text view, hidden for mail, as high as its text
// (up to half of the panel).
class TItemHeader : public QTextBrowser {
  Q_OBJECT
public:
  explicit TItemHeader(QWidget* parent = nullptr);
  // Shows level's block, or hides the view when level is mail or null. True when shown.
  bool ShowItem(const TMSGProperties* level);
  // Fits the height to the text, at most maxHeight.
  void FitHeight(int maxHeight);
  QVariant loadResource(int type, const QUrl& name) override;

private:
  QImage photo_;
};

} // namespace orlendo
