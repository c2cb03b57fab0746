// Builds items that are not mail (meeting requests, tasks) in the shape the .msg reader
// produces, with a named-property map of their own: for the tests of the calendar writers and
// for looking at the preview of kinds that the corpus does not hold.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "message_builder.h"
#include "model/qvmsg.h"
#include "model/variant.h"

namespace orlendo::tools {

// The 16 bytes of a GUID given as text in braces (the first three groups little-endian).
inline std::string GuidBytes(const std::string& text) {
  auto hex = [&](size_t at) {
    return static_cast<char>(std::stoi(text.substr(at, 2), nullptr, 16));
  };
  std::string b;
  for (size_t at : {7u, 5u, 3u, 1u, 12u, 10u, 17u, 15u, 20u, 22u, 25u, 27u, 29u, 31u, 33u, 35u})
    b += hex(at);
  return b;
}

// The named-property map of one message: ids from 0x8000 handed out in the order asked for.
class NameMap {
public:
  explicit NameMap(TMSGProperties& root) {
    node_ = root.Add();
    node_->TagID = TAG_NAMEID_NODE;
    node_->Value = TVariant::FromWide(u"__nameid_version1.0");
    for (uint32_t tag : {0x00020102u, 0x00030102u, 0x00040102u}) {
      TMSGProperty* s = node_->SubProperties().Add();
      s->TagID = tag;
      s->Value = TVariant::FromBytes(std::string());
    }
  }
  // The property id of a numeric named property of set (GUID text).
  uint16_t Id(const std::string& set, uint32_t lid) {
    const auto key = std::pair(set, lid);
    if (auto it = ids_.find(key); it != ids_.end())
      return it->second;
    TMSGProperties& map = node_->SubProperties();
    std::string& guids = map.Items(0)->Value.MutableBytes();
    size_t guidIndex = guids.size() / 16;
    const std::string bytes = GuidBytes(set);
    for (size_t i = 0; i < guids.size() / 16; ++i)
      if (guids.compare(i * 16, 16, bytes) == 0)
        guidIndex = i;
    if (guidIndex == guids.size() / 16)
      guids += bytes;
    map.Items(0)->DataSize = static_cast<int32_t>(guids.size());
    const uint16_t index = static_cast<uint16_t>(ids_.size());
    std::string& entries = map.Items(1)->Value.MutableBytes();
    auto put = [&entries](uint32_t v, int n) {
      for (int i = 0; i < n; ++i)
        entries += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(lid, 4);
    put(static_cast<uint32_t>((guidIndex + 3) << 1), 2);
    put(index, 2);
    map.Items(1)->DataSize = static_cast<int32_t>(entries.size());
    const uint16_t id = static_cast<uint16_t>(0x8000 + index);
    ids_.emplace(key, id);
    return id;
  }

private:
  TMSGProperty* node_;
  std::map<std::pair<std::string, uint32_t>, uint16_t> ids_;
};

inline void PutLe(std::string& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i)
    b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A TZDEFINITION with one rule: bias and daylight bias in minutes (UTC = local + bias), the
// change to standard and to daylight time as month, week (5 = last), Sunday, hour.
inline std::string TimeZoneDefinition(const std::u16string& name, int bias, int daylightBias,
                                      int stdMonth, int stdWeek, int stdHour, int dstMonth,
                                      int dstWeek, int dstHour) {
  std::string b;
  PutLe(b, 0x02, 1);
  PutLe(b, 0x01, 1);
  PutLe(b, static_cast<uint32_t>(6 + 2 * name.size()), 2);
  PutLe(b, 0x0002, 2);
  PutLe(b, static_cast<uint32_t>(name.size()), 2);
  for (char16_t c : name)
    PutLe(b, c, 2);
  PutLe(b, 1, 2);
  PutLe(b, 0x02, 1);
  PutLe(b, 0x01, 1);
  PutLe(b, 0x003E, 2);
  PutLe(b, 0x0002, 2); // the rule in effect
  PutLe(b, 2020, 2);
  b.append(14, '\0');
  PutLe(b, static_cast<uint32_t>(bias), 4);
  PutLe(b, 0, 4);
  PutLe(b, static_cast<uint32_t>(daylightBias), 4);
  auto systemTime = [&b](int month, int week, int hour) {
    for (int v : {0, month, 0, week, hour, 0, 0, 0})
      PutLe(b, static_cast<uint32_t>(v), 2);
  };
  systemTime(stdMonth, stdWeek, stdHour);
  systemTime(dstMonth, dstWeek, dstHour);
  return b;
}

// Minutes from 1601-01-01 to a date at midnight, as recurrence patterns count.
inline uint32_t MinutesSince1601(int year, int month, int day) {
  return static_cast<uint32_t>((DaysFromCivil(year, month, day) - DaysFromCivil(1601, 1, 1)) *
                               1440);
}

} // namespace orlendo::tools

namespace orlendo::tools {

inline constexpr char kAppointmentSet[] = "{00062002-0000-0000-C000-000000000046}";
inline constexpr char kMeetingSet[] = "{6ED8DA90-450B-101B-98DA-00AA003F1305}";
inline constexpr char kCommonSet[] = "{00062008-0000-0000-C000-000000000046}";
inline constexpr char kTaskSet[] = "{00062003-0000-0000-C000-000000000046}";

// A meeting request in Central European time: every other week on Tuesday and Thursday, 10:00
// to 11:00, six times from Tuesday 5 March 2024 (summer time begins on 31 March between the
// third and the fourth meeting); organizer, two attendees and a room.
// With another message class, the same meeting as a response or a cancellation.
// allDay makes it an all-day meeting on the same days (from local midnight to midnight).
inline void BuildMeetingRequest(TMSGProperties& root,
                                const std::string& messageClass = "IPM.Schedule.Meeting.Request",
                                bool allDay = false) {
  NameMap names(root);
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 3, 0);
  m.Text(0x001A, messageClass);
  m.Text(0x0037, "Release planning");
  m.Text(0x0070, "Release planning");
  m.Text(0x0042, "Maria Lindqvist");
  m.Text(0x0064, "SMTP");
  m.Text(0x0065, "maria.lindqvist@example.org");
  m.Text(0x5D02, "maria.lindqvist@example.org");
  m.Text(0x0C1A, "Maria Lindqvist");
  m.Text(0x0C1F, "maria.lindqvist@example.org");
  m.Text(0x0E04, "Jonas Weber; Aiko Tanaka; Room 4.12");
  m.Text(0x1000, "Dear all,\r\n\r\nlet us plan the next release, with the open issues.\r\n");
  m.Long(0x3FFD, 65001);
  m.Time(0x0039, 1709280000); // 2024-03-01 08:00 UTC
  const std::string zone =
      TimeZoneDefinition(u"W. Europe Standard Time", -60, -60, 10, 5, 3, 3, 5, 2);
  // 2024-03-05 09:00 UTC, or all of 5 March in Central European time.
  m.Time(names.Id(kAppointmentSet, 0x820D), allDay ? 1709593200 : 1709629200);
  m.Time(names.Id(kAppointmentSet, 0x820E), allDay ? 1709679600 : 1709632800);
  m.Boolean(names.Id(kAppointmentSet, 0x8215), allDay);
  m.Text(names.Id(kAppointmentSet, 0x8208), "Room 4.12, Main building");
  m.Long(names.Id(kAppointmentSet, 0x8205), 2);
  m.Long(names.Id(kAppointmentSet, 0x8217), 3); // a meeting, received
  m.Long(names.Id(kAppointmentSet, 0x8201), 1);
  m.Boolean(names.Id(kAppointmentSet, 0x8223), true);
  m.Binary(names.Id(kAppointmentSet, 0x825E), zone);
  m.Binary(names.Id(kAppointmentSet, 0x825F), zone);
  m.Binary(names.Id(kAppointmentSet, 0x8260), zone);
  std::string recur;
  PutLe(recur, 0x3004, 2);
  PutLe(recur, 0x3004, 2);
  PutLe(recur, 0x200B, 2); // weekly
  PutLe(recur, 1, 2);      // week pattern
  PutLe(recur, 0, 2);
  PutLe(recur, 0, 4);
  PutLe(recur, 2, 4); // every other week
  PutLe(recur, 0, 4);
  PutLe(recur, (1 << 2) | (1 << 4), 4); // Tuesday and Thursday
  PutLe(recur, 0x2022, 4);              // after a count
  PutLe(recur, 6, 4);
  PutLe(recur, 1, 4); // weeks begin on Monday
  PutLe(recur, 0, 4);
  PutLe(recur, 0, 4);
  PutLe(recur, MinutesSince1601(2024, 3, 5), 4);
  PutLe(recur, MinutesSince1601(2024, 4, 4), 4);
  PutLe(recur, 0x3006, 4);
  PutLe(recur, 0x3009, 4);
  PutLe(recur, allDay ? 0 : 600, 4);
  PutLe(recur, allDay ? 1440 : 660, 4);
  PutLe(recur, 0, 2);
  PutLe(recur, 0, 4);
  PutLe(recur, 0, 4);
  m.Binary(names.Id(kAppointmentSet, 0x8216), recur);
  std::string goid("\x04\x00\x00\x00\x82\x00\xE0\x00\x74\xC5\xB7\x10\x1A\x82\xE0\x08", 16);
  goid += std::string(4, '\0') + std::string("\x00\x80\x3A\x1B\x2C\x6B\xDA\x01", 8) +
          std::string(8, '\0');
  const std::string uid = "release-planning-2024@example.org";
  std::string data = std::string("vCal-Uid\x01\x00\x00\x00", 12) + uid + std::string(1, '\0');
  PutLe(goid, static_cast<uint32_t>(data.size()), 4);
  goid += data;
  m.Binary(names.Id(kMeetingSet, 0x0003), goid);
  m.Binary(names.Id(kMeetingSet, 0x0023), goid);
  m.Boolean(names.Id(kCommonSet, 0x8503), true);
  m.Long(names.Id(kCommonSet, 0x8501), 15);
  AddRecipient(root, 0, "Jonas Weber", "jonas.weber@example.org", 1);
  AddRecipient(root, 1, "Aiko Tanaka", "aiko.tanaka@example.org", 2);
  AddRecipient(root, 2, "Room 4.12", "room412@example.org", 3);
}

// A task half done, due in a week, of high importance.
inline void BuildTask(TMSGProperties& root) {
  NameMap names(root);
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 0, 0);
  m.Text(0x001A, "IPM.Task");
  m.Text(0x0037, "Prepare the quarterly report");
  m.Text(0x0070, "Prepare the quarterly report");
  m.Text(0x1000, "Figures from finance, then the summary for the board.\r\n");
  m.Long(0x0017, 2);
  m.Long(0x3FFD, 65001);
  m.Time(0x3008, 1709280000);
  m.Long(names.Id(kTaskSet, 0x8101), 1);
  m.Double(names.Id(kTaskSet, 0x8102), 0.5);
  m.Time(names.Id(kTaskSet, 0x8104), 1709251200); // 2024-03-01
  m.Time(names.Id(kTaskSet, 0x8105), 1710460800); // 2024-03-15
  m.Text(names.Id(kTaskSet, 0x811F), "Maria Lindqvist");
  m.Binary(names.Id(kCommonSet, 0x8519),
           std::string("\x1F\x2E\x3D\x4C\x5B\x6A\x79\x88\x97\xA6\xB5\xC4\xD3\xE2\xF1\x00", 16));
}

} // namespace orlendo::tools

