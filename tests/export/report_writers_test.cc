// The text, HTML and XML reports: their exact layout on hand-made messages, and well-formed,
// faithful output for every message of the corpus.
#include "export/report_writers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "export/generator_text.h"
#include "export_test_util.h"
#include "mime/qvemlfile.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using namespace exporttest;
using testutil::TempDir;

using Writer = void (*)(const TMSGProperties&, TStream*, bool);

std::string Write(Writer writer, const TMSGProperties& level, bool withProperties) {
  TMemoryStream stream;
  writer(level, &stream, withProperties);
  return stream.Data();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// A small message: sender, one recipient, subject, a two-line body, a date, and a property
// with one sub-property.
struct SampleMessage {
  TQvMessage msg;
  SampleMessage() {
    TMSGProperties& p = msg.Properties();
    p.AddProperty(0x0042001F, W(u"Ann Example"));
    p.AddProperty(0x5D01001F, W(u"ann@example.org"));
    p.AddProperty(0x0E04001F, W(u"Bob"));
    p.AddProperty(0x0037001F, W(u"Caf\u00e9 <menu> & 'more'"));
    p.AddProperty(0x1000001F, W(u"Line one\r\nLine two"));
    p.AddProperty(0x00390040, TVariant::FromDateTime(WallClock(2026, 12, 7, 21, 5, 3)));
    AddRecipient(p, 0, u"Bob", u"bob@example.org");
  }
  TMSGProperties& P() { return msg.Properties(); }
};

class CLocale : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_TIME, "C"); }
};

// --- Dates ---

