#include "components/update_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

#include "app/program_version.h"
#include "components/qv_ilogon.h"

namespace orlendo {
namespace {

// A one-thread HTTP server on 127.0.0.1: every request head goes to the handler, whose answer
// is sent before the connection closes. A null answer keeps the connection silent.
class TestHttpServer : public QTcpServer {
public:
  using Handler = std::function<QByteArray(const QByteArray& head)>;
  explicit TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    EXPECT_TRUE(listen(QHostAddress::LocalHost));
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = nextPendingConnection()) {
        auto* buffer = new QByteArray;
        connect(s, &QTcpSocket::disconnected, s, [s, buffer] {
          delete buffer;
          s->deleteLater();
        });
        connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
          buffer->append(s->readAll());
          const qsizetype end = buffer->indexOf("\r\n\r\n");
          if (end < 0)
            return;
          const QByteArray head = buffer->left(end);
          buffer->remove(0, end + 4);
          heads.push_back(head);
          const QByteArray answer = handler_(head);
          if (answer.isNull())
            return;
          s->write(answer);
          s->disconnectFromHost();
        });
      }
    });
  }
  QString Url(const QString& path = "/msg/quillet.xml") const {
    return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
  }
  std::vector<QByteArray> heads;

private:
  Handler handler_;
};

QByteArray Answer(const QByteArray& status, const QByteArray& body, const QByteArray& extra = {}) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nConnection: close\r\n" + extra +
         "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray VersionDocument(const char* version) {
  return QByteArray("<?xml version=\"1.0\"?>\r\n<Quillet>\r\n<Program_Version>") + version +
         "</Program_Version>\r\n</Quillet>\r\n";
}

// Points the desktop's proxy settings at proxy (or at none) for one test.
class ProxyEnv {
public:
  explicit ProxyEnv(const QString& proxy) {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY", "all_proxy"})
      unsetenv(v);
    if (!proxy.isEmpty())
      setenv("http_proxy", proxy.toUtf8().constData(), 1);
  }
  ~ProxyEnv() { unsetenv("http_proxy"); }
};

TUpdateOutcome Check(const QString& url, int stallMs = 5000) {
  TUpdateCheckOptions options;
  options.StallTimeoutMs = stallMs;
  options.TotalTimeoutMs = 20000;
  options.ProxyLogon = [](QString&, QString&) {
    ADD_FAILURE() << "no proxy logon expected";
    return false;
  };
  return CheckForUpdates(url, kProgramVersion, options);
}

TEST(UpdateCheck, VersionsFromALocalServer) {
  ProxyEnv direct("");
  const char* current = "Your current version is v2.6 (build 471)\n";
  struct Case {
    const char* version;
    bool newer;
  };
  for (const Case& c : {Case{"2.7", true}, Case{"2.6", false}, Case{"10.0", true}}) {
    TestHttpServer server(
        [&](const QByteArray&) { return Answer("200 OK", VersionDocument(c.version)); });
    const TUpdateOutcome r = Check(server.Url());
    ASSERT_EQ(r.kind, TUpdateOutcome::Message) << c.version << ": " << r.Text.toStdString();
    EXPECT_TRUE(r.Text.startsWith(current)) << r.Text.toStdString();
    EXPECT_EQ(r.Text.contains(QString("The new available version is v") + c.version), c.newer)
        << r.Text.toStdString();
    EXPECT_EQ(r.Text.endsWith("You use the latest version. Check for new version later."),
              !c.newer);
    ASSERT_EQ(server.heads.size(), 1u);
    EXPECT_TRUE(server.heads[0].startsWith("GET /msg/quillet.xml HTTP/1.1\r\n"));
    EXPECT_TRUE(server.heads[0].contains("\r\nUser-Agent: Orlendo\r\n"));
  }
}

TEST(UpdateCheck, MissingDocumentErrorsAndSilence) {
  ProxyEnv direct("");
  {
    TestHttpServer server([](const QByteArray&) { return Answer("404 Not Found", "gone"); });
    const TUpdateOutcome r = Check(server.Url());
    EXPECT_EQ(r.kind, TUpdateOutcome::Message);
    EXPECT_EQ(r.Text, "Remote file with version information is not found.");
  }
  {
    TestHttpServer server(
        [](const QByteArray&) { return Answer("500 Internal Server Error", "<html/>"); });
    const TUpdateOutcome r = Check(server.Url());
    EXPECT_EQ(r.kind, TUpdateOutcome::Error);
    EXPECT_TRUE(r.Text.startsWith("Cannot open URL " + server.Url())) << r.Text.toStdString();
    EXPECT_TRUE(r.Text.contains("500")) << r.Text.toStdString();
  }
  {
    TestHttpServer server([](const QByteArray&) { return Answer("200 OK", ""); });
    EXPECT_EQ(Check(server.Url()).kind, TUpdateOutcome::None);
  }
  {
    // A port that nobody listens on any more.
    QString url;
    {
      TestHttpServer gone([](const QByteArray&) { return QByteArray(); });
      url = gone.Url();
    }
    const TUpdateOutcome r = Check(url);
    EXPECT_EQ(r.kind, TUpdateOutcome::Error);
    EXPECT_TRUE(r.Text.startsWith("Cannot open URL " + url + "\n\n")) << r.Text.toStdString();
    EXPECT_GT(r.Text.size(), ("Cannot open URL " + url + "\n\n").size());
  }
  {
    // A server that accepts and never answers: the check gives up instead of hanging.
    TestHttpServer mute([](const QByteArray&) { return QByteArray(); });
    const TUpdateOutcome r = Check(mute.Url(), 300);
    EXPECT_EQ(r.kind, TUpdateOutcome::Error);
    EXPECT_TRUE(r.Text.contains("No answer within 0.3 seconds.")) << r.Text.toStdString();
  }
  EXPECT_EQ(Check("ftp://127.0.0.1/x").kind, TUpdateOutcome::Error);
}

