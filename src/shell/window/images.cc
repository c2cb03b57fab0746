#include "shell/window/images.h"

// The pictures are compiled into the static library, whose resource registration the linker
// would drop without a reference from code that runs.
static void InitWindowResources() {
  Q_INIT_RESOURCE(main_window);
}

namespace orlendo {
namespace {

const char* ImageFile(int index) {
  switch (index) {
  case imgOpen:
    return "open";
  case imgExit:
    return "exit";
  case imgHomepage:
    return "homepage";
  case imgSendMail:
    return "mail";
  case imgAbout:
    return "about";
  case imgPreview:
    return "preview";
  case imgSave:
    return "save";
  case imgSaveAttachments:
    return "save_attachments";
  case imgProperties:
    return "properties";
  case imgStructure:
    return "structure";
  case imgHeader:
    return "header";
  case imgFlags:
    return "flags";
  default:
    return nullptr;
  }
}

void EnsureResources() {
  static const bool done = (InitWindowResources(), true);
  (void)done;
}

} // namespace

QIcon MainImage(int index) {
  EnsureResources();
  const char* name = ImageFile(index);
  if (!name)
    return QIcon();
  return QIcon(QStringLiteral(":/quillet/icons/%1.svg").arg(QLatin1String(name)));
}

QString LogoPath() {
  EnsureResources();
  return QStringLiteral(":/quillet/icons/logo.svg");
}

} // namespace orlendo
