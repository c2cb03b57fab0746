// The pieces of MIME header handling that need no reader state: header-name matching, unquoting,
// parameters, address lists, priorities and the file name of a Content-Disposition.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/qvmsg.h"

namespace orlendo {

std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

// True when the first characters of line, upper-cased, equal name (upper case, colon included).
bool MatchesHeaderName(std::string_view line, std::string_view name);

// The value of a header line matched by name: the line after the colon without the blanks and
// TABs that follow the colon (a blank there is customary, not required).
std::string_view HeaderValue(std::string_view line, std::string_view name);

// Trims blanks and control characters, removes one leading double quote, then removes trailing
// TAB, LF, CR, blank and double-quote characters.
std::string_view Unquote(std::string_view text);

// The value of the parameter key ("charset=", "name=", "boundary=", with its "=") of a
// Content-Type value, found in the lower-cased value by plain search (so "name=" also finds
// "filename=") and cut from the value as written. A quoted value ends at its closing quote and an
// unquoted one at the next ";", so that the parameters after it do not become part of it; the
// result is unquoted. False when the key does not occur.
bool FindParameter(std::string_view value, std::string_view lowerValue, std::string_view key,
                   std::string& result);

// The priority of an X-Priority or Priority value: 1 for "urgent", -1 for "non-priority" (both
// searched in the lower-cased value), else 3 - n for the decimal number n before the first blank
// (n = 3 when that is not a number). So 1 gives 2, 3 and "normal" give 0, 5 gives -2.
int PriorityFromHeader(std::string_view value);

// One mailbox of an address list: the display name as written (quoted strings unquoted, blanks
// between words collapsed, encoded words not yet decoded) and the address. A mailbox without a
// display name takes the text of its comment as its name, as mail programs show it.
struct TAddressItem {
  std::string Name;
  std::string Address;
};

// Parses an address list (RFC 5322): mailboxes separated by commas, "name <address>" or a bare
// address with optional comments, and groups ("name: mailbox, ...;"), whose mailboxes are listed
// and whose names are dropped. A comma inside a quoted string, a comment or an address in angle
// brackets separates nothing. A semicolon outside a group separates like a comma, as some mail
// programs write lists. A mailbox without angle brackets whose text has blanks outside quotes and
// no "@" is a display name alone (its address is empty). Empty items are skipped. Each mailbox is
// handed to visit as it is parsed, so that a list of any length is never held whole.
void ForEachHeaderAddress(std::string_view value,
                          const std::function<void(TAddressItem& item)>& visit);

// The last path segment of a Content-Location that names an http, https or file URL; false for
// any other location.
bool ContentLocationFileName(std::string_view value, std::string& fileName);

// The file name that a Content-Disposition value gives: the RFC 2231 forms "filename*=" (charset,
// language, percent-encoded bytes) and "filename*0=", "filename*0*=", "filename*1*=" ... (sections
// joined in order; sections marked "*" are percent-decoded, the charset is that of section 0)
// come before the plain "filename=", whose encoded words are decoded. Bytes in a charset are
// converted by `hook` when it is set, else by DefaultDecodeCodepage. False when no file name is
// given.
bool DispositionFileName(std::string_view value, const TQvMSGConvertCodepage& hook, void* sender,
                         std::u16string& fileName);

} // namespace orlendo
