// Finding and loading the window module (quillet_window.so), the only part of the program that
// links Qt: for a window, and for the windowless runs that write PDF.
#pragma once

#include <string>

namespace orlendo {

// The module beside the program (a build tree), else <prefix>/lib/quillet/quillet_window.so;
// empty when neither exists.
std::string WindowModulePath();

// The entry point name of the module (loaded on first use and kept until the process ends: Qt's
// exit handlers live in it), or null with the reason in error.
using TModuleMain = int (*)(int argc, char** argv);
TModuleMain WindowModuleEntry(const char* name, std::string& error);

} // namespace orlendo
