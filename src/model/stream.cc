#include "model/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "model/qvmsgcnst.h"

namespace orlendo {

int64_t TStream::Size() {
  const int64_t position = Seek(0, TSeekOrigin::Current);
  const int64_t size = Seek(0, TSeekOrigin::End);
  Seek(position, TSeekOrigin::Beginning);
  return size;
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  if (count != 0 && Write(buffer, count) != count)
    throw EMSGError(SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0)
    count = std::max<int64_t>(0, source.Size() - source.Position());
  constexpr size_t kChunk = 1 << 16;
  std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kChunk));
    const size_t got = source.Read(buffer.data(), want);
    if (got != want)
      throw EMSGError(SReadError);
    WriteBuffer(buffer.data(), got);
    left -= static_cast<int64_t>(got);
  }
  return count;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size())
    return 0;
  const size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0)
    return 0;
  if (pos_ == data_.size()) { // the common case: writing at the end
    data_.append(static_cast<const char*>(buffer), count);
    pos_ += count;
    return count;
  }
  if (pos_ + count > data_.size())
    data_.resize(pos_ + count); // a gap after a seek reads 0
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current)
    base = static_cast<int64_t>(pos_);
  if (origin == TSeekOrigin::End)
    base = static_cast<int64_t>(data_.size());
  const int64_t target = base + offset;
  if (target < 0)
    throw EMSGError(SSeekError);
  pos_ = static_cast<size_t>(target);
  return target;
}

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  file_ = std::fopen(path.c_str(), mode == Create ? "w+b" : "rb");
  if (file_ == nullptr) {
    throw EMSGError(FormatMessageText(mode == Create ? SFCreateError : SFOpenError,
                                      {path, std::strerror(errno)}));
  }
  readOnly_ = mode == OpenRead;
}

TFileStream::~TFileStream() {
  if (file_ != nullptr)
    std::fclose(file_);
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (file_ == nullptr || count == 0)
    return 0;
  const size_t n = std::fread(buffer, 1, count, file_);
  if (n < count && std::ferror(file_)) {
    throw EMSGError(FormatMessageText(SFReadError, {path_, std::strerror(errno)}));
  }
  return n;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  if (readOnly_ || file_ == nullptr)
    throw EMSGError(SReadOnlyStream);
  return std::fwrite(buffer, 1, count, file_);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (file_ == nullptr)
    throw EMSGError(SSeekError);
  const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                     : origin == TSeekOrigin::Current ? SEEK_CUR
                                                      : SEEK_END;
  if (!(origin == TSeekOrigin::Current && offset == 0) &&
      fseeko(file_, static_cast<off_t>(offset), whence) != 0) {
    throw EMSGError(SSeekError);
  }
  const off_t position = ftello(file_);
  if (position < 0)
    throw EMSGError(SSeekError);
  return static_cast<int64_t>(position);
}

void TFileStream::Close() {
  if (file_ == nullptr)
    return;
  std::FILE* file = file_;
  file_ = nullptr;
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    throw EMSGError(FormatMessageText(SFWriteError, {path_, std::strerror(errno)}));
  }
}

} // namespace orlendo
