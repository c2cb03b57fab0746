// Widgets need an application object before the first test creates one. The tests run on the
// offscreen platform, also when the build lists them (no display is needed there).
#include <QApplication>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // The web view's helper process refuses to start as root with its sandbox on; tests (and CI)
  // run as root, so the sandbox is switched off for this test process only.
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
