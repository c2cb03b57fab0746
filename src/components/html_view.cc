#include "components/html_view.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <atomic>

#include "components/message_content.h"
#include "components/url_policy.h"

namespace orlendo {

namespace {} // namespace

// Hosts are unique in the process, so that a late request of a closed showing (or of another
// panel, or of a printout) never reaches the content of the current one.
QString NextMessageHost() {
  static std::atomic<int> counter{0};
  return "m" + QString::number(++counter);
}

void LockDownWebSettings(QWebEngineSettings* s) {
  using S = QWebEngineSettings;
  for (S::WebAttribute off : {S::JavascriptEnabled,
                              S::JavascriptCanOpenWindows,
                              S::JavascriptCanAccessClipboard,
                              S::JavascriptCanPaste,
                              S::PluginsEnabled,
                              S::LocalStorageEnabled,
                              S::LocalContentCanAccessRemoteUrls,
                              S::LocalContentCanAccessFileUrls,
                              S::HyperlinkAuditingEnabled,
                              S::WebGLEnabled,
                              S::Accelerated2dCanvasEnabled,
                              S::AutoLoadIconsForPage,
                              S::DnsPrefetchEnabled,
                              S::PdfViewerEnabled,
                              S::ScreenCaptureEnabled,
                              S::FullScreenSupportEnabled,
                              S::AllowRunningInsecureContent,
                              S::AllowGeolocationOnInsecureOrigins,
                              S::AllowWindowActivationFromJavaScript,
                              S::ErrorPageEnabled,
                              S::NavigateOnDropEnabled,
                              S::SpatialNavigationEnabled,
                              S::TouchIconsEnabled,
                              S::FocusOnNavigationEnabled})
    s->setAttribute(off, false);
  s->setAttribute(S::PlaybackRequiresUserGesture, true);
  s->setAttribute(S::WebRTCPublicInterfacesOnly, true);
  s->setAttribute(S::AutoLoadImages, true);
  s->setUnknownUrlSchemePolicy(S::DisallowUnknownUrlSchemes);
}

QWebEngineProfile* NewMessageProfile(QObject* parent, TMessageSchemeHandler* handler) {
  RegisterMessageScheme();
  // Without a storage name the profile is off the record: no cache, cookies or history on disk.
  auto* profile = new QWebEngineProfile(parent);
  profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile->setSpellCheckEnabled(false);
  profile->cookieStore()->setCookieFilter(
      [](const QWebEngineCookieStore::FilterRequest&) { return false; });
  LockDownWebSettings(profile->settings());
  profile->installUrlSchemeHandler(kMessageScheme, handler);
  return profile;
}

TMessageUrlInterceptor* NewMessageInterceptor(QObject* parent, const TMessageSchemeHandler* handler,
                                              std::function<bool()> allowRemote) {
  auto* interceptor = new TMessageUrlInterceptor(parent);
  interceptor->Add(std::make_unique<TMessageContentPolicy>([handler] { return handler->Host(); }));
  interceptor->Add(std::make_unique<TArchiveLocationPolicy>(
      [handler](const QUrl& url) { return handler->PartUrlForLocation(url); }));
  interceptor->Add(std::make_unique<TBlockRemoteFontsPolicy>());
  interceptor->Add(std::make_unique<TLoadExternalReferencesPolicy>(std::move(allowRemote)));
  interceptor->Add(std::make_unique<TBlockExternalResourcesPolicy>());
  return interceptor;
}

void OpenExternalLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  if (scheme == "http" || scheme == "https" || scheme == "mailto")
    QDesktopServices::openUrl(url);
}

TMessagePage::TMessagePage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
  LockDownWebSettings(settings());
  connect(this, &QWebEnginePage::featurePermissionRequested, this,
          [this](const QUrl& origin, Feature feature) {
            setFeaturePermission(origin, feature, PermissionDeniedByUser);
          });
}

