// The banner above a message's header that says who signed it and whether the signature holds,
// or to whom it is encrypted.
#pragma once

#include <QString>

#include "mime/message_security.h"

namespace orlendo {

// How the banner is coloured: a good signature, one to be wary of, a broken one, or plain news.
enum class TBannerTone { Good, Warning, Bad, Info };

// The banner's text for security, one line for each signature ("Signed by Alice
// <alice@example.org> on <date>. The signature is valid.") and one for the encryption; tone is
// the worst of them. Empty for a message that is neither signed nor encrypted.
QString SecurityBannerText(const TMessageSecurity& security, TBannerTone& tone);

} // namespace orlendo
