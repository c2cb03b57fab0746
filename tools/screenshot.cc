// Renders the preview of a message into a PNG file, without a display:
//   screenshot MESSAGE OUT.png [WIDTH HEIGHT [TAB]]
// TAB is "plain", "rtf" or "html" (default: the tab the preview chooses).
#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTabWidget>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "components/html_view.h"
#include "components/msg_panel.h"
#include "components/url_policy.h"
#include "model/qvmsg.h"
#include "shell/command_line.h"
#include "shell/settings.h"

namespace {

void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: screenshot MESSAGE OUT.png [WIDTH HEIGHT [plain|rtf|html]]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  qputenv("QT_QUICK_BACKEND", "software");
  if (qgetenv("QTWEBENGINE_DISABLE_SANDBOX").isEmpty() && geteuid() == 0)
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  orlendo::RegisterMessageScheme();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  const std::string file = argv[1];
  auto message = orlendo::CreateMessageForFile(file);
  try {
    message->LoadFromFile(file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  orlendo::TSettings settings;
  orlendo::TfrmMessage panel(nullptr, &settings);
  panel.resize(argc > 4 ? std::atoi(argv[3]) : 900, argc > 4 ? std::atoi(argv[4]) : 700);
  panel.show();
  QSignalSpy loaded(panel.wbHTMLBody, &orlendo::THtmlView::LoadFinished);
  panel.DisplayMessage(&message->Properties());
  if (argc > 5) {
    const std::string tab = argv[5];
    panel.pcBody->setCurrentIndex(tab == "plain" ? 0 : tab == "rtf" ? 1 : 2);
  }
  if (panel.pcBody->isTabVisible(orlendo::TfrmMessage::kHtmlTab) && loaded.isEmpty())
    loaded.wait(20000);
  Pump(1500); // images and layout after the document
  if (!panel.grab().save(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