TEST_F(CLocale, ReportDateFormat) {
  EXPECT_EQ(FormatReportDate(WallClock(2026, 12, 7, 21, 5, 3)),
            "Monday, December 07, 2026 09:05:03 pm");
  EXPECT_EQ(FormatReportDate(WallClock(2000, 2, 29, 0, 0, 0)),
            "Tuesday, February 29, 2000 12:00:00 am");
  EXPECT_EQ(FormatReportDate(WallClock(1999, 8, 16, 12, 0, 59)),
            "Monday, August 16, 1999 12:00:59 pm");
  EXPECT_EQ(FormatReportDate(WallClock(1899, 12, 30, 11, 59, 59)),
            "Saturday, December 30, 1899 11:59:59 am");
  // Before 1899 the fraction is still the time of day.
  EXPECT_EQ(FormatReportDate(-1.25), "Friday, December 29, 1899 06:00:00 am");
  EXPECT_EQ(FormatReportDate(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(FormatReportDate(1e300), "");
}

// --- Plain text ---

TEST_F(CLocale, TextSummary) {
  SampleMessage m;
  std::vector<std::string> lines = Lines(Write(SaveToTXT, m.P(), false));
  std::vector<std::string> expected = {
      GeneratorText(),
      "",
      "From: \"Ann Example\" <ann@example.org>",
      "Sent: Monday, December 07, 2026 09:05:03 pm",
      "To: Bob <bob@example.org>",
      "Subject: " + U8(u"Caf\u00e9 <menu> & 'more'"),
      "Body: Line one",
      "Line two",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(CLocale, TextPropertiesIndentTwoBlanksPerLevel) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0037001F, W(u"S"));
  TMSGProperty* parent = p.Add();
  parent->TagID = TAG_RECIPIENT_NODE;
  parent->Value = A("__recip_version1.0_#00000000");
  TMSGProperty* child = parent->SubProperties().AddProperty(0x3001001F, W(u"Name"));
  child->SubProperties().AddProperty(0x80000003, TVariant::FromInteger(-5));
  p.AddProperty(0x0E070003, TVariant::FromInteger(9));
  std::string text = Write(SaveToTXT, p, true);
  EXPECT_EQ(text.find("Sent:"), std::string::npos); // no date, no line
  std::string tail = text.substr(text.find("Properties:"));
  EXPECT_EQ(tail, "Properties:\r\n"
                  "\r\n"
                  "Category\tTagID\tValue\r\n"
                  "mpcEnvelope\t0x0037001F\t\"S\"\r\n"
                  "mpcRecipient\t0x0C000000\t\"__recip_version1.0_#00000000\"\r\n"
                  "  mpcMessage\t0x3001001F\t\"Name\"\r\n"
                  "    mpcUserProperty\t0x80000003\t\"-5\"\r\n"
                  "mpcNonTransmittable\t0x0E070003\t\"9\"\r\n");
}

// --- Missing stream, files ---

TEST(Writers, MissingStreamIsAnErrorBeforeAnything) {
  SampleMessage m;
  for (Writer writer : {SaveToTXT, SaveToHTML, SaveToXML}) {
    for (bool withProperties : {false, true}) {
      try {
        writer(m.P(), nullptr, withProperties);
        ADD_FAILURE() << "no error";
      } catch (const EMSGError& e) {
        EXPECT_STREQ(e.what(), "Stream is not defined");
      }
    }
  }
}

TEST(Writers, FilesAreCreatedAnewAndFailuresNameTheFile) {
  TempDir dir;
  SampleMessage m;
  std::string path = dir.File("report");
  using FileWriter = void (*)(const TMSGProperties&, const std::string&, bool);
  const std::pair<FileWriter, Writer> writers[] = {
      {SaveToTXTFile, SaveToTXT}, {SaveToHTMLFile, SaveToHTML}, {SaveToXMLFile, SaveToXML}};
  for (const auto& [fileWriter, streamWriter] : writers) {
    std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
    fileWriter(m.P(), path, true);
    EXPECT_EQ(ReadFile(path), Write(streamWriter, m.P(), true));
    std::string bad = dir.File("missing/folder/report");
    try {
      fileWriter(m.P(), bad, false);
      ADD_FAILURE() << "no error";
    } catch (const EMSGError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
  // The component's forwards write the same files.
  m.msg.SaveToXMLFile(path, false);
  EXPECT_EQ(ReadFile(path), Write(SaveToXML, m.P(), false));
  m.msg.SaveToHTMLFile(path, true);
  EXPECT_EQ(ReadFile(path), Write(SaveToHTML, m.P(), true));
  m.msg.SaveToTXTFile(path, false);
  EXPECT_EQ(ReadFile(path), Write(SaveToTXT, m.P(), false));
}

// --- HTML ---

TEST_F(CLocale, HtmlGenericForm) {
  SampleMessage m;
  std::string html = Write(SaveToHTML, m.P(), false);
  std::string g = GeneratorText();
  EXPECT_EQ(html, "<html>\r\n<head>\r\n"
                  "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
                  "<meta name=\"GENERATOR\" content=\"" +
                      g + "\">\r\n<title>" + g +
                      "</title>\r\n</head>\r\n\r\n<body>\r\n\r\n"
                      "<p><b>From:</b> &quot;Ann Example&quot; &lt;ann@example.org&gt;</p>\r\n"
                      "<p><b>Sent:</b> Monday, December 07, 2026 09:05:03 pm</p>\r\n"
                      "<p><b>To:</b> Bob &lt;bob@example.org&gt;</p>\r\n"
                      "<p><b>Subject:</b> " +
                      U8(u"Caf\u00e9") +
                      " &lt;menu&gt; &amp; 'more'</p>\r\n"
                      "<p><b>Body:</b><br> Line one<br>Line two</p>\r\n"
                      "\r\n<p>" +
                      g + "</p>\r\n</body>\r\n</html>\r\n");
}

TEST(Writers, HtmlPropertyTablesNestSixBlanksPerLevel) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  TMSGProperty* parent = p.AddProperty(0x0037001F, W(u"a<b&c"));
  parent->SubProperties().AddProperty(0x0E070003, TVariant::FromInteger(1));
  std::string html = Write(SaveToHTML, p, true);
  size_t start = html.find("<table border=\"1\">");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(html.substr(start, html.find("</table>\r\n\r\n") + 10 - start),
            "<table border=\"1\">\r\n"
            "  <tr>\r\n"
            "    <td>Category</td><td>TagID</td><td>Value</td>\r\n"
            "  </tr>\r\n"
            "  <tr>\r\n"
            "    <td>mpcEnvelope</td>\r\n"
            "    <td>0x0037001F</td>\r\n"
            "    <td>a&lt;b&amp;c</td>\r\n"
            "  </tr>\r\n"
            "  <tr>\r\n"
            "    <td>\r\n"
            "      <table border=\"1\">\r\n"
            "        <tr>\r\n"
            "          <td>mpcNonTransmittable</td>\r\n"
            "          <td>0x0E070003</td>\r\n"
            "          <td>1</td>\r\n"
            "        </tr>\r\n"
            "      </table>\r\n"
            "    </td>\r\n"
            "  </tr>\r\n"
            "</table>\r\n");
}

TEST_F(CLocale, HtmlBodyFormKeepsTheMessageHtml) {
  SampleMessage m;
  const std::string body =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
      "</head><body lang=\"en\" style=\"x\"><p>Hello</p></body></html>";
  m.P().AddProperty(0x1013001F, W(U16(body)));
  std::string html = Write(SaveToHTML, m.P(), false);
  size_t cut = body.find("<p>Hello");
  std::string summary = "<p><b>From:</b> &quot;Ann Example&quot; &lt;ann@example.org&gt;</p>\r\n"
                        "<p><b>Sent:</b> Monday, December 07, 2026 09:05:03 pm</p>\r\n"
                        "<p><b>To:</b> Bob &lt;bob@example.org&gt;</p>\r\n"
                        "<p><b>Subject:</b> " +
                        U8(u"Caf\u00e9") +
                        " &lt;menu&gt; &amp; 'more'</p>\r\n"
                        "<p><b>Body:</b><br> ";
  EXPECT_EQ(html, body.substr(0, cut) + summary + body.substr(cut) + "\r\n");

  // With the properties, the generic form, even though an HTML body exists.
  std::string generic = Write(SaveToHTML, m.P(), true);
  EXPECT_EQ(generic.rfind("<html>\r\n<head>\r\n", 0), 0u);
  EXPECT_NE(generic.find("<td>mpcEnvelope</td>"), std::string::npos);
}

TEST_F(CLocale, HtmlBodyFormWithoutCharsetOrBodyTag) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0037001F, W(u"S"));
  TMSGProperty* html = p.AddProperty(0x1013001F, W(u"<p>caf\u00e9</p>"));
  EXPECT_EQ(Write(SaveToHTML, p, false),
            "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><body>"
            "<p><b>From:</b> </p>\r\n<p><b>To:</b> </p>\r\n<p><b>Subject:</b> S</p>\r\n"
            "<p><b>Body:</b><br> <p>caf\xc3\xa9</p></body></html>\r\n");
  // A declaration but no body tag, or a body tag whose ">" ends the text: written as it is.
  for (const std::u16string& text : {std::u16string(u"<meta charset=\"utf-8\"><p>x</p>"),
                                     std::u16string(u"charset=utf-8 <body>")}) {
    html->Value = W(text);
    EXPECT_EQ(Write(SaveToHTML, p, false), U8(text) + "\r\n");
  }
}

TEST_F(CLocale, HtmlBodyDeclaredInAnotherCharsetIsDeclaredAsWritten) {
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x1013001F,
                W(u"<html><head><META http-equiv=Content-Type content='text/html; "
                  u"charset=windows-1251'></head><body>\u0430\u0431\u0432</body></html>"));
  std::string html = Write(SaveToHTML, p, false);
  EXPECT_NE(html.find("content='text/html; charset=utf-8'"), std::string::npos) << html;
  EXPECT_EQ(html.find("1251"), std::string::npos);
  EXPECT_NE(html.find("<body><p><b>From:</b>"), std::string::npos);
  EXPECT_NE(html.find(U8(u"\u0430\u0431\u0432</body></html>")), std::string::npos);
}

