// The value of a property record: a small tagged union of the kinds a MAPI value can take.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/date_parts.h"

namespace orlendo {

enum class VarKind : uint8_t {
  Empty,
  Null,
  Integer, // 32-bit signed
  Boolean,
  Floating, // double
  Currency, // 64-bit integer counting ten-thousandths
  DateTime, // TDateTime
  Bytes,    // byte string: 8-bit text as stored, or binary data; may hold zero bytes
  Wide,     // UTF-16 text
  Multi,    // the values of a multi-valued property (TMultiValue)
  Int64     // 64-bit signed (PT_I8): a double would lose the low bits of large ones
};

struct TMultiValue;

class TVariant {
public:
  TVariant() : c_(0) {}
  TVariant(const TVariant& other) : kind_(VarKind::Empty), c_(0) { CopyFrom(other); }
  TVariant(TVariant&& other) noexcept : kind_(VarKind::Empty), c_(0) { MoveFrom(std::move(other)); }
  TVariant& operator=(const TVariant& other) {
    if (this != &other) {
      TVariant copy(other);
      Reset();
      MoveFrom(std::move(copy));
    }
    return *this;
  }
  TVariant& operator=(TVariant&& other) noexcept {
    if (this != &other) {
      Reset();
      MoveFrom(std::move(other));
    }
    return *this;
  }
  ~TVariant() { Reset(); }

  static TVariant Null() {
    TVariant v;
    v.kind_ = VarKind::Null;
    return v;
  }
  static TVariant FromInteger(int32_t i) {
    TVariant v;
    v.kind_ = VarKind::Integer;
    v.i_ = i;
    return v;
  }
  static TVariant FromBoolean(bool b) {
    TVariant v;
    v.kind_ = VarKind::Boolean;
    v.i_ = b ? 1 : 0;
    return v;
  }
  static TVariant FromFloating(double d) {
    TVariant v;
    v.kind_ = VarKind::Floating;
    v.d_ = d;
    return v;
  }
  static TVariant FromCurrency(int64_t c) {
    TVariant v;
    v.kind_ = VarKind::Currency;
    v.c_ = c;
    return v;
  }
  static TVariant FromInt64(int64_t n) {
    TVariant v;
    v.kind_ = VarKind::Int64;
    v.c_ = n;
    return v;
  }
  static TVariant FromDateTime(TDateTime t) {
    TVariant v;
    v.kind_ = VarKind::DateTime;
    v.d_ = t;
    return v;
  }
  static TVariant FromBytes(std::string s) {
    TVariant v;
    new (&v.bytes_) std::string(std::move(s));
    v.kind_ = VarKind::Bytes;
    return v;
  }
  static TVariant FromWide(std::u16string s) {
    TVariant v;
    new (&v.wide_) std::u16string(std::move(s));
    v.kind_ = VarKind::Wide;
    return v;
  }
  // A wide string held as UTF-8, which must be valid: text is a part of owner's bytes, which the
  // value keeps alive and which must not change while it lives. A reader that keeps its input
  // makes a large text of it so without a copy, where a wide copy would take twice its size.
  static TVariant FromWideUtf8(std::shared_ptr<const std::string> owner, std::string_view text);
  // The same, the value holding the UTF-8 itself.
  static TVariant FromWideUtf8(std::string text);
  static TVariant FromMulti(TMultiValue values);

  VarKind Kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == VarKind::Empty; }
  bool IsNull() const { return kind_ == VarKind::Null; }
  bool IsEmptyOrNull() const { return kind_ == VarKind::Empty || kind_ == VarKind::Null; }
  bool IsBytes() const { return kind_ == VarKind::Bytes; }
  bool IsWide() const { return kind_ == VarKind::Wide; }
  bool IsString() const { return kind_ == VarKind::Bytes || kind_ == VarKind::Wide; }
  bool IsMulti() const { return kind_ == VarKind::Multi; }

