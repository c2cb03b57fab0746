// Signed messages in the message model: the signed content read as the message's own, and the
// signed entity kept as it came so that its signature can be checked and written out again.
//
// A clear-signed message (multipart/signed, RFC 1847) has the signed entity as its first part and
// the signature as its second. The Internet message reader flattens it like any multipart and
// keeps the entity's bytes in a TAG_SIGNED_ENTITY record: of the message itself when the message
// is the multipart/signed, else of the part node of the multipart/signed. Outlook stores the whole
// entity as one attachment of a .msg (MIME tag multipart/signed); an opaque-signed message
// (application/pkcs7-mime, smime-type=signed-data, "smime.p7m") holds its content inside the CMS
// structure. ExpandSignedContent reads both kinds of attachment as the message's content.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mime/message_security.h"
#include "model/qvmsg.h"

namespace orlendo {

// The multipart/signed entity as the Internet message reader found it: its header block (of the
// message itself, when the message is the entity) and its body to the closing delimiter.
inline constexpr uint32_t TAG_SIGNED_ENTITY = 0x67F10102;

// A boolean of each attachment node that ExpandSignedContent made of a file inside signed
// content: the .msg writer leaves such nodes out and writes the signed attachment as it came, so
// that a saved message is signed as it was.
inline constexpr uint32_t TAG_UNPACKED_ATTACHMENT = 0x67F2000B;

// The value of the node that keeps the bytes of an unpacked signed attachment.
inline constexpr char16_t kSignedHolderName[] = u"Signed content";

// Signed wrappings nested deeper than this are left as they are.
inline constexpr int MAX_SIGNED_DEPTH = 4;

// One signed entity of a message, copied out of the tree.
struct TSignedEntity {
  TSignatureProtocol Protocol = TSignatureProtocol::Smime;
  // Opaque: Bytes is the DER of a CMS signed-data that holds its content. Else Bytes is a
  // multipart/signed entity, header block first.
  bool Opaque = false;
  std::string Bytes;
};

// A multipart/signed entity taken apart (RFC 1847, RFC 8551 3.5).
struct TSignedParts {
  // The value of the protocol parameter, lower case ("application/pkcs7-signature").
  std::string Protocol;
  // The first part exactly as it was signed: from after the line end of the first delimiter to
  // before the line end of the second, lines ending in CR LF.
  std::string Content;
  // The second part's body, its transfer encoding undone.
  std::string Signature;
};

// Takes entity apart. False when it is no multipart/signed entity with a boundary and two parts.
bool SplitMultipartSigned(std::string_view entity, TSignedParts& parts);

// The header lines of entity's header block whose names begin with "Content-", each with its
// continuation lines as they came (CR LF between them), in their order.
std::vector<std::string> EntityContentHeaders(std::string_view entity);
// The body of entity: what follows the empty line that ends its header block (all of it when
// there is no such line).
std::string_view EntityBody(std::string_view entity);

// The lowered type/subtype of the Content-Type in entity's header block, and its protocol
// parameter (lowered) in protocol when asked for; empty when there is none.
std::string EntityContentType(std::string_view entity, std::string* protocol = nullptr);

// Reads the signed attachments of level as its content: an attachment node (not a part of an
// Internet message's tree) whose data is a multipart/signed entity (MIME tag multipart/signed),
// or a CMS signed-data with its content (application/pkcs7-mime, .p7m). The content is read as
// an Internet message: its bodies fill level where level has none of that kind, its attachments
// (the signature aside) become attachment nodes of level. The signed attachment stays in the tree
// with its data moved into a child node named kSignedHolderName, so that it is no longer listed
// as a file. Never raises on the content: what cannot be read stays as it was.
void ExpandSignedContent(TMSGProperties& level);

// True when record is the node in which ExpandSignedContent keeps a signed attachment's data.
bool IsSignedHolder(const TMSGProperty& record);

// The record that holds the signed entity that is level's whole content: a TAG_SIGNED_ENTITY
// record of level itself, or the data kept by ExpandSignedContent; nullptr for a message that is
// not signed as a whole.
const TMSGProperty* OuterSignedEntity(const TMSGProperties& level);

// The signed entities of level (copies, outermost first): TAG_SIGNED_ENTITY records of level and
// of its part nodes, and the data kept by ExpandSignedContent.
std::vector<TSignedEntity> FindSignedEntities(const TMSGProperties& level);

// text with every line end (CR LF, a lone CR or a lone LF) made CR LF.
std::string CanonicalLineEnds(std::string_view text);

// The protocol that a multipart/signed protocol parameter (lower case) names.
TSignatureProtocol ProtocolOfSignature(std::string_view protocol);

} // namespace orlendo
