// What the HTML view may fetch. Mail is hostile input: opening a message must never tell its
// sender that it was read, so nothing leaves the machine unless the user asks for it, for the one
// message shown. Each rule is one small policy with one decision; the interceptor asks them in
// order and the first that decides wins.
#pragma once

#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <functional>
#include <memory>
#include <vector>

namespace orlendo {

// The scheme under which the view loads the message's own content (body, inline images, the
// parts of a web archive). Hosts name one showing of one message: "m<number>".
inline constexpr char kMessageScheme[] = "quillet-msg";

// Makes kMessageScheme known to the web engine. Must run before the first web profile exists;
// later calls do nothing.
void RegisterMessageScheme();

// One request as the policies see it.
struct TUrlRequest {
  QUrl Url;
  QWebEngineUrlRequestInfo::ResourceType Type = QWebEngineUrlRequestInfo::ResourceTypeUnknown;
};

struct TUrlVerdict {
  enum Kind { Undecided, Allow, Block, Redirect };
  Kind Decision = Undecided;
  QUrl Target; // for Redirect
};

class TUrlPolicy {
public:
  virtual ~TUrlPolicy() = default;
  virtual TUrlVerdict Decide(const TUrlRequest& request) const = 0;
};

// The message's own content: the current showing's host of kMessageScheme, and data: URLs.
// Another showing's host (a previous message) is blocked.
class TMessageContentPolicy : public TUrlPolicy {
public:
  explicit TMessageContentPolicy(std::function<QString()> currentHost)
      : currentHost_(std::move(currentHost)) {}
  TUrlVerdict Decide(const TUrlRequest& request) const override;

private:
  std::function<QString()> currentHost_;
};

// A web archive refers to its parts by the addresses they were saved from (Content-Location):
// such an address is served from the message, never fetched.
class TArchiveLocationPolicy : public TUrlPolicy {
public:
  // partUrl: the kMessageScheme address of the part that an absolute address names, or an
  // empty URL when none does.
  explicit TArchiveLocationPolicy(std::function<QUrl(const QUrl&)> partUrl)
      : partUrl_(std::move(partUrl)) {}
  TUrlVerdict Decide(const TUrlRequest& request) const override;

private:
  std::function<QUrl(const QUrl&)> partUrl_;
};

// Remote fonts never load, not even with remote content allowed.
class TBlockRemoteFontsPolicy : public TUrlPolicy {
public:
  TUrlVerdict Decide(const TUrlRequest& request) const override;
};

// Remote content (http and https) once the user asked for it for the message shown.
class TLoadExternalReferencesPolicy : public TUrlPolicy {
public:
  explicit TLoadExternalReferencesPolicy(std::function<bool()> allowed)
      : allowed_(std::move(allowed)) {}
  TUrlVerdict Decide(const TUrlRequest& request) const override;

private:
  std::function<bool()> allowed_;
};

// The default: whatever no earlier policy allowed is blocked.
class TBlockExternalResourcesPolicy : public TUrlPolicy {
public:
  TUrlVerdict Decide(const TUrlRequest& request) const override;
};

// Asks the policies in order; a request that none decides is blocked. Reports every blocked
// address that is not the message's own, so the view can offer to load remote content.
class TMessageUrlInterceptor : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT
public:
  explicit TMessageUrlInterceptor(QObject* parent = nullptr)
      : QWebEngineUrlRequestInterceptor(parent) {}
  void Add(std::unique_ptr<TUrlPolicy> policy) { policies_.push_back(std::move(policy)); }
  TUrlVerdict Decide(const TUrlRequest& request) const;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

signals:
  void RemoteBlocked(const QUrl& url);

private:
  std::vector<std::unique_ptr<TUrlPolicy>> policies_;
};

} // namespace orlendo
