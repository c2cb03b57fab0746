#include "shell/window/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace orlendo {

TDesktopHooks& DesktopHooks() {
  static TDesktopHooks hooks{[](QWidget* parent, const QString& text) {
                               QMessageBox::information(parent, QStringLiteral("Orlendo"), text);
                             },
                             [](const QUrl& url) { QDesktopServices::openUrl(url); },
                             [] { QApplication::beep(); }};
  return hooks;
}

} // namespace orlendo
