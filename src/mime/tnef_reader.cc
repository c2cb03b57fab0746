#include "mime/tnef_reader.h"

#include <cstdio>

#include "mime/tnef_format.h"

namespace orlendo {

namespace {

// Problems beyond this many are counted in the flags but not listed: a hostile stream could
// otherwise make one per byte.
constexpr size_t kMaxProblems = 64;
// Problems named in a message to the user.
constexpr size_t kDescribedProblems = 4;
// The header of an attribute: level, id, length; the checksum follows the value.
constexpr size_t kAttributeHeader = 1 + 4 + 4;

uint16_t Le16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                               (static_cast<unsigned char>(s[at + 1]) << 8));
}
uint32_t Le32(std::string_view s, size_t at) {
  return static_cast<uint32_t>(Le16(s, at)) | (static_cast<uint32_t>(Le16(s, at + 2)) << 16);
}

size_t Padded(size_t n) {
  return (n + 3) & ~static_cast<size_t>(3);
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

} // namespace

void TTnefDamageLog::Report(uint32_t flag, size_t offset, std::string text) {
  if (mode_ == TTnefCompliance::Strict)
    throw ETnefError(flag, offset, text + " (offset " + std::to_string(offset) + ")");
  damage_ |= flag;
  if (problems_.size() < kMaxProblems)
    problems_.push_back({offset, flag, std::move(text)});
}

std::string TTnefDamageLog::Describe() const {
  std::string text;
  for (size_t i = 0; i < problems_.size() && i < kDescribedProblems; ++i) {
    if (!text.empty())
      text += "; ";
    text += problems_[i].Text + " (offset " + std::to_string(problems_[i].Offset) + ")";
  }
  if (problems_.size() > kDescribedProblems)
    text += "; and " + std::to_string(problems_.size() - kDescribedProblems) + " more";
  return text;
}

size_t TnefFixedValueSize(uint16_t type) {
  switch (type & ~0x1000) {
  case 0x0001: // PT_NULL: a placeholder of one padded slot
  case 0x0002: // PT_I2, padded to four bytes like every value
  case 0x0003:
  case 0x0004:
  case 0x000A:
  case 0x000B: // PT_BOOLEAN: stored in four bytes
    return 4;
  case 0x0005:
  case 0x0006:
  case 0x0007:
  case 0x0014:
  case 0x0040:
    return 8;
  case 0x0048:
    return 16;
  default:
    return 0;
  }
}

bool IsTnefVariableType(uint16_t type) {
  const uint16_t t = type & ~0x1000;
  return t == 0x000D || t == 0x001E || t == 0x001F || t == 0x0102;
}

bool TTnefPropertyReader::Need(size_t n, const char* what) {
  if (data_.size() - pos_ >= n)
    return true;
  log_.Report(TNEF_BAD_LENGTH, base_ + pos_,
              std::string(what) + " needs " + std::to_string(n) + " bytes, but the attribute has " +
                  std::to_string(data_.size() - pos_) + " left");
  pos_ = data_.size();
  return false;
}

uint32_t TTnefPropertyReader::U32() {
  const uint32_t v = Le32(data_, pos_);
  pos_ += 4;
  return v;
}

bool TTnefPropertyReader::ReadCount(uint32_t& count) {
  if (!Need(4, "A count"))
    return false;
  const size_t at = pos_;
  count = U32();
  if (count > (data_.size() - pos_) / 4) {
    log_.Report(TNEF_BAD_LENGTH, base_ + at,
                "A count of " + std::to_string(count) + " cannot fit into the " +
                    std::to_string(data_.size() - pos_) + " bytes left of the attribute");
    pos_ = data_.size();
    return false;
  }
  return true;
}

