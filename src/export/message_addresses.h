// The people of a message as Internet addresses: the sender and the recipients by kind, each with
// the SMTP address that the message holds for them.
//
// An Outlook message names Exchange users by an X.500 distinguished name ("/O=.../CN=...") that
// no mail program outside that organisation can use; most such messages also carry the SMTP
// address of the same person somewhere else. These functions look in every place the message
// holds it, so that the EML writer, the reports and the preview all show the same, usable
// addresses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/qvmsg.h"

namespace orlendo {

// One person: a display name and an Internet address (such as "ann@example.org").
// Either may be empty; Address is never an X.500 name or other non-Internet address.
struct TMailAddress {
  std::u16string Name;
  std::u16string Address;
  bool operator==(const TMailAddress&) const = default;
};
using TMailAddressList = std::vector<TMailAddress>;

// Recipient kinds, the values of RECIPIENT_TYPE (0x0C15).
enum class TRecipientKind { To = 1, Cc = 2, Bcc = 3 };

// True when address is an Internet address: a local part, "@" and a domain, without blanks,
// control characters or the characters that delimit addresses in a header.
bool IsInternetAddress(std::u16string_view address);

// The sender of the message of level: SENT_REPRESENTING_NAME (else SENDER_NAME) with the first
// SMTP address found among SENDER_SMTP_ADDRESS, SENT_REPRESENTING_SMTP_ADDRESS, the sender's
// own address when it is an Internet address, the From field of the transport headers, a
// recipient of the same X.500 address or name, and the creator's or last modifier's SMTP
// address when they carry the sender's name. Both parts empty when the message names no sender.
TMailAddress GetSenderAddress(const TMSGProperties& level);

// The recipients of one kind, in the order of the recipient table. When the table gives no
// recipient a kind (an Internet message read without it), the transport headers' field of that
// kind decides, else the display list of the kind (DISPLAY_TO, ...). A recipient without an SMTP
// address of its own takes the address that the transport headers give its name.
TMailAddressList GetRecipientAddresses(const TMSGProperties& level, TRecipientKind kind);

// The To, Cc and Bcc recipients (GetRecipientAddresses of each), read in one pass over the
// recipient table.
struct TRecipientLists {
  TMailAddressList To;
  TMailAddressList Cc;
  TMailAddressList Bcc;
  const TMailAddressList& Of(TRecipientKind kind) const {
    return kind == TRecipientKind::To ? To : kind == TRecipientKind::Cc ? Cc : Bcc;
  }
};
TRecipientLists GetRecipientLists(const TMSGProperties& level);

// The mailboxes of an RFC 5322 address list (a From, To or Cc field value, unfolded, UTF-8):
// display names decoded (quoted strings, RFC 2047 encoded words, or a comment after a bare
// address), group names dropped and their members kept, "," and ";" both taken as separators.
// Items that are no Internet address keep their text as a name without address.
TMailAddressList ParseAddressList(std::string_view value);

// The transport headers of level (GetTransportHeaders) as UTF-8. An 8-bit record that is valid
// UTF-8 is copied as it is, which spares the wide copy of a header block that may be as large as
// the file.
std::string TransportHeaderText(const TMSGProperties& level);
// The same without a copy where the record's bytes are the text: a view of them, else of the
// text made in storage. The view lives as long as the record and storage do.
std::string_view TransportHeaderView(const TMSGProperties& level, std::string& storage);

// The unfolded value of the first header field named name (case-insensitive, without the colon)
// in a header block; empty when there is none.
std::string HeaderFieldValue(std::string_view headers, std::string_view name);
// Where the line of headers that goes on at pos ends: its first CR or LF, or the end. Two memchr
// scans, not a set lookup per byte, so that a header line of megabytes is found fast.
size_t HeaderLineEnd(std::string_view headers, size_t pos);

// One person as the reports show it: "Name <address>" (the name quoted as QuoteDisplayName
// does), or the name or the address alone.
std::u16string FormatMailAddress(const TMailAddress& address);

// A list as the reports show it: FormatMailAddress of each, separated by ";".
std::u16string FormatMailAddressList(const TMailAddressList& list);

} // namespace orlendo
