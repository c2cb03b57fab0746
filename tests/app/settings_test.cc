#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ini_file.h"
#include "model/stream.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Points the per-user and all-users settings folders at a private temporary tree.
class SettingsEnv : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quillet-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    setenv("XDG_CONFIG_HOME", (root_ / "user").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root_ / "system").string().append(":/nonexistent").c_str(), 1);
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_;
};

TEST(IniFile, KeepsValuesByteForByteAndMatchesNamesWithoutCase) {
  TIniFile ini;
  ini.WriteString("Options", "LangFile", "  /a b/é.lng ;x= ");
  ini.WriteInteger("Save", "SaveMode", 1);
  EXPECT_EQ(ini.ReadString("options", "LANGFILE", "?"), "  /a b/é.lng ;x= ");
  EXPECT_EQ(ini.ReadInteger("SAVE", "savemode", 7), 1);
  EXPECT_EQ(ini.ReadInteger("Save", "Missing", 7), 7);
  ini.WriteString("Save", "Bad", "12abc");
  EXPECT_EQ(ini.ReadInteger("Save", "Bad", 7), 7);
  EXPECT_TRUE(ini.ReadBool("Save", "SaveMode", false));
}

TEST_F(SettingsEnv, ReadingKeepsCommentsAndUnknownKeysWhenWrittenBack) {
  fs::path file = root_ / "a.ini";
  std::ofstream(file)
      << "; comment\r\n[Options]\r\nForeign=keep me\r\nBeepAfter=0\r\n\r\n[Other]\r\nx=1\r\n";
  TIniFile ini(file.string());
  EXPECT_FALSE(ini.ReadBool("Options", "BeepAfter", true));
  ini.WriteBool("Options", "BeepAfter", true);
  ini.UpdateFile();
  std::string text = ReadText(file);
  EXPECT_NE(text.find("; comment"), std::string::npos);
  EXPECT_NE(text.find("Foreign=keep me"), std::string::npos);
  EXPECT_NE(text.find("BeepAfter=1"), std::string::npos);
  EXPECT_NE(text.find("[Other]\nx=1"), std::string::npos);
}

TEST_F(SettingsEnv, EveryKeySurvivesARoundTrip) {
  TSettings out;
  out.LastOpened = true;
  out.BeepAfter = false;
  out.DisableDialogAfterSave = true;
  out.SaveFormPosition = true;
  out.FormState = 2;
  out.FormLeft = 11;
  out.FormTop = 12;
  out.FormWidth = 800;
  out.FormHeight = 600;
  out.Band0Width = 120;
  out.Band1Width = 130;
  out.LeftPaneWidth = 210;
  out.FileExplorer = true;
  out.LangFile = "/usr/share/quillet/languages/German.lng";
  out.DefaultDir = "/home/u/Mail/";
  out.UseCustomFont = true;
  out.GridFont = {"DejaVu Sans", 204, 255, 11, 3};
  out.WordWrap = true;
  out.AppMode = 1;
  out.HideLogo = true;
  out.DefaultFormat = 1;
  out.UpdateUrl = "http://127.0.0.1:8080/msg/quillet.xml";
  out.DirKind = 2;
  out.LastUsedDir = "/tmp/last";
  out.CustomDir = "/tmp/Custom Dir";
  out.SaveMode = 1;
  out.RecentFiles.Add("/m/a.msg");
  out.RecentFiles.Add("/m/B.msg");
  out.FavoriteFiles.Add("/m/fav.eml");
  out.SettingsChanged = true;
  SaveSettings(out);
  EXPECT_FALSE(out.SettingsChanged);

  TSettings in;
  LoadSettings(in, false);
  LoadSettings(in, true);
  EXPECT_EQ(in.LastOpened, out.LastOpened);
  EXPECT_EQ(in.BeepAfter, out.BeepAfter);
  EXPECT_EQ(in.DisableDialogAfterSave, out.DisableDialogAfterSave);
  EXPECT_EQ(in.SaveFormPosition, out.SaveFormPosition);
  EXPECT_EQ(in.FormState, 2);
  EXPECT_EQ(in.FormLeft, 11);
  EXPECT_EQ(in.FormTop, 12);
  EXPECT_EQ(in.FormWidth, 800);
  EXPECT_EQ(in.FormHeight, 600);
  EXPECT_EQ(in.Band0Width, 120);
  EXPECT_EQ(in.Band1Width, 130);
  EXPECT_EQ(in.LeftPaneWidth, 210);
  EXPECT_TRUE(in.FileExplorer);
  EXPECT_EQ(in.LangFile, out.LangFile);
  EXPECT_EQ(in.DefaultDir, out.DefaultDir);
  EXPECT_TRUE(in.UseCustomFont);
  EXPECT_EQ(in.GridFont, out.GridFont);
  EXPECT_TRUE(in.WordWrap);
  EXPECT_EQ(in.AppMode, 1);
  EXPECT_TRUE(in.HideLogo);
  EXPECT_EQ(in.DefaultFormat, 1);
  EXPECT_EQ(in.UpdateUrl, out.UpdateUrl);
  EXPECT_EQ(in.DirKind, 2);
  EXPECT_EQ(in.LastUsedDir, out.LastUsedDir);
  EXPECT_EQ(in.CustomDir, out.CustomDir);
  EXPECT_EQ(in.SaveMode, 1);
  EXPECT_EQ(in.RecentFiles, out.RecentFiles);
  EXPECT_EQ(in.FavoriteFiles, out.FavoriteFiles);
  // ExtendedSettings is read, never written.
  EXPECT_EQ(ReadText(GetIniFileName(true)).find("ExtendedSettings"), std::string::npos);
}

