// The window tests need one QApplication for the whole run, on the offscreen platform, and a
// settings folder of their own so that no test reads or writes the user's settings.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <cstring>
#include <string>

#include "shell/window/screenshot.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char folder[] = "/tmp/quillet-window-test-XXXXXX";
  if (!mkdtemp(folder))
    return 1;
  setenv("XDG_CONFIG_HOME", folder, 1);
  setenv("XDG_CONFIG_DIRS", folder, 1);
  // The file association writes a desktop entry there.
  setenv("XDG_DATA_HOME", folder, 1);
  // The web view's helper process refuses to start as root with its sandbox on; tests (and CI)
  // run as root, so the sandbox is switched off for this test process only.
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QApplication app(argc, argv);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--screenshot") == 0) {
    const int status =
        orlendo::WriteScreenshots(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                  argc == 5 ? QString::fromLocal8Bit(argv[4]) : QString());
    std::system((std::string("rm -rf '") + folder + "'").c_str());
    return status;
  }
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::string command = std::string("rm -rf '") + folder + "'";
  if (std::system(command.c_str()) != 0)
    return status ? status : 1;
  return status;
}
