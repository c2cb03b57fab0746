// MIME entities as the bytes they are: a signature covers the signed entity exactly as it was
// sent, so these views point into the input and never decode, unfold or re-encode it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orlendo {

// One entity: its header block (line ends included, without the empty line that ends it) and
// its body (everything after that empty line).
struct TRawEntity {
  std::string_view Whole;
  std::string_view Header;
  std::string_view Body;
};

// Splits at the first empty line (CR LF or LF alone). Without one the whole input is the header.
TRawEntity SplitRawEntity(std::string_view entity);

// The unfolded value of the first header field called name (case-insensitive, without the colon),
// trimmed; "" when the field is missing.
std::string RawHeaderField(std::string_view header, std::string_view name);

// The type/subtype of a Content-Type value, lower case; "text/plain" when the value is empty.
std::string RawMediaType(std::string_view contentType);

// A parameter of a Content-Type value ("boundary", "protocol"): quotes removed, escapes undone;
// the name is matched case-insensitively as a whole word. "" when it is missing.
std::string RawParameter(std::string_view contentType, std::string_view name);

// The body parts of a multipart body with that boundary, each without the line end in front of
// its delimiter, which belongs to the delimiter. A part still open when the input ends runs to
// its end (truncated mail keeps what it has).
std::vector<std::string_view> SplitRawMultipart(std::string_view body, std::string_view boundary);

// The body decoded by its Content-Transfer-Encoding (base64 and quoted-printable; others as
// they are).
std::string DecodedRawBody(const TRawEntity& entity);

// Every line end made CR LF, as the signed data of a MIME signature is defined (files saved on
// Unix often have LF alone).
std::string CanonicalCrlf(std::string_view text);

// The two parts of a multipart/signed or multipart/encrypted entity found in a message.
struct TRawSecuredParts {
  std::string Protocol;    // the protocol parameter, lower case
  std::string_view First;  // the signed entity, or the control part of an encrypted one
  std::string_view Second; // the signature part, or the encrypted data part
};

// Looks for the first multipart/signed (or multipart/encrypted) entity whose protocol is one of
// the given ones (lower case): the message itself or a part of its multiparts, at most a few
// levels deep. False when there is none.
bool FindRawSecured(std::string_view message, std::string_view multipartType,
                    const std::vector<std::string>& protocols, TRawSecuredParts& found);

} // namespace orlendo
