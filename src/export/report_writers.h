// The report writers: one message level as plain text, HTML or XML, each a short summary
// (sender, date, recipients, subject, body) and, on request, the whole property tree.
//
// Output is UTF-8 with CR LF line ends; the HTML and XML documents declare "utf-8". No charset
// conversion happens here: the text comes from the accessors as Unicode and goes out as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

// Each writer raises EMSGError("Stream is not defined") when stream is null, before writing
// anything. Errors of the stream propagate; what was written stays written.
void SaveToTXT(const TMSGProperties& level, TStream* stream, bool includeProperties);
void SaveToHTML(const TMSGProperties& level, TStream* stream, bool includeProperties);
// The document is well formed whatever the values hold: "]]>" inside a value splits its CDATA
// section, and characters that XML 1.0 forbids (controls other than TAB, LF and CR; U+FFFE,
// U+FFFF) are written as "%XX" per byte, as the HTML escaper writes control characters.
void SaveToXML(const TMSGProperties& level, TStream* stream, bool includeProperties);

// The file variants create the file anew (replacing an existing one); a file that cannot be
// created raises EMSGError naming it.
void SaveToTXTFile(const TMSGProperties& level, const std::string& fileName,
                   bool includeProperties);
void SaveToHTMLFile(const TMSGProperties& level, const std::string& fileName,
                    bool includeProperties);
void SaveToXMLFile(const TMSGProperties& level, const std::string& fileName,
                   bool includeProperties);

// A date-time as the reports show it: long day name, long month name (both of the user's
// LC_TIME locale, English in the C locale), two-digit day, four-digit year, 12-hour clock and
// "am"/"pm", as in "Monday, December 07, 2026 09:05:03 am". Empty for a date that cannot be
// shown (not finite, or beyond the calendar).
std::string FormatReportDate(TDateTime dateTime);

// The text of a value inside a CDATA section: "<![CDATA[" ... "]]>" that an XML 1.0 parser reads
// back as the same characters, "]]>" and forbidden characters handled as SaveToXML says.
std::string XmlCData(const std::string& utf8);

// A binary value as the reports and --dump show it: the first 32 bytes as hex pairs separated
// by blanks, "... " when more follow, then the size ("00 FF 1B (3 bytes)").
std::string BinaryValueText(std::string_view bytes);

// Replaces the characters XML 1.0 forbids by "%XX" per byte; everything else stays.
std::string XmlSafeText(const std::string& utf8);

} // namespace orlendo