// --- XML ---

TEST(Writers, XmlSummaryAndSiblingSubProperties) {
  SampleMessage m;
  TMSGProperties& p = m.P();
  TMSGProperty* last = p.AddProperty(0x0E070003, TVariant::FromInteger(1));
  last->SubProperties().AddProperty(0x3001001E, A("x<y&z"));
  std::string xml = Write(SaveToXML, p, true);
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n"
                      "<!-- " +
                          GeneratorText() +
                          " -->\r\n"
                          "<DATAPACKET Version=\"2.0\">\r\n<MESSAGE>\r\n<GENERAL>\r\n"
                          "  <FROM>&quot;Ann Example&quot; &lt;ann@example.org&gt;</FROM>\r\n"
                          "  <TO>Bob &lt;bob@example.org&gt;</TO>\r\n"
                          "  <SUBJECT>" +
                          U8(u"Caf\u00e9") +
                          " &lt;menu&gt; &amp; &apos;more&apos;</SUBJECT>\r\n"
                          "  <BODY>Line one\r\nLine two</BODY>\r\n"
                          "</GENERAL>\r\n<PROPERTIES>\r\n",
                      0),
            0u)
      << xml;
  const std::string tail = "  <PROPERTY TAGID=\"0x0E070003\">\r\n"
                           "  <CATEGORY>mpcNonTransmittable</CATEGORY>\r\n"
                           "  <VALUE><![CDATA[1]]></VALUE>\r\n"
                           "  </PROPERTY>\r\n"
                           "  <SUBPROPERTIES>\r\n"
                           "    <PROPERTY TAGID=\"0x3001001E\">\r\n"
                           "    <CATEGORY>mpcMessage</CATEGORY>\r\n"
                           "    <VALUE><![CDATA[x<y&z]]></VALUE>\r\n"
                           "    </PROPERTY>\r\n"
                           "  </SUBPROPERTIES>\r\n"
                           "</PROPERTIES>\r\n"
                           "</MESSAGE></DATAPACKET>\r\n";
  ASSERT_GE(xml.size(), tail.size());
  EXPECT_EQ(xml.substr(xml.size() - tail.size()), tail);
  // The recipient node's sub-properties nest one step.
  EXPECT_NE(xml.find("  <SUBPROPERTIES>\r\n    <PROPERTY TAGID=\"0x3001001F\">"),
            std::string::npos);
}

