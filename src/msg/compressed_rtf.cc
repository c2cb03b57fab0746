#include "msg/compressed_rtf.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orlendo {

namespace {

constexpr char kInitialDictionary[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr size_t kInitialDictionarySize = sizeof(kInitialDictionary) - 1;
static_assert(kInitialDictionarySize == 207);

uint32_t ReadLE32(std::string_view bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  }
  return v;
}

void AppendLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
}

int32_t ClampToInt32(uint64_t v) {
  return static_cast<int32_t>(std::min<uint64_t>(v, std::numeric_limits<int32_t>::max()));
}

// LZFu never yields more than 8 bytes per input byte (a control byte and eight 2-byte
// references of 17 bytes each give 136 bytes from 17), so this bounds a reservation.
constexpr uint64_t kMaxExpansion = 8;

} // namespace

std::string_view RtfInitialDictionary() {
  return std::string_view(kInitialDictionary, kInitialDictionarySize);
}

LzfuDecoder::LzfuDecoder(uint64_t outputLimit) : outputLimit_(outputLimit) {
  Reset();
}

void LzfuDecoder::Reset() {
  dictionary_.fill(0);
  std::memcpy(dictionary_.data(), kInitialDictionary, kInitialDictionarySize);
  writePos_ = static_cast<uint16_t>(kInitialDictionarySize);
  produced_ = 0;
  control_ = 0;
  bit_ = 8;
  haveHigh_ = false;
  high_ = 0;
  finished_ = false;
}

void LzfuDecoder::Emit(uint8_t c, std::string& out) {
  // Past the limit the data is still walked, but the ring stays as it was, so an end-of-data
  // reference is recognised at the position it would have had.
  if (produced_ >= outputLimit_)
    return;
  dictionary_[writePos_] = c;
  writePos_ = static_cast<uint16_t>((writePos_ + 1) % RTF_DICTIONARY_SIZE);
  out.push_back(static_cast<char>(c));
  ++produced_;
}

void LzfuDecoder::NextBit() {
  ++bit_;
}

void LzfuDecoder::Filter(std::string_view input, std::string& out) {
  size_t i = 0;
  const size_t n = input.size();
  while (i < n && !finished_) {
    if (bit_ >= 8) {
      control_ = static_cast<uint8_t>(input[i++]);
      bit_ = 0;
      continue;
    }
    if ((control_ & (1u << bit_)) == 0) {
      Emit(static_cast<uint8_t>(input[i++]), out);
      NextBit();
      continue;
    }
    if (!haveHigh_) {
      high_ = static_cast<uint8_t>(input[i++]);
      haveHigh_ = true;
      continue;
    }
    const uint16_t word = static_cast<uint16_t>((high_ << 8) | static_cast<uint8_t>(input[i++]));
    haveHigh_ = false;
    NextBit();
    const uint16_t offset = word >> 4;
    const int length = (word & 0x0F) + 2;
    if (offset == writePos_) {
      finished_ = true;
      break;
    }
    for (int k = 0; k < length; ++k) {
      // Read after each write: a reference may overlap the bytes it produces.
      Emit(dictionary_[(offset + k) % RTF_DICTIONARY_SIZE], out);
    }
  }
}

void LzfuDecoder::Complete(std::string& out) {
  if (finished_ || !haveHigh_)
    return;
  // The reference's second byte never came: the bit is passed over, and the lone byte is the
  // last input. A later literal bit of the same control byte takes it; without one it would be
  // read as a control byte with nothing after it.
  haveHigh_ = false;
  for (int b = bit_ + 1; b < 8; ++b) {
    if ((control_ & (1u << b)) == 0) {
      Emit(high_, out);
      break;
    }
  }
  bit_ = 8;
}

std::string DecompressLzfu(std::string_view data, uint64_t outputLimit) {
  std::string out;
  out.reserve(static_cast<size_t>(std::min(outputLimit, data.size() * kMaxExpansion)));
  LzfuDecoder decoder(outputLimit);
  decoder.Filter(data, out);
  decoder.Complete(out);
  return out;
}

