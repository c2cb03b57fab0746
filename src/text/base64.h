// Base64 encoding (attachments of written EML files) and decoding (MIME bodies and the B form of
// RFC 2047 words).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orlendo {

// Encodes with the alphabet "A-Za-z0-9+/" and "=" as the fill. Lines: after each group of input
// bytes, when the 1-based position of the next unread input byte is 1, 2 or 3 modulo 70, a CR LF
// follows. Long input thus gives lines of 96, 92 and 92 characters, repeating; 70 bytes give one
// line of 96 characters ending in CR LF, 68 bytes one line of 92 characters without a break.
// Empty data gives the empty string.
std::string EncodeBase64(std::string_view data);

// Incremental encoder with the same output as EncodeBase64 for every way of cutting the input.
class Base64Encoder {
public:
  void Filter(std::string_view data, std::string& out);
  // Encodes the last chunk (may be empty) and the final partial group; then ready for new data.
  void Complete(std::string_view data, std::string& out);
  void Reset();

private:
  char* EmitGroup(const unsigned char* group, int size, char* out);
  char* Encode(const unsigned char* p, std::size_t n, char* out);

  unsigned char held_[3] = {};
  int heldCount_ = 0;
  uint64_t consumed_ = 0; // input bytes encoded so far
};

// Base64 in lines of 76 characters (57 input bytes), the most that RFC 2045 (6.8) allows, with
// CR LF between lines and none after the last: what the attachments of written messages need.
// Incremental, with the same output for every way of cutting the input. The encoding writes
// straight into memory that the caller provides.
class Base64LineEncoder {
public:
  static constexpr std::size_t kLineBytes = 57;
  static constexpr std::size_t kLineChars = 76;

  // The most characters that Filter and then Complete can write for n more input bytes.
  static constexpr std::size_t MaxEncodedSize(std::size_t n) {
    const std::size_t groups = (n + 2) / 3 + 1;
    return groups * 4 + (groups / (kLineBytes / 3) + 2) * 2;
  }

  // Encodes data into out, which has room for MaxEncodedSize(data.size()); returns the end of
  // what was written. One or two bytes of a group may be held back for the next call.
  char* Filter(std::string_view data, char* out);
  // The final partial group; then ready for new data.
  char* Complete(char* out);
  // The same, appending to a string.
  void Filter(std::string_view data, std::string& out);
  void Complete(std::string& out);

private:
  char* Group(const unsigned char* g, int size, char* out);

  unsigned char held_[3] = {};
  int heldCount_ = 0;
  std::size_t lineFill_ = 0; // input bytes in the current line, a multiple of 3
};

// Incremental decoder: feed chunks of any size with Filter, then Complete once; the output is
// the same for every way of cutting the input. Never fails.
//
// Every four characters of the alphabet or "=" form a group; all other characters (line breaks,
// blanks) are skipped. A group whose first character is "=" gives nothing; with "=" third it gives
// one byte, with "=" fourth two bytes, else three. Decoding goes on after a fill, so concatenated
// encodings decode whole. One to three characters left over at the end are ignored.
class Base64Decoder {
public:
  void Filter(std::string_view input, std::string& out);
  void Complete(std::string_view input, std::string& out);
  void Reset();

private:
  void DecodeGroup(const uint8_t* v, std::string& out);

  uint8_t quad_[4] = {};
  int quadCount_ = 0;
};

// The decoded bytes of `text` (one call of Base64Decoder::Complete). Fewer than four characters
// give nothing.
std::string DecodeBase64(std::string_view text);

} // namespace orlendo
