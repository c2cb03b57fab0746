// The text routines of Internet mail: RFC 822 dates, HTML escaping and character references,
// quoted-printable and base64.
#pragma once

#include "text/base64.h"
#include "text/html_entities.h"
#include "text/quoted_printable.h"
#include "text/rfc822_date.h"
