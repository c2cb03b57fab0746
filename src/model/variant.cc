#include "model/variant.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "model/utf8.h"
#include "text/datetime.h"

namespace orlendo {
namespace {

int32_t ClampToInt32(double d) {
  if (std::isnan(d))
    return 0;
  if (d >= 2147483647.0)
    return std::numeric_limits<int32_t>::max();
  if (d <= -2147483648.0)
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(d); // truncates toward zero
}

char DecimalPoint() {
  const std::lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

std::string FloatText(double d) {
  if (std::isnan(d))
    return "NAN";
  if (std::isinf(d))
    return d > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d); // honours LC_NUMERIC
  return buf;
}

std::string CurrencyText(int64_t c) {
  // Ten-thousandths: up to four decimals, trailing zeros dropped.
  const bool negative = c < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(fraction));
    std::string f = digits;
    while (!f.empty() && f.back() == '0')
      f.pop_back();
    text += DecimalPoint();
    text += f;
  }
  return negative ? "-" + text : text;
}

} // namespace

double TVariant::ToDouble() const {
  switch (kind_) {
  case VarKind::Integer:
  case VarKind::Boolean:
    return i_;
  case VarKind::Floating:
  case VarKind::DateTime:
    return d_;
  case VarKind::Currency:
    return static_cast<double>(c_) / 10000.0;
  case VarKind::Int64:
    return static_cast<double>(c_);
  default:
    return 0.0;
  }
}

int64_t TVariant::ToInt64() const {
  switch (kind_) {
  case VarKind::Integer:
  case VarKind::Boolean:
    return i_;
  case VarKind::Int64:
    return c_;
  case VarKind::Floating:
  case VarKind::DateTime:
  case VarKind::Currency:
    return ClampToInt32(ToDouble());
  case VarKind::Bytes:
  case VarKind::Wide: {
    const std::string text = kind_ == VarKind::Bytes ? bytes_
                             : heldAsUtf8_           ? std::string(utf8_.Text)
                                                     : utf8::Encode(wide_);
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t')
      ++begin;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE)
      return 0;
    while (*end == ' ' || *end == '\t')
      ++end;
    return *end == '\0' ? n : 0;
  }
  default:
    return 0;
  }
}

void TVariant::Reset() noexcept {
  switch (kind_) {
  case VarKind::Bytes:
    bytes_.~basic_string();
    break;
  case VarKind::Wide:
    if (heldAsUtf8_)
      utf8_.~THeldUtf8();
    else
      wide_.~basic_string();
    break;
  case VarKind::Multi:
    multi_.~shared_ptr();
    break;
  default:
    break;
  }
  kind_ = VarKind::Empty;
  heldAsUtf8_ = false;
  c_ = 0;
}

template <class Source> void TVariant::ConstructFrom(Source&& other) {
  // Copied from an lvalue, moved from an rvalue.
  switch (other.kind_) {
  case VarKind::Bytes:
    new (&bytes_) std::string(std::forward<Source>(other).bytes_);
    break;
  case VarKind::Wide:
    if (!other.heldAsUtf8_) {
      new (&wide_) std::u16string(std::forward<Source>(other).wide_);
    } else if (std::is_rvalue_reference_v<Source&&> ||
               other.utf8_.Text.size() == other.utf8_.Owner->size()) {
      new (&utf8_) THeldUtf8(std::forward<Source>(other).utf8_);
    } else {
      // A copy of a part of a buffer holds its own text, so that no copy keeps a reader's whole
      // input alive for the part it needs.
      auto own = std::make_shared<const std::string>(other.utf8_.Text);
      new (&utf8_) THeldUtf8{own, *own};
    }
    heldAsUtf8_ = other.heldAsUtf8_;
    break;
  case VarKind::Multi:
    new (&multi_) std::shared_ptr<TMultiValue>(std::forward<Source>(other).multi_);
    break;
  case VarKind::Integer:
  case VarKind::Boolean:
    i_ = other.i_;
    break;
  case VarKind::Floating:
  case VarKind::DateTime:
    d_ = other.d_;
    break;
  case VarKind::Currency:
  case VarKind::Int64:
    c_ = other.c_;
    break;
  default:
    break;
  }
  kind_ = other.kind_;
}

void TVariant::MoveFrom(TVariant&& other) noexcept {
  ConstructFrom(std::move(other));
  other.Reset();
}

void TVariant::CopyFrom(const TVariant& other) {
  ConstructFrom(other);
}

const std::string& TVariant::Bytes() const {
  static const std::string kNone;
  return kind_ == VarKind::Bytes ? bytes_ : kNone;
}

