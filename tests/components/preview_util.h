// Shared by the preview tests: corpus messages, a shown panel, waiting for the web view.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTabWidget>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <memory>
#include <string>

#include "app/settings.h"
#include "components/html_view.h"
#include "components/msg_panel.h"
#include "model/qvmsg.h"
#include "shell/command_line.h"

namespace orlendo::previewtest {

inline std::string Corpus(const std::string& name) {
  return std::string(ORLENDO_CORPUS_DIR) + "/" + name;
}

inline std::unique_ptr<TQvMessage> Load(const std::string& path) {
  auto message = CreateMessageForFile(path);
  try {
    message->LoadFromFile(path);
  } catch (const std::exception&) {
    // What was read is shown, as the window does.
  }
  return message;
}

// Processes events until done() or the time is up.
template <class F> bool WaitFor(F done, int ms = 15000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// A shown panel; Display waits until the HTML view has loaded when there is HTML.
struct ShownPanel {
  TSettings settings;
  TfrmMessage panel{nullptr, &settings};
  explicit ShownPanel(uint8_t defaultFormat = 0) {
    settings.DefaultFormat = defaultFormat;
    panel.resize(900, 640);
    panel.show();
  }
  bool Display(const TMSGProperties& root) {
    QSignalSpy loaded(panel.wbHTMLBody, &THtmlView::LoadFinished);
    panel.DisplayMessage(&root);
    if (!panel.pcBody->isTabVisible(TfrmMessage::kHtmlTab))
      return true;
    return loaded.count() > 0 || loaded.wait(20000);
  }
  // Evaluates js in the page's application world (which runs even with page scripts off).
  QVariant Js(const QString& js) {
    QVariant result;
    bool done = false;
    panel.wbHTMLBody->View()->page()->runJavaScript(js, QWebEngineScript::ApplicationWorld,
                                                    [&](const QVariant& v) {
                                                      result = v;
                                                      done = true;
                                                    });
    WaitFor([&] { return done; });
    return result;
  }
};

} // namespace orlendo::previewtest