bool TTnefPropertyReader::ReadProperty(TTnefProperty& p) {
  if (AtEnd())
    return false;
  p = TTnefProperty();
  p.Offset = base_ + pos_;
  if (!Need(4, "A property tag"))
    return false;
  const uint16_t type = Le16(data_, pos_);
  const uint16_t id = Le16(data_, pos_ + 2);
  pos_ += 4;
  p.Tag = (static_cast<uint32_t>(id) << 16) | type;
  if (id >= 0x8000) {
    p.Named = true;
    if (!Need(20, "A property name"))
      return false;
    for (size_t i = 0; i < 16; ++i)
      p.Guid[i] = static_cast<unsigned char>(data_[pos_ + i]);
    pos_ += 16;
    const uint32_t kind = U32();
    if (kind == tnef::MNID_ID) {
      if (!Need(4, "A property name's id"))
        return false;
      p.Lid = U32();
    } else if (kind == tnef::MNID_STRING) {
      p.NameIsString = true;
      if (!Need(4, "The length of a property name"))
        return false;
      const uint32_t length = U32();
      if (!Need(Padded(length), "A property name"))
        return false;
      for (size_t i = 0; i + 1 < length; i += 2) {
        const char16_t c = static_cast<char16_t>(Le16(data_, pos_ + i));
        if (c == 0)
          break;
        p.Name.push_back(c);
      }
      pos_ += Padded(length);
    } else {
      log_.Report(TNEF_BAD_PROPERTY, p.Offset,
                  "Property " + Hex(p.Tag, 8) + " has a name of unknown kind " +
                      std::to_string(kind));
      pos_ = data_.size();
      return false;
    }
  }
  p.MultiValued = (type & 0x1000) != 0;
  const size_t fixed = TnefFixedValueSize(type);
  if (fixed == 0 && !IsTnefVariableType(type)) {
    log_.Report(TNEF_BAD_PROPERTY, p.Offset,
                "Property " + Hex(p.Tag, 8) + " has the unknown type " + Hex(type, 4));
    pos_ = data_.size();
    return false;
  }
  uint32_t count = 1;
  if (p.MultiValued || fixed == 0) {
    if (!ReadCount(count))
      return false;
  }
  // Each value takes at least four bytes, so a count that passed ReadCount bounds the vector.
  p.Values.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (fixed != 0) {
      if (!Need(fixed, "A property value"))
        return false;
      // PT_I2 and PT_BOOLEAN are two bytes padded to four.
      const uint16_t single = type & ~0x1000;
      const size_t natural = (single == 0x0002 || single == 0x000B) ? 2 : fixed;
      p.Values.push_back(data_.substr(pos_, natural));
      pos_ += fixed;
    } else {
      if (!Need(4, "The length of a property value"))
        return false;
      const uint32_t length = U32();
      if (length > data_.size() - pos_) {
        log_.Report(TNEF_BAD_LENGTH, pos_ - 4 + base_,
                    "A value of property " + Hex(p.Tag, 8) + " claims " + std::to_string(length) +
                        " bytes, but the attribute has " + std::to_string(data_.size() - pos_) +
                        " left");
        // What is there is kept: a file cut short is better than none.
        p.Values.push_back(data_.substr(pos_));
        pos_ = data_.size();
        return true;
      }
      p.Values.push_back(data_.substr(pos_, length));
      pos_ += std::min(Padded(length), data_.size() - pos_);
    }
  }
  return true;
}

TTnefReader::TTnefReader(std::string_view stream, TTnefCompliance mode)
    : stream_(stream), log_(mode) {
  if (!HasTnefSignature(stream)) {
    ended_ = true;
    log_.Report(TNEF_NOT_TNEF, 0, "The stream does not begin with the TNEF signature");
    return;
  }
  if (stream.size() < 6) {
    ended_ = true;
    log_.Report(TNEF_TRUNCATED, stream.size(), "The stream ends before its key");
    return;
  }
  key_ = Le16(stream, 4);
  pos_ = 6;
}

