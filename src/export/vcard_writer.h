// vCard 4.0 (RFC 6350) of contacts and distribution lists: names, organisation, mail addresses,
// phone numbers with their types, postal addresses, web pages, birthday and anniversary, notes
// and the contact picture; a distribution list as a group card with its members.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// True when level is a contact or a distribution list.
bool HasVCard(const TMSGProperties& level);

// The card of level, UTF-8 with CR LF line ends. Raises EWrongItemKind when level is neither a
// contact nor a distribution list.
std::string MakeVCard(const TMSGProperties& level);

// Writes MakeVCard(level) into a new file (replacing an existing one); on the error above no
// file is created.
void SaveToVCFFile(const TMSGProperties& level, const std::string& fileName);

} // namespace orlendo