  // Raw accessors: valid for the matching kind; other kinds give 0 / false / empty.
  int32_t AsInteger() const { return kind_ == VarKind::Integer ? i_ : 0; }
  bool AsBoolean() const { return kind_ == VarKind::Boolean && i_ != 0; }
  double AsFloating() const {
    return (kind_ == VarKind::Floating || kind_ == VarKind::DateTime) ? d_ : 0.0;
  }
  int64_t AsCurrency() const { return kind_ == VarKind::Currency ? c_ : 0; }
  int64_t AsInt64() const { return kind_ == VarKind::Int64 ? c_ : 0; }
  TDateTime AsDateTime() const { return kind_ == VarKind::DateTime ? d_ : 0.0; }
  const std::string& Bytes() const;
  // A wide string held as UTF-8 is widened in place by the first call, and is an ordinary wide
  // string after it: a caller that can take UTF-8 asks HeldUtf8 first, so that a text of
  // megabytes is not widened to be read. Being a change, the first call must not meet another
  // thread reading the same value.
  const std::u16string& Wide() const;
  // Whether the value is a wide string held as UTF-8, and that UTF-8 (empty for other values).
  bool HoldsUtf8() const { return kind_ == VarKind::Wide && heldAsUtf8_; }
  std::string_view HeldUtf8() const { return HoldsUtf8() ? utf8_.Text : std::string_view(); }
  // Whether the value is a byte or wide string without a character.
  bool IsEmptyString() const;
  // The string of a byte-string or wide-string value, to change in place; a value of another
  // kind becomes an empty one of that kind first.
  std::string& MutableBytes();
  std::u16string& MutableWide();
  // The values of a multi-valued kind; an empty set for the other kinds. Copies of a variant share
  // their values until one of them is changed through MutableMulti (which makes a value of
  // another kind an empty multi-valued one first).
  const TMultiValue& Multi() const;
  TMultiValue& MutableMulti();

  // Numeric view of any numeric kind (integer, boolean, floating, currency as ten-thousandths
  // divided out, date-time); 0 for the others.
  double ToDouble() const;
  // Integer view: integers, 64-bit integers and booleans as they are, floating kinds truncated
  // toward zero (clamped to the 32-bit range), numeric strings parsed; 0 otherwise.
  int64_t ToInt64() const;

  // The text of the value: decimal integers, floating and date-time values in the user's
  // locale, booleans as "True"/"False", the values of a multi-valued kind one per line (CR LF
  // between them), wide strings as they are, byte strings through the
  // system code page (UTF-8, invalid bytes as U+FFFD). Empty or null: empty text. Byte strings
  // stored in another code page are decoded by the model (TMSGProperty::GetValueText), which
  // knows the message's code page; this conversion does not.
  std::u16string ToWide() const;
  // ToWide() as UTF-8.
  std::string ToUtf8() const;

  bool operator==(const TVariant& other) const;

private:
  // A wide string's text as UTF-8, in a part of a buffer that copies of the value may share.
  struct THeldUtf8 {
    std::shared_ptr<const std::string> Owner;
    std::string_view Text;
  };

  // Ends the life of the member in use and leaves the value empty.
  void Reset() noexcept;
  // Makes a wide string held as UTF-8 an ordinary one.
  void Widen() const;
  // Takes the kind and member of other (this one empty); other is left empty.
  void MoveFrom(TVariant&& other) noexcept;
  void CopyFrom(const TVariant& other);
  template <class Source> void ConstructFrom(Source&& other);

  // The kind says which member lives: every property record holds one value, so the members
  // share their room.
  // The members that hold a wide string are mutable: Wide() widens one held as UTF-8 in place.
  mutable VarKind kind_ = VarKind::Empty;
  mutable bool heldAsUtf8_ = false; // with kind_ Wide: utf8_ lives, not wide_
  union {
    int32_t i_;
    int64_t c_;
    double d_;
    std::string bytes_;
    mutable std::u16string wide_;
    mutable THeldUtf8 utf8_;
    std::shared_ptr<TMultiValue> multi_;
  };
};

// The values of a multi-valued property, each of the kind its single-valued type is read as
// (integers, floating, currency, date-time, GUID text, byte strings, wide strings). A value that
// the file did not hold (an element stream that is missing) is empty. Stored keeps the bytes of
// the stream that the reader took the values from (the fixed-size values, or the lengths of the
// variable-size ones), so that writing them back gives the same bytes even where a value's kind
// cannot hold every bit of the stored one (times finer than a millisecond, 64-bit integers).
struct TMultiValue {
  std::vector<TVariant> Items;
  std::optional<std::string> Stored;
  // The values decide; the stored bytes are how they came.
  bool operator==(const TMultiValue& other) const { return Items == other.Items; }
};

} // namespace orlendo
