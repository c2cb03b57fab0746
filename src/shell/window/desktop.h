// The window's ways out to the desktop: message boxes, the system browser and mail client, the
// system beep. Each goes through a replaceable hook, so that tests see what the window would
// show or open without a modal box or a browser starting.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace orlendo {

struct TDesktopHooks {
  // A plain message box with text, no title prefix.
  std::function<void(QWidget* parent, const QString& text)> ShowMessage;
  // The shell's "open" verb: a file, a web address or a "mailto:" address.
  std::function<void(const QUrl& url)> OpenUrl;
  std::function<void()> Beep;
  // A confirmation box with text and the buttons Yes and No; true for Yes.
  std::function<bool(QWidget* parent, const QString& text)> Confirm;
};

// The hooks in use; they start as the real message box, QDesktopServices and the system beep.
TDesktopHooks& DesktopHooks();

inline void ShowMessage(QWidget* parent, const QString& text) {
  DesktopHooks().ShowMessage(parent, text);
}
inline void OpenUrl(const QUrl& url) {
  DesktopHooks().OpenUrl(url);
}
inline bool Confirm(QWidget* parent, const QString& text) {
  return DesktopHooks().Confirm(parent, text);
}

// Runs a handler of the window (a command, key, drop or timer, or one call into the core) at the
// window's boundary: whatever it throws is shown in a message box and goes no further, so that
// nothing reaches Qt's event loop and the window stays usable. True when it ran to its end.
bool Guarded(QWidget* parent, const std::function<void()>& handler);

} // namespace orlendo