TVariant TVariant::FromWideUtf8(std::shared_ptr<const std::string> owner, std::string_view text) {
  if (owner == nullptr)
    return FromWideUtf8(std::string(text));
  TVariant v;
  new (&v.utf8_) THeldUtf8{std::move(owner), text};
  v.kind_ = VarKind::Wide;
  v.heldAsUtf8_ = true;
  return v;
}

TVariant TVariant::FromWideUtf8(std::string text) {
  auto owner = std::make_shared<const std::string>(std::move(text));
  const std::string_view all = *owner;
  return FromWideUtf8(std::move(owner), all);
}

void TVariant::Widen() const {
  if (!HoldsUtf8())
    return;
  std::u16string text = utf8::Decode(utf8_.Text);
  utf8_.~THeldUtf8();
  heldAsUtf8_ = false;
  new (&wide_) std::u16string(std::move(text));
}

const std::u16string& TVariant::Wide() const {
  static const std::u16string kNone;
  if (kind_ != VarKind::Wide)
    return kNone;
  Widen();
  return wide_;
}

bool TVariant::IsEmptyString() const {
  switch (kind_) {
  case VarKind::Bytes:
    return bytes_.empty();
  case VarKind::Wide:
    return heldAsUtf8_ ? utf8_.Text.empty() : wide_.empty();
  default:
    return false;
  }
}

std::string& TVariant::MutableBytes() {
  if (kind_ != VarKind::Bytes)
    *this = FromBytes({});
  return bytes_;
}

std::u16string& TVariant::MutableWide() {
  if (kind_ != VarKind::Wide)
    *this = FromWide({});
  Widen();
  return wide_;
}

TVariant TVariant::FromMulti(TMultiValue values) {
  TVariant v;
  new (&v.multi_) std::shared_ptr<TMultiValue>(std::make_shared<TMultiValue>(std::move(values)));
  v.kind_ = VarKind::Multi;
  return v;
}

const TMultiValue& TVariant::Multi() const {
  static const TMultiValue kNone;
  return kind_ == VarKind::Multi && multi_ != nullptr ? *multi_ : kNone;
}

TMultiValue& TVariant::MutableMulti() {
  if (kind_ != VarKind::Multi)
    *this = FromMulti(TMultiValue{});
  else if (multi_.use_count() > 1)
    multi_ = std::make_shared<TMultiValue>(*multi_);
  return *multi_;
}

std::u16string TVariant::ToWide() const {
  switch (kind_) {
  case VarKind::Wide:
    return heldAsUtf8_ ? utf8::Decode(utf8_.Text) : wide_;
  case VarKind::Bytes:
    return utf8::Decode(bytes_);
  case VarKind::Multi: {
    std::u16string text;
    for (const TVariant& item : Multi().Items) {
      if (&item != Multi().Items.data())
        text += u"\r\n";
      text += item.ToWide();
    }
    return text;
  }
  default:
    return utf8::Decode(ToUtf8());
  }
}

std::string TVariant::ToUtf8() const {
  switch (kind_) {
  case VarKind::Empty:
  case VarKind::Null:
    return std::string();
  case VarKind::Integer:
    return std::to_string(i_);
  case VarKind::Boolean:
    return i_ ? "True" : "False";
  case VarKind::Floating:
    return FloatText(d_);
  case VarKind::Currency:
    return CurrencyText(c_);
  case VarKind::Int64:
    return std::to_string(c_);
  case VarKind::DateTime:
    return LocaleDateTimeText(d_);
  case VarKind::Bytes:
    // Invalid bytes become U+FFFD, so the result is always UTF-8.
    return utf8::IsValid(bytes_) ? bytes_ : utf8::Encode(utf8::Decode(bytes_));
  case VarKind::Wide:
    return heldAsUtf8_ ? std::string(utf8_.Text) : utf8::Encode(wide_);
  case VarKind::Multi:
    return utf8::Encode(ToWide());
  }
  return std::string();
}

bool TVariant::operator==(const TVariant& other) const {
  if (kind_ != other.kind_)
    return false;
  switch (kind_) {
  case VarKind::Empty:
  case VarKind::Null:
    return true;
  case VarKind::Integer:
  case VarKind::Boolean:
    return i_ == other.i_;
  case VarKind::Floating:
  case VarKind::DateTime:
    return d_ == other.d_;
  case VarKind::Currency:
  case VarKind::Int64:
    return c_ == other.c_;
  case VarKind::Bytes:
    return bytes_ == other.bytes_;
  case VarKind::Wide:
    if (heldAsUtf8_ && other.heldAsUtf8_)
      return utf8_.Text == other.utf8_.Text;
    if (heldAsUtf8_ || other.heldAsUtf8_)
      return ToWide() == other.ToWide();
    return wide_ == other.wide_;
  case VarKind::Multi:
    return Multi() == other.Multi();
  }
  return false;
}

} // namespace orlendo
