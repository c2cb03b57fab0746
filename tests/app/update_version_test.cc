#include "app/update_version.h"

#include <gtest/gtest.h>

#include "app/program_version.h"

namespace orlendo {
namespace {

TEST(UpdateVersion, ParsesAndComparesVersions) {
  EXPECT_EQ(LocalVersion(kProgramVersion), "v2.6");
  EXPECT_EQ(RemoteVersion("<x><Program_Version>2.7</Program_Version></x>"), "v2.7");
  EXPECT_EQ(RemoteVersion("<Program_Version>\n  2.7\n</Program_Version>"), "v2.7");
  EXPECT_EQ(RemoteVersion("<Program_Version>12345678901234"), "v1234567890");
  EXPECT_EQ(RemoteVersion("<Program_Version></Program_Version>"), "<unknown>");
  EXPECT_EQ(RemoteVersion("<html>Not here</html>"), "<unknown>");

  struct Case {
    const char* remote;
    bool newer;
  };
  for (const Case& c :
       {Case{"v2.7", true}, Case{"v2.6", false}, Case{"v2.5", false}, Case{"v10.0", true},
        Case{"v2.10", true}, Case{"v2.6.1", true}, Case{"v2.6.0", false}, Case{"v3", true},
        Case{"v2.6b", true}, Case{"<unknown>", false}, Case{"vbeta", false}})
    EXPECT_EQ(IsNewerVersion(c.remote, "v2.6"), c.newer) << c.remote;
}

TEST(UpdateVersion, Messages) {
  EXPECT_EQ(UpdateResultMessage("<Program_Version>2.6</Program_Version>", kProgramVersion),
            "Your current version is v2.6 (build 471)\n\n"
            "You use the latest version. Check for new version later.");
  const std::string newer =
      UpdateResultMessage("<Program_Version>2.7</Program_Version>", kProgramVersion);
  EXPECT_EQ(newer.rfind("Your current version is v2.6 (build 471)\n"
                        "The new available version is v2.7\n\n",
                        0),
            0u)
      << newer;
}

} // namespace
} // namespace orlendo
