#include "shell/window/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <exception>
#include <new>

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

bool Guarded(QWidget* parent, const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::bad_alloc&) {
    ShowMessage(parent, QStringLiteral("Out of memory."));
  } catch (const std::exception& e) {
    ShowMessage(parent, QString::fromUtf8(e.what()));
  } catch (...) {
    ShowMessage(parent, QStringLiteral("Unexpected error."));
  }
  return false;
}

} // namespace orlendo
