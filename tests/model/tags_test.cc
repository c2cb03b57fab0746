// The tag dictionary and the inspector's name lists.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/qvmsgtags.h"

namespace orlendo {
namespace {

std::string NameOf(uint32_t tag) {
  return TagName(FindTagIndex(tag));
}
std::string DescriptionOf(uint32_t tag) {
  return TagDescription(FindTagIndex(tag));
}

TEST(TagDictionary, HoldsOneRowPerPropertyIdInTableOrder) {
  const auto table = PropertyTagTable();
  ASSERT_EQ(table.size(), 527u);
  std::set<uint16_t> ids;
  for (const TPropertyTag& row : table)
    EXPECT_TRUE(ids.insert(row.PropId).second) << row.Name;
  EXPECT_EQ(table.front().PropId, 0x0FFF);
  EXPECT_STREQ(table.front().Name, "ENTRYID");
  EXPECT_STREQ(table.front().Description, "Entry ID");
  EXPECT_EQ(table.back().PropId, 0x0F0A);
  EXPECT_STREQ(table.back().Name, "LAST_ACTIVITY_TIME");
  EXPECT_EQ(FindTagIndex(0x0FFF0102), 1);
  EXPECT_EQ(FindTagIndex(0x0F0A0040), 527);
  EXPECT_EQ(FindTagIndex(0x30010000), 14); // DISPLAY_NAME follows the twelve 0FFx rows and ROWID
}

TEST(TagDictionary, LookupIgnoresTheTypeAndTakesTheFirstNameOfAnId) {
  EXPECT_EQ(NameOf(0x0037001F), "SUBJECT");
  EXPECT_EQ(NameOf(0x0037001E), "SUBJECT");
  EXPECT_EQ(DescriptionOf(0x0037001F), "Subject");
  EXPECT_EQ(NameOf(0x3A08001E), "BUSINESS_TELEPHONE_NUMBER");
  EXPECT_EQ(NameOf(TAG_ATTACH_DATA_BIN), "ATTACH_DATA_OBJ");
  EXPECT_EQ(NameOf(0x3A0B001E), "KEYWORD");
  EXPECT_EQ(NameOf(0x8003001F), "AUTHENTICATION_WARNING");
  EXPECT_EQ(NameOf(0x8C6A1102), "PR_EMS_AB_TAGGED_X509_CERT");
  EXPECT_EQ(FindTagIndex(0x7FFF0003), -1);
  EXPECT_EQ(FindTagIndex(0x00000000), -1);
  EXPECT_STREQ(TagName(-1), "");
  EXPECT_STREQ(TagName(528), "");
  EXPECT_STREQ(TagDescription(0), "");
}

TEST(TagDictionary, TellingRowsKeepTheirOwnDescriptions) {
  const std::pair<uint32_t, const char*> rows[] = {
      {0x0037, "Subject"},
      {0x001A, "Message Class"},
      {0x0E07, "Message Flags"},
      {0x0039, "Client Submit Time"},
      {0x0C1A, "Sender Name"},
      {0x007D, "Transport Message Header"},
      {0x1000, "Body"},
      {0x1009, "RTF Compressed"},
      {0x1013, "Body in HTML format"},
      {0x3701, "Attach Data Obj"},
      {0x3704, "Attach FileName"},
      {0x3707, "Attach Long FileName"},
      {0x3A28, "State"},
      {0x3A2B, "POB"},
      {0x0005, "Auto Forward"},
      {0x1031, "CDO Internet Control"},
      {0x0F01, "ReNew time"},
  };
  for (const auto& [id, description] : rows)
    EXPECT_EQ(DescriptionOf(id << 16), description);
}

TEST(TagDictionary, OtherDescriptionsAreTheNameInTitleCaseWithAbbreviationsKept) {
  EXPECT_EQ(DescriptionOf(0x0FFA0000), "Store Record Key");
  EXPECT_EQ(DescriptionOf(0x36150000), "AB Provider ID");
  EXPECT_EQ(DescriptionOf(0x3FFD0000), "Message CodePage");
  EXPECT_EQ(DescriptionOf(0x39FE0000), "SMTP Address");
  EXPECT_EQ(DescriptionOf(0x10060000), "RTF Sync Body CRC");
  EXPECT_EQ(DescriptionOf(0x80010000), "EMS AB Display Name Override");
  for (const TPropertyTag& row : PropertyTagTable()) {
    const std::string d = row.Description;
    EXPECT_FALSE(d.empty()) << row.Name;
    EXPECT_EQ(d.find('_'), std::string::npos) << row.Name;
  }
}

TEST(TagDictionary, CdoRowsKeepTheirPrefixWithABlank) {
  int cdo = 0;
  for (const TPropertyTag& row : PropertyTagTable()) {
    if (std::string(row.Name).rfind("Cdo ", 0) == 0) {
      ++cdo;
      EXPECT_TRUE((row.PropId >= 0x1031 && row.PropId <= 0x1041) && row.PropId != 0x1035)
          << std::hex << row.PropId;
    }
  }
  EXPECT_EQ(cdo, 16);
  EXPECT_EQ(NameOf(0x1031001E), "Cdo INTERNET_CONTROL");
  EXPECT_EQ(NameOf(0x1041001E), "Cdo INTERNET_PRECEDENCE");
  EXPECT_EQ(NameOf(0x1035001E), "INTERNET_MESSAGE_ID");
}

TEST(NameLists, CategoriesAndPropertyTypes) {
  const auto categories = CategoryNames();
  ASSERT_EQ(categories.size(), 20u);
  EXPECT_STREQ(categories[0], "mpcGeneral");
  EXPECT_STREQ(categories[13], "mpcFolderABContainer");
  EXPECT_STREQ(categories[19], "mpcStatus");
  EXPECT_STREQ(CategoryName(mpcAttachment), "mpcAttachment");

  const auto types = PropertyTypeNames();
  ASSERT_EQ(types.size(), 18u);
  EXPECT_STREQ(types[0].Text, "MV_FLAG: Multi-value flag");
  EXPECT_STREQ(types[7].Text,
               "PT_CURRENCY: Signed 64-bit int (decimal w/    4 digits right of decimal pt)");
  EXPECT_STREQ(types[17].Text, "PT_BINARY: Uninterpreted (counted byte array)");
  EXPECT_EQ(PropertyTypeIndex(0x001F), 14);
  EXPECT_EQ(PropertyTypeIndex(0x0000), 1);
  EXPECT_EQ(PropertyTypeIndex(0x1000), 0);
  EXPECT_EQ(PropertyTypeIndex(0x101F), -1);
  EXPECT_EQ(PropertyTypeIndex(0x1102), -1);
}

} // namespace
} // namespace orlendo
