// The HTML view as a security boundary: what its policies decide, that a hostile message makes no
// request at all until the user asks for remote content, that links leave the view, and that the
// message's own content (inline images, archive parts, large bodies) shows.
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "components/message_content.h"
#include "components/url_policy.h"
#include "preview_util.h"
#include "url_catcher.h"

namespace orlendo {
namespace {

using previewtest::Corpus;
using previewtest::Load;
using previewtest::ShownPanel;
using previewtest::WaitFor;
using RT = QWebEngineUrlRequestInfo;

TEST(UrlPolicies, EachDecidesItsOwnCasesOnly) {
  bool allowed = false;
  TMessageContentPolicy content([] { return QString("m7"); });
  TArchiveLocationPolicy archive([](const QUrl& url) {
    return url.path() == "/saved.png" ? QUrl("quillet-msg://m7/part/2") : QUrl();
  });
  TBlockRemoteFontsPolicy fonts;
  TLoadExternalReferencesPolicy external([&] { return allowed; });
  TBlockExternalResourcesPolicy rest;
  struct Case {
    const TUrlPolicy* policy;
    const char* url;
    RT::ResourceType type;
    bool allowRemote;
    TUrlVerdict::Kind expected;
  };
  const Case cases[] = {
      {&content, "quillet-msg://m7/body", RT::ResourceTypeMainFrame, false, TUrlVerdict::Allow},
      {&content, "quillet-msg://m6/cid/x", RT::ResourceTypeImage, false, TUrlVerdict::Block},
      {&content, "data:image/png;base64,AA==", RT::ResourceTypeImage, false, TUrlVerdict::Allow},
      {&content, "http://127.0.0.1/a.png", RT::ResourceTypeImage, false, TUrlVerdict::Undecided},
      {&archive, "http://example.com/saved.png", RT::ResourceTypeImage, false,
       TUrlVerdict::Redirect},
      {&archive, "http://example.com/other.png", RT::ResourceTypeImage, false,
       TUrlVerdict::Undecided},
      {&archive, "file:///saved.png", RT::ResourceTypeImage, false, TUrlVerdict::Undecided},
      {&fonts, "https://fonts.example/f.woff", RT::ResourceTypeFontResource, true,
       TUrlVerdict::Block},
      {&fonts, "https://example/a.css", RT::ResourceTypeStylesheet, true, TUrlVerdict::Undecided},
      {&external, "https://example/a.png", RT::ResourceTypeImage, false, TUrlVerdict::Undecided},
      {&external, "https://example/a.png", RT::ResourceTypeImage, true, TUrlVerdict::Allow},
      {&external, "file:///etc/passwd", RT::ResourceTypeImage, true, TUrlVerdict::Undecided},
      {&rest, "ftp://example/x", RT::ResourceTypeImage, true, TUrlVerdict::Block},
  };
  for (const Case& c : cases) {
    allowed = c.allowRemote;
    const TUrlVerdict verdict = c.policy->Decide({QUrl(c.url), c.type});
    EXPECT_EQ(verdict.Decision, c.expected) << c.url;
  }
}

TEST(HtmlDocument, FragmentsAreWrappedWithATrueCharset) {
  struct Case {
    std::string charset;
    std::u16string html;
    const char* bytes;
    const char* declared;
  };
  const Case cases[] = {
      {"windows-1251", u"<p>\u041f</p>",
       "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
       "<body><p>\xCF</p></body></html>",
       "windows-1251"},
      // The charset cannot hold the text: UTF-8 is declared and used.
      {"iso-8859-1", u"\u4e2d",
       "<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
       "<body>\xE4\xB8\xAD</body></html>",
       "utf-8"},
      // Complete documents keep their markup.
      {"windows-1251", u"<HTML><body>\u041f</body></HTML>", "<HTML><body>\xD0\x9F</body></HTML>",
       "utf-8"},
      {"windows-1251", u"<!doctype html><p>x", "<!doctype html><p>x", "utf-8"},
      {"windows-1251", u"<meta charset=koi8-r><p>x", "<meta charset=koi8-r><p>x", "utf-8"},
  };
  for (const Case& c : cases) {
    const THtmlDocument doc = MakeHtmlDocument(c.charset, c.html);
    EXPECT_EQ(doc.Bytes.toStdString(), c.bytes);
    EXPECT_EQ(doc.Charset.toStdString(), c.declared);
  }
  EXPECT_EQ(RewriteContentIdReferences("<img src=\"cid:a@b\"><img src=cid:c>"
                                       "<p style='background:url(cid:d)'>cid:text</p>",
                                       "quillet-msg://m1/"),
            "<img src=\"quillet-msg://m1/cid/a@b\"><img src=quillet-msg://m1/cid/c>"
            "<p style='background:url(quillet-msg://m1/cid/d)'>cid:text</p>");
}

// A web server on 127.0.0.1 that counts the requests it gets.
class CountingServer {
public:
  CountingServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          const QByteArray request = socket->readAll();
          if (request.startsWith("GET") || request.startsWith("POST")) {
            Requests << QString::fromLatin1(request.left(request.indexOf('\r')));
            socket->write(
                "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
          }
        });
      }
    });
  }
  QString Base() const { return "http://127.0.0.1:" + QString::number(server_.serverPort()); }
  QStringList Requests;