// Finds the logon dialog once it is up and answers it like a user would.
void AnswerLogonDialog(const QString& user, const QString& password, bool confirm, QString* title) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<TfrmQvILogon*>(QApplication::activeModalWidget());
    if (!dialog)
      return;
    poll->stop();
    poll->deleteLater();
    *title = dialog->windowTitle();
    EXPECT_TRUE(dialog->edLogin->text().isEmpty());
    EXPECT_EQ(dialog->edPassword->echoMode(), QLineEdit::Password);
    dialog->edLogin->setText(user);
    dialog->edPassword->setText(password);
    (confirm ? dialog->btnOk : dialog->btnCancel)->click();
  });
  poll->start(10);
}

TEST(UpdateCheck, ProxyDemandingCredentialsIsAnsweredInTheLogonDialog) {
  // The proxy answers for the origin itself once it has the right credentials.
  const QByteArray expected = "Proxy-Authorization: Basic " + QByteArray("ann:s3cret").toBase64();
  TestHttpServer proxy([&](const QByteArray& head) {
    if (!head.contains(expected))
      return Answer("407 Proxy Authentication Required", "",
                    "Proxy-Authenticate: Basic realm=\"test proxy\"\r\n");
    return Answer("200 OK", VersionDocument("2.7"));
  });
  ProxyEnv viaProxy(QString("http://127.0.0.1:%1").arg(proxy.serverPort()));
  const QString url = "http://updates.invalid/msg/quillet.xml";

  QString title;
  AnswerLogonDialog("ann", "s3cret", true, &title);
  TUpdateCheckOptions options;
  options.StallTimeoutMs = 5000;
  TUpdateOutcome r = CheckForUpdates(url, kProgramVersion, options);
  EXPECT_EQ(title, "Proxy Server authorization");
  ASSERT_EQ(r.kind, TUpdateOutcome::Message) << r.Text.toStdString();
  EXPECT_TRUE(r.Text.contains("The new available version is v2.7")) << r.Text.toStdString();
  ASSERT_GE(proxy.heads.size(), 2u);
  EXPECT_TRUE(proxy.heads.front().startsWith("GET " + url.toUtf8() + " HTTP/1.1\r\n"));
  EXPECT_FALSE(proxy.heads.front().contains("Proxy-Authorization"));
  EXPECT_TRUE(proxy.heads.back().contains(expected));

  // Cancelled: nothing is shown.
  proxy.heads.clear();
  AnswerLogonDialog("", "", false, &title);
  r = CheckForUpdates(url, kProgramVersion, options);
  EXPECT_EQ(r.kind, TUpdateOutcome::None) << r.Text.toStdString();

  // Wrong credentials are asked for again a few times, then the check reports the refusal.
  int asked = 0;
  options.ProxyLogon = [&](QString& user, QString& password) {
    ++asked;
    user = "ann";
    password = "wrong";
    return true;
  };
  r = CheckForUpdates(url, kProgramVersion, options);
  EXPECT_EQ(r.kind, TUpdateOutcome::Error);
  EXPECT_TRUE(r.Text.contains("refused the logon")) << r.Text.toStdString();
  EXPECT_GE(asked, 1);
  EXPECT_LE(asked, 3);
}

TEST(LogonDialog, CaptionValuesAndCancel) {
  QString login = "old", password = "pw", title;
  AnswerLogonDialog("x", "y", false, &title);
  // The dialog opens with the given values; AnswerLogonDialog expects an empty login, so give
  // none here.
  login.clear();
  EXPECT_FALSE(ShowLogonDialog("", login, password));
  EXPECT_EQ(title, "Enter Password");
  EXPECT_EQ(login, "");
  EXPECT_EQ(password, "pw");
  AnswerLogonDialog("me", "secret", true, &title);
  EXPECT_TRUE(ShowLogonDialog("Who?", login, password));
  EXPECT_EQ(title, "Who?");
  EXPECT_EQ(login, "me");
  EXPECT_EQ(password, "secret");
}

} // namespace
} // namespace orlendo
