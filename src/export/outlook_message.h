// An Internet message as an Outlook message: the properties that a mail program that receives
// such a mail stores for it, so that any reader of .msg files finds the subject, the people, the
// dates, the bodies and the attachments where the format puts them.
//
// The tree that the Internet reader fills is shaped by MIME (header fields, flattened parts);
// saving it as it stands would give a compound file that no reader of the format understands.
// This builds from it, through the accessors, the tree the .msg reader would have read from such
// a file: a property stream in every message, recipient and attachment storage, strings as
// UTF-16 (PT_UNICODE, so that no code page can garble them), the HTML body as UTF-8 bytes with
// INTERNET_CPID 65001, a recipient table, one attachment storage per file (MIME containers and
// body parts are structure, not attachments), attached messages as embedded message storages,
// and an empty named-property map.
#pragma once

#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// Fills target (an empty root collection) with the Outlook form of the message of source.
void BuildOutlookMessage(const TMSGProperties& source, TMSGProperties& target);

// The Outlook form of source saved as fileName (full and partial as SaveToMSG of msg_writer.h).
void SaveInternetMessageToMSG(const TMSGProperties& source, const std::string& fileName, bool full);

// The same into memory: the complete compound-file image.
std::string InternetMessageToMSGImage(const TMSGProperties& source, bool full);

// The 8.3 name that stands beside a long file name (ATTACH_FILENAME): upper-case letters and
// digits of the stem, cut to six and marked "~1" when longer than eight, and at most three of the
// extension.
std::u16string ShortFileName(const std::u16string& longName);

} // namespace orlendo