private:
  QTcpServer server_;
};

std::string WriteEml(const std::string& name, const QString& html) {
  const std::string path = testing::TempDir() + name;
  std::ofstream out(path, std::ios::binary);
  out << "From: Sender <sender@example.com>\r\nTo: reader@example.com\r\nSubject: " << name
      << "\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
      << html.toStdString();
  return path;
}

TEST(HtmlPrivacy, NothingRemoteLoadsUntilTheUserAsksAndScriptsNeverRun) {
  CountingServer server;
  const QString b = server.Base();
  const QString html = "<html><head><title>untouched</title>"
                       "<meta http-equiv=\"refresh\" content=\"0; url=" +
                       b +
                       "/refresh\">"
                       "<link rel=\"stylesheet\" href=\"" +
                       b +
                       "/style.css\">"
                       "<script src=\"" +
                       b +
                       "/script.js\"></script>"
                       "<script>document.title = 'script ran'; new Image().src = '" +
                       b +
                       "/from-script';</script>"
                       "<style>body { background: url(" +
                       b +
                       "/background.png) }"
                       "@font-face { font-family: remote; src: url(" +
                       b +
                       "/font.woff) }"
                       "p { font-family: remote }</style></head><body>"
                       "<img src=\"" +
                       b +
                       "/image.png\" width=\"40\" height=\"40\">"
                       "<img src=\"" +
                       b +
                       "/pixel.gif?id=reader\" width=\"1\" height=\"1\">"
                       "<iframe src=\"" +
                       b +
                       "/frame.html\"></iframe>"
                       "<form action=\"" +
                       b +
                       "/form\"><input name=\"q\" value=\"1\"></form>"
                       "<p>Hello</p></body></html>";
  auto message = Load(WriteEml("privacy.eml", html));
  ShownPanel shown;
  ASSERT_TRUE(shown.Display(message->Properties()));
  // Long enough for the refresh, the frame and the images to have been asked for.
  WaitFor([] { return false; }, 1500);
  EXPECT_TRUE(server.Requests.isEmpty()) << server.Requests.join(", ").toStdString();
  EXPECT_EQ(shown.Js("document.title").toString(), "untouched");
  EXPECT_EQ(shown.Js("document.querySelectorAll('p').length").toInt(), 1);
  THtmlView* view = shown.panel.wbHTMLBody;
  EXPECT_TRUE(view->RemoteContentBlocked());
  EXPECT_TRUE(view->Bar()->isVisible());

  // The user's click loads remote content for this message, still without scripts or fonts.
  auto* button = view->Bar()->findChild<QPushButton*>("btnLoadRemoteContent");
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_TRUE(WaitFor([&] { return server.Requests.size() >= 2; }));
  WaitFor([] { return false; }, 500);
  const QString seen = server.Requests.join(", ");
  EXPECT_TRUE(seen.contains("/image.png")) << seen.toStdString();
  EXPECT_FALSE(seen.contains("/from-script")) << seen.toStdString();
  EXPECT_FALSE(seen.contains("/script.js")) << seen.toStdString();
  EXPECT_FALSE(seen.contains("/font.woff")) << seen.toStdString();
  EXPECT_EQ(shown.Js("document.title").toString(), "untouched");

  // The next message starts blocked again.
  server.Requests.clear();
  auto next = Load(WriteEml("privacy2.eml", "<p><img src=\"" + b + "/second.png\"></p>"));
  ASSERT_TRUE(shown.Display(next->Properties()));
  WaitFor([] { return false; }, 800);
  EXPECT_TRUE(server.Requests.isEmpty()) << server.Requests.join(", ").toStdString();
  EXPECT_FALSE(view->RemoteContentAllowed());
}

