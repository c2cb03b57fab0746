// The HTML view of the preview: a web view that shows one message's HTML with nothing switched on
// that mail does not need (no scripts, plugins, storage, permissions; an off-the-record profile
// of its own), that loads only the message's own content unless the user asks for remote content
// for the message shown, and that hands links to the system browser instead of following them.
#pragma once

#include <QWebEnginePage>
#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QWebEngineProfile;
class QWebEngineSettings;
class QWebEngineView;

namespace orlendo {

class TMSGProperties;
class TMessageSchemeHandler;
class TMessageUrlInterceptor;

// A host of kMessageScheme that no showing in this process has had yet.
QString NextMessageHost();

// Switches off whatever mail does not need: scripts, plugins, storage, remote access of local
// content, unknown schemes, ...; images stay on (the message's own, served under
// kMessageScheme).
void LockDownWebSettings(QWebEngineSettings* settings);

// An off-the-record profile (nothing on disk) with locked-down settings, refusing cookies, and
// serving kMessageScheme with handler.
QWebEngineProfile* NewMessageProfile(QObject* parent, TMessageSchemeHandler* handler);

// The policies every message page obeys, in order: the message's own content, archive
// locations, no remote fonts, remote content only when allowRemote says so, nothing else.
// handler must outlive the interceptor.
TMessageUrlInterceptor* NewMessageInterceptor(QObject* parent, const TMessageSchemeHandler* handler,
                                              std::function<bool()> allowRemote);

// The page: navigations other than the message's own document are refused; a clicked link (or a
// form, or a link meant for a new window) goes to the system browser when it is a web or mail
// address and nowhere otherwise.
class TMessagePage : public QWebEnginePage {
  Q_OBJECT
public:
  TMessagePage(QWebEngineProfile* profile, QObject* parent);
  QString CurrentHost;

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
};

// Hands url to the system's handler (QDesktopServices) when it is an http, https or mailto
// address; anything else is dropped.
void OpenExternalLink(const QUrl& url);

class THtmlView : public QWidget {
  Q_OBJECT
public:
  explicit THtmlView(QWidget* parent = nullptr);
  ~THtmlView() override;

  // Shows html (already text) as a new showing of level: remote content is blocked again and the
  // bar hidden. charset is the message's, used for a fragment's declaration (MakeHtmlDocument).
  // level must outlive the showing.
  void ShowHtml(const TMSGProperties* level, const std::string& charset,
                const std::u16string& html);
  void Clear();

  // True when something remote was blocked in the current showing (the bar is offered).
  bool RemoteContentBlocked() const { return blocked_; }
  bool RemoteContentAllowed() const { return allowRemote_; }
  // The bar's command: loads the current message again with remote content allowed.
  void LoadRemoteContent();

  QWebEngineView* View() const { return view_; }
  QWidget* Bar() const { return bar_; }

signals:
  void LoadFinished(bool ok);

private:
  void Blocked();

  QWebEngineProfile* profile_ = nullptr;
  TMessagePage* page_ = nullptr;
  TMessageUrlInterceptor* interceptor_ = nullptr;
  TMessageSchemeHandler* handler_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QWidget* bar_ = nullptr;
  QLabel* barText_ = nullptr;
  QPushButton* barButton_ = nullptr;
  bool blocked_ = false;
  bool allowRemote_ = false;
  int showing_ = 0;
};

} // namespace orlendo