bool TTnefReader::ReadNextAttribute() {
  if (ended_)
    return false;
  const size_t left = stream_.size() - pos_;
  if (left == 0) {
    ended_ = true;
    return false;
  }
  const uint8_t level = static_cast<uint8_t>(stream_[pos_]);
  if (left < kAttributeHeader || (level != tnef::LVL_MESSAGE && level != tnef::LVL_ATTACHMENT)) {
    ended_ = true;
    // Bytes that cannot begin an attribute: the stream's own content is over.
    log_.Report(left < kAttributeHeader ? TNEF_TRAILING_DATA : TNEF_BAD_LEVEL, pos_,
                std::to_string(left) + " bytes after the last attribute are not an attribute");
    return false;
  }
  level_ = level;
  tag_ = Le32(stream_, pos_ + 1);
  const uint32_t length = Le32(stream_, pos_ + 5);
  valueOffset_ = pos_ + kAttributeHeader;
  const size_t available = stream_.size() - valueOffset_;
  if (length > available || available - length < 2) {
    ended_ = true;
    value_ = stream_.substr(valueOffset_, std::min<size_t>(length, available));
    log_.Report(TNEF_TRUNCATED, pos_,
                "Attribute " + TnefAttributeName(tag_) + " claims " + std::to_string(length) +
                    " bytes, but the stream has " + std::to_string(available) + " left");
    pos_ = stream_.size();
    return true;
  }
  value_ = stream_.substr(valueOffset_, length);
  uint16_t sum = 0;
  for (const char c : value_)
    sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
  const uint16_t stored = Le16(stream_, valueOffset_ + length);
  pos_ = valueOffset_ + length + 2;
  if (sum != stored) {
    log_.Report(TNEF_BAD_CHECKSUM, valueOffset_ + length,
                "The checksum of attribute " + TnefAttributeName(tag_) + " is " + Hex(stored, 4) +
                    ", but its bytes sum to " + Hex(sum, 4));
  }
  return true;
}

bool HasTnefSignature(std::string_view bytes) {
  return bytes.size() >= 4 && Le32(bytes, 0) == tnef::TNEF_SIGNATURE;
}

std::string TnefAttributeName(uint32_t tag) {
  using namespace tnef;
  switch (tag) {
  case attOwner:
    return "attOwner";
  case attSentFor:
    return "attSentFor";
  case attDelegate:
    return "attDelegate";
  case attDateStart:
    return "attDateStart";
  case attDateEnd:
    return "attDateEnd";
  case attAidOwner:
    return "attAidOwner";
  case attRequestRes:
    return "attRequestRes";
  case attFrom:
    return "attFrom";
  case attSubject:
    return "attSubject";
  case attDateSent:
    return "attDateSent";
  case attDateRecd:
    return "attDateRecd";
  case attMessageStatus:
    return "attMessageStatus";
  case attMessageClass:
    return "attMessageClass";
  case attMessageID:
    return "attMessageID";
  case attParentID:
    return "attParentID";
  case attConversationID:
    return "attConversationID";
  case attBody:
    return "attBody";
  case attPriority:
    return "attPriority";
  case attAttachData:
    return "attAttachData";
  case attAttachTitle:
    return "attAttachTitle";
  case attAttachMetaFile:
    return "attAttachMetaFile";
  case attAttachCreateDate:
    return "attAttachCreateDate";
  case attAttachModifyDate:
    return "attAttachModifyDate";
  case attDateModified:
    return "attDateModified";
  case attAttachTransportFilename:
    return "attAttachTransportFilename";
  case attAttachRenddata:
    return "attAttachRenddata";
  case attMAPIProps:
    return "attMAPIProps";
  case attRecipTable:
    return "attRecipTable";
  case attAttachment:
    return "attAttachment";
  case attTnefVersion:
    return "attTnefVersion";
  case attOemCodepage:
    return "attOemCodepage";
  case attOriginalMessageClass:
    return "attOriginalMessageClass";
  default:
    return Hex(tag, 8);
  }
}

} // namespace orlendo
