// Shared by the export tests: building message trees by hand, time zones, text checks.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "model/qvmsg.h"
#include "text/qvmsgcp.h"

namespace orlendo::exporttest {

inline TVariant W(const std::u16string& s) {
  return TVariant::FromWide(s);
}
inline TVariant A(const std::string& s) {
  return TVariant::FromBytes(s);
}
inline std::string U8(const std::u16string& s) {
  return EncodeUtf8(s);
}
inline std::u16string U16(const std::string& s) {
  return DecodeUtf8(s);
}

// A recipient node as the .msg reader makes it; the caller fills its SubProperties.
inline TMSGProperty* AddRecipientNode(TMSGProperties& level, int index) {
  TMSGProperty* node = level.Add();
  node->TagID = TAG_RECIPIENT_NODE;
  char name[64];
  std::snprintf(name, sizeof name, "__recip_version1.0_#%08X", index);
  node->Value = TVariant::FromBytes(name);
  return node;
}

inline TMSGProperty* AddRecipient(TMSGProperties& level, int index, const std::u16string& name,
                                  const std::u16string& address, uint32_t addressTag = 0x3003001F) {
  TMSGProperty* node = AddRecipientNode(level, index);
  node->SubProperties().AddProperty(0x3001001F, W(name));
  if (!address.empty())
    node->SubProperties().AddProperty(addressTag, W(address));
  return node;
}

inline TMSGProperty* AddAttachmentNode(TMSGProperties& level, int index) {
  TMSGProperty* node = level.Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  char name[64];
  std::snprintf(name, sizeof name, "__attach_version1.0_#%08X", index);
  node->Value = TVariant::FromBytes(name);
  return node;
}

// Adds an attachment holding an embedded message and returns the embedded message's level.
inline TMSGProperties& AddEmbeddedMessage(TMSGProperties& level, int index) {
  TMSGProperty* node = AddAttachmentNode(level, index);
  TMSGProperty* object = node->SubProperties().Add();
  object->TagID = TAG_ATTACH_DATA_OBJ;
  object->Value = TVariant::FromBytes("3701000D");
  return object->SubProperties();
}

// Sets TZ for the life of the object and restores the previous zone afterwards.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ"))
      old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
  std::optional<std::string> old_;
};

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
inline long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// A wall-clock date-time as the Windows date-time number (days since 30 December 1899).
inline double WallClock(int y, int m, int d, int hh, int mm, int ss, int ms = 0) {
  return static_cast<double>(DaysFromCivil(y, m, d) + 25569) +
         (hh * 3600.0 + mm * 60.0 + ss + ms / 1000.0) / 86400.0;
}

// The local wall clock of the process's time zone at the given UTC instant.
inline double LocalOfUtc(int y, int m, int d, int hh, int mm, int ss, int ms = 0) {
  std::tm utc{};
  utc.tm_year = y - 1900;
  utc.tm_mon = m - 1;
  utc.tm_mday = d;
  utc.tm_hour = hh;
  utc.tm_min = mm;
  utc.tm_sec = ss;
  time_t t = timegm(&utc);
  std::tm local{};
  localtime_r(&t, &local);
  return WallClock(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min, local.tm_sec, ms);
}

// One millisecond and a little, in days.
inline constexpr double kMillisecond = 1.2e-8;

// Text that went through a wrong decoding shows a UTF-8 lead byte read as a Latin-1/Windows-1252
// letter directly followed by a continuation byte read the same way (as in "Ã©" for "é").
inline bool LooksDoubleEncoded(const std::u16string& text) {
  auto isContinuation = [](char16_t c) {
    if (c >= 0x80 && c <= 0xBF)
      return true;
    // Windows-1252 reads the continuation bytes 0x80-0x9F as these characters.
    static const char16_t k1252[] = u"€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ";
    for (const char16_t* p = k1252; *p; ++p)
      if (*p == c)
        return true;
    return false;
  };
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    char16_t lead = text[i];
    if (lead >= 0xC2 && lead <= 0xEF && isContinuation(text[i + 1]))
      return true;
  }
  return false;
}

inline bool HasReplacementCharacter(const std::u16string& text) {
  return text.find(u'\uFFFD') != std::u16string::npos;
}

} // namespace orlendo::exporttest
