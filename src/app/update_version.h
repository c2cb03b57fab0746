// What the update check makes of the version document: the versions it compares and the text
// it shows.
#pragma once

#include <string>

namespace orlendo {

// The version that the document's "<Program_Version>" element names, as "v" followed by at most
// ten characters of its text (cut before the first "<" or line end, surrounding blanks
// removed); "<unknown>" when the element is missing or empty.
std::string RemoteVersion(const std::string& document);
// The short form of a version string: "v2.6" for "v2.6 (build 471)".
std::string LocalVersion(const std::string& programVersion);
// Whether remote names a later version than local. Dot-separated parts compare as numbers
// (so 10.0 is later than 2.6), a part's non-digit rest as text; missing parts count as 0.
// "<unknown>" is never later.
bool IsNewerVersion(const std::string& remote, const std::string& local);

// The message that reports the outcome: the current version with the new one and where to get
// it, or the current version and that it is the latest. Uses the current message strings.
std::string UpdateResultMessage(const std::string& document, const std::string& programVersion);

// text with its first "%s" replaced by value.
std::string FormatMessage(const std::string& text, const std::string& value);

} // namespace orlendo
