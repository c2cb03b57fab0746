// RFC 822 dates and date-time conversions, under time zones set by the tests.
#include "text/rfc822_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "text/datetime.h"

namespace orlendo {
namespace {

// Sets TZ for one test and puts the previous value back afterwards.
class ZoneScope {
public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ"))
      old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  std::optional<std::string> old_;
};

// Day numbers of the date-time scale, from an independent calendar (Python's datetime).
constexpr double k2026Dec07 = 46363.0;
constexpr double k2026Jul07 = 46210.0;

double At(double day, int hour, int minute, int second) {
  return day + ((hour * 60 + minute) * 60 + second) / 86400.0;
}

// The parts of a date-time, through the model's calendar split.
std::string Text(TDateTime value) {
  const TDateTimeParts p = SplitDateTime(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

TEST(Rfc822Format, WritesTheZoneOfTheDateInEachTimeZone) {
  {
    ZoneScope zone("UTC");
    EXPECT_EQ(FormatRfc822Date(At(k2026Dec07, 9, 5, 3)), "Mon, 7 Dec 2026 09:05:03 GMT");
    EXPECT_EQ(FormatRfc822Date(0), "Sat, 30 Dec 1899 00:00:00 GMT");
  }
  {
    ZoneScope zone("Europe/Berlin");
    EXPECT_EQ(FormatRfc822Date(At(k2026Dec07, 9, 5, 3)), "Mon, 7 Dec 2026 09:05:03 +0100");
    EXPECT_EQ(FormatRfc822Date(At(k2026Jul07, 23, 59, 59)), "Tue, 7 Jul 2026 23:59:59 +0200");
    const std::string epoch = FormatRfc822Date(0);
    EXPECT_EQ(epoch.substr(0, 25), "Sat, 30 Dec 1899 00:00:00");
    EXPECT_EQ(epoch[25], ' ');
  }
  {
    ZoneScope zone("America/New_York");
    EXPECT_EQ(FormatRfc822Date(At(k2026Dec07, 0, 0, 0)), "Mon, 7 Dec 2026 00:00:00 -0500");
  }
  {
    ZoneScope zone("Asia/Kolkata");
    EXPECT_EQ(FormatRfc822Date(At(k2026Jul07, 12, 0, 0)), "Tue, 7 Jul 2026 12:00:00 +0530");
  }
}

TEST(Rfc822Format, CurrentZoneSuffixMatchesTheSystemClock) {
  for (const char* name : {"UTC", "Europe/Berlin", "Asia/Kolkata", "America/New_York"}) {
    ZoneScope zone(name);
    const time_t now = time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char expected[16];
    std::strftime(expected, sizeof expected, "%z", &tm);
    const std::string suffix = LocalZoneSuffix();
    if (std::string(expected) == "+0000")
      EXPECT_EQ(suffix, "GMT") << name;
    else
      EXPECT_EQ(suffix, expected) << name;
  }
}

TEST(Rfc822Parse, ConvertsTheZoneToLocalTimeSummerAndWinter) {
  {
    ZoneScope zone("UTC");
    EXPECT_EQ(Text(ParseRfc822Date("Mon, 7 Dec 2026 10:20:30 +0100")), "2026-12-07 09:20:30");
    EXPECT_EQ(Text(ParseRfc822Date("Mon, 7 Dec 2026 10:20:30 -0500")), "2026-12-07 15:20:30");
    EXPECT_EQ(Text(ParseRfc822Date("Mon, 7 Dec 2026 10:20:30 +0530 (IST)")), "2026-12-07 04:50:30");
  }
  {
    ZoneScope zone("Europe/Berlin");
    EXPECT_EQ(Text(ParseRfc822Date("Mon, 7 Dec 2026 10:20:30 +0100")), "2026-12-07 10:20:30");
    EXPECT_EQ(Text(ParseRfc822Date("Tue, 7 Jul 2026 10:20:30 +0100")), "2026-07-07 11:20:30");
    EXPECT_EQ(Text(ParseRfc822Date("Tue, 7 Jul 2026 10:20:30 GMT")), "2026-07-07 12:20:30");
    EXPECT_EQ(Text(ParseRfc822Date("Tue, 7 Jul 2026 10:20:30 XYZ")), "2026-07-07 12:20:30")
        << "an unknown zone name counts as UTC";
    EXPECT_EQ(Text(ParseRfc822Date("Mon,   07 Dec 2026 23:30:00 +0000")), "2026-12-08 00:30:00");
  }
}

TEST(Rfc822Parse, ReadsTheFormsThatMailProgramsWrite) {
  ZoneScope zone("UTC");
  const std::pair<const char*, const char*> cases[] = {
      {"Mon, 7 Dec 2026 10:20:30", "2026-12-07 10:20:30"}, // no zone: UTC, seconds kept
      {"Mon, 7 Dec 2026 10:20 +0100", "2026-12-07 09:20:00"},
      {"Mon, 7 Dec 2026 10:20", "2026-12-07 10:20:00"},
      {"7 Dec 2026 10:20:30 +0100", "2026-12-07 09:20:30"},
      {"Mon, 7 dec 2026 10:20:30 +0100", "2026-12-07 09:20:30"},
      {"Mon, 7 DECEMBER 2026 10:20:30 +0100", "2026-12-07 09:20:30"},
      {"Mon,7 Dec 2026 10:20:30 +01:00", "2026-12-07 09:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 -0000", "2026-12-07 10:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 UT", "2026-12-07 10:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 Z", "2026-12-07 10:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 EST", "2026-12-07 15:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 EDT", "2026-12-07 14:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 CST", "2026-12-07 16:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 CDT", "2026-12-07 15:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 MST", "2026-12-07 17:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 MDT", "2026-12-07 16:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 pst", "2026-12-07 18:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 PDT", "2026-12-07 17:20:30"},
      {"Mon, 7 Dec 2026 10:20:30 (PST) -0800", "2026-12-07 18:20:30"},
  };
  for (auto [text, expected] : cases)
    EXPECT_EQ(Text(ParseRfc822Date(text)), expected) << text;
  TDateTime value = 0;
  int offset = 0;
  bool hasZone = false;
  ASSERT_TRUE(TryParseRfc822Date("Mon, 7 Dec 2026 10:20:30 -0430", value, offset, hasZone));
  EXPECT_EQ(offset, -270);
  EXPECT_TRUE(hasZone);
  ASSERT_TRUE(TryParseRfc822Date("Mon, 7 Dec 2026 10:20:30", value, offset, hasZone));
  EXPECT_FALSE(hasZone);
}

TEST(Rfc822Parse, TextThatIsNoDateIsNotRecognised) {
  ZoneScope zone("UTC");
  EXPECT_EQ(ParseRfc822Date(""), 0.0);
  EXPECT_EQ(ParseRfc822Date("Mon, 7 Dec"), 0.0);
  TDateTime value = 1;
  EXPECT_FALSE(TryParseRfc822Date("yesterday", value));
  EXPECT_EQ(value, 0.0);
}

TEST(Rfc822Parse, ImpossibleDatesAndTimesRaiseOrFailQuietly) {
  ZoneScope zone("UTC");
  const std::pair<const char*, const char*> cases[] = {
      {"Mon, 32 Dec 2026 10:20:30 +0100", "Invalid argument to date encode"},
      {"Mon, 7 Dex 2026 10:20:30 +0100", "Invalid argument to date encode"},
      {"Mon, 29 Feb 2027 10:20:30 +0100", "Invalid argument to date encode"},
      {"Mon, x Dec 2026 10:20:30 +0100", "Invalid argument to date encode"},
      {"Mon, 7 Dec 2026 24:00:00 +0100", "Invalid argument to time encode"},
      {"Mon, 7 Dec 2026 10:60:00 +0100", "Invalid argument to time encode"},
      {"Mon, 7 Dec 2026 10:20:60 +0100", "Invalid argument to time encode"},
  };
  for (auto [text, message] : cases) {
    try {
      ParseRfc822Date(text);
      ADD_FAILURE() << "no exception for " << text;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), message) << text;
    }
    TDateTime value = 1;
    EXPECT_FALSE(TryParseRfc822Date(text, value)) << text;
    EXPECT_EQ(value, 0.0);
    EXPECT_FALSE(ParseRfc822Date(std::string(text), value)) << text;
  }
  EXPECT_EQ(Text(ParseRfc822Date("Thu, 29 Feb 2024 10:20:30 +0000")), "2024-02-29 10:20:30");
}

TEST(Rfc822Parse, ShortYearsAreTheObsoleteForms) {
  ZoneScope zone("UTC");
  EXPECT_EQ(Text(ParseRfc822Date("Mon, 7 Dec 26 10:20:30 +0000")), "2026-12-07 10:20:30");
  EXPECT_EQ(Text(ParseRfc822Date("Tue, 7 Dec 99 10:20:30 +0000")), "1999-12-07 10:20:30");
  EXPECT_EQ(Text(ParseRfc822Date("Tue, 7 Dec 103 10:20:30 +0000")), "2003-12-07 10:20:30");
}

TEST(Rfc822, FormattedDatesParseBackToTheSameInstant) {
  for (const char* name : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
    ZoneScope zone(name);
    for (double value : {At(k2026Dec07, 9, 5, 3), At(k2026Jul07, 18, 30, 0), At(36526, 0, 0, 1)}) {
      EXPECT_EQ(Text(ParseRfc822Date(FormatRfc822Date(value))), Text(value)) << name;
    }
  }
}

TEST(Rfc822Format, WritesTheInstantInTheZoneGiven) {
  for (const char* name : {"UTC", "Europe/Berlin", "America/New_York"}) {
    ZoneScope zone(name);
    const TDateTime value = ParseRfc822Date("Mon, 7 Dec 2026 10:20:30 -0430");
    EXPECT_EQ(FormatRfc822DateInZone(value, -270), "Mon, 7 Dec 2026 10:20:30 -0430") << name;
    EXPECT_EQ(FormatRfc822DateInZone(value, 0), "Mon, 7 Dec 2026 14:50:30 +0000") << name;
    EXPECT_EQ(FormatRfc822DateInZone(value, 600), "Tue, 8 Dec 2026 00:50:30 +1000") << name;
  }
}

TEST(DateTime, FileTimesConvertToUtcAndLocalTime) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  EXPECT_EQ(FileTimeToUtcDateTime(kUnixEpoch), 25569.0);
  EXPECT_EQ(Text(FileTimeToUtcDateTime(0)), "1601-01-01 00:00:00");
  // 2026-12-07 09:05:03 UTC is 1796634303 seconds after 1970.
  const uint64_t winter = kUnixEpoch + 1796634303ULL * 10000000ULL;
  EXPECT_EQ(Text(FileTimeToUtcDateTime(winter)), "2026-12-07 09:05:03");
  EXPECT_EQ(UtcDateTimeToFileTime(FileTimeToUtcDateTime(winter)), winter);
  const uint64_t summer = winter - 153ULL * 86400 * 10000000ULL; // 2026-07-07
  {
    ZoneScope zone("Europe/Berlin");
    EXPECT_EQ(Text(UtcToLocalDateTime(FileTimeToUtcDateTime(winter))), "2026-12-07 10:05:03");
    EXPECT_EQ(Text(UtcToLocalDateTime(FileTimeToUtcDateTime(summer))), "2026-07-07 11:05:03");
    EXPECT_EQ(LocalDateTimeToFileTime(UtcToLocalDateTime(FileTimeToUtcDateTime(summer))), summer);
    EXPECT_EQ(UtcOffsetMinutesAt(At(k2026Jul07, 12, 0, 0)), 120);
    EXPECT_EQ(UtcOffsetMinutesAt(At(k2026Dec07, 12, 0, 0)), 60);
  }
  {
    ZoneScope zone("UTC");
    EXPECT_EQ(Text(UtcToLocalDateTime(FileTimeToUtcDateTime(summer))), "2026-07-07 09:05:03");
  }
  EXPECT_EQ(UtcDateTimeToFileTime(-700000.0), 0u) << "out of range";
  EXPECT_EQ(UtcDateTimeToFileTime(-146000.0), 0u) << "before 1601";
}

TEST(DateTime, DatesBeforeTheEpochKeepTheirTimeOfDay) {
  EXPECT_EQ(Text(UnixMsToDateTime(DateTimeToUnixMs(-1.25))), Text(-1.25));
  EXPECT_EQ(Text(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(DateTimeToUnixMs(-1.25), (-25570LL * 86400 + 6 * 3600) * 1000);
}

TEST(DateTime, EncodeChecksTheCalendar) {
  TDateTime value = 0;
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, value));
  EXPECT_EQ(value, 45351.0);
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, value));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, value));
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, value));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, value));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, value));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1, value));
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, value));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, value));
  EXPECT_EQ(DayOfWeek(0), 6);
  EXPECT_EQ(DayOfWeek(k2026Dec07), 1);
}

