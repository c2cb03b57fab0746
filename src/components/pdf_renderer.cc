#include "components/pdf_renderer.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextFrame>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <condition_variable>
#include <mutex>

#include "app/pdf_output.h"
#include "components/html_view.h"
#include "components/message_content.h"
#include "components/print_document.h"
#include "components/url_policy.h"
#include "model/stream.h"

namespace orlendo {

namespace {

TPdfRenderer* instance = nullptr;

// The text document of an RTF or plain body: it shows what the document itself holds (data:
// images) and never reads a file or an address that the message names.
class TPrintTextDocument : public QTextDocument {
public:
  using QTextDocument::QTextDocument;

protected:
  QVariant loadResource(int type, const QUrl& name) override {
    if (name.scheme() == QLatin1String("data"))
      return QTextDocument::loadResource(type, name);
    return QVariant();
  }
};

} // namespace

struct TPdfRenderer::TJob {
  const TMSGProperties* Level = nullptr;
  QPageLayout Layout;
  TPrintDocument Document;
  QEventLoop* Loop = nullptr; // set when the application's thread waits in it
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
  QByteArray Pdf;
  QString Error;
};

TPdfRenderer::TPdfRenderer(QObject* parent) : QObject(parent), layout_(LocalePageLayout()) {
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, [this] {
    Finish({}, tr("The PDF could not be made within %1 seconds.").arg(timeLimit_ / 1000.0));
    // A page that did not answer in time may never answer: the next message gets a new one.
    DropPage();
  });
}

TPdfRenderer::~TPdfRenderer() {
  if (instance == this) {
    instance = nullptr;
    SetPdfWriter({});
  }
  // Whatever the page still reports now belongs to no message.
  ++generation_;
  for (auto& job : queue_) {
    std::lock_guard<std::mutex> lock(job->Mutex);
    job->Error = tr("The PDF could not be made: the program is ending.");
    job->Finished = true;
    job->Done.notify_all();
  }
  if (current_) {
    std::lock_guard<std::mutex> lock(current_->Mutex);
    current_->Error = tr("The PDF could not be made: the program is ending.");
    current_->Finished = true;
    current_->Done.notify_all();
  }
  // Every page (also one dropped and not yet deleted) before the profile they belong to.
  for (QWebEnginePage* page : findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly))
    delete page;
  page_ = nullptr;
}

TPdfRenderer* TPdfRenderer::Instance() {
  return instance;
}