TEST(HtmlLinks, AClickedLinkGoesToTheSystemBrowserAndTheViewStays) {
  auto message = Load(WriteEml(
      "links.eml", "<html><body style=\"margin:0\"><a href=\"https://example.com/page\" "
                   "style=\"display:block;width:300px;height:100px\">go</a></body></html>"));
  ShownPanel shown;
  ASSERT_TRUE(shown.Display(message->Properties()));
  ASSERT_TRUE(shown.panel.pcBody->isTabVisible(TfrmMessage::kHtmlTab));
  previewtest::UrlCatcher catcher({"http", "https"});
  QWebEngineView* view = shown.panel.wbHTMLBody->View();
  const QUrl before = view->url();
  // A real mouse click on the link, which fills the page's top left corner.
  QWidget* surface = view->focusProxy() != nullptr ? view->focusProxy() : view;

  // On a loaded machine the first click can reach the page before its compositor has the
  // link on screen; a user would click again, and so does the test.
  for (int attempt = 0; attempt < 5 && catcher.Urls.isEmpty(); ++attempt) {
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(60, 40));
    WaitFor([&] { return !catcher.Urls.isEmpty(); }, 2000);
  }
  ASSERT_FALSE(catcher.Urls.isEmpty());
  EXPECT_EQ(catcher.Urls[0], QUrl("https://example.com/page"));
  WaitFor([] { return false; }, 300);
  EXPECT_EQ(view->url(), before);
}

struct InlineCase {
  const char* file;
  int minImages; // images of the message's own that must show
};

TEST(HtmlInline, ImagesOfTheMessageShowWithTheirNaturalSizes) {
  const InlineCase cases[] = {
      {"msg/poi_attachment_msg_inlineImg.msg", 4},
      {"msg/mrdr_EmailWithAttachments.msg", 1},
      {"msg/poi_example_received_regular.msg", 1},
      // A web archive whose parts are named by the addresses they were saved from.
      {"mht/testim_hn.mhtml", 2},
  };
  for (const InlineCase& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = Corpus(c.file);
    if (path.ends_with(".mhtml")) {
      // The program reads web archives by the extension .mht.
      const std::string copy = testing::TempDir() + "archive.mht";
      std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
      path = copy;
    }
    auto message = Load(path);
    ShownPanel shown;
    ASSERT_TRUE(shown.Display(message->Properties()));
    ASSERT_TRUE(shown.panel.pcBody->isTabVisible(TfrmMessage::kHtmlTab));
    // Images finish after the document; wait for them.
    const QString js = "Array.from(document.images).filter(i => i.complete && i.naturalWidth > 0)"
                       ".map(i => i.naturalWidth + 'x' + i.naturalHeight).join(' ')";
    QString sizes;
    WaitFor(
        [&] {
          sizes = shown.Js(js).toString();
          return sizes.split(' ', Qt::SkipEmptyParts).size() >= c.minImages;
        },
        10000);
    EXPECT_GE(sizes.split(' ', Qt::SkipEmptyParts).size(), c.minImages) << sizes.toStdString();
  }
}

TEST(HtmlLarge, BodiesBeyondTwoMegabytesShow) {
  QString html = "<html><body><p id=\"first\">start</p>";
  const QString filler = "<p>" + QString(1000, 'x') + "</p>";
  while (html.size() < 3 * 1024 * 1024)
    html += filler;
  html += "<p id=\"last\">end</p></body></html>";
  auto message = Load(WriteEml("large.eml", html));
  ShownPanel shown;
  ASSERT_TRUE(shown.Display(message->Properties()));
  EXPECT_EQ(shown.Js("document.getElementById('last') ? 'end' : 'missing'").toString(), "end");
}

} // namespace
} // namespace orlendo
