#include "components/message_content.h"

#include <QBuffer>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestJob>
#include <cstring>

#include "components/url_policy.h"

#include "model/qvmsg.h"
#include "model/stream.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr uint16_t PID_ATTACH_CONTENT_ID = 0x3712;
constexpr uint16_t PID_CONTENT_IDENTIFIER = 0x0008;
constexpr uint16_t PID_ATTACH_LONG_FILENAME = 0x3707;
constexpr uint16_t PID_ATTACH_MIME_TAG = 0x370E;

QString Key(const TMSGProperties& attachment, uint16_t propId) {
  return QString::fromStdU16String(
             attachment.GetPropertyText(static_cast<uint32_t>(propId) << 16, true, true))
      .trimmed();
}

bool StartsWithUpper(const std::u16string& html, const char* prefix) {
  const QString head = QString::fromStdU16String(html.substr(0, std::strlen(prefix)));
  return head.toUpper() == QLatin1String(prefix);
}

} // namespace

THtmlDocument MakeHtmlDocument(const std::string& charset, const std::u16string& html) {
  const bool complete = html.find(u"charset=") != std::u16string::npos ||
                        StartsWithUpper(html, "<HTML") || StartsWithUpper(html, "<!DOCTYPE");
  if (complete)
    return {QByteArray::fromStdString(EncodeUtf8(html)), "utf-8"};
  auto wrap = [&html](const std::string& name) {
    return u"<html><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
           DecodeUtf8(name) + u"\"><body>" + html + u"</body></html>";
  };
  std::string bytes;
  if (!charset.empty() && TryEncodeCharset(charset, wrap(charset), bytes))
    return {QByteArray::fromStdString(bytes), QByteArray::fromStdString(charset)};
  return {QByteArray::fromStdString(EncodeUtf8(wrap("utf-8"))), "utf-8"};
}

QString RewriteContentIdReferences(const QString& html, const QString& base) {
  QString out;
  out.reserve(html.size());
  const QString target = base + "cid/";
  qsizetype from = 0;
  for (;;) {
    const qsizetype at = html.indexOf(QLatin1String("cid:"), from, Qt::CaseInsensitive);
    if (at < 0)
      break;
    const QChar before = at > 0 ? html[at - 1] : QChar(' ');
    out += QStringView(html).mid(from, at - from);
    if (before == '"' || before == '\'' || before == '=' || before == '(' || before.isSpace())
      out += target;
    else
      out += QStringView(html).mid(at, 4);
    from = at + 4;
  }
  out += QStringView(html).mid(from);
  return out;
}

int FindInlinePart(const TMSGProperties& level, const QString& reference, bool contentId) {
  if (reference.isEmpty())
    return -1;
  for (int i = 0; i < level.AttachmentCount(); ++i) {
    const TMSGProperty* node = level.GetAttachment(i);
    if (node == nullptr)
      continue;
    const TMSGProperties& attachment = node->SubProperties();
    QString key;
    if (contentId) {
      key = Key(attachment, PID_ATTACH_CONTENT_ID);
      if (key.isEmpty())
        key = Key(attachment, PID_CONTENT_IDENTIFIER);
    } else {
      key = Key(attachment, PID_ATTACH_LONG_FILENAME);
    }
    if (key.isEmpty())
      continue;
    if (key == reference || key == "<" + reference + ">" || (!contentId && key.endsWith(reference)))
      return i;
  }
  return -1;
}

void TMessageSchemeHandler::SetContent(const QString& host, const TMSGProperties* level,
                                       THtmlDocument document) {
  host_ = host;
  level_ = level;
  document_ = std::move(document);
}

void TMessageSchemeHandler::Clear() {
  host_.clear();
  level_ = nullptr;
  document_ = {};
}

QUrl TMessageSchemeHandler::PartUrlForLocation(const QUrl& url) const {
  if (level_ == nullptr || host_.isEmpty())
    return {};
  const int index = FindInlinePart(*level_, url.toString(), false);
  if (index < 0)
    return {};
  QUrl part;
  part.setScheme(QString::fromLatin1(kMessageScheme));
  part.setHost(host_);
  part.setPath("/part/" + QString::number(index));
  return part;
}

void TMessageSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QUrl url = job->requestUrl();
  if (level_ == nullptr || url.host() != host_) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  const QString path = url.path(QUrl::FullyDecoded);
  auto reply = [job](const QByteArray& type, QByteArray bytes) {
    auto* buffer = new QBuffer(job);
    buffer->setData(std::move(bytes));
    buffer->open(QIODevice::ReadOnly);
    job->reply(type, buffer);
  };
  if (path == "/body") {
    reply("text/html;charset=" + document_.Charset, document_.Bytes);
    return;
  }
  int index = -1;
  if (path.startsWith("/cid/")) {
    index = FindInlinePart(*level_, path.mid(5), true);
  } else if (path.startsWith("/part/")) {
    bool ok = false;
    index = path.mid(6).toInt(&ok);
    if (!ok || level_->GetAttachment(index) == nullptr)
      index = -1;
  } else if (path.size() > 1) {
    index = FindInlinePart(*level_, path.mid(1), false);
  }
  if (index < 0) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  TMemoryStream data;
  level_->SaveAttachmentToStream(index, data);
  const TMSGProperties& attachment = level_->GetAttachment(index)->SubProperties();
  QByteArray type = Key(attachment, PID_ATTACH_MIME_TAG).toLatin1();
  if (type.isEmpty()) {
    const QString name =
        QString::fromStdString(level_->GetAttachment(index)->GetAttachmentFileName(index));
    type = QMimeDatabase()
               .mimeTypeForFileNameAndData(name, QByteArray::fromStdString(data.Data()))
               .name()
               .toLatin1();
  }
  reply(type, QByteArray::fromStdString(data.TakeData()));
}

} // namespace orlendo