TEST(DateTime, TextInTheCLocale) {
  EXPECT_EQ(DateTimeToText(At(k2026Dec07, 9, 5, 3)), "2026-12-07 09:05:03");
  EXPECT_EQ(DateTimeToText(k2026Dec07), "2026-12-07");
}

// Local wall times read back as instants, every half hour of a year with turns of the clock, in
// zones west and east of UTC, one that turns by half an hour and one before 1970; the C library's
// mktime is the oracle.
TEST(DateTime, LocalTimesBecomeTheInstantsMktimeFinds) {
  for (const char* name : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata",
                           "Australia/Lord_Howe", "America/Sao_Paulo"}) {
    ZoneScope zone(name);
    for (const int year : {2026, 1965}) {
      TDateTimeParts start;
      start.Year = year;
      start.Month = 1;
      start.Day = 1;
      const TDateTime first = JoinDateTime(start);
      for (int step = 0; step < 365 * 48; ++step) {
        const TDateTime local = first + step / 48.0;
        const TDateTimeParts p = SplitDateTime(local);
        std::tm tm{};
        tm.tm_year = p.Year - 1900;
        tm.tm_mon = p.Month - 1;
        tm.tm_mday = p.Day;
        tm.tm_hour = p.Hour;
        tm.tm_min = p.Minute;
        tm.tm_isdst = -1;
        const int64_t expected = static_cast<int64_t>(mktime(&tm)) * 1000;
        const int64_t got = DateTimeToUnixMs(LocalToUtcDateTime(local));
        const bool exists = Text(UtcToLocalDateTime(UnixMsToDateTime(got))) == Text(local);
        const bool mktimeExists =
            Text(UtcToLocalDateTime(UnixMsToDateTime(expected))) == Text(local);
        ASSERT_EQ(exists, mktimeExists) << name << " " << Text(local);
        // A wall time that occurs twice may be either instant; every other one is mktime's.
        if (exists && got != expected)
          ASSERT_LE(std::llabs(got - expected), 3600 * 1000) << name << " " << Text(local);
        else
          ASSERT_EQ(got, expected) << name << " " << Text(local);
      }
    }
  }
}

TEST(DateTime, OutOfRangeValuesPassThrough) {
  ZoneScope zone("Europe/Berlin");
  EXPECT_EQ(UtcToLocalDateTime(1e12), 1e12);
  EXPECT_TRUE(std::isnan(LocalToUtcDateTime(std::nan(""))));
  EXPECT_EQ(DateTimeToUnixMs(1e300), 0);
}

} // namespace
} // namespace orlendo
