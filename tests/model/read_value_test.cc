// Reading property values from their streams, and the body format a reader marks on the way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>
#include <string>

#include "model/qvmsg.h"

namespace orlendo {

void PrintTo(const TVariant& v, std::ostream* os) {
  *os << "kind " << static_cast<int>(v.Kind()) << " \"" << v.ToUtf8() << "\"";
}

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

std::string DoubleBytes(double d) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &d, 8); // the test host is little-endian, like the format
  return s;
}

struct ReadCase {
  uint16_t type;
  std::string data;
  TVariant expected;
  int32_t defaultSize; // DataSize when ReadValue is told size 0
};

TEST(ReadValue, EveryFixedTypeDecodesLittleEndianAndDefaultsItsSize) {
  const ReadCase cases[] = {
      {0x0002, Bytes({0xFE, 0xFF}), TVariant::FromInteger(-2), 2},
      {0x0003, Bytes({0x78, 0x56, 0x34, 0x12}), TVariant::FromInteger(0x12345678), 4},
      {0x000A, Bytes({0x05, 0x40, 0x00, 0x80}), TVariant::FromInteger(int32_t(0x80004005)), 4},
      {0x0004, Bytes({0x00, 0x00, 0xC0, 0x3F}), TVariant::FromFloating(1.5), 4},
      {0x0005, Bytes({0, 0, 0, 0, 0, 0, 0x04, 0xC0}), TVariant::FromFloating(-2.5), 8},
      {0x0007, DoubleBytes(37121.75), TVariant::FromDateTime(37121.75), 8},
      {0x000B, Bytes({0x00, 0x01}), TVariant::FromBoolean(true), 2},
      {0x000B, Bytes({0x00, 0x00}), TVariant::FromBoolean(false), 2},
      {0x0014, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), TVariant::FromInt64(-1), 8},
      // The stored number counts ten-thousandths: 12345 is 1.2345.
      {0x0006, Bytes({0x39, 0x30, 0, 0, 0, 0, 0, 0}), TVariant::FromCurrency(12345), 8},
      {0x0048,
       Bytes({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
              0x0E, 0x0F}),
       TVariant::FromBytes("{03020100-0504-0706-0809-0A0B0C0D0E0F}"), 16},
      {0x0001, Bytes({1, 2, 3}), TVariant::FromBytes(""), 0},
      {0x0999, Bytes({1, 2, 3}), TVariant::FromBytes(""), 0},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << c.type);
    for (int32_t size : {0, 40}) {
      TMSGProperties level(nullptr);
      TMSGProperty* record = level.Add();
      record->TagID = 0x66660000u | c.type;
      TMemoryStream stream(c.data);
      record->ReadValue(stream, size);
      EXPECT_EQ(record->Value, c.expected);
      EXPECT_EQ(record->DataSize, size == 0 ? c.defaultSize : size);
    }
  }
}

TEST(ReadValue, CurrencyShowsAsTheStoredAmount) {
  TMSGProperties level(nullptr);
  TMSGProperty* record = level.Add();
  record->TagID = 0x66660006;
  TMemoryStream stream(Bytes({0x39, 0x30, 0, 0, 0, 0, 0, 0}));
  record->ReadValue(stream, 8);
  EXPECT_DOUBLE_EQ(record->Value.ToDouble(), 1.2345);
}

TEST(ReadValue, ByteStringTypesKeepTheExactBytesIncludingZeros) {
  const std::string data = Bytes({'a', 0, 0xFF, 'b', 0});
  for (uint16_t type : {0x000D, 0x001E, 0x8008, 0x8013, 0x0102}) {
    SCOPED_TRACE(type);
    TMSGProperties level(nullptr);
    TMSGProperty* record = level.Add();
    record->TagID = 0x00370000u | type;
    TMemoryStream stream(data + "tail");
    record->ReadValue(stream, 5);
    ASSERT_TRUE(record->Value.IsBytes());
    EXPECT_EQ(record->Value.Bytes(), data);
    EXPECT_EQ(record->DataSize, 5);
    EXPECT_EQ(stream.Position(), 5); // the next value starts where this one ended
  }
}

TEST(ReadValue, ShortDataIsZeroFilledAndFixedReadsKeepTheirZeros) {
  TMSGProperties level(nullptr);
  TMSGProperty* text = level.Add();
  text->TagID = 0x0037001E;
  TMemoryStream shortText("ab");
  text->ReadValue(shortText, 6);
  EXPECT_EQ(text->Value.Bytes(), Bytes({'a', 'b', 0, 0, 0, 0}));
  EXPECT_EQ(text->DataSize, 6);

  TMSGProperty* number = level.Add();
  number->TagID = 0x0E070003;
  TMemoryStream shortNumber(Bytes({0x09}));
  number->ReadValue(shortNumber, 0);
  EXPECT_EQ(number->Value, TVariant::FromInteger(9));
}

TEST(ReadValue, UnicodeTakesSizeDivTwoCharactersAndKeepsTheOddSize) {
  TMSGProperties level(nullptr);
  TMSGProperty* record = level.Add();
  record->TagID = 0x0037001F;
  TMemoryStream stream(Bytes({'H', 0, 'i', 0, 0x3D, 0xD8, 'X', 'Y'}));
  record->ReadValue(stream, 7);
  ASSERT_TRUE(record->Value.IsWide());
  EXPECT_EQ(record->Value.Wide(), std::u16string(u"Hi\xD83D"));
  EXPECT_EQ(record->DataSize, 7);
  EXPECT_EQ(stream.Position(), 7);
}

