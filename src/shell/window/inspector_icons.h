// The icons of the property and structure trees, compiled into the program (inspectors.qrc).
#pragma once

#include <QIcon>
#include <QString>

namespace orlendo {

// The icon resources/icons/inspect/<name>.svg.
QIcon InspectorIcon(const QString& name);

} // namespace orlendo
