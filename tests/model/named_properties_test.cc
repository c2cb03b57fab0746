// Names of named properties from the message's own map: LIDs of well-known sets by their
// canonical names, string names as they are, other sets by GUID and LID; a damaged map names
// nothing and the dictionary keeps its names; embedded messages use the map of their file.
#include <gtest/gtest.h>

#include "model/named_properties.h"

namespace orlendo {
namespace {

std::string LE(uint64_t v, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// An entry of the entry stream: LID or string offset, GUID index and kind, property index.
std::string Entry(uint32_t idOrOffset, uint16_t guidIndex, bool string, uint16_t index) {
  return LE(idOrOffset, 4) + LE(static_cast<uint16_t>(guidIndex << 1 | (string ? 1 : 0)), 2) +
         LE(index, 2);
}

const std::string kAppointment("\x02\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46",
                               16);
const std::string kOther("\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF\x00", 16);

void AddMap(TMSGProperties& level, const std::string& guids, const std::string& entries,
            const std::string& strings) {
  TMSGProperty* map = level.Add();
  map->TagID = TAG_NAMEID_NODE;
  map->Value = TVariant::FromWide(u"__nameid_version1.0");
  map->SubProperties().AddProperty(0x00020102, TVariant::FromBytes(guids));
  map->SubProperties().AddProperty(0x00030102, TVariant::FromBytes(entries));
  map->SubProperties().AddProperty(0x00040102, TVariant::FromBytes(strings));
}

TEST(NamedProperties, TheMapNamesLidsAndStringsAndTheDictionaryTheRest) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  const std::string keywords = LE(16, 4) + std::string("K\0e\0y\0w\0o\0r\0d\0s\0", 16);
  AddMap(root, kAppointment + kOther,
         Entry(0x820D, 3, false, 0) +         // PSETID_Appointment, AppointmentStartWhole
             Entry(0, 2, true, 1) +           // PS_PUBLIC_STRINGS, "Keywords"
             Entry(0x1234, 4, false, 2) +     // a set the table does not know
             Entry(0x8599, 3, false, 3) +     // a LID the table does not know
             Entry(0, 9, false, 4) +          // a GUID index past the GUID stream
             Entry(8, 2, true, 5) +           // a string past the string stream
             Entry(0x820D, 3, false, 0x7FFF), // a property index past 0x7FFE
         keywords);
  const struct {
    uint32_t tag;
    const char* name;
    const char* described;
  } cases[] = {
      {0x80000040, "PidLidAppointmentStartWhole",
       "PidLidAppointmentStartWhole (PSETID_Appointment)"},
      {0x8001101F, "Keywords", "Keywords (PS_PUBLIC_STRINGS)"},
      {0x80020003, "{44332211-6655-8877-99AA-BBCCDDEEFF00}:0x00001234",
       "{44332211-6655-8877-99AA-BBCCDDEEFF00}:0x00001234 "
       "({44332211-6655-8877-99AA-BBCCDDEEFF00})"},
      {0x8003000B, "PSETID_Appointment:0x00008599",
       "PSETID_Appointment:0x00008599 (PSETID_Appointment)"},
      // Not named by the file's map: no name, the dictionary's meaning of the number is no
      // meaning of this file's.
      {0x8004001F, "", nullptr},
      {0x8005001F, "", nullptr},
      {0x0037001F, "SUBJECT", "SUBJECT (Subject)"},
  };
  TMSGProperty* attachment = root.Add();
  attachment->TagID = TAG_ATTACHMENT_NODE;
  TMSGProperty* embedded = attachment->SubProperties().Add();
  embedded->TagID = TAG_ATTACH_DATA_OBJ;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const TMSGProperty* top = root.AddProperty(c.tag, TVariant::FromInteger(1));
    // An embedded message has no map of its own: the file's map names its properties.
    const TMSGProperty* inner =
        embedded->SubProperties().AddProperty(c.tag, TVariant::FromInteger(1));
    EXPECT_EQ(PropertyDisplayName(*top, false), c.name);
    EXPECT_EQ(PropertyDisplayName(*inner, false), c.name);
    if (c.described != nullptr) {
      EXPECT_EQ(PropertyDisplayName(*top, true), c.described);
    }
  }
}

TEST(NamedProperties, ADamagedMapNamesNothingAndNeverReadsPastItsStreams) {
  for (const std::string& entries :
       {std::string("\x01\x02\x03", 3), Entry(0, 2, true, 0), Entry(0xFFFFFFFC, 2, true, 0),
        Entry(0, 0xFFFF >> 1, false, 0)}) {
    TQvMessage message;
    AddMap(message.Properties(), kAppointment.substr(0, 15), entries, LE(0xFFFFFFF0, 4));
    const TMSGProperty* p = message.Properties().AddProperty(0x8000001F, TVariant::FromWide(u"x"));
    EXPECT_EQ(PropertyDisplayName(*p, false), p->GetName(false, false));
  }
}

TEST(NamedProperties, CanonicalNamesOfTheWellKnownSets) {
  const struct {
    const char* guid;
    uint32_t lid;
    const char* name;
  } cases[] = {
      {"{00062008-0000-0000-C000-000000000046}", 0x8503, "PidLidReminderSet"},
      {"{00062004-0000-0000-C000-000000000046}", 0x8083, "PidLidEmail1EmailAddress"},
      {"{00062002-0000-0000-C000-000000000046}", 0x8208, "PidLidLocation"},
      {"{6ED8DA90-450B-101B-98DA-00AA003F1305}", 0x0003, "PidLidGlobalObjectId"},
      {"{00062003-0000-0000-C000-000000000046}", 0x8101, "PidLidTaskStatus"},
      {"{0006200E-0000-0000-C000-000000000046}", 0x8B00, "PidLidNoteColor"},
      {"{0006200A-0000-0000-C000-000000000046}", 0x8700, "PidLidLogType"},
      {"{00020329-0000-0000-C000-000000000046}", 0x9000, "PidLidCategories"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(CanonicalLidName(c.guid, c.lid), nullptr) << c.name;
    EXPECT_STREQ(CanonicalLidName(c.guid, c.lid), c.name);
  }
  EXPECT_EQ(CanonicalLidName("{00062008-0000-0000-C000-000000000046}", 0x8208), nullptr);
  EXPECT_STREQ(PropertySetName("{00020386-0000-0000-C000-000000000046}"), "PS_INTERNET_HEADERS");
}

} // namespace
} // namespace orlendo
