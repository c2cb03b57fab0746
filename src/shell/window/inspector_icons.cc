#include "shell/window/inspector_icons.h"

#include <QHash>

// A resource file compiled into a static library registers itself only when something calls its
// initialiser; the macro must be used outside any namespace.
static void InitInspectorResources() {
  Q_INIT_RESOURCE(inspectors);
}

namespace orlendo {

QIcon InspectorIcon(const QString& name) {
  static const bool initialised = (InitInspectorResources(), true);
  (void)initialised;
  // One icon per name: a new icon parses its SVG again, which a tree of thousands of items
  // would do for every item.
  static QHash<QString, QIcon> icons;
  auto it = icons.find(name);
  if (it == icons.end())
    it = icons.insert(name, QIcon(QStringLiteral(":/icons/inspect/%1.svg").arg(name)));
  return *it;
}

} // namespace orlendo
