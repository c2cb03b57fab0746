// The model declares TOleStream; its body sits with the compound-file layer it adapts, so that
// the model itself never reaches up into that layer.
#include "model/qvmsg.h"
#include "msg/compound_file.h"

namespace orlendo {

TOleStream::TOleStream(cfb::Stream stream)
    : owned_(std::make_unique<cfb::Stream>(std::move(stream))), stream_(owned_.get()) {}

TOleStream::TOleStream(cfb::Stream* borrowed) : stream_(borrowed) {}

TOleStream::~TOleStream() = default;

size_t TOleStream::Read(void* buffer, size_t count) {
  return stream_->Read(buffer, count);
}

size_t TOleStream::Write(const void* buffer, size_t count) {
  return stream_->Write(buffer, count);
}

int64_t TOleStream::Seek(int64_t offset, TSeekOrigin origin) {
  const cfb::SeekOrigin from = origin == TSeekOrigin::Beginning ? cfb::SeekOrigin::Begin
                               : origin == TSeekOrigin::Current ? cfb::SeekOrigin::Current
                                                                : cfb::SeekOrigin::End;
  return static_cast<int64_t>(stream_->Seek(offset, from));
}

int64_t TOleStream::Size() {
  return static_cast<int64_t>(stream_->Size());
}

} // namespace orlendo
