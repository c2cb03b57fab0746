#include "mime/qvemlxfile.h"

#include <string>

namespace orlendo {

std::string_view EmlxMessageBytes(std::string_view content) {
  size_t i = 0;
  while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
    ++i;
  const size_t digits = i;
  uint64_t count = 0;
  while (i < content.size() && content[i] >= '0' && content[i] <= '9' && i - digits < 18)
    count = count * 10 + static_cast<uint64_t>(content[i++] - '0');
  if (i == digits)
    return content;
  while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
    ++i;
  if (i < content.size() && content[i] == '\r')
    ++i;
  if (i >= content.size() || content[i] != '\n')
    return content;
  ++i;
  return content.substr(i, count);
}

void TQvEMLXFile::LoadFromStream(TStream& stream) {
  std::string content;
  char chunk[65536];
  for (size_t got; (got = stream.Read(chunk, sizeof chunk)) > 0;)
    content.append(chunk, got);
  const std::string_view message = EmlxMessageBytes(content);
  // The message moves into the stream that the Internet reader reads; the framing is dropped.
  const size_t offset = static_cast<size_t>(message.data() - content.data());
  const size_t length = message.size();
  content.erase(0, offset);
  content.resize(length);
  TMemoryStream framed(std::move(content));
  TQvEMLFile::LoadFromStream(framed);
}

} // namespace orlendo
