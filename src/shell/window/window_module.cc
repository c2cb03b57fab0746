// The window module: loaded by quillet only when it opens a window, so that the windowless
// paths never load the Qt libraries.
#include <QApplication>
#include <string>
#include <vector>

#include "shell/window/main_window.h"

extern "C" __attribute__((visibility("default"))) int quillet_window_main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quillet"));
  QApplication::setOrganizationName(QStringLiteral("Norvane"));
  // QApplication has taken its own options (-platform, ...) out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  orlendo::TfrmMain window(args);
  window.show();
  return app.exec();
}
