// Stands in for the system's handler of a URL scheme while a test runs: records what the program
// asked QDesktopServices to open.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace orlendo::previewtest {

class UrlCatcher : public QObject {
  Q_OBJECT
public:
  explicit UrlCatcher(const QStringList& schemes);
  ~UrlCatcher() override;
  QList<QUrl> Urls;

public slots:
  void Open(const QUrl& url) { Urls << url; }

private:
  QStringList schemes_;
};

} // namespace orlendo::previewtest
