// The content lines that iCalendar (RFC 5545) and vCard (RFC 6350) share: NAME;PARAMS:VALUE,
// folded at 75 octets, ended by CR LF, text values escaped.
#pragma once

#include <string>
#include <string_view>

namespace orlendo {

// A text value with backslash, semicolon, comma and line breaks escaped (CR LF, CR and LF become
// "\n"). UTF-8 in and out.
std::string EscapeContentText(std::string_view utf8);

// A parameter value, in double quotes when it holds ":", ";" or ","; double quotes inside it,
// which no parameter value can hold, become single quotes and control characters blanks.
std::string ContentParameter(std::string_view utf8);

// Appends one content line to out: folded so that no line is longer than 75 octets (a UTF-8
// sequence is never split), each continuation starting with a blank, ended by CR LF.
void AppendContentLine(std::string& out, std::string_view line);

} // namespace orlendo