TEST_F(SettingsEnv, OptionsAreWrittenOnlyWhenChangedAndGeometryOnlyWhenKept) {
  TSettings s;
  s.BeepAfter = false;
  s.SaveMode = 1;
  SaveSettings(s); // not changed: only Attachments, Save and the lists
  std::string text = ReadText(GetIniFileName(true));
  EXPECT_EQ(text.find("[Options]"), std::string::npos);
  EXPECT_NE(text.find("SaveMode=1"), std::string::npos);

  s.SettingsChanged = true;
  SaveSettings(s);
  text = ReadText(GetIniFileName(true));
  EXPECT_NE(text.find("BeepAfter=0"), std::string::npos);
  EXPECT_EQ(text.find("FormLeft"), std::string::npos);

  // Without SaveFormPosition the window part reads no geometry either.
  TIniFile ini(GetIniFileName(true));
  ini.WriteInteger("Options", "FormLeft", 99);
  ini.UpdateFile();
  TSettings in;
  LoadSettings(in, true);
  EXPECT_EQ(in.FormLeft, TSettings().FormLeft);
}

TEST_F(SettingsEnv, SevenRecentFilesWriteCountFiveAndSevenItemsAndComeBackAsFive) {
  TSettings s;
  for (int i = 7; i >= 1; --i)
    s.RecentFiles.MoveToFront("/mail/m" + std::to_string(i) + ".msg");
  SaveSettings(s);
  TIniFile ini(GetIniFileName(true));
  EXPECT_EQ(ini.ReadInteger("Recent", "Count", 0), 5);
  for (int i = 1; i <= 7; ++i)
    EXPECT_TRUE(ini.ValueExists("Recent", "Item" + std::to_string(i))) << i;
  EXPECT_FALSE(ini.ValueExists("Recent", "Item8"));

  TSettings in;
  LoadSettings(in, false);
  ASSERT_EQ(in.RecentFiles.Count(), 5);
  EXPECT_EQ(in.RecentFiles.Items()[0], "/mail/m1.msg");
  EXPECT_EQ(in.RecentFiles.Items()[4], "/mail/m5.msg");

  // A shorter list written later leaves no stale items behind.
  in.RecentFiles.Clear();
  in.RecentFiles.Add("/only.msg");
  SaveSettings(in);
  TIniFile again(GetIniFileName(true));
  EXPECT_FALSE(again.ValueExists("Recent", "Item2"));
}

TEST(FileList, NamesAreCaseSensitiveAndMoveToTheFront) {
  TFileList list;
  list.MoveToFront("/a/X.msg");
  list.MoveToFront("/a/x.msg");
  list.MoveToFront("/a/X.msg");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items()[0], "/a/X.msg");
  EXPECT_EQ(list.Items()[1], "/a/x.msg");
}

