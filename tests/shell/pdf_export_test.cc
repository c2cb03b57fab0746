// PDF from the command line as a user gets it: /E pdf and --convert --to pdf as whole processes,
// the PDFs read back by poppler (pdftotext, pdfinfo, pdffonts, pdfimages): the subject and body
// words come back as text, the fonts are embedded, inline images are in, the paper follows
// LC_PAPER, and nothing remote is fetched.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;
using testutil::CorpusPath;
using testutil::ProcessResult;
using testutil::RunProcess;
using testutil::TempDir;

struct TPdfCase {
  const char* file;
  const char* subject;                // as pdftotext gives it back
  std::vector<const char*> bodyWords; // words of the body
  bool images;                        // the body shows inline images
  int pages;                          // 0: not looked at
};

// Latin plain text (Qt's PDF writer), Cyrillic HTML in CP1251, CJK HTML carried in RTF, and
// HTML with inline cid: images (both through the web engine).
const std::vector<TPdfCase>& Cases() {
  static const std::vector<TPdfCase> cases = {
      {"eml/mimekit_startrek.eml", "Star Trek Party!", {"ANNIVERSARY", "invited"}, false, 0},
      {"msg/poi_ASCII_CP1251_LCID1049.msg",
       "Subject автоматически Subject",
       {"HTML автоматически"},
       false,
       1},
      // Its body is on a Word "named page": the header must not stand alone on a sheet.
      {"msg/kmr_Hello_CJK.msg", "Hello +CJK", {"你好", "こんにちは", "안녕하세요"}, false, 1},
      {"msg/poi_attachment_msg_inlineImg.msg",
       "How to use and check database files from device",
       {"SQLite Manager"},
       true,
       0},
  };
  return cases;
}

// PDF is made by the window module; a build without the window (the sanitizer build) has none.
bool WindowModuleBuilt() {
  return std::filesystem::exists(std::filesystem::path(QUILLET_EXE).parent_path() /
                                 "quillet_window.so");
}

// quillet under env (NAME=VALUE words for env(1)), in the C locale unless env says otherwise.
ProcessResult Quillet(const std::vector<std::string>& env, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-u", "LC_ALL", "-u", "LC_PAPER", "-u", "LANG", "LANG=C.UTF-8"};
  all.insert(all.end(), env.begin(), env.end());
  all.push_back(QUILLET_EXE);
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess("/usr/bin/env", all);
}

std::string Poppler(const char* tool, const std::vector<std::string>& args) {
  const ProcessResult r = RunProcess(std::string("/usr/bin/") + tool, args);
  EXPECT_EQ(r.exitCode, 0) << tool << ": " << r.err;
  return r.out;
}

std::string PdfText(const std::string& pdf) {
  return Poppler("pdftotext", {"-enc", "UTF-8", pdf, "-"});
}

std::string InfoLine(const std::string& pdf, const char* field) {
  std::istringstream info(Poppler("pdfinfo", {pdf}));
  for (std::string line; std::getline(info, line);)
    if (line.rfind(field, 0) == 0)
      return line;
  return {};
}

std::string PageSize(const std::string& pdf) {
  return InfoLine(pdf, "Page size:");
}

// Every font pdffonts lists is embedded; false also when it lists none.
bool FontsEmbedded(const std::string& pdf, std::string& listing) {
  listing = Poppler("pdffonts", {pdf});
  std::istringstream lines(listing);
  std::string line;
  int fonts = 0;
  bool pastRule = false;
  while (std::getline(lines, line)) {
    if (line.rfind("----", 0) == 0) {
      pastRule = true;
      continue;
    }
    if (!pastRule || line.empty())
      continue;
    ++fonts;
    // The columns after the name: type, encoding, emb, sub, uni, object, ID.
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;)
      w.push_back(s);
    if (w.size() < 7 || w[w.size() - 5] != "yes")
      return false;
  }
  return fonts > 0;
}

int ImageCount(const std::string& pdf) {
  std::istringstream lines(Poppler("pdfimages", {"-list", pdf}));
  int count = 0;
  std::string line;
  for (int i = 0; std::getline(lines, line); ++i)
    if (i >= 2 && !line.empty())
      ++count;
  return count;
}

