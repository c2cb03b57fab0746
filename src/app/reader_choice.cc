#include "app/reader_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string_view>

#include "mime/qvemlfile.h"
#include "mime/qvemlxfile.h"
#include "mime/tnef_message.h"
#include "mime/tnef_reader.h"
#include "msg/qvmsgfile.h"

namespace orlendo {

namespace {

constexpr unsigned char kCompoundSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// Enough for a count line and the first header field of any real message.
constexpr size_t kHeadSize = kMessageKindHeadSize;

std::string UpperExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return {};
  std::string ext = fileName.substr(dot);
  for (char& c : ext)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

// A header field begins the text: a name of visible characters other than the colon, then the
// colon.
bool StartsWithHeaderField(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] != ':') {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= ' ' || c >= 0x7F)
      return false;
    ++i;
  }
  return i > 0 && i < text.size();
}

// The text after a first line that holds only a decimal count.
bool AfterCountLine(std::string_view text, std::string_view& rest) {
  size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    ++i;
  if (i == 0)
    return false;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  if (i < text.size() && text[i] == '\r')
    ++i;
  if (i >= text.size() || text[i] != '\n')
    return false;
  rest = text.substr(i + 1);
  return true;
}

template <class T> std::unique_ptr<TQvMessage> Make() {
  return std::make_unique<T>();
}

} // namespace

TMessageFileKind DetectMessageKind(std::string_view head) {
  if (head.size() >= sizeof kCompoundSignature &&
      head.compare(0, sizeof kCompoundSignature,
                   std::string_view(reinterpret_cast<const char*>(kCompoundSignature),
                                    sizeof kCompoundSignature)) == 0) {
    return TMessageFileKind::CompoundFile;
  }
  if (HasTnefSignature(head))
    return TMessageFileKind::Tnef;
  if (StartsWithHeaderField(head))
    return TMessageFileKind::Internet;
  std::string_view rest;
  if (AfterCountLine(head, rest) && StartsWithHeaderField(rest))
    return TMessageFileKind::AppleMail;
  return TMessageFileKind::Unknown;
}

TMessageFileKind DetectMessageFileKind(const std::string& fileName) {
  // Not blocking, and looked at before reading: opening a pipe or a device must not wait.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return TMessageFileKind::Unknown;
  struct stat info {};
  std::string head;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    head.resize(kHeadSize);
    size_t got = 0;
    while (got < head.size()) {
      const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
      if (n <= 0)
        break;
      got += static_cast<size_t>(n);
    }
    head.resize(got);
  }
  ::close(fd);
  return DetectMessageKind(head);
}

std::unique_ptr<TQvMessage> CreateMessageReader(const std::string& fileName) {
  return CreateMessageReader(fileName, DetectMessageFileKind(fileName));
}

std::unique_ptr<TQvMessage> CreateMessageReader(const std::string& fileName,
                                                TMessageFileKind kind) {
  const std::string ext = UpperExtension(fileName);
  const bool webArchive = ext == ".MHT" || ext == ".MHTML";
  switch (kind) {
  case TMessageFileKind::CompoundFile:
    return Make<TQvMSGFile>();
  case TMessageFileKind::Internet:
    return webArchive ? Make<TQvMHTFile>() : Make<TQvEMLFile>();
  case TMessageFileKind::AppleMail:
    return Make<TQvEMLXFile>();
  case TMessageFileKind::Tnef:
    return Make<TQvTNEFFile>();
  case TMessageFileKind::Unknown:
    break;
  }
  if (webArchive)
    return Make<TQvMHTFile>();
  if (ext == ".EMLX")
    return Make<TQvEMLXFile>();
  if (ext == ".EML")
    return Make<TQvEMLFile>();
  return Make<TQvMSGFile>();
}

} // namespace orlendo