TEST(GridFont, FieldsApplyOnlyWhenACommaFollows) {
  TFontDesc font{"Old", 1, 5, 9, 0};
  StringToFont("Arial,204", font); // the charset has no comma after it
  EXPECT_EQ(font, (TFontDesc{"Arial", 1, 5, 9, 0}));

  StringToFont("Arial, 204, 0, 10, 1", font);
  EXPECT_EQ(font, (TFontDesc{"Arial", 204, 0, 10, 1}));

  StringToFont(" , x, -16777211, ,2", font); // empty or unreadable fields keep the value
  EXPECT_EQ(font, (TFontDesc{"Arial", 204, -16777211, 10, 2}));

  EXPECT_EQ(FontToString(font), "Arial,204,-16777211,10,2");
  TFontDesc back;
  StringToFont(FontToString(font), back);
  EXPECT_EQ(back, font);
}

TEST_F(SettingsEnv, AllUsersFileIsReadWhenThePerUserFileIsMissing) {
  fs::path system = root_ / "system" / "Norvane" / "quillet";
  fs::create_directories(system);
  std::ofstream(system / "quillet.ini")
      << "[Options]\nDefaultFormat=2\n[Recent]\nCount=1\nItem1=/shared.msg\n";
  TSettings s;
  LoadSettings(s, false);
  EXPECT_EQ(s.DefaultFormat, 2);
  ASSERT_EQ(s.RecentFiles.Count(), 1);
  // Only the per-user file is written.
  SaveSettings(s);
  EXPECT_TRUE(fs::exists(root_ / "user" / "Norvane" / "quillet" / "quillet.ini"));
  EXPECT_EQ(ReadText(system / "quillet.ini").find("SaveMode"), std::string::npos);
  // Asking for the all-users name creates nothing.
  fs::remove_all(root_ / "system");
  GetIniFileName(false);
  EXPECT_FALSE(fs::exists(root_ / "system"));
}

TEST_F(SettingsEnv, UnwritableFolderReportsTheFileAndLeavesNoPartialFile) {
  if (geteuid() == 0) {
    // root writes anywhere; make the folder a file so that nothing can be created in it.
    fs::create_directories(root_ / "user");
    std::ofstream(root_ / "user" / "Norvane") << "not a folder";
  } else {
    fs::create_directories(root_ / "user" / "Norvane" / "quillet");
    fs::permissions(root_ / "user" / "Norvane" / "quillet",
                    fs::perms::owner_read | fs::perms::owner_exec);
  }
  TSettings s;
  const std::string file = GetIniFileName(true);
  try {
    SaveSettings(s);
    FAIL() << "no error";
  } catch (const EMSGError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
  }
  EXPECT_FALSE(fs::exists(file));
  if (fs::is_directory(fs::path(file).parent_path())) {
    fs::permissions(fs::path(file).parent_path(), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_TRUE(fs::is_empty(fs::path(file).parent_path()));
  }
}

TEST(AttachmentFolder, FollowsTheKind) {
  TSettings s;
  s.LastUsedDir = "/last";
  s.CustomDir = "/custom/";
  s.DirKind = 1;
  EXPECT_EQ(GetAttachmentFolder(s, "/m/a.msg"), "/last/");
  s.DirKind = 2;
  EXPECT_EQ(GetAttachmentFolder(s, "/m/a.msg"), "/custom/");
  s.DirKind = 3;
  EXPECT_EQ(GetAttachmentFolder(s, "/m/a.msg"), "/m/");
  s.DirKind = 0;
  EXPECT_EQ(GetAttachmentFolder(s, "/m/a.msg"), HomeFolder());
}

TEST(ForceFolders, CreatesTheChainAndRefusesAnEmptyPath) {
  char tmpl[] = "/tmp/quillet-ff-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path deep = fs::path(tmpl) / "a" / "b" / "c";
  EXPECT_TRUE(ForceFolders(deep.string() + "/"));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(ForceFolders(deep.string()));
  EXPECT_THROW(ForceFolders(""), EMSGError);
  fs::remove_all(tmpl);
}

} // namespace
} // namespace orlendo
