// The compressed-RTF codec of the RTF_COMPRESSED stream (tag 0x10090102).
//
// The stream is a 16-byte header (COMPSIZE, RAWSIZE, COMPTYPE, CRC; little-endian) followed by
// the RTF, either stored as it is ("MELA") or compressed ("LZFu": LZ77 references into a 4 KB
// ring primed with a fixed RTF prologue). Reading decompresses; writing always stores the RTF
// uncompressed.
//
// Nothing here raises on damaged data: a short header leaves the stream raw, a truncated
// reference is passed over, a truncated literal ends the data, and RAWSIZE bounds the output.
// Memory is allocated by the data actually present, never by what a header claims.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/qvmsg.h"

namespace orlendo {

inline constexpr uint32_t RTF_COMPTYPE_COMPRESSED = 0x75465A4C;   // "LZFu"
inline constexpr uint32_t RTF_COMPTYPE_UNCOMPRESSED = 0x414C454D; // "MELA"
inline constexpr size_t RTF_HEADER_SIZE = 16;
inline constexpr size_t RTF_DICTIONARY_SIZE = 4096;

// Values of TMSGPropertyCompressedRTF::CompressionKind.
inline constexpr uint8_t RTF_KIND_RAW = 0;
inline constexpr uint8_t RTF_KIND_COMPRESSED = 1;
inline constexpr uint8_t RTF_KIND_UNCOMPRESSED = 2;

// The prologue that primes the dictionary (207 bytes).
std::string_view RtfInitialDictionary();

// An incremental decoder of the LZFu data that follows the header. Feed it the compressed bytes
// in any chunking with Filter and end with Complete: the output is the same as for one call with
// all the input. After the end-of-data reference all further input is ignored.
class LzfuDecoder {
public:
  // outputLimit bounds the bytes appended over the decoder's lifetime; input beyond it is still
  // consumed (so that the end-of-data reference is found) but produces nothing.
  explicit LzfuDecoder(uint64_t outputLimit);

  // Decodes input and appends what it yields to out.
  void Filter(std::string_view input, std::string& out);
  // Ends the input. A reference of which only the first byte arrived is passed over; the byte
  // may still be a literal of a later bit of the same control byte.
  void Complete(std::string& out);
  // Back to the primed dictionary, as newly constructed (same limit).
  void Reset();

  // True once the end-of-data reference was read.
  bool Finished() const { return finished_; }

private:
  void Emit(uint8_t c, std::string& out);
  // Moves to the next bit of the control byte; the next byte is a control byte after the 8th.
  void NextBit();

  std::array<uint8_t, RTF_DICTIONARY_SIZE> dictionary_{};
  uint64_t outputLimit_;
  uint64_t produced_ = 0;
  uint16_t writePos_ = 0;
  uint8_t control_ = 0;
  int bit_ = 8; // 8: the next byte is a control byte
  bool haveHigh_ = false;
  uint8_t high_ = 0;
  bool finished_ = false;
};

// What the reading of one RTF_COMPRESSED stream gives.
struct RtfStreamContent {
  std::string text; // the RTF (or the raw bytes of an unrecognised stream)
  uint8_t kind = RTF_KIND_RAW;
  // The DataSize the record takes when text is not empty: 2 x RAWSIZE for "LZFu" and "MELA"
  // (clamped to the 32-bit range), the stream's size for a raw stream.
  int32_t size = 0;
};

// Reads a whole RTF_COMPRESSED stream. previousKind is the record's CompressionKind before the
// read: a header of an unknown COMPTYPE keeps it. A raw stream (16 bytes or less, or an unknown
// COMPTYPE while previousKind is raw) gives its bytes unchanged, header included, so that writing
// the value back reproduces the stream.
RtfStreamContent DecodeRtfStream(std::string_view stream, uint8_t previousKind = RTF_KIND_RAW);

// Decompresses LZFu data (the bytes after the header) with an output limit.
std::string DecompressLzfu(std::string_view data, uint64_t outputLimit);

// Writes value for a .msg being saved: with a "MELA" header (COMPSIZE n + 12, RAWSIZE n, CRC 0,
// as the format requires of uncompressed data) when compressionKind is not raw, else the text
// alone. Returns the number of bytes written; with no target writes nothing and returns 0.
int64_t EncodeRTFForSave(const std::string& value, uint8_t compressionKind, TStream* target);
// The same for a record: its value as a byte string and its CompressionKind.
int64_t EncodeRTFForSave(const TMSGPropertyCompressedRTF& record, TStream* target);

// CRC-32 of ISO 3309 / ITU-T V.42 (reflected 0xEDB88320, initial 0xFFFFFFFF, inverted result).
uint32_t RtfCrc32(std::string_view text);

} // namespace orlendo
