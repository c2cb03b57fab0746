#include "shell/window/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace orlendo {

TDesktopHooks& DesktopHooks() {
  static TDesktopHooks hooks{
      [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, QStringLiteral("Orlendo"), text);
      },
      [](const QUrl& url) { QDesktopServices::openUrl(url); }, [] { QApplication::beep(); },
      [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, QStringLiteral("Orlendo"), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
      }};
  return hooks;
}

} // namespace orlendo
