// The terminal dump of a message: `quillet --dump FILE`.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "model/qvmsg.h"

namespace orlendo {

// A new, empty reader for the file, chosen by its extension (any letter case); the .msg reader
// for every extension without a reader of its own.
std::unique_ptr<TQvMessage> CreateMessageReader(const std::string& fileName);

// Writes one line per record of the tree, in tree order: two spaces per level, "0x" and the tag
// in eight upper-case hex digits, TAB, the record's name, TAB, DataSize, TAB, the value text as
// UTF-8 with CR, LF and TAB shown as \r, \n and \t, cut after 200 characters.
// Records are not changed, though a large value is briefly swapped for its beginning while its
// text is taken, so that a dump never holds a second copy of a big attachment.
void DumpProperties(TMSGProperties& properties, std::FILE* out);

// Loads the file and dumps it to out. Returns 0, or 1 after writing the failure's message and a
// line end to err.
int DumpMessageFile(const std::string& fileName, std::FILE* out, std::FILE* err);

// The value text of a dump line (exposed for tests): escaped, at most 200 characters.
std::string DumpValueText(const std::u16string& text);

} // namespace orlendo
