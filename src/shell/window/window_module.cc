// The window module: loaded by quillet only when it opens a window, so that the windowless
// paths never load the Qt libraries.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <exception>
#include <string>
#include <vector>

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
  // QApplication has taken its own options (-platform, ...) out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  orlendo::TfrmMain window(args);
  window.show();
  return app.exec();
}