TEST(ReadValue, AHugeClaimedSizeIsNotAllocatedBeyondTheStream) {
  TMSGProperties level(nullptr);
  TMSGProperty* record = level.Add();
  record->TagID = 0x37010102;
  TMemoryStream stream("only a few bytes");
  record->ReadValue(stream, 0x7FFFFFF0);
  EXPECT_LE(record->Value.Bytes().size(), 64u * 1024);
  EXPECT_EQ(record->Value.Bytes().substr(0, 16), "only a few bytes");
  EXPECT_EQ(record->DataSize, 0x7FFFFFF0);
}

TEST(ReadValue, BodyStreamsMarkTheBodyFormatOfTheirCollection) {
  {
    TMSGProperties level(nullptr);
    TMSGProperty* plain = level.Add();
    plain->TagID = 0x1000001F;
    TMemoryStream s(Bytes({'x', 0}));
    plain->ReadValue(s, 2);
    EXPECT_EQ(level.BodyFormat, 1);
  }
  {
    // The plain body does not override a format already set; the 8-bit HTML body always does.
    TMSGProperties level(nullptr);
    level.BodyFormat = 2;
    TMSGProperty* plain = level.Add();
    plain->TagID = 0x1000001E;
    TMemoryStream s1("x");
    plain->ReadValue(s1, 1);
    EXPECT_EQ(level.BodyFormat, 2);
    TMSGProperty* html = level.Add();
    html->TagID = 0x1013001E;
    TMemoryStream s2("<p>");
    html->ReadValue(s2, 3);
    EXPECT_EQ(level.BodyFormat, 3);
    TMSGProperty* again = level.Add();
    again->TagID = 0x1000001E;
    TMemoryStream s3("y");
    again->ReadValue(s3, 1);
    EXPECT_EQ(level.BodyFormat, 3);
  }
  {
    TMSGProperties level(nullptr);
    TMSGProperty* binaryHtml = level.Add();
    binaryHtml->TagID = 0x10130102;
    TMemoryStream s("<p>");
    binaryHtml->ReadValue(s, 3);
    EXPECT_EQ(level.BodyFormat, 0);
  }
}

class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ"))
      saved_ = old, hadValue_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadValue_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

private:
  std::string saved_;
  bool hadValue_ = false;
};

uint64_t FileTimeOf(int64_t unixSeconds, int ms) {
  return static_cast<uint64_t>((unixSeconds + 11644473600LL) * 10000000LL + ms * 10000LL);
}

TDateTimeParts ReadSysTime(uint64_t fileTime) {
  std::string data;
  for (int i = 0; i < 8; ++i)
    data.push_back(static_cast<char>(fileTime >> (8 * i)));
  TMSGProperties level(nullptr);
  TMSGProperty* record = level.Add();
  record->TagID = 0x00390040;
  TMemoryStream stream(data);
  record->ReadValue(stream, 0);
  EXPECT_EQ(record->Value.Kind(), VarKind::DateTime);
  EXPECT_EQ(record->DataSize, 8);
  return SplitDateTime(record->Value.AsDateTime());
}

TEST(ReadValue, SysTimeBecomesLocalTimeWithMilliseconds) {
  ScopedTimeZone zone("JST-9"); // UTC+9, no daylight saving
  // 2020-01-02 03:04:05.678 UTC
  const TDateTimeParts p = ReadSysTime(FileTimeOf(1577934245, 678));
  EXPECT_EQ(p.Year, 2020);
  EXPECT_EQ(p.Month, 1);
  EXPECT_EQ(p.Day, 2);
  EXPECT_EQ(p.Hour, 12);
  EXPECT_EQ(p.Minute, 4);
  EXPECT_EQ(p.Second, 5);
  EXPECT_EQ(p.Millisecond, 678);

  // Crossing midnight into the next local day, and the FILETIME epoch itself.
  const TDateTimeParts late = ReadSysTime(FileTimeOf(1578009600 - 3600, 0)); // 2020-01-02 23:00Z
  EXPECT_EQ(late.Day, 3);
  EXPECT_EQ(late.Hour, 8);
  const TDateTimeParts epoch = ReadSysTime(0);
  EXPECT_EQ(epoch.Year, 1601);
  EXPECT_EQ(epoch.Month, 1);
  EXPECT_EQ(epoch.Day, 1);
  EXPECT_EQ(epoch.Hour, 9);
}

TEST(ReadValue, SysTimeUsesTheOffsetOfNowNotOfTheDate) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int offsetHours = static_cast<int>(local.tm_gmtoff / 3600); // 1 in winter, 2 in summer
  ASSERT_TRUE(offsetHours == 1 || offsetHours == 2);
  // 2021-01-15 10:00 UTC (winter) and 2021-07-15 10:00 UTC (summer) shift by the same hours.
  EXPECT_EQ(ReadSysTime(FileTimeOf(1610704800, 0)).Hour, 10 + offsetHours);
  EXPECT_EQ(ReadSysTime(FileTimeOf(1626343200, 0)).Hour, 10 + offsetHours);
}

} // namespace
} // namespace orlendo
