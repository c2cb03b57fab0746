// The command line: switches in-process, and the windowless program as a whole process with its
// output files and exit statuses.
#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ini_file.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;
using testutil::CorpusPath;
using testutil::ProcessResult;
using testutil::RunProcess;
using testutil::TempDir;

std::string ReadText(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ProcessSwitch, AppliesTheTableAndIgnoresEverythingElse) {
  TSettings s;
  TRunState state;
  s.SaveMode = 1;
  for (const char* arg : {"/all", "--noini", "/NoLogo", "/NOMENU", "/simple"})
    ProcessSwitch(arg, s, state);
  EXPECT_EQ(s.SaveMode, 0);
  EXPECT_FALSE(s.UseIniFile);
  EXPECT_TRUE(s.HideLogo);
  EXPECT_TRUE(state.NoMenu);
  EXPECT_EQ(s.AppMode, 1);
  ProcessSwitch("/BASIC", s, state);
  EXPECT_EQ(s.AppMode, 2);

  ProcessSwitch("/DEFFORMAT=rtf", s, state);
  EXPECT_EQ(s.DefaultFormat, 2);
  ProcessSwitch("/DEFFORMAT=Text", s, state);
  EXPECT_EQ(s.DefaultFormat, 1);
  ProcessSwitch("/DEFFORMAT=pdf", s, state); // unknown: unchanged
  EXPECT_EQ(s.DefaultFormat, 1);

  ProcessSwitch("/LEFT=40", s, state);
  ProcessSwitch("/WIDTH=abc", s, state); // not a number: the coordinate stays
  EXPECT_EQ(s.FormLeft, 40);
  EXPECT_EQ(s.FormWidth, TSettings().FormWidth);
  EXPECT_TRUE(s.PositionSet);

  ProcessSwitch("/LANG=German.LNG", s, state); // the value keeps its case
  EXPECT_EQ(fs::path(s.LangFile).filename(), "German.LNG");
  // A file name, a path inside the languages folder and an absolute path all reach the file.
  const std::string german = DataFolder() + "languages/german.lng";
  ASSERT_TRUE(fs::exists(german));
  for (const std::string& value : {std::string("german.lng"), std::string("languages/german.lng"),
                                   fs::canonical(german).string()}) {
    ProcessSwitch("/LANG=" + value, s, state);
    EXPECT_TRUE(fs::exists(s.LangFile)) << value << " -> " << s.LangFile;
    EXPECT_EQ(fs::path(s.LangFile).filename(), "german.lng");
  }

  // On Linux a path may begin with "/": only known switches are switches.
  TSettings before = s;
  for (const char* arg : {"/home/user/a.msg", "/E", "html", "/tmp/ALLx", "/ALLX"})
    ProcessSwitch(arg, s, state);
  EXPECT_EQ(s.SaveMode, before.SaveMode);
  EXPECT_EQ(s.AppMode, before.AppMode);
  EXPECT_FALSE(IsKnownSwitch("/home/user/a.msg"));
  EXPECT_TRUE(IsKnownSwitch("/e"));
  EXPECT_TRUE(IsKnownSwitch("/height=3"));
}

TEST(ProcessSwitch, ExtendedSettingsApplyBeforeTheCommandLine) {
  TSettings s;
  TRunState state;
  s.ExtendedSettings = "/SIMPLE /NOLOGO  /DEFFORMAT=TEXT";
  ApplyExtendedSettings(s, state);
  EXPECT_EQ(s.AppMode, 1);
  EXPECT_TRUE(s.HideLogo);
  EXPECT_EQ(s.DefaultFormat, 1);
  ProcessSwitch("/BASIC", s, state); // the later one wins
  EXPECT_EQ(s.AppMode, 2);
}

// Runs quillet as a process with its settings in a private folder.
class Quillet : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (config_.Path() + "/none").c_str(), 1);
  }
  ProcessResult Run(const std::vector<std::string>& args) { return RunProcess(QUILLET_EXE, args); }
  std::string IniFile() const { return config_.Path() + "/Norvane/quillet/quillet.ini"; }
  // Copies a corpus file into the work folder under name.
  std::string Stage(const std::string& corpusFile, const std::string& name) {
    std::string target = work_.File(name);
    fs::copy_file(CorpusPath(corpusFile), target, fs::copy_options::overwrite_existing);
    return target;
  }
  TempDir config_;
  TempDir work_;
};