bool TMessagePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  const bool followed = type == NavigationTypeLinkClicked || type == NavigationTypeFormSubmitted;
  if (isMainFrame && !followed &&
      ((url.scheme() == kMessageScheme && url.host() == CurrentHost) || url == QUrl("about:blank")))
    return true;
  if (type == NavigationTypeLinkClicked)
    OpenExternalLink(url);
  return false;
}

namespace {

// A link meant for another window ends up in a page that exists only to hear where the link
// leads: it hands the address on and goes away, loading nothing.
class TLinkCatcherPage : public QWebEnginePage {
public:
  TLinkCatcherPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
    LockDownWebSettings(settings());
  }

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (isMainFrame) {
      OpenExternalLink(url);
      deleteLater();
    }
    return false;
  }
};

} // namespace

QWebEnginePage* TMessagePage::createWindow(WebWindowType) {
  return new TLinkCatcherPage(profile(), this);
}

THtmlView::THtmlView(QWidget* parent) : QWidget(parent) {
  handler_ = new TMessageSchemeHandler(this);
  profile_ = NewMessageProfile(this, handler_);
  page_ = new TMessagePage(profile_, this);
  interceptor_ = NewMessageInterceptor(this, handler_, [this] { return allowRemote_; });
  page_->setUrlRequestInterceptor(interceptor_);
  connect(interceptor_, &TMessageUrlInterceptor::RemoteBlocked, this, [this] { Blocked(); });

  bar_ = new QWidget(this);
  bar_->setObjectName("pnlRemoteContent");
  bar_->setAutoFillBackground(true);
  QPalette palette = bar_->palette();
  palette.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xC2));
  palette.setColor(QPalette::WindowText, Qt::black);
  bar_->setPalette(palette);
  auto* barLayout = new QHBoxLayout(bar_);
  barLayout->setContentsMargins(6, 3, 6, 3);
  barText_ =
      new QLabel(tr("Remote content of this message was blocked to protect your privacy."), bar_);
  barText_->setObjectName("lblRemoteContent");
  barButton_ = new QPushButton(tr("Load remote content"), bar_);
  barButton_->setObjectName("btnLoadRemoteContent");
  barLayout->addWidget(barText_, 1);
  barLayout->addWidget(barButton_);
  bar_->hide();
  connect(barButton_, &QPushButton::clicked, this, [this] { LoadRemoteContent(); });

  view_ = new QWebEngineView(this);
  view_->setPage(page_);
  view_->setContextMenuPolicy(Qt::NoContextMenu);
  connect(page_, &QWebEnginePage::loadFinished, this, &THtmlView::LoadFinished);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar_);
  layout->addWidget(view_, 1);
}

THtmlView::~THtmlView() {
  // The page must go before its profile.
  delete view_;
  delete page_;
  view_ = nullptr;
  page_ = nullptr;
}

void THtmlView::ShowHtml(const TMSGProperties* level, const std::string& charset,
                         const std::u16string& html) {
  const QString host = NextMessageHost();
  const QString base = QString::fromLatin1(kMessageScheme) + "://" + host + "/";
  const QString text = RewriteContentIdReferences(QString::fromStdU16String(html), base);
  handler_->SetContent(host, level, MakeHtmlDocument(charset, text.toStdU16String()));
  page_->CurrentHost = host;
  blocked_ = false;
  allowRemote_ = false;
  bar_->hide();
  ++showing_;
  page_->load(QUrl(base + "body"));
}

void THtmlView::Clear() {
  handler_->Clear();
  page_->CurrentHost.clear();
  blocked_ = false;
  allowRemote_ = false;
  bar_->hide();
  page_->load(QUrl("about:blank"));
}

void THtmlView::LoadRemoteContent() {
  if (handler_->Host().isEmpty())
    return;
  allowRemote_ = true;
  bar_->hide();
  page_->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}

void THtmlView::Blocked() {
  if (allowRemote_ || blocked_)
    return;
  blocked_ = true;
  bar_->show();
}

} // namespace orlendo
