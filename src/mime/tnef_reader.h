// A pull reader of TNEF streams: TTnefReader steps from attribute to attribute, and
// TTnefPropertyReader steps through the MAPI properties of one attribute (attMAPIProps,
// attAttachment, a row of attRecipTable).
//
// Every length is checked against the end of what holds it: an attribute against the stream, a
// property value against its attribute. Nothing is ever read past the end, and nothing is
// allocated by what a length claims. Damage is collected as flags with a list of problems (the
// offset, the flag and a sentence); in the loose mode, the default, reading goes on with what is
// left, while the strict mode raises ETnefError at the first problem, for tests and checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/stream.h"

namespace orlendo {

// Flags of the damage found in a stream.
enum TTnefDamage : uint32_t {
  TNEF_NOT_TNEF = 1 << 0,      // the stream does not begin with the signature
  TNEF_TRUNCATED = 1 << 1,     // the stream ends inside an attribute
  TNEF_BAD_CHECKSUM = 1 << 2,  // an attribute's checksum is not the sum of its bytes
  TNEF_BAD_LENGTH = 1 << 3,    // a count or length inside an attribute runs past its end
  TNEF_BAD_CODE_PAGE = 1 << 4, // attOemCodepage names a code page that cannot be decoded
  TNEF_BAD_LEVEL = 1 << 5,     // an attribute of neither message nor attachment level
  TNEF_BAD_PROPERTY = 1 << 6,  // a property of an unknown type or name kind ends its list
  TNEF_TRAILING_DATA = 1 << 7, // bytes after the last attribute that are not an attribute
  TNEF_TOO_DEEP = 1 << 8,      // embedded messages nested beyond the limit, kept as bytes
  TNEF_TOO_MANY = 1 << 9,      // more properties or attachments than are kept
};

enum class TTnefCompliance { Loose, Strict };

struct TTnefProblem {
  size_t Offset = 0; // in the stream that was read
  uint32_t Flag = 0;
  std::string Text;
};

// Raised in the strict mode: Code() is the damage flag, Offset() where it was found.
class ETnefError : public EMSGError {
public:
  ETnefError(uint32_t code, size_t offset, const std::string& text)
      : EMSGError(text), code_(code), offset_(offset) {}
  uint32_t Code() const { return code_; }
  size_t Offset() const { return offset_; }

private:
  uint32_t code_;
  size_t offset_;
};

// The damage of one stream, shared by the attribute reader and its property readers.
class TTnefDamageLog {
public:
  explicit TTnefDamageLog(TTnefCompliance mode) : mode_(mode) {}
  // Records a problem; raises ETnefError in the strict mode.
  void Report(uint32_t flag, size_t offset, std::string text);
  uint32_t Damage() const { return damage_; }
  const std::vector<TTnefProblem>& Problems() const { return problems_; }
  // One sentence per problem, at most a few, for a message to the user; "" without damage.
  std::string Describe() const;

private:
  TTnefCompliance mode_;
  uint32_t damage_ = 0;
  std::vector<TTnefProblem> problems_;
};

// One MAPI property as stored: its tag, its name when it is a named property, and its values as
// the bytes that hold them (a fixed-size value without its padding; a variable-size value
// without its length and padding).
struct TTnefProperty {
  uint32_t Tag = 0;
  bool Named = false;
  std::array<unsigned char, 16> Guid{};
  bool NameIsString = false;
  uint32_t Lid = 0;
  std::u16string Name;
  bool MultiValued = false;
  std::vector<std::string_view> Values;
  size_t Offset = 0;
};

// The size of one value of a fixed-size property type (the type without the multi-value bit),
// or 0 for the variable-size types and the ones that are not known.
size_t TnefFixedValueSize(uint16_t type);
// PT_OBJECT, PT_STRING8, PT_UNICODE and PT_BINARY.
bool IsTnefVariableType(uint16_t type);

class TTnefPropertyReader {
public:
  // data: the attribute's value; base: its offset in the stream, for the problems.
  TTnefPropertyReader(std::string_view data, size_t base, TTnefDamageLog& log)
      : data_(data), base_(base), log_(log) {}

  // Reads a 32-bit count (of properties, or of recipient rows). False, with the damage
  // recorded, when the bytes are missing or the count cannot fit into what is left (every
  // property and every row takes at least four bytes).
  bool ReadCount(uint32_t& count);
  // Reads the next property. False at the end of the data or when the property cannot be read;
  // a property that cannot be read ends the list, since the next one's start is unknown.
  bool ReadProperty(TTnefProperty& property);
  // True when the data has been read to its end.
  bool AtEnd() const { return pos_ >= data_.size(); }

private:
  bool Need(size_t n, const char* what);
  uint32_t U32();

  std::string_view data_;
  size_t base_;
  TTnefDamageLog& log_;
  size_t pos_ = 0;
};

class TTnefReader {
public:
  // The stream must outlive the reader. Reads the signature and the key; a stream without the
  // signature reports TNEF_NOT_TNEF and yields no attribute.
  explicit TTnefReader(std::string_view stream, TTnefCompliance mode = TTnefCompliance::Loose);

  // Steps to the next attribute; false at the end of the stream or once the rest cannot be an
  // attribute. The checksum of the attribute is checked here; an attribute that the stream cuts
  // short is still returned, with the bytes that are there.
  bool ReadNextAttribute();

  uint16_t Key() const { return key_; }
  uint8_t AttributeLevel() const { return level_; }
  // The whole attribute id, type in the high word.
  uint32_t AttributeTag() const { return tag_; }
  std::string_view AttributeValue() const { return value_; }
  // Where the value begins in the stream.
  size_t AttributeOffset() const { return valueOffset_; }
  // A property reader over the current attribute's value.
  TTnefPropertyReader Properties() { return TTnefPropertyReader(value_, valueOffset_, log_); }

  TTnefDamageLog& Log() { return log_; }
  const TTnefDamageLog& Log() const { return log_; }

private:
  std::string_view stream_;
  TTnefDamageLog log_;
  size_t pos_ = 0;
  bool ended_ = false;
  uint16_t key_ = 0;
  uint8_t level_ = 0;
  uint32_t tag_ = 0;
  std::string_view value_;
  size_t valueOffset_ = 0;
};

// True when the bytes begin with the TNEF signature.
bool HasTnefSignature(std::string_view bytes);

// The name of an attribute id ("attBody"), or its number in hexadecimal.
std::string TnefAttributeName(uint32_t tag);

} // namespace orlendo