TEST(Writers, XmlCDataAndSafeText) {
  EXPECT_EQ(XmlCData("plain"), "<![CDATA[plain]]>");
  EXPECT_EQ(XmlCData("a]]>b"), "<![CDATA[a]]]]><![CDATA[>b]]>");
  EXPECT_EQ(XmlCData("]]>]]>"), "<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>");
  EXPECT_EQ(XmlCData(std::string("\x01\0\x1f\t\r\n", 6)), "<![CDATA[%01%00%1F\t\r\n]]>");
  EXPECT_EQ(XmlSafeText("\xef\xbf\xbe|\xef\xbf\xbf|\xef\xbf\xbd"),
            "%EF%BF%BE|%EF%BF%BF|\xef\xbf\xbd");
}

// Parses XML with Python's minidom and prints the texts of the named elements, one per line,
// with line ends shown as \n.
testutil::ProcessResult ParseXml(const std::string& path, const std::string& element) {
  return testutil::RunPython(R"(
import sys, xml.dom.minidom
doc = xml.dom.minidom.parse(sys.argv[1])
for node in doc.getElementsByTagName(sys.argv[2]):
    text = ''.join(c.data for c in node.childNodes if c.nodeType in (c.TEXT_NODE, c.CDATA_SECTION_NODE))
    print(text.replace('\n', '\\n'))
)",
                             {path, element});
}

TEST(Writers, XmlStaysWellFormedAndValuesSurvive) {
  TempDir dir;
  TQvMessage msg;
  TMSGProperties& p = msg.Properties();
  p.AddProperty(0x0037001F, W(u"end]]>of \x01 and \uFFFE"));
  p.AddProperty(0x1000001F, W(std::u16string(u"nul\0bell\x07 ]]> <&>'\"", 19)));
  p.AddProperty(0x3001001F, W(u"]]>"));
  p.AddProperty(0x3002001F, W(u"a\x0b\x0c"
                              u"b"));
  p.AddProperty(0x3003001F, W(u"\U0001F600 \u00e9"));
  SaveToXMLFile(p, dir.File("m.xml"), true);

  testutil::ProcessResult values = ParseXml(dir.File("m.xml"), "VALUE");
  ASSERT_EQ(values.exitCode, 0) << values.err;
  EXPECT_EQ(values.out, "end]]>of %01 and %EF%BF%BE\n"
                        "nul%00bell%07 ]]> <&>'\"\n"
                        "]]>\n"
                        "a%0B%0Cb\n" +
                            U8(u"\U0001F600 \u00e9") + "\n");
  testutil::ProcessResult general = ParseXml(dir.File("m.xml"), "SUBJECT");
  ASSERT_EQ(general.exitCode, 0) << general.err;
  EXPECT_EQ(general.out, "end]]>of %01 and %EF%BF%BE\n");
  general = ParseXml(dir.File("m.xml"), "BODY");
  ASSERT_EQ(general.exitCode, 0) << general.err;
  EXPECT_EQ(general.out, "nul%00bell%07 ]]> <&>'\"\n");
}

