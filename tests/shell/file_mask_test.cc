#include "shell/file_mask.h"

#include <gtest/gtest.h>

namespace orlendo {
namespace {

TEST(FileMask, Cases) {
  struct Case {
    const char* name;
    const char* mask;
    bool matches;
  };
  const Case cases[] = {
      {"a.msg", "*.msg", true},
      {"A.MSG", "*.msg", true},
      {"a.msgx", "*.msg", false},
      {"a.eml", "*.msg", false},
      {"anything", "*.*", true},
      {"", "*", true},
      {"x", "**", true},
      {"x", "**.**", true},
      {"", "*.msg", false},
      {"a.msg", "", false},
      {"", "", true}, // equal texts match before anything else
      {"report1.msg", "report?.msg", true},
      {"report10.msg", "report?.msg", false},
      {"report.msg", "report?.msg", false},
      {"Report.Msg", "REPORT.MSG", true},
      {"report", "report", true},
      {"reports", "report", false},
      {"repor", "report", false},
      {"repor", "report*", false},
      {"report", "report*", true},
      {"report-2024.msg", "rep*20??.msg", true},
      {"report-2024-x.msg", "rep*20??.msg", false},
      {"abcabd", "*ab?", true},
      {"a.b.c", "*.*.*", true},
      {"abc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"xaby", "*ab*", true},
      {"xay", "*ab*", false},
      {"ab", "ab*b", false}, // the last segment may not reuse the "b" already matched
      {"abb", "ab*b", true},
      {"a", "a*b*", false}, // a name used up before a literal of the mask does not match
      {"ab", "a*b*", true},
      {"ärger.msg", "Ä*", false}, // only ASCII letters fold; other characters compare exactly
      {"ärger.msg", "ä*.MSG", true},
      {"ärger.msg", "?rger.msg", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

} // namespace
} // namespace orlendo