TEST(PdfExport, EachScriptComesBackAsTextWithEmbeddedFontsOnA4) {
  if (!WindowModuleBuilt())
    GTEST_SKIP() << "built without the window module";
  TempDir dir;
  for (const TPdfCase& c : Cases()) {
    SCOPED_TRACE(c.file);
    const std::string pdf = dir.File(fs::path(c.file).stem().string() + ".pdf");
    const ProcessResult r = Quillet({}, {CorpusPath(c.file), "/E", "pdf", pdf, "/NOINI"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, pdf + "\n");
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find(c.subject), std::string::npos) << text;
    for (const char* word : c.bodyWords)
      EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
    // The header block names what it shows.
    EXPECT_NE(text.find("Subject:"), std::string::npos) << text;
    EXPECT_NE(PageSize(pdf).find("(A4)"), std::string::npos) << PageSize(pdf);
    std::string fonts;
    EXPECT_TRUE(FontsEmbedded(pdf, fonts)) << fonts;
    if (c.images) {
      EXPECT_GT(ImageCount(pdf), 0);
    }
    if (c.pages > 0) {
      EXPECT_EQ(InfoLine(pdf, "Pages:"), "Pages:           " + std::to_string(c.pages));
    }
  }
}

TEST(PdfExport, LetterPaperWhereLcPaperSaysSo) {
  if (!WindowModuleBuilt())
    GTEST_SKIP() << "built without the window module";
  TempDir dir;
  const std::string locales = dir.File("locales");
  fs::create_directories(locales);
  const ProcessResult made =
      RunProcess("/usr/bin/localedef", {"-i", "en_US", "-f", "UTF-8", locales + "/en_US.UTF-8"});
  if (!fs::exists(locales + "/en_US.UTF-8"))
    GTEST_SKIP() << "no en_US locale could be made: " << made.err;
  // Both ways of drawing: Qt's PDF writer (plain text) and the web engine (HTML).
  for (const char* file : {"eml/mimekit_startrek.eml", "msg/poi_ASCII_CP1251_LCID1049.msg"}) {
    SCOPED_TRACE(file);
    const std::string pdf = dir.File(fs::path(file).stem().string() + ".pdf");
    const ProcessResult r = Quillet({"LOCPATH=" + locales, "LC_PAPER=en_US.UTF-8"},
                                    {CorpusPath(file), "/E", "pdf", pdf, "/NOINI"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(PageSize(pdf).find("(letter)"), std::string::npos) << PageSize(pdf);
  }
}

TEST(PdfExport, RemoteContentIsNeverFetched) {
  if (!WindowModuleBuilt())
    GTEST_SKIP() << "built without the window module";
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(server, 16), 0);
  socklen_t length = sizeof address;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string base = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

  TempDir dir;
  const std::string eml = dir.File("remote.eml");
  {
    std::ofstream out(eml, std::ios::binary);
    out << "From: Tracker <t@example.com>\r\nSubject: Remote pixels\r\n"
           "Content-Type: text/html; charset=utf-8\r\n\r\n"
           "<html><head><link rel=\"stylesheet\" href=\""
        << base << "style.css\"><style>@import url(" << base
        << "imported.css); body{background:url(" << base << "back.png)}</style></head><body>"
        << "<p>Watched words</p><img src=\"" << base << "pixel.png\"><iframe src=\"" << base
        << "frame.html\"></iframe></body></html>\r\n";
  }
  const std::string pdf = dir.File("remote.pdf");
  const ProcessResult r = Quillet({}, {eml, "/E", "pdf", pdf, "/NOINI"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(PdfText(pdf).find("Watched words"), std::string::npos);
  // A connection attempt would wait in the backlog.
  pollfd waiting{server, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "quillet connected to " << base;
  ::close(server);
}

TEST(PdfExport, BatchConvertsEachMessageAndNamesTheBrokenOne) {
  if (!WindowModuleBuilt())
    GTEST_SKIP() << "built without the window module";
  TempDir dir;
  const std::string in = dir.File("in");
  const std::string out = dir.File("out");
  fs::create_directories(in + "/nested");
  for (const TPdfCase& c : Cases())
    fs::copy_file(CorpusPath(c.file), in + "/nested/" + fs::path(c.file).filename().string());
  std::ofstream(in + "/broken.msg", std::ios::binary) << "\xD0\xCF\x11\xE0 not a compound file";
  const std::string report = dir.File("report.json");
  const ProcessResult r = Quillet({}, {"--convert", "--to", "pdf", "--recursive", "--jobs", "2",
                                       "--quiet", "--out", out, "--report", report, in});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("broken.msg"), std::string::npos) << r.err;
  std::ifstream reportFile(report);
  const std::string reportText((std::istreambuf_iterator<char>(reportFile)),
                               std::istreambuf_iterator<char>());
  EXPECT_NE(reportText.find("\"converted\": 4"), std::string::npos) << reportText;
  EXPECT_NE(reportText.find("\"failed\": 1"), std::string::npos) << reportText;
  for (const TPdfCase& c : Cases()) {
    const std::string pdf = out + "/nested/" + fs::path(c.file).stem().string() + ".pdf";
    ASSERT_TRUE(fs::exists(pdf)) << pdf;
    EXPECT_NE(PdfText(pdf).find(c.subject), std::string::npos) << pdf;
  }
}

} // namespace
} // namespace orlendo