TEST_F(Quillet, EachFormatFromEachKindOfInput) {
  struct Case {
    const char* input;
    const char* format;
    const char* mustContain;
  };
  const Case cases[] = {
      {"msg/poi_blank.msg", "txt", ""},
      {"msg/omp_attachments.msg", "html", "<html"},
      {"msg/omp_attachments.msg", "xml", "<?xml"},
      {"msg/omp_attachments.msg", "eml", "MIME-Version: 1.0"},
      {"msg/omp_attachments.msg", "msg", "\xD0\xCF\x11\xE0"},
      {"eml/mailparser_nested.eml", "txt", ""},
      {"eml/mailparser_nested.eml", "htm", "<html"},
      {"eml/mailparser_nested.eml", "msg", "\xD0\xCF\x11\xE0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.format);
    std::string target = work_.File(std::string("out.") + c.format);
    ProcessResult r = Run({CorpusPath(c.input), "/E", c.format, target, "/NOINI"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(fs::exists(target));
    std::string text = ReadText(target);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.find(c.mustContain), std::string::npos);
  }
  // Every .mht of the corpus converts too.
  for (const std::string& mht : testutil::CorpusFiles("mht", ".mht")) {
    std::string target = work_.File("mht.xml");
    ProcessResult r = Run({mht, "/E", "xml", target, "/NOINI"});
    EXPECT_EQ(r.exitCode, 0) << mht << ": " << r.err;
    EXPECT_TRUE(fs::exists(target)) << mht;
  }
}

TEST_F(Quillet, DerivedTargetReplacesTheExtensionWithTheFormat) {
  std::string input = Stage("msg/omp_attachments.msg", "Letter.msg");
  ProcessResult r = Run({input, "/E", "html", "/NOINI"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(work_.File("Letter.HTML")));
  EXPECT_EQ(r.out, work_.File("Letter.HTML") + "\n");
}

TEST_F(Quillet, ExplicitTargetKeepsItsCaseAndTheFormatChoosesTheWriter) {
  std::string input = Stage("msg/omp_attachments.msg", "a.msg");
  std::string target = work_.File("Out.txt");
  ProcessResult r = Run({input, "/e", "XML", target, "/NOINI"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(fs::exists(target));
  EXPECT_FALSE(fs::exists(work_.File("OUT.TXT")));
  EXPECT_EQ(ReadText(target).rfind("<?xml", 0), 0u);
}

TEST_F(Quillet, RelativeAndAbsoluteFileArguments) {
  std::string input = Stage("msg/poi_blank.msg", "blank.msg");
  ProcessResult r =
      RunProcess("/bin/sh", {"-c", "cd '" + work_.Path() + "' && '" + std::string(QUILLET_EXE) +
                                       "' blank.msg /E txt"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(work_.File("blank.TXT")));
  // The recent list holds the full path.
  TIniFile ini(IniFile());
  EXPECT_EQ(ini.ReadString("Recent", "Item1", ""), input);
}

TEST_F(Quillet, ExportSwitchFirstOpensNothingAndWritesNothing) {
  ProcessResult r = Run({"/E", "html", work_.File("x.html"), "/NOINI"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err, "");
  EXPECT_TRUE(fs::is_empty(work_.Path()));
}

TEST_F(Quillet, MissingFileFailsWithTheReadersMessageAndNoTarget) {
  std::string missing = work_.File("nothere.msg");
  ProcessResult r = Run({missing, "/E", "html", "/NOINI"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "File " + missing + " is not found.\n");
  EXPECT_TRUE(fs::is_empty(work_.Path()));
}

TEST_F(Quillet, FileThatIsNotAMessageLeavesAnExistingTargetAlone) {
  std::string input = Stage("msg/oxmsg_not-a-MSG-file.msg", "bad.msg");
  std::string target = work_.File("keep.html");
  std::ofstream(target) << "precious";
  ProcessResult r = Run({input, "/E", "html", target, "/NOINI"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "File " + input + " is not valid file (compound storage)\n");
  EXPECT_EQ(ReadText(target), "precious");
  // No temporary file is left behind either.
  EXPECT_EQ(std::distance(fs::directory_iterator(work_.Path()), fs::directory_iterator()), 2);
}

TEST_F(Quillet, SettingsAreWrittenUnlessNoIniIsGiven) {
  std::string input = Stage("msg/poi_blank.msg", "b.msg");
  EXPECT_EQ(Run({input, "/E", "txt", "/NOINI"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(IniFile()));
  EXPECT_EQ(Run({input, "/E", "txt"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(IniFile()));

  // ExtendedSettings is applied before the command line: "/NOINI" stored there keeps this
  // run's recent-list change out of the file.
  TIniFile ini(IniFile());
  ini.WriteString("Options", "ExtendedSettings", "/NOINI");
  ini.UpdateFile();
  std::string other = Stage("msg/poi_blank.msg", "other.msg");
  EXPECT_EQ(Run({other, "/E", "txt"}).exitCode, 0);
  TIniFile after(IniFile());
  EXPECT_EQ(after.ReadString("Recent", "Item1", ""), input);
}

TEST_F(Quillet, CommonPropertiesOnlyWithSaveModeOneAndAllWithTheAllSwitch) {
  std::string input = Stage("msg/omp_attachments.msg", "m.msg");
  TIniFile ini(IniFile());
  fs::create_directories(fs::path(IniFile()).parent_path());
  ini.WriteInteger("Save", "SaveMode", 1);
  ini.UpdateFile();
  ASSERT_EQ(Run({input, "/E", "xml", work_.File("common.xml"), "/NOINI"}).exitCode, 0);
  ASSERT_EQ(Run({input, "/E", "xml", work_.File("all.xml"), "/ALL", "/NOINI"}).exitCode, 0);
  EXPECT_LT(ReadText(work_.File("common.xml")).size(), ReadText(work_.File("all.xml")).size());
}

TEST_F(Quillet, HelpVersionAndDump) {
  ProcessResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("/E FORMAT"), std::string::npos);
  ProcessResult version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("quillet", 0), 0u);
  ProcessResult dump = Run({"--dump", CorpusPath("msg/poi_blank.msg")});
  EXPECT_EQ(dump.exitCode, 0) << dump.err;
  EXPECT_NE(dump.out.find("0x"), std::string::npos);
}

} // namespace
} // namespace orlendo
