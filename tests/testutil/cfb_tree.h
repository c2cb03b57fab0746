// A compound file's tree as text lines, for comparing what our reader sees with another reader
// (olefile) or with another copy of the file. One line per element, depth first, children in the
// order Storage::Children gives them:
//   "<path> D <clsid>"                           for a storage
//   "<path> S <size> <sha256 of the bytes>"      for a stream
//   "<path> S <size> error <code in hex>"        for a stream that could not be opened or read
// where <path> joins the elements' names from the root with '/', each name written as the hex
// of its UTF-16LE bytes (so that control characters and non-ASCII names compare exactly), and
// <clsid> is olefile's spelling of a class id ("" when all zero, else 8-4-4-4-12 upper-case hex).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "msg/compound_file.h"

namespace orlendo::testutil {

std::vector<std::string> DumpCompoundTree(const orlendo::cfb::Storage& root);

// The hex of the UTF-16LE bytes of name.
std::string NameKey(std::u16string_view name);

// olefile's text form of a class id.
std::string ClsidText(const std::array<uint8_t, 16>& clsid);

// A python script that prints the same lines for each file named on its command line, read by
// olefile, each file's lines after a line "FILE <path>" (or "FILE <path>" and "NOTOLE" for a file
// that olefile does not take as a compound file). Children are listed in the compound-file order,
// sorted by python from olefile's names (length of the name, then its upper-cased form). A stream
// line ends with " defect" when olefile, made to raise on defects, refuses the stream.
extern const char* const kOlefileTreeScript;

} // namespace orlendo::testutil
