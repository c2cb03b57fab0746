#include "shell/file_association.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/message_strings.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A private XDG home: data and configuration folders inside a temporary tree.
class XdgHome : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", (fs::path(tmp_.Path()) / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (fs::path(tmp_.Path()) / "config").c_str(), 1);
  }
  fs::path Config() const { return fs::path(tmp_.Path()) / "config"; }
  fs::path Entry() const { return fs::path(tmp_.Path()) / "data/applications/quillet.desktop"; }
  testutil::TempDir tmp_;
};

TEST_F(XdgHome, RegisterWritesEntryAndDefaultUnregisterRemovesOnlyOurs) {
  fs::create_directories(Config());
  const std::string before = "# mine\n"
                             "[Default Applications]\n"
                             "text/plain=gedit.desktop\n"
                             "application/vnd.ms-outlook=other.desktop;\n"
                             "\n"
                             "[Added Associations]\n"
                             "image/png=eog.desktop;\n";
  std::ofstream(Config() / "mimeapps.list") << before;

  RegisterAsDefaultViewer("/opt/my apps/quillet");
  const std::string entry = ReadText(Entry());
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=\"/opt/my apps/quillet\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nMimeType=application/vnd.ms-outlook;"), std::string::npos);
  EXPECT_EQ(fs::status(Entry()).permissions() & fs::perms::others_read, fs::perms::others_read);

  const std::string registered = ReadText(Config() / "mimeapps.list");
  EXPECT_EQ(registered, "# mine\n"
                        "[Default Applications]\n"
                        "text/plain=gedit.desktop\n"
                        "application/vnd.ms-outlook=quillet.desktop;other.desktop;\n"
                        "\n"
                        "[Added Associations]\n"
                        "image/png=eog.desktop;\n"
                        "application/vnd.ms-outlook=quillet.desktop;\n");
  // Registering twice lists us once.
  RegisterAsDefaultViewer("/opt/my apps/quillet");
  EXPECT_EQ(ReadText(Config() / "mimeapps.list"), registered);

  UnregisterAsDefaultViewer();
  EXPECT_FALSE(fs::exists(Entry()));
  EXPECT_EQ(ReadText(Config() / "mimeapps.list"), "# mine\n"
                                                  "[Default Applications]\n"
                                                  "text/plain=gedit.desktop\n"
                                                  "application/vnd.ms-outlook=other.desktop;\n"
                                                  "\n"
                                                  "[Added Associations]\n"
                                                  "image/png=eog.desktop;\n");
  // Nothing registered any more: unregistering again is no error and changes nothing.
  EXPECT_NO_THROW(UnregisterAsDefaultViewer());
}

TEST_F(XdgHome, RegisterCreatesFoldersAndXdgMimeReadsTheDefault) {
  RegisterAsDefaultViewer("/usr/bin/quillet");
  EXPECT_EQ(ReadText(Config() / "mimeapps.list"), "[Default Applications]\n"
                                                  "application/vnd.ms-outlook=quillet.desktop;\n"
                                                  "[Added Associations]\n"
                                                  "application/vnd.ms-outlook=quillet.desktop;\n");
  EXPECT_NE(ReadText(Entry()).find("\nExec=/usr/bin/quillet %f\n"), std::string::npos);
  if (fs::exists("/usr/bin/xdg-mime")) {
    auto r = testutil::RunProcess("/usr/bin/xdg-mime",
                                  {"query", "default", "application/vnd.ms-outlook"});
    EXPECT_EQ(r.out, "quillet.desktop\n");
  }
}

TEST_F(XdgHome, ExecLineEscapesReservedCharacters) {
  const std::string text = DesktopEntryText("/a\\b/\"q\"/$x/100%");
  EXPECT_NE(text.find("\nExec=\"/a\\\\\\\\b/\\\\\"q\\\\\"/\\\\$x/100%%\" %f\n"), std::string::npos)
      << text;
}

TEST_F(XdgHome, UnwritableConfigurationRaisesAndNamesTheFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "running as root: permissions do not bind";
  fs::create_directories(Config());
  chmod(Config().c_str(), 0500);
  try {
    RegisterAsDefaultViewer("/usr/bin/quillet");
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("mimeapps.list"), std::string::npos) << e.what();
  }
  chmod(Config().c_str(), 0700);
}

TEST(MessageStrings, TableDefaultsAndOverrides) {
  EXPECT_EQ(RegisteredMessage(), "Orlendo: successfully registered as default viewer for files");
  EXPECT_EQ(UnregisteredMessage(),
            "Orlendo: successfully unregistered as default viewer for files");
  SetMessageString("strExtRegistered", "erfolgreich registriert");
  EXPECT_EQ(RegisteredMessage(), "Orlendo: erfolgreich registriert");
  SetMessageString("strFileRecent", "Zuletzt");
  EXPECT_EQ(MessageString("strFileRecent"), "Zuletzt");
  ResetMessageStrings();
  EXPECT_EQ(MessageString("strFileRecent"), "Recent files");
  EXPECT_EQ(MessageString("noSuchKey"), "noSuchKey");
}

} // namespace
} // namespace orlendo
