#include "url_catcher.h"

namespace orlendo::previewtest {

UrlCatcher::UrlCatcher(const QStringList& schemes) : schemes_(schemes) {
  for (const QString& scheme : schemes_)
    QDesktopServices::setUrlHandler(scheme, this, "Open");
}

UrlCatcher::~UrlCatcher() {
  for (const QString& scheme : schemes_)
    QDesktopServices::unsetUrlHandler(scheme);
}

} // namespace orlendo::previewtest