namespace orlendo::tools {

inline constexpr char kAddressSet[] = "{00062004-0000-0000-C000-000000000046}";

// A contact with two mail addresses, phones, a birthday and a picture (a 1 x 1 PNG attachment
// marked as the contact photo).
inline void BuildContact(TMSGProperties& root) {
  NameMap names(root);
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 0, 1);
  m.Text(0x001A, "IPM.Contact");
  m.Text(0x0037, "Zo\xC3\xAB Dupont");
  m.Text(0x3001, "Zo\xC3\xAB Dupont");
  m.Text(0x3A06, "Zo\xC3\xAB");
  m.Text(0x3A11, "Dupont");
  m.Text(0x3A16, "Atelier Dupont; Fils");
  m.Text(0x3A17, "Designer");
  m.Text(0x3A08, "+33 1 23 45 67 89");
  m.Text(0x3A1C, "+33 6 12 34 56 78");
  m.Text(0x3A5D, "3 rue des Lilas");
  m.Text(0x3A59, "Lyon");
  m.Text(0x3A5B, "69001");
  m.Text(0x3A5A, "France");
  m.Text(0x1000, "Met at the fair, 2023.\r\n");
  m.Long(0x3FFD, 65001);
  m.Time(0x3A42, 646876800); // 1990-07-02 00:00 UTC
  m.Text(names.Id(kAddressSet, 0x8080), "Zo\xC3\xAB Dupont (zoe@example.fr)");
  m.Text(names.Id(kAddressSet, 0x8082), "SMTP");
  m.Text(names.Id(kAddressSet, 0x8083), "zoe@example.fr");
  m.Text(names.Id(kAddressSet, 0x8090), "Zo\xC3\xAB (home)");
  m.Text(names.Id(kAddressSet, 0x8092), "SMTP");
  m.Text(names.Id(kAddressSet, 0x8093), "zoe.dupont@example.org");
  m.Boolean(names.Id(kAddressSet, 0x8015), true);
  LevelBuilder a = AddChildNode<TMSGPropertyAttachment>(root, TAG_ATTACHMENT_NODE,
                                                        "__attach_version1.0_#00000000");
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
      0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x08,
      0xD7, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x18, 0xDD, 0x8D,
      0xB0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  a.Text(0x3704, "ContactPicture.png");
  a.Text(0x3707, "ContactPicture.png");
  a.Text(0x3703, ".png");
  a.Binary(0x3701, std::string(reinterpret_cast<const char*>(kPng), sizeof kPng));
  a.Long(0x3705, 1);
  a.Long(0x0E21, 0);
  a.Boolean(0x7FFF, true); // the contact photo
}

} // namespace orlendo::tools