QByteArray TPdfRenderer::Render(const TMSGProperties& level, const QPageLayout& layout) {
  auto job = std::make_shared<TJob>();
  job->Level = &level;
  job->Layout = layout;
  if (QThread::currentThread() == thread()) {
    QEventLoop loop;
    job->Loop = &loop;
    Enqueue(job);
    if (!job->Finished)
      loop.exec(QEventLoop::ExcludeUserInputEvents);
    job->Loop = nullptr;
  } else {
    QMetaObject::invokeMethod(
        this, [this, job] { Enqueue(job); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(job->Mutex);
    job->Done.wait(lock, [&] { return job->Finished; });
  }
  if (!job->Error.isEmpty())
    throw EMSGError(job->Error.toStdString());
  return job->Pdf;
}

void TPdfRenderer::WriteFile(const TMSGProperties& level, const std::string& path) {
  const QByteArray pdf = Render(level);
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(pdf) != pdf.size() ||
      !file.flush())
    throw EMSGError("Unable to write to " + path);
}

void TPdfRenderer::Enqueue(std::shared_ptr<TJob> job) {
  queue_.push_back(std::move(job));
  if (!current_)
    StartNext();
}

void TPdfRenderer::StartNext() {
  if (current_ || queue_.empty())
    return;
  current_ = std::move(queue_.front());
  queue_.pop_front();
  ++generation_;
  timer_->start(timeLimit_);
  try {
    current_->Document = MakePrintDocument(*current_->Level);
  } catch (const std::exception& e) {
    Finish({}, QString::fromUtf8(e.what()));
    return;
  }
  if (current_->Document.Kind == TPrintDocument::Html)
    StartHtml();
  else
    RenderText();
}

void TPdfRenderer::EnsurePage() {
  if (!profile_) {
    handler_ = new TMessageSchemeHandler(this);
    profile_ = NewMessageProfile(this, handler_);
    // Printing never loads remote content, whatever the preview was allowed.
    interceptor_ = NewMessageInterceptor(this, handler_, [] { return false; });
  }
  if (!page_) {
    page_ = new TMessagePage(profile_, this);
    page_->setUrlRequestInterceptor(interceptor_);
    connect(page_, &QWebEnginePage::loadFinished, this, &TPdfRenderer::PageLoaded);
    connect(page_, &QWebEnginePage::renderProcessTerminated, this, [this] {
      Finish({}, tr("The PDF could not be made: the web engine's process ended."));
      DropPage();
    });
  }
}

void TPdfRenderer::DropPage() {
  if (!page_)
    return;
  page_->disconnect(this);
  page_->deleteLater();
  page_ = nullptr;
}

void TPdfRenderer::StartHtml() {
  EnsurePage();
  const TPrintDocument& doc = current_->Document;
  const QString host = NextMessageHost();
  const QString base = QString::fromLatin1(kMessageScheme) + "://" + host + "/";
  // Word's mail puts its body on a named page (div.WordSection1 {page: WordSection1}), which
  // a printout begins on a new sheet: the header block would stand alone on the first one.
  static const QString kOnePageFlow =
      QStringLiteral("<style>@media print{*{page:auto !important}}</style>");
  const QString html = InsertHeaderBlock(RewriteContentIdReferences(doc.BodyHtml, base),
                                         kOnePageFlow + doc.HeaderHtml);
  handler_->SetContent(host, current_->Level, MakeHtmlDocument(doc.Charset, html.toStdU16String()));
  page_->CurrentHost = host;
  page_->load(QUrl(base + "body"));
}

void TPdfRenderer::PageLoaded(bool ok) {
  if (!current_ || current_->Document.Kind != TPrintDocument::Html || page_ == nullptr ||
      page_->url().host() != handler_->Host())
    return;
  if (!ok) {
    Finish({}, tr("The PDF could not be made: the message's HTML did not load."));
    return;
  }
  const quint64 generation = generation_;
  page_->printToPdf(
      [this, generation](const QByteArray& pdf) {
        if (generation != generation_)
          return;
        if (pdf.isEmpty())
          Finish({}, tr("The PDF could not be made: the web engine printed nothing."));
        else
          Finish(pdf, {});
      },
      current_->Layout);
}

void TPdfRenderer::RenderText() {
  const TPrintDocument& doc = current_->Document;
  QByteArray pdf;
  {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageLayout(current_->Layout);
    writer.setTitle(doc.Title);
    writer.setCreator(QStringLiteral("Orlendo"));
    writer.setResolution(300);
    TPrintTextDocument text;
    text.documentLayout()->setPaintDevice(&writer);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPointSizeF(10);
    text.setDefaultFont(font);
    text.setHtml(InsertHeaderBlock(doc.BodyHtml, doc.HeaderHtml));
    QTextFrameFormat frame = text.rootFrame()->frameFormat();
    frame.setMargin(0);
    text.rootFrame()->setFrameFormat(frame);
    // Laid out for the writer's pages, the document keeps the page's own margins.
    text.setPageSize(current_->Layout.paintRectPixels(writer.resolution()).size());
    text.print(&writer);
  }
  if (pdf.isEmpty())
    Finish({}, tr("The PDF could not be made."));
  else
    Finish(pdf, {});
}

void TPdfRenderer::Finish(const QByteArray& pdf, const QString& error) {
  if (!current_)
    return;
  timer_->stop();
  if (current_->Document.Kind == TPrintDocument::Html && handler_ != nullptr)
    handler_->Clear();
  std::shared_ptr<TJob> job = std::move(current_);
  current_.reset();
  ++generation_;
  {
    std::lock_guard<std::mutex> lock(job->Mutex);
    job->Pdf = pdf;
    job->Error = error;
    job->Finished = true;
    job->Done.notify_all();
  }
  if (job->Loop)
    job->Loop->quit();
  // The next message starts from the event loop, so that a queue of them never deepens the stack.
  if (!queue_.empty())
    QMetaObject::invokeMethod(
        this, [this] { StartNext(); }, Qt::QueuedConnection);
}

TPdfRenderer* InstallPdfRenderer() {
  if (instance)
    return instance;
  instance = new TPdfRenderer(QCoreApplication::instance());
  SetPdfWriter([](const TMSGProperties& level, const std::string& path) {
    TPdfRenderer* renderer = TPdfRenderer::Instance();
    if (!renderer)
      throw EMSGError("PDF output is not available");
    renderer->WriteFile(level, path);
  });
  return instance;
}

} // namespace orlendo
