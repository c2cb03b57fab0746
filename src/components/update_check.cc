#include "components/update_check.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "app/message_strings.h"
#include "app/update_version.h"
#include "components/qv_ilogon.h"

namespace orlendo {
namespace {

// The version document is a few hundred bytes; anything far larger is not it.
constexpr qint64 kMaxDocumentSize = 1 << 20;
// A proxy that keeps refusing the credentials is asked this often, then the check gives up.
constexpr int kMaxLogonAttempts = 3;

QString Msg(const char* key) {
  return QString::fromStdString(MessageString(key));
}

QString UrlNotOpened(const QString& url, const QString& reason) {
  return QString::fromStdString(
             FormatMessage(MessageString("strURLNotOpened"), url.toStdString())) +
         "\n\n" + reason;
}

// The desktop's proxy configuration, for this manager only (the application-wide factory
// stays as it is).
class SystemProxyFactory : public QNetworkProxyFactory {
public:
  QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
    return systemProxyForQuery(query);
  }
};

// The text of the answer: read in chunks of 1025 bytes, each ending at its first zero byte.
std::string DocumentText(const QByteArray& bytes) {
  std::string text;
  for (qsizetype at = 0; at < bytes.size(); at += 1025) {
    const QByteArray chunk = bytes.mid(at, 1025);
    const qsizetype zero = chunk.indexOf('\0');
    text.append(chunk.constData(), static_cast<size_t>(zero < 0 ? chunk.size() : zero));
  }
  return text;
}

} // namespace

TUpdateOutcome CheckForUpdates(const QString& url, const QString& programVersion,
                               const TUpdateCheckOptions& options) {
  const QUrl address(url);
  if (!address.isValid() || (address.scheme() != "http" && address.scheme() != "https") ||
      address.host().isEmpty())
    return {TUpdateOutcome::Error, UrlNotOpened(url, "Not an http or https address.")};

  QNetworkAccessManager manager;
  manager.setProxyFactory(new SystemProxyFactory);
  QNetworkRequest request(address);
  request.setHeader(QNetworkRequest::UserAgentHeader, "Orlendo");
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setRawHeader("Cache-Control", "no-cache");
  request.setRawHeader("Pragma", "no-cache");
  request.setTransferTimeout(options.StallTimeoutMs);

  int logonAttempts = 0;
  bool logonCancelled = false;
  QObject::connect(&manager, &QNetworkAccessManager::proxyAuthenticationRequired,
                   [&](const QNetworkProxy&, QAuthenticator* authenticator) {
                     if (logonCancelled || logonAttempts >= kMaxLogonAttempts)
                       return; // no credentials: the answer stays the 407
                     ++logonAttempts;
                     QString user, password;
                     const bool confirmed =
                         options.ProxyLogon
                             ? options.ProxyLogon(user, password)
                             : ShowLogonDialog(Msg("strQvInProxyLogon"), user, password);
                     if (!confirmed) {
                       logonCancelled = true;
                       return;
                     }
                     authenticator->setUser(user);
                     authenticator->setPassword(password);
                   });

  QNetworkReply* reply = manager.get(request);
  QEventLoop loop;
  bool tooLong = false, tooLarge = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
    tooLong = true;
    reply->abort();
  });
  QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
    if (received > kMaxDocumentSize) {
      tooLarge = true;
      reply->abort();
    }
  });
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  deadline.start(options.TotalTimeoutMs);
  if (!reply->isFinished())
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  deadline.stop();

  const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  const int status = statusAttr.isValid() ? statusAttr.toInt() : 0;
  const QNetworkReply::NetworkError error = reply->error();
  const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
  const QByteArray body = error == QNetworkReply::NoError ? reply->readAll() : QByteArray();
  const QString errorText = reply->errorString();
  reply->deleteLater();

  if (tooLong)
    return {TUpdateOutcome::Error,
            UrlNotOpened(url, QString("No answer within %1 seconds.")
                                  .arg(options.TotalTimeoutMs / 1000.0, 0, 'g', 3))};
  if (tooLarge)
    return {TUpdateOutcome::Error, UrlNotOpened(url, "The answer is not a version document.")};
  if (status == 404)
    return {TUpdateOutcome::Message, Msg("strRemoteFileNotFound")};
  if (status == 407 || error == QNetworkReply::ProxyAuthenticationRequiredError) {
    if (logonCancelled)
      return {};
    return {TUpdateOutcome::Error, UrlNotOpened(url, "The proxy server refused the logon.")};
  }
  if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
    return {TUpdateOutcome::Error,
            UrlNotOpened(url, QString("No answer within %1 seconds.")
                                  .arg(options.StallTimeoutMs / 1000.0, 0, 'g', 3))};
  // Any other failure, also an error page from the server, is no answer to the question: a
  // page without a version in it must not read as "you use the latest version".
  if (status != 0 && (status < 200 || status > 299))
    return {TUpdateOutcome::Error,
            UrlNotOpened(url, QString("The server answered %1 %2.").arg(status).arg(reason))};
  if (error != QNetworkReply::NoError)
    return {TUpdateOutcome::Error, UrlNotOpened(url, errorText)};

  const std::string text = DocumentText(body);
  if (text.empty())
    return {};
  return {TUpdateOutcome::Message,
          QString::fromStdString(UpdateResultMessage(text, programVersion.toStdString()))};
}

} // namespace orlendo
