#include "components/url_policy.h"

#include <QWebEngineUrlScheme>

namespace orlendo {

namespace {

bool IsRemote(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == "http" || scheme == "https";
}

} // namespace

void RegisterMessageScheme() {
  static const bool registered = [] {
    QWebEngineUrlScheme scheme(kMessageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    QWebEngineUrlScheme::registerScheme(scheme);
    return true;
  }();
  (void)registered;
}

TUrlVerdict TMessageContentPolicy::Decide(const TUrlRequest& request) const {
  const QString scheme = request.Url.scheme().toLower();
  if (scheme == "data")
    return {TUrlVerdict::Allow, {}};
  if (scheme == kMessageScheme)
    return {request.Url.host() == currentHost_() ? TUrlVerdict::Allow : TUrlVerdict::Block, {}};
  return {};
}

TUrlVerdict TArchiveLocationPolicy::Decide(const TUrlRequest& request) const {
  if (!IsRemote(request.Url))
    return {};
  const QUrl part = partUrl_(request.Url);
  if (part.isEmpty())
    return {};
  return {TUrlVerdict::Redirect, part};
}

TUrlVerdict TBlockRemoteFontsPolicy::Decide(const TUrlRequest& request) const {
  if (request.Type == QWebEngineUrlRequestInfo::ResourceTypeFontResource)
    return {TUrlVerdict::Block, {}};
  return {};
}

TUrlVerdict TLoadExternalReferencesPolicy::Decide(const TUrlRequest& request) const {
  if (IsRemote(request.Url) && allowed_())
    return {TUrlVerdict::Allow, {}};
  return {};
}

TUrlVerdict TBlockExternalResourcesPolicy::Decide(const TUrlRequest&) const {
  return {TUrlVerdict::Block, {}};
}

TUrlVerdict TMessageUrlInterceptor::Decide(const TUrlRequest& request) const {
  for (const auto& policy : policies_) {
    TUrlVerdict verdict = policy->Decide(request);
    if (verdict.Decision != TUrlVerdict::Undecided)
      return verdict;
  }
  return {TUrlVerdict::Block, {}};
}

void TMessageUrlInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
  const TUrlVerdict verdict = Decide({info.requestUrl(), info.resourceType()});
  switch (verdict.Decision) {
  case TUrlVerdict::Allow:
    break;
  case TUrlVerdict::Redirect:
    info.redirect(verdict.Target);
    break;
  default:
    info.block(true);
    if (info.requestUrl().scheme() != kMessageScheme)
      emit RemoteBlocked(info.requestUrl());
    break;
  }
}

} // namespace orlendo
