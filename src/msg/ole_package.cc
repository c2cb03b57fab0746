#include "msg/ole_package.h"

#include <cstdint>
#include <exception>

#include "msg/compound_file.h"

namespace orlendo {

namespace {

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// A zero-terminated string at pos; false when there is no terminator.
bool ReadZString(const std::string& s, size_t& pos, std::string& out) {
  const size_t end = s.find('\0', pos);
  if (end == std::string::npos)
    return false;
  out = s.substr(pos, end - pos);
  pos = end + 1;
  return true;
}

} // namespace

bool ParseOle10Native(const std::string& s, TOlePackage& package) {
  // Total size (4), a type word (2), the label, the original path (both zero-terminated), a
  // reserved word (4), the length (4) and text of the temporary path it was packed from, then the
  // data size (4) and the data.
  if (s.size() < 6)
    return false;
  size_t pos = 6;
  std::string label, original, temporary;
  if (!ReadZString(s, pos, label) || !ReadZString(s, pos, original))
    return false;
  if (s.size() < pos + 8)
    return false;
  const uint32_t tempLength = Le32(s, pos + 4);
  pos += 8;
  if (tempLength > s.size() - pos)
    return false;
  temporary.assign(s, pos, tempLength);
  pos += tempLength;
  if (s.size() < pos + 4)
    return false;
  const uint32_t size = Le32(s, pos);
  pos += 4;
  if (size > s.size() - pos)
    return false;
  package.Data.assign(s, pos, size);
  // The label is what the user saw; the paths are where it came from on the sender's machine.
  const std::string tempText = temporary.substr(0, temporary.find('\0'));
  package.FileName = !label.empty() ? label : !original.empty() ? original : tempText;
  return true;
}

bool ReadOlePackage(const std::string& objectImage, TOlePackage& package) {
  if (!cfb::IsCompoundFile(objectImage.data(), objectImage.size()))
    return false;
  try {
    cfb::Storage root = cfb::OpenMemory(objectImage);
    if (!root.Exists(u"\x01Ole10Native"))
      return false;
    cfb::Stream stream = root.OpenStream(u"\x01Ole10Native");
    return ParseOle10Native(stream.ReadAll(), package);
  } catch (const std::exception&) {
    return false;
  }
}

} // namespace orlendo
