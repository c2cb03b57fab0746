#include "shell/file_association.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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
    unsetenv("XDG_DATA_DIRS");
  }
  void TearDown() override { unsetenv("XDG_DATA_DIRS"); }
  fs::path Config() const { return fs::path(tmp_.Path()) / "config"; }
  fs::path Data() const { return fs::path(tmp_.Path()) / "data"; }
  fs::path Entry() const { return Data() / "applications/org.norvane.Orlendo.desktop"; }
  testutil::TempDir tmp_;
};

TEST_F(XdgHome, RegisterWritesEntryAndDefaultUnregisterRemovesOnlyOurs) {
  fs::create_directories(Config());
  const std::string before = "# mine\n"
                             "[Default Applications]\n"
                             "text/plain=gedit.desktop\n"
                             "application/vnd.ms-outlook=quillet.desktop;other.desktop;\n"
                             "\n"
                             "[Added Associations]\n"
                             "image/png=eog.desktop;\n";
  std::ofstream(Config() / "mimeapps.list") << before;
  // What an older version registered under its old name is replaced, not listed beside us.
  fs::create_directories(Data() / "applications");
  std::ofstream(Data() / "applications/quillet.desktop") << "[Desktop Entry]\nName=Orlendo\n";

  RegisterAsDefaultViewer("/opt/my apps/quillet");
  const std::string entry = ReadText(Entry());
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=\"/opt/my apps/quillet\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nTryExec=/opt/my apps/quillet\n"), std::string::npos) << entry;
  // The entry's action starts the same program, with its own arguments.
  EXPECT_NE(entry.find("\nExec=\"/opt/my apps/quillet\" --convert --to eml %F\n"),
            std::string::npos)
      << entry;
  EXPECT_EQ(entry.find("Exec=quillet"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=org.norvane.Orlendo\n"), std::string::npos) << entry;
  EXPECT_FALSE(fs::exists(Data() / "applications/quillet.desktop"));
  EXPECT_NE(entry.find("\nMimeType=application/vnd.ms-outlook;"), std::string::npos);
  EXPECT_EQ(fs::status(Entry()).permissions() & fs::perms::others_read, fs::perms::others_read);

  const std::string registered = ReadText(Config() / "mimeapps.list");
  EXPECT_EQ(registered, "# mine\n"
                        "[Default Applications]\n"
                        "text/plain=gedit.desktop\n"
                        "application/vnd.ms-outlook=org.norvane.Orlendo.desktop;other.desktop;\n"
                        "\n"
                        "[Added Associations]\n"
                        "image/png=eog.desktop;\n"
                        "application/vnd.ms-outlook=org.norvane.Orlendo.desktop;\n");
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

// Every regular file under folder, relative to it.
std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  if (fs::exists(folder, ec))
    for (const auto& item : fs::recursive_directory_iterator(folder))
      if (!item.is_directory())
        out.push_back(fs::relative(item.path(), folder).string());
  return out;
}

std::string QueryFiletype(const fs::path& file) {
  return testutil::RunProcess("/usr/bin/xdg-mime", {"query", "filetype", file.string()}).out;
}

// From a checkout, Register installs what the desktop needs to type and open the files; then a
// .msg file is a message, not a bare compound file, and opens with us. Unregister takes it all
// back, folders and sections included.
TEST_F(XdgHome, RegisterInstallsEntryIconAndTypesUnregisterLeavesNothing) {
  const fs::path msg = fs::path(tmp_.Path()) / "x.msg";
  const fs::path emlx = fs::path(tmp_.Path()) / "x.emlx";
  fs::copy_file(testutil::CorpusPath("msg/poi_blank.msg"), msg);
  std::ofstream(emlx) << "120\nFrom: a@example.org\nSubject: x\n\nbody\n";
  const bool haveTools = fs::exists("/usr/bin/xdg-mime") && fs::exists("/usr/bin/mimetype") &&
                         fs::exists("/usr/bin/update-mime-database");
  std::string typedBefore;
  if (haveTools)
    typedBefore = QueryFiletype(msg);

  RegisterAsDefaultViewer("/usr/bin/quillet");
  EXPECT_EQ(ReadText(Config() / "mimeapps.list"),
            "[Default Applications]\n"
            "application/vnd.ms-outlook=org.norvane.Orlendo.desktop;\n"
            "[Added Associations]\n"
            "application/vnd.ms-outlook=org.norvane.Orlendo.desktop;\n");
  const std::string entry = ReadText(Entry());
  EXPECT_NE(entry.find("\nExec=/usr/bin/quillet %f\n"), std::string::npos);
  EXPECT_NE(ReadText(IconPath()).find("<svg"), std::string::npos);
  EXPECT_NE(ReadText(MimePackagePath()).find("pattern=\"*.msg\""), std::string::npos);
  if (haveTools) {
    EXPECT_TRUE(fs::exists(Data() / "mime/mime.cache"));
    EXPECT_EQ(QueryFiletype(msg), "application/vnd.ms-outlook\n");
    EXPECT_EQ(QueryFiletype(emlx), "message/x-emlx\n");
    // The types the files now have are the ones the entry opens.
    for (const char* type : {"application/vnd.ms-outlook;", "message/x-emlx;"})
      EXPECT_NE(entry.find(type), std::string::npos) << type;
    auto r = testutil::RunProcess("/usr/bin/xdg-mime",
                                  {"query", "default", "application/vnd.ms-outlook"});
    EXPECT_EQ(r.out, "org.norvane.Orlendo.desktop\n");
  }

  UnregisterAsDefaultViewer();
  EXPECT_EQ(FilesUnder(Data()), std::vector<std::string>());
  EXPECT_EQ(FilesUnder(Config()), std::vector<std::string>());
  EXPECT_FALSE(fs::exists(Data() / "icons"));
  EXPECT_FALSE(fs::exists(Data() / "mime"));
  if (haveTools)
    EXPECT_EQ(QueryFiletype(msg), typedBefore);
}

// Installed as a package, the desktop knows the program already: Register only makes it the
// default and writes nothing beside mimeapps.list.
TEST_F(XdgHome, InstalledProgramOnlyBecomesTheDefault) {
  const fs::path share = fs::path(tmp_.Path()) / "usr/share";
  fs::create_directories(share / "quillet");
  fs::create_directories(share / "applications");
  fs::copy_file(std::string(ORLENDO_SOURCE_DIR) + "/desktop/org.norvane.Orlendo.desktop",
                share / "applications/org.norvane.Orlendo.desktop");
  const std::string program = (fs::path(tmp_.Path()) / "usr/bin/quillet").string();

  // Not on the desktop's search path: the prefix's entry is not found, so ours is installed.
  setenv("XDG_DATA_DIRS", "/usr/share", 1);
  EXPECT_FALSE(InstalledForTheDesktop(program));
  setenv("XDG_DATA_DIRS", (share.string() + "/:/usr/share").c_str(), 1);
  ASSERT_TRUE(InstalledForTheDesktop(program));
  EXPECT_EQ(DesktopSources(program).MimePackage,
            (share / "mime/packages/org.norvane.Orlendo.xml").string());

  RegisterAsDefaultViewer(program);
  EXPECT_EQ(FilesUnder(Data()), std::vector<std::string>());
  EXPECT_EQ(FilesUnder(Config()), std::vector<std::string>({"mimeapps.list"}));
  EXPECT_NE(ReadText(Config() / "mimeapps.list")
                .find("application/vnd.ms-outlook=org.norvane.Orlendo.desktop;\n"),
            std::string::npos);
  UnregisterAsDefaultViewer();
  EXPECT_EQ(FilesUnder(Config()), std::vector<std::string>())
      << ReadText(Config() / "mimeapps.list");
}

TEST_F(XdgHome, ExecLineEscapesReservedCharacters) {
  const std::string text = DesktopEntryText("/a\\b/\"q\"/$x/100%");
  EXPECT_NE(text.find("\nTryExec=/a\\\\b/\"q\"/$x/100%\n"), std::string::npos) << text;
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