RtfStreamContent DecodeRtfStream(std::string_view stream, uint8_t previousKind) {
  RtfStreamContent result;
  result.kind = previousKind;
  if (stream.size() <= RTF_HEADER_SIZE) {
    result.kind = RTF_KIND_RAW;
    result.text.assign(stream);
    result.size = ClampToInt32(stream.size());
    return result;
  }
  const uint32_t compSize = ReadLE32(stream, 0);
  const uint32_t rawSize = ReadLE32(stream, 4);
  const uint32_t compType = ReadLE32(stream, 8);
  if (compType == RTF_COMPTYPE_UNCOMPRESSED) {
    result.kind = RTF_KIND_UNCOMPRESSED;
  } else if (compType == RTF_COMPTYPE_COMPRESSED) {
    result.kind = RTF_KIND_COMPRESSED;
  }
  const std::string_view body = stream.substr(RTF_HEADER_SIZE);
  switch (result.kind) {
  case RTF_KIND_UNCOMPRESSED:
    // RAWSIZE bytes, or as many as the stream has: a lying RAWSIZE must not pad the text.
    result.text.assign(body.substr(0, rawSize));
    result.size = ClampToInt32(2ull * rawSize);
    break;
  case RTF_KIND_COMPRESSED: {
    // COMPSIZE counts from after itself; one too small to cover the header gives no data.
    const uint64_t end =
        std::clamp<uint64_t>(uint64_t{compSize} + 4, RTF_HEADER_SIZE, stream.size());
    result.text =
        DecompressLzfu(stream.substr(RTF_HEADER_SIZE, end - RTF_HEADER_SIZE), 2ull * rawSize);
    result.size = ClampToInt32(2ull * rawSize);
    break;
  }
  default:
    // Not a header we know: keep every byte, so that nothing is lost and the stream is
    // written back as it came.
    result.text.assign(stream);
    result.size = ClampToInt32(stream.size());
    break;
  }
  return result;
}

void TMSGPropertyCompressedRTF::ReadValue(TStream& stream, int32_t size) {
  if (Collection() != nullptr)
    Collection()->BodyFormat = 2;

  // The bytes from the position: size of them when given, else all that remain; never more
  // than the stream holds, whatever size says.
  const int64_t pos = stream.Position();
  const int64_t remaining = std::max<int64_t>(0, stream.Size() - pos);
  const int64_t wanted = size > 0 ? std::min<int64_t>(size, remaining) : remaining;
  std::string bytes(static_cast<size_t>(wanted), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const size_t n = stream.Read(bytes.data() + got, bytes.size() - got);
    if (n == 0)
      break;
    got += n;
  }
  bytes.resize(got);

  RtfStreamContent content = DecodeRtfStream(bytes, CompressionKind);
  CompressionKind = content.kind;
  const bool empty = content.text.empty();
  Value = TVariant::FromBytes(std::move(content.text));
  if (!empty)
    DataSize = content.size;
}

int64_t EncodeRTFForSave(const std::string& value, uint8_t compressionKind, TStream* target) {
  if (target == nullptr)
    return 0;
  const uint64_t n = value.size();
  if (compressionKind == RTF_KIND_RAW) {
    target->WriteBuffer(value.data(), value.size());
    return static_cast<int64_t>(n);
  }
  std::string header;
  header.reserve(RTF_HEADER_SIZE);
  AppendLE32(header, static_cast<uint32_t>(n + 12));
  AppendLE32(header, static_cast<uint32_t>(n));
  AppendLE32(header, RTF_COMPTYPE_UNCOMPRESSED);
  // The CRC of an uncompressed stream is 0: readers that check it take any other value for a
  // damaged stream.
  AppendLE32(header, 0);
  target->WriteBuffer(header.data(), header.size());
  target->WriteBuffer(value.data(), value.size());
  return static_cast<int64_t>(n + RTF_HEADER_SIZE);
}

int64_t EncodeRTFForSave(const TMSGPropertyCompressedRTF& record, TStream* target) {
  if (target == nullptr)
    return 0;
  if (record.Value.IsBytes()) {
    return EncodeRTFForSave(record.Value.Bytes(), record.CompressionKind, target);
  }
  return EncodeRTFForSave(record.Value.ToUtf8(), record.CompressionKind, target);
}

namespace {

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

} // namespace

uint32_t RtfCrc32(std::string_view text) {
  static const std::array<uint32_t, 256> table = MakeCrcTable();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : text)
    crc = table[(crc ^ c) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

} // namespace orlendo
