// File names from messages as paths, the private folder of opened attachments, OLE packages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/attachment_files.h"

namespace orlendo {
namespace {

TEST(AttachmentFiles, SenderNamesBecomeOneSafeComponent) {
  const std::pair<std::string, std::string> cases[] = {
      {"report.pdf", "report.pdf"},
      {"../../x", "x"},
      {"..", "attachment"},
      {".", "attachment"},
      {"", "attachment"},
      {"dir/", "attachment"},
      {"C:\\Users\\me\\file.doc", "file.doc"},
      {"/etc/passwd", "passwd"},
      {"a\x01"
       "b\x7F"
       "c\n.txt",
       "abc.txt"},
      {"  spaced name.txt  ", "spaced name.txt"},
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
  };
  for (const auto& [name, safe] : cases)
    EXPECT_EQ(SafeFileName(name), safe) << name;
  // Long names keep their extension and whole characters.
  std::string longName;
  for (int i = 0; i < 200; ++i)
    longName += "\xE6\x97\xA5";
  const std::string cut = SafeFileName(longName + ".pdf");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
  EXPECT_EQ((cut.size() - 4) % 3, 0u);
  EXPECT_EQ(PathInFolder("/chosen", "../../x"), "/chosen/x");
  EXPECT_EQ(PathInFolder("/chosen/", "a/b"), "/chosen/b");
  EXPECT_EQ(EmbeddedMessageFileName("Re: a/b"), "Re_ a_b.msg");
}

TEST(AttachmentFiles, TemporaryFilesArePrivateAndRemoved) {
  TTempFiles& temp = TTempFiles::Instance();
  const std::string first = temp.NewPath("same.txt");
  const std::string second = temp.NewPath("../same.txt");
  EXPECT_NE(first, second);
  const std::string folder = temp.Folder();
  ASSERT_FALSE(folder.empty());
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(first.rfind(folder + "/", 0), 0u);
  EXPECT_EQ(second.rfind(folder + "/", 0), 0u);
  {
    std::FILE* f = std::fopen(first.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  temp.Add(first);
  ASSERT_EQ(stat(first.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  temp.DeleteAll();
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(AttachmentFiles, OlePackagesGiveTheirFile) {
  auto le32 = [](uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
      s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::string body = std::string("\x02\x00", 2) + "notes.txt" + '\0' + "C:\\t\\notes.txt" +
                           '\0' + le32(0x00030000) + le32(15) + "C:\\tmp\\notes.t" + '\0' +
                           le32(5) + "hello";
  TOlePackage package;
  ASSERT_TRUE(ParseOle10Native(le32(static_cast<uint32_t>(body.size())) + body, package));
  EXPECT_EQ(package.FileName, "notes.txt");
  EXPECT_EQ(package.Data, "hello");
  // Sizes that claim more than there is are refused, at every cut.
  const std::string whole = le32(static_cast<uint32_t>(body.size())) + body;
  for (size_t cut = 0; cut + 1 < whole.size(); ++cut)
    EXPECT_FALSE(ParseOle10Native(whole.substr(0, cut), package)) << cut;
  EXPECT_FALSE(ReadOlePackage("not a compound file", package));
}

} // namespace
} // namespace orlendo
