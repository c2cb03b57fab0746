// The window module: loaded by quillet only when it opens a window, so that the windowless
// paths never load the Qt libraries.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <string>
#include <vector>

#include "shell/window/main_window.h"

extern "C" __attribute__((visibility("default"))) int quillet_window_main(int argc, char** argv) {
  // The web view's helper processes refuse to start for root with their sandbox on, and the
  // preview would stay blank; the view runs no script and loads nothing remote either way.
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setOrganizationName(QStringLiteral("Norvane"));
  // QApplication has taken its own options (-platform, ...) out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  orlendo::TfrmMain window(args);
  window.show();
  return app.exec();
}
