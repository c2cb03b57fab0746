// The EML writer: one message level as an Internet message (RFC 822 headers, MIME body).
//
// The header block comes from the accessors: From, To, Cc, Bcc, Subject, Date, Message-ID, the
// MIME and priority headers and the generator sentence. The body holds the text parts (plain
// text, RTF, HTML, or HTML recovered from the RTF body) and every attachment that is not an
// embedded message, in base64.
//
// What the output promises to a reader of it:
// - every charset it declares is true of the bytes that follow: text goes out in the message's
//   charset when that charset can hold every character of it, else in UTF-8, declared so;
// - header values are ASCII: text with other characters (or control characters) is written as
//   RFC 2047 encoded-words, so a header can neither break the header block nor lose text;
// - text parts are quoted-printable encoded, as their headers declare;
// - several text parts form a multipart/alternative; with attachments they sit in a nested
//   multipart/alternative inside a multipart/mixed (the attachments are not alternatives of the
//   text); one text part with attachments forms a multipart/related; one text part alone is the
//   message body, with the content type of its kind.
// Attachments are encoded chunk by chunk straight to the stream: writing never holds a second
// copy of an attachment in memory.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// The boundary of the message's multipart, and the inner one of its nested alternative.
inline constexpr char kEmlBoundary[] = "AB9DB43ABB3246E63E5";
inline constexpr char kEmlInnerBoundary[] = "=_NextPart_AB9DB43ABB3246E63E5";

// Writes the message of level to stream. Raises EMSGError("Stream is not defined") for a null
// stream, before anything is written. Errors of the stream and of the date conversion propagate;
// what was written stays written.
void SaveToEML(const TMSGProperties& level, TStream* stream);

// Writes the message into the file fileName, replacing it. The message is written under a
// temporary name in the same folder and renamed over fileName when complete, so that a failure
// leaves an existing file as it was. A file that cannot be created raises EMSGError naming it.
void SaveToEMLFile(const TMSGProperties& level, const std::string& fileName);

} // namespace orlendo