namespace orlendo::tools {

// A one-off entry id of an SMTP address, with UTF-16 strings.
inline std::string OneOffEntryId(const std::u16string& name, const std::u16string& address) {
  std::string id(4, '\0');
  id += std::string("\x81\x2B\x1F\xA4\xBE\xA3\x10\x19\x9D\x6E\x00\xDD\x01\x0F\x54\x02", 16);
  PutLe(id, 0, 2);
  PutLe(id, 0x8000 | 0x0100, 2); // Unicode, no rich text
  for (const std::u16string* s : {&name, static_cast<const std::u16string*>(nullptr), &address}) {
    const std::u16string text = s != nullptr ? *s : u"SMTP";
    for (char16_t c : text)
      PutLe(id, c, 2);
    PutLe(id, 0, 2);
  }
  return id;
}

// A distribution list of two members (kept in memory: its members are a multi-valued binary).
inline void BuildDistList(TMSGProperties& root) {
  NameMap names(root);
  LevelBuilder m = BeginMessage<TMSGPropertyTopLevel>(root, 0, 0);
  m.Text(0x001A, "IPM.DistList");
  m.Text(0x0037, "Release team");
  m.Text(names.Id(kAddressSet, 0x8053), "Release team");
  TMultiValue members;
  members.Items.push_back(
      TVariant::FromBytes(OneOffEntryId(u"Jonas Weber", u"jonas.weber@example.org")));
  members.Items.push_back(
      TVariant::FromBytes(OneOffEntryId(u"Aiko Tanaka", u"aiko.tanaka@example.org")));
  TMSGProperty* r = root.Add();
  r->TagID = (static_cast<uint32_t>(names.Id(kAddressSet, 0x8054)) << 16) | 0x1102;
  r->Value = TVariant::FromMulti(std::move(members));
}

} // namespace orlendo::tools
