// iCalendar (RFC 5545) of calendar items and tasks: a VEVENT for an appointment or a meeting
// message (with its time zone as a VTIMEZONE, its recurrence as RRULE, cancelled occurrences
// as EXDATE and changed ones as events with a RECURRENCE-ID), a VTODO for a task.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// True when level is an item that SaveToICS writes: an appointment, a meeting request, response
// or cancellation, a task or a task request.
bool HasICalendar(const TMSGProperties& level);

// The calendar object of level, UTF-8 with CR LF line ends; METHOD is REQUEST, REPLY or CANCEL
// for meeting messages. Raises EWrongItemKind when level is no calendar item or task, before
// anything is made.
std::string MakeICalendar(const TMSGProperties& level);

// Writes MakeICalendar(level) into a new file (replacing an existing one); on the error above
// no file is created.
void SaveToICSFile(const TMSGProperties& level, const std::string& fileName);

} // namespace orlendo
