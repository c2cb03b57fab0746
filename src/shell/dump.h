// The terminal dump of a message: `quillet --dump FILE`.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "model/qvmsg.h"
#include "app/reader_choice.h"

namespace orlendo {

// Writes one line per record of the tree, in tree order: two spaces per level, "0x" and the tag
// in eight upper-case hex digits, TAB, the record's name, TAB, DataSize, TAB, and
// DumpValueText of the value text, or DumpBinaryText of the bytes of a binary property.
// Records are not changed, though a large value is briefly swapped for its beginning while its
// text is taken, so that a dump never holds a second copy of a big attachment.
void DumpProperties(TMSGProperties& properties, std::FILE* out);

// Loads the file and dumps it to out. Returns 0, or 1 after writing the failure's message and a
// line end to err.
int DumpMessageFile(const std::string& fileName, std::FILE* out, std::FILE* err);

// The value text of a dump line (exposed for tests): at most 200 characters, as UTF-8, every
// control character escaped (CR, LF and TAB as \r, \n and \t, the other C0 controls and DEL as
// \xHH, the C1 controls as \u00HH), so that the line is printable whatever the message holds.
std::string DumpValueText(const std::u16string& text);

// The value of a binary property on a dump line: its first 32 bytes in hexadecimal, "..." when
// there are more, then the size, e.g. "0A FF (2 bytes)".
std::string DumpBinaryText(std::string_view bytes);

} // namespace orlendo
