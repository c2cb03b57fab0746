#include "text/rtf_render.h"

#include <gtest/gtest.h>

#include <string>

#include "text/base64.h"

namespace orlendo {
namespace {

const std::string kP = "<p style=\"margin:0pt 0pt 0pt 0pt\">";
const std::string kUl = "<ul style=\"margin-top:0;margin-bottom:0\">";
const std::string kOl = "<ol style=\"margin-top:0;margin-bottom:0\"";
const std::string kTable =
    "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" style=\"border-collapse:collapse\">";
const std::string kTab = "<span style=\"white-space:pre\">\t</span>";

std::string Doc(const std::string& body, const std::string& header = "") {
  return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}"
         "{\\f1\\fmodern Courier New;}{\\f2\\fnil\\fcharset2 Symbol;}}"
         "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}" +
         header + "\\pard\\plain " + body + "}";
}

// What the document shows: the content of its body element.
std::string Body(const std::string& html) {
  const std::size_t open = html.find("<body");
  const std::size_t start = html.find('>', open) + 1;
  const std::size_t end = html.rfind("</body>");
  if (open == std::string::npos || end == std::string::npos || end < start)
    return "(not a document: " + html + ")";
  return html.substr(start, end - start);
}

std::string Render(const std::string& body, const std::string& header = "") {
  return Body(RtfToHtml(Doc(body, header)));
}

std::string RenderByteByByte(const std::string& rtf) {
  RtfHtmlRenderer renderer;
  for (char c : rtf)
    renderer.Write(std::string_view(&c, 1));
  return renderer.Finish();
}

TEST(RtfRender, IsACompleteUtf8Document) {
  const std::string html = RtfToHtml(Doc("x\\par"));
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
  // The body takes the default font.
  EXPECT_NE(html.find("<body style=\"font-family:'Arial',sans-serif;font-size:12pt\">"),
            std::string::npos);
  EXPECT_EQ(html.substr(html.size() - 15), "</body></html>\n");
  // Not RTF at all: still a document, with the text.
  EXPECT_EQ(Body(RtfToHtml("plain words")), "");
  EXPECT_EQ(Body(RtfToHtml("{plain words}")), kP + "plain words</p>");
}

TEST(RtfRender, ThePageColourOfTheBackgroundShape) {
  // Text coloured for a dark page stays readable: the page keeps its colour.
  const auto page = [](const std::string& properties) {
    const std::string html =
        RtfToHtml(Doc("{\\cf1 white}\\par",
                      "{\\*\\background {\\shp{\\*\\shpinst\\shpleft0" + properties + "}}}"));
    const std::size_t open = html.find("<body style=\"");
    return html.substr(open + 13, html.find('"', open + 13) - open - 13);
  };
  const std::string font = "font-family:'Arial',sans-serif;font-size:12pt";
  const struct {
    const char* properties;
    std::string style;
  } cases[] = {
      // Colours are 0xBBGGRR.
      {"{\\sp{\\sn fillColor}{\\sv 2315831}}", font + ";background-color:#375623"},
      {"{\\sp{\\sn fillType}{\\sv 6}}{\\sp{\\sn fillColor}{\\sv 255}}"
       "{\\sp{\\sn fillBackColor}{\\sv 2315831}}",
       font + ";background-color:#ff0000;background-image:linear-gradient(#ff0000,#375623);"
              "background-attachment:fixed"},
      {"{\\sp{\\sn fillColor}{\\sv 255}}{\\sp{\\sn fFilled}{\\sv 0}}", font},
      // A scheme colour, which only the program that wrote it knows.
      {"{\\sp{\\sn fillColor}{\\sv 134217728}}", font},
      // A picture inside a value is no part of it.
      {"{\\sp{\\sn fillColor}{\\sv {\\pict 0A0B} 65280}}", font + ";background-color:#00ff00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(page(c.properties), c.style) << c.properties;
  // The shape's text is no text of the document.
  EXPECT_EQ(Render("x\\par", "{\\*\\background {\\shp{\\*\\shpinst{\\shptxt hidden}}}}"),
            kP + "x</p>");
}

TEST(RtfRender, ParagraphsBreaksTabsAndSpaces) {
  EXPECT_EQ(Render("one\\par two\\line three\\tab four\\par\\par five"),
            kP + "one</p>" + kP + "two<br>three" + kTab + "four</p>" + kP + "<br></p>" + kP +
                "five</p>");
  // RTF keeps runs of spaces; HTML would fold them.
  // (The first space after \par delimits the word.)
  EXPECT_EQ(Render("a   b\\par   c"), kP + "a &nbsp;&nbsp;b</p>" + kP + "&nbsp;&nbsp;c</p>");
  EXPECT_EQ(Render("\\qc\\li720\\fi-360\\sb120\\sa240 x\\par\\pard\\qr y\\par\\pard\\qj z"),
            "<p style=\"margin:6pt 0pt 12pt 36pt;text-indent:-18pt;text-align:center\">x</p>"
            "<p style=\"margin:0pt 0pt 0pt 0pt;text-align:right\">y</p>"
            "<p style=\"margin:0pt 0pt 0pt 0pt;text-align:justify\">z</p>");
}

TEST(RtfRender, CharacterFormatting) {
  EXPECT_EQ(Render("a{\\b b}{\\i c}{\\ul d}{\\strike e}\\b\\i f\\b0\\i0 g{\\super 2}{\\sub 3}"
                   "{\\uldb h\\ulnone i}"),
            kP + "a<b>b</b><i>c</i><u>d</u><s>e</s><b><i>f</i></b>g<sup>2</sup><sub>3</sub>"
                 "<u>h</u>i</p>");
  EXPECT_EQ(Render("{\\f1\\fs20\\cf1\\highlight2 x}{\\cf0 y}\\b z\\plain w"),
            kP + "<span style=\"font-family:'Courier New',monospace;font-size:10pt;color:#ff0000;"
                 "background-color:#0000ff\">x</span>y<b>z</b>w</p>");
  // Text is text: markup characters are escaped.
  EXPECT_EQ(Render("a<b>&\"c\\{\\}\\\\"), kP + "a&lt;b&gt;&amp;&quot;c{}\\</p>");
}

TEST(RtfRender, TextInTheCodePagesOfTheDocumentAndTheFonts) {
  EXPECT_EQ(Body(RtfToHtml("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\u1080?}")),
            kP + "\xD0\x9F\xD1\x80\xD0\xB8</p>");
  EXPECT_EQ(
      Body(RtfToHtml("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}"
                     "{\\f1\\fcharset128 \\'82\\'6c\\'82\\'72 Gothic;}}"
                     "\\f1\\'93\\'fa\\'96\\'7b\\f0\\'e9}")),
      "<p style=\"margin:0pt 0pt 0pt 0pt\"><span style=\"font-family:'\xEF\xBC\xAD\xEF\xBC\xB3 "
      "Gothic'\">\xE6\x97\xA5\xE6\x9C\xAC</span>\xC3\xA9</p>");
  EXPECT_EQ(Render("\\'93smart\\'94 \\emdash \\~x"),
            kP + "\xE2\x80\x9Csmart\xE2\x80\x9D \xE2\x80\x94\xC2\xA0x</p>");
}

TEST(RtfRender, WhatIsNotTextIsNotShown) {
  EXPECT_EQ(Render("{\\*\\unknown secret}{\\v hidden}{\\info{\\title T}}visible"
                   "{\\header head}{\\stylesheet{\\s1 Normal;}}{\\*\\htmltag84 <p>}"),
            kP + "visible</p>");
  // An encapsulated-HTML body shows its RTF side.
  EXPECT_EQ(Body(RtfToHtml("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag64}\\htmlrtf {\\htmlrtf0 "
                           "Tylko po BCC\\par}}")),
            kP + "Tylko po BCC</p>");
}

TEST(RtfRender, Hyperlinks) {
  EXPECT_EQ(Render("see {\\field{\\*\\fldinst{HYPERLINK \"http://example.com/a?b=1&c=2\" }}"
                   "{\\fldrslt{\\ul\\cf1 site}}} now"),
            kP + "see <a href=\"http://example.com/a?b=1&amp;c=2\"><span style=\"color:#ff0000\">"
                 "<u>site</u></span></a> now</p>");
  EXPECT_EQ(Render("{\\field{\\*\\fldinst HYPERLINK mailto:a@b.example}{\\fldrslt mail}}"),
            kP + "<a href=\"mailto:a@b.example\">mail</a></p>");
  EXPECT_EQ(Render("{\\field{\\*\\fldinst HYPERLINK \\\\l \"top\"}{\\fldrslt up}}"),
            kP + "<a href=\"#top\">up</a></p>");
  // Links that would run a script or open a local file are shown as plain text.
  EXPECT_EQ(Render("{\\field{\\*\\fldinst HYPERLINK \"javascript:alert(1)\"}{\\fldrslt js}}"
                   "{\\field{\\*\\fldinst HYPERLINK \"file:///etc/passwd\"}{\\fldrslt f}}"),
            kP + "jsf</p>");
  // Other fields show their result.
  EXPECT_EQ(Render("{\\field{\\*\\fldinst PAGE}{\\fldrslt 7}}"), kP + "7</p>");
}

TEST(RtfRender, ListsFromTheListTables) {
  const std::string tables =
      "{\\*\\listtable{\\list\\listtemplateid1{\\listlevel\\levelnfc23\\levelstartat1"
      "{\\leveltext\\'01\\'b7;}{\\levelnumbers;}}{\\listlevel\\levelnfc0\\levelstartat1"
      "{\\leveltext\\'02\\'01.;}{\\levelnumbers\\'01;}}\\listid100}"
      "{\\list{\\listlevel\\levelnfc4\\levelstartat3{\\leveltext\\'02\\'00);}}\\listid200}}"
      "{\\*\\listoverridetable{\\listoverride\\listid100\\listoverridecount0\\ls1}"
      "{\\listoverride\\listid200\\listoverridecount0\\ls2}}";
  EXPECT_EQ(
      Render("{\\listtext\\f2\\'b7\\tab}\\ls1 one\\par{\\listtext\\f2\\'b7\\tab}\\ls1 two\\par"
             "{\\listtext 1.\\tab}\\ls1\\ilvl1 sub\\par\\pard{\\listtext c)\\tab}\\ls2 alpha"
             "\\par\\pard after\\par",
             tables),
      kUl + "<li>one</li><li>two" + kOl + "><li>sub</li></ol></li></ul>" + kOl +
          " type=\"a\" start=\"3\"><li>alpha</li></ol>" + kP + "after</p>");
}

TEST(RtfRender, ListsFromParagraphNumbering) {
  EXPECT_EQ(Render("{\\pntext\\f2\\'b7\\tab}{\\*\\pn\\pnlvlblt\\pnf2\\pnindent0{\\pntxtb\\'b7}}"
                   "\\fi-360\\li360 item\\par\\pard{\\pntext 4.\\tab}{\\*\\pn\\pnlvlbody\\pndec"
                   "\\pnstart4{\\pntxta .}}x\\par{\\pntext 5.\\tab}y\\par\\pard plain\\par"),
            kUl + "<li>item</li></ul>" + kOl + " start=\"4\"><li>x</li><li>y</li></ol>" + kP +
                "plain</p>");
  // A number given only as text, with no list behind it, is shown as the text it is.
  EXPECT_EQ(Render("{\\listtext 1.\\tab}first\\par"), kP + "1. first</p>");
}

TEST(RtfRender, SimpleTables) {
  EXPECT_EQ(Render("\\trowd\\cellx1000\\cellx2000\\pard\\intbl a\\cell b\\par c\\cell\\row"
                   "\\trowd\\cellx1000\\cellx2000\\pard\\intbl \\cell{\\b d}\\cell\\row"
                   "\\pard after\\par"),
            kTable +
                "<tr><td>a</td><td>b<br>c</td></tr><tr><td></td><td><b>d</b></td></tr>"
                "</table>" +
                kP + "after</p>");
  // A table at the very end is closed too.
  EXPECT_EQ(Render("\\pard\\intbl x\\cell\\row"), kTable + "<tr><td>x</td></tr></table>");
}

TEST(RtfRender, PicturesBecomeDataUrls) {
  const std::string png = "89504e470d0a1a0a";
  const std::string html =
      Render("{\\pict\\pngblip\\picw10\\pich5\\picwgoal1500\\pichgoal750 " + png + "}x");
  const std::string prefix = kP + "<img src=\"data:image/png;base64,";
  ASSERT_EQ(html.rfind(prefix, 0), 0u) << html;
  const std::size_t end = html.find('"', prefix.size());
  EXPECT_EQ(DecodeBase64(html.substr(prefix.size(), end - prefix.size())), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(html.substr(end), "\" width=\"100\" height=\"50\" alt=\"\">x</p>");

  // The shape picture is shown, its metafile stand-in is not; binary data counts as well.
  const std::string jpeg = Render("{\\*\\shppict{\\pict\\jpegblip\\picscalex50\\picwgoal3000 "
                                  "ffd8ffe0}}{\\nonshppict{\\pict\\wmetafile8 0102}}"
                                  "{\\pict\\pngblip\\bin2 \x01\x02}{\\pict\\emfblip 0102}");
  EXPECT_EQ(jpeg, kP + "<img src=\"data:image/jpeg;base64,/9j/4A==\" width=\"100\" alt=\"\">"
                       "<img src=\"data:image/png;base64,AQI=\" alt=\"\"></p>");
}

TEST(RtfRender, ChunkingDoesNotChangeTheResult) {
  const std::string rtf =
      Doc("{\\b Caf\\'e9} \\u1087?{\\field{\\*\\fldinst HYPERLINK \"http://x/\"}{\\fldrslt x}}"
          "\\par{\\pntext 1.\\tab}{\\*\\pn\\pnlvlbody\\pndec}item\\par\\pard\\intbl c\\cell\\row"
          "{\\pict\\pngblip\\bin3 abc}{\\pict\\pngblip 0a0b}\\pard end");
  EXPECT_EQ(RenderByteByByte(rtf), RtfToHtml(rtf));
}

TEST(RtfRender, HostileInputGivesWhatCanBeRead) {
  const std::string nested =
      Doc("a" + std::string(100000, '{') + "\\b deep" + std::string(100000, '}') + "after");
  EXPECT_EQ(Body(RtfToHtml(nested)), kP + "a<b>deep</b>after</p>");

  EXPECT_EQ(Render("before{\\pict\\pngblip\\bin4294967296 ab"),
            kP + "before<img src=\"data:image/png;base64,YWJ9\" alt=\"\"></p>");
  EXPECT_EQ(Render("before\\bin4294967296 after"), kP + "before</p>");

  const std::string whole = Doc("{\\b bold\\'e9 more}");
  const std::string cut = whole.substr(0, whole.find("bold") + 4);
  EXPECT_EQ(Body(RtfToHtml(cut)), kP + "<b>bold</b></p>");
  EXPECT_EQ(Body(RtfToHtml(cut + "\\'e")), kP + "<b>bold</b></p>");
  EXPECT_EQ(Body(RtfToHtml(cut + "\\'")), kP + "<b>bold</b></p>");
  EXPECT_EQ(Body(RtfToHtml(cut + "\\")), kP + "<b>bold</b></p>");
  // Half a list, half a table, half a link, half a picture: every element is closed.
  EXPECT_EQ(Render("\\intbl{\\field{\\*\\fldinst HYPERLINK \"http://x/\"}{\\fldrslt a"),
            kTable + "<tr><td><a href=\"http://x/\">a</a></td></tr></table>");
  EXPECT_EQ(Render("{\\pntext 1.}{\\*\\pn\\pnlvlbody\\pndec}x{\\pict\\pngblip 0a0"),
            kOl + "><li>x<img src=\"data:image/png;base64,Cg==\" alt=\"\"></li></ol>");
}

} // namespace
} // namespace orlendo
