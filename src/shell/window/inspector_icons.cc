#include "shell/window/inspector_icons.h"

// A resource file compiled into a static library registers itself only when something calls its
// initialiser; the macro must be used outside any namespace.
static void InitInspectorResources() {
  Q_INIT_RESOURCE(inspectors);
}

namespace orlendo {

QIcon InspectorIcon(const QString& name) {
  static const bool initialised = (InitInspectorResources(), true);
  (void)initialised;
  return QIcon(QStringLiteral(":/icons/inspect/%1.svg").arg(name));
}

} // namespace orlendo
