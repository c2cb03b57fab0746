// The window module: loaded by quillet only when it opens a window, so that the windowless
// paths never load the Qt libraries.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "components/pdf_renderer.h"
#include "shell/command_line.h"
#include "shell/window/desktop.h"
#include "shell/window/main_window.h"

namespace {

// The last line of defence: the window's handlers catch at its boundary, and whatever still
// escapes one is shown here instead of ending the program through Qt's event loop.
class TApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      orlendo::ShowMessage(activeWindow(), QString::fromUtf8(e.what()));
    } catch (...) {
      orlendo::ShowMessage(activeWindow(), QStringLiteral("Unexpected error."));
    }
    return false;
  }
};

} // namespace

extern "C" __attribute__((visibility("default"))) int quillet_window_main(int argc, char** argv) {
  // The web view's helper processes refuse to start for root with their sandbox on, and the
  // preview would stay blank; the view runs no script and loads nothing remote either way.
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  TApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setOrganizationName(QStringLiteral("Norvane"));
  // Save As and Convert files... write PDF through it.
  orlendo::InstallPdfRenderer();
  // QApplication has taken its own options (-platform, ...) out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  orlendo::TfrmMain window(args);
  window.show();
  return app.exec();
}

// A windowless run that writes PDF (FILE /E pdf, --convert --to pdf): the run itself goes on a
// thread of its own, exactly as quillet would run it, while this thread serves the web engine
// and Qt's PDF writer, which live on the application's thread. No window is ever shown, so the
// offscreen platform serves whatever display there is or is not.
extern "C" __attribute__((visibility("default"))) int quillet_pdf_main(int argc, char** argv) {
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The run's arguments are the run's: Qt must take none of them for its own.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  // What Qt and the web engine say about themselves (no GPU offscreen, no sandbox as root, no
  // runtime folder) is no news to whoever converts a file; the run's own errors go to stderr
  // as always.
  if (qEnvironmentVariableIsEmpty("QUILLET_QT_MESSAGES"))
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
  TApplication app(qtArgc, qtArgv);
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setOrganizationName(QStringLiteral("Norvane"));
  orlendo::TPdfRenderer* renderer = orlendo::InstallPdfRenderer();
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = 2;
  std::thread run([&] {
    status = orlendo::RunWindowless(args, stdout, stderr);
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  run.join();
  // The page and its profile go while the web engine is still there.
  delete renderer;
  return status;
}
