// Making the PDF of a message (TPrintDocument): an HTML body through a web page of its own that
// nothing shows (the preview's profile, policies and content handler: nothing remote is ever
// loaded), anything else through Qt's PDF writer. The web engine lives on the application's
// thread and does one thing at a time, so the renderer takes one message after another there;
// other threads hand their messages over and wait. Every message ends within the time limit,
// with the PDF or with an error.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPageLayout>
#include <deque>
#include <memory>
#include <string>

class QWebEnginePage;
class QWebEngineProfile;
class QTimer;

namespace orlendo {

class TMSGProperties;
class TMessageSchemeHandler;
class TMessageUrlInterceptor;
class TMessagePage;

class TPdfRenderer : public QObject {
  Q_OBJECT
public:
  // Made on the application's thread; the web engine is started with the first HTML body.
  explicit TPdfRenderer(QObject* parent = nullptr);
  ~TPdfRenderer() override;

  // The PDF of level, on pages of layout (LocalePageLayout by default). May be called from any
  // thread: on the application's thread it runs the events until the PDF is made; from another
  // it waits for the application's thread to make it, which must be running its event loop.
  // level must not change until the call returns. Throws EMSGError: the time limit passed, the
  // page could not be loaded or printed, the web engine's process ended.
  QByteArray Render(const TMSGProperties& level) { return Render(level, layout_); }
  QByteArray Render(const TMSGProperties& level, const QPageLayout& layout);
  // Render, written to path (created or replaced).
  void WriteFile(const TMSGProperties& level, const std::string& path);

  void SetPageLayout(const QPageLayout& layout) { layout_ = layout; }
  QPageLayout PageLayout() const { return layout_; }
  // How long one message may take from the start of its rendering (30 s by default).
  void SetTimeLimit(int milliseconds) { timeLimit_ = milliseconds; }

  // The process's renderer (made by InstallPdfRenderer), or null.
  static TPdfRenderer* Instance();

private:
  struct TJob;
  void Enqueue(std::shared_ptr<TJob> job);
  void StartNext();
  void StartHtml();
  void RenderText();
  void Finish(const QByteArray& pdf, const QString& error);
  void PageLoaded(bool ok);
  void EnsurePage();
  void DropPage();

  QPageLayout layout_;
  int timeLimit_ = 30000;
  std::deque<std::shared_ptr<TJob>> queue_;
  std::shared_ptr<TJob> current_;
  quint64 generation_ = 0;
  QTimer* timer_ = nullptr;
  TMessageSchemeHandler* handler_ = nullptr;
  QWebEngineProfile* profile_ = nullptr;
  TMessageUrlInterceptor* interceptor_ = nullptr;
  TMessagePage* page_ = nullptr;
};

// Makes the process's renderer on the application's thread and installs it as the PDF writer
// (app/pdf_output.h) of the converters; it lives until the application object goes.
TPdfRenderer* InstallPdfRenderer();

} // namespace orlendo