// --- The corpus ---

// Every readable message of the corpus with the reader the program would choose for it
// (.mhtml files are web archives like .mht).
std::vector<std::string> CorpusMessages() {
  std::vector<std::string> files;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    std::string name = std::filesystem::path(path).filename().string();
    if (name != "mprs_bad_outlook.msg" && name != "oxmsg_not-a-MSG-file.msg")
      files.push_back(path);
  }
  for (const char* folderAndExtension : {"eml/.eml", "mht/.mht", "mht/.mhtml"}) {
    std::string pattern = folderAndExtension;
    size_t slash = pattern.find('/');
    for (const std::string& path :
         testutil::CorpusFiles(pattern.substr(0, slash), pattern.substr(slash + 1)))
      files.push_back(path);
  }
  return files;
}

std::unique_ptr<TQvMessage> LoadMessage(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::unique_ptr<TQvMessage> msg;
  if (extension == ".eml")
    msg = std::make_unique<TQvEMLFile>();
  else if (extension == ".mht" || extension == ".mhtml")
    msg = std::make_unique<TQvMHTFile>();
  else
    msg = std::make_unique<TQvMSGFile>();
  msg->LoadFromFile(path);
  return msg;
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(CLocale, CorpusReportsAreWellFormedAndComplete) {
  TempDir dir;
  std::vector<std::string> files = CorpusMessages();
  ASSERT_GE(files.size(), 70u);
  std::string xmlList, htmlOnly;
  int htmlBodyForms = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    std::unique_ptr<TQvMessage> msg = LoadMessage(files[i]);
    const TMSGProperties& p = msg->Properties();
    std::string base = dir.File(std::to_string(i));
    for (bool withProperties : {false, true}) {
      std::string suffix = withProperties ? "-p" : "";
      SaveToXMLFile(p, base + suffix + ".xml", withProperties);
      xmlList += base + suffix + ".xml\n";
      std::string text = Write(SaveToTXT, p, withProperties);
      // Printable text only: binary values as hex, control characters escaped.
      const std::string subject = U8(p.GetSubject()), body = U8(p.GetBody());
      const auto control = [](unsigned char c) {
        return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
      };
      const auto printable = [&](const std::string& t) {
        return std::none_of(t.begin(), t.end(), control) && t.find("\xC2\x80") == t.npos &&
               t.find("\xC2\x9F") == t.npos;
      };
      EXPECT_TRUE(printable(text));
      if (printable(subject)) {
        EXPECT_NE(text.find("\r\nSubject: " + subject + "\r\n"), std::string::npos);
      }
      if (printable(body)) {
        EXPECT_NE(text.find("\r\nBody: " + body), std::string::npos);
      }
      EXPECT_EQ(text.find("Properties:") != std::string::npos, withProperties);
      if (!withProperties && body.empty() && !p.GetBodyHTML().empty()) {
        std::ofstream(base + ".txt", std::ios::binary) << text;
        std::ofstream(base + ".html", std::ios::binary) << U8(p.GetBodyHTML());
        htmlOnly += base + "\n";
      }

      std::string html = Write(SaveToHTML, p, withProperties);
      std::string htmlBody = U8(p.GetBodyHTML());
      std::string lower = Lower(htmlBody);
      if (!withProperties && !htmlBody.empty() && lower.find("charset=") != std::string::npos &&
          lower.find("<body") != std::string::npos) {
        // The message's HTML, with the summary right after its body tag.
        ++htmlBodyForms;
        size_t close = lower.find('>', lower.find("<body")) + 1;
        std::string written = Lower(html);
        size_t writtenClose = written.find('>', written.find("<body")) + 1;
        EXPECT_EQ(html.compare(writtenClose, 16, "<p><b>From:</b> "), 0)
            << html.substr(0, writtenClose + 40);
        EXPECT_TRUE(html.ends_with(htmlBody.substr(close) + "\r\n"));
        // Whatever the message declared, the file says what it holds.
        size_t declared = written.find("charset=");
        ASSERT_NE(declared, std::string::npos);
        EXPECT_EQ(written.find_first_not_of("\"'\\ ", declared + 8),
                  written.find("utf-8", declared + 8));
      } else if (withProperties || htmlBody.empty()) {
        EXPECT_EQ(html.rfind("<html>\r\n<head>\r\n", 0), 0u);
        EXPECT_TRUE(html.ends_with("</p>\r\n</body>\r\n</html>\r\n"));
      }
    }
  }
  EXPECT_GE(htmlBodyForms, 5);
  // The words that Python's HTML parser finds in the shown part of each HTML-only message are in
  // the body of its text report.
  std::ofstream(dir.File("html-only"), std::ios::binary) << htmlOnly;
  testutil::ProcessResult words = testutil::RunPython(R"(
import sys
from html.parser import HTMLParser
class Words(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.words, self.hidden = [], 0
    def handle_starttag(self, tag, attrs):
        if tag in ('script', 'style', 'head', 'title'): self.hidden += 1
    def handle_endtag(self, tag):
        if tag in ('script', 'style', 'head', 'title') and self.hidden: self.hidden -= 1
    def handle_data(self, data):
        if not self.hidden: self.words += data.split()
checked = missing = 0
for base in open(sys.argv[1]).read().split():
    parser = Words()
    parser.feed(open(base + '.html', encoding='utf-8', errors='replace').read())
    report = open(base + '.txt', encoding='utf-8', errors='replace', newline='').read()
    body = report[report.index('\r\nBody: ') + 8:]
    checked += 1
    for w in parser.words:
        if w not in body and all(ord(c) >= 32 for c in w):
            missing += 1
            print(base, repr(w))
            break
print('checked', checked, 'missing', missing)
)",
                                                      {dir.File("html-only")});
  ASSERT_EQ(words.exitCode, 0) << words.err;
  EXPECT_NE(words.out.find("missing 0\n"), std::string::npos) << words.out;
  EXPECT_EQ(words.out.find("checked 0 "), std::string::npos) << words.out;
  std::ofstream(dir.File("list"), std::ios::binary) << xmlList;
  testutil::ProcessResult r = testutil::RunPython(R"(
import sys, xml.dom.minidom
bad = 0
for path in open(sys.argv[1]).read().split():
    try:
        xml.dom.minidom.parse(path)
    except Exception as e:
        bad += 1
        print(path, e)
print('bad', bad)
)",
                                                  {dir.File("list")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "bad 0\n");
}

// What XML and HTML say of a message is what the accessors say: compare one message's XML
// summary, parsed back, with the accessors.
TEST(Writers, CorpusXmlSummaryRoundTrips) {
  TempDir dir;
  for (const char* name : {"poi_ASCII_CP1251_LCID1049.msg", "kmr_Hello_CJK.msg",
                           "poi_attachment_test_msg.msg", "kmr_nonUnicodeCP932.msg"}) {
    SCOPED_TRACE(name);
    TQvMSGFile msg;
    msg.LoadFromFile(testutil::CorpusPath(std::string("msg/") + name));
    SaveToXMLFile(msg.Properties(), dir.File("m.xml"), false);
    for (const auto& [element, text] :
         {std::pair<const char*, std::u16string>{"SUBJECT", msg.Properties().GetSubject()},
          {"FROM", msg.Properties().GetFrom()},
          {"TO", msg.Properties().GetTo()}}) {
      testutil::ProcessResult r = ParseXml(dir.File("m.xml"), element);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, U8(text) + "\n") << element;
    }
  }
}

} // namespace
} // namespace orlendo
