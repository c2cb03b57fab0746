// Every dialog is translated just before it is shown. The dialogs of the components do not
// know the translation, which lives with the main window: the window installs it here, and a
// dialog calls PrepareForm before it shows itself.
#pragma once

#include <functional>

class QWidget;

namespace orlendo {

// The hook the window installs (none at first: the built-in English stays).
std::function<void(QWidget* form)>& FormPreparation();

inline void PrepareForm(QWidget* form) {
  if (FormPreparation())
    FormPreparation()(form);
}

} // namespace orlendo
