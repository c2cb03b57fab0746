// The message's own content as the HTML view loads it: the body document (wrapped with a charset
// declaration when it has none) and the parts it refers to (inline images by content id, the
// parts of a web archive by the address or name they were saved under), served under
// kMessageScheme from memory, so nothing is written to disk and no size limit applies.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>
#include <string>

namespace orlendo {

class TMSGProperties;

struct THtmlDocument {
  QByteArray Bytes;
  QByteArray Charset; // what the bytes are in
};

// The body document. A bare fragment (no "charset=", not beginning with "<HTML" or "<!DOCTYPE"
// in any case) is wrapped as
//   <html><meta http-equiv="Content-Type" content="text/html;
//   charset=CHARSET"><body>HTML</body></html>
// and encoded in that charset; when the charset cannot hold the text, UTF-8 is both declared and
// used, so the declaration is always true. A complete document goes out as UTF-8 with its own
// markup unchanged (the reply's content type names UTF-8, which a browser takes over a <meta>).
THtmlDocument MakeHtmlDocument(const std::string& charset, const std::u16string& html);

// Turns every "cid:" reference in attribute values and CSS url() (after a quote, "=", "(" or a
// blank) into base + "cid/" + the id, so that the view asks the scheme handler for it.
QString RewriteContentIdReferences(const QString& html, const QString& base);

// The attachment that a reference names, or -1. For a content id ("cid:" stripped) the key is
// ATTACH_CONTENT_ID, else CONTENT_IDENTIFIER; for any other reference it is
// ATTACH_LONG_FILENAME (which holds a web archive part's Content-Location). Keys are trimmed
// and match when equal to the reference, to "<" reference ">", or, for a reference that is not
// a content id, when they end with it. The first match in index order wins.
int FindInlinePart(const TMSGProperties& level, const QString& reference, bool contentId);

// Serves kMessageScheme for one view: "/body", "/cid/<id>", "/part/<index>", and any other path
// as a reference to a part by name. Requests for another host than the current one fail.
class TMessageSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT
public:
  explicit TMessageSchemeHandler(QObject* parent = nullptr) : QWebEngineUrlSchemeHandler(parent) {}
  // level must outlive the showing (until the next SetContent or Clear).
  void SetContent(const QString& host, const TMSGProperties* level, THtmlDocument document);
  void Clear();
  const QString& Host() const { return host_; }
  // The address of the part that an absolute (remote) address names, or an empty URL.
  QUrl PartUrlForLocation(const QUrl& url) const;
  void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
  QString host_;
  const TMSGProperties* level_ = nullptr;
  THtmlDocument document_;
};

} // namespace orlendo
